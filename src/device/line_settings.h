// The port's line, "9600,N,8,1", and the properties every port keeps while it is closed. The
// text is read here once; each port then puts the line on its own driver and refuses what that
// driver cannot do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/serial_port.h"

namespace zelmo {

enum class Parity { kNone, kEven, kOdd, kMark, kSpace };
enum class StopBits { kOne, kOneAndHalf, kTwo };

struct LineSettings {
  unsigned long baud = 9600;
  Parity parity = Parity::kNone;
  int dataBits = 8;
  StopBits stopBits = StopBits::kOne;
};

// Nothing unless the text has exactly four comma-separated fields: a baud rate of one to seven
// digits (not 0), parity N, E, O, M or S in either case, 4 to 8 data bits, and 1, 1.5 or 2 stop
// bits.
std::optional<LineSettings> ParseLineSettings(const std::string& text);

// The form the configuration's Settings key may hold, narrower than what a driver takes: one of
// the usual speeds from 1200 to 115200, 7 or 8 data bits, 1 or 2 stop bits.
std::optional<LineSettings> ParseConfiguredSettings(const std::string& text);

// The properties of the classic control, kept alike by every port: the port opens with them.
class PortProperties : public SerialPort {
 public:
  void SetCommPort(int16_t port, const std::string& device) override;
  // Throws SerialError with `invalidError` when the text is no line or not one this driver runs.
  void SetSettings(const std::string& settings) override;
  void SetRTSEnable(bool on) override { rts_ = on; }
  void SetDTREnable(bool on) override { dtr_ = on; }
  void SetHandshaking(int mode) override { handshaking_ = mode; }
  void SetPortOpen(bool open) override;

 protected:
  explicit PortProperties(int invalidError) : invalidError_(invalidError) {}
  std::string Device() const;
  // Whether this driver can put the line on the wire.
  virtual bool Runs(const LineSettings& line) const = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;

  int16_t port_ = 1;
  std::string device_;
  LineSettings settings_;
  bool rts_ = false;
  bool dtr_ = false;
  int handshaking_ = 0;

 private:
  const int invalidError_;
};

}  // namespace zelmo
