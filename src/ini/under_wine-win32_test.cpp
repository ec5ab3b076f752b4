#include <windows.h>

#include "ini/under_wine_test.h"

namespace zelmo {

// Wine's ntdll exports its version; Windows' has no such export.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

unsigned AnsiCodePage() {
  return GetACP();
}

}  // namespace zelmo
