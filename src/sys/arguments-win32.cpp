// Windows hands a narrow main its arguments in the ANSI code page, which loses any character
// outside it; the command line itself is UTF-16, so we take it from there.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>

#include "sys/arguments.h"
#include "sys/wide-win32.h"

namespace zelmo {
namespace {

// The borrowed console's own code pages, 0 while we changed none.
UINT savedOutputCp = 0;
UINT savedInputCp = 0;

bool HasStream(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// zelmo.exe is a windows-subsystem program, so that a point-of-sale program starting it never
// flashes a console. Started from a command prompt without redirection it then has nowhere to
// write; it borrows the prompt's console for --help, --console and the event lines.
void UseParentConsole() {
  const bool in = HasStream(STD_INPUT_HANDLE);
  const bool out = HasStream(STD_OUTPUT_HANDLE);
  const bool err = HasStream(STD_ERROR_HANDLE);
  if (out && err) return;
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!in) std::freopen("CONIN$", "r", stdin);
  if (!out) std::freopen("CONOUT$", "w", stdout);
  if (!err) std::freopen("CONOUT$", "w", stderr);
  // Our texts are UTF-8; the console shows them as such only when told so. The prompt gets its
  // own code pages back when we end (RestoreConsole).
  savedOutputCp = GetConsoleOutputCP();
  savedInputCp = GetConsoleCP();
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

}  // namespace

void RestoreConsole() {
  std::fflush(stdout);
  std::fflush(stderr);
  if (savedOutputCp) SetConsoleOutputCP(savedOutputCp);
  if (savedInputCp) SetConsoleCP(savedInputCp);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  UseParentConsole();
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

}  // namespace zelmo
