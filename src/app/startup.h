// Start-up: the configuration file, the settings, the port and the receipt choice; then either
// the window is shown and waits for its button, or the job is to start at once (hidden).
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

// True when the window stays hidden and the caller is to start the job (btnPrintClick) now.
// A start-up that cannot go on ends the run itself.
bool StartUp(Bridge& b);

// A fresh CIniFile on sIniFile, or nothing when the file is gone.
std::unique_ptr<CIniFile> OpenIniFile(Bridge& b);

}  // namespace zelmo
