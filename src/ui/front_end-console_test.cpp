// The headless front-end on its own: questions answered from input, the print button and the end
// of input in the shown mode, and close requests that come while a question waits.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "ui/fakes_test.h"
#include "ui/front_end.h"

namespace zelmo {
namespace {

// Input that arrives when the test says, as a terminal's would.
class Input {
 public:
  void Line(const std::string& line) {
    std::lock_guard<std::mutex> lock(mu_);
    lines_.push_back(line);
    cv_.notify_all();
  }
  void End() {
    std::lock_guard<std::mutex> lock(mu_);
    ended_ = true;
    cv_.notify_all();
  }
  std::optional<std::string> Next() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [this] { return !lines_.empty() || ended_; });
    if (lines_.empty()) return std::nullopt;
    std::string line = lines_.front();
    lines_.pop_front();
    return line;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::string> lines_;
  bool ended_ = false;
};

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[512];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  return text;
}

// Thrown by a handler to leave the loop, which otherwise runs until the program ends.
struct LeaveLoop {};

class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    ConsoleIo io;
    io.readLine = [this] { return input_.Next(); };
    io.out = out_;
    io.err = err_;
    io.watchCloseRequests = [this](std::function<void()> request) { close_ = std::move(request); };
    ui_ = MakeConsoleFrontEnd(end_, std::move(io));
  }
  void TearDown() override {
    input_.End();
    ui_.reset();
    std::fclose(out_);
    std::fclose(err_);
  }

  testing::RecordingEnd end_;
  Input input_;
  std::FILE* out_ = std::tmpfile();
  std::FILE* err_ = std::tmpfile();
  std::function<void()> close_;
  std::unique_ptr<FrontEnd> ui_;
};

TEST_F(Console, AQuestionIsAnsweredByTheNextLine) {
  struct Case {
    std::optional<std::string> line;  // nothing: the end of input
    MsgAnswer answer;
  } cases[] = {
      {"", MsgAnswer::kYes},          {"y", MsgAnswer::kYes},         {"Да\r", MsgAnswer::kYes},
      {"ДА ", MsgAnswer::kYes},       {"n", MsgAnswer::kNo},          {"не", MsgAnswer::kNo},
      {"yes please", MsgAnswer::kNo}, {std::nullopt, MsgAnswer::kNo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.value_or("(end of input)"));
    if (c.line) {
      input_.Line(*c.line);
    } else {
      input_.End();
    }
    EXPECT_EQ(ui_->MsgBox("Да продолжам?\r\nДа или не", MsgStyle::kQuestion, "Прашање"), c.answer);
  }
  EXPECT_EQ(ui_->MsgBox("Готово.", MsgStyle::kInformation, ""), MsgAnswer::kOk);
  const std::string err = Contents(err_);
  EXPECT_EQ(err.rfind("Прашање\nДа продолжам?\nДа или не\n", 0), 0u) << err;
  EXPECT_NE(err.find("Zelmo\nГотово.\n"), std::string::npos) << err;
}

TEST_F(Console, ACloseRequestTakesAWaitingQuestionAwayAndIsHandledInItsTurn) {
  int closes = 0;
  WindowHandlers handlers;
  handlers.Form_Load = [&] {
    std::thread signal([&] { close_(); });  // the watcher's thread, while the question waits
    EXPECT_THROW(ui_->MsgBox("Да продолжам?", MsgStyle::kQuestion, ""), DismissedByClose);
    signal.join();
    EXPECT_TRUE(ui_->CloseRequested());
  };
  handlers.Form_QueryUnload = [&] {
    ++closes;
    throw LeaveLoop();
  };
  EXPECT_FALSE(ui_->CloseRequested());
  EXPECT_THROW(ui_->Run(handlers), LeaveLoop);
  EXPECT_EQ(closes, 1);
}

TEST_F(Console, ShownALineIsThePrintButtonAndTheEndOfInputACloseRequest) {
  std::vector<std::string> seen;
  WindowHandlers handlers;
  handlers.Form_Load = [&] { ui_->Show(); };
  handlers.btnPrint_Click = [&] { seen.push_back("print"); };
  handlers.Form_QueryUnload = [&] {
    seen.push_back("close");
    throw LeaveLoop();
  };
  input_.Line("");
  input_.Line("again");
  input_.End();
  EXPECT_THROW(ui_->Run(handlers), LeaveLoop);
  EXPECT_EQ(seen, (std::vector<std::string>{"print", "print", "close"}));

  EXPECT_NE(Contents(err_).find("Спремно за печатење на фискална сметка\n"), std::string::npos);
}

TEST_F(Console, TasksPostedFromOtherThreadsRunOnTheLoopInOrder) {
  std::vector<int> order;
  const std::thread::id loop = std::this_thread::get_id();
  WindowHandlers handlers;
  handlers.Form_Load = [&] {
    std::thread poster([&] {
      for (int i = 0; i < 100; ++i) {
        ui_->Post([&, i] {
          EXPECT_EQ(std::this_thread::get_id(), loop);
          order.push_back(i);
          if (i == 99) throw LeaveLoop();
        });
      }
    });
    poster.join();
  };
  EXPECT_THROW(ui_->Run(handlers), LeaveLoop);
  ASSERT_EQ(order.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

TEST_F(Console, TheEventListGoesToItsOwnStreamOneLineEach) {
  ui_->AddEvent("ACK");
  ui_->AddEvent(std::string("KOD= A-\n", 8));
  ui_->SetLabel("Ја печатам 1-та сметка");
  EXPECT_EQ(Contents(out_), "ACK\nKOD= A-\\x0A\n");
  EXPECT_EQ(Contents(err_), "Ја печатам 1-та сметка\n");
}

}  // namespace
}  // namespace zelmo
