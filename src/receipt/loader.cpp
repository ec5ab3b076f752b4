#include "receipt/loader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "app/checked16.h"
#include "text/cp1251.h"

namespace zelmo {
namespace {

constexpr const char* kTitle = "Полнење на Фискална Сметка...";
constexpr const char* kNoName = "Немате назив на артикалот за печатење.";
constexpr const char* kNoQuantity =
    "Немате количина на артикалот за печатење. Дали сакате да биде доделена вредноста 1?";
constexpr const char* kNoPrice =
    "Немате цена на артикалот за печатење. Дали сакате да биде доделена вредноста 1?";

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kFieldsUsed = 4;
constexpr std::size_t kNameLength = 40;

// Any bad line or unreadable file: the load fails without a word to the operator.
struct LoadFailed : std::runtime_error {
  LoadFailed() : std::runtime_error("receipt cannot be loaded") {}
};

// A byte below 20h in a line: it would go into a frame and cut it. Unlike the other failures, the
// operator is told which line holds it, so that the point-of-sale program's data can be put right.
struct ControlByteFound : LoadFailed {
  ControlByteFound(std::size_t lineNumber, unsigned char value) : line(lineNumber), byte(value) {}
  std::size_t line;  // 1-based, as an editor counts
  unsigned char byte;
};

bool IsControlByte(char c) {
  return static_cast<unsigned char>(c) < 0x20;
}

// The receipt a line at a time. Only the line being read is held, so memory follows the longest
// line and not the file; and a control byte, which can never load, stops the reading as soon as
// it is seen: a file of zeros fails in its first chunk, whatever its size. The only bytes below
// 20h a receipt holds are its line ends: LF, and CR right before it.
class LineReader {
 public:
  explicit LineReader(const std::string& path) {
    const std::filesystem::path file(std::u8string(path.begin(), path.end()));
    // A plain file only: a pipe would hold the run before anything is sent, and a device such as
    // /dev/zero never ends.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) throw LoadFailed();
    in_.open(file, std::ios::binary);
    if (!in_) throw LoadFailed();
    Fill();
    utf8_ = std::string_view(chunk_).starts_with(kBom);
    if (utf8_) pos_ = kBom.size();
  }

  // The file is UTF-8 (it starts with the byte order mark), not code page 1251.
  bool utf8() const { return utf8_; }

  // The next line without its end (CR LF or LF; the last line may have none); nothing once the
  // file is used up.
  std::optional<std::string> Next() {
    ++lineNumber_;
    std::string line;
    std::size_t checked = 0;
    for (;;) {
      const std::size_t end = chunk_.find('\n', pos_);
      const std::size_t stop = end == std::string::npos ? chunk_.size() : end;
      line.append(chunk_, pos_, stop - pos_);
      pos_ = stop;
      if (end != std::string::npos) {
        ++pos_;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        RequireText(line, checked, false);
        return line;
      }
      // A CR at the end of a chunk may be the first half of a CR LF in the next one.
      RequireText(line, checked, true);
      if (!Fill()) break;
    }
    RequireText(line, checked, false);  // a CR at the end of the file ends no line
    if (line.empty()) return std::nullopt;
    return line;
  }

 private:
  // Looks at the bytes of `line` from `checked` on, but for a last CR when a LF may follow it.
  void RequireText(std::string_view line, std::size_t& checked, bool lineEndMayFollow) const {
    std::size_t limit = line.size();
    if (lineEndMayFollow && limit > checked && line.back() == '\r') --limit;
    const auto begin = line.begin() + static_cast<std::ptrdiff_t>(checked);
    const auto end = line.begin() + static_cast<std::ptrdiff_t>(limit);
    const auto found = std::find_if(begin, end, IsControlByte);
    if (found != end) throw ControlByteFound(lineNumber_, static_cast<unsigned char>(*found));
    checked = limit;
  }

  // The next chunk of the file; false at its end.
  bool Fill() {
    chunk_.resize(kChunkSize);
    in_.read(chunk_.data(), static_cast<std::streamsize>(chunk_.size()));
    if (in_.bad()) throw LoadFailed();
    chunk_.resize(static_cast<std::size_t>(in_.gcount()));
    pos_ = 0;
    return !chunk_.empty();
  }

  static constexpr std::size_t kChunkSize = 1 << 16;
  std::ifstream in_;
  std::string chunk_;
  std::size_t pos_ = 0;
  std::size_t lineNumber_ = 0;
  bool utf8_ = false;
};

// Cuts lines at every occurrence of the whole delimiter, from the left. The search (KMP) is
// linear in the line whatever the delimiter, since both come from outside; the table is built
// once per file.
class FieldSplitter {
 public:
  explicit FieldSplitter(std::string_view delimiter)
      : delimiter_(delimiter), border_(delimiter.size(), 0) {
    for (std::size_t i = 1, k = 0; i < delimiter_.size(); ++i) {
      while (k > 0 && delimiter_[i] != delimiter_[k]) k = border_[k - 1];
      if (delimiter_[i] == delimiter_[k]) ++k;
      border_[i] = k;
    }
  }

  // The first `limit` fields of `line`; the rest of the line is not looked at.
  std::vector<std::string_view> Split(std::string_view line, std::size_t limit) const {
    if (delimiter_.empty()) return {line};
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    std::size_t matched = 0;
    for (std::size_t i = 0; i < line.size() && fields.size() < limit; ++i) {
      while (matched > 0 && line[i] != delimiter_[matched]) matched = border_[matched - 1];
      if (line[i] == delimiter_[matched]) ++matched;
      if (matched == delimiter_.size()) {
        fields.push_back(line.substr(start, i + 1 - delimiter_.size() - start));
        start = i + 1;
        matched = 0;
      }
    }
    if (fields.size() < limit) fields.push_back(line.substr(start));
    return fields;
  }

 private:
  std::string_view delimiter_;
  std::vector<std::size_t> border_;  // longest proper border of each prefix of the delimiter
};

std::string_view Field(const std::vector<std::string_view>& fields, std::size_t index) {
  if (index >= fields.size()) throw LoadFailed();
  return fields[index];
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Walks a field the way the receipt's numbers are read: blanks and tabs do not count anywhere.
class NumberScanner {
 public:
  explicit NumberScanner(std::string_view text) : text_(text) {}

  // The next character that is not a blank, or '\0' at the end.
  char Peek() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  void Take() { ++pos_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// Decimal exponent, saturated far beyond any double so that a long run of digits cannot wrap.
int64_t ScanExponent(NumberScanner& scan) {
  constexpr int64_t kCap = 1'000'000'000'000'000;
  bool negative = false;
  if (scan.Peek() == '+' || scan.Peek() == '-') {
    negative = scan.Peek() == '-';
    scan.Take();
  }
  int64_t exponent = 0;
  for (char c = scan.Peek(); IsDigit(c); c = scan.Peek()) {
    exponent = std::min(exponent * 10 + (c - '0'), kCap);
    scan.Take();
  }
  return negative ? -exponent : exponent;
}

// A number from the start of a receipt field: "." is always the decimal point, an optional sign,
// digits, one point, an optional exponent (E or D); the first other character ends it, and a
// field that starts with none of that reads as 0. Nothing when the value is beyond a double.
std::optional<double> ReadNumber(std::string_view field) {
  NumberScanner scan(field);
  bool negative = false;
  if (scan.Peek() == '+' || scan.Peek() == '-') {
    negative = scan.Peek() == '-';
    scan.Take();
  }
  std::string whole;
  std::string fraction;
  bool point = false;
  for (char c = scan.Peek(); IsDigit(c) || (c == '.' && !point); c = scan.Peek()) {
    if (c == '.') {
      point = true;
    } else {
      (point ? fraction : whole) += c;
    }
    scan.Take();
  }
  if (whole.empty() && fraction.empty()) return 0.0;
  int64_t exponent = 0;
  const char marker = scan.Peek();
  if (marker == 'E' || marker == 'e' || marker == 'D' || marker == 'd') {
    scan.Take();
    exponent = ScanExponent(scan);
  }

  whole.erase(0, whole.find_first_not_of('0'));
  const std::size_t fractionZeros = std::min(fraction.find_first_not_of('0'), fraction.size());
  if (whole.empty() && fractionZeros == fraction.size()) return 0.0;
  // Power of ten of the leading digit: tells an overflow from an underflow below.
  const int64_t magnitude = whole.empty() ? exponent - static_cast<int64_t>(fractionZeros) - 1
                                          : exponent + static_cast<int64_t>(whole.size()) - 1;

  std::string text = negative ? "-" : "";
  text += whole.empty() ? "0" : whole;
  if (!fraction.empty()) text += "." + fraction;
  text += "e" + std::to_string(exponent);
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    if (magnitude > 0) return std::nullopt;
    return 0.0;
  }
  if (error != std::errc() || end != text.data() + text.size()) throw LoadFailed();
  return value;
}

double Finite(double value) {
  if (!std::isfinite(value)) throw LoadFailed();
  return value;
}

double NumberField(std::string_view field) {
  const std::optional<double> value = ReadNumber(field);
  if (!value) throw LoadFailed();
  return *value;
}

// Rounds to 1/scale, halves away from zero. A value too large to scale is a whole number already.
double RoundTo(double value, double scale) {
  const double scaled = value * scale;
  if (!std::isfinite(scaled)) return value;
  return std::round(scaled) / scale;
}

// The tax group as stored: "A", "a", "B" or "b" as written; the Cyrillic Б in either case becomes
// the Latin "B". Anything else, an empty field included, fails the load.
std::string TaxCode(std::string_view field) {
  const std::string first = Utf8Prefix(field, 1);
  const std::string upper = Utf8UpperChar(first);
  if (upper == "Б") return "B";
  if (upper == "A" || upper == "B") return first;
  throw LoadFailed();
}

// The text of one line in UTF-8, whatever the file's encoding.
std::string LineText(std::string_view raw, bool utf8) {
  if (!utf8) return AnsiToUtf8(raw);
  if (!IsValidUtf8(raw)) throw LoadFailed();
  return std::string(raw);
}

bool Agrees(Operator& op, const char* question) {
  return op.MsgBox(question, MsgStyle::kQuestion, kTitle) != MsgAnswer::kNo;
}

// Reads one line into `item` and asks for its defaults; false when the run has to end.
bool LoadLine(std::string_view text, const FieldSplitter& splitter, ReceiptItem& item,
              Operator& op) {
  const std::vector<std::string_view> fields = splitter.Split(text, kFieldsUsed);
  item.sName = Utf8Prefix(Field(fields, 0), kNameLength);
  item.dQuantity = NumberField(Field(fields, 1));
  item.sTaxCode = TaxCode(Field(fields, 2));
  item.dUnitPrice = RoundTo(NumberField(Field(fields, 3)), 100);

  if (item.sName.empty()) {
    op.MsgBox(kNoName, MsgStyle::kError, kTitle);
    return false;
  }
  if (item.dQuantity == 0) {
    if (!Agrees(op, kNoQuantity)) return false;
    item.dQuantity = 1;
  }
  if (item.dUnitPrice == 0) {
    if (!Agrees(op, kNoPrice)) return false;
    item.dUnitPrice = 1;
  }
  return true;
}

// Worded as the job's other refusals that name a line.
std::string ControlByteMessage(const ControlByteFound& found) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const std::string hex = {kDigits[found.byte >> 4], kDigits[found.byte & 0xF], 'h'};
  return "Сметката не може да се испечати: контролен знак " + hex + " во редот " +
         std::to_string(found.line) + ".";
}

LoadResult Load(const std::string& path, JobState& state, Operator& op) {
  LineReader reader(path);
  const FieldSplitter splitter(state.sDelimiter);
  int16_t lineCount = 0;
  while (const std::optional<std::string> raw = reader.Next()) {
    const std::string text = LineText(*raw, reader.utf8());
    state.aItems.resize(static_cast<std::size_t>(lineCount) + 1);
    ReceiptItem& item = state.aItems.back();
    if (!LoadLine(text, splitter, item, op)) return LoadResult::kRefused;
    const double amount = RoundTo(item.dQuantity, 1000) * item.dUnitPrice;
    state.dTotal = Finite(state.dTotal + amount);
    lineCount = Add16(lineCount, 1);
  }
  state.iItemCount = lineCount;
  return LoadResult::kLoaded;
}

}  // namespace

LoadResult LoadReceipt(const std::string& path, JobState& state, Operator& op) {
  try {
    return Load(path, state, op);
  } catch (const ControlByteFound& found) {
    op.MsgBox(ControlByteMessage(found), MsgStyle::kError, "");
    return LoadResult::kFailed;
  } catch (const std::bad_alloc&) {
    throw;  // the program cannot go on, whatever the receipt holds
  } catch (const std::exception&) {
    return LoadResult::kFailed;
  }
}

}  // namespace zelmo
