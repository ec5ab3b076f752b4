// The port's lock: one name per device however it is spelt, one holder at a time across threads
// (and so across programs), and a holder that died leaves it free.
#include "device/serial_lock-win32.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

namespace zelmo {
namespace {

TEST(PortLockTest, OneNamePerDeviceWithNoBackslashButTheNamespaces) {
  struct Case {
    const char* device;
    const wchar_t* name;
  };
  const Case cases[] = {
      {"COM1", L"Global\\zelmo.port.COM1"},
      {"\\\\.\\COM1", L"Global\\zelmo.port.COM1"},
      {"com1:", L"Global\\zelmo.port.COM1"},
      {"\\\\.\\COM10", L"Global\\zelmo.port.COM10"},
      {"\\\\.\\com10", L"Global\\zelmo.port.COM10"},
      {"\\\\?\\COM10", L"Global\\zelmo.port.COM10"},
      // Ports mapped in the settings: a virtual port's device, a path with folders.
      {"\\\\.\\CNCA0", L"Global\\zelmo.port.CNCA0"},
      {"\\\\?\\FTDIBUS#VID_0403\\0000", L"Global\\zelmo.port.FTDIBUS#VID_0403/0000"},
      {"\\\\.\\Каса", L"Global\\zelmo.port.Каса"},
  };
  for (const auto& c : cases) EXPECT_EQ(PortLockName(c.device), c.name) << c.device;
  EXPECT_NE(PortLockName("COM1"), PortLockName("COM10"));
}

// Takes a device's lock on a thread of its own and holds it until told to let go, or until the
// thread ends without letting go (as a program that died would).
class Holder {
 public:
  Holder(std::string device, bool release) {
    thread_ = std::thread([this, device, release] {
      taken_.set_value(lock_.Take(device));
      letGo_.get_future().wait();
      if (release) lock_.Release();
    });
  }
  DWORD Taken() { return taken_.get_future().get(); }
  void LetGo() {
    letGo_.set_value();
    thread_.join();
  }
  ~Holder() {
    if (thread_.joinable()) LetGo();
  }

 private:
  std::promise<DWORD> taken_;
  std::promise<void> letGo_;
  PortLock lock_;  // outlives the thread: the handle stays open after it ended
  std::thread thread_;
};

TEST(PortLockTest, OneHolderAtATime) {
  const std::string device = "\\\\.\\COM" + std::to_string(GetCurrentProcessId() % 1000 + 300);
  Holder other(device, true);
  ASSERT_EQ(other.Taken(), static_cast<DWORD>(ERROR_SUCCESS));
  PortLock lock;
  EXPECT_EQ(lock.Take(device), static_cast<DWORD>(ERROR_BUSY));
  EXPECT_FALSE(lock.held());
  // Another device is another lock.
  EXPECT_EQ(lock.Take(device + "1"), static_cast<DWORD>(ERROR_SUCCESS));
  other.LetGo();
  EXPECT_EQ(lock.Take(device), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(lock.held());
}

TEST(PortLockTest, HolderThatDiedLeavesItFree) {
  const std::string device = "\\\\.\\COM" + std::to_string(GetCurrentProcessId() % 1000 + 1300);
  Holder died(device, false);
  ASSERT_EQ(died.Taken(), static_cast<DWORD>(ERROR_SUCCESS));
  PortLock lock;
  EXPECT_EQ(lock.Take(device), static_cast<DWORD>(ERROR_BUSY));
  died.LetGo();  // the thread ends holding it: the lock is abandoned
  EXPECT_EQ(lock.Take(device), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
}  // namespace zelmo
