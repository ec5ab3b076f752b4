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
  // Whether the operator or the system has asked the program to close. The request is marked
  // the moment it comes, from whatever thread, even while a handler still runs: the job looks
  // here before each command, so that a request made before the first byte went out ends the
  // run as closed before sending.
  virtual bool CloseRequested() const = 0;
};

}  // namespace zelmo
