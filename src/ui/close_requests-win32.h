// The end of the session for a run without a window of its own. A console program that uses
// windows at all (and ours does) is not told of logging off or shutting down by the console;
// only a top-level window is, by WM_QUERYENDSESSION and WM_ENDSESSION. A message-only window
// would not do: the session's end is not sent to those.
#pragma once

#include <windows.h>

#include <functional>
#include <thread>

namespace zelmo {

// A hidden top-level window, never shown, on a thread of its own.
class SessionEndWatch {
 public:
  // `request` is called on the watch's thread once the session is ending (WM_ENDSESSION with
  // TRUE); then `hold` is, before the message is answered, since Windows may end the process as
  // soon as it is: `hold` keeps it until the run has ended itself.
  SessionEndWatch(std::function<void()> request, std::function<void()> hold);
  SessionEndWatch(const SessionEndWatch&) = delete;
  SessionEndWatch& operator=(const SessionEndWatch&) = delete;
  ~SessionEndWatch();

  // The window, or nothing when it could not be made.
  HWND window() const { return window_; }

 private:
  void Run(HANDLE made);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::function<void()> request_;
  std::function<void()> hold_;
  HWND window_ = nullptr;
  std::thread thread_;
};

// The console's own close requests only (Ctrl+C, Ctrl+Break, its window closed): for a
// front-end whose window sees the session's end itself.
void WatchConsoleControl(std::function<void()> request);

}  // namespace zelmo
