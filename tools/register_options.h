// The virtual register's command line.
#pragma once

#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "register_engine.h"

namespace zelmo::sim {

struct Options {
  std::string device;   // an existing device to use instead of a new pseudo-terminal
  std::string socket;   // a Unix socket to connect to instead (a virtual machine's serial port)
  bool telnet = false;  // the socket speaks Telnet: its commands are stripped, a break is IAC BREAK
  std::string link;     // a symbolic link to make to the pseudo-terminal, removed at exit
  std::string record;   // a file that gets every received byte, raw
  long baud = 0;        // take received bytes no faster than a line at this speed (0: at once)
  double timeoutSeconds = 0;  // give up when nothing arrives for this long (0: wait for ever)
  bool verbose = false;
  bool help = false;
  Faults faults;
  // Line faults, which the protocol engine knows nothing of. Commands are counted from 1.
  std::set<int> breakBefore;  // send a break just before the answer to these commands
  int stopAfter = 0;          // after answering this command, hold the line stopped (CTS low)
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `args` without the program's name.
Options ParseOptions(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace zelmo::sim
