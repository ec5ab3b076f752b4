// Any request body and any delimiter: a refusal, or a receipt whose file the one-shot loader reads
// back as exactly the items and total that were checked. receipt_request_fuzz.dict holds the
// tokens worth trying.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <variant>

#include "receipt/loader.h"
#include "service/receipt_request.h"
#include "text/cp1251.h"

namespace {

// The service has no operator: any question would be a receipt the checks let through wrongly.
class AbsentOperator : public zelmo::Operator {
 public:
  zelmo::MsgAnswer MsgBox(const std::string&, zelmo::MsgStyle, const std::string&) override {
    std::abort();
  }
};

const std::string& ReceiptPath() {
  static const std::string path = "/tmp/zelmo-fuzz-request-" + std::to_string(getpid());
  return path;
}

void CheckRefusal(const zelmo::service::RequestError& error) {
  const bool knownStatus =
      error.httpStatus == 400 || error.httpStatus == 422 || error.httpStatus == 500;
  if (!knownStatus || error.code.empty() || error.message.empty() || error.item < -1) std::abort();
  if (!zelmo::IsValidUtf8(error.message)) std::abort();  // it goes into a JSON answer
}

void CheckReadBack(const zelmo::service::ReceiptRequest& receipt, const std::string& delimiter) {
  if (receipt.items.empty() || receipt.canonical.empty()) std::abort();
  std::ofstream(ReceiptPath(), std::ios::binary | std::ios::trunc)
      << zelmo::service::ReceiptFileBytes(receipt, delimiter);
  zelmo::JobState state;
  state.sDelimiter = delimiter;
  AbsentOperator op;
  if (zelmo::LoadReceipt(ReceiptPath(), state, op) != zelmo::LoadResult::kLoaded) std::abort();
  if (state.aItems.size() != receipt.items.size() || state.dTotal != receipt.total) std::abort();
  for (std::size_t i = 0; i < receipt.items.size(); ++i) {
    const zelmo::service::RequestItem& sent = receipt.items[i];
    const zelmo::ReceiptItem& read = state.aItems[i];
    const std::string tax = sent.taxGroup == "Б" ? "B" : sent.taxGroup;
    if (read.sName != sent.name || read.dQuantity != sent.quantity || read.sTaxCode != tax ||
        read.dUnitPrice != sent.unitPrice) {
      std::abort();
    }
  }
}

}  // namespace

// The first byte gives the delimiter's length (0 to 3), then the delimiter (code page 1251, as the
// settings file holds it), then the body.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::size_t delimiterLength = std::min<std::size_t>(data[0] % 4, size - 1);
  const std::string delimiter =
      zelmo::AnsiToUtf8(std::string(reinterpret_cast<const char*>(data + 1), delimiterLength));
  const std::string_view body(reinterpret_cast<const char*>(data + 1 + delimiterLength),
                              size - 1 - delimiterLength);
  const auto result = zelmo::service::ParseReceiptRequest(body, delimiter);
  if (const auto* error = std::get_if<zelmo::service::RequestError>(&result)) {
    CheckRefusal(*error);
    return 0;
  }
  const auto& receipt = std::get<zelmo::service::ReceiptRequest>(result);
  CheckReadBack(receipt, delimiter);
  // The canonical text is itself a body of the same receipt.
  const auto again = zelmo::service::ParseReceiptRequest(receipt.canonical, delimiter);
  const auto* same = std::get_if<zelmo::service::ReceiptRequest>(&again);
  if (same == nullptr || same->canonical != receipt.canonical) std::abort();
  return 0;
}
