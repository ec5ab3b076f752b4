// The register's replies and the serial line's events, as lines of the event log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelmo {

struct Reply {
  std::string line;  // log line, UTF-8
  bool advance;      // ACK or EOT: the register wants the next command
};

// Decodes what one read returned (wire bytes, at least one). Only the first byte counts.
Reply DecodeReplyBytes(std::string_view wire);

// The log line of a serial event other than a receive; nothing for an event that is not logged.
std::optional<std::string> SerialEventLine(int16_t commEvent, int16_t iSendPos);

// A log line as one line of text output. An unrecognised reply carries the register's bytes as
// they came, line feeds, carriage returns and NULs among them; written out raw they would split
// the line, overwrite it or cut it short. Each control character (C0 and DEL) is shown as \xHH.
std::string OneLogLine(std::string_view line);

}  // namespace zelmo
