// The POSIX profile store against files that are not what a settings file should be.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "ini/profile_store.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

class PosixProfileStore : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("zelmo-store-" + std::to_string(random()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }
  std::string Read(const std::string& name) const {
    std::ifstream in(folder_ / name, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }

  ProfileStore& store_ = PlatformProfileStore();
  fs::path folder_;
};

// Its folder would let a rename replace the file; read-only is read-only all the same, also for
// root, as Windows keeps its read-only flag even for an administrator.
TEST_F(PosixProfileStore, AReadOnlyFileIsNotReplaced) {
  const std::string path = Path("Zelmocfg.ini");
  std::ofstream(path, std::ios::binary) << "[Parametri]\r\nSeriska=COM3\r\n";
  fs::permissions(path, fs::perms(0444));
  EXPECT_FALSE(store_.WriteString("Parametri", "Seriska", "1", path));
  EXPECT_EQ(Read("Zelmocfg.ini"), "[Parametri]\r\nSeriska=COM3\r\n");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0444));
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 1) << "no temporary file left";
}

// A pipe would hold every read, a device may never end: neither is read as settings, nor
// replaced by a write.
TEST_F(PosixProfileStore, APipeOrADeviceIsNoSettingsFile) {
  ASSERT_EQ(mkfifo(Path("pipe.ini").c_str(), 0666), 0);
  fs::create_symlink("/dev/zero", folder_ / "zero.ini");
  for (const std::string name : {"pipe.ini", "zero.ini"}) {
    SCOPED_TRACE(name);
    std::array<char, 255> buffer{};
    EXPECT_THROW(store_.GetString("Parametri", "Seriska", "", buffer, Path(name)),
                 std::system_error);
    EXPECT_THROW(store_.GetInt("Parametri", "Seriska", -1, Path(name)), std::system_error);
    EXPECT_FALSE(store_.WriteString("Parametri", "Seriska", "1", Path(name)));
  }
  EXPECT_TRUE(fs::is_fifo(folder_ / "pipe.ini"));
  EXPECT_TRUE(fs::is_symlink(folder_ / "zero.ini"));
}

}  // namespace
}  // namespace zelmo
