#include "app/startup.h"

#include <cstdio>
#include <system_error>

#include "app/run_options.h"
#include "app/shutdown.h"
#include "ini/settings_file_check.h"
#include "sys/durable_file.h"
#include "sys/paths.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

// A CIniFile error names neither the file nor the system's reason; the file at least is ours to
// give.
[[noreturn]] void IniFailure(Bridge& b, const IniError& e) {
  Finish(b, RunEvent::kSettingsFailure,
         b.state.sIniFile + ": " + e.description() + " (" + e.source() + ")");
}

// Whether `path` is there. Only "no such file" means it is not: a file that cannot be examined
// (an I/O error, a folder we may not search) is neither there nor absent, and `unknown` ends the
// run with the system's reason rather than take it for missing.
bool Exists(Bridge& b, const fs::path& path, RunEvent unknown) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!ec) return status.type() != fs::file_type::not_found;
  if (ec == std::errc::no_such_file_or_directory) return false;
  Finish(b, unknown, PathToUtf8(path) + ": " + ec.message());
}

// A settings file that appeared meanwhile (another run, the operator) is never replaced: it is
// the one read.
void WriteDefaultIniFile(Bridge& b, const fs::path& path) {
  try {
    sys::CreateFileDurably(path, kDefaultIniText);
  } catch (const sys::DurableFileError& e) {
    Finish(b, RunEvent::kSettingsFailure, PathToUtf8(path) + ": " + e.reason());
  }
}

// Why the settings file is not there to be opened: the system's own reason when the file cannot
// even be looked at (an I/O error), else that there is no such file.
std::string MissingReason(const std::string& utf8Path) {
  std::error_code ec;
  (void)fs::symlink_status(Utf8ToPath(utf8Path), ec);
  if (!ec) ec = std::make_error_code(std::errc::no_such_file_or_directory);
  return ec.message();
}

std::unique_ptr<CIniFile> OpenedIniFile(Bridge& b) {
  std::unique_ptr<CIniFile> ini = OpenIniFile(b);
  if (!ini)
    Finish(b, RunEvent::kSettingsFailure,
           b.state.sIniFile + ": " + MissingReason(b.state.sIniFile));
  return ini;
}

std::string ReadSetting(Bridge& b, const char* section, const std::string& key) {
  return OpenedIniFile(b)->GetStringValue(section, key);
}

void ReadSettings(Bridge& b) {
  JobState& s = b.state;
  s.sSeriska = ReadSetting(b, kSettingsSection, "Seriska");
  s.sPrikaziForma = ReadSetting(b, kSettingsSection, "PrikaziForma");
  s.sDelimiter = ReadSetting(b, kSettingsSection, "Delimiter");
  s.sClear = ReadSetting(b, kSettingsSection, "Clear");
  const auto problem =
      ReadRunOptions([&b](const char* key) { return ReadSetting(b, kSettingsSection, key); }, s);
  if (problem) Finish(b, RunEvent::kSettingsFailure, s.sIniFile + ": [Parametri] " + *problem);
}

// Said where whoever watches the run looks, without holding it: standard error and the log.
void Note(Bridge& b, const std::string& text) {
  std::fprintf(stderr, "%s\n", text.c_str());
  std::fflush(stderr);
  AddEvent(b, text);
}

// Only "1" to "4" name a port; anything else is put right to "1", in memory and in the file. A
// file that will not take the correction (read-only, or in a read-only folder) keeps its value:
// the run goes on with port 1 all the same, and says so.
int16_t CheckedPortNumber(Bridge& b) {
  const std::string& s = b.state.sSeriska;
  if (s == "1" || s == "2" || s == "3" || s == "4") return static_cast<int16_t>(s[0] - '0');
  b.state.sSeriska = "1";
  const std::unique_ptr<CIniFile> ini = OpenedIniFile(b);
  try {
    ini->SaveStringValue(kSettingsSection, "Seriska", b.state.sSeriska);
  } catch (const IniError& e) {
    Note(b, "Поправката Seriska=1 не може да се зачува во " + b.state.sIniFile + ": " +
                e.description() + " (" + e.source() + "); се користи портот 1.");
  }
  return 1;
}

std::string DevicePathOf(Bridge& b, int16_t port) {
  const std::string mapped = ReadSetting(b, kPortsSection, "COM" + std::to_string(port));
  return mapped.empty() ? DefaultDevicePath(port) : mapped;
}

void OpenPort(Bridge& b, int16_t port, const std::string& device) {
  SerialPort& comm = b.Comm;
  comm.SetCommPort(port, device);
  comm.SetSettings(b.state.sLineSettings);
  comm.SetRTSEnable(true);
  comm.SetDTREnable(true);
  comm.SetHandshaking(b.state.iHandshaking);
  try {
    comm.SetPortOpen(true);
  } catch (const SerialError& e) {
    std::string text = "Серискиот порт COM" + std::to_string(port) + " не може да се отвори.\r\n" +
                       "Уред: " + e.device() + "\r\nПричина: " + e.reason();
    if (!e.hint().empty()) text += "\r\n" + e.hint();
    Finish(b, RunEvent::kPortFailure, text);
  }
}

// The log is opened once the port's device is known, so that its first line says all of the run's
// settings.
void OpenLog(Bridge& b, int16_t port, const std::string& device) {
  const JobState& s = b.state;
  if (s.sLog.empty() || !b.log) return;
  b.log->Open(b.folder / Utf8ToPath(s.sLog), [&b](const std::string& text) { Note(b, text); });
  b.log->Line("start zelmo " + s.sVersion + ", folder " + PathToUtf8(b.folder) +
              ", Settings=" + s.sLineSettings + ", Handshaking=" + std::to_string(s.iHandshaking) +
              ", Timeout=" + std::to_string(s.iTimeout) + ", PrikaziForma=" + s.sPrikaziForma +
              ", Clear=" + s.sClear + ", port COM" + std::to_string(port) + " " + device);
}

void ConfigureAndOpenPort(Bridge& b) {
  try {
    const int16_t port = CheckedPortNumber(b);
    const std::string device = DevicePathOf(b, port);
    OpenLog(b, port, device);
    OpenPort(b, port, device);
  } catch (const IniError& e) {
    IniFailure(b, e);
  }
}

void ChooseReceipt(Bridge& b) {
  const fs::path receipt = b.folder / kReceiptFileName;
  if (Exists(b, receipt, RunEvent::kReceiptRefused)) {
    b.state.sReceiptFile = PathToUtf8(receipt);
    b.state.iReceiptKind = 1;
    return;
  }
  if (Exists(b, b.folder / kStornoFileName, RunEvent::kReceiptRefused)) {
    Finish(b, RunEvent::kStornoRefused);
  }
}

}  // namespace

std::unique_ptr<CIniFile> OpenIniFile(Bridge& b) {
  auto ini = std::make_unique<CIniFile>();
  ini->Init(b.state.sIniFile);
  if (ini->FileExists(b.state.sIniFile)) return ini;
  return nullptr;
}

bool StartUp(Bridge& b) {
  const fs::path iniPath = b.folder / kIniFileName;
  b.state.sIniFile = PathToUtf8(iniPath);
  if (!Exists(b, iniPath, RunEvent::kSettingsFailure)) WriteDefaultIniFile(b, iniPath);
  // A file that cannot be settings (binary bytes, a folder, no permission) is refused before
  // anything reads it as empty settings or writes a section into it.
  if (const auto problem = SettingsFileProblem(b.state.sIniFile)) {
    Finish(b, RunEvent::kSettingsFailure, b.state.sIniFile + ": " + *problem);
  }
  try {
    ReadSettings(b);
  } catch (const IniError& e) {
    IniFailure(b, e);
  }
  ConfigureAndOpenPort(b);
  ChooseReceipt(b);
  if (b.state.sPrikaziForma == "1") {
    b.frmMain.Show();
    b.machine.Waiting();
    return false;
  }
  b.frmMain.Hide();
  return true;
}

}  // namespace zelmo
