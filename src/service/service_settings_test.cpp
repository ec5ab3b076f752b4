#include "service/service_settings.h"

#include <gtest/gtest.h>

#include <fstream>

namespace zelmo::service {
namespace {

TEST(ServiceSettings, ListenValues) {
  const auto defaults = ParseListen("");
  ASSERT_EQ(defaults.size(), 2u);
  EXPECT_EQ(defaults[0].host, "127.0.0.1");
  EXPECT_EQ(defaults[1].host, "::1");
  EXPECT_TRUE(defaults[1].optional);

  const auto two = ParseListen("127.0.0.1:9000, [::1]:9001");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1].host, "::1");
  EXPECT_EQ(two[1].port, 9001);
  EXPECT_FALSE(two[1].optional);

  for (const char* bad : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "::1:80", "[::1]80",
                          "host name:80", "127.0.0.1:80,", ":80", "127.0.0.1:8x"}) {
    try {
      ParseListen(bad);
      ADD_FAILURE() << bad;
    } catch (const SettingsError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Listen=", 0), 0u) << e.what();
    }
  }
}

TEST(ServiceSettings, OriginsAndNames) {
  EXPECT_EQ(ParseOrigins("https://pos.example.com, http://localhost:3000"),
            (std::vector<std::string>{"https://pos.example.com", "http://localhost:3000"}));
  for (const char* bad : {"pos.example.com", "ftp://x", "https://x/path", "https://"}) {
    EXPECT_THROW(ParseOrigins(bad), SettingsError) << bad;
  }
  for (const char* good : {"default", "till_1", "A-9", "abcdefghijabcdefghijabcdefghijab"})
    EXPECT_TRUE(IsRegisterName(good)) << good;
  for (const char* bad : {"", "../x", "a b", "каса", "abcdefghijabcdefghijabcdefghijabc"})
    EXPECT_FALSE(IsRegisterName(bad)) << bad;
  for (const char* host : {"localhost", "127.0.0.1", "127.1.2.3", "::1", "[::1]"})
    EXPECT_TRUE(IsLoopbackHost(host)) << host;
  for (const char* host :
       {"0.0.0.0", "192.168.1.5", "127.0.0.1.evil.example", "localhost.evil", "::", "128.0.0.1"})
    EXPECT_FALSE(IsLoopbackHost(host)) << host;
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("zelmo-settings-" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  void Write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string Refusal() {
    try {
      ReadServiceSettings(folder_);
    } catch (const SettingsError& e) {
      return e.what();
    }
    return "";
  }
  std::filesystem::path folder_;
};

TEST_F(SettingsFile, WithoutTheFileOrSectionsOneDefaultRegister) {
  ServiceSettings s = ReadServiceSettings(folder_);
  ASSERT_EQ(s.registers.size(), 1u);
  EXPECT_EQ(s.registers[0].name, "default");
  EXPECT_EQ(s.keepDays, 30);
  Write(folder_ / "Zelmocfg.ini", "[Parametri]\r\nSeriska=1\r\n");
  s = ReadServiceSettings(folder_);
  EXPECT_EQ(s.registers[0].folder, folder_);
  EXPECT_TRUE(s.token.empty());
}

TEST_F(SettingsFile, RegistersTokenAndKeep) {
  std::filesystem::create_directories(folder_ / "front");
  Write(folder_ / "Zelmocfg.ini",
        "[Service]\r\nListen=0.0.0.0:8470\r\nToken=abc\r\nKeep=7\r\n"
        "[Registers]\r\nfront=front\r\nback=/nonexistent-zelmo-folder\r\n");
  // The folder is named as it was resolved: on Windows a drive stands before it.
  EXPECT_NE(Refusal().find("Registers: back=\""), std::string::npos) << Refusal();
  EXPECT_NE(Refusal().find("nonexistent-zelmo-folder\": no such folder"), std::string::npos)
      << Refusal();
  Write(
      folder_ / "Zelmocfg.ini",
      "[Service]\r\nListen=0.0.0.0:8470\r\nToken=abc\r\nKeep=7\r\n[Registers]\r\nfront=front\r\n");
  const ServiceSettings s = ReadServiceSettings(folder_);
  EXPECT_EQ(s.token, "abc");
  EXPECT_EQ(s.keepDays, 7);
  ASSERT_EQ(s.registers.size(), 1u);
  EXPECT_EQ(s.registers[0].folder, folder_ / "front");
}

TEST_F(SettingsFile, RefusalsNameTheKey) {
  const struct {
    std::string text, key;
  } cases[] = {
      {"[Service]\r\nListen=192.168.1.5:8470\r\n", "Token"},
      {"[Service]\r\nKeep=forever\r\n", "Keep="},
      {"[Service]\r\nToken=two words\r\n", "Token"},
      {"[Registers]\r\nno/slash=x\r\n", "Registers"},
  };
  for (const auto& c : cases) {
    Write(folder_ / "Zelmocfg.ini", c.text);
    EXPECT_NE(Refusal().find(c.key), std::string::npos) << c.text << " -> " << Refusal();
  }
  // A register's own bad value stops the start as it would stop its every job.
  Write(folder_ / "Zelmocfg.ini", "[Registers]\r\nfront=front\r\n");
  Write(folder_ / "front" / "Zelmocfg.ini", "[Parametri]\r\nTimeout=never\r\n");
  EXPECT_NE(Refusal().find("Timeout"), std::string::npos) << Refusal();
}

}  // namespace
}  // namespace zelmo::service
