// The console's close requests: Ctrl+C, Ctrl+Break, its window being closed, the user logging
// off or the system shutting down. Windows calls the console's handler on a thread of its own;
// the session's end comes to a hidden window's thread.
#include "ui/close_requests-win32.h"

#include <system_error>

#include "ui/close_requests.h"

namespace zelmo {
namespace {

constexpr wchar_t kSessionWindowClass[] = L"ZelmoSessionEnd";

std::function<void()>& Request() {
  static std::function<void()> request;
  return request;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (Request()) Request()();
  // For these three the process is ended as soon as the handler returns: hold on, so that the
  // close request can close the port and end the run itself (Windows allows a few seconds).
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    Sleep(INFINITE);
  }
  return TRUE;
}

bool RegisterSessionWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(instance, kSessionWindowClass, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.lpszClassName = kSessionWindowClass;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace

SessionEndWatch::SessionEndWatch(std::function<void()> request, std::function<void()> hold)
    : request_(std::move(request)), hold_(std::move(hold)) {
  const HANDLE made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!made) return;
  try {
    thread_ = std::thread(&SessionEndWatch::Run, this, made);
    WaitForSingleObject(made, INFINITE);
  } catch (const std::system_error&) {
    // No thread to be had: the run goes on, and only the console's requests end it early.
  }
  CloseHandle(made);
}

SessionEndWatch::~SessionEndWatch() {
  if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
  if (thread_.joinable()) thread_.join();
}

void SessionEndWatch::Run(HANDLE made) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (RegisterSessionWindowClass(instance, WindowProc)) {
    // Never shown: WS_VISIBLE is not set and nothing shows it.
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, kSessionWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                              nullptr, nullptr, instance, this);
  }
  const bool running = window_ != nullptr;
  SetEvent(made);
  if (!running) return;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
}

LRESULT CALLBACK SessionEndWatch::WindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<SessionEndWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_QUERYENDSESSION:  // the session may end; WM_ENDSESSION says whether it does
      return TRUE;
    case WM_ENDSESSION:
      if (wParam && self) {
        if (self->request_) self->request_();
        if (self->hold_) self->hold_();
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void WatchConsoleControl(std::function<void()> request) {
  Request() = std::move(request);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WatchCloseRequests(std::function<void()> request) {
  WatchConsoleControl(std::move(request));
  // One for as long as the program runs: it ends with the process, holding the session's end
  // as the console's handler holds its own.
  static SessionEndWatch* const session = new SessionEndWatch(
      [] {
        if (Request()) Request()();
      },
      [] { Sleep(INFINITE); });
  (void)session;
}

}  // namespace zelmo
