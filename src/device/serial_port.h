// The serial-port control through which every byte to and from the register passes. It keeps the
// shape of the classic communications control: properties set while the port is closed, then
// opened; Output sends; every arrival of bytes or line event is reported on the front-end's
// event loop as a numbered event, and Input takes all that is waiting.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "sys/event_loop.h"

namespace zelmo {

// Event numbers reported through CommListener::Comm_OnComm.
enum CommEvent : int16_t {
  comEvSend = 1,
  comEvReceive = 2,
  comEvCTS = 3,
  comEvDSR = 4,
  comEvCD = 5,
  comEvRing = 6,
  comEvEOF = 7,
  comEventBreak = 1001,
  comEventCTSTO = 1002,
  comEventDSRTO = 1003,
  comEventFrame = 1004,
  comEventOverrun = 1006,
  comEventCDTO = 1007,
  comEventRxOver = 1008,
  comEventRxParity = 1009,
  comEventTxFull = 1010,
  comEventDCB = 1011,
};

inline constexpr int kHandshakeRtsCts = 2;

// A port that could not be opened or configured, or a line that failed: which port, its device
// path, and the system's own reason.
class SerialError : public std::runtime_error {
 public:
  SerialError(std::string device, std::string reason, int systemError = 0, std::string hint = "")
      : std::runtime_error(device + ": " + reason),
        device_(std::move(device)),
        reason_(std::move(reason)),
        hint_(std::move(hint)),
        systemError_(systemError) {}
  const std::string& device() const { return device_; }
  const std::string& reason() const { return reason_; }
  // What the operator can do about it ("add the user to the dialout group"), or empty.
  const std::string& hint() const { return hint_; }
  int systemError() const { return systemError_; }

 private:
  std::string device_, reason_, hint_;
  int systemError_;
};

// Receives the control's events, always on the front-end's event loop, one at a time.
class CommListener {
 public:
  virtual ~CommListener() = default;
  virtual void Comm_OnComm(int16_t commEvent) = 0;
  // The line is gone (hang-up, device removed, read error); the port is no longer usable.
  virtual void Comm_OnLineFailure(const std::string& reason) = 0;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // Properties, set while the port is closed. `device` is the path the port number stands for.
  virtual void SetCommPort(int16_t port, const std::string& device) = 0;
  virtual void SetSettings(const std::string& settings) = 0;  // "9600,N,8,1"
  virtual void SetRTSEnable(bool on) = 0;
  virtual void SetDTREnable(bool on) = 0;
  virtual void SetHandshaking(int mode) = 0;

  // Opens (throws SerialError, leaving the port closed) or closes the port.
  virtual void SetPortOpen(bool open) = 0;
  virtual bool PortOpen() const = 0;

  // Sends the bytes as they are (already code page 1251); empty sends nothing. Returns without
  // waiting for a reply. Throws SerialError when the line fails.
  virtual void Output(const std::string& wire) = 0;

  // All bytes waiting in the receive buffer, which is then empty.
  virtual std::string Input() = 0;

  // Whether bytes handed to Output are still waiting to go out (the register holds the line
  // stopped, CTS low). A port that cannot tell says no.
  virtual bool OutputHeld() { return false; }
};

// The platform's port, reporting its events to `listener` through `loop`.
std::unique_ptr<SerialPort> MakeSerialPort(EventLoop& loop, CommListener& listener);

// The device a port number stands for when the configuration maps none: /dev/ttyS{N-1} on Linux,
// \\.\COMN on Windows.
std::string DefaultDevicePath(int16_t port);

}  // namespace zelmo
