// A virus scanner's moment with a new file, played by the test: the file held open without
// sharing its deletion, let go after a while or not at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "sys/durable_file.h"

namespace zelmo::sys {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class HeldFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("zelmo-held-" + std::to_string(random()));
    fs::create_directories(folder_);
    file_ = folder_ / "smetka.jrn";
    std::ofstream(file_, std::ios::binary) << "old";
  }
  void TearDown() override {
    if (letGo_.joinable()) letGo_.join();
    Release();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Open for reading, sharing reads only: neither a move over it nor a delete may go through.
  void Hold() {
    held_ = CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held_, INVALID_HANDLE_VALUE);
  }
  void Release() {
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
  }
  void ReleaseAfter(std::chrono::milliseconds pause) {
    letGo_ = std::thread([this, pause] {
      std::this_thread::sleep_for(pause);
      Release();
    });
  }

  fs::path folder_;
  fs::path file_;
  HANDLE held_ = INVALID_HANDLE_VALUE;
  std::thread letGo_;
};

TEST_F(HeldFile, AMomentaryHoldIsWaitedOut) {
  Hold();
  ReleaseAfter(150ms);
  WriteFileDurably(file_, "new");
  letGo_.join();
  std::ifstream in(file_, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, "new");

  Hold();
  ReleaseAfter(150ms);
  EXPECT_TRUE(RemoveFileDurably(file_));
  EXPECT_FALSE(fs::exists(file_));
}

// A file that stays held fails, with the system's reason, in under about a second.
TEST_F(HeldFile, AHoldThatLastsFailsInBoundedTime) {
  Hold();
  for (const bool remove : {false, true}) {
    const auto start = Clock::now();
    if (remove) {
      EXPECT_THROW(RemoveFileDurably(file_), DurableFileError);
    } else {
      EXPECT_THROW(WriteFileDurably(file_, "new"), DurableFileError);
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 500ms) << "no retry: " << (remove ? "delete" : "move");
    EXPECT_LT(took, 2s) << (remove ? "delete" : "move");
  }
  Release();
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1)
      << "a temporary was left beside the file";
}

}  // namespace
}  // namespace zelmo::sys
