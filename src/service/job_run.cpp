#include "service/job_run.h"

#include <fstream>
#include <sstream>
#include <thread>

#include "device/serial_port.h"
#include "ini/ini_file.h"
#include "service/child_process.h"
#include "sys/durable_file.h"
#include "sys/paths.h"

namespace zelmo::service {
namespace {

using namespace std::chrono_literals;

constexpr const char* kIniFileName = "Zelmocfg.ini";
constexpr const char* kReceiptName = "smetka.txt";
// A run the service lost is ended by its death signal at once; its log's last line follows soon.
constexpr auto kLostRunGrace = 5s;

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string OutputName(int attempt) {
  return "run-" + std::to_string(attempt) + ".out";
}

std::string Setting(const std::filesystem::path& registerFolder, const char* section,
                    const std::string& key) {
  const std::filesystem::path file = registerFolder / kIniFileName;
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) return {};
  try {
    CIniFile ini;
    ini.Init(PathToUtf8(file));
    return ini.GetStringValue(section, key);
  } catch (const IniError&) {
    return {};
  }
}

}  // namespace

std::string RunLogName(int attempt) {
  return "run-" + std::to_string(attempt) + ".log";
}

std::string RegisterDelimiter(const std::filesystem::path& registerFolder) {
  const std::string delimiter = Setting(registerFolder, "Parametri", "Delimiter");
  return delimiter.empty() ? ";" : delimiter;
}

std::string RegisterDevice(const std::filesystem::path& registerFolder) {
  const std::string seriska = Setting(registerFolder, "Parametri", "Seriska");
  int port = 1;
  if (seriska.size() == 1 && seriska[0] >= '1' && seriska[0] <= '4') port = seriska[0] - '0';
  const std::string mapped = Setting(registerFolder, "Ports", "COM" + std::to_string(port));
  return mapped.empty() ? DefaultDevicePath(static_cast<int16_t>(port)) : mapped;
}

void WriteJobSettings(const std::filesystem::path& registerFolder,
                      const std::filesystem::path& folder, int attempt) {
  const std::filesystem::path source = registerFolder / kIniFileName;
  const std::filesystem::path target = folder / kIniFileName;
  std::error_code ec;
  // The register's file as it is, in its own encoding; the run finds its ports and line there.
  std::string bytes = std::filesystem::exists(source, ec) ? ReadWhole(source)
                                                          : "[Parametri]\r\nSeriska=1\r\n"
                                                            "Delimiter=;\r\n";
  sys::WriteFileDurably(target, bytes);
  CIniFile ini;
  ini.Init(PathToUtf8(target));
  // Nobody sits at a service's window, every run is journaled, and the log tells its end.
  ini.SaveStringValue("Parametri", "PrikaziForma", "0");
  ini.SaveStringValue("Parametri", "Journal", "1");
  ini.SaveStringValue("Parametri", "Clear", "1");
  ini.SaveStringValue("Parametri", "Log", RunLogName(attempt));
}

void ProcessJobRunner::Prepare(const Job& job, const std::filesystem::path& registerFolder,
                               const std::filesystem::path& folder) {
  WriteJobSettings(registerFolder, folder, job.attempts);
  ReceiptRequest receipt;
  receipt.items = job.items;
  sys::WriteFileDurably(folder / kReceiptName,
                        ReceiptFileBytes(receipt, RegisterDelimiter(registerFolder)));
  std::error_code ec;
  std::filesystem::remove(folder / RunLogName(job.attempts), ec);
  std::filesystem::remove(folder / OutputName(job.attempts), ec);
}

RunEnd ProcessJobRunner::Run(const Job& job, const std::filesystem::path& folder) {
  std::unique_ptr<ChildProcess> child =
      StartChildProcess(program_, {"--console", "--dir", PathToUtf8(folder)}, folder,
                        folder / OutputName(job.attempts));
  std::optional<int> status;
  while (!(status = child->WaitFor(std::chrono::hours(1)))) {
  }
  return RunEndFromStatus(*status, ReadWhole(folder / RunLogName(job.attempts)),
                          ReadWhole(folder / OutputName(job.attempts)));
}

std::optional<RunEnd> ProcessJobRunner::Recover(const Job& job,
                                                const std::filesystem::path& folder) {
  const auto until = std::chrono::steady_clock::now() + kLostRunGrace;
  const std::filesystem::path log = folder / RunLogName(job.attempts);
  for (;;) {
    RunEnd end;
    if (ReadRunEnd(ReadWhole(log), end)) return end;
    if (std::chrono::steady_clock::now() >= until) return std::nullopt;
    std::this_thread::sleep_for(100ms);
  }
}

}  // namespace zelmo::service
