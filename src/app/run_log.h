// The run's own log file (Log=): its start, every event-log line, the raw bytes each way, and
// its end, one line each with the local time to the millisecond. Appended to, so that it outlives
// whatever the point-of-sale program does with standard output. A log that cannot be opened or
// written is given up with one warning: it never fails or holds up the job.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace zelmo {

// A log that reaches this size is moved aside to PATH.1 before a run starts.
inline constexpr std::uintmax_t kLogRotateSize = 1024 * 1024;

class RunLog {
 public:
  // Where the warning about a log given up goes (standard error and the event list).
  using Warn = std::function<void(const std::string&)>;

  // Moves a full log aside and opens `path` to append; on failure warns and stays closed.
  void Open(const std::filesystem::path& path, const Warn& warn);
  bool open() const { return out_.is_open(); }

  void Line(const std::string& text);
  void Sent(const std::string& wire) { Line("sent " + Hex(wire)); }
  void Received(const std::string& wire) { Line("received " + Hex(wire)); }
  // The run's last line; everything is on disk after it.
  void End(int status);

  // "05 02 1B": each byte as two hex digits.
  static std::string Hex(const std::string& bytes);
  // "2026-12-10T23:20:40.123", the local time now.
  static std::string Now();

 private:
  void GiveUp(const std::string& reason);

  std::ofstream out_;
  std::string path_;
  Warn warn_;
};

}  // namespace zelmo
