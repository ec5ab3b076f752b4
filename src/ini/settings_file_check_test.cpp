#include "ini/settings_file_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "ini/utf16_test.h"
#include "sys/paths.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class SettingsFileCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    folder_ = fs::temp_directory_path() / ("zelmo-check-" + std::to_string(random()));
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::optional<std::string> Check(const std::string& bytes) {
    std::ofstream(folder_ / "Zelmocfg.ini", std::ios::binary) << bytes;
    return SettingsFileProblem(PathToUtf8(folder_ / "Zelmocfg.ini"));
  }

  fs::path folder_;
};

TEST_F(SettingsFileCheck, TextWithShortLinesIsASettingsFile) {
  const std::string files[] = {
      "",
      "[Parametri]\r\nSeriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\n",
      "[Parametri]\nSeriska=1",                                // LF, and no line end at the end
      "[Parametri]\rSeriska=1\r",                              // lone CR
      "\t[Parametri] \r\n\vDelimiter=\xC6\r\n\f\x1A",          // blanks the engine skips; 1251 text
      "; " + std::string(kMaxSettingsLine - 2, 'x') + "\r\n",  // the longest line taken
      std::string(kMaxSettingsLine, 'x') + "\r\n" + std::string(kMaxSettingsLine, 'y'),
  };
  for (const std::string& file : files) {
    SCOPED_TRACE(::testing::PrintToString(file.substr(0, 60)));
    EXPECT_EQ(Check(file), std::nullopt);
  }
}

TEST_F(SettingsFileCheck, BinaryBytesOrALongLineAreRefusedWithTheLine) {
  struct Case {
    std::string bytes, problem;
  } cases[] = {
      {"[Parametri]\r\nSeriska=1\0\r\n"s, "line 2 holds the byte 00h, which is not text"},
      {"\x01junk", "line 1 holds the byte 01h, which is not text"},
      {"a\nb\nc\x1B[2J", "line 3 holds the byte 1Bh, which is not text"},
      // UTF-16 without its mark, or big-endian: every other byte is a NUL.
      {"[\0P\0"s, "line 1 holds the byte 00h, which is not text"},
      {"\xFE\xFF\0[\0P"s, "line 1 holds the byte 00h, which is not text"},
      {"[Parametri]\r\nDelimiter=" + std::string(1'000'000, ';') + "\r\n",
       "line 2 is longer than 1024 bytes"},
      {std::string(kMaxSettingsLine + 1, 'x'), "line 1 is longer than 1024 bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.problem);
    EXPECT_EQ(Check(c.bytes), c.problem);
  }
}

// Behind its byte order mark, a UTF-16 file is looked at in its characters, by the same rules.
TEST_F(SettingsFileCheck, UnicodeFilesAreCheckedInTheirCharacters) {
  const std::string good[] = {
      Utf16File(u""),
      Utf16File(u"[Parametri]\r\nSeriska=1\r\nDelimiter=;\r\nИме=Ωmega \U0001F600\r\n"),
      Utf16File(u"; " + std::u16string(kMaxSettingsLine - 2, u'ж') + u"\r\n"),
  };
  for (const std::string& file : good) {
    SCOPED_TRACE(::testing::PrintToString(file.substr(0, 60)));
    EXPECT_EQ(Check(file), std::nullopt);
  }
  struct Case {
    std::string bytes, problem;
  } bad[] = {
      {Utf16File(u"[Parametri]\r\nSeriska=1\0"s),
       "line 2 holds the character 00h, which is not text"},
      {Utf16File(u"a\nb\x1b"), "line 2 holds the character 1Bh, which is not text"},
      {Utf16File(std::u16string(kMaxSettingsLine + 1, u'ж')),
       "line 1 is longer than 1024 characters"},
      {Utf16File(u"[Parametri]\r\n") + "x", "it ends in half a UTF-16 character"},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.problem);
    EXPECT_EQ(Check(c.bytes), c.problem);
  }
}

TEST_F(SettingsFileCheck, AFileThatCannotBeReadIsRefusedInTheSystemsWords) {
  fs::create_directory(folder_ / "folder");
  EXPECT_EQ(SettingsFileProblem(PathToUtf8(folder_ / "folder")),
            std::make_error_code(std::errc::is_a_directory).message());
  EXPECT_NE(SettingsFileProblem(PathToUtf8(folder_ / "missing.ini")), std::nullopt);
}

}  // namespace
}  // namespace zelmo
