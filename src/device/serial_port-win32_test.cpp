// The Win32 serial port. Opening errors are tested on devices every Windows has; the line itself
// against the virtual register when the test run maps COM ports to it (tests/wine/unit.sh sets
// ZELMO_TEST_REGISTER_PORT and ZELMO_TEST_HANGUP_PORT).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "device/serial_lock-win32.h"
#include "device/serial_port.h"
#include "device/serial_test.h"
#include "sys/io_event-win32.h"
#include "sys/wide-win32.h"

namespace zelmo {
namespace {

using namespace std::chrono_literals;

constexpr char kENQ = '\x05';
constexpr char kACK = '\x06';

using testing::RecordingListener;
using testing::TestLoop;

class Win32SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override { listener_.port = port_.get(); }

  void Configure(const std::string& device) { testing::Configure(*port_, device); }

  SerialError OpenFails(const std::string& device) {
    Configure(device);
    try {
      port_->SetPortOpen(true);
    } catch (const SerialError& e) {
      EXPECT_FALSE(port_->PortOpen());
      return e;
    }
    ADD_FAILURE() << device << " opened";
    return SerialError("", "");
  }

  TestLoop loop_{5s};
  RecordingListener listener_;
  std::unique_ptr<SerialPort> port_ = MakeSerialPort(loop_, listener_);
};

TEST_F(Win32SerialPortTest, PortNumbersStandForComDevices) {
  EXPECT_EQ(DefaultDevicePath(1), "\\\\.\\COM1");
  EXPECT_EQ(DefaultDevicePath(4), "\\\\.\\COM4");
}

TEST_F(Win32SerialPortTest, LineSettingsAreCheckedBeforeAnythingIsOpened) {
  port_->SetCommPort(2, "");
  for (const char* good :
       {"9600,N,8,1", "9600,n,8,1", "19200,E,7,2", "1200,O,8,1.5", "300,M,5,1"}) {
    EXPECT_NO_THROW(port_->SetSettings(good)) << good;
  }
  for (const char* bad : {"", "9600", "9600,N,8", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3",
                          "0,N,8,1", "abc,N,8,1", "9600,N,8,1,", "99999999,N,8,1"}) {
    try {
      port_->SetSettings(bad);
      ADD_FAILURE() << "accepted \"" << bad << "\"";
    } catch (const SerialError& e) {
      EXPECT_EQ(e.device(), "\\\\.\\COM2") << bad;
      EXPECT_NE(e.reason().find(bad), std::string::npos) << e.reason();
    }
  }
  EXPECT_FALSE(port_->PortOpen());
}

TEST_F(Win32SerialPortTest, MissingPortSaysWhichDeviceAndWhyInTheSystemsWords) {
  const SerialError e = OpenFails("\\\\.\\COM249");
  EXPECT_EQ(e.device(), "\\\\.\\COM249");
  EXPECT_TRUE(e.systemError() == ERROR_FILE_NOT_FOUND || e.systemError() == ERROR_PATH_NOT_FOUND)
      << e.systemError();
  EXPECT_EQ(e.reason(), SystemMessage(e.systemError()));
  EXPECT_FALSE(e.reason().empty());
}

TEST_F(Win32SerialPortTest, DevicesThatAreNoSerialPortAreRefused) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                     ("zelmo-port-" + std::to_string(std::random_device()()));
  std::ofstream(file) << "not a port";
  for (const std::string& device : {std::string("NUL"), file.string()}) {
    const SerialError e = OpenFails(device);
    EXPECT_EQ(e.device(), device);
    EXPECT_EQ(e.reason().rfind("not a serial port (", 0), 0u) << e.reason();
  }
  std::filesystem::remove(file);
}

// The lock is taken before the device is opened: a port another program holds is in use, whatever
// the device would have said, and is not opened.
TEST_F(Win32SerialPortTest, PortAnotherProgramHoldsIsInUse) {
  const std::string device = "\\\\.\\COM248";
  std::promise<void> taken, letGo;
  std::thread other([&] {
    PortLock lock;
    EXPECT_EQ(lock.Take("COM248"), static_cast<DWORD>(ERROR_SUCCESS));
    taken.set_value();
    letGo.get_future().wait();
  });
  taken.get_future().wait();
  const SerialError e = OpenFails(device);
  EXPECT_EQ(e.device(), device);
  EXPECT_EQ(e.reason(), "in use by another program");
  letGo.set_value();
  other.join();
  // Let go, the port is free again: the device itself answers now.
  const SerialError free = OpenFails(device);
  EXPECT_EQ(free.reason(), SystemMessage(free.systemError()));
  EXPECT_NE(free.systemError(), ERROR_SHARING_VIOLATION);
}

TEST_F(Win32SerialPortTest, ClosedPortSendsNothingAndHasNothing) {
  Configure("\\\\.\\COM249");
  EXPECT_NO_THROW(port_->Output(""));
  EXPECT_THROW(port_->Output(std::string(1, kENQ)), SerialError);
  EXPECT_EQ(port_->Input(), "");
  EXPECT_NO_THROW(port_->SetPortOpen(false));
}

// The COM device the test run maps to a virtual register, or empty.
std::string MappedPort(const char* variable) {
  const char* device = std::getenv(variable);
  return device ? device : "";
}

TEST_F(Win32SerialPortTest, RepliesArriveAsReceiveEventsOnTheLoopsThread) {
  const std::string device = MappedPort("ZELMO_TEST_REGISTER_PORT");
  if (device.empty()) GTEST_SKIP() << "no virtual register mapped to a COM port";
  Configure(device);
  ASSERT_NO_THROW(port_->SetPortOpen(true));
  EXPECT_TRUE(port_->PortOpen());
  port_->Output(std::string(1, kENQ));
  ASSERT_TRUE(loop_.RunUntil([&] { return !listener_.received.empty(); }));
  EXPECT_EQ(listener_.received, std::string(1, kACK));
  EXPECT_EQ(listener_.events, std::vector<int16_t>{comEvReceive});
  for (auto id : listener_.threads) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_TRUE(listener_.failures.empty());

  // Closed, the port reports nothing more, even what was on its way.
  port_->Output(std::string(1, kENQ));
  port_->SetPortOpen(false);
  EXPECT_FALSE(port_->PortOpen());
  loop_.RunFor(300ms);
  EXPECT_EQ(listener_.events.size(), 1u);
}

// Whether another program could take the device's lock now.
bool LockIsFree(const std::string& device) {
  DWORD taken = ERROR_BUSY;
  std::thread other([&] {
    PortLock lock;
    taken = lock.Take(device);
  });
  other.join();
  return taken == ERROR_SUCCESS;
}

// The port's events (its stop event, the reader's and the writer's two) are the program's own: one
// the system refuses fails the opening as the program's failure, not as the port's or the line's,
// and leaves the port closed and free. Each opening has a register of its own.
TEST_F(Win32SerialPortTest, EventTheSystemRefusesAtOpeningIsTheProgramsFailure) {
  std::vector<std::string> devices;
  std::stringstream list(MappedPort("ZELMO_TEST_FAULT_PORTS"));
  for (std::string device; std::getline(list, device, ',');) devices.push_back(device);
  if (devices.size() < 4) GTEST_SKIP() << "no four virtual registers mapped to COM ports";
  for (int nth = 1; nth <= 4; ++nth) {
    const std::string& device = devices[nth - 1];
    SCOPED_TRACE(device);
    Configure(device);
    RefuseIoEventForTest(nth);
    try {
      port_->SetPortOpen(true);
      ADD_FAILURE() << "opened without its events";
    } catch (const SerialError& e) {
      ADD_FAILURE() << "reported as the port's failure: " << e.what();
    } catch (const ProgramResourceError& e) {
      EXPECT_EQ(std::string(e.what()), "CreateEventW: " + SystemMessage(ERROR_NOT_ENOUGH_MEMORY));
    }
    EXPECT_FALSE(port_->PortOpen());
    EXPECT_TRUE(LockIsFree(device));
  }
  RefuseIoEventForTest(0);
  loop_.RunFor(200ms);
  EXPECT_TRUE(listener_.failures.empty());
  EXPECT_TRUE(listener_.events.empty());
}

TEST_F(Win32SerialPortTest, LineThatHangsUpIsReportedOnce) {
  const std::string device = MappedPort("ZELMO_TEST_HANGUP_PORT");
  if (device.empty()) GTEST_SKIP() << "no hanging-up register mapped to a COM port";
  Configure(device);
  ASSERT_NO_THROW(port_->SetPortOpen(true));
  port_->Output(std::string(1, kENQ));
  ASSERT_TRUE(loop_.RunUntil([&] { return !listener_.received.empty(); }));
  // The register drops the line once it sees that its answer arrived.
  try {
    port_->Output(std::string(1, kENQ));
  } catch (const SerialError&) {
    // The drop may already show on the write; the reader reports it all the same.
  }
  ASSERT_TRUE(loop_.RunUntil([&] { return !listener_.failures.empty(); }));
  loop_.RunFor(300ms);
  ASSERT_EQ(listener_.failures.size(), 1u);
  EXPECT_FALSE(listener_.failures[0].empty());
  for (auto id : listener_.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

}  // namespace
}  // namespace zelmo
