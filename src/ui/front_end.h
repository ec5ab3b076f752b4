// A front-end is the platform's side of frmMain: the window and its controls, message boxes, and
// the event loop every handler runs on. Console (headless), GTK 3 and Win32 provide one each.
#pragma once

#include <functional>
#include <memory>

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

// Headless: message boxes and the label on standard error, the event list on standard output,
// the print button and the operator's answers on standard input.
std::unique_ptr<FrontEnd> MakeConsoleFrontEnd(ProgramEnd& end);

// The desktop window of this platform, or nothing when no display can be had (or this build has
// no desktop front-end).
std::unique_ptr<FrontEnd> MakeDesktopFrontEnd(ProgramEnd& end);

}  // namespace zelmo
