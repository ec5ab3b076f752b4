// Test doubles at the platform seams: the window and operator, the serial port, and the end of
// the program.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/exit_status.h"
#include "app/window.h"
#include "device/serial_port.h"

namespace zelmo::testing {

// Thrown by RecordingEnd so that a test regains control where the program would have ended. It
// is not a std::exception, so nothing in the program mistakes it for a failure.
struct ProgramEnded {
  ExitStatus status;
};

class RecordingEnd : public ProgramEnd {
 public:
  [[noreturn]] void End(ExitStatus status) override {
    ended = status;
    throw ProgramEnded{status};
  }
  std::optional<ExitStatus> ended;
};

// Runs one step of the program (a handler, say); the status the program ended with, if it ended.
inline std::optional<ExitStatus> StatusOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const ProgramEnded& e) {
    return e.status;
  }
  return std::nullopt;
}

struct Box {
  std::string text;
  MsgStyle style;
  std::string title;
};

class FakeWindow : public Window {
 public:
  MsgAnswer MsgBox(const std::string& text, MsgStyle style, const std::string& title) override {
    boxes.push_back({text, style, title});
    if (whileShown) whileShown(boxes.back());
    if (style != MsgStyle::kQuestion) return MsgAnswer::kOk;
    if (answers.empty()) return MsgAnswer::kYes;
    const MsgAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void Show() override { shown = true; }
  void Hide() override { hidden = true; }
  void Unload() override { unloaded = true; }
  void SetLabel(const std::string& caption) override { labels.push_back(caption); }
  void AddEvent(const std::string& line) override { events.push_back(line); }
  void SetPrintEnabled(bool enabled) override { printEnabled = enabled; }
  bool CloseRequested() const override { return closeRequested; }

  std::vector<Box> boxes;
  std::deque<MsgAnswer> answers;
  bool shown = false, hidden = false, unloaded = false, printEnabled = true;
  bool closeRequested = false;
  // Called for each box before it is answered: a test can make a close request come meanwhile.
  std::function<void(const Box&)> whileShown;
  std::vector<std::string> labels, events;
};

class FakePort : public SerialPort {
 public:
  void SetCommPort(int16_t p, const std::string& d) override {
    calls.push_back("CommPort");
    port = p;
    device = d;
  }
  void SetSettings(const std::string& s) override {
    calls.push_back("Settings");
    settings = s;
  }
  void SetRTSEnable(bool on) override {
    calls.push_back("RTSEnable");
    rts = on;
  }
  void SetDTREnable(bool on) override {
    calls.push_back("DTREnable");
    dtr = on;
  }
  void SetHandshaking(int mode) override {
    calls.push_back("Handshaking");
    handshaking = mode;
  }
  void SetPortOpen(bool o) override {
    calls.push_back(o ? "Open" : "Close");
    if (o && openError) throw *openError;
    open = o;
  }
  bool PortOpen() const override { return open; }
  void Output(const std::string& wire) override {
    if (failWriteAt && written.size() == *failWriteAt)
      throw SerialError(device, "Input/output error");
    written.push_back(wire);
  }
  std::string Input() override { return std::exchange(input, std::string()); }

  int16_t port = 0;
  std::string device, settings, input;
  bool rts = false, dtr = false, open = false;
  int handshaking = 0;
  std::vector<std::string> calls, written;
  std::optional<SerialError> openError;
  std::optional<std::size_t> failWriteAt;  // the write with this index fails
};

}  // namespace zelmo::testing
