// The Win32 front-end: frmMain as a small fixed dialog window with its print button, status label
// and the never-shown event list, MessageBoxW for the operator, and the thread's message loop as
// the event loop.
//
// Handlers run one at a time to completion. A message box runs a message loop of its own while a
// handler waits in it; tasks posted meanwhile (a reply from the register) and close requests are
// held back until that handler is done, so a reply is never decoded in the middle of a question.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>

#include "device/replies.h"
#include "sys/wide-win32.h"
#include "text/line_breaks.h"
#include "ui/close_requests-win32.h"
#include "ui/front_end.h"

namespace zelmo {
namespace {

constexpr wchar_t kWindowClass[] = L"ZelmoFrmMain";
constexpr UINT kRunTask = WM_APP + 1;
constexpr UINT kCloseRequest = WM_APP + 2;
constexpr int kIconResource = 1;
constexpr int kIdPrint = 100;
constexpr int kIdEvents = 101;
constexpr int kIdInfo = 102;

// The window's design, in twips (1440 per inch; 15 to a pixel at 96 dots per inch).
constexpr int kTwipsPerInch = 1440;
struct Twips {
  int left, top, width, height;
};
constexpr int kClientWidth = 4020;
constexpr int kClientHeight = 900;
constexpr Twips kBtnPrint{2865, 525, 1125, 345};
constexpr Twips kListOfEvents{30, 30, 2835, 840};
constexpr Twips kLblInfo{90, 120, 3795, 285};
// lblInfo: Tahoma 9.75 points, regular, Cyrillic character set.
constexpr int kInfoPointsTimes100 = 975;

constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;  // no min/max, no sizing
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

int ScreenDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

UINT MessageBoxStyle(MsgStyle style) {
  switch (style) {
    case MsgStyle::kInformation:
      return MB_OK | MB_ICONINFORMATION;
    case MsgStyle::kError:
      return MB_OK | MB_ICONERROR;
    case MsgStyle::kQuestion:
      return MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1;
    case MsgStyle::kPlain:
      break;
  }
  return MB_OK;
}

// Integrators and tests read the log and the operator's messages on the standard streams when
// there are any; a program started from the desktop has none and writes nowhere.
void WriteLine(FILE* stream, const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

class Win32FrontEnd : public FrontEnd {
 public:
  Win32FrontEnd(HINSTANCE instance, int dpi) : instance_(instance), dpi_(dpi) {}

  ~Win32FrontEnd() override {
    {
      std::lock_guard lock(mutex_);
      taskWindow_ = nullptr;
    }
    if (window_) DestroyWindow(window_);
    if (owner_) DestroyWindow(owner_);
    for (HFONT font : {dialogFont_, infoFont_}) {
      if (font) DeleteObject(font);
    }
  }

  bool Create() {
    // A hidden owner keeps the window out of the taskbar and still gives it a proper caption.
    owner_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance_,
                             nullptr);
    RECT frame = {0, 0, Pixels(kClientWidth), Pixels(kClientHeight)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    window_ = CreateWindowExW(kExStyle, kWindowClass, Utf8ToWide(kWindowCaption).c_str(), kStyle,
                              CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                              frame.bottom - frame.top, owner_, nullptr, instance_, this);
    if (!owner_ || !window_) return false;
    {
      std::lock_guard lock(mutex_);
      taskWindow_ = window_;
    }
    CreateFonts();
    // In tab order: btnPrint, ListOfEvents, lblInfo.
    btnPrint_ = CreateControl(L"BUTTON", kPrintButtonText, kBtnPrint, kIdPrint,
                              WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, dialogFont_);
    listOfEvents_ = CreateControl(L"LISTBOX", "", kListOfEvents, kIdEvents,
                                  WS_TABSTOP | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, WS_EX_CLIENTEDGE,
                                  dialogFont_);
    lblInfo_ = CreateControl(L"STATIC", kReadyText, kLblInfo, kIdInfo,
                             WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, infoFont_);
    TrimSystemMenu();
    return btnPrint_ && listOfEvents_ && lblInfo_;
  }

  void Run(const WindowHandlers& handlers) override {
    handlers_ = handlers;
    // From the console's own thread: marked at once, then handed to the window's thread, where
    // a box that waits is taken away. The session's end comes to the window itself.
    WatchConsoleControl([this] {
      systemClose_ = true;
      closeRequested_ = true;
      std::lock_guard lock(mutex_);
      if (taskWindow_) PostMessageW(taskWindow_, kCloseRequest, 0, 0);
    });
    Dispatch(handlers_.Form_Load);
    MSG msg;
    while (!failure_ && GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (window_ && IsDialogMessageW(window_, &msg)) continue;
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    // What escaped a handler leaves through Run, never through the window procedure.
    if (failure_) std::rethrow_exception(failure_);
  }

  void Post(std::function<void()> task) override {
    {
      std::lock_guard lock(mutex_);
      tasks_.push_back(std::move(task));
    }
    Wake();
  }

  // A close request while the box waits takes it away: the question has no answer, and the run
  // ends as closed. Once the program is asked to close no new question waits for anyone; when
  // the system asks (the console, the end of the session) nothing may hold it at all, and what
  // is left to say goes to standard error only. An operator who closed the window still reads
  // why the run ended.
  MsgAnswer MsgBox(const std::string& text, MsgStyle style, const std::string& title) override {
    const std::string caption = title.empty() ? kAppTitle : title;
    WriteLine(stderr, caption);
    WriteLine(stderr, StreamLines(text));
    if (closeRequested_ && style == MsgStyle::kQuestion) throw DismissedByClose();
    if (systemClose_) return MsgAnswer::kOk;
    UINT flags = MessageBoxStyle(style);
    // A hidden window cannot hold the box in front: then the box stands alone, with its own
    // taskbar button, and still keeps the operator from the window.
    const HWND owner = window_ && IsWindowVisible(window_) ? window_ : nullptr;
    if (!owner) flags |= MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST;
    ++depth_;
    ++boxes_;
    const int answer =
        MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(caption).c_str(), flags);
    --boxes_;
    --depth_;
    // A question the request came before is not answered, whatever was pressed after it.
    if (closeRequested_ && (style == MsgStyle::kQuestion || answer == IDCANCEL)) {
      throw DismissedByClose();
    }
    if (answer == IDYES) return MsgAnswer::kYes;
    if (answer == IDNO) return MsgAnswer::kNo;
    return MsgAnswer::kOk;
  }

  void Show() override {
    if (!window_) return;
    Centre();
    ShowWindow(window_, SW_SHOWNORMAL);
    SetForegroundWindow(window_);
    SetFocus(btnPrint_);
    UpdateWindow(window_);
  }

  void Hide() override {
    if (window_) ShowWindow(window_, SW_HIDE);
  }

  void Unload() override {
    if (!window_) return;
    const HWND window = window_;
    {
      std::lock_guard lock(mutex_);
      taskWindow_ = nullptr;
    }
    window_ = nullptr;
    DestroyWindow(window);
  }

  void SetLabel(const std::string& caption) override {
    if (lblInfo_ && window_) SetWindowTextW(lblInfo_, Utf8ToWide(caption).c_str());
  }

  void AddEvent(const std::string& line) override {
    if (listOfEvents_ && window_) {
      const std::wstring wide = Utf8ToWide(line);
      SendMessageW(listOfEvents_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
    WriteLine(stdout, OneLogLine(line));
  }

  void SetPrintEnabled(bool enabled) override {
    if (btnPrint_ && window_) EnableWindow(btnPrint_, enabled);
  }

  bool CloseRequested() const override { return closeRequested_; }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32FrontEnd*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self) {
      LRESULT result = 0;
      if (self->Handle(message, wParam, lParam, result)) return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

 private:
  bool Handle(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (message) {
      case WM_COMMAND:
        if (LOWORD(wParam) == kIdPrint && HIWORD(wParam) == BN_CLICKED) {
          Raise([this] { handlers_.btnPrint_Click(); });
        }
        return true;
      case DM_GETDEFID:
        result = MAKELRESULT(kIdPrint, DC_HASDEFID);
        return true;
      case WM_SETFOCUS:
        if (btnPrint_) SetFocus(btnPrint_);
        return true;
      case WM_CLOSE:  // the close box, Alt+F4: the request is never cancelled
      case kCloseRequest:
        RequestClose();
        return true;
      case WM_QUERYENDSESSION:  // the session may end; WM_ENDSESSION says whether it does
        result = TRUE;
        return true;
      case WM_ENDSESSION:
        if (wParam) EndOfSession();
        return true;
      case kRunTask:
        RunOneTask();
        return true;
      default:
        return false;
    }
  }

  // On the window's thread: marked, a waiting box taken away (its handler then ends the run as
  // closed), and the request itself handled now or after that handler.
  void RequestClose() {
    closeRequested_ = true;
    DismissBoxes();
    Raise([this] { handlers_.Form_QueryUnload(); });
  }

  // Windows may end the process as soon as this message is answered: the run ends here and now,
  // even in the middle of a handler that waits in a box. The close request decides the status
  // from where the job stands.
  void EndOfSession() {
    systemClose_ = true;
    closeRequested_ = true;
    try {
      if (handlers_.Form_QueryUnload) handlers_.Form_QueryUnload();
    } catch (...) {
      failure_ = std::current_exception();
      PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
    }
    DismissBoxes();  // an ending that returned (a test's): the waiting handler unwinds
  }

  // Message boxes are dialogs of this thread; ending one makes its MessageBoxW return.
  void DismissBoxes() {
    if (boxes_ == 0) return;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM) -> BOOL {
          wchar_t kind[16] = {};
          GetClassNameW(window, kind, 16);
          if (lstrcmpW(kind, L"#32770") == 0) EndDialog(window, IDCANCEL);
          return TRUE;
        },
        0);
  }

  // A window event: run now, or after the handler that is waiting in a message box.
  void Raise(std::function<void()> handler) {
    if (depth_ > 0 || failure_) {
      Post(std::move(handler));
      return;
    }
    Dispatch(handler);
  }

  void Dispatch(const std::function<void()>& handler) {
    ++depth_;
    try {
      if (handler) handler();
    } catch (...) {
      failure_ = std::current_exception();
      // Wakes the loop so that it sees the failure; a quit message would outlive the run and
      // end the next message box of this thread at once.
      PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
    }
    --depth_;
    Wake();
  }

  // One task per message, so that painting and input keep their turn between tasks.
  void RunOneTask() {
    {
      std::lock_guard lock(mutex_);
      wakePosted_ = false;
    }
    if (depth_ > 0 || failure_) return;  // Dispatch wakes us again when the handler is done
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    Dispatch(task);
  }

  // From any thread: only what the mutex guards is read here.
  void Wake() {
    std::lock_guard lock(mutex_);
    if (wakePosted_ || tasks_.empty() || !taskWindow_) return;
    wakePosted_ = PostMessageW(taskWindow_, kRunTask, 0, 0) != FALSE;
  }

  int Pixels(int twips) const { return MulDiv(twips, dpi_, kTwipsPerInch); }

  void CreateFonts() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
      dialogFont_ = CreateFontIndirectW(&metrics.lfMessageFont);
    }
    LOGFONTW info{};
    info.lfHeight = -MulDiv(kInfoPointsTimes100, dpi_, 72 * 100);
    info.lfWeight = FW_NORMAL;
    info.lfCharSet = RUSSIAN_CHARSET;
    info.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(info.lfFaceName, L"Tahoma", LF_FACESIZE);
    infoFont_ = CreateFontIndirectW(&info);
  }

  HWND CreateControl(const wchar_t* kind, const std::string& text, const Twips& at, int id,
                     DWORD style, DWORD exStyle, HFONT font) {
    const HWND control =
        CreateWindowExW(exStyle, kind, Utf8ToWide(text).c_str(), WS_CHILD | style, Pixels(at.left),
                        Pixels(at.top), Pixels(at.width), Pixels(at.height), window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (control) {
      const HFONT use = font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(use), FALSE);
    }
    return control;
  }

  // A fixed dialog: its system menu offers moving and closing only.
  void TrimSystemMenu() {
    const HMENU menu = GetSystemMenu(window_, FALSE);
    if (!menu) return;
    for (UINT command : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) {
      DeleteMenu(menu, command, MF_BYCOMMAND);
    }
  }

  void Centre() {
    RECT frame;
    GetWindowRect(window_, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  HINSTANCE instance_;
  int dpi_;
  HWND owner_ = nullptr;
  HWND window_ = nullptr;
  HWND btnPrint_ = nullptr;
  HWND listOfEvents_ = nullptr;
  HWND lblInfo_ = nullptr;
  HFONT dialogFont_ = nullptr;
  HFONT infoFont_ = nullptr;
  WindowHandlers handlers_;
  int depth_ = 0;  // handlers running now: 1 in a handler, 2 in a message box of one
  int boxes_ = 0;  // message boxes waiting for the operator
  std::exception_ptr failure_;
  std::atomic<bool> closeRequested_ = false;
  std::atomic<bool> systemClose_ = false;  // the console or the session, not the operator

  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool wakePosted_ = false;
  HWND taskWindow_ = nullptr;  // where tasks are posted, from any thread; window_ is ours alone
};

bool RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(instance, kWindowClass, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = Win32FrontEnd::WindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconResource), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  return RegisterClassExW(&wc) != 0;
}

}  // namespace

std::unique_ptr<FrontEnd> MakeDesktopFrontEnd(ProgramEnd&) {
  // We lay the window out for the screen's real DPI ourselves; without this Windows would
  // stretch a 96 DPI bitmap of it.
  SetProcessDPIAware();
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterWindowClass(instance)) return nullptr;
  auto frontEnd = std::make_unique<Win32FrontEnd>(instance, ScreenDpi());
  if (!frontEnd->Create()) return nullptr;
  return frontEnd;
}

}  // namespace zelmo
