#include "device/replies.h"

#include <array>

#include "text/cp1251.h"

namespace zelmo {
namespace {

struct KnownReply {
  unsigned char code;
  const char* line;
  bool advance;
};

// Only ACK and EOT move the job on; everything else is logged and waits for the next reply.
constexpr std::array<KnownReply, 10> kReplies = {{
    {0x02, "STX", false},
    {0x03, "ETX", false},
    {0x04, "EOT", true},
    {0x05, "ENQ", false},
    {0x06, "ACK", true},
    {0x09, "WACK", false},
    {0x15, "NAK", false},
    {0x17, "ETB", false},
    {0x21, "Wrong PLU base structure", false},
    {0x40, "RVI", false},
}};

struct EventText {
  int16_t number;
  const char* text;
  bool withSendPos;  // the line changes carry where the job stood
};

constexpr std::array<EventText, 14> kEvents = {{
    {1, " (Chars in send buffer)", false},
    {3, " (Change in the CTS line.)", true},
    {4, " (Change in the DSR line.)", true},
    {5, " (Change in the CD line.)", false},
    {6, " (Change in the Ring Indicator.)", false},
    {1001, " (A Break was received.)", false},
    {1002, " (CTS Timeout)", false},
    {1003, " (DSR Timeout)", false},
    {1004, " (Framing Error)", false},
    {1006, " (Data Lost.)", false},
    {1007, " (CD (RLSD) Timeout)", false},
    {1008, " (Receive buffer overflow.)", false},
    {1009, " (Parity Error.)", false},
    {1010, " (Transmit buffer full.)", false},
}};

std::string Hex(unsigned char byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  if (byte >= 0x10) text += kDigits[byte >> 4];
  text += kDigits[byte & 0xF];
  return text;
}

// Always two digits, for the escapes of OneLogLine.
std::string Hex2(unsigned char byte) {
  return byte < 0x10 ? "0" + Hex(byte) : Hex(byte);
}

}  // namespace

Reply DecodeReplyBytes(std::string_view wire) {
  // A read that brought nothing has nothing to say and releases nothing.
  if (wire.empty()) return {"", false};
  const auto first = static_cast<unsigned char>(wire.front());
  for (const KnownReply& known : kReplies) {
    if (known.code == first) return {known.line, known.advance};
  }
  return {"KOD= " + Hex(first) + "-" + AnsiToUtf8(wire), false};
}

std::optional<std::string> SerialEventLine(int16_t commEvent, int16_t iSendPos) {
  for (const EventText& event : kEvents) {
    if (event.number != commEvent) continue;
    std::string line = std::to_string(commEvent) + event.text;
    if (event.withSendPos) line += std::to_string(iSendPos);
    return line;
  }
  return std::nullopt;
}

std::string OneLogLine(std::string_view line) {
  std::string shown;
  shown.reserve(line.size());
  for (const char c : line) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7F) {
      shown += c;
    } else {
      shown += "\\x" + Hex2(b);
    }
  }
  return shown;
}

}  // namespace zelmo
