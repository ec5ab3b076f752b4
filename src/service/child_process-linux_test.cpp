#include "service/child_process.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace zelmo::service {
namespace {

using namespace std::chrono_literals;

class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("zelmo-child-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Read(const std::string& name) {
    std::ifstream in(folder_ / name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::filesystem::path folder_;
};

TEST_F(ChildProcessTest, RunsInItsFolderWithInputAtItsEndAndReportsTheStatus) {
  auto child = StartChildProcess(
      "/bin/sh", {"-c", "pwd; if read line; then echo got; else echo none; fi; exit 3"}, folder_,
      folder_ / "out.log");
  EXPECT_EQ(child->WaitFor(10s), 3);
  EXPECT_EQ(child->WaitFor(0ms), 3);  // the status stays once taken
  EXPECT_EQ(Read("out.log"), std::filesystem::canonical(folder_).string() + "\nnone\n");
}

TEST_F(ChildProcessTest, WaitGivesUpInTimeAndAnEndRequestIsSigterm) {
  auto child = StartChildProcess("/bin/sleep", {"30"}, folder_, {});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(child->WaitFor(100ms), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  child->RequestEnd();
  EXPECT_EQ(child->WaitFor(10s), 128 + 15);
}

TEST_F(ChildProcessTest, AProgramThatCannotStartIsAnErrorWithTheReason) {
  try {
    StartChildProcess(folder_ / "no-such-program", {}, folder_, {});
    FAIL() << "started";
  } catch (const ChildProcessError& e) {
    EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
  }
  EXPECT_THROW(StartChildProcess("/bin/true", {}, folder_ / "missing-folder", {}),
               ChildProcessError);
}

}  // namespace
}  // namespace zelmo::service
