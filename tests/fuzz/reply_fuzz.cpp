// Any bytes from the register: a log line that is valid UTF-8, and an advance only on ACK or EOT.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "device/replies.h"
#include "text/cp1251.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view wire(reinterpret_cast<const char*>(data), size);
  const zelmo::Reply reply = zelmo::DecodeReplyBytes(wire);
  if (reply.line.empty() || !zelmo::IsValidUtf8(reply.line)) std::abort();
  if (reply.advance != (data[0] == 0x04 || data[0] == 0x06)) std::abort();
  if (size >= 2) {
    const int16_t event = static_cast<int16_t>(data[0] | (data[1] << 8));
    const auto line = zelmo::SerialEventLine(event, static_cast<int16_t>(size));
    if (line && !zelmo::IsValidUtf8(*line)) std::abort();
  }
  return 0;
}
