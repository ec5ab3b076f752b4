// The serial port on the Win32 communications API. One reader thread waits for the driver's
// events (WaitCommEvent) and hands received bytes and line events to the front-end's event loop;
// a writer thread sends, so the loop never waits for the line. Before the port is opened the
// program takes the port's lock, so a second program never shares it.
// A driver without event support (error 50; Wine's ports on a pseudo-terminal are such) gets its
// receive queue polled instead, and then there are no line events. Everything the thread and the
// posted tasks share lives in a SerialChannel that outlives the port, so a task that runs after
// the port is closed finds it closed and does nothing.
#include <windows.h>

#include <algorithm>
#include <optional>
#include <thread>

#include "device/line_settings.h"
#include "device/serial_channel.h"
#include "device/serial_lock-win32.h"
#include "device/serial_port.h"
#include "device/serial_writer-win32.h"
#include "sys/io_event-win32.h"
#include "sys/wide-win32.h"

namespace zelmo {
namespace {

constexpr const char* kInUseReason = "in use by another program";

// The control's buffer sizes: 1024 bytes to receive, 512 to send.
constexpr DWORD kReceiveBuffer = 1024;
constexpr DWORD kTransmitBuffer = 512;

// How often the receive queue is looked at when the driver cannot wait for events.
constexpr DWORD kPollPeriodMs = 2;

// How a pending wait is ended when the port closes: poked every 20 ms, for up to 5 s.
constexpr DWORD kEndPokeMs = 20;
constexpr int kEndPokes = 250;

constexpr DWORD kEventMask =
    EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR | EV_RX80FULL;

// The driver's line events and the control's numbers for them.
struct MaskEvent {
  DWORD mask;
  int16_t event;
};
constexpr MaskEvent kMaskEvents[] = {
    {EV_CTS, comEvCTS},   {EV_DSR, comEvDSR},        {EV_RLSD, comEvCD},
    {EV_RING, comEvRing}, {EV_BREAK, comEventBreak},
};

// The driver's error flags (ClearCommError) and the control's numbers for them.
struct ErrorEvent {
  DWORD flag;
  int16_t event;
};
constexpr ErrorEvent kErrorEvents[] = {
    {CE_FRAME, comEventFrame},       {CE_OVERRUN, comEventOverrun}, {CE_RXOVER, comEventRxOver},
    {CE_RXPARITY, comEventRxParity}, {CE_TXFULL, comEventTxFull},
};

BYTE ParityByte(Parity parity) {
  switch (parity) {
    case Parity::kNone:
      return NOPARITY;
    case Parity::kEven:
      return EVENPARITY;
    case Parity::kOdd:
      return ODDPARITY;
    case Parity::kMark:
      return MARKPARITY;
    case Parity::kSpace:
      return SPACEPARITY;
  }
  return NOPARITY;
}

BYTE StopBitsByte(StopBits stopBits) {
  switch (stopBits) {
    case StopBits::kOne:
      return ONESTOPBIT;
    case StopBits::kOneAndHalf:
      return ONE5STOPBITS;
    case StopBits::kTwo:
      return TWOSTOPBITS;
  }
  return ONESTOPBIT;
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Reset(); }
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// The reader thread: waits for the driver, takes what it holds, and reports. It stops when the
// stop event is set or the line fails (reported once).
class Reader {
 public:
  // `io` signals the end of the thread's overlapped operations.
  Reader(std::shared_ptr<SerialChannel> channel, HANDLE port, HANDLE io, HANDLE stop,
         bool driverEvents)
      : channel_(std::move(channel)),
        port_(port),
        stop_(stop),
        driverEvents_(driverEvents),
        io_(io) {}

  void operator()() {
    if (driverEvents_) {
      WaitForEvents();
    } else {
      Poll();
    }
  }

 private:
  void WaitForEvents() {
    while (!Stopping()) {
      DWORD mask = 0;
      OVERLAPPED overlapped = Overlapped();
      if (!WaitCommEvent(port_, &mask, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
          Fail(error);
          return;
        }
        if (!Complete(overlapped)) return;
      }
      if (Stopping()) return;
      for (const auto& [bit, event] : kMaskEvents) {
        if (mask & bit) channel_->PostEvent(event);
      }
      if (!Drain()) return;
    }
  }

  void Poll() {
    while (WaitForSingleObject(stop_, kPollPeriodMs) == WAIT_TIMEOUT) {
      if (!Drain()) return;
    }
  }

  // Reports the driver's error flags and takes every byte in its receive queue; only what is
  // known to be there is asked for, so a read never waits. False when the line failed.
  bool Drain() {
    for (;;) {
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(port_, &errors, &status)) return Fail(GetLastError());
      for (const auto& [flag, event] : kErrorEvents) {
        if (errors & flag) channel_->PostEvent(event);
      }
      if (status.cbInQue == 0) return true;
      char buffer[kReceiveBuffer];
      const DWORD want = std::min<DWORD>(status.cbInQue, sizeof buffer);
      DWORD got = 0;
      OVERLAPPED overlapped = Overlapped();
      if (!ReadFile(port_, buffer, want, &got, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return Fail(error);
        if (!Complete(overlapped, &got)) return false;
      }
      if (Stopping()) return false;
      if (got == 0) return true;
      channel_->Receive(buffer, got);
    }
  }

  OVERLAPPED Overlapped() {
    ResetEvent(io_);
    OVERLAPPED overlapped{};
    overlapped.hEvent = io_;
    return overlapped;
  }

  // Waits for a pending operation or the stop event; false when stopping or failed.
  bool Complete(OVERLAPPED& overlapped, DWORD* transferred = nullptr) {
    const HANDLE waits[] = {io_, stop_};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    DWORD n = 0;
    if (woken != WAIT_OBJECT_0) {
      EndPending(overlapped);
      return false;
    }
    if (!GetOverlappedResult(port_, &overlapped, &n, FALSE)) {
      if (!Stopping()) Fail(GetLastError());
      return false;
    }
    if (transferred) *transferred = n;
    return true;
  }

  // A pending operation must end before its OVERLAPPED goes. Cancelling ends a read; a driver
  // that waits for line events on a helper of its own (Wine's on a real port) ends that wait
  // only when the event mask changes after the wait began, which the port's own change at
  // closing may not be: so the mask is set again from here, and again, until the wait is over.
  void EndPending(OVERLAPPED& overlapped) {
    for (int poke = 0; poke < kEndPokes; ++poke) {
      CancelIoEx(port_, &overlapped);
      if (driverEvents_) SetCommMask(port_, 0);
      if (WaitForSingleObject(io_, kEndPokeMs) == WAIT_OBJECT_0) break;
    }
    // Ended now, or a driver that ends it in its own time: the memory is its until then.
    DWORD n = 0;
    GetOverlappedResult(port_, &overlapped, &n, TRUE);
  }

  bool Stopping() const { return WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0; }

  // Reports the line's failure, once: the thread ends with it. Always false.
  bool Fail(DWORD error) {
    if (!Stopping()) channel_->FailLine(SystemMessage(error));
    return false;
  }

  std::shared_ptr<SerialChannel> channel_;
  HANDLE port_;
  HANDLE stop_;
  bool driverEvents_;
  HANDLE io_;
};

class Win32SerialPort : public PortProperties {
 public:
  Win32SerialPort(EventLoop& loop, CommListener& listener)
      : PortProperties(ERROR_INVALID_PARAMETER), loop_(loop), listener_(listener) {}
  ~Win32SerialPort() override { Close(); }

  bool PortOpen() const override { return comm_.valid(); }

  void Output(const std::string& wire) override {
    if (wire.empty()) return;
    if (!PortOpen()) throw SerialError(Device(), "the port is not open");
    writer_->Write(wire);
  }

  std::string Input() override { return channel_ ? channel_->TakeReceived() : std::string(); }

  // The driver's transmit queue, or CTS holding it. Taking the error flags here loses none that
  // matter: the run ends on what this says.
  bool OutputHeld() override {
    if (!PortOpen()) return false;
    DWORD errors = 0;
    COMSTAT stat{};
    if (!ClearCommError(comm_.get(), &errors, &stat)) return false;
    return stat.cbOutQue > 0 || stat.fCtsHold;
  }

 private:
  // The driver takes every line the text can name.
  bool Runs(const LineSettings&) const override { return true; }

  [[noreturn]] void Fail(DWORD error, const std::string& what = "") {
    comm_.Reset();
    lock_.Release();
    std::string reason = SystemMessage(error);
    if (!what.empty()) reason = what + " (" + reason + ")";
    throw SerialError(Device(), reason, static_cast<int>(error));
  }

  void Open() override {
    if (PortOpen()) return;
    const DWORD locked = lock_.Take(Device());
    if (locked == ERROR_BUSY) {
      throw SerialError(Device(), kInUseReason, static_cast<int>(ERROR_SHARING_VIOLATION));
    }
    if (locked != ERROR_SUCCESS) Fail(locked, "the port's lock could not be taken");
    // No sharing either: the port is ours alone while it is open.
    comm_.Reset(CreateFileW(Utf8ToWide(Device()).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!comm_.valid()) {
      const DWORD error = GetLastError();
      Fail(error,
           error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? kInUseReason : "");
    }
    const HANDLE port = comm_.get();
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(port) != FILE_TYPE_CHAR) Fail(ERROR_INVALID_FUNCTION, "not a serial port");
    if (!GetCommState(port, &dcb)) Fail(GetLastError(), "not a serial port");
    if (!SetupComm(port, kReceiveBuffer, kTransmitBuffer)) Fail(GetLastError());
    Configure(dcb);
    if (!SetCommState(port, &dcb)) Fail(GetLastError());
    // Reads take what is there and never wait; a write may wait for the line, but not for ever.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, static_cast<DWORD>(kWriteStall.count())};
    if (!SetCommTimeouts(port, &timeouts)) Fail(GetLastError());
    // Whatever the register said before we came is not a reply.
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    StartThreads(DriverHasEvents(port));
  }

  void Configure(DCB& dcb) const {
    const bool parity = settings_.parity != Parity::kNone;
    dcb.BaudRate = static_cast<DWORD>(settings_.baud);
    dcb.ByteSize = static_cast<BYTE>(settings_.dataBits);
    dcb.Parity = ParityByte(settings_.parity);
    dcb.StopBits = StopBitsByte(settings_.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = parity;
    // A byte with a parity error reads as "?".
    dcb.fErrorChar = parity;
    dcb.ErrorChar = '?';
    const bool rtsCts = handshaking_ == kHandshakeRtsCts;
    dcb.fOutxCtsFlow = rtsCts;
    dcb.fRtsControl =
        rtsCts ? RTS_CONTROL_HANDSHAKE : (rts_ ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = dtr_ ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
  }

  // Waiting for events needs the driver to keep an event mask and the modem lines.
  static bool DriverHasEvents(HANDLE port) {
    DWORD lines = 0;
    return SetCommMask(port, kEventMask) && GetCommModemStatus(port, &lines);
  }

  // The events and threads are the program's own: failing to get one is its failure (thrown
  // on as it is), and the port is left closed.
  void StartThreads(bool driverEvents) {
    try {
      stop_.Reset(NewIoEvent());
      readerIo_.Reset(NewIoEvent());
      driverEvents_ = driverEvents;
      channel_ = std::make_shared<SerialChannel>(loop_, listener_);
      writer_ = std::make_unique<SerialWriter>(channel_, comm_.get());
      reader_ =
          std::thread(Reader(channel_, comm_.get(), readerIo_.get(), stop_.get(), driverEvents));
    } catch (...) {
      Close();
      throw;
    }
  }

  void Close() override {
    if (channel_) channel_->Close();
    if (stop_.valid()) SetEvent(stop_.get());
    // A zero mask ends a WaitCommEvent that is waiting.
    if (driverEvents_ && comm_.valid()) SetCommMask(comm_.get(), 0);
    if (reader_.joinable()) reader_.join();
    writer_.reset();  // what was still to go is given up
    channel_.reset();
    comm_.Reset();
    stop_.Reset();
    readerIo_.Reset();
    driverEvents_ = false;
    lock_.Release();
  }

  EventLoop& loop_;
  CommListener& listener_;

  PortLock lock_;
  Handle comm_;
  Handle stop_;
  Handle readerIo_;
  bool driverEvents_ = false;
  std::shared_ptr<SerialChannel> channel_;
  std::thread reader_;
  std::unique_ptr<SerialWriter> writer_;
};

}  // namespace

std::unique_ptr<SerialPort> MakeSerialPort(EventLoop& loop, CommListener& listener) {
  return std::make_unique<Win32SerialPort>(loop, listener);
}

std::string DefaultDevicePath(int16_t port) {
  return "\\\\.\\COM" + std::to_string(port);
}

}  // namespace zelmo
