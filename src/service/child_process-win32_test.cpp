#include "service/child_process.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace zelmo::service {
namespace {

using namespace std::chrono_literals;

std::filesystem::path Cmd() {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  return std::filesystem::path(system) / L"cmd.exe";
}

class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("zelmo-child-" + std::to_string(GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  std::string Read(const std::string& name) {
    std::ifstream in(folder_ / name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  std::filesystem::path folder_;
};

TEST_F(ChildProcessTest, RunsInItsFolderAppendingItsOutputAndReportsTheStatus) {
  std::ofstream(folder_ / "out.log", std::ios::binary) << "before\r\n";
  auto child =
      StartChildProcess(Cmd(), {"/c", "cd", "&", "exit", "3"}, folder_, folder_ / "out.log");
  EXPECT_EQ(child->WaitFor(20s), 3);
  EXPECT_EQ(child->WaitFor(0ms), 3);  // the status stays once taken
  const std::string out = Read("out.log");
  ASSERT_TRUE(out.starts_with("before\r\n")) << out;
  std::string where = out.substr(8);
  while (!where.empty() && (where.back() == '\n' || where.back() == '\r')) where.pop_back();
  EXPECT_TRUE(std::filesystem::equivalent(where, folder_)) << where;
}

// A pause waits for a key: with standard input at its end it has none to wait for.
TEST_F(ChildProcessTest, StandardInputIsAtItsEnd) {
  auto child = StartChildProcess(Cmd(), {"/c", "pause"}, folder_, {});
  EXPECT_EQ(child->WaitFor(20s), 0);
}

TEST_F(ChildProcessTest, WaitGivesUpInTimeAndAnEndRequestEndsTheRun) {
  // A loop without end, in words without blanks, as cmd.exe reads its command line.
  auto child = StartChildProcess(Cmd(), {"/c", "for", "/l", "%i", "in", "(0,0,1)", "do", "rem"},
                                 folder_, {});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(child->WaitFor(100ms), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  child->RequestEnd();
  EXPECT_EQ(child->WaitFor(20s), 128 + 15);
}

TEST_F(ChildProcessTest, AProgramThatCannotStartIsAnError) {
  EXPECT_THROW(StartChildProcess(folder_ / "no-such-program.exe", {}, folder_, {}),
               ChildProcessError);
  EXPECT_THROW(StartChildProcess(Cmd(), {"/c", "exit"}, folder_ / "missing-folder", {}),
               ChildProcessError);
}

}  // namespace
}  // namespace zelmo::service
