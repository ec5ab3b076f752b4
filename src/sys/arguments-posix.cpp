#include "sys/arguments.h"

namespace zelmo {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void RestoreConsole() {}

}  // namespace zelmo
