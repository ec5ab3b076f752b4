// The HTTP side of the service: the routes of the API and the status page's files, and the
// checks every request passes first (its Host, its Origin, its token, its type and size).
#pragma once

#include <memory>
#include <string>

#include "service/print_service.h"
#include "service/service_settings.h"

namespace httplib {
class Server;
}

namespace zelmo::service {

inline constexpr std::size_t kMaxBody = 64 * 1024;

// Sets up `server`'s routes and limits for the jobs of `jobs`.
void SetUpApi(httplib::Server& server, PrintService& jobs, const ServiceSettings& settings);

// The checks, on their own for tests. Hosts are Host header values ("127.0.0.1:8470").
bool HostAllowed(const std::string& host, const ServiceSettings& settings);
bool OriginAllowed(const std::string& origin, const std::string& host,
                   const ServiceSettings& settings);
bool IdempotencyKeyValid(const std::string& key);
// "Bearer TOKEN", compared without telling by its time how much of it was right.
bool BearerMatches(const std::string& authorization, const std::string& token);

}  // namespace zelmo::service
