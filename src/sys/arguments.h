// The program's command-line arguments as UTF-8 (Windows hands a narrow main its ANSI code page).
#pragma once

#include <string>
#include <vector>

namespace zelmo {

std::vector<std::string> Utf8Arguments(int argc, char** argv);

}  // namespace zelmo
