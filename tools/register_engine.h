// The virtual register's side of the line protocol: it takes the bridge's bytes one at a time,
// answers every command (ENQ, a frame, EOT) and keeps the receipt of what it acknowledged. Faults
// chosen by the tester replace or hold back the answer to chosen commands.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "register_frames.h"
#include "register_receipt.h"

namespace zelmo::sim {

inline constexpr char kENQ = '\x05';
inline constexpr char kEOT = '\x04';
inline constexpr char kACK = '\x06';
inline constexpr char kNAK = '\x15';

// Commands are counted from 1, in the order they arrive.
struct Faults {
  std::set<int> nak;            // answer NAK to these commands
  bool eotForAck = false;       // answer EOT wherever ACK is due
  int silentAfter = -1;         // answer nothing after this many commands (-1: never silent)
  std::map<int, char> garbage;  // answer these commands with this byte instead
  std::map<int, int> burst;     // before the answer to these commands, this many noise bytes
  int hangUpAfter = 0;          // drop the line once this command is answered (0: never)
};

struct Answer {
  std::string bytes;    // to send back now; empty when there is nothing to say yet
  bool hangUp = false;  // drop the line once `bytes` are sent
  std::string log;      // one line about the command just completed, or empty
};

class RegisterEngine {
 public:
  explicit RegisterEngine(Faults faults = {}) : faults_(std::move(faults)) {}

  Answer Take(char byte);

  const PrintedReceipt& receipt() const { return receipt_; }
  // The total was taken and the exchange that carried it closed with an acknowledged EOT.
  bool complete() const { return receipt_.closed; }
  int commands() const { return commands_; }

 private:
  enum class Received { kENQ, kEOT, kFrame, kRunawayFrame };
  Answer Complete(Received what);
  struct Response {
    std::string bytes;
    bool positive = false;  // ACK, or EOT standing in for it: the command is taken
  };
  Response Respond(int number, bool wellFormed);
  void Accept(Received what, const std::optional<Command>& command);
  std::string Noise(int count);

  Faults faults_;
  PrintedReceipt receipt_;
  int commands_ = 0;
  enum class State { kIdle, kBody, kCheck } state_ = State::kIdle;
  std::string frame_;
  std::string problem_;
  unsigned noiseSeed_ = 1;
};

// The longest body taken before a frame without ETX is given up as malformed.
inline constexpr size_t kMaxFrameBody = 256;

}  // namespace zelmo::sim
