// The operator's side of the run: modal message boxes. The window's front-end provides it; the
// loader and start-up only ask.
#pragma once

#include <string>

namespace zelmo {

enum class MsgStyle {
  kInformation,  // information icon, OK
  kError,        // stop icon, OK
  kQuestion,     // question icon, Yes and No, Yes the default
  kPlain,        // no icon, OK
};

enum class MsgAnswer { kOk, kYes, kNo };

inline constexpr const char* kAppTitle = "Zelmo";

// Thrown out of MsgBox when a close request took the box away before the operator answered: the
// question has no answer, and the run ends as closed. Not a std::exception, so that nothing
// between the box and the window's handler takes it for a failure.
struct DismissedByClose {};

// Thrown out of MsgBox when the box cannot be put to the operator for want of what the program
// needs (a thread to read the answer, memory): there is no answer, and it is nobody's refusal.
// Not a std::exception either, so that the loader does not take it for a bad receipt.
struct BoxUnavailable {
  std::string reason;
};

class Operator {
 public:
  virtual ~Operator() = default;
  // Shows the box and waits for the operator. An empty title stands for kAppTitle.
  // Texts are UTF-8; lines are separated by "\r\n". A close request while the box waits takes
  // it away: DismissedByClose. A box that cannot be shown: BoxUnavailable.
  virtual MsgAnswer MsgBox(const std::string& text, MsgStyle style, const std::string& title) = 0;
};

}  // namespace zelmo
