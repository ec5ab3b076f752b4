// One register, one job: the lock a program takes on a port before it opens it. Opening without
// sharing is not enough, since Wine and some virtual and network COM port drivers let a second
// program open a port that is open. The lock is a mutex named after the device in the global
// namespace, so an instance in any session sees it; a holder that died leaves it abandoned, and an
// abandoned lock is free.
#pragma once

#include <windows.h>

#include <string>

namespace zelmo {

// The lock's name for a device path: the same for every spelling of one device ("COM10",
// "\\.\COM10", "\\.\com10"), with no backslash but the namespace's own.
std::wstring PortLockName(const std::string& device);

class PortLock {
 public:
  PortLock() = default;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;
  ~PortLock() { Release(); }

  // Takes the device's lock: ERROR_SUCCESS, ERROR_BUSY when another program holds it, or the
  // system's error. The lock belongs to the calling thread, which releases it.
  DWORD Take(const std::string& device);
  void Release();
  bool held() const { return mutex_ != nullptr; }

 private:
  HANDLE mutex_ = nullptr;
};

}  // namespace zelmo
