#include "app/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include "app/print_job.h"
#include "ini/settings_file_check.h"
#include "sys/paths.h"

namespace zelmo {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIniErrorText = "Грешка во ini Фајлот.";
constexpr const char* kLineSettings = "9600,N,8,1";

// The run cannot go on without its configuration: tell the operator why and end, nothing touched.
[[noreturn]] void ConfigFailure(Bridge& b, const std::string& detail) {
  b.frmMain.MsgBox(std::string(kIniErrorText) + "\r\n" + detail, MsgStyle::kError, "");
  ShutDown(b, ExitStatus::kConfigError);
}

// A CIniFile error names neither the file nor the system's reason; the file at least is ours to
// give.
[[noreturn]] void IniFailure(Bridge& b, const IniError& e) {
  ConfigFailure(b, b.state.sIniFile + ": " + e.description() + " (" + e.source() + ")");
}

bool Exists(const fs::path& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

// Written beside the final name and renamed into place, so a failed write leaves no half file.
void WriteDefaultIniFile(Bridge& b, const fs::path& path) {
  fs::path temp = path;
  temp += ".tmp";
  std::ofstream out(temp, std::ios::binary | std::ios::trunc);
  const int openErrno = errno;
  if (out) out << kDefaultIniText;
  if (out) out.close();
  if (!out) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    ConfigFailure(b, PathToUtf8(path) + ": " + std::strerror(openErrno ? openErrno : EIO));
  }
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    fs::remove(temp, ec);
    ConfigFailure(b, PathToUtf8(path) + ": " + ec.message());
  }
}

std::string ReadSetting(Bridge& b, const char* section, const std::string& key) {
  const std::unique_ptr<CIniFile> ini = OpenIniFile(b);
  if (!ini) ShutDown(b, ExitStatus::kConfigError);
  return ini->GetStringValue(section, key);
}

void ReadSettings(Bridge& b) {
  JobState& s = b.state;
  s.sSeriska = ReadSetting(b, kSettingsSection, "Seriska");
  s.sPrikaziForma = ReadSetting(b, kSettingsSection, "PrikaziForma");
  s.sDelimiter = ReadSetting(b, kSettingsSection, "Delimiter");
  s.sClear = ReadSetting(b, kSettingsSection, "Clear");
}

// Only "1" to "4" name a port; anything else is put right to "1", in memory and in the file.
int16_t CheckedPortNumber(Bridge& b) {
  const std::string& s = b.state.sSeriska;
  if (s == "1" || s == "2" || s == "3" || s == "4") return static_cast<int16_t>(s[0] - '0');
  b.state.sSeriska = "1";
  const std::unique_ptr<CIniFile> ini = OpenIniFile(b);
  if (!ini) ShutDown(b, ExitStatus::kConfigError);
  ini->SaveStringValue(kSettingsSection, "Seriska", b.state.sSeriska);
  return 1;
}

std::string DevicePathOf(Bridge& b, int16_t port) {
  const std::string mapped = ReadSetting(b, kPortsSection, "COM" + std::to_string(port));
  return mapped.empty() ? DefaultDevicePath(port) : mapped;
}

void OpenPort(Bridge& b, int16_t port, const std::string& device) {
  SerialPort& comm = b.Comm;
  comm.SetCommPort(port, device);
  comm.SetSettings(kLineSettings);
  comm.SetRTSEnable(true);
  comm.SetDTREnable(true);
  comm.SetHandshaking(kHandshakeRtsCts);
  try {
    comm.SetPortOpen(true);
  } catch (const SerialError& e) {
    std::string text = "Серискиот порт COM" + std::to_string(port) + " не може да се отвори.\r\n" +
                       "Уред: " + e.device() + "\r\nПричина: " + e.reason();
    if (!e.hint().empty()) text += "\r\n" + e.hint();
    b.frmMain.MsgBox(text, MsgStyle::kError, "");
    ShutDown(b, ExitStatus::kPortFailed);
  }
}

void ConfigureAndOpenPort(Bridge& b) {
  try {
    const int16_t port = CheckedPortNumber(b);
    OpenPort(b, port, DevicePathOf(b, port));
  } catch (const IniError& e) {
    IniFailure(b, e);
  }
}

void ChooseReceipt(Bridge& b) {
  const fs::path receipt = b.folder / kReceiptFileName;
  if (Exists(receipt)) {
    b.state.sReceiptFile = PathToUtf8(receipt);
    b.state.iReceiptKind = 1;
    return;
  }
  if (Exists(b.folder / kStornoFileName)) {
    b.frmMain.MsgBox("Сторното не е возможно.", MsgStyle::kInformation, "Сторно сметка...");
    ShutDown(b, ExitStatus::kStornoRefused);
  }
}

}  // namespace

std::unique_ptr<CIniFile> OpenIniFile(Bridge& b) {
  auto ini = std::make_unique<CIniFile>();
  ini->Init(b.state.sIniFile);
  if (ini->FileExists(b.state.sIniFile)) return ini;
  b.frmMain.MsgBox(kIniErrorText, MsgStyle::kError, "");
  return nullptr;
}

void StartUp(Bridge& b) {
  const fs::path iniPath = b.folder / kIniFileName;
  b.state.sIniFile = PathToUtf8(iniPath);
  if (!Exists(iniPath)) WriteDefaultIniFile(b, iniPath);
  // A file that cannot be settings (binary bytes, a folder, no permission) is refused before
  // anything reads it as empty settings or writes a section into it.
  if (const auto problem = SettingsFileProblem(b.state.sIniFile)) {
    ConfigFailure(b, b.state.sIniFile + ": " + *problem);
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
    return;
  }
  b.frmMain.Hide();
  btnPrintClick(b);
}

void ShutDown(Bridge& b, ExitStatus status) {
  if (b.Comm.PortOpen()) b.Comm.SetPortOpen(false);
  b.frmMain.Unload();
  b.end.End(status);
  std::abort();  // an ending that returned: never go on with the run
}

}  // namespace zelmo
