#include "sys/executable.h"

#include <system_error>

namespace zelmo {

std::filesystem::path ExecutablePath() {
  std::error_code ec;
  auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : path;
}

std::string ExecutableStem() { return ExecutablePath().stem().string(); }

}  // namespace zelmo
