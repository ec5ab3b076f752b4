// The journal file itself: what it holds and how it is read. What a journal found or missing
// means for the run is journal.h's.
#pragma once

#include <filesystem>
#include <string>

namespace zelmo {

inline constexpr const char* kJournalFileName = "smetka.jrn";

// What a journal records of the receipt it guards, and of the line it went out on.
struct JournalEntry {
  std::string digest;  // SHA-256 of the receipt file's bytes
  std::string time;
  std::string receipt;  // the receipt's path, UTF-8
  std::string lineSettings;
  int handshaking = 0;
};

// "sha256=<digest>\r\ntime=...\r\nreceipt=...\r\nSettings=...\r\nHandshaking=...\r\n"
std::string JournalText(const JournalEntry& entry);

// The digest a journal's text holds (64 lower-case hex digits), or empty when it holds none.
std::string DigestIn(const std::string& journal);

}  // namespace zelmo
