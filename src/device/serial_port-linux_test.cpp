// The port against a real pseudo-terminal: the test holds the master end, which plays the
// register, and the port opens the slave end by its path as it would a serial device.
#include "device/serial_port-linux.h"
#include "device/serial_port.h"
#include "device/serial_test.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zelmo {
namespace {

using namespace std::chrono_literals;

using testing::Configure;
using testing::RecordingListener;
using testing::TestLoop;

class PseudoTerminal {
 public:
  PseudoTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slavePath_ = ptsname(master_);
    // Held by the test only to look at the line settings the port has made.
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  ~PseudoTerminal() {
    CloseMaster();
    if (slave_ >= 0) close(slave_);
  }
  bool ok() const { return master_ >= 0 && slave_ >= 0; }
  const std::string& slavePath() const { return slavePath_; }

  void Write(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  std::string Read(size_t count) {
    std::string got;
    char buffer[512];
    pollfd in = {master_, POLLIN, 0};
    while (got.size() < count && poll(&in, 1, 3000) > 0) {
      const ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<size_t>(n));
    }
    return got;
  }

  // Stops or restarts output on the port's side, as the terminal's flow control would: its writes
  // then wait as they do on a UART whose CTS is held low.
  bool StopOutput(bool stop) { return tcflow(slave_, stop ? TCOOFF : TCOON) == 0; }

  // Nothing arrives within `period`.
  bool Quiet(std::chrono::milliseconds period) {
    pollfd in = {master_, POLLIN, 0};
    return poll(&in, 1, static_cast<int>(period.count())) == 0;
  }

  termios LineSettings() const {
    termios tio{};
    tcgetattr(slave_, &tio);
    return tio;
  }

  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

std::string AllByteValues() {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  return all;
}

// The front-end's loop either waits on the port's descriptor itself (the console's) or cannot
// (the desktop's): then the port reads and writes on a thread of its own.
enum class Loop { kThreaded, kWatching };

std::unique_ptr<testing::RunLoop> MakeLoop(Loop kind) {
  if (kind == Loop::kWatching) return std::make_unique<testing::WatchingLoop>(3s);
  return std::make_unique<TestLoop>(3s);
}

class SerialPortTest : public ::testing::TestWithParam<Loop> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal: " << std::strerror(errno);
    port_ = MakeSerialPort(*loop_, listener_);
    listener_.port = port_.get();
    Configure(*port_, pty_.slavePath());
  }

  // What the register reads of `count` bytes, with the loop running meanwhile as the front-end's
  // does.
  std::string ReadRunning(size_t count) {
    std::string got;
    std::atomic<bool> finished = false;
    std::thread reader([&] {
      got = pty_.Read(count);
      finished = true;
      loop_->Post([] {});  // wakes the loop to see it
    });
    loop_->RunUntil([&] { return finished.load(); }, 10s);
    reader.join();
    return got;
  }

  bool ReceivedAtLeast(size_t count) {
    return loop_->RunUntil([&] { return listener_.received.size() >= count; });
  }

  PseudoTerminal pty_;
  std::unique_ptr<testing::RunLoop> loop_ = MakeLoop(GetParam());
  RecordingListener listener_;
  std::unique_ptr<SerialPort> port_;
};

TEST_P(SerialPortTest, ReceivedBytesRaiseTheReceiveEventWithEveryByteUnchanged) {
  port_->SetPortOpen(true);
  ASSERT_TRUE(port_->PortOpen());

  pty_.Write("\x06");
  ASSERT_TRUE(ReceivedAtLeast(1));
  EXPECT_EQ(listener_.received, "\x06");

  // Flow-control, interrupt and line-end bytes must pass as they are: the line is raw.
  const std::string all = AllByteValues();
  pty_.Write(all.substr(0, 100));
  pty_.Write(all.substr(100));
  ASSERT_TRUE(ReceivedAtLeast(1 + all.size()));
  EXPECT_EQ(listener_.received, "\x06" + all);

  // A pseudo-terminal has no modem lines: receive events and nothing else.
  loop_->RunFor(30ms);
  for (int16_t event : listener_.events) EXPECT_EQ(event, comEvReceive);
  EXPECT_TRUE(listener_.failures.empty());
}

TEST_P(SerialPortTest, BytesArrivingInPiecesAreAllDelivered) {
  port_->SetPortOpen(true);
  std::string sent;
  for (const char* piece : {"\x02", "Dq1", "ABC", "\x03", "0F50"}) {
    pty_.Write(piece);
    sent += piece;
    ASSERT_TRUE(ReceivedAtLeast(sent.size()));
  }
  EXPECT_EQ(listener_.received, sent);
  EXPECT_EQ(port_->Input(), "");  // everything was taken already
}

TEST_P(SerialPortTest, OutputReachesTheLineByteForByte) {
  port_->SetPortOpen(true);
  const std::string all = AllByteValues();
  port_->Output(all);
  port_->Output("");
  EXPECT_EQ(pty_.Read(all.size()), all);
}

TEST_P(SerialPortTest, OutputOnAStoppedLineReturnsAtOnceAndGoesOutInOrderWhenTheLineMoves) {
  port_->SetPortOpen(true);
  ASSERT_TRUE(pty_.StopOutput(true));
  std::string all;
  for (int i = 0; i < 40; ++i) all += AllByteValues();  // more than the terminal holds at once
  const auto start = std::chrono::steady_clock::now();
  port_->Output("\x05");
  port_->Output(all);
  port_->Output("\x04");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "Output waited for the line";
  loop_->RunFor(100ms);
  EXPECT_TRUE(pty_.Quiet(100ms));
  EXPECT_TRUE(listener_.failures.empty());

  ASSERT_TRUE(pty_.StopOutput(false));
  const std::string expected = "\x05" + all + "\x04";
  EXPECT_EQ(ReadRunning(expected.size()), expected);
  loop_->RunFor(50ms);
  EXPECT_TRUE(listener_.failures.empty());
}

TEST_P(SerialPortTest, ClosingWhileOutputWaitsForTheLineIsPrompt) {
  port_->SetPortOpen(true);
  ASSERT_TRUE(pty_.StopOutput(true));
  port_->Output(std::string(10000, 'x'));
  const auto start = std::chrono::steady_clock::now();
  port_->SetPortOpen(false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_FALSE(port_->PortOpen());
  loop_->RunFor(50ms);
  EXPECT_TRUE(listener_.failures.empty());
  EXPECT_THROW(port_->Output("\x05"), SerialError);
}

TEST_P(SerialPortTest, LineIsSetUpAsTheSettingsSay) {
  // A pseudo-terminal keeps the speed, stop bits and flow control it is given but always reads
  // back 8 data bits without parity, so those two are only checked for the register's 8N1.
  struct Case {
    const char* settings;
    int handshaking;
    speed_t speed;
    bool twoStopBits;
  };
  const Case cases[] = {
      {"9600,N,8,1", kHandshakeRtsCts, B9600, false},
      {"19200,e,7,2", 0, B19200, true},
      {"115200,O,8,1", 0, B115200, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings);
    port_->SetSettings(c.settings);
    port_->SetHandshaking(c.handshaking);
    port_->SetPortOpen(true);
    const termios tio = pty_.LineSettings();
    EXPECT_EQ(cfgetospeed(&tio), c.speed);
    EXPECT_EQ(cfgetispeed(&tio), c.speed);
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStopBits);
    EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.handshaking == kHandshakeRtsCts);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    // A break or a character with a line error is an event, never a byte of a reply.
    EXPECT_EQ(tio.c_iflag & (IGNBRK | IGNPAR | INPCK),
              static_cast<tcflag_t>(IGNBRK | IGNPAR | INPCK));
    if (c.speed == B9600) {
      EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
      EXPECT_EQ(tio.c_cflag & PARENB, 0u);
    }
    port_->SetPortOpen(false);
  }
}

TEST_P(SerialPortTest, SettingsThatAreNotALineAreRefused) {
  for (const char* bad : {"", "9600", "9600,N,8", "9600,N,8,1,1", "abc,N,8,1", "12345,N,8,1",
                          "9600,X,8,1", "9600,N,9,1", "9600,N,4,1", "9600,N,8,3", "-9600,N,8,1",
                          "9600,N,8,", "99999999999,N,8,1"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(port_->SetSettings(bad), SerialError);
  }
  // The last good settings still hold.
  port_->SetPortOpen(true);
  const termios tio = pty_.LineSettings();
  EXPECT_EQ(cfgetospeed(&tio), B9600);
}

TEST_P(SerialPortTest, APortHeldByOneIsRefusedToAnotherUntilClosed) {
  port_->SetPortOpen(true);
  RecordingListener otherListener;
  auto other = MakeSerialPort(*loop_, otherListener);
  Configure(*other, pty_.slavePath());
  try {
    other->SetPortOpen(true);
    FAIL() << "a second open of a held port succeeded";
  } catch (const SerialError& e) {
    EXPECT_EQ(e.device(), pty_.slavePath());
    EXPECT_EQ(e.reason(), "in use by another program");
  }
  EXPECT_FALSE(other->PortOpen());

  port_->SetPortOpen(false);
  port_->SetPortOpen(false);  // closing twice is harmless
  EXPECT_FALSE(port_->PortOpen());
  other->SetPortOpen(true);
  EXPECT_TRUE(other->PortOpen());
}

TEST_P(SerialPortTest, PortsThatCannotBeOpenedNameTheDeviceAndTheReason) {
  const std::string missing = "/dev/zelmo-no-such-port";
  port_->SetCommPort(3, missing);
  try {
    port_->SetPortOpen(true);
    FAIL() << "opened a missing device";
  } catch (const SerialError& e) {
    EXPECT_EQ(e.device(), missing);
    EXPECT_EQ(e.systemError(), ENOENT);
    EXPECT_EQ(e.reason(), std::strerror(ENOENT));
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
    EXPECT_EQ(e.hint(), "");
  }
  EXPECT_FALSE(port_->PortOpen());

  char plainFile[] = "/tmp/zelmo-not-a-port-XXXXXX";
  const int fd = mkstemp(plainFile);
  ASSERT_GE(fd, 0);
  close(fd);
  port_->SetCommPort(1, plainFile);
  try {
    port_->SetPortOpen(true);
    FAIL() << "opened a plain file as a port";
  } catch (const SerialError& e) {
    EXPECT_EQ(e.systemError(), ENOTTY);
    EXPECT_NE(e.reason().find("not a serial port"), std::string::npos) << e.reason();
  }
  EXPECT_FALSE(port_->PortOpen());
  unlink(plainFile);
}

TEST_P(SerialPortTest, NoPermissionTellsHowToGetIt) {
  char locked[] = "/tmp/zelmo-no-access-XXXXXX";
  const int fd = mkstemp(locked);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(chmod(locked, 0), 0);
  // Root is never refused, so the check runs in a child that has given up root.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && setuid(65534) != 0) std::exit(2);
        port_->SetCommPort(2, locked);
        try {
          port_->SetPortOpen(true);
        } catch (const SerialError& e) {
          const bool ok = e.systemError() == EACCES && e.device() == locked &&
                          e.hint().find("dialout") != std::string::npos && !port_->PortOpen();
          std::exit(ok ? 0 : 3);
        }
        std::exit(4);
      },
      ::testing::ExitedWithCode(0), "");
  unlink(locked);
}

TEST_P(SerialPortTest, HangUpOfTheOtherEndIsOneLineFailure) {
  port_->SetPortOpen(true);
  pty_.CloseMaster();
  ASSERT_TRUE(loop_->RunUntil([&] { return !listener_.failures.empty(); }));
  loop_->RunFor(30ms);
  EXPECT_EQ(listener_.failures.size(), 1u);
  EXPECT_THROW(port_->Output("\x05"), SerialError);
}

TEST_P(SerialPortTest, OutputOnAClosedPortFails) {
  EXPECT_THROW(port_->Output("\x05"), SerialError);
  EXPECT_EQ(port_->Input(), "");
}

TEST_P(SerialPortTest, EventsStillQueuedWhenThePortGoesAreDropped) {
  port_->SetPortOpen(true);
  pty_.Write("\x06");
  if (auto* threaded = dynamic_cast<TestLoop*>(loop_.get())) {
    ASSERT_TRUE(threaded->WaitForPending());
  }
  port_.reset();
  listener_.port = nullptr;
  loop_->RunFor(30ms);
  EXPECT_TRUE(listener_.events.empty());
}

TEST_P(SerialPortTest, AReopenedPortStartsWithoutStaleInput) {
  port_->SetPortOpen(true);
  port_->SetPortOpen(false);
  pty_.Write("stale");
  loop_->RunFor(20ms);
  port_->SetPortOpen(true);
  pty_.Write("\x06");
  ASSERT_TRUE(ReceivedAtLeast(1));
  loop_->RunFor(20ms);
  EXPECT_EQ(listener_.received, "\x06");
}

INSTANTIATE_TEST_SUITE_P(Loops, SerialPortTest, ::testing::Values(Loop::kThreaded, Loop::kWatching),
                         [](const auto& info) {
                           return info.param == Loop::kWatching ? "OnTheLoop" : "OnAThread";
                         });

// Each counter of a real UART and the event its rise stands for, as the event table names them.
TEST(CounterRises, EachCounterRaisesItsOwnEventOnce) {
  struct Case {
    int serial_icounter_struct::*counter;
    int16_t event;
  };
  const Case cases[] = {
      {&serial_icounter_struct::cts, 3},        {&serial_icounter_struct::dsr, 4},
      {&serial_icounter_struct::dcd, 5},        {&serial_icounter_struct::rng, 6},
      {&serial_icounter_struct::brk, 1001},     {&serial_icounter_struct::frame, 1004},
      {&serial_icounter_struct::overrun, 1006}, {&serial_icounter_struct::buf_overrun, 1008},
      {&serial_icounter_struct::parity, 1009},
  };
  serial_icounter_struct before{};
  before.rx = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    serial_icounter_struct now = before;
    now.*c.counter += 3;  // three changes between two looks are still one event
    now.rx += 7;          // bytes received and sent are no events
    now.tx += 9;
    EXPECT_EQ(CounterRises(before, now), std::vector<int16_t>{c.event});
  }
  EXPECT_TRUE(CounterRises(before, before).empty());

  serial_icounter_struct now = before;
  now.parity = 1;
  now.brk = 2;
  now.cts = 1;
  EXPECT_EQ(CounterRises(before, now), (std::vector<int16_t>{3, 1001, 1009}));
}

// The line the port asks for, and the same line as a driver that did not keep some of it reads
// it back.
termios Line(speed_t speed, tcflag_t flags) {
  termios tio{};
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= flags | CLOCAL | CREAD;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  return tio;
}

TEST(LineNotTaken, NamesTheKeyAndWhatTheDriverKeptInstead) {
  const termios asked = Line(B19200, CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  struct Case {
    termios got;
    bool bytesOnly;
    std::string reason;
  };
  const Case cases[] = {
      {asked, false, ""},
      {Line(B9600, CS7 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), false,
       "the line did not take Settings=19200,M,7,2: the driver keeps 9600 baud"},
      {Line(B19200, CS8 | CSTOPB | CRTSCTS), false,
       "the line did not take Settings=19200,M,7,2: the driver keeps 8 data bits, no parity"},
      // Mark parity without its stick bit is odd parity: an adapter without CMSPAR.
      {Line(B19200, CS7 | PARENB | PARODD | CSTOPB | CRTSCTS), false,
       "the line did not take Settings=19200,M,7,2: the driver keeps odd parity"},
      {Line(B19200, CS7 | PARENB | PARODD | CMSPAR), false,
       "the line did not take Settings=19200,M,7,2: the driver keeps 1 stop bit; the line did not "
       "take Handshaking=2: the driver keeps no flow control"},
      // A pseudo-terminal's 8 data bits without parity are what it always reads back ...
      {Line(B19200, CS8 | PARODD | CMSPAR | CSTOPB | CRTSCTS), true, ""},
      // ... but the speed, stop bits and flow control it keeps like any other line.
      {Line(B38400, CS8 | CRTSCTS), true,
       "the line did not take Settings=19200,M,7,2: the driver keeps 38400 baud, 1 stop bit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    EXPECT_EQ(LineNotTaken(asked, c.got, c.bytesOnly, "19200,M,7,2", 2), c.reason);
  }
  // Handshaking=0 on a driver that keeps the flow control on.
  EXPECT_EQ(LineNotTaken(Line(B9600, CS8), Line(B9600, CS8 | CRTSCTS), false, "9600,N,8,1", 0),
            "the line did not take Handshaking=0: the driver keeps RTS/CTS flow control");
  // Without PARENB the other parity bits mean nothing: no parity either way.
  EXPECT_EQ(LineNotTaken(Line(B9600, CS8 | PARODD), Line(B9600, CS8), false, "9600,N,8,1", 0), "");
}

TEST(DefaultDevicePath, PortNumbersCountFromTheFirstSerialDevice) {
  EXPECT_EQ(DefaultDevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(DefaultDevicePath(4), "/dev/ttyS3");
}

}  // namespace
}  // namespace zelmo
