// A front-end is the platform's side of frmMain: the window and its controls, message boxes, and
// the event loop every handler runs on. Console (headless), GTK 3 and Win32 provide one each.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/exit_status.h"
#include "app/window.h"
#include "sys/event_loop.h"

namespace zelmo {

struct WindowHandlers {
  std::function<void()> Form_Load;
  std::function<void()> Form_QueryUnload;  // close box, or the system asks the window to close
  std::function<void()> btnPrint_Click;
};

class FrontEnd : public Window, public EventLoop {
 public:
  // Creates the (hidden) window, runs Form_Load, then runs the event loop. The run ends through
  // ProgramEnd from inside a handler; Run returns only if the loop itself fails.
  virtual void Run(const WindowHandlers& handlers) = 0;
};

// Where the headless front-end reads and writes, and where its close requests come from.
struct ConsoleIo {
  std::function<std::optional<std::string>()> readLine;  // the next line; nothing at the end
  std::FILE* out = nullptr;                              // the event list
  std::FILE* err = nullptr;                              // message boxes and the label
  // Starts watching; calls its argument from any thread once per close request.
  std::function<void(std::function<void()>)> watchCloseRequests;
};

// Standard input, output and error, and the system's close requests (signals, the console).
ConsoleIo StandardConsoleIo();

// Headless: message boxes and the label on standard error, the event list on standard output,
// the print button and the operator's answers on standard input.
std::unique_ptr<FrontEnd> MakeConsoleFrontEnd(ProgramEnd& end, ConsoleIo io = StandardConsoleIo());

// The desktop window of this platform, or nothing when no display can be had (or this build has
// no desktop front-end).
std::unique_ptr<FrontEnd> MakeDesktopFrontEnd(ProgramEnd& end);

}  // namespace zelmo
