// The threads that serve connections. At most `threads` are served at once and `waiting` more
// are held; beyond that the service stops accepting, so the rest wait in the system's backlog
// and no number of clients can make it use more.
#pragma once

#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zelmo::service {

class ConnectionPool : public httplib::TaskQueue {
 public:
  ConnectionPool(std::size_t threads, std::size_t waiting);
  ~ConnectionPool() override;
  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

 private:
  void Serve();

  std::size_t waiting_;
  std::mutex mutex_;
  std::condition_variable work_, room_;
  std::deque<std::function<void()>> queue_;
  bool shutdown_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace zelmo::service
