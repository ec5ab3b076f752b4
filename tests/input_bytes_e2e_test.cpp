// What a receipt and a settings file may hold, end to end: the real bridge against the virtual
// register.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "e2e_common.h"
#include "harness.h"

namespace e2e {
namespace {

// A byte below 20h in a name would cut its frame on the line; the receipt is refused before
// anything is sent, kept, and the operator told which line holds what.
TEST(ReceiptBytes, AControlByteRefusesTheReceiptNamingItsLine) {
  struct Case {
    std::string receipt;
    std::string message;
  } cases[] = {
      {"Bread;1;A;30\r\nSug\x03"
       "ar;2;A;12.50\r\n",
       "контролен знак 03h во редот 2."},
      {"Bread\t1kg;1;A;30\r\n", "контролен знак 09h во редот 1."},
      {"Bread;1;A;30\r\nMilk;1;A;2\r\nTea\rCoffee;1;A;3\r\n", "контролен знак 0Dh во редот 3."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Scratch scratch;
    Register reg(scratch);
    scratch.Config(reg.device(), kHiddenClear);
    scratch.Write("smetka.txt", c.receipt);

    const Finished run = RunZelmo(scratch);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_TRUE(Has(run.err, "Zelmo\nСметката не може да се испечати: " + c.message + "\n"))
        << run.err;
    EXPECT_TRUE(Has(run.err, "Zelmo\nNemoze da se napolni.\n")) << run.err;
    EXPECT_EQ(scratch.Read("smetka.txt"), c.receipt);
    reg.process().Signal(SIGTERM);
    reg.Wait();
    EXPECT_EQ(reg.Received(), "");
  }
}

// Every byte from 20h to FFh but the delimiter may stand in a name, and goes out as it is.
TEST(ReceiptBytes, EveryByteFromSpaceUpGoesIntoTheFrames) {
  std::string bytes;
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b != ';') bytes += static_cast<char>(b);
  }
  std::string receipt;
  std::vector<std::string> names;
  for (std::size_t at = 0; at < bytes.size(); at += 18) {
    names.push_back(bytes.substr(at, 18));
    receipt += names.back() + ";1;A;1\r\n";
  }
  HiddenJob job({}, receipt);

  const Finished run = RunZelmo(job.scratch);
  job.reg.Wait();
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string received = job.reg.Received();
  for (const std::string& name : names) {
    EXPECT_TRUE(Has(received,
                    "\x02"
                    "Dq1" +
                        name))
        << name;
  }
  EXPECT_FALSE(job.scratch.Exists("smetka.txt"));
}

// UTF-16 LE with its byte order mark, as Notepad saves "Unicode".
std::string Utf16(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

// A settings file saved as "Unicode" is read as any other, and the port number put right is
// written back into it in UTF-16.
TEST(SettingsBytes, AUnicodeSettingsFileRunsTheJobAndStaysUnicode) {
  Scratch scratch;
  Register reg(scratch);
  const std::string settings =
      "[Parametri]\r\nSeriska=7\r\nPrikaziForma=0\r\nDelimiter=;\r\n"
      "Clear=1\r\n[Ports]\r\nCOM1=" +
      reg.device() + "\r\n";
  scratch.Write("Zelmocfg.ini", Utf16(settings));
  scratch.Write("smetka.txt", "Bread;1;A;30\r\n");

  const Finished run = RunZelmo(scratch);
  reg.Wait();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Has(reg.Received(),
                  "\x02"
                  "Dq1Bread"))
      << reg.Received();
  EXPECT_FALSE(scratch.Exists("smetka.txt"));
  std::string corrected = settings;
  corrected.replace(corrected.find("Seriska=7"), 9, "Seriska=1");
  EXPECT_EQ(scratch.Read("Zelmocfg.ini"), Utf16(corrected));
}

}  // namespace
}  // namespace e2e
