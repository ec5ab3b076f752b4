#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "sys/durable_file.h"

namespace zelmo::sys {
namespace {

namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

// The bits asked for are the file's, whatever the umask would have taken away; without any, a
// new file gets the process's usual ones.
TEST(DurableFilePosix, PermissionBitsAreExactlyTheOnesAskedFor) {
  std::random_device random;
  const fs::path folder = fs::temp_directory_path() / ("zelmo-mode-" + std::to_string(random()));
  fs::create_directories(folder);
  const mode_t before = ::umask(027);
  WriteFileDurably(folder / "Zelmocfg.ini", "x", 0666);
  EXPECT_EQ(ModeOf(folder / "Zelmocfg.ini"), 0666u);
  WriteFileDurably(folder / "Zelmocfg.ini", "x", 0400);
  EXPECT_EQ(ModeOf(folder / "Zelmocfg.ini"), 0400u);
  WriteFileDurably(folder / "smetka.jrn", "x");
  EXPECT_EQ(ModeOf(folder / "smetka.jrn"), 0640u);
  ::umask(before);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace zelmo::sys
