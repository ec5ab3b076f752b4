// What a run needs from its main window, frmMain: message boxes, showing and hiding, the status
// label lblInfo, the (never shown) list ListOfEvents, the print button, and unloading.
#pragma once

#include <string>

#include "app/operator.h"

namespace zelmo {

inline constexpr const char* kWindowCaption = "Зелмо";
inline constexpr const char* kReadyText = "Спремно за печатење на фискална сметка";
inline constexpr const char* kPrintButtonText = "Печати";

class Window : public Operator {
 public:
  virtual void Show() = 0;  // visible, centred, not modal
  virtual void Hide() = 0;
  virtual void Unload() = 0;
  virtual void SetLabel(const std::string& caption) = 0;  // lblInfo.Caption
  virtual void AddEvent(const std::string& line) = 0;     // ListOfEvents.AddItem
  virtual void SetPrintEnabled(bool enabled) = 0;         // btnPrint.Enabled
};

}  // namespace zelmo
