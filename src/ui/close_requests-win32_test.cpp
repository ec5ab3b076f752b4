// The session's end as Windows tells it to a run without a window: the messages are sent to the
// watch's hidden window here, as Windows sends them when the user logs off.
#include "ui/close_requests-win32.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace zelmo {
namespace {

using namespace std::chrono_literals;

class SessionEndWatchTest : public ::testing::Test {
 protected:
  // Sends `message` and says whether it was answered within `patience`, with what.
  static bool Answered(HWND window, UINT message, WPARAM wParam, DWORD_PTR* result,
                       UINT patience = 2000) {
    return SendMessageTimeoutW(window, message, wParam, ENDSESSION_LOGOFF, SMTO_NORMAL, patience,
                               result) != 0;
  }

  bool RequestedWithin(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (requests_ == 0 && std::chrono::steady_clock::now() < deadline) Sleep(10);
    return requests_ > 0;
  }

  std::atomic<int> requests_{0};
  std::promise<void> letGo_;
  std::shared_future<void> released_ = letGo_.get_future().share();
};

TEST_F(SessionEndWatchTest, WindowIsHiddenAndTopLevelSoTheSessionsEndReachesIt) {
  SessionEndWatch watch([] {}, [] {});
  ASSERT_NE(watch.window(), nullptr);
  EXPECT_FALSE(IsWindowVisible(watch.window()));
  // A message-only window would have another parent, and never hear of the session's end.
  EXPECT_EQ(GetAncestor(watch.window(), GA_PARENT), GetDesktopWindow());
  EXPECT_NE(GetWindowThreadProcessId(watch.window(), nullptr), GetCurrentThreadId());
}

TEST_F(SessionEndWatchTest, OnlyASessionThatEndsIsACloseRequestAndTheAnswerWaitsForTheRun) {
  // Bounded, so that a failing test ends rather than hold for ever.
  auto hold = [f = released_] { f.wait_for(10s); };
  SessionEndWatch watch([this] { ++requests_; }, hold);
  ASSERT_NE(watch.window(), nullptr);
  DWORD_PTR result = 0;
  // Asked whether it may end, the run agrees and goes on; a session that goes on after all
  // asks nothing of it.
  ASSERT_TRUE(Answered(watch.window(), WM_QUERYENDSESSION, 0, &result));
  EXPECT_EQ(result, static_cast<DWORD_PTR>(TRUE));
  ASSERT_TRUE(Answered(watch.window(), WM_ENDSESSION, FALSE, &result));
  EXPECT_EQ(requests_, 0);
  // The session ends: the request is made, and the message stays unanswered (Windows would end
  // the process once it is) until the run lets go.
  EXPECT_FALSE(Answered(watch.window(), WM_ENDSESSION, TRUE, &result, 300));
  ASSERT_TRUE(RequestedWithin(5s));
  EXPECT_EQ(requests_, 1);
  letGo_.set_value();
}

}  // namespace
}  // namespace zelmo
