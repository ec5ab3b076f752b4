#include "service/connection_pool.h"

namespace zelmo::service {

ConnectionPool::ConnectionPool(std::size_t threads, std::size_t waiting) : waiting_(waiting) {
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Serve(); });
}

ConnectionPool::~ConnectionPool() {
  shutdown();
}

void ConnectionPool::enqueue(std::function<void()> fn) {
  std::unique_lock lock(mutex_);
  // The accepting thread waits here while the pool is full; a connection already accepted is
  // always served (and so closed).
  room_.wait(lock, [this] { return queue_.size() < waiting_ || shutdown_; });
  queue_.push_back(std::move(fn));
  work_.notify_one();
}

void ConnectionPool::shutdown() {
  {
    std::lock_guard lock(mutex_);
    shutdown_ = true;
  }
  work_.notify_all();
  room_.notify_all();
  for (std::thread& t : threads_) {
    if (t.joinable()) t.join();
  }
}

void ConnectionPool::Serve() {
  for (;;) {
    std::function<void()> fn;
    {
      std::unique_lock lock(mutex_);
      work_.wait(lock, [this] { return !queue_.empty() || shutdown_; });
      if (queue_.empty()) return;
      fn = std::move(queue_.front());
      queue_.pop_front();
      room_.notify_one();
    }
    fn();
  }
}

}  // namespace zelmo::service
