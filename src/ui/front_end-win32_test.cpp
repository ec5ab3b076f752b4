// The Win32 front-end, looked at through the window system as another program would see it: the
// window's design, its events, the message boxes, and the one-at-a-time rule of the handlers.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sys/wide-win32.h"
#include "ui/fakes_test.h"
#include "ui/front_end.h"

namespace zelmo {
namespace {

using testing::ProgramEnded;
using testing::RecordingEnd;
using namespace std::chrono_literals;

std::string TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return WideToUtf8(text);
}

std::string ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return WideToUtf8(name);
}

int Dpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int Pixels(int twips) {
  return MulDiv(twips, Dpi(), 1440);
}

// The one frmMain window of this thread.
HWND MainWindow() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM result) {
        if (ClassOf(window) != "ZelmoFrmMain") return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

// The children in tab order.
std::vector<HWND> Controls(HWND window) {
  std::vector<HWND> controls;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    controls.push_back(child);
  }
  return controls;
}

RECT ClientRectOf(HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

void ExpectPlacedAt(HWND control, int left, int top, int width, int height) {
  const RECT r = ClientRectOf(control);
  EXPECT_EQ(r.left, Pixels(left)) << ClassOf(control);
  EXPECT_EQ(r.top, Pixels(top)) << ClassOf(control);
  EXPECT_EQ(r.right - r.left, Pixels(width)) << ClassOf(control);
  EXPECT_EQ(r.bottom - r.top, Pixels(height)) << ClassOf(control);
}

class Win32FrontEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui_ = MakeDesktopFrontEnd(end_);
    ASSERT_TRUE(ui_);
    window_ = MainWindow();
    ASSERT_TRUE(window_);
    controls_ = Controls(window_);
    ASSERT_EQ(controls_.size(), 3u);
  }

  // Runs the front-end with `handlers` until a handler ends the program; the status it ended with.
  std::optional<ExitStatus> RunToEnd(WindowHandlers handlers) {
    if (!handlers.Form_QueryUnload) {
      handlers.Form_QueryUnload = [this] { end_.End(ExitStatus::kClosedBeforeSend); };
    }
    try {
      ui_->Run(handlers);
      ADD_FAILURE() << "the run ended without ProgramEnd";
    } catch (const ProgramEnded& ended) {
      return ended.status;
    }
    return std::nullopt;
  }

  HWND button() const { return controls_[0]; }
  HWND list() const { return controls_[1]; }
  HWND label() const { return controls_[2]; }

  RecordingEnd end_;
  std::unique_ptr<FrontEnd> ui_;
  HWND window_ = nullptr;
  std::vector<HWND> controls_;
};

TEST_F(Win32FrontEndTest, WindowIsTheSmallFixedDialogOfTheDesign) {
  EXPECT_EQ(TextOf(window_), "Зелмо");
  const LONG style = GetWindowLongW(window_, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
  // Owned by a window that is never shown: no taskbar button of its own.
  const HWND owner = GetWindow(window_, GW_OWNER);
  ASSERT_TRUE(owner);
  EXPECT_FALSE(IsWindowVisible(owner));
  EXPECT_FALSE(IsWindowVisible(window_));

  RECT client;
  GetClientRect(window_, &client);
  EXPECT_EQ(client.right, Pixels(4020));
  EXPECT_EQ(client.bottom, Pixels(900));

  EXPECT_EQ(ClassOf(button()), "Button");
  EXPECT_EQ(TextOf(button()), "Печати");
  EXPECT_TRUE(IsWindowVisible(button()) || !IsWindowVisible(window_));
  EXPECT_EQ(GetWindowLongW(button(), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);
  ExpectPlacedAt(button(), 2865, 525, 1125, 345);

  EXPECT_EQ(ClassOf(list()), "ListBox");
  EXPECT_EQ(GetWindowLongW(list(), GWL_STYLE) & WS_VISIBLE, 0);
  ExpectPlacedAt(list(), 30, 30, 2835, 840);

  EXPECT_EQ(ClassOf(label()), "Static");
  EXPECT_EQ(TextOf(label()), "Спремно за печатење на фискална сметка");
  ExpectPlacedAt(label(), 90, 120, 3795, 285);
  LOGFONTW font{};
  ASSERT_TRUE(GetObjectW(reinterpret_cast<HFONT>(SendMessageW(label(), WM_GETFONT, 0, 0)),
                         sizeof font, &font));
  EXPECT_EQ(WideToUtf8(font.lfFaceName), "Tahoma");
  EXPECT_EQ(font.lfHeight, -MulDiv(975, Dpi(), 7200));  // 9.75 points
  EXPECT_EQ(font.lfCharSet, RUSSIAN_CHARSET);
  EXPECT_EQ(font.lfWeight, FW_NORMAL);
  EXPECT_FALSE(font.lfItalic || font.lfUnderline || font.lfStrikeOut);
}

TEST_F(Win32FrontEndTest, ShownCentredAndHiddenAgain) {
  ui_->Show();
  EXPECT_TRUE(IsWindowVisible(window_));
  EXPECT_TRUE(IsWindowVisible(button()));
  EXPECT_FALSE(IsWindowVisible(list()));
  RECT frame;
  GetWindowRect(window_, &frame);
  EXPECT_NEAR((frame.left + frame.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_NEAR((frame.top + frame.bottom) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 1);
  ui_->Hide();
  EXPECT_FALSE(IsWindowVisible(window_));
  ui_->Unload();
  EXPECT_FALSE(IsWindow(window_));
  ui_->SetLabel("after");  // a window that is gone takes nothing amiss
}

TEST_F(Win32FrontEndTest, LabelListAndButtonTakeWhatTheRunGivesThem) {
  ui_->SetLabel("Ја печатам 1-та сметка");
  EXPECT_EQ(TextOf(label()), "Ја печатам 1-та сметка");
  ui_->AddEvent("ACK");
  ui_->AddEvent("4 (Change in the DSR line.)0");
  ASSERT_EQ(SendMessageW(list(), LB_GETCOUNT, 0, 0), 2);
  wchar_t line[64] = {};
  SendMessageW(list(), LB_GETTEXT, 1, reinterpret_cast<LPARAM>(line));
  EXPECT_EQ(WideToUtf8(line), "4 (Change in the DSR line.)0");
  ui_->SetPrintEnabled(false);
  EXPECT_FALSE(IsWindowEnabled(button()));
  ui_->SetPrintEnabled(true);
  EXPECT_TRUE(IsWindowEnabled(button()));
}

TEST_F(Win32FrontEndTest, LoadComesFirstThenPostedTasksInOrderOnTheLoopsThread) {
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  WindowHandlers handlers;
  handlers.Form_Load = [&] {
    order.push_back(0);
    std::thread poster([&] {
      for (int i = 1; i <= 50; ++i) {
        ui_->Post([&, i] {
          order.push_back(i);
          threads.push_back(std::this_thread::get_id());
        });
      }
      ui_->Post([&] { end_.End(ExitStatus::kSent); });
    });
    poster.join();
    order.push_back(-1);  // posted tasks wait for the handler that runs
  };
  EXPECT_EQ(RunToEnd(handlers), ExitStatus::kSent);
  ASSERT_EQ(order.size(), 52u);
  EXPECT_EQ(order[0], 0);
  EXPECT_EQ(order[1], -1);
  for (int i = 1; i <= 50; ++i) EXPECT_EQ(order[i + 1], i);
  for (auto id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(Win32FrontEndTest, CloseBoxRunsTheCloseRequest) {
  WindowHandlers handlers;
  handlers.Form_Load = [&] {
    ui_->Show();
    PostMessageW(window_, WM_SYSCOMMAND, SC_CLOSE, 0);
  };
  handlers.Form_QueryUnload = [&] {
    EXPECT_TRUE(IsWindow(window_));  // the request alone destroys nothing
    end_.End(ExitStatus::kClosedBeforeSend);
  };
  EXPECT_EQ(RunToEnd(handlers), ExitStatus::kClosedBeforeSend);
}

TEST_F(Win32FrontEndTest, ButtonRunsItsHandlerOnAClickAndOnEnter) {
  int clicks = 0;
  WindowHandlers handlers;
  handlers.Form_Load = [&] {
    ui_->Show();
    PostMessageW(button(), BM_CLICK, 0, 0);
  };
  handlers.btnPrint_Click = [&] {
    if (++clicks == 1) {
      PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
      PostMessageW(GetFocus(), WM_KEYUP, VK_RETURN, 0);
      return;
    }
    end_.End(ExitStatus::kSent);
  };
  EXPECT_EQ(RunToEnd(handlers), ExitStatus::kSent);
  EXPECT_EQ(clicks, 2);
}

// The message box this thread shows, once it is there.
HWND WaitForMessageBox(DWORD thread) {
  for (int i = 0; i < 500; ++i) {
    HWND found = nullptr;
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM result) {
          if (ClassOf(window) != "#32770" || !IsWindowVisible(window)) return TRUE;
          *reinterpret_cast<HWND*>(result) = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    if (found) return found;
    std::this_thread::sleep_for(10ms);
  }
  return nullptr;
}

struct BoxCase {
  MsgStyle style;
  std::vector<int> buttons;
  int defaultButton;
  int press;
  MsgAnswer answer;
};

TEST_F(Win32FrontEndTest, MessageBoxesHaveTheirButtonsAndHoldBackEverythingElse) {
  const BoxCase cases[] = {
      {MsgStyle::kInformation, {IDOK}, IDOK, IDOK, MsgAnswer::kOk},
      {MsgStyle::kError, {IDOK}, IDOK, IDOK, MsgAnswer::kOk},
      {MsgStyle::kQuestion, {IDYES, IDNO}, IDYES, IDYES, MsgAnswer::kYes},
      {MsgStyle::kQuestion, {IDYES, IDNO}, IDYES, IDNO, MsgAnswer::kNo},
      {MsgStyle::kPlain, {IDOK}, IDOK, IDOK, MsgAnswer::kOk},
  };
  const DWORD uiThread = GetCurrentThreadId();
  std::vector<std::string> order;
  WindowHandlers handlers;
  handlers.Form_Load = [&] {
    for (const auto& c : cases) {
      std::thread operatorThread([&] {
        const HWND box = WaitForMessageBox(uiThread);
        if (!box) return;
        EXPECT_EQ(TextOf(box), c.style == MsgStyle::kPlain ? "Zelmo" : "Наслов");
        for (int id : c.buttons) EXPECT_TRUE(GetDlgItem(box, id)) << id;
        EXPECT_EQ(GetWindowLongW(GetDlgItem(box, c.defaultButton), GWL_STYLE) & BS_TYPEMASK,
                  BS_DEFPUSHBUTTON);
        // A reply of the register while the operator thinks: it waits for the handler.
        ui_->Post([&] { order.push_back("reply"); });
        std::this_thread::sleep_for(50ms);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(c.press, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, c.press)));
      });
      const MsgAnswer answer =
          ui_->MsgBox("Текст\r\nна два реда", c.style, c.style == MsgStyle::kPlain ? "" : "Наслов");
      operatorThread.join();
      EXPECT_EQ(answer, c.answer);
      order.push_back("answered");
    }
    ui_->Post([&] { end_.End(ExitStatus::kSent); });
  };
  EXPECT_EQ(RunToEnd(handlers), ExitStatus::kSent);
  std::vector<std::string> expected(std::size(cases), "answered");
  expected.insert(expected.end(), std::size(cases), "reply");
  EXPECT_EQ(order, expected);
}

// A close request (the close box, the console's Ctrl+C) while a question waits takes the box
// away: the question has no answer, and the request is handled once the handler is done.
TEST_F(Win32FrontEndTest, ACloseRequestTakesAWaitingQuestionAway) {
  const DWORD uiThread = GetCurrentThreadId();
  bool dismissed = false, seenLastBox = false;
  WindowHandlers handlers;
  handlers.Form_Load = [&] {
    ui_->Show();
    std::thread operatorThread([&] {
      if (WaitForMessageBox(uiThread)) PostMessageW(window_, WM_CLOSE, 0, 0);
    });
    try {
      ui_->MsgBox("Да продолжам?", MsgStyle::kQuestion, "");
    } catch (const DismissedByClose&) {
      dismissed = true;
    }
    operatorThread.join();
    EXPECT_TRUE(ui_->CloseRequested());
    // No new question waits for anyone once the program is asked to close; the operator who
    // closed the window still reads why the run ended.
    EXPECT_THROW(ui_->MsgBox("Уште едно?", MsgStyle::kQuestion, ""), DismissedByClose);
    std::thread reader([&] {
      const HWND box = WaitForMessageBox(uiThread);
      if (!box) return;
      seenLastBox = true;
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    });
    EXPECT_EQ(ui_->MsgBox("Крај.", MsgStyle::kError, ""), MsgAnswer::kOk);
    reader.join();
  };
  EXPECT_EQ(RunToEnd(handlers), ExitStatus::kClosedBeforeSend);
  EXPECT_TRUE(dismissed);
  EXPECT_TRUE(seenLastBox);
}

// Windows may end the process as soon as WM_ENDSESSION is answered: the close request runs at
// once, even while a handler waits in a box, and the run's end is decided there.
TEST_F(Win32FrontEndTest, TheEndOfTheSessionEndsTheRunAtOnce) {
  const DWORD uiThread = GetCurrentThreadId();
  bool inBox = false, closedInBox = false;
  LRESULT query = 0;
  WindowHandlers handlers;
  handlers.Form_Load = [&] {
    std::thread session([&] {
      const HWND box = WaitForMessageBox(uiThread);
      if (!box) return;
      query = SendMessageW(window_, WM_QUERYENDSESSION, 0, 0);
      SendMessageW(window_, WM_ENDSESSION, TRUE, 0);
      // The test's own end returns, so the box is still there to be answered.
      if (IsWindow(box)) {
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, IDYES)));
      }
    });
    inBox = true;
    EXPECT_THROW(ui_->MsgBox("Да продолжам?", MsgStyle::kQuestion, ""), DismissedByClose);
    inBox = false;
    session.join();
  };
  handlers.Form_QueryUnload = [&] {
    closedInBox = inBox;
    end_.End(ExitStatus::kCutOff);
  };
  EXPECT_EQ(RunToEnd(handlers), ExitStatus::kCutOff);
  EXPECT_EQ(query, TRUE);
  EXPECT_TRUE(closedInBox);
}

}  // namespace
}  // namespace zelmo
