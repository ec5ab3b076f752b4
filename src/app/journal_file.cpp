#include "app/journal_file.h"

namespace zelmo {
namespace {

constexpr const char* kDigestKey = "sha256=";

}  // namespace

std::string JournalText(const JournalEntry& e) {
  return std::string(kDigestKey) + e.digest + "\r\ntime=" + e.time + "\r\nreceipt=" + e.receipt +
         "\r\nSettings=" + e.lineSettings + "\r\nHandshaking=" + std::to_string(e.handshaking) +
         "\r\n";
}

std::string DigestIn(const std::string& journal) {
  const auto at = journal.find(kDigestKey);
  if (at == std::string::npos) return "";
  const std::string digest = journal.substr(at + std::string(kDigestKey).size(), 64);
  const bool whole =
      digest.size() == 64 && digest.find_first_not_of("0123456789abcdef") == std::string::npos;
  return whole ? digest : "";
}

}  // namespace zelmo
