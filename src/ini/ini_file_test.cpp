#include "ini/ini_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ini/profile_store.h"
#include "ini/under_wine_test.h"
#include "ini/utf16_test.h"
#include "text/cp1251.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using ::testing::_;
using ::testing::Invoke;
using ::testing::IsNull;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrEq;
using ::testing::Throw;

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("zelmo-ini-" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

 private:
  fs::path path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// Runs `call` and hands back the IniError it raised; fails the test when it raised none.
IniError Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const IniError& error) {
    return error;
  }
  ADD_FAILURE() << "no IniError raised";
  return IniError(0, "", "");
}

const std::map<int32_t, std::string> kDescriptions = {
    {static_cast<int32_t>(0x80044511), "Invalid file name"},
    {static_cast<int32_t>(0x80044512), "File not found"},
    {static_cast<int32_t>(0x80044513), "Object not properly initialized"},
    {static_cast<int32_t>(0x80044514), "Invalid section"},
    {static_cast<int32_t>(0x80044515), "Invalid key"},
    {static_cast<int32_t>(0x80044516), "CIniFile component failure"},
};

void ExpectError(const IniError& error, int32_t number, const std::string& what = "") {
  EXPECT_EQ(error.number(), number) << what;
  EXPECT_EQ(error.source(), "zelmo_tests.CIniFile") << what;
  EXPECT_EQ(error.description(), kDescriptions.at(number)) << what;
}

enum class Binding { kUnbound, kMissingFile, kExistingFile };

struct ErrorCase {
  const char* what;
  Binding binding;
  std::function<void(CIniFile&)> call;
  int32_t number;
};

TEST(CIniFile, ChecksRaiseTheirErrorsInOrder) {
  std::vector<std::string> list;
  const ErrorCase cases[] = {
      {"Init empty", Binding::kUnbound, [](CIniFile& f) { f.Init(""); }, kIniInvalidFileName},
      {"Init empty, bound", Binding::kExistingFile, [](CIniFile& f) { f.Init(""); },
       kIniInvalidFileName},
      {"FileName set empty", Binding::kMissingFile, [](CIniFile& f) { f.FileName(""); },
       kIniInvalidFileName},
      {"GetStringValue unbound", Binding::kUnbound, [](CIniFile& f) { f.GetStringValue("S", "k"); },
       kIniNotInitialized},
      {"GetStringValue missing file", Binding::kMissingFile,
       [](CIniFile& f) { f.GetStringValue("", ""); }, kIniFileNotFound},
      {"GetNumericValue unbound", Binding::kUnbound,
       [](CIniFile& f) { f.GetNumericValue("S", "k"); }, kIniNotInitialized},
      {"GetNumericValue missing file", Binding::kMissingFile,
       [](CIniFile& f) { f.GetNumericValue("S", "k"); }, kIniFileNotFound},
      {"SaveStringValue unbound", Binding::kUnbound,
       [](CIniFile& f) { f.SaveStringValue("", "", "v"); }, kIniNotInitialized},
      {"SaveStringValue no section, no key", Binding::kMissingFile,
       [](CIniFile& f) { f.SaveStringValue("", "", "v"); }, kIniInvalidSection},
      {"SaveStringValue no key", Binding::kMissingFile,
       [](CIniFile& f) { f.SaveStringValue("S", "", "v"); }, kIniInvalidKey},
      {"SaveNumericValue unbound", Binding::kUnbound,
       [](CIniFile& f) { f.SaveNumericValue("", "", 1); }, kIniNotInitialized},
      {"SaveNumericValue no section, no key", Binding::kExistingFile,
       [](CIniFile& f) { f.SaveNumericValue("", "", 1); }, kIniInvalidSection},
      {"SaveNumericValue no key", Binding::kExistingFile,
       [](CIniFile& f) { f.SaveNumericValue("S", "", 1); }, kIniInvalidKey},
      {"DeleteKey unbound", Binding::kUnbound, [](CIniFile& f) { f.DeleteKey("", ""); },
       kIniNotInitialized},
      {"DeleteKey missing file", Binding::kMissingFile, [](CIniFile& f) { f.DeleteKey("", ""); },
       kIniFileNotFound},
      {"DeleteKey no section, no key", Binding::kExistingFile,
       [](CIniFile& f) { f.DeleteKey("", ""); }, kIniInvalidSection},
      {"DeleteKey no key", Binding::kExistingFile, [](CIniFile& f) { f.DeleteKey("S", ""); },
       kIniInvalidKey},
      {"DeleteSection unbound", Binding::kUnbound, [](CIniFile& f) { f.DeleteSection(""); },
       kIniNotInitialized},
      {"DeleteSection missing file", Binding::kMissingFile,
       [](CIniFile& f) { f.DeleteSection("S"); }, kIniFileNotFound},
      {"DeleteSection no section", Binding::kExistingFile, [](CIniFile& f) { f.DeleteSection(""); },
       kIniInvalidSection},
      {"EnumerateAllKeys unbound", Binding::kUnbound,
       [&](CIniFile& f) { f.EnumerateAllKeys("", list); }, kIniNotInitialized},
      {"EnumerateAllKeys missing file", Binding::kMissingFile,
       [&](CIniFile& f) { f.EnumerateAllKeys("", list); }, kIniFileNotFound},
      {"EnumerateAllKeys no section", Binding::kExistingFile,
       [&](CIniFile& f) { f.EnumerateAllKeys("", list); }, kIniInvalidSection},
      {"EnumerateAllSections unbound", Binding::kUnbound,
       [&](CIniFile& f) { f.EnumerateAllSections(list); }, kIniNotInitialized},
      {"EnumerateAllSections missing file", Binding::kMissingFile,
       [&](CIniFile& f) { f.EnumerateAllSections(list); }, kIniFileNotFound},
  };
  TempFolder folder;
  const std::string existing = folder / "existing.ini";
  const std::string missing = folder / "missing.ini";
  const std::string content = "[S]\r\nk=1\r\n";
  WriteBytes(existing, content);
  for (const auto& c : cases) {
    CIniFile ini;
    if (c.binding == Binding::kMissingFile) ini.Init(missing);
    if (c.binding == Binding::kExistingFile) ini.Init(existing);
    const std::string bound = ini.FileName();
    list = {"earlier"};

    ExpectError(Raised([&] { c.call(ini); }), c.number, c.what);
    EXPECT_EQ(ini.FileName(), bound) << c.what;
    EXPECT_EQ(list, std::vector<std::string>{"earlier"}) << c.what;
    EXPECT_FALSE(fs::exists(missing)) << c.what;
    EXPECT_EQ(ReadBytes(existing), content) << c.what;
  }
}

TEST(CIniFile, BindingKeepsThePathAsGiven) {
  CIniFile ini;
  EXPECT_EQ(ini.FileName(), "");
  ini.Init("relative/not there.ini");
  EXPECT_EQ(ini.FileName(), "relative/not there.ini");
  ini.FileName(" ");
  EXPECT_EQ(ini.FileName(), " ");
}

TEST(CIniFile, ReadsValuesAsTheFileHoldsThem) {
  TempFolder folder;
  const std::string path = folder / "Zelmocfg.ini";
  WriteBytes(path, Utf8ToAnsi("[Parametri]\r\nSeriska=2\r\nDelimiter=;\r\nЗбор=Млеко 1л\r\n"
                              "Empty=\r\nlong=" +
                              std::string(300, 'x') + "\r\nдолго=" + std::string(150, 'a') + "ж" +
                              std::string(149, 'b') + "\r\n"));
  CIniFile ini;
  ini.Init(path);
  EXPECT_EQ(ini.GetStringValue("Parametri", "Seriska"), "2");
  EXPECT_EQ(ini.GetStringValue("parametri", "delimiter"), ";");
  EXPECT_EQ(ini.GetStringValue("Parametri", "Збор"), "Млеко 1л");
  EXPECT_EQ(ini.GetStringValue("Parametri", "Empty"), "");
  EXPECT_EQ(ini.GetStringValue("Parametri", "Missing"), "");
  EXPECT_EQ(ini.GetStringValue("Missing", "Seriska"), "");
  EXPECT_EQ(ini.GetStringValue("", ""), "");
  EXPECT_EQ(ini.GetStringValue("Parametri", "long"), std::string(254, 'x'));
  // 254 characters, not bytes: the Cyrillic letter is two bytes in UTF-8.
  EXPECT_EQ(ini.GetStringValue("Parametri", "долго"),
            std::string(150, 'a') + "ж" + std::string(103, 'b'));
}

// Windows compares names without letter case in Cyrillic as in Latin, and so does our engine.
TEST(CIniFile, CyrillicNamesCompareWithoutLetterCase) {
  if (UnderWine()) GTEST_SKIP() << "Wine's kernel32 ignores letter case in ASCII names only";
  TempFolder folder;
  const std::string path = folder / "c.ini";
  WriteBytes(path, Utf8ToAnsi("[Параметри]\r\nЗбор=Млеко\r\nЃЅЈЉЊЌЏ=1\r\n"));
  CIniFile ini;
  ini.Init(path);
  std::vector<std::string> names;
  EXPECT_EQ(ini.GetStringValue("ПАРАМЕТРИ", "збор"), "Млеко");
  EXPECT_EQ(ini.GetStringValue("параметри", "ѓѕјљњќџ"), "1");
  EXPECT_EQ(ini.EnumerateAllKeys("параметри", names), 2);
  ini.SaveStringValue("параметри", "ЗБОР", "Леб");
  EXPECT_EQ(ReadBytes(path), Utf8ToAnsi("[Параметри]\r\nЗбор=Леб\r\nЃЅЈЉЊЌЏ=1\r\n"));
  EXPECT_TRUE(ini.DeleteKey("ПАРАМЕТРИ", "збор"));
  EXPECT_EQ(ini.GetStringValue("Параметри", "Збор"), "");
  EXPECT_TRUE(ini.DeleteSection("параметри"));
  EXPECT_EQ(ini.EnumerateAllSections(names), 0);
}

// The points where an INI file can be read more than one way: the answers are kernel32's, and
// the same on both stores.
TEST(CIniFile, ReadsTheOpenPointsAsKernel32Does) {
  TempFolder folder;
  const std::string path = folder / "open.ini";
  WriteBytes(path,
             "top=0\r\n"
             "  [ Blanks ]  \r\n\t Seriska  =  2 4 \r\n"
             "[Quotes]\r\nd=\" x \"\r\ns='x'\r\ntwo=\"\"x\"\"\r\nopen=\"x\r\nmixed=\"x'\r\n"
             "[Case]\r\nSeriska=2\r\n"
             "[Twice]\r\na=1\r\n[twice]\r\na=2\r\nb=3\r\n"
             "[Lines]\r\n;c=1\r\nplain\r\nplain=2\r\n; note\r\nx=1\r\n=3\r\nk=a=b\r\n"
             "v=v ; no comment\r\n");
  struct Read {
    const char* section;
    const char* key;
    const char* value;
  };
  const Read reads[] = {
      {"", "top", "0"},
      {"Blanks", "Seriska", "2 4"},
      {" Blanks\t", " Seriska ", "2 4"},
      {"Quotes", "d", " x "},
      {"Quotes", "s", "x"},
      {"Quotes", "two", "\"x\""},
      {"Quotes", "open", "\"x"},
      {"Quotes", "mixed", "\"x'"},
      {"CASE", "seriska", "2"},
      {"Twice", "a", "1"},  // the first section of a name is the one
      {"Twice", "b", ""},
      {"Lines", ";c", "1"},    // a comment line is a key when asked for by name
      {"Lines", "plain", ""},  // a line without = is a key without a value, and hides plain=2
      {"Lines", "; note", ""},
      {"Lines", "", "3"},
      {"Lines", "k", "a=b"},
      {"Lines", "v", "v ; no comment"},
  };
  CIniFile ini;
  ini.Init(path);
  for (const auto& r : reads) {
    EXPECT_EQ(ini.GetStringValue(r.section, r.key), r.value) << r.section << "/" << r.key;
  }
  std::vector<std::string> names;
  EXPECT_EQ(ini.EnumerateAllSections(names), 6);
  EXPECT_EQ(names,
            (std::vector<std::string>{"Blanks", "Quotes", "Case", "Twice", "twice", "Lines"}));
  // Comments and lines without = are never listed.
  EXPECT_EQ(ini.EnumerateAllKeys("lines", names), 5);
  EXPECT_EQ(names, (std::vector<std::string>{"plain", "x", "", "k", "v"}));
  EXPECT_EQ(ini.EnumerateAllKeys("TWICE", names), 1);
  EXPECT_EQ(names, std::vector<std::string>{"a"});
  // The section of a list is taken as given, blanks and all.
  EXPECT_EQ(ini.EnumerateAllKeys(" Lines", names), 0);
}

TEST(CIniFile, WritesTheOpenPointsAsKernel32Does) {
  TempFolder folder;
  const std::string path = folder / "open.ini";
  WriteBytes(path, "[A]\r\n;c=1\r\nplain\r\nplain=2\r\nx=1\r\n");
  CIniFile ini;
  ini.Init(path);
  std::vector<std::string> names;

  ini.SaveStringValue("A", ";c", "5");  // the comment line, by its name
  EXPECT_EQ(ini.GetStringValue("A", ";c"), "5");
  ini.SaveStringValue("A", "plain", "1");  // the line without =, in place
  EXPECT_EQ(ini.GetStringValue("A", "plain"), "1");
  EXPECT_EQ(ini.EnumerateAllKeys("A", names), 3);
  EXPECT_EQ(names, (std::vector<std::string>{"plain", "plain", "x"}));

  // A delete takes the names as given: blanks around them match nothing, and that is done too.
  EXPECT_TRUE(ini.DeleteKey("A", " x"));
  EXPECT_TRUE(ini.DeleteKey("A ", "x"));
  EXPECT_TRUE(ini.DeleteSection(" A "));
  EXPECT_EQ(ini.GetStringValue("A", "x"), "1");
  EXPECT_TRUE(ini.DeleteKey("a", "X"));
  EXPECT_EQ(ini.GetStringValue("A", "x"), "");
  EXPECT_TRUE(ini.DeleteKey("A", "plain"));  // the first of the two
  EXPECT_EQ(ini.GetStringValue("A", "plain"), "2");

  ini.SaveStringValue("B", "y", "2");
  EXPECT_EQ(ini.EnumerateAllSections(names), 2);
  // A save drops the blanks before the names and the value, and writes those after the value
  // (Wine's kernel32 loses them at its next whole-file rewrite, so this save comes last).
  ini.SaveStringValue(" A", "\tnew", "  v \t");
  // A tidy file is written the same, byte for byte, by both: the new section follows the last
  // line without a blank line before it.
  EXPECT_EQ(ReadBytes(path), "[A]\r\n;c=5\r\nplain=2\r\nnew=v \t\r\n[B]\r\ny=2\r\n");
  EXPECT_EQ(ini.GetStringValue("A", "new"), "v");
}

TEST(CIniFile, NumbersAreSixteenBitsOrAFailure) {
  TempFolder folder;
  const std::string path = folder / "n.ini";
  WriteBytes(path, "[N]\r\nmax=32767\r\nmin=-32768\r\nabove=32768\r\nbelow=-32769\r\nword=abc\r\n");
  CIniFile ini;
  ini.Init(path);
  EXPECT_EQ(ini.GetNumericValue("N", "max"), 32767);
  EXPECT_EQ(ini.GetNumericValue("N", "min"), -32768);
  EXPECT_EQ(ini.GetNumericValue("N", "word"), 0);
  EXPECT_EQ(ini.GetNumericValue("N", "missing"), -1);
  EXPECT_EQ(ini.GetNumericValue("Missing", "max"), -1);
  ExpectError(Raised([&] { ini.GetNumericValue("N", "above"); }), kIniComponentFailure);
  ExpectError(Raised([&] { ini.GetNumericValue("N", "below"); }), kIniComponentFailure);
}

TEST(CIniFile, SavingCreatesTheFileAndWritesDecimalNumbers) {
  TempFolder folder;
  const std::string path = folder / "new.ini";
  CIniFile ini;
  ini.Init(path);
  ini.SaveNumericValue("S", "neg", -5);
  ini.SaveNumericValue("S", "zero", 0);
  ini.SaveStringValue("S", "empty", "");
  ini.SaveStringValue("Т", "Име", "Шеќер€ü");  // ü has no code in 1251
  EXPECT_EQ(ReadBytes(path),
            "[S]\r\nneg=-5\r\nzero=0\r\nempty=\r\n" + Utf8ToAnsi("[Т]\r\nИме=Шеќер€?\r\n"));
  EXPECT_EQ(ini.GetNumericValue("S", "neg"), -5);
  EXPECT_EQ(ini.GetStringValue("Т", "Име"), "Шеќер€?");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"new.ini"});
}

TEST(CIniFile, SavingKeepsTheRestOfTheFileByteForByte) {
  TempFolder folder;
  const std::string path = folder / "Zelmocfg.ini";
  const std::string before =
      "; written by hand\n[Parametri]\nSeriska = 7 ; bad port\nPrikaziForma=1\n\n"
      "[Other]\r\nkey=\"quoted\"\r\n\x1a";
  WriteBytes(path, before);
  CIniFile ini;
  ini.Init(path);
  ini.SaveStringValue("Parametri", "Seriska", "1");
  ini.SaveStringValue("Parametri", "Clear", "0");
  EXPECT_EQ(ini.GetStringValue("Parametri", "Seriska"), "1");
  EXPECT_EQ(ini.GetStringValue("Parametri", "PrikaziForma"), "1");
  EXPECT_EQ(ini.GetStringValue("Parametri", "Clear"), "0");
  EXPECT_EQ(ini.GetStringValue("Other", "key"), "quoted");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"Zelmocfg.ini"});
  if (UnderWine()) GTEST_SKIP() << "Wine's kernel32 rewrites the whole file on every write";
  EXPECT_EQ(ReadBytes(path),
            "; written by hand\n[Parametri]\nSeriska = 1\nPrikaziForma=1\nClear=0\r\n\n"
            "[Other]\r\nkey=\"quoted\"\r\n\x1a");
}

// A settings file saved as "Unicode" reads as the same text in code page 1251, and stays Unicode
// when it is written: what is added is UTF-16 too, and a character that 1251 has no code for
// (it reads as "?") stays in the file as it was.
TEST(CIniFile, UnicodeFilesAreReadAndWrittenInUnicode) {
  if (AnsiCodePage() != 1251) GTEST_SKIP() << "the ANSI code page is not 1251 here";
  TempFolder folder;
  const std::string path = folder / "Zelmocfg.ini";
  WriteBytes(path, Utf16File(u"[Parametri]\r\nSeriska=7\r\nИме=Млеко\r\nNote=Ωmega \U0001F600\r\n"
                             u"[Други]\r\nk=\"1\"\r\n"));
  CIniFile ini;
  ini.Init(path);
  EXPECT_EQ(ini.GetStringValue("Parametri", "Seriska"), "7");
  EXPECT_EQ(ini.GetNumericValue("parametri", "seriska"), 7);
  EXPECT_EQ(ini.GetStringValue("Parametri", "Име"), "Млеко");
  EXPECT_EQ(ini.GetStringValue("Други", "k"), "1");
  EXPECT_EQ(ini.GetStringValue("Parametri", "Note").substr(0, 6), "?mega ");
  std::vector<std::string> names;
  EXPECT_EQ(ini.EnumerateAllSections(names), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"Parametri", "Други"}));
  EXPECT_EQ(ini.EnumerateAllKeys("Parametri", names), 3);
  EXPECT_EQ(names, (std::vector<std::string>{"Seriska", "Име", "Note"}));

  ini.SaveStringValue("Parametri", "Seriska", "1");
  ini.SaveStringValue("Parametri", "Clear", "0");
  ini.SaveStringValue("Нов", "Клуч", "Вредност");
  EXPECT_EQ(ini.GetStringValue("Parametri", "Seriska"), "1");
  EXPECT_EQ(ini.GetStringValue("Нов", "Клуч"), "Вредност");
  EXPECT_EQ(ReadBytes(path), Utf16File(u"[Parametri]\r\nSeriska=1\r\nИме=Млеко\r\n"
                                       u"Note=Ωmega \U0001F600\r\nClear=0\r\n[Други]\r\nk=\"1\"\r\n"
                                       u"[Нов]\r\nКлуч=Вредност\r\n"));
  EXPECT_TRUE(ini.DeleteKey("Parametri", "Име"));
  EXPECT_TRUE(ini.DeleteSection("Други"));
  EXPECT_EQ(ReadBytes(path), Utf16File(u"[Parametri]\r\nSeriska=1\r\nNote=Ωmega \U0001F600\r\n"
                                       u"Clear=0\r\n[Нов]\r\nКлуч=Вредност\r\n"));

  // A file of nothing but the mark is an empty Unicode file.
  WriteBytes(path, Utf16File(u""));
  ini.SaveStringValue("Parametri", "Seriska", "2");
  EXPECT_EQ(ReadBytes(path), Utf16File(u"[Parametri]\r\nSeriska=2\r\n"));
}

TEST(CIniFile, SavingKeepsThePermissionsAndFollowsALink) {
  TempFolder folder;
  const std::string path = folder / "Zelmocfg.ini";
  WriteBytes(path, "[S]\r\nk=1\r\n");
  // Group write is what a usual umask would take away from a new file.
  const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                    fs::perms::group_write;
  fs::permissions(path, mode);
  std::error_code linkError;
  fs::create_symlink(path, folder / "link.ini", linkError);
  if (fs::status(path).permissions() != mode || linkError) {
    GTEST_SKIP() << "no POSIX permissions or links here";
  }
  CIniFile ini;
  ini.Init(folder / "link.ini");
  ini.SaveStringValue("S", "k", "2");
  EXPECT_EQ(ReadBytes(path), "[S]\r\nk=2\r\n");
  EXPECT_EQ(fs::status(path).permissions(), mode);
  EXPECT_TRUE(fs::is_symlink(folder / "link.ini"));
}

TEST(CIniFile, RefusedWriteIsAFailure) {
  TempFolder folder;
  CIniFile ini;
  ini.Init(folder / "no such folder/Zelmocfg.ini");
  ExpectError(Raised([&] { ini.SaveStringValue("Parametri", "Seriska", "1"); }),
              kIniComponentFailure);
  ExpectError(Raised([&] { ini.SaveNumericValue("Parametri", "Seriska", 1); }),
              kIniComponentFailure);
  EXPECT_TRUE(folder.Names().empty());
}

// A line break in a name or a value would add lines of its own to the file: a section, a key.
// The save is refused and the file stays as it was, or is not made at all.
TEST(CIniFile, LineBreaksInASaveAreRefusedAndNothingIsWritten) {
  struct Case {
    std::string section, key, value;
    int32_t number;
  } cases[] = {
      {"Parametri", "Seriska", "1\r\n[Ports]\r\nCOM1=/dev/tty0", kIniComponentFailure},
      {"Parametri", "Seriska", "1\nClear=1", kIniComponentFailure},
      {"Parametri", "Seriska", "1\rClear=1", kIniComponentFailure},
      {"Parametri", "Seriska", "1\0 and the rest"s, kIniComponentFailure},
      {"Parametri", "Clear=1\r\nSeriska", "2", kIniInvalidKey},
      {"Parametri", "Seriska\n", "2", kIniInvalidKey},
      {"Parametri", "Ser\0iska"s, "2", kIniInvalidKey},
      {"Parametri]\r\n[Ports", "COM1", "/dev/tty0", kIniInvalidSection},
      {"\rParametri", "Seriska", "2", kIniInvalidSection},
      {"Parametri\0"s, "Seriska", "2", kIniInvalidSection},
  };
  TempFolder folder;
  const std::string path = folder / "Zelmocfg.ini";
  const std::string missing = folder / "missing.ini";
  const std::string content = "[Parametri]\r\nSeriska=1\r\n";
  WriteBytes(path, content);
  for (const auto& c : cases) {
    const std::string what = testing::PrintToString(c.section + "/" + c.key + "/" + c.value);
    CIniFile ini;
    ini.Init(path);
    ExpectError(Raised([&] { ini.SaveStringValue(c.section, c.key, c.value); }), c.number, what);
    EXPECT_EQ(ReadBytes(path), content) << what;
    ini.Init(missing);
    ExpectError(Raised([&] { ini.SaveStringValue(c.section, c.key, c.value); }), c.number, what);
  }
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"Zelmocfg.ini"});
  // The checks keep their order: an empty section comes before a bad key or value.
  CIniFile ini;
  ini.Init(path);
  ExpectError(Raised([&] { ini.SaveStringValue("", "a\nb", "c\nd"); }), kIniInvalidSection);
  ExpectError(Raised([&] { ini.SaveStringValue("S", "", "c\nd"); }), kIniInvalidKey);
}

TEST(CIniFile, ReadOnlyFolderRefusesTheWriteAndKeepsTheFile) {
  TempFolder folder;
  const std::string path = folder / "Zelmocfg.ini";
  WriteBytes(path, "[Parametri]\r\nSeriska=1\r\n");
  fs::permissions(folder.path(),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  if (std::ofstream(folder / "probe")) GTEST_SKIP() << "folder permissions do not bind this user";
  CIniFile ini;
  ini.Init(path);
  ExpectError(Raised([&] { ini.SaveStringValue("Parametri", "Seriska", "2"); }),
              kIniComponentFailure);
  EXPECT_EQ(ini.GetStringValue("Parametri", "Seriska"), "1");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"Zelmocfg.ini"});
}

TEST(CIniFile, FolderInPlaceOfTheFileIsAFailureNotEmptySettings) {
  TempFolder folder;
  const std::string path = folder / "Zelmocfg.ini";
  fs::create_directory(path);
  CIniFile ini;
  ini.Init(path);
  std::vector<std::string> names;
  EXPECT_TRUE(ini.FileExists(path));
  ExpectError(Raised([&] { ini.GetStringValue("Parametri", "Seriska"); }), kIniComponentFailure);
  ExpectError(Raised([&] { ini.GetNumericValue("Parametri", "Seriska"); }), kIniComponentFailure);
  ExpectError(Raised([&] { ini.EnumerateAllSections(names); }), kIniComponentFailure);
  ExpectError(Raised([&] { ini.SaveStringValue("Parametri", "Seriska", "1"); }),
              kIniComponentFailure);
  EXPECT_FALSE(ini.DeleteKey("Parametri", "Seriska"));
}

TEST(CIniFile, FileExistsCountsAnyMatchingEntry) {
  TempFolder folder;
  WriteBytes(folder / "Zelmocfg.ini", "");
  fs::create_directory(folder.path() / "sub");
  struct Case {
    std::string name;
    bool exists;
  };
  const Case cases[] = {
      {"", false},
      {folder / "Zelmocfg.ini", true},
      {folder / "missing.ini", false},
      {folder / "sub", true},
      {folder.path().string(), true},
      {folder / "*.ini", true},
      {folder / "Zelmo?fg.*", true},
      {folder / "*.txt", false},
      {folder / "sub/*", true},  // a folder always holds its "." entry
      {folder / "missing/*", false},
  };
  CIniFile unbound;
  for (const auto& c : cases) EXPECT_EQ(unbound.FileExists(c.name), c.exists) << c.name;
}

TEST(CIniFile, EnumeratesSectionsAndKeysInFileOrder) {
  TempFolder folder;
  const std::string path = folder / "e.ini";
  WriteBytes(path, Utf8ToAnsi("[A]\r\nx=1\r\ny=2\r\n[B]\r\n[Параметри]\r\nСериска=1\r\n"));
  CIniFile ini;
  ini.Init(path);
  std::vector<std::string> names{"earlier"};
  EXPECT_EQ(ini.EnumerateAllSections(names), 3);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "Параметри"}));
  EXPECT_EQ(ini.EnumerateAllKeys("a", names), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(ini.EnumerateAllKeys("Параметри", names), 1);
  EXPECT_EQ(names, std::vector<std::string>{"Сериска"});
  EXPECT_EQ(ini.EnumerateAllKeys("B", names), 0);
  EXPECT_TRUE(names.empty());
  names = {"earlier"};
  EXPECT_EQ(ini.EnumerateAllKeys("Missing", names), 0);
  EXPECT_TRUE(names.empty());

  WriteBytes(path, "");
  names = {"earlier"};
  EXPECT_EQ(ini.EnumerateAllSections(names), 0);
  EXPECT_TRUE(names.empty());
}

TEST(CIniFile, ListsBeyond8192CharactersKeepTheWholeNames) {
  TempFolder folder;
  const std::string path = folder / "big.ini";
  std::string keys = "[S]\r\n", sections;
  std::vector<std::string> all;
  for (int i = 0; i < 1100; ++i) {
    all.push_back("key" + std::string(4 - std::to_string(i).size(), '0') + std::to_string(i));
    keys += all.back() + "=1\r\n";
    sections += "[" + all.back() + "]\r\n";
  }
  const std::vector<std::string> fit(all.begin(), all.begin() + 1023);
  CIniFile ini;
  ini.Init(path);
  std::vector<std::string> names;
  // Eight characters a name with its NUL: 1023 of them fit before the two closing places.
  WriteBytes(path, keys);
  EXPECT_EQ(ini.EnumerateAllKeys("S", names), 1023);
  EXPECT_EQ(names, fit);
  WriteBytes(path, sections);
  EXPECT_EQ(ini.EnumerateAllSections(names), 1023);
  EXPECT_EQ(names, fit);
}

TEST(CIniFile, DeletesKeysAndSections) {
  TempFolder folder;
  const std::string path = folder / "d.ini";
  WriteBytes(path, "; head\r\n[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
  CIniFile ini;
  ini.Init(path);
  std::vector<std::string> names;
  EXPECT_TRUE(ini.DeleteKey("A", "x"));
  EXPECT_EQ(ini.GetStringValue("A", "x"), "");
  EXPECT_EQ(ini.EnumerateAllKeys("A", names), 1);
  EXPECT_EQ(names, std::vector<std::string>{"y"});
  EXPECT_TRUE(ini.DeleteKey("A", "not there"));  // nothing to do is done too
  EXPECT_TRUE(ini.DeleteSection("A"));
  EXPECT_EQ(ini.EnumerateAllSections(names), 1);
  EXPECT_EQ(names, std::vector<std::string>{"B"});
  EXPECT_EQ(ReadBytes(path), "; head\r\n[B]\r\nz=3\r\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"d.ini"});
}

class MockStore : public ProfileStore {
 public:
  MockStore() {
    ON_CALL(*this, FindFirst(_)).WillByDefault(Return(FindHandle{7}));
    ON_CALL(*this, CloseFind(FindHandle{7})).WillByDefault(Return(true));
    ON_CALL(*this, WriteString(_, _, _, _)).WillByDefault(Return(true));
  }
  MOCK_METHOD(uint32_t, GetString,
              (const char*, const char*, const char*, std::span<char>, const std::string&),
              (override));
  MOCK_METHOD(uint32_t, GetInt, (const char*, const char*, int32_t, const std::string&),
              (override));
  MOCK_METHOD(bool, WriteString, (const char*, const char*, const char*, const std::string&),
              (override));
  MOCK_METHOD(FindHandle, FindFirst, (const std::string&), (override));
  MOCK_METHOD(bool, CloseFind, (FindHandle), (override));
};

// What a list read of the store places in the buffer, and the count it returns.
auto PlaceList(std::string list, uint32_t n) {
  return [list, n](const char*, const char*, const char* defaultText, std::span<char> buffer,
                   const std::string&) {
    EXPECT_STREQ(defaultText, "");
    EXPECT_EQ(buffer.size(), 8192u);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), ' '), 8192);
    std::copy(list.begin(), list.end(), buffer.begin());
    return n;
  };
}

TEST(CIniFile, ListsAreSplitAtNulsAndTheCutNameDropped) {
  NiceMock<MockStore> store;
  CIniFile ini(store);
  ini.Init("/settings.ini");
  std::vector<std::string> names;

  EXPECT_CALL(store, GetString(StrEq("S"), IsNull(), _, _, "/settings.ini"))
      .WillOnce(Invoke(PlaceList("x\0\0y\0"s, 5)))
      .WillOnce(Invoke(PlaceList("x\0partial\0"s, 6)));
  EXPECT_EQ(ini.EnumerateAllKeys("S", names), 3);
  EXPECT_EQ(names, (std::vector<std::string>{"x", "", "y"}));
  EXPECT_EQ(ini.EnumerateAllKeys("S", names), 1);
  EXPECT_EQ(names, std::vector<std::string>{"x"});

  EXPECT_CALL(store, GetString(IsNull(), IsNull(), _, _, "/settings.ini"))
      .WillOnce(Invoke(PlaceList("\0A\0\0B\0"s, 6)))
      .WillOnce(Invoke(PlaceList("A\0"s, 8193)));
  EXPECT_EQ(ini.EnumerateAllSections(names), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B"}));
  ExpectError(Raised([&] { ini.EnumerateAllSections(names); }), kIniComponentFailure);
}

TEST(CIniFile, ValueIsTheBufferUpToItsFirstNul) {
  NiceMock<MockStore> store;
  CIniFile ini(store);
  ini.Init("/settings.ini");
  auto place = [](const char* bytes, size_t length, uint32_t n) {
    return [=](const char*, const char*, const char* defaultText, std::span<char> buffer,
               const std::string&) {
      EXPECT_STREQ(defaultText, "");
      EXPECT_EQ(buffer.size(), 255u);
      std::copy(bytes, bytes + length, buffer.begin());
      return n;
    };
  };
  EXPECT_CALL(store, GetString(StrEq("S"), StrEq("k"), _, _, _))
      .WillOnce(Invoke(place("ab\0cd", 5, 5)))
      .WillOnce(Invoke(place("ab", 2, 0)))
      .WillOnce(Invoke(place("\xcc\xeb", 3, 2)));
  EXPECT_EQ(ini.GetStringValue("S", "k"), "ab");
  EXPECT_EQ(ini.GetStringValue("S", "k"), "");
  EXPECT_EQ(ini.GetStringValue("S", "k"), "Мл");
}

TEST(CIniFile, StoreFailuresBecomeComponentFailures) {
  const std::function<void(CIniFile&)> calls[] = {
      [](CIniFile& f) { f.GetStringValue("S", "k"); },
      [](CIniFile& f) { f.GetNumericValue("S", "k"); },
      [](CIniFile& f) { f.SaveStringValue("S", "k", "v"); },
      [](CIniFile& f) { f.DeleteKey("S", "k"); },
      [](CIniFile& f) { f.DeleteSection("S"); },
      [](CIniFile& f) {
        std::vector<std::string> names;
        f.EnumerateAllKeys("S", names);
      },
  };
  for (const auto& call : calls) {
    NiceMock<MockStore> store;
    ON_CALL(store, GetString(_, _, _, _, _)).WillByDefault(Throw(std::runtime_error("EACCES")));
    ON_CALL(store, GetInt(_, _, _, _)).WillByDefault(Throw(std::bad_alloc()));
    ON_CALL(store, WriteString(_, _, _, _)).WillByDefault(Throw(std::runtime_error("EIO")));
    CIniFile ini(store);
    ini.Init("/settings.ini");
    ExpectError(Raised([&] { call(ini); }), kIniComponentFailure);

    ON_CALL(store, FindFirst(_)).WillByDefault(Throw(std::runtime_error("search")));
    ExpectError(Raised([&] { call(ini); }), kIniComponentFailure);
  }
}

TEST(CIniFile, FailingFindCloseIsAComponentFailure) {
  NiceMock<MockStore> store;
  EXPECT_CALL(store, CloseFind(FindHandle{7})).WillRepeatedly(Return(false));
  CIniFile ini(store);
  ExpectError(Raised([&] { ini.FileExists("/settings.ini"); }), kIniComponentFailure);
  ini.Init("/settings.ini");
  ExpectError(Raised([&] { ini.GetStringValue("S", "k"); }), kIniComponentFailure);

  EXPECT_CALL(store, FindFirst("/none")).WillOnce(Return(kInvalidFindHandle));
  EXPECT_FALSE(ini.FileExists("/none"));  // nothing to close
}

TEST(CIniFile, SavesAndDeletesFlushAndOnlyASaveMustSucceed) {
  NiceMock<MockStore> store;
  CIniFile ini(store);
  ini.Init("/settings.ini");
  {
    ::testing::InSequence order;
    EXPECT_CALL(store, WriteString(StrEq("S"), StrEq("k"), StrEq("-5"), "/settings.ini"))
        .WillOnce(Return(false));
    EXPECT_CALL(store, WriteString(IsNull(), IsNull(), IsNull(), "/settings.ini"));
    EXPECT_CALL(store, WriteString(StrEq("S"), StrEq("k"), IsNull(), "/settings.ini"))
        .WillOnce(Return(false));
    EXPECT_CALL(store, WriteString(IsNull(), IsNull(), IsNull(), "/settings.ini"));
    EXPECT_CALL(store, WriteString(StrEq("S"), IsNull(), IsNull(), "/settings.ini"))
        .WillOnce(Return(true));
    EXPECT_CALL(store, WriteString(IsNull(), IsNull(), IsNull(), "/settings.ini"));
  }
  ExpectError(Raised([&] { ini.SaveNumericValue("S", "k", -5); }), kIniComponentFailure);
  EXPECT_FALSE(ini.DeleteKey("S", "k"));
  EXPECT_TRUE(ini.DeleteSection("S"));
}

TEST(CIniFile, NumbersComeAsThirtyTwoBitsWithDefaultMinusOne) {
  NiceMock<MockStore> store;
  CIniFile ini(store);
  ini.Init("/settings.ini");
  EXPECT_CALL(store, GetInt(StrEq("S"), StrEq("k"), -1, "/settings.ini"))
      .WillOnce(Return(0xFFFF8000u))
      .WillOnce(Return(0xFFFFFFFFu))
      .WillOnce(Return(0x00008000u))
      .WillOnce(Return(0x80000000u));
  EXPECT_EQ(ini.GetNumericValue("S", "k"), -32768);
  EXPECT_EQ(ini.GetNumericValue("S", "k"), -1);
  ExpectError(Raised([&] { ini.GetNumericValue("S", "k"); }), kIniComponentFailure);
  ExpectError(Raised([&] { ini.GetNumericValue("S", "k"); }), kIniComponentFailure);
}

}  // namespace
}  // namespace zelmo
