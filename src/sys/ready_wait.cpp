#include "sys/ready_wait.h"

#include <algorithm>

namespace zelmo {

std::vector<int> ReadyWait::Wait(const std::vector<int>& fds) {
  std::vector<Watch> watches;
  for (int fd : fds) watches.push_back({fd, true, false});
  std::vector<int> readable;
  for (const Ready& ready : WaitFor(watches, std::nullopt)) readable.push_back(ready.fd);
  return readable;
}

void Watches::Readable(int fd, std::function<void()> ready) {
  entries_[fd].readable = std::move(ready);
}

void Watches::Writable(int fd, std::function<void()> ready) {
  entries_[fd].writable = std::move(ready);
}

void Watches::Deadline(int fd, ReadyWait::Clock::time_point when, std::function<void()> due) {
  Entry& entry = entries_[fd];
  entry.due = std::move(due);
  entry.when = when;
}

void Watches::Remove(int fd) {
  entries_.erase(fd);
}

void Watches::WaitAndRun(ReadyWait& wait) {
  std::vector<ReadyWait::Watch> watches;
  std::optional<ReadyWait::Clock::time_point> deadline;
  for (const auto& [fd, entry] : entries_) {
    if (entry.readable || entry.writable) {
      watches.push_back({fd, static_cast<bool>(entry.readable), static_cast<bool>(entry.writable)});
    }
    if (entry.due) deadline = deadline ? std::min(*deadline, entry.when) : entry.when;
  }
  for (const ReadyWait::Ready& ready : wait.WaitFor(watches, deadline)) RunReady(ready);
  if (deadline) RunDue();
}

// Each callback is called from a copy: it may remove its own watch, and what it belongs to.
void Watches::RunReady(const ReadyWait::Ready& ready) {
  if (ready.readable) {
    const auto entry = entries_.find(ready.fd);
    if (entry != entries_.end() && entry->second.readable) {
      const std::function<void()> call = entry->second.readable;
      call();
    }
  }
  if (ready.writable) {
    const auto entry = entries_.find(ready.fd);
    if (entry != entries_.end() && entry->second.writable) {
      const std::function<void()> call = std::move(entry->second.writable);
      entry->second.writable = nullptr;
      call();
    }
  }
}

void Watches::RunDue() {
  const auto now = ReadyWait::Clock::now();
  std::vector<int> due;
  for (const auto& [fd, entry] : entries_) {
    if (entry.due && entry.when <= now) due.push_back(fd);
  }
  for (int fd : due) {
    const auto entry = entries_.find(fd);
    if (entry == entries_.end() || !entry->second.due || entry->second.when > now) continue;
    const std::function<void()> call = std::move(entry->second.due);
    entry->second.due = nullptr;
    call();
  }
}

}  // namespace zelmo
