// The status page for the till, built into the program: no file is read and nothing is fetched
// from elsewhere to show it.
#pragma once

#include <optional>
#include <string_view>

namespace zelmo::service {

struct PageAsset {
  std::string_view contentType;
  std::string_view body;
};

// The page's file at `path` ("/" is the page itself), or nothing.
std::optional<PageAsset> FindPageAsset(std::string_view path);

}  // namespace zelmo::service
