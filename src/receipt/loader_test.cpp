#include "receipt/loader.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "text/cp1251.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

const std::string kTitle = "Полнење на Фискална Сметка...";
const std::string kNoName = "Немате назив на артикалот за печатење.";
const std::string kNoQuantity =
    "Немате количина на артикалот за печатење. Дали сакате да биде доделена вредноста 1?";
const std::string kNoPrice =
    "Немате цена на артикалот за печатење. Дали сакате да биде доделена вредноста 1?";

struct Box {
  std::string text;
  MsgStyle style;
  std::string title;
};

// Answers the loader's questions from a script (Yes once the script runs out) and keeps every
// box it was shown.
class ScriptedOperator : public Operator {
 public:
  std::deque<MsgAnswer> answers;
  std::vector<Box> boxes;

  MsgAnswer MsgBox(const std::string& text, MsgStyle style, const std::string& title) override {
    boxes.push_back({text, style, title});
    if (style != MsgStyle::kQuestion) return MsgAnswer::kOk;
    if (answers.empty()) return MsgAnswer::kYes;
    const MsgAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

constexpr auto kOk = LoadResult::kLoaded;
constexpr auto kBad = LoadResult::kFailed;

class LoaderTest : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("zelmo-loader-" + std::to_string(random()));
    fs::create_directories(dir_);
    path_ = (dir_ / "smetka.txt").string();
    state_.sDelimiter = ";";
  }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteBytes(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
  // The receipt as a point-of-sale program writes it: code page 1251.
  void WriteAnsi(const std::string& utf8) { WriteBytes(Utf8ToAnsi(utf8)); }

  LoadResult Load() { return LoadReceipt(path_, state_, op_); }

  fs::path dir_;
  std::string path_;
  JobState state_;
  ScriptedOperator op_;
};

struct LineCase {
  const char* line;  // UTF-8, written to the file in 1251
  const char* name;
  double quantity;
  const char* tax;
  double price;
  double total;
};

// Lines that load, after the operator answered Yes to every question.
const LineCase kGoodLines[] = {
    {"Млеко;2;б;45.5", "Млеко", 2, "B", 45.5, 91},
    {"Sugar;1.5;A;2.499", "Sugar", 1.5, "A", 2.5, 3.75},
    {"x;0.0005;A;10", "x", 0.0005, "A", 10, 0.01},   // stored as read, counted as 0.001
    {"x;0.0025;A;1000", "x", 0.0025, "A", 1000, 3},  // half a unit rounds away from zero
    {"x;1;A;0.125", "x", 1, "A", 0.13, 0.13},
    {"x;1;A;-0.125", "x", 1, "A", -0.13, -0.13},
    {"x;1,5;A;12,50", "x", 1, "A", 12, 12},
    {"x;12kg;a;1", "x", 12, "a", 1, 12},
    {"x; 1 2 ;b;1", "x", 12, "b", 1, 12},
    {"x; 2 . 5;Б;1", "x", 2.5, "B", 1, 2.5},
    {"x;-3;Ax;1", "x", -3, "A", 1, -3},
    {"x;+4;A;1", "x", 4, "A", 1, 4},
    {"x;1e3;A;1", "x", 1000, "A", 1, 1000},
    {"x;1D2;A;1", "x", 100, "A", 1, 100},
    {"x;2d-1;A;1", "x", 0.2, "A", 1, 0.2},
    {"x;1 e - 2;A;1", "x", 0.01, "A", 1, 0.01},
    {"x;1e;A;1", "x", 1, "A", 1, 1},
    {"x;1.2.3;A;1", "x", 1.2, "A", 1, 1.2},
    {"x;1e2.5;A;1", "x", 100, "A", 1, 100},
    {"x;.5;A;1", "x", 0.5, "A", 1, 0.5},
    {"x;5.;A;1", "x", 5, "A", 1, 5},
    {"x;abc;A;2", "x", 1, "A", 2, 2},  // no number: 0, then Yes gives 1
    {"x;.;A;2", "x", 1, "A", 2, 2},
    {"x;--3;A;2", "x", 1, "A", 2, 2},
    {"x;1e-999;A;2", "x", 1, "A", 2, 2},
    {"x;3;A;", "x", 3, "A", 1, 3},
    {"x;3;A;0.004", "x", 3, "A", 1, 3},  // rounds to 0, so the price is asked for
    {"x;1;A;2;fifth field", "x", 1, "A", 2, 2},
    {"123456789012345678901234567890123456789012345;1;A;1",
     "1234567890123456789012345678901234567890", 1, "A", 1, 1},
    {"ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ;1;A;1",
     "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ", 1, "A", 1, 1},
};

TEST_F(LoaderTest, GoodLines) {
  for (const LineCase& c : kGoodLines) {
    SCOPED_TRACE(c.line);
    state_ = JobState();
    state_.sDelimiter = ";";
    WriteAnsi(c.line);
    ASSERT_EQ(Load(), kOk);
    ASSERT_EQ(state_.iItemCount, 1);
    ASSERT_EQ(state_.aItems.size(), 1u);
    const ReceiptItem& item = state_.aItems[0];
    EXPECT_EQ(item.sName, c.name);
    EXPECT_DOUBLE_EQ(item.dQuantity, c.quantity);
    EXPECT_EQ(item.sTaxCode, c.tax);
    EXPECT_DOUBLE_EQ(item.dUnitPrice, c.price);
    EXPECT_DOUBLE_EQ(state_.dTotal, c.total);
  }
}

TEST_F(LoaderTest, BadLinesFailWithoutAWord) {
  const char* lines[] = {
      "x;1;А;1",  // Cyrillic А
      "x;1;C;1",         "x;1;;1",      "x;1; A;1",     "x;1;A", "x;1", "x",
      "x,1,A,1",         "x;1E999;A;1", "x;1;A;-1e999",
      "x;1e300;A;1e300",  // the amount overflows
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    state_.iItemCount = 4;
    WriteAnsi(line);
    EXPECT_EQ(Load(), kBad);
    EXPECT_EQ(state_.iItemCount, 4);
  }
  EXPECT_TRUE(op_.boxes.empty());
}

TEST_F(LoaderTest, LinesEndInCrLfOrLf) {
  state_.dTotal = 0.5;  // the loader only adds
  state_.iItemCount = 9;
  WriteAnsi("a;1;A;1\r\nb;2;A;2\nc;3;A;3\r\n");
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.iItemCount, 3);
  ASSERT_EQ(state_.aItems.size(), 3u);
  EXPECT_EQ(state_.aItems[0].sName, "a");
  EXPECT_EQ(state_.aItems[1].sName, "b");
  EXPECT_EQ(state_.aItems[2].sName, "c");
  EXPECT_DOUBLE_EQ(state_.dTotal, 14.5);

  state_ = JobState();
  state_.sDelimiter = ";";
  WriteAnsi("a;1;A;1\r\nb;2;A;2");  // the last line without its end
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.iItemCount, 2);
  EXPECT_DOUBLE_EQ(state_.aItems[1].dUnitPrice, 2);
}

TEST_F(LoaderTest, BlankOrBrokenLinesFail) {
  const char* files[] = {
      "a;1;A;1\r\n\r\nb;1;A;1\r\n",  // blank line inside
      "a;1;A;1\r\n\r\n",             // a second line end at the end
      "a;1;A;1\n\n",
      "\r\n",
      "\n",
      "a;1;A;1\r\n \r\n",
  };
  for (const char* file : files) {
    SCOPED_TRACE(testing::PrintToString(std::string(file)));
    state_ = JobState();
    state_.sDelimiter = ";";
    state_.iItemCount = 7;
    WriteBytes(file);
    EXPECT_EQ(Load(), kBad);
    EXPECT_EQ(state_.iItemCount, 7);  // written only by a successful load
  }
}

TEST_F(LoaderTest, EmptyFileLeavesItemsAlone) {
  state_.aItems = {{"old", 1, "A", 1}, {"older", 2, "B", 2}};
  state_.iItemCount = 2;
  WriteBytes("");
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.iItemCount, 0);
  EXPECT_EQ(state_.aItems.size(), 2u);
  EXPECT_EQ(state_.dTotal, 0);

  WriteBytes("\xEF\xBB\xBF");  // an empty UTF-8 file
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.iItemCount, 0);
}

TEST_F(LoaderTest, LaterLoadCutsItemsToTheFile) {
  state_.aItems = {{"old", 1, "A", 1}, {"older", 2, "B", 2}, {"oldest", 3, "B", 3}};
  WriteAnsi("new;1;A;5");
  ASSERT_EQ(Load(), kOk);
  ASSERT_EQ(state_.aItems.size(), 1u);
  EXPECT_EQ(state_.aItems[0].sName, "new");
  EXPECT_EQ(state_.aItems[0].dUnitPrice, 5);
}

TEST_F(LoaderTest, ByteOrderMarkMeansUtf8) {
  const std::string line = "Млеко;2;б;45.5\r\n";
  WriteBytes("\xEF\xBB\xBF" + line);
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.aItems[0].sName, "Млеко");
  EXPECT_EQ(state_.aItems[0].sTaxCode, "B");

  // The same bytes without the mark are 1251: the name is something else and "б" no tax group.
  state_ = JobState();
  state_.sDelimiter = ";";
  WriteBytes("x;1;A;1\n" + line);
  EXPECT_EQ(Load(), kBad);

  WriteBytes("\xEF\xBB\xBFx\xCC;1;A;1");  // 1251 bytes behind the mark
  EXPECT_EQ(Load(), kBad);
}

// Every byte below 20h but the line ends fails the load, wherever it stands, and the error box
// names its line (counted from 1, as an editor does) and the byte.
TEST_F(LoaderTest, ControlBytesFailTheLoadNamingTheLine) {
  using namespace std::string_literals;
  struct Case {
    std::string file;
    const char* message;  // after "Сметката не може да се испечати: "
  } cases[] = {
      {"a;1;A;1\r\nb\0c;1;A;1\r\n"s, "контролен знак 00h во редот 2."},
      {"a;1;A;1\0"s, "контролен знак 00h во редот 1."},
      {"Sug\x03"
       "ar;1;A;1\r\n",
       "контролен знак 03h во редот 1."},
      {"a;1;A;1\r\nb;1;A;1\r\nc\td;1;A;1\r\n", "контролен знак 09h во редот 3."},
      {"a;\t2;A;1\r\n", "контролен знак 09h во редот 1."},  // blanks in a number: spaces only
      {"a;1;A\x1f;1\r\n", "контролен знак 1Fh во редот 1."},
      {"a;1;A;1;\x07\r\n", "контролен знак 07h во редот 1."},  // fields past the fourth too
      {"a\rb;1;A;1\r\n", "контролен знак 0Dh во редот 1."},    // a CR not before a LF
      {"a;1;A;1\r\r\n", "контролен знак 0Dh во редот 1."},
      {"a;1;A;1\r", "контролен знак 0Dh во редот 1."},        // at the end of the file, no line end
      {"a;1;A;1\r\n\x1a", "контролен знак 1Ah во редот 2."},  // the DOS end-of-file byte
      {"\xEF\xBB\xBF"
       "a;1;A;1\nb\x0b;1;A;1\n",
       "контролен знак 0Bh во редот 2."},
      // the last byte of the first chunk of the reading, and no LF after it
      {std::string(65535, 'x') + "\ry;1;A;1\r\n", "контролен знак 0Dh во редот 1."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file.substr(0, 40)));
    state_ = JobState();
    state_.sDelimiter = ";";
    state_.iItemCount = 5;
    op_.boxes.clear();
    WriteBytes(c.file);
    EXPECT_EQ(Load(), kBad);
    EXPECT_EQ(state_.iItemCount, 5);
    ASSERT_EQ(op_.boxes.size(), 1u);
    EXPECT_EQ(op_.boxes[0].text, std::string("Сметката не може да се испечати: ") + c.message);
    EXPECT_EQ(op_.boxes[0].style, MsgStyle::kError);
    EXPECT_EQ(op_.boxes[0].title, "");
  }
}

// A CR LF whose halves fall into two chunks of the reading is a line end like any other.
TEST_F(LoaderTest, LineEndAcrossChunksIsALineEnd) {
  for (const std::size_t length : {65535u, 65536u, 65537u}) {
    SCOPED_TRACE(length);
    state_ = JobState();
    state_.sDelimiter = ";";
    const std::string first = std::string(length - 8, 'x') + ";1;A;1";  // ends 2 bytes short
    WriteBytes(first + "\r\nb;1;A;2\r\n");
    ASSERT_EQ(Load(), kOk);
    EXPECT_EQ(state_.iItemCount, 2);
    EXPECT_DOUBLE_EQ(state_.dTotal, 3);
  }
  EXPECT_TRUE(op_.boxes.empty());
}

// A file of zeros stops at its first chunk, however long it is.
TEST_F(LoaderTest, ZerosStopTheReadingAtOnce) {
  WriteBytes("");
  fs::resize_file(path_, 1u << 30);
  EXPECT_EQ(Load(), kBad);
  ASSERT_EQ(op_.boxes.size(), 1u);
  EXPECT_EQ(op_.boxes[0].text, "Сметката не може да се испечати: контролен знак 00h во редот 1.");
}

TEST_F(LoaderTest, LineCounterIsSixteenBits) {
  std::string file;
  for (int i = 0; i < 32767; ++i) file += "a;1;A;1\r\n";
  WriteBytes(file);
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.iItemCount, 32767);

  state_ = JobState();
  state_.sDelimiter = ";";
  WriteBytes(file + "a;1;A;1");
  EXPECT_EQ(Load(), kBad);
  EXPECT_EQ(state_.iItemCount, 0);
}

TEST_F(LoaderTest, DelimiterIsMatchedWhole) {
  state_.sDelimiter = "";
  WriteAnsi("x;1;A;1");
  EXPECT_EQ(Load(), kBad);

  state_.sDelimiter = "||";
  WriteAnsi("x|1|A|1");
  EXPECT_EQ(Load(), kBad);
  WriteAnsi("x|y||2||A||3");
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.aItems[0].sName, "x|y");
  EXPECT_EQ(state_.aItems[0].dQuantity, 2);

  // Occurrences are taken from the left and do not overlap: "x", "-3", "A", "2".
  state_.sDelimiter = "--";
  WriteAnsi("x---3--A--2");
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.aItems[0].sName, "x");
  EXPECT_EQ(state_.aItems[0].dQuantity, -3);

  // A Cyrillic delimiter is matched in the decoded text, case and all.
  state_.sDelimiter = "ж";
  WriteAnsi("xЖyж2жAж3");
  ASSERT_EQ(Load(), kOk);
  EXPECT_EQ(state_.aItems[0].sName, "xЖy");
  EXPECT_EQ(state_.aItems[0].dUnitPrice, 3);
}

TEST_F(LoaderTest, QuestionsComeLineByLineInFileOrder) {
  WriteAnsi("a;0;A;0\r\nb;2;A;0\r\nc;;A;5\r\n");
  ASSERT_EQ(Load(), kOk);
  ASSERT_EQ(op_.boxes.size(), 4u);
  const std::string expected[] = {kNoQuantity, kNoPrice, kNoPrice, kNoQuantity};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(op_.boxes[i].text, expected[i]) << i;
    EXPECT_EQ(op_.boxes[i].style, MsgStyle::kQuestion) << i;
    EXPECT_EQ(op_.boxes[i].title, kTitle) << i;
  }
  // Yes stores exactly 1.
  EXPECT_EQ(state_.aItems[0].dQuantity, 1);
  EXPECT_EQ(state_.aItems[0].dUnitPrice, 1);
  EXPECT_EQ(state_.aItems[1].dUnitPrice, 1);
  EXPECT_EQ(state_.aItems[2].dQuantity, 1);
  EXPECT_DOUBLE_EQ(state_.dTotal, 1 + 2 + 5);
}

TEST_F(LoaderTest, RefusedDefaultStopsAtOnce) {
  WriteAnsi("a;2;A;3\r\nb;0;A;0\r\nc;0;A;1\r\n");
  op_.answers = {MsgAnswer::kNo};
  EXPECT_EQ(Load(), LoadResult::kRefused);
  ASSERT_EQ(op_.boxes.size(), 1u);  // no price question after the refusal
  EXPECT_EQ(op_.boxes[0].text, kNoQuantity);
  EXPECT_DOUBLE_EQ(state_.dTotal, 6);

  state_ = JobState();
  state_.sDelimiter = ";";
  op_.boxes.clear();
  op_.answers = {MsgAnswer::kYes, MsgAnswer::kNo};
  WriteAnsi("b;0;A;0\r\n");
  EXPECT_EQ(Load(), LoadResult::kRefused);
  ASSERT_EQ(op_.boxes.size(), 2u);
  EXPECT_EQ(op_.boxes[1].text, kNoPrice);
}

TEST_F(LoaderTest, MissingNameEndsTheRun) {
  WriteAnsi("a;1;A;1\r\n;0;A;0\r\nc;1;A;1\r\n");
  EXPECT_EQ(Load(), LoadResult::kRefused);
  ASSERT_EQ(op_.boxes.size(), 1u);  // the name is checked before the defaults
  EXPECT_EQ(op_.boxes[0].text, kNoName);
  EXPECT_EQ(op_.boxes[0].style, MsgStyle::kError);
  EXPECT_EQ(op_.boxes[0].title, kTitle);

  // A bad tax group is found first, and that fails without a word.
  op_.boxes.clear();
  WriteAnsi(";1;X;1\r\n");
  EXPECT_EQ(Load(), kBad);
  EXPECT_TRUE(op_.boxes.empty());
}

TEST_F(LoaderTest, UnreadableFileFails) {
  EXPECT_EQ(LoadReceipt((dir_ / "missing.txt").string(), state_, op_), kBad);
  EXPECT_EQ(LoadReceipt(dir_.string(), state_, op_), kBad);
  EXPECT_EQ(LoadReceipt("", state_, op_), kBad);
}

// Memory that runs out is the program's failure, not a bad receipt: it must not read as one.
TEST_F(LoaderTest, RunningOutOfMemoryIsNotAFailedLoad) {
  class StarvedOperator : public Operator {
   public:
    MsgAnswer MsgBox(const std::string&, MsgStyle, const std::string&) override {
      throw std::bad_alloc();
    }
  } starved;
  WriteAnsi("x;;A;1");  // the missing quantity is asked for
  EXPECT_THROW(LoadReceipt(path_, state_, starved), std::bad_alloc);
}

TEST_F(LoaderTest, PathIsUtf8) {
  const fs::path folder = dir_ / fs::path(u8"Каса");
  fs::create_directories(folder);
  std::ofstream(folder / "smetka.txt", std::ios::binary) << "a;1;A;4";
  const std::u8string u8 = (folder / "smetka.txt").u8string();
  const std::string path(u8.begin(), u8.end());
  ASSERT_EQ(LoadReceipt(path, state_, op_), kOk);
  EXPECT_EQ(state_.dTotal, 4);
}

TEST_F(LoaderTest, LongLinesStayLinear) {
  // A long delimiter that almost matches everywhere, on a 10 MB line.
  state_.sDelimiter = std::string(1000, 'a') + "b";
  WriteBytes(std::string(10'000'000, 'a'));
  EXPECT_EQ(Load(), kBad);

  state_.sDelimiter = ";";
  WriteBytes("x;" + std::string(5'000'000, '9') + ";A;1");
  EXPECT_EQ(Load(), kBad);  // beyond a double
  WriteBytes("x;0." + std::string(5'000'000, '0') + "1;A;1");
  EXPECT_EQ(Load(), kOk);  // far below one unit: reads as 0 and is asked for
  EXPECT_EQ(state_.aItems[0].dQuantity, 1);
}

}  // namespace
}  // namespace zelmo
