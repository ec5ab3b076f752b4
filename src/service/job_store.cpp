#include "service/job_store.h"

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

#include "app/operator.h"
#include "sys/durable_file.h"

namespace zelmo::service {
namespace {

constexpr const char* kRecordName = "job.json";

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// A log line starts with its local time, "2026-12-10T23:20:40.123 ".
bool StartsWithTime(const std::string& line) {
  return line.size() > 24 && line[4] == '-' && line[10] == 'T' && line[19] == '.' &&
         line[23] == ' ';
}

// The operator's text of a run without a log (it ended before the port was known): what followed
// the last box title on its standard error.
std::string MessageFromOutput(const std::string& output) {
  const std::vector<std::string> lines = Lines(output);
  std::string message;
  for (std::size_t i = lines.size(); i-- > 0;) {
    if (lines[i] != kAppTitle) continue;
    for (std::size_t j = i + 1; j < lines.size(); ++j) {
      if (lines[j].empty()) continue;
      if (!message.empty()) message += "\n";
      message += lines[j];
    }
    break;
  }
  return message;
}

}  // namespace

std::string JobStore::NewId() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  for (;;) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    char id[40];
    std::snprintf(
        id, sizeof id, "%010lld-%04x%04llx",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(now).count()),
        static_cast<unsigned>(made_++ & 0xffffU),
        static_cast<unsigned long long>(random() & 0xffffULL));
    std::error_code ec;
    if (!std::filesystem::exists(root_ / id, ec)) return id;
  }
}

void JobStore::Save(const Job& job) const {
  const std::filesystem::path folder = FolderOf(job.id);
  // The job's folder is flushed into jobs/ too: a record in a folder that a power cut takes
  // away would be a job lost.
  sys::CreateFolderDurably(root_);
  sys::CreateFolderDurably(folder);
  sys::WriteFileDurably(folder / kRecordName, JobRecord(job));
}

void JobStore::Remove(const std::string& id) const {
  std::error_code ec;
  std::filesystem::remove_all(FolderOf(id), ec);
}

JobStore::Loaded JobStore::LoadAll() const {
  Loaded loaded;
  std::error_code ec;
  if (!std::filesystem::is_directory(root_, ec)) return loaded;
  for (const auto& entry : std::filesystem::directory_iterator(root_, ec)) {
    if (!entry.is_directory()) continue;
    const std::filesystem::path record = entry.path() / kRecordName;
    if (!std::filesystem::exists(record, ec)) {
      // A folder made an instant before its record was flushed: the request got no answer.
      continue;
    }
    try {
      Job job = JobFromRecord(ReadWhole(record));
      if (job.id != entry.path().filename().string())
        throw JobRecordError("the id is not its folder's");
      loaded.jobs.push_back(std::move(job));
    } catch (const JobRecordError& e) {
      loaded.problems.push_back(entry.path().string() + ": " + e.what());
    }
  }
  return loaded;
}

bool ReadRunEnd(const std::string& logText, RunEnd& end) {
  const std::vector<std::string> lines = Lines(logText);
  const std::string endMark = " end, exit status ";
  for (std::size_t i = lines.size(); i-- > 0;) {
    const std::string& line = lines[i];
    if (!StartsWithTime(line) || line.compare(23, endMark.size(), endMark) != 0) continue;
    end.status = std::atoi(line.c_str() + 23 + endMark.size());
    end.message.clear();
    // The message is the last "message:" line before the end, with the lines it runs on to.
    for (std::size_t m = i; m-- > 0;) {
      if (!StartsWithTime(lines[m])) continue;
      if (lines[m].compare(23, 10, " message: ") != 0) break;
      end.message = lines[m].substr(33);
      for (std::size_t k = m + 1; k < i && !StartsWithTime(lines[k]); ++k)
        end.message += "\n" + lines[k];
      break;
    }
    return true;
  }
  return false;
}

RunEnd RunEndFromStatus(int status, const std::string& logText, const std::string& outputText) {
  RunEnd end;
  if (ReadRunEnd(logText, end) && end.status == status && !end.message.empty()) return end;
  end.status = status;
  end.message = MessageFromOutput(outputText);
  return end;
}

}  // namespace zelmo::service
