// kernel32's private-profile functions against our own engine, on the points where the rules of
// the INI file are the platform's: what kernel32 answers, the engine must answer too. And what
// the Windows store adds around kernel32: full paths, paths outside the ANSI code page, the
// texts' bytes as the narrow functions give them, unreadable files.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "ini/profile_engine.h"
#include "ini/profile_store.h"
#include "ini/under_wine_test.h"
#include "sys/paths.h"
#include "text/cp1251.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

class TempFolder {
 public:
  TempFolder() {
    std::random_device random;
    path_ = fs::temp_directory_path() / ("zelmo-store-" + std::to_string(random()));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string operator/(const std::string& utf8) const {
    return PathToUtf8(path_ / Utf8ToPath(utf8));
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

void WriteBytes(const std::string& utf8Path, const std::string& bytes) {
  std::ofstream(Utf8ToPath(utf8Path), std::ios::binary) << bytes;
}

std::string ReadBytes(const std::string& utf8Path) {
  std::ifstream file(Utf8ToPath(utf8Path), std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// What one GetPrivateProfileString call gives: its result and the characters it placed.
struct Answer {
  uint32_t n;
  std::string placed;
  bool operator==(const Answer&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Answer& a) {
  out << a.n << " \"";
  for (char c : a.placed) {
    if (c == '\0') {
      out << "\\0";
    } else {
      out << c;
    }
  }
  return out << "\"";
}

Answer Placed(uint32_t n, const std::vector<char>& buffer) {
  // A list ends with one more NUL after the n characters; a value is NUL-terminated at n.
  const size_t shown = std::min<size_t>(buffer.size(), n + 1);
  return {n, std::string(buffer.data(), shown)};
}

Answer FromKernel32(const std::string& path, const char* section, const char* key, size_t size,
                    const char* defaultText = "") {
  std::vector<char> buffer(size, '#');
  const uint32_t n = PlatformProfileStore().GetString(section, key, defaultText, buffer, path);
  return Placed(n, buffer);
}

Answer FromEngine(const std::string& file, const char* section, const char* key, size_t size,
                  const char* defaultText) {
  std::vector<char> buffer(size, '#');
  const uint32_t n = ProfileText(file).GetString(section, key, defaultText, buffer);
  return Placed(n, buffer);
}

struct Query {
  const char* what;
  std::string file;
  const char* section;  // null: the list of sections
  const char* key;      // null: the list of keys
  size_t size = 255;
  const char* defaultText = "";
};

// The points where a file can be read more than one way.
const Query kQueries[] = {
    {"blanks around names and values", "  [ Parametri ]  \r\n\t Seriska  =  2 4 \r\n", "Parametri",
     "Seriska"},
    {"blanks in the names asked", "[Parametri]\r\nSeriska=2\r\n", " Parametri\t", " Seriska "},
    {"other blanks in the names asked", "[Parametri]\r\nSeriska=2\r\n", "\x1aParametri\v",
     "\fSeriska\x1a"},
    {"A0h is no blank", "[Parametri]\r\nSeriska=2\r\n", "Parametri", "Seriska\xa0"},
    {"blanks around a list's section", "[Parametri]\r\nSeriska=2\r\n", " Parametri", nullptr, 8192},
    {"tab and blank inside a value stay", "[S]\r\nk=a \t b\r\n", "S", "k"},
    {"double quotes", "[S]\r\na=\" x \"\r\n", "S", "a"},
    {"single quotes", "[S]\r\na='x'\r\n", "S", "a"},
    {"two pairs of quotes", "[S]\r\na=\"\"x\"\"\r\n", "S", "a"},
    {"unbalanced quote", "[S]\r\na=\"x\r\n", "S", "a"},
    {"a lone quote", "[S]\r\na=\"\r\n", "S", "a"},
    {"quotes around blanks", "[S]\r\na=  \"x\"  \r\n", "S", "a"},
    {"mixed quotes", "[S]\r\na=\"x'\r\n", "S", "a"},
    {"letter case of names", "[Parametri]\r\nSeriska=2\r\n", "PARAMETRI", "seriska"},
    {"semicolon inside a value", "[S]\r\nk=v ; note\r\n", "S", "k"},
    {"first = splits", "[S]\r\nk=a=b\r\n", "S", "k"},
    {"comment line asked for by name", "[S]\r\n ;k = 1\r\n", "S", ";k"},
    {"comment line with a blank in its name", "[S]\r\n; k=1\r\n", "S", ";k"},
    {"comment line without =", "[S]\r\n;k\r\n", "S", ";k", 255, "none"},
    {"comment line in a key list", "[S]\r\n;c=1\r\nx=1\r\n", "S", nullptr, 8192},
    {"line without =", "[S]\r\nk\r\nk=2\r\n", "S", "k"},
    {"line without = with blanks", "[S]\r\n  k  \r\nk=2\r\n", "S", "k", 255, "none  "},
    {"line without = in a key list", "[S]\r\nplain\r\nx=1\r\n", "S", nullptr, 8192},
    {"line without = and its key in a list", "[S]\r\nk\r\nk=2\r\nx=1\r\n", "S", nullptr, 8192},
    {"line without = before any header", "junk\r\na=1\r\n[S]\r\n", "", "junk", 255, "none"},
    {"header without ] is a line without =", "[S\r\na=1\r\n", "", "[S", 255, "none"},
    {"two keys of one name", "[S]\r\nk=1\r\nk=2\r\n", "S", "k"},
    {"two keys of one name in a list", "[S]\r\nk=1\r\nk=2\r\n", "S", nullptr, 8192},
    {"semicolon inside a key name", "[S]\r\nx;y=1\r\n", "S", nullptr, 8192},
    {"empty key name asked", "[S]\r\n=3\r\n", "S", " "},
    {"section name starting with ;", "[;A]\r\nk=1\r\n[B]\r\n", nullptr, nullptr, 8192},
    {"empty key name in a key list", "[S]\r\nx=1\r\n=3\r\ny=2\r\n", "S", nullptr, 8192},
    {"two sections of one name: lookup", "[S]\r\na=1\r\n[s]\r\nb=2\r\n", "S", "b"},
    {"two sections of one name: the first wins", "[S]\r\na=1\r\n[S]\r\na=2\r\n", "S", "a"},
    {"two sections of one name: listed", "[S]\r\na=1\r\n[s]\r\nb=2\r\n", nullptr, nullptr, 8192},
    {"two sections of one name: keys", "[S]\r\na=1\r\n[s]\r\nb=2\r\n", "S", nullptr, 8192},
    {"text after a header", "[S] ; the port\r\na=1\r\n", "S", "a"},
    {"header without ]", "[S\r\na=1\r\n", "S", "a"},
    {"lines before any header", "a=1\r\n[S]\r\n", "", "a"},
    {"LF line ends", "[S]\na=1\nb=2\n", "S", "b"},
    {"no final line end", "[S]\r\na=1", "S", "a"},
    {"missing key", "[S]\r\na=1\r\n", "S", "b"},
    {"missing section", "[S]\r\na=1\r\n", "T", "a"},
    {"value cut to the buffer", "[S]\r\nk=abcdefgh\r\n", "S", "k", 4},
    {"quoted value cut to the buffer", "[S]\r\nk=\"abcdef\"\r\n", "S", "k", 4},
    {"key list fits", "[S]\r\naaa=1\r\nbbb=2\r\nccc=3\r\n", "S", nullptr, 14},
    {"key list cut in a name", "[S]\r\naaa=1\r\nbbb=2\r\nccc=3\r\n", "S", nullptr, 13},
    {"key list cut after a NUL", "[S]\r\naaa=1\r\nbbb=2\r\nccc=3\r\n", "S", nullptr, 10},
    {"section list cut", "[aaa]\r\n[bbb]\r\n[ccc]\r\n", nullptr, nullptr, 9},
    {"empty file's section list", "", nullptr, nullptr, 8192},
    {"default for a missing key", "[S]\r\na=1\r\n", "S", "b", 255, "none"},
    {"default for a line without =", "[S]\r\nb\r\n", "S", "b", 255, "none"},
    {"default for an empty value", "[S]\r\nb=\r\n", "S", "b", 255, "none"},
    {"default for an empty key list", "[S]\r\n;c=1\r\n", "S", nullptr, 8192, "none"},
    {"default for a missing section's key list", "[S]\r\n", "T", nullptr, 8192, "none"},
};

TEST(ProfileStoreWin32, Kernel32AndOurEngineReadFilesAlike) {
  TempFolder folder;
  const std::string path = folder / "q.ini";
  for (const auto& q : kQueries) {
    WriteBytes(path, q.file);
    EXPECT_EQ(FromEngine(q.file, q.section, q.key, q.size, q.defaultText),
              FromKernel32(path, q.section, q.key, q.size, q.defaultText))
        << q.what;
  }
}

TEST(ProfileStoreWin32, Kernel32AndOurEngineReadNumbersAlike) {
  TempFolder folder;
  const std::string path = folder / "n.ini";
  for (const char* value : {"32767", "32768", "-5", "abc", "12abc", "0x10", "\"42\"", "+7",
                            "4294967297", "", " 9 ", "- 3", "010", "0X1f"}) {
    const std::string file = "[S]\r\nn="s + value + "\r\n";
    WriteBytes(path, file);
    EXPECT_EQ(ProfileText(file).GetInt("S", "n", -1),
              PlatformProfileStore().GetInt("S", "n", -1, path))
        << '"' << value << '"';
  }
}

// Both ways of writing must leave files that read the same, whatever their layout.
std::string Contents(const std::string& path) {
  std::string all;
  const Answer sections = FromKernel32(path, nullptr, nullptr, 8192);
  std::istringstream names(sections.placed.substr(0, sections.n));
  std::string section;
  while (std::getline(names, section, '\0')) {
    all += "[" + section + "]";
    const Answer keys = FromKernel32(path, section.c_str(), nullptr, 8192);
    std::istringstream keyNames(keys.placed.substr(0, keys.n));
    std::string key;
    while (std::getline(keyNames, key, '\0')) {
      const Answer value = FromKernel32(path, section.c_str(), key.c_str(), 255);
      all += key + "=" + value.placed.substr(0, value.n) + ";";
    }
  }
  return all;
}

struct Write {
  const char* what;
  std::string before;
  const char* section;
  const char* key;
  const char* text;
};

TEST(ProfileStoreWin32, Kernel32AndOurEngineWriteFilesThatReadAlike) {
  const Write writes[] = {
      {"update", "[P]\r\nSeriska = 1 \r\nClear=0\r\n", "P", "Seriska", "3"},
      {"names in another case", "[Param]\r\nSeriska=1\r\n", "PARAM", "SERISKA", "3"},
      {"blanks around what is written", "[P]\r\nk=1\r\n", " P ", " k ", "  3\t"},
      {"new key", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "A", "z", "3"},
      {"new key into the first of two sections", "[A]\r\nx=1\r\n[a]\r\ny=2\r\n", "A", "y", "5"},
      {"a line without = gets the value", "[A]\r\nx\r\n", "A", "x", "1"},
      {"a line without = and a later key", "[A]\r\n x \r\nx=2\r\ny=3\r\n", "A", "X", "1"},
      {"delete a line without =", "[A]\r\nx\r\nx=2\r\n", "A", "x", nullptr},
      {"trailing blanks of the value", "[A]\r\nx=1\r\n", "A", "new", "  v \t"},
      {"new section", "[A]\r\nx=1", "B", "y", "2"},
      {"delete key", "[A]\r\nx=1\r\ny=2\r\n", "a", "X", nullptr},
      {"delete key, blanks around the key", "[A]\r\nx=1\r\ny=2\r\n", "A", " x ", nullptr},
      {"delete key, blanks around the section", "[A]\r\nx=1\r\ny=2\r\n", " A", "x", nullptr},
      {"delete section, blanks around it", "[A]\r\nx=1\r\n[B]\r\ny=2\r\n", "A ", nullptr, nullptr},
      {"delete key from a later section of the name", "[A]\r\nx=1\r\n[A]\r\ny=2", "A", "y",
       nullptr},
      {"delete section", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "a", nullptr, nullptr},
      {"delete a section that is there twice", "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n", "A", nullptr,
       nullptr},
  };
  TempFolder folder;
  const std::string byKernel32 = folder / "kernel32.ini";
  const std::string byEngine = folder / "engine.ini";
  for (const auto& w : writes) {
    WriteBytes(byKernel32, w.before);
    EXPECT_TRUE(PlatformProfileStore().WriteString(w.section, w.key, w.text, byKernel32)) << w.what;
    ProfileText text(w.before);
    EXPECT_TRUE(text.Write(w.section, w.key, w.text).done) << w.what;
    WriteBytes(byEngine, text.bytes());
    EXPECT_EQ(Contents(byEngine), Contents(byKernel32)) << w.what;
  }
}

// On a tidy file (CR LF line ends, no blanks around "=", no blank lines) kernel32 and our engine
// write the same bytes; elsewhere Wine's kernel32 rewrites the whole file and ours keeps it.
TEST(ProfileStoreWin32, Kernel32AndOurEngineWriteTheSameBytesToATidyFile) {
  const Write writes[] = {
      {"comment line written by name", "[A]\r\n;c=1\r\nx=1\r\n", "A", ";c", "5"},
      {"comment line deleted by name", "[A]\r\n;c=1\r\nx=1\r\n", "A", ";c", nullptr},
      {"line without = gets the value", "[A]\r\nx\r\nx=2\r\n", "A", "x", "1"},
      {"line without = deleted", "[A]\r\nx\r\nx=2\r\n", "A", "x", nullptr},
      {"delete key, blanks around the key", "[A]\r\nx=1\r\n", "A", " x", nullptr},
      {"delete key, blanks around the section", "[A]\r\nx=1\r\n", "A ", "x", nullptr},
      {"delete section, blanks around it", "[A]\r\nx=1\r\n[B]\r\n", " A ", nullptr, nullptr},
      {"delete the first of two sections", "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n", "A", nullptr,
       nullptr},
      {"delete key from a later section of the name", "[A]\r\nx=1\r\n[A]\r\ny=2\r\n", "a", "Y",
       nullptr},
      {"new section", "[A]\r\nx=1\r\n", "B", "y", "2"},
      {"new section, no final line end", "[A]\r\nx=1", "B", "y", "2"},
      {"new section in an empty file", "", "B", "y", "2"},
      {"blank section name is the nameless one", "[A]\r\n", " ", "k", "v"},
      {"new key keeps the blanks after its value", "[A]\r\nx=1\r\n", "A", "new", "  v \t"},
      {"update keeps the blanks after the value", "[A]\r\nx=1\r\n", "A", "x", "\t v "},
      {"update trims the names", "[Param]\r\nSeriska=1\r\n", " PARAM\t", "\vSERISKA ", "3"},
      {"new key into the first of two sections", "[A]\r\nx=1\r\n[a]\r\ny=2\r\n", "A", "y", "5"},
      {"same value", "[A]\r\nx=1\r\n", "A", "x", "1"},
  };
  TempFolder folder;
  const std::string path = folder / "tidy.ini";
  for (const auto& w : writes) {
    WriteBytes(path, w.before);
    EXPECT_TRUE(PlatformProfileStore().WriteString(w.section, w.key, w.text, path)) << w.what;
    PlatformProfileStore().WriteString(nullptr, nullptr, nullptr, path);
    ProfileText text(w.before);
    EXPECT_TRUE(text.Write(w.section, w.key, w.text).done) << w.what;
    EXPECT_EQ(text.bytes(), ReadBytes(path)) << w.what;
  }
}

// Windows compares Cyrillic names without letter case, as our engine does; Wine's kernel32 only
// ASCII ones, so under Wine there is nothing to compare with.
TEST(ProfileStoreWin32, Kernel32AndOurEngineIgnoreCyrillicLetterCase) {
  if (UnderWine()) GTEST_SKIP() << "Wine's kernel32 ignores letter case in ASCII names only";
  TempFolder folder;
  const std::string path = folder / "c.ini";
  const std::string file = Utf8ToAnsi("[Параметри]\r\nЗбор=1\r\nЃЅЈЉЊЌЏ=2\r\n");
  WriteBytes(path, file);
  for (const char* key : {"збор", "ЗБОР", "ѓѕјљњќџ"}) {
    const std::string section = Utf8ToAnsi("ПАРАМЕТРИ"), name = Utf8ToAnsi(key);
    EXPECT_EQ(FromEngine(file, section.c_str(), name.c_str(), 255, ""),
              FromKernel32(path, section.c_str(), name.c_str(), 255))
        << key;
  }
}

TEST(ProfileStoreWin32, RelativePathIsTheCurrentFolderNotTheWindowsFolder) {
  TempFolder folder;
  const fs::path before = fs::current_path();
  fs::current_path(folder.path());
  EXPECT_TRUE(PlatformProfileStore().WriteString("S", "k", "here", "rel.ini"));
  std::vector<char> buffer(16);
  const uint32_t n = PlatformProfileStore().GetString("S", "k", "", buffer, "rel.ini");
  fs::current_path(before);
  EXPECT_EQ(std::string(buffer.data(), n), "here");
  EXPECT_EQ(ReadBytes(folder / "rel.ini"), "[S]\r\nk=here\r\n");
}

TEST(ProfileStoreWin32, CyrillicFolderNamesReachTheFile) {
  TempFolder folder;
  fs::create_directory(Utf8ToPath(folder / "Каса"));
  const std::string path = folder / "Каса/Zelmocfg.ini";
  const std::string value = Utf8ToAnsi("Млеко");
  ASSERT_TRUE(PlatformProfileStore().WriteString("P", "k", value.c_str(), path));
  std::vector<char> buffer(16);
  const uint32_t n = PlatformProfileStore().GetString("P", "k", "", buffer, path);
  EXPECT_EQ(std::string(buffer.data(), n), value);
  EXPECT_EQ(ReadBytes(path), "[P]\r\nk=" + value + "\r\n");
}

// A folder whose name the ANSI code page cannot hold (Ω and 收据 have no code in 1251 or 1252)
// is reached by its own name, for reading, writing and the search.
TEST(ProfileStoreWin32, FolderWithoutAnAnsiNameIsReached) {
  TempFolder folder;
  fs::create_directory(Utf8ToPath(folder / "Каса Ω 收据"));
  const std::string path = folder / "Каса Ω 收据/Zelmocfg.ini";
  ASSERT_TRUE(PlatformProfileStore().WriteString("P", "k", "1", path));
  EXPECT_EQ(ReadBytes(path), "[P]\r\nk=1\r\n");
  EXPECT_EQ(PlatformProfileStore().GetInt("P", "k", -1, path), 1u);
  std::vector<char> buffer(16);
  EXPECT_EQ(PlatformProfileStore().GetString("P", "k", "", buffer, path), 1u);
  EXPECT_STREQ(buffer.data(), "1");
  const FindHandle found = PlatformProfileStore().FindFirst(path);
  ASSERT_NE(found, kInvalidFindHandle);
  EXPECT_TRUE(PlatformProfileStore().CloseFind(found));
  EXPECT_TRUE(PlatformProfileStore().WriteString("P", "k", nullptr, path));
  EXPECT_EQ(ReadBytes(path), "[P]\r\n");
}

// Every byte from 21h up, as the narrow functions read and write it. Run in any ANSI code page:
// the bytes of a 1251 file must come back unchanged where the system's code page is 1252 too.
std::vector<std::string> HighBytes() {
  std::vector<std::string> values;
  for (int first = 0x21; first <= 0xFF; first += 32) {
    std::string value;
    for (int b = first; b < first + 32 && b <= 0xFF; ++b) {
      if (b != '"' && b != '\'' && b != '=' && b != ';' && b != '[' && b != ']') {
        value += static_cast<char>(b);
      }
    }
    values.push_back(value);
  }
  return values;
}

Answer FromNarrowFunctions(const std::string& path, const char* section, const char* key,
                           size_t size) {
  std::vector<char> buffer(size, '#');
  const uint32_t n = GetPrivateProfileStringA(section, key, "", buffer.data(),
                                              static_cast<DWORD>(size), path.c_str());
  return Placed(n, buffer);
}

TEST(ProfileStoreWin32, TextsKeepTheBytesTheNarrowFunctionsGive) {
  TempFolder folder;  // an ASCII path, which the narrow functions reach in any code page
  const std::string path = folder / "bytes.ini";
  ASSERT_TRUE(std::all_of(path.begin(), path.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
  const std::vector<std::string> values = HighBytes();
  std::string file = "[\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xE8]\r\n";  // "Параметри" in 1251
  for (size_t i = 0; i < values.size(); ++i) {
    file += "k" + std::to_string(i) + values[i] + "=" + values[i] + "\r\n";
  }
  WriteBytes(path, file);
  const std::string section = "\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xE8";
  EXPECT_EQ(FromKernel32(path, nullptr, nullptr, 8192),
            FromNarrowFunctions(path, nullptr, nullptr, 8192));
  EXPECT_EQ(FromKernel32(path, section.c_str(), nullptr, 8192),
            FromNarrowFunctions(path, section.c_str(), nullptr, 8192));
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string key = "k" + std::to_string(i) + values[i];
    const Answer answer = FromKernel32(path, section.c_str(), key.c_str(), 255);
    EXPECT_EQ(answer, FromNarrowFunctions(path, section.c_str(), key.c_str(), 255)) << key;
    EXPECT_EQ(answer.placed.substr(0, answer.n), values[i]) << key;
  }

  // Written: the same bytes as the narrow function writes.
  const std::string byStore = folder / "store.ini", byNarrow = folder / "narrow.ini";
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string key = "k" + std::to_string(i) + values[i];
    ASSERT_TRUE(PlatformProfileStore().WriteString(section.c_str(), key.c_str(), values[i].c_str(),
                                                   byStore));
    WritePrivateProfileStringA(section.c_str(), key.c_str(), values[i].c_str(), byNarrow.c_str());
  }
  EXPECT_EQ(ReadBytes(byStore), ReadBytes(byNarrow));
  EXPECT_EQ(ReadBytes(byStore), file);
}

TEST(ProfileStoreWin32, SearchForANameWithoutAnsiFormFindsNothingElse) {
  TempFolder folder;
  WriteBytes(folder / "xa.ini", "");
  // In the ANSI code page the ü would become "?", a wildcard that matches xa.ini.
  EXPECT_EQ(PlatformProfileStore().FindFirst(folder / "xü.ini"), kInvalidFindHandle);
  const FindHandle found = PlatformProfileStore().FindFirst(folder / "x?.ini");
  ASSERT_NE(found, kInvalidFindHandle);
  EXPECT_TRUE(PlatformProfileStore().CloseFind(found));
  EXPECT_EQ(PlatformProfileStore().FindFirst(""), kInvalidFindHandle);
}

TEST(ProfileStoreWin32, FolderInPlaceOfTheFileThrowsAndAMissingFileReadsAsEmpty) {
  TempFolder folder;
  fs::create_directory(Utf8ToPath(folder / "dir.ini"));
  std::vector<char> buffer(16);
  EXPECT_THROW(PlatformProfileStore().GetString("S", "k", "", buffer, folder / "dir.ini"),
               std::system_error);
  EXPECT_THROW(PlatformProfileStore().GetInt("S", "k", -1, folder / "dir.ini"), std::system_error);
  EXPECT_EQ(PlatformProfileStore().GetString("S", "k", "d", buffer, folder / "none.ini"), 1u);
  EXPECT_STREQ(buffer.data(), "d");
  EXPECT_EQ(PlatformProfileStore().GetInt("S", "k", 7, folder / "none.ini"), 7u);
}

TEST(ProfileStoreWin32, DeletesNeverCreateAFile) {
  TempFolder folder;
  const std::string path = folder / "none.ini";
  EXPECT_TRUE(PlatformProfileStore().WriteString("S", "k", nullptr, path));
  EXPECT_TRUE(PlatformProfileStore().WriteString("S", nullptr, nullptr, path));
  EXPECT_FALSE(fs::exists(Utf8ToPath(path)));
}

}  // namespace
}  // namespace zelmo
