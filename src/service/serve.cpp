#include "service/serve.h"

#include <httplib.h>

#include <iostream>
#include <thread>

#include "service/connection_pool.h"
#include "service/http_api.h"
#include "service/job_run.h"
#include "service/print_service.h"
#include "service/service_settings.h"
#include "sys/durable_file.h"
#include "sys/executable.h"
#include "sys/paths.h"

namespace zelmo::service {
namespace {

// Enough for a till, a status page and a few waiting clients; a job's wait holds one thread.
constexpr std::size_t kThreads = 16;
constexpr std::size_t kWaiting = 32;

std::string Url(const ListenAddress& a) {
  const bool v6 = a.host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + a.host + "]" : a.host) + ":" + std::to_string(a.port);
}

struct Listener {
  ListenAddress address;
  std::unique_ptr<httplib::Server> server;
  std::thread thread;
};

int ServeWith(const std::filesystem::path& folder, const ServiceSettings& settings,
              StopRequest& stop) {
  PrintService jobs(settings.registers, folder, settings.keepDays,
                    std::make_unique<ProcessJobRunner>(ExecutablePath()));
  for (const std::string& problem : jobs.Start()) {
    std::cerr << "zelmo: a job's record was left as it is: " << problem << std::endl;
  }
  std::vector<Listener> listeners;
  for (const ListenAddress& address : settings.listen) {
    auto server = std::make_unique<httplib::Server>();
    server->new_task_queue = [] { return new ConnectionPool(kThreads, kWaiting); };
    SetUpApi(*server, jobs, settings);
    if (!server->bind_to_port(address.host, address.port)) {
      if (address.optional) continue;  // no IPv6 loopback on this machine
      std::cerr << "zelmo: cannot listen on " << Url(address)
                << " (in use, or no such address here)" << std::endl;
      return 1;
    }
    listeners.push_back({address, std::move(server), {}});
  }
  for (Listener& l : listeners) {
    httplib::Server& server = *l.server;
    l.thread = std::thread([&server] { server.listen_after_bind(); });
    std::cerr << "zelmo: serving on " << Url(l.address) << std::endl;
  }
  stop.Wait();
  std::cerr << "zelmo: stopping; a running job is let end" << std::endl;
  for (Listener& l : listeners) l.server->stop();
  jobs.Stop();
  for (Listener& l : listeners) l.thread.join();
  return 0;
}

}  // namespace

int Serve(const std::string& folder, StopRequest& stop) {
  const std::filesystem::path root = Utf8ToPath(folder);
  ServiceSettings settings;
  try {
    settings = ReadServiceSettings(root);
  } catch (const SettingsError& e) {
    std::cerr << "zelmo: " << e.what() << std::endl;
    return 6;
  }
  try {
    sys::CreateFolderDurably(root / "jobs");
    return ServeWith(root, settings, stop);
  } catch (const std::exception& e) {
    std::cerr << "zelmo: the service cannot go on: " << e.what() << std::endl;
    return 1;
  }
}

}  // namespace zelmo::service
