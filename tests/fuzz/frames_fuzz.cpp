// Any doubles and names: a well-formed frame or a clean range error, never a malformed frame.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "device/frames.h"

namespace {

double Take(const uint8_t*& data, size_t& size) {
  double v = 0;
  if (size >= sizeof v) {
    std::memcpy(&v, data, sizeof v);
    data += sizeof v;
    size -= sizeof v;
  }
  return v;
}

bool IsField(const std::string& f, int decimals) {
  if (f.size() != 10) return false;
  std::size_t i = 0;
  while (i < f.size() && f[i] == ' ') ++i;
  if (10 - i < static_cast<std::size_t>(decimals) + 1) return false;
  for (; i < f.size(); ++i) {
    if (f[i] < '0' || f[i] > '9') return false;
  }
  return true;
}

// STX, body, ETX, then the check value of body and ETX.
void CheckFrame(const std::string& frame, std::size_t length) {
  if (frame.size() != length || frame[0] != zelmo::kSTX || frame[length - 5] != zelmo::kETX) {
    std::abort();
  }
  const std::string covered = frame.substr(1, length - 5);
  if (zelmo::ComputeCheckValue(covered) != frame.substr(length - 4)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const double price = Take(data, size);
  const double quantity = Take(data, size);
  const std::string name(reinterpret_cast<const char*>(data), size);
  for (int decimals : {2, 3}) {
    try {
      if (!IsField(zelmo::FormatNumberField(price, decimals), decimals)) std::abort();
    } catch (const zelmo::FieldRangeError&) {
    }
  }
  try {
    CheckFrame(zelmo::BuildItemFrame(1, name, name.empty() ? "A" : name.substr(0, 1), price, quantity), 69);
  } catch (const zelmo::FieldRangeError&) {
  }
  try {
    CheckFrame(zelmo::BuildTotalFrame(price), 69);
  } catch (const zelmo::FieldRangeError&) {
  }
  return 0;
}
