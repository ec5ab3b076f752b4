// Where the running program lives. Its folder is the base of every path of a run, and its name
// (without extension) is the source of the INI component's errors.
#pragma once

#include <filesystem>
#include <string>

namespace zelmo {

std::filesystem::path ExecutablePath();

// The executable's file name without its extension ("zelmo" for /usr/bin/zelmo or zelmo.exe).
std::string ExecutableStem();

}  // namespace zelmo
