#include "app/run_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <system_error>

#include "sys/paths.h"

namespace zelmo {

void RunLog::Open(const std::filesystem::path& path, const Warn& warn) {
  namespace fs = std::filesystem;
  path_ = PathToUtf8(path);
  warn_ = warn;
  std::error_code ec;
  const auto size = fs::file_size(path, ec);
  if (!ec && size >= kLogRotateSize) {
    fs::path old = path;
    old += ".1";
    fs::rename(path, old, ec);
    if (ec) {
      GiveUp(ec.message());
      return;
    }
  }
  // Appending: a line another run writes at the same time lands before or after ours, whole.
  out_.open(path, std::ios::binary | std::ios::app);
  if (!out_.is_open()) GiveUp("cannot be opened");
}

void RunLog::Line(const std::string& text) {
  if (!out_.is_open()) return;
  // One line, one write: flushed as a whole so that it is never split by another run's.
  const std::string line = Now() + " " + text + "\n";
  out_.write(line.data(), static_cast<std::streamsize>(line.size()));
  out_.flush();
  if (!out_) GiveUp("cannot be written");
}

void RunLog::End(int status) {
  Line("end, exit status " + std::to_string(status));
  if (out_.is_open()) out_.close();
}

std::string RunLog::Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (!text.empty()) text += ' ';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string RunLog::Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  // Only the event loop's thread writes the log.
  const std::tm* local = std::localtime(&seconds);
  char text[40] = "";
  if (local) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", local);
  char withMillis[48];
  std::snprintf(withMillis, sizeof withMillis, "%s.%03d", text, static_cast<int>(millis));
  return withMillis;
}

void RunLog::GiveUp(const std::string& reason) {
  if (out_.is_open()) out_.close();
  out_.clear();
  if (warn_)
    warn_("Датотеката со записи " + path_ + " не може да се води (" + reason +
          "); печатењето продолжува без неа.");
  warn_ = nullptr;  // once
}

}  // namespace zelmo
