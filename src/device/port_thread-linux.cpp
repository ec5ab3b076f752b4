#include "device/port_thread-linux.h"

namespace zelmo {

void PortThread::Run() {
  for (;;) {
    std::deque<std::function<void()>> tasks;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) task();
    if (!tasks.empty()) continue;
    try {
      watches_.WaitAndRun(*wait_);
    } catch (const std::system_error& e) {
      failed_(e.what());
      return;
    }
  }
}

}  // namespace zelmo
