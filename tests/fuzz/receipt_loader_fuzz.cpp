// Any receipt bytes and any delimiter, the operator answering Yes: a clean result, and a loaded
// receipt that keeps the job's invariants. receipt_loader_fuzz.dict holds the bytes worth trying.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "receipt/loader.h"
#include "text/cp1251.h"

namespace {

class YesOperator : public zelmo::Operator {
 public:
  zelmo::MsgAnswer MsgBox(const std::string&, zelmo::MsgStyle style, const std::string&) override {
    return style == zelmo::MsgStyle::kQuestion ? zelmo::MsgAnswer::kYes : zelmo::MsgAnswer::kOk;
  }
};

const std::string& ReceiptPath() {
  static const std::string path = "/tmp/zelmo-fuzz-receipt-" + std::to_string(getpid());
  return path;
}

}  // namespace

// The first byte gives the delimiter's length (0 to 3), then the delimiter, then the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t delimiterLength = std::min<std::size_t>(data[0] % 4, size - 1);
  zelmo::JobState state;
  state.sDelimiter.assign(reinterpret_cast<const char*>(data + 1), delimiterLength);
  state.sDelimiter = zelmo::AnsiToUtf8(state.sDelimiter);
  const std::size_t offset = 1 + delimiterLength;
  std::ofstream(ReceiptPath(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data + offset),
             static_cast<std::streamsize>(size - offset));
  YesOperator op;
  if (zelmo::LoadReceipt(ReceiptPath(), state, op) != zelmo::LoadResult::kLoaded) return 0;
  if (state.iItemCount < 0 ||
      (state.iItemCount > 0 && state.aItems.size() != static_cast<std::size_t>(state.iItemCount))) {
    std::abort();
  }
  if (!std::isfinite(state.dTotal)) std::abort();
  for (const zelmo::ReceiptItem& item : state.aItems) {
    if (!zelmo::IsValidUtf8(item.sName) || zelmo::Utf8Length(item.sName) > 40) std::abort();
    if (item.sName.empty() || item.dQuantity == 0 || item.dUnitPrice == 0) std::abort();
    // No byte below 20h reaches a frame: it would cut it on the line.
    for (const char c : item.sName) {
      if (static_cast<unsigned char>(c) < 0x20) std::abort();
    }
    if (item.sTaxCode != "A" && item.sTaxCode != "a" && item.sTaxCode != "B" &&
        item.sTaxCode != "b") {
      std::abort();
    }
  }
  return 0;
}
