// One run of the real zelmo against a register that the harness plays itself on a fresh
// pseudo-terminal, timed on CLOCK_MONOTONIC from the register's side of the line.
#pragma once

#include <string>
#include <vector>

namespace bench {

enum class FrontEndKind { kConsole, kDesktop };

struct JobPlan {
  std::string zelmo;  // the program to run
  // When set, the pyserial script (bench/pyserial_replay.py) plays the bridge instead, sending
  // these commands (recorded from a zelmo job) one after each reply.
  std::vector<std::string> replay;
  FrontEndKind frontEnd = FrontEndKind::kConsole;
  int items = 1;
  // 0: answer at once, so every gap is the bridge's. Otherwise the line is simulated at this
  // speed: 10 bits a byte each way, the answer sent when the command and the answer would have
  // crossed a real line.
  long baud = 0;
  double timeoutSeconds = 30;
};

struct JobTiming {
  std::string failure;               // empty when the job went through whole
  double startupMs = 0;              // process start to the first byte (ENQ)
  std::vector<double> turnaroundUs;  // each answer leaving to the next command's first byte
  double exitMs = 0;                 // the last answer leaving to the process's end
  double totalSeconds = 0;           // process start to its end
  double lineSeconds = 0;            // every byte both ways at the simulated speed (paced jobs)
  double oversleepSeconds = 0;       // how late the harness woke for its paced answers, summed
  long bytesFromBridge = 0;
  long bytesToBridge = 0;
  long maxRssKb = 0;
  double cpuSeconds = 0;              // user and system time of the bridge
  long contextSwitches = 0;           // of the bridge, all its threads, voluntary or not
  long voluntarySwitches = 0;         // of those, the ones where it went to sleep
  std::vector<std::string> commands;  // as the register received them, in order
};

JobTiming RunJob(const JobPlan& plan);

// A reference for the turnarounds: a one-thread program on the other end of a pseudo-terminal
// that sends every byte straight back, timed as the register times the bridge. `self` is this
// harness, started again with kEchoOption to be that program. Each of `count` rounds waits
// `idleMs` first, as the line leaves the bridge idle between commands. Microseconds.
std::vector<double> EchoTurnarounds(const std::string& self, int count, double idleMs);

inline constexpr const char* kEchoOption = "--echo-on";

// The echo program's side, on `device`; returns when the line is closed.
void Echo(const std::string& device);

}  // namespace bench
