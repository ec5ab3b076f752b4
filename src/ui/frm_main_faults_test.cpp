// A noisy line through the window's handlers: floods of line events and replies that release
// nothing must neither move the job nor break its log, and the job must still go through after.
// A pseudo-terminal raises no line events, so this is where a flood of them is tried.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "app/startup.h"
#include "device/frames.h"
#include "ui/fakes_test.h"
#include "ui/frm_main.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;
using testing::FakePort;
using testing::FakeWindow;
using testing::RecordingEnd;

class Flood : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("zelmo-flood-" + std::to_string(random()));
    fs::create_directories(folder_);
    std::ofstream(folder_ / kIniFileName, std::ios::binary)
        << "[Parametri]\r\nSeriska=1\r\nPrikaziForma=0\r\nDelimiter=;\r\nClear=1\r\n";
    std::ofstream(folder_ / kReceiptFileName, std::ios::binary) << "Bread;1;A;30\r\n";
    frm_ = std::make_unique<FrmMain>(window_, end_, folder_, [this](CommListener&) {
      auto port = std::make_unique<FakePort>();
      port_ = port.get();
      return port;
    });
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Runs one handler; the status the program ended with, if it ended.
  std::optional<ExitStatus> Do(const std::function<void(FrmMain&)>& handler) {
    return testing::StatusOf([&] { handler(*frm_); });
  }
  std::optional<ExitStatus> Event(int16_t number) {
    return Do([number](FrmMain& f) { f.Comm_OnComm(number); });
  }
  std::optional<ExitStatus> Reply(const std::string& bytes) {
    port_->input = bytes;
    return Event(comEvReceive);
  }

  fs::path folder_;
  FakeWindow window_;
  RecordingEnd end_;
  FakePort* port_ = nullptr;
  std::unique_ptr<FrmMain> frm_;
};

// Every event number the control can report, logged or not, and some it never should.
constexpr int16_t kEvents[] = {1,    3,    4,    5,    6, 7, 1001, 1002, 1003, 1004,  1006,  1007,
                               1008, 1009, 1010, 1011, 0, 8, 1005, -1,   1000, 32767, -32768};

TEST_F(Flood, LineEventsAndRepliesThatReleaseNothingMoveNothingAndLogOneLineEach) {
  ASSERT_EQ(Do([](FrmMain& f) { f.Form_Load(); }), std::nullopt);
  ASSERT_EQ(port_->written.size(), 1u);  // ENQ, waiting for its answer

  // Counted by hand, not by the code under test: of kEvents, 1, 3 to 6, 1001 to 1004 and 1006 to
  // 1010 make a line (14); of the replies, the NAK and the ETB make one each, the empty read none.
  constexpr int kRounds = 2000;
  constexpr std::size_t logged = kRounds * (14 + 2);
  for (int round = 0; round < kRounds; ++round) {
    for (const int16_t e : kEvents) ASSERT_EQ(Event(e), std::nullopt) << e;
    ASSERT_EQ(Reply(""), std::nullopt);  // an event whose bytes an earlier read took
    ASSERT_EQ(Reply("\x15"), std::nullopt);
    ASSERT_EQ(Reply(std::string(1000, '\x17')), std::nullopt);
  }
  EXPECT_EQ(port_->written.size(), 1u);
  EXPECT_EQ(frm_->state().iSendPos, 0);
  ASSERT_EQ(window_.events.size(), logged);
  EXPECT_EQ(window_.events[1], "3 (Change in the CTS line.)0");
  EXPECT_EQ(window_.events[2], "4 (Change in the DSR line.)0");
  EXPECT_EQ(window_.events[logged - 2], "NAK");
  EXPECT_EQ(window_.events[logged - 1], "ETB");

  // A thousand ACKs in one read release one command: a burst cannot skip the job ahead.
  EXPECT_EQ(Reply(std::string(1000, '\x06')), std::nullopt);
  EXPECT_EQ(port_->written.size(), 2u);
  EXPECT_EQ(port_->written[1], BuildOpeningFrame());

  std::optional<ExitStatus> ended;
  for (int i = 0; i < 100 && !ended; ++i) {
    for (const int16_t e : kEvents) ASSERT_EQ(Event(e), std::nullopt);
    ended = Reply("\x06");
  }
  EXPECT_EQ(ended, ExitStatus::kSent);
  ASSERT_EQ(port_->written.size(), 8u);  // the job once, whole
  EXPECT_EQ(port_->written[7], "\x04");
  EXPECT_FALSE(fs::exists(folder_ / kReceiptFileName));
}

}  // namespace
}  // namespace zelmo
