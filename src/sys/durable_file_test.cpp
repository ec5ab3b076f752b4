#include "sys/durable_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zelmo::sys {
namespace {

namespace fs = std::filesystem;

class DurableFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("zelmo-durable-" + std::to_string(random()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  fs::path At(const char* name) const { return folder_ / name; }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  static void Put(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  // Only the names the test expects: no temporary left beside them.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path folder_;
};

TEST_F(DurableFile, WriteReplacesWholeAndLeavesNothingBeside) {
  const fs::path file = At("smetka.jrn");
  WriteFileDurably(file, std::string("first\0bytes", 11));
  EXPECT_EQ(Read(file), std::string("first\0bytes", 11));
  WriteFileDurably(file, "second");
  EXPECT_EQ(Read(file), "second");
  EXPECT_EQ(Names(), std::vector<std::string>{"smetka.jrn"});
}

TEST_F(DurableFile, CreateNeverReplacesAFileThatIsThere) {
  const fs::path file = At("Zelmocfg.ini");
  EXPECT_TRUE(CreateFileDurably(file, "made"));
  EXPECT_EQ(Read(file), "made");
  Put(file, "the operator's own");
  EXPECT_FALSE(CreateFileDurably(file, "default"));
  EXPECT_EQ(Read(file), "the operator's own");
  EXPECT_EQ(Names(), std::vector<std::string>{"Zelmocfg.ini"});
}

TEST_F(DurableFile, RemoveTellsWhetherThereWasAFile) {
  const fs::path file = At("smetka.txt");
  Put(file, "x");
  EXPECT_TRUE(RemoveFileDurably(file));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_FALSE(RemoveFileDurably(file));
}

TEST_F(DurableFile, CreateFolderTellsWhetherItMadeIt) {
  const fs::path folder = At("jobs");
  EXPECT_TRUE(CreateFolderDurably(folder));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_FALSE(CreateFolderDurably(folder));
  Put(folder / "job.json", "{}");
  EXPECT_FALSE(CreateFolderDurably(folder));
  EXPECT_EQ(Read(folder / "job.json"), "{}");
}

// A failing step throws with the step and the system's reason, and leaves no temporary.
TEST_F(DurableFile, FailuresNameTheStepAndLeaveNoTemporary) {
  fs::create_directory(At("a folder"));
  fs::create_directory(At("a folder") / "inside");
  Put(At("a folder") / "inside" / "x", "keeps the folder from being replaced");
  const struct {
    const char* what;
    std::function<void()> call;
  } cases[] = {
      {"write into a folder that is not there",
       [&] { WriteFileDurably(At("missing") / "smetka.jrn", "x"); }},
      {"write over a folder that is not empty",
       [&] { WriteFileDurably(At("a folder") / "inside", "x"); }},
      {"create into a folder that is not there",
       [&] { CreateFileDurably(At("missing") / "Zelmocfg.ini", "x"); }},
      {"make a folder in one that is not there",
       [&] { CreateFolderDurably(At("missing") / "jobs"); }},
      {"remove a folder that is not empty", [&] { RemoveFileDurably(At("a folder")); }},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const DurableFileError& e) {
      EXPECT_FALSE(e.reason().empty()) << c.what;
      EXPECT_NE(std::string(e.what()).find(e.reason()), std::string::npos) << c.what;
    }
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"a folder"});
  EXPECT_TRUE(fs::exists(At("a folder") / "inside" / "x"));
}

}  // namespace
}  // namespace zelmo::sys
