// Text at the Win32 boundary: the W functions take UTF-16, the rest of the program holds UTF-8.
#pragma once

#include <string>

namespace zelmo {

std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

// The system's own text for a Win32 error code, in UTF-8, without the closing line end;
// "error N" when the system has none.
std::string SystemMessage(unsigned long error);

}  // namespace zelmo
