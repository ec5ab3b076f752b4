// Start-up and shutdown: the configuration file, the settings, the port, the receipt choice, and
// then the job at once (hidden) or the window waiting for its button (shown).
#pragma once

#include <memory>

#include "app/bridge.h"
#include "ini/ini_file.h"

namespace zelmo {

inline constexpr const char* kIniFileName = "Zelmocfg.ini";
inline constexpr const char* kReceiptFileName = "smetka.txt";
inline constexpr const char* kStornoFileName = "storna.txt";
inline constexpr const char* kSettingsSection = "Parametri";
// Our addition: the device path each port number stands for, keys COM1 to COM4.
inline constexpr const char* kPortsSection = "Ports";

// The four lines of the configuration file a fresh installation gets.
inline constexpr const char* kDefaultIniText =
    "[Parametri]\r\nSeriska=1\r\nPrikaziForma=1\r\nDelimiter=;\r\n";

void StartUp(Bridge& b);

// A fresh CIniFile on sIniFile, or nothing (after telling the operator) when the file is gone.
std::unique_ptr<CIniFile> OpenIniFile(Bridge& b);

// Closes the port if it is open, unloads the window and ends the run with `status`.
[[noreturn]] void ShutDown(Bridge& b, ExitStatus status);

}  // namespace zelmo
