// The optional keys of [Parametri] on the real program: the line it sets up, and a value it
// refuses before anything is sent.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "harness.h"

namespace e2e {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The line settings on `device` once they are `speed` (zelmo has opened the port), or nothing.
std::optional<termios> LineOnceAt(const std::string& device, speed_t speed) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    const bool read = fd >= 0 && tcgetattr(fd, &tio) == 0;
    if (fd >= 0) close(fd);
    if (read && cfgetospeed(&tio) == speed) return tio;
    std::this_thread::sleep_for(20ms);
  }
  return std::nullopt;
}

TEST(Keys, TheLineIsSetUpAsTheSettingsKeysSay) {
  Scratch scratch;
  Register reg(scratch);
  scratch.Config(reg.device(),
                 "Seriska=1\r\nPrikaziForma=1\r\nSettings=19200,e,7,2\r\nHandshaking=0\r\n");
  Process zelmo({ZelmoBin(), "--console", "--dir", scratch.dir().string()}, "", false);
  const auto tio = LineOnceAt(reg.device(), B19200);
  zelmo.CloseInput();  // the end of input closes the waiting window
  const Finished run = zelmo.Wait();
  ASSERT_TRUE(tio) << run.err;
  EXPECT_NE(tio->c_cflag & CSTOPB, 0u);
  EXPECT_EQ(tio->c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(run.status, 8) << run.err;
}

TEST(Keys, AValueThatIsNotValidEndsTheRunBeforeAnythingIsSent) {
  struct Case {
    const char* line;
    const char* named;
  };
  const Case cases[] = {
      {"Settings=9600,x,8,1", "Settings=\"9600,x,8,1\""},
      {"Handshaking=1", "Handshaking=\"1\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Scratch scratch;
    Register reg(scratch);
    scratch.Config(reg.device(), "Seriska=1\r\nPrikaziForma=0\r\n" + std::string(c.line) + "\r\n");
    scratch.Write("smetka.txt", "Bread;1;A;30\r\n");
    const Finished run = RunZelmo(scratch);
    EXPECT_EQ(run.status, 6);
    EXPECT_TRUE(Has(run.err, "Грешка во ini Фајлот.")) << run.err;
    EXPECT_TRUE(Has(run.err, c.named)) << run.err;
    EXPECT_EQ(reg.Received(), "");
    EXPECT_TRUE(scratch.Exists("smetka.txt"));
  }
}

}  // namespace
}  // namespace e2e
