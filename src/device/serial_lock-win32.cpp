#include "device/serial_lock-win32.h"

#include <sddl.h>

#include "sys/wide-win32.h"

namespace zelmo {
namespace {

constexpr wchar_t kLockPrefix[] = L"Global\\zelmo.port.";

// Anyone may wait on the lock and release it, so that a program of another user or session is
// told "in use" rather than refused access.
constexpr wchar_t kLockAccess[] = L"D:(A;;0x00100001;;;WD)";  // SYNCHRONIZE | MUTEX_MODIFY_STATE

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::wstring PortLockName(const std::string& device) {
  std::string name = device;
  if (StartsWith(name, "\\\\.\\") || StartsWith(name, "\\\\?\\")) name.erase(0, 4);
  if (!name.empty() && name.back() == ':') name.pop_back();  // "COM1:" is COM1
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '\\') c = '/';  // a backslash would be taken for a namespace
  }
  return kLockPrefix + Utf8ToWide(name);
}

DWORD PortLock::Take(const std::string& device) {
  Release();
  SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockAccess, SDDL_REVISION_1,
                                                           &descriptor, nullptr)) {
    security.lpSecurityDescriptor = descriptor;
  }
  HANDLE mutex = CreateMutexW(&security, FALSE, PortLockName(device).c_str());
  const DWORD error = GetLastError();
  if (descriptor) LocalFree(descriptor);
  if (!mutex) return error == ERROR_ACCESS_DENIED ? ERROR_BUSY : error;
  const DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    mutex_ = mutex;
    return ERROR_SUCCESS;
  }
  const DWORD failed = waited == WAIT_TIMEOUT ? ERROR_BUSY : GetLastError();
  CloseHandle(mutex);
  return failed;
}

void PortLock::Release() {
  if (!mutex_) return;
  ReleaseMutex(mutex_);
  CloseHandle(mutex_);
  mutex_ = nullptr;
}

}  // namespace zelmo
