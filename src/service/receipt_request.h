// A receipt as a request's JSON body: checked whole by the one-shot program's rules before
// anything is queued, and turned into the receipt file a job's run reads.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zelmo::service {

struct RequestItem {
  std::string name;  // UTF-8
  double quantity = 0;
  std::string taxGroup;  // "A", "B" or "Б" as given
  double unitPrice = 0;
};

struct ReceiptRequest {
  std::vector<RequestItem> items;
  // The body in one canonical form: two bodies of the same receipt give the same text, so an
  // Idempotency-Key reused with another body can be told apart.
  std::string canonical;
  double total = 0;  // as the register will add it up
};

struct RequestError {
  int httpStatus = 422;  // 400 for a body that is no JSON object, 422 for a receipt refused
  int item = -1;         // the refused item's index, from 0, or -1 for the body as a whole
  std::string field;     // "name", "quantity", "taxGroup", "unitPrice", "items", or empty
  std::string code;      // the error body's "error"
  std::string message;   // the error body's "message"
};

// `delimiter` is the register's receipt delimiter, which no name may hold.
std::variant<ReceiptRequest, RequestError> ParseReceiptRequest(std::string_view body,
                                                               std::string_view delimiter);

// The receipt file for a job's run: UTF-8 with the byte order mark, one line an item.
std::string ReceiptFileBytes(const ReceiptRequest& receipt, std::string_view delimiter);

}  // namespace zelmo::service
