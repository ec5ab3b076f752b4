// The virtual register's command line.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "register_engine.h"

namespace zelmo::sim {

struct Options {
  std::string device;  // an existing device to use instead of a new pseudo-terminal
  std::string link;    // a symbolic link to make to the pseudo-terminal, removed at exit
  std::string record;  // a file that gets every received byte, raw
  long baud = 0;       // take received bytes no faster than a line at this speed (0: at once)
  double timeoutSeconds = 0;  // give up when nothing arrives for this long (0: wait for ever)
  bool verbose = false;
  bool help = false;
  Faults faults;
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `args` without the program's name.
Options ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace zelmo::sim
