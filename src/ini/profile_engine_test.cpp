#include "ini/profile_engine.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "text/cp1251.h"

namespace zelmo {
namespace {

using namespace std::string_literals;

// The characters a lookup placed in a buffer of `size`; the result must be NUL-terminated.
std::string Lookup(const std::string& file, const char* section, const char* key,
                   size_t size = 255) {
  std::vector<char> buffer(size, '#');
  const uint32_t n = ProfileText(file).GetString(section, key, "", buffer);
  EXPECT_LT(n, size);
  EXPECT_EQ(buffer[n], '\0');
  return std::string(buffer.data(), n);
}

// The n characters of a list read (key null, or section and key null).
std::string List(const std::string& file, const char* section, size_t size = 8192) {
  std::vector<char> buffer(size, '#');
  const uint32_t n = ProfileText(file).GetString(section, nullptr, "", buffer);
  EXPECT_LE(n, size);
  return std::string(buffer.data(), n);
}

struct LookupCase {
  const char* what;
  std::string file;
  const char* section;
  const char* key;
  std::string expected;
};

TEST(ProfileText, LookupFollowsTheWindowsRules) {
  const LookupCase cases[] = {
      {"plain", "[Parametri]\r\nSeriska=2\r\n", "Parametri", "Seriska", "2"},
      {"letter case", "[Parametri]\r\nSeriska=2\r\n", "PARAMETRI", "seriska", "2"},
      {"blanks in the file", "  [ Parametri ]  \r\n\t Seriska  =  2 4 \x1a\r\n", "Parametri",
       "Seriska", "2 4"},
      {"blanks in the names asked", "[Parametri]\r\nSeriska=2", " Parametri\t", " Seriska ", "2"},
      {"missing key", "[S]\r\na=1\r\n", "S", "b", ""},
      {"missing section", "[S]\r\na=1\r\n", "T", "a", ""},
      {"empty value", "[S]\r\na=\r\n", "S", "a", ""},
      {"double quotes removed", "[S]\r\na=\" x \"\r\n", "S", "a", " x "},
      {"single quotes removed", "[S]\r\na='x'\r\n", "S", "a", "x"},
      {"only one pair removed", "[S]\r\na=\"\"x\"\"\r\n", "S", "a", "\"x\""},
      {"unbalanced quote kept", "[S]\r\na=\"x\r\n", "S", "a", "\"x"},
      {"a lone quote kept", "[S]\r\na=\"\r\n", "S", "a", "\""},
      {"semicolon inside a value", "[S]\r\nk=v ; note\r\n", "S", "k", "v ; note"},
      {"first = splits", "[S]\r\nk=a=b\r\n", "S", "k", "a=b"},
      {"comment line asked for by name", "[S]\r\n ;k = 1\r\n", "S", ";k", "1"},
      {"comment line, blank inside its name", "[S]\r\n; k=1\r\n", "S", ";k", ""},
      {"line without = hides a later key", "[S]\r\nk\r\nk=2\r\n", "S", "k", ""},
      {"first of two keys", "[S]\r\nk=1\r\nk=2\r\n", "S", "k", "1"},
      {"empty key name", "[S]\r\n=3\r\n", "S", " ", "3"},
      {"only the first of two sections", "[S]\r\na=1\r\n[s]\r\nb=2\r\n", "S", "b", ""},
      {"the first section wins", "[S]\r\na=1\r\n[S]\r\na=2\r\n", "S", "a", "1"},
      {"text after the header", "[S] ; the port\r\na=1\r\n", "S", "a", "1"},
      {"header without ]", "[S\r\na=1\r\n", "S", "a", ""},
      {"lines before any header", "a=1\r\n[S]\r\n", "", "a", "1"},
      {"LF line ends", "[S]\na=1\nb=2\n", "S", "b", "2"},
      {"CR line ends", "[S]\ra=1\rb=2\r", "S", "b", "2"},
      {"no final line end", "[S]\r\na=1", "S", "a", "1"},
      {"NUL ends a value", "[S]\r\na=x\0y\r\nb=2\r\n"s, "S", "a", "x"},
      {"NUL ends a name", "[S]\r\na\0junk=1\r\n"s, "S", "a", "1"},
      {"binary junk around", "\xff\xfe\0\x01\r\n[S]\r\n\x80=\x90\r\na=1\r\n"s, "S", "a", "1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Lookup(c.file, c.section, c.key), c.expected) << c.what;
  }
}

TEST(ProfileText, CyrillicNamesCompareWithoutLetterCase) {
  const std::string upper = "АБВГДЃЕЁЖЗЅИЈКЛЉМНЊОПРСТЌЋЂУЎФХЦЧЏШЩЪЫЬЭЮЯІЇЄҐQZ";
  const std::string lower = "абвгдѓеёжзѕијклљмнњопрстќћђуўфхцчџшщъыьэюяіїєґqz";
  const std::string file = "[" + Utf8ToAnsi(upper) + "]\r\n" + Utf8ToAnsi("Клуч") + "=1\r\n";
  EXPECT_EQ(Lookup(file, Utf8ToAnsi(lower).c_str(), Utf8ToAnsi("КЛУЧ").c_str()), "1");
  EXPECT_EQ(Lookup(file, Utf8ToAnsi(lower + "а").c_str(), Utf8ToAnsi("клуч").c_str()), "");
}

TEST(ProfileText, ValueIsCutToTheBuffer) {
  const std::string file = "[S]\r\nlong=" + std::string(300, 'x') + "\r\nq=\"abcdef\"\r\n";
  EXPECT_EQ(Lookup(file, "S", "long"), std::string(254, 'x'));
  EXPECT_EQ(Lookup(file, "S", "long", 2), "x");
  EXPECT_EQ(Lookup(file, "S", "long", 1), "");
  EXPECT_EQ(Lookup(file, "S", "q", 4), "abc");
  std::array<char, 1> none{'#'};
  EXPECT_EQ(ProfileText(file).GetString("S", "long", "", std::span<char>(none.data(), 0)), 0u);
  EXPECT_EQ(none[0], '#');
}

TEST(ProfileText, DefaultTextStandsInForAMissingKey) {
  std::array<char, 16> buffer{};
  ProfileText text("[S]\r\na=1\r\nc\r\ne=\r\n");
  EXPECT_EQ(text.GetString("S", "b", "none  ", buffer), 4u);
  EXPECT_STREQ(buffer.data(), "none");
  EXPECT_EQ(text.GetString("S", "a", "none", buffer), 1u);
  EXPECT_STREQ(buffer.data(), "1");
  EXPECT_EQ(text.GetString("S", "c", "none ", buffer), 4u);  // no "=": no value at all
  EXPECT_STREQ(buffer.data(), "none");
  EXPECT_EQ(text.GetString("S", "e", "none", buffer), 0u);  // an empty value is a value
  EXPECT_STREQ(buffer.data(), "");
}

TEST(ProfileText, ListsHoldKeysAndSectionsInFileOrder) {
  const std::string file =
      "top=0\r\n[A]\r\n;c=1\r\nx=1\r\nplain\r\n\r\n Y = "
      "2\r\n=3\r\n[B]\r\nz=1\r\n[]\r\n[a]\r\nw=1\r\n";
  EXPECT_EQ(List(file, "A"), "x\0Y\0\0"s);  // comments and lines without = left out
  EXPECT_EQ(List(file, "a"), "x\0Y\0\0"s);
  EXPECT_EQ(List(file, " a "), "");  // the section of a list read is taken as given
  EXPECT_EQ(List("[S]\r\na=1\r\na=2\r\nx;y=3\r\n", "S"), "a\0a\0x;y\0"s);
  EXPECT_EQ(List(file, "B"), "z\0"s);
  EXPECT_EQ(List(file, "C"), "");
  EXPECT_EQ(List(file, nullptr), "A\0B\0a\0"s);  // duplicates listed, nameless ones not
  EXPECT_EQ(List("", nullptr), "");
  EXPECT_EQ(List("[A]\r\n", "A"), "");
  // A list whose first name is empty reads as no list at all.
  EXPECT_EQ(List("[A]\r\n=1\r\nx=2\r\n", "A"), "");
}

TEST(ProfileText, CutListKeepsWholeNamesOnlyAndReturnsSizeLessTwo) {
  const std::string sections = "[aaa]\r\n[bbb]\r\nx=1\r\n[ccc]\r\n";
  const std::string keys = "[S]\r\naaa=1\r\nbbb=2\r\nccc=3\r\n";
  struct Cut {
    size_t size;
    std::string list;
  };
  const Cut cuts[] = {
      {100, "aaa\0bbb\0ccc\0"s},  // fits
      {14, "aaa\0bbb\0ccc\0"s},   // fits with its closing NUL
      {13, "aaa\0bbb\0ccc"s},     // n = size - 2; ccc has no NUL within n
      {10, "aaa\0bbb\0"s},        // the cut name is left with no characters
      {9, "aaa\0bbb"s},          {5, "aaa"}, {2, ""},
  };
  for (const auto& cut : cuts) {
    EXPECT_EQ(List(keys, "S", cut.size), cut.list) << "keys, size " << cut.size;
    EXPECT_EQ(List(sections, nullptr, cut.size), cut.list) << "sections, size " << cut.size;
  }
}

TEST(ProfileText, IntegersReadAsWindowsReadsThem) {
  struct Number {
    const char* value;
    uint32_t expected;
  };
  const Number numbers[] = {
      {"32767", 32767u}, {"32768", 32768u}, {"-5", static_cast<uint32_t>(-5)},
      {"abc", 0u},       {"12abc", 12u},    {"0x10", 16u},
      {"\"42\"", 42u},   {"+7", 7u},        {"4294967297", 1u},
      {"", 0xFFFFFFFFu},  // empty: the default
  };
  for (const auto& number : numbers) {
    const std::string file = "[S]\r\nn=" + std::string(number.value) + "\r\n";
    EXPECT_EQ(ProfileText(file).GetInt("S", "n", -1), number.expected) << number.value;
  }
  EXPECT_EQ(ProfileText("[S]\r\n").GetInt("S", "n", -1), 0xFFFFFFFFu);
  EXPECT_EQ(ProfileText("").GetInt("S", "n", 7), 7u);
}

struct WriteCase {
  const char* what;
  std::string before;
  const char* section;
  const char* key;   // null deletes the section
  const char* text;  // null deletes the key
  std::string after;
};

TEST(ProfileText, WritesChangeOnlyTheirLines) {
  const WriteCase cases[] = {
      {"update keeps every other byte",
       "; settings\r\n[Parametri]\r\nSeriska = 1   \r\nClear=0\n\n[B]\rx=1", "Parametri", "Seriska",
       "3", "; settings\r\n[Parametri]\r\nSeriska = 3\r\nClear=0\n\n[B]\rx=1"},
      {"the file's spelling of names stays", "[Param]\r\nSeriska=1\r\n", "PARAM", "SERISKA", "3",
       "[Param]\r\nSeriska=3\r\n"},
      {"blanks around names and before the value dropped, after it kept",
       "[Param]\r\nSeriska=1\r\n", " Param\v", "\x1a Seriska ", " \r\n3 \t",
       "[Param]\r\nSeriska=3 \t\r\n"},
      {"same value changes nothing", "[A]\r\nx = 1 \r\n", "A", "x", "1", "[A]\r\nx = 1 \r\n"},
      {"same bytes change nothing", "[A]\r\nx=1 \r\n", "A", "x", "1 ", "[A]\r\nx=1 \r\n"},
      {"new key keeps the blanks after its value", "[A]\r\n", "A", "new", "  v \t",
       "[A]\r\nnew=v \t\r\n"},
      {"empty value", "[A]\r\nx=1\r\n", "A", "x", "", "[A]\r\nx=\r\n"},
      {"new key after the last entry, before the blank line", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n",
       "A", "z", "3", "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
      {"new key after a comment", "[A]\r\nx=1\r\n; note\r\n", "A", "z", "3",
       "[A]\r\nx=1\r\n; note\r\nz=3\r\n"},
      {"new key in an empty section", "[A]\r\n[B]\r\n", "A", "z", "3", "[A]\r\nz=3\r\n[B]\r\n"},
      {"header ends the file", "[A]", "A", "z", "3", "[A]\r\nz=3\r\n"},
      {"key ends the file", "[A]\nx=1", "A", "z", "3", "[A]\nx=1\r\nz=3\r\n"},
      {"new key into the first of two sections", "[A]\r\nx=1\r\n[a]\r\ny=2\r\n", "A", "y", "5",
       "[A]\r\nx=1\r\ny=5\r\n[a]\r\ny=2\r\n"},
      {"a line without = gets its value in place", "[A]\r\n  x  \r\nx=2\r\n", "A", "X", "1",
       "[A]\r\n  x=1\r\nx=2\r\n"},
      {"a comment line written by name", "[A]\r\n;c=1\r\nx=2\r\n", "A", ";c", "5",
       "[A]\r\n;c=5\r\nx=2\r\n"},
      {"a comment line without =", "[A]\r\n;c\n", "A", ";c", "2", "[A]\r\n;c=2\n"},
      {"CR line ends kept", "[A]\rx=1\r", "A", "x", "2", "[A]\rx=2\r"},
      {"new section right after the last line", "[A]\r\nx=1\r\n", "B", "y", "2",
       "[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
      {"new section, LF line end", "[A]\nx=1\n", "B", "y", "2", "[A]\nx=1\n[B]\r\ny=2\r\n"},
      {"new section, no final line end", "[A]\nx=1", "B", "y", "2", "[A]\nx=1\r\n[B]\r\ny=2\r\n"},
      {"blank section name is the nameless one", "[A]\r\n", " ", "k", "v", "k=v\r\n[A]\r\n"},
      {"new section in an empty file", "", "B", "y", "2", "[B]\r\ny=2\r\n"},
      {"delete key", "[A]\r\nx=1\r\ny=2\r\n", "A", "x", nullptr, "[A]\r\ny=2\r\n"},
      {"delete key, names without case", "[A]\r\nx=1\r\n", "a", "X", nullptr, "[A]\r\n"},
      {"delete key, blanks around the key are part of it", "[A]\r\nx=1\r\n", "A", " x", nullptr,
       "[A]\r\nx=1\r\n"},
      {"delete key, blanks around the section are part of it", "[A]\r\nx=1\r\n", "A ", "x", nullptr,
       "[A]\r\nx=1\r\n"},
      {"delete a line without =", "[A]\r\nx\r\nx=2\r\n", "A", "x", nullptr, "[A]\r\nx=2\r\n"},
      {"delete a comment line by name", "[A]\r\n;c=1\r\nx=2\r\n", "A", ";c", nullptr,
       "[A]\r\nx=2\r\n"},
      {"delete a missing key", "[A]\r\nx=1\r\n", "A", "y", nullptr, "[A]\r\nx=1\r\n"},
      {"delete looks into a later section of the name", "[A]\r\nx=1\r\n[A]\r\ny=2", "A", "y",
       nullptr, "[A]\r\nx=1\r\n[A]\r\n"},
      {"delete section", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "a", nullptr, nullptr,
       "[B]\r\ny=2\r\n"},
      {"delete the last section", "[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "B", nullptr, "ignored",
       "[A]\r\nx=1\r\n\r\n"},
      {"delete a missing section", "[A]\r\nx=1\r\n", "C", nullptr, nullptr, "[A]\r\nx=1\r\n"},
      {"delete section, blanks are part of the name", "[A]\r\nx=1\r\n", " A ", nullptr, nullptr,
       "[A]\r\nx=1\r\n"},
      {"delete the first of two sections", "[A]\r\nx=1\r\n[B]\r\n[a]\r\ny=2\r\n", "A", nullptr,
       nullptr, "[B]\r\n[a]\r\ny=2\r\n"},
  };
  for (const auto& c : cases) {
    ProfileText text(c.before);
    const auto result = text.Write(c.section, c.key, c.text);
    EXPECT_TRUE(result.done) << c.what;
    EXPECT_EQ(result.changed, c.after != c.before) << c.what;
    EXPECT_EQ(text.bytes(), c.after) << c.what;
  }
}

TEST(ProfileText, WriteWithoutSectionIsRefused) {
  ProfileText text("[A]\r\nx=1\r\n");
  const auto result = text.Write(nullptr, "x", "2");
  EXPECT_FALSE(result.done);
  EXPECT_FALSE(result.changed);
  EXPECT_EQ(text.bytes(), "[A]\r\nx=1\r\n");
}

TEST(ProfileText, VeryLongLinesAndNoLineEnds) {
  const std::string file =
      "[S]\r\nk=" + std::string(1 << 20, 'v') + "\r\n" + std::string(1 << 20, '[') + "\r\nz=1";
  EXPECT_EQ(Lookup(file, "S", "k"), std::string(254, 'v'));
  EXPECT_EQ(Lookup(file, "S", "z"), "1");
  EXPECT_EQ(List(file, "S"), "k\0z\0"s);
}

// Whatever the bytes, reads stay inside the buffer, a written key reads back, and deleting it
// until nothing changes makes it read as missing.
TEST(ProfileText, AnyBytesAreSafe) {
  const std::string alphabet = "ab=[];\r\n \t\x1a\xC0\xE0\"'\0"s;
  std::mt19937 random(1251);
  for (int round = 0; round < 3000; ++round) {
    std::string junk(random() % 120, ' ');
    for (char& c : junk) c = alphabet[random() % alphabet.size()];
    ProfileText text(junk);
    std::array<char, 16> buffer{};
    EXPECT_LT(text.GetString("a", "b", "", buffer), buffer.size()) << round;
    EXPECT_LE(text.GetString("a", nullptr, "", buffer), buffer.size()) << round;
    EXPECT_LE(text.GetString(nullptr, nullptr, "", buffer), buffer.size()) << round;

    ASSERT_TRUE(text.Write("ab", "a", "v1").done);
    EXPECT_EQ(Lookup(text.bytes(), "ab", "a"), "v1") << round;
    for (int i = 0; i < 200 && text.Write("ab", "a", nullptr).changed; ++i) {
    }
    EXPECT_EQ(Lookup(text.bytes(), "ab", "a"), "") << round;
  }
}

}  // namespace
}  // namespace zelmo
