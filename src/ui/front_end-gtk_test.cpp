// The GTK front-end's loop and its ways around a missing display, without a display: the loop is
// GLib's alone until a window or a box is needed. The window itself is tested on a virtual X
// server (tests/gtk).
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ui/fakes_test.h"
#include "ui/front_end.h"

namespace zelmo {
namespace {

// Thrown by a handler to end Run, as the program's end does in tests.
struct Stop {
  std::string why;
};

// Sets the display variables for one test and puts them back afterwards.
class GtkFrontEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) Set(name.c_str(), value);
  }
  static void Set(const char* name, const std::optional<std::string>& value) {
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  // A display name that GTK cannot open, so that nothing here depends on a desktop.
  std::unique_ptr<FrontEnd> UnreachableDesktop() {
    Set("DISPLAY", ":424242");
    Set("WAYLAND_DISPLAY", std::nullopt);
    Set("GDK_BACKEND", "x11");
    return MakeDesktopFrontEnd(end_);
  }

  static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "GDK_BACKEND"};
  std::map<std::string, std::optional<std::string>> saved_;
  testing::RecordingEnd end_;
};

// Runs `ui` with `onLoad` as Form_Load and the close request throwing Stop{"close"}; returns why
// the run stopped.
std::string RunUntilStopped(FrontEnd& ui, std::function<void()> onLoad) {
  WindowHandlers handlers{std::move(onLoad), [] { throw Stop{"close"}; },
                          [] { throw Stop{"print"}; }};
  try {
    ui.Run(handlers);
  } catch (const Stop& stop) {
    return stop.why;
  }
  return "Run returned";
}

TEST_F(GtkFrontEnd, TheDesktopIsChosenOnlyWhenADisplayIsNamed) {
  struct Case {
    std::optional<std::string> x11, wayland;
    bool desktop;
  } cases[] = {
      {std::nullopt, std::nullopt, false}, {"", "", false},         {":0", std::nullopt, true},
      {std::nullopt, "wayland-0", true},   {"", "wayland-0", true},
  };
  for (const Case& c : cases) {
    Set("DISPLAY", c.x11);
    Set("WAYLAND_DISPLAY", c.wayland);
    EXPECT_EQ(MakeDesktopFrontEnd(end_) != nullptr, c.desktop)
        << "DISPLAY=" << c.x11.value_or("(unset)")
        << " WAYLAND_DISPLAY=" << c.wayland.value_or("(unset)");
  }
}

TEST_F(GtkFrontEnd, TasksFromOtherThreadsRunOnTheLoopInTheirOrder) {
  std::unique_ptr<FrontEnd> ui = UnreachableDesktop();
  ASSERT_NE(ui, nullptr) << "this build has no GTK front-end";
  const std::thread::id loopThread = std::this_thread::get_id();
  constexpr int kThreads = 3, kTasks = 200;
  std::vector<std::vector<int>> seen(kThreads);
  int ran = 0;
  bool offLoop = false;
  std::vector<std::thread> posters;
  const std::string why = RunUntilStopped(*ui, [&] {
    for (int t = 0; t < kThreads; ++t) {
      posters.emplace_back([&, t] {
        for (int i = 0; i < kTasks; ++i) {
          ui->Post([&, t, i] {
            offLoop |= std::this_thread::get_id() != loopThread;
            seen[t].push_back(i);
            if (++ran == kThreads * kTasks) throw Stop{"all ran"};
          });
        }
      });
    }
  });
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(why, "all ran");
  EXPECT_FALSE(offLoop);
  for (const std::vector<int>& order : seen) {
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i) EXPECT_EQ(order[i], i);
  }
}

// A handler that fails stops the loop while other threads still post: the failure leaves Run, and
// what was posted after it never runs.
TEST_F(GtkFrontEnd, AFailingHandlerEndsTheLoopWhileOthersPost) {
  std::unique_ptr<FrontEnd> ui = UnreachableDesktop();
  ASSERT_NE(ui, nullptr) << "this build has no GTK front-end";
  std::atomic<bool> stop = false;
  std::vector<std::thread> posters;
  int ranAfter = 0;
  bool failed = false;
  const std::string why = RunUntilStopped(*ui, [&] {
    for (int t = 0; t < 2; ++t) {
      posters.emplace_back([&] {
        while (!stop) ui->Post([&] { ++ranAfter; });
      });
    }
    ui->Post([&] {
      failed = true;
      throw Stop{"failed"};
    });
  });
  stop = true;
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(why, "failed");
  EXPECT_TRUE(failed);
}

// A message box runs a loop of its own inside the handler that shows it; the port's events must
// wait until that handler has returned.
TEST_F(GtkFrontEnd, NoTaskRunsWhileAHandlerWaitsInANestedLoop) {
  std::unique_ptr<FrontEnd> ui = UnreachableDesktop();
  ASSERT_NE(ui, nullptr) << "this build has no GTK front-end";
  std::vector<std::string> order;
  const std::string why = RunUntilStopped(*ui, [&] {
    ui->Post([&] {
      order.push_back("posted task");
      throw Stop{"done"};
    });
    for (int i = 0; i < 100; ++i) g_main_context_iteration(nullptr, FALSE);
    order.push_back("load returns");
  });
  EXPECT_EQ(why, "done");
  EXPECT_EQ(order, (std::vector<std::string>{"load returns", "posted task"}));
}

TEST_F(GtkFrontEnd, ATerminatingSignalIsACloseRequest) {
  std::unique_ptr<FrontEnd> ui = UnreachableDesktop();
  ASSERT_NE(ui, nullptr) << "this build has no GTK front-end";
  EXPECT_EQ(RunUntilStopped(*ui, [] { raise(SIGTERM); }), "close");
}

// The request is marked the moment GLib sees the signal, even while a handler still runs, and
// no new question may hold the program after it; what is left to say is printed.
TEST_F(GtkFrontEnd, ACloseRequestIsMarkedAtOnceAndNoQuestionWaitsAfterIt) {
  std::unique_ptr<FrontEnd> ui = UnreachableDesktop();
  ASSERT_NE(ui, nullptr) << "this build has no GTK front-end";
  bool marked = false, refused = false;
  MsgAnswer told = MsgAnswer::kNo;
  ::testing::internal::CaptureStderr();
  const std::string why = RunUntilStopped(*ui, [&] {
    raise(SIGTERM);
    marked = ui->CloseRequested();  // while this handler still runs
    try {
      ui->MsgBox("Да продолжам?", MsgStyle::kQuestion, "");
    } catch (const DismissedByClose&) {
      refused = true;
    }
    told = ui->MsgBox("Крај.", MsgStyle::kError, "");
  });
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(why, "close");  // the request itself, once the handler was done
  EXPECT_TRUE(marked);
  EXPECT_TRUE(refused);
  EXPECT_EQ(told, MsgAnswer::kOk);
  EXPECT_NE(err.find("Zelmo\nКрај.\n"), std::string::npos) << err;
}

// The display went away after the start: boxes are printed as on the console and a question
// nobody can see is refused; the window cannot be shown, which the caller reports.
TEST_F(GtkFrontEnd, WithoutTheDisplayBoxesArePrintedAndShowFails) {
  std::unique_ptr<FrontEnd> ui = UnreachableDesktop();
  ASSERT_NE(ui, nullptr) << "this build has no GTK front-end";
  std::vector<MsgAnswer> answers;
  std::string showError;
  ::testing::internal::CaptureStderr();
  RunUntilStopped(*ui, [&] {
    answers.push_back(ui->MsgBox("First line\r\nSecond line", MsgStyle::kQuestion, ""));
    answers.push_back(ui->MsgBox("Стоп", MsgStyle::kError, "Наслов"));
    try {
      ui->Show();
    } catch (const std::runtime_error& e) {
      showError = e.what();
    }
    throw Stop{"done"};
  });
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(answers, (std::vector<MsgAnswer>{MsgAnswer::kNo, MsgAnswer::kOk}));
  EXPECT_NE(err.find("Zelmo\nFirst line\nSecond line\nНаслов\nСтоп\n"), std::string::npos) << err;
  EXPECT_NE(showError.find(":424242"), std::string::npos) << showError;
}

}  // namespace
}  // namespace zelmo
