// The program's command-line arguments as UTF-8 (Windows hands a narrow main its ANSI code page).
#pragma once

#include <string>
#include <vector>

namespace zelmo {

std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Puts back what Utf8Arguments changed in a console the program borrowed (its code pages), so
// that the prompt that started us is left as it was. Every way out of the program calls it.
void RestoreConsole();

}  // namespace zelmo
