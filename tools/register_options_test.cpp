#include "register_options.h"

#include <gtest/gtest.h>

namespace zelmo::sim {
namespace {

TEST(RegisterOptions, NoOptionsMeansAFaultlessPseudoTerminal) {
  const Options o = ParseOptions({});
  EXPECT_EQ(o.device, "");
  EXPECT_EQ(o.baud, 0);
  EXPECT_TRUE(o.faults.nak.empty());
  EXPECT_FALSE(o.faults.eotForAck);
  EXPECT_EQ(o.faults.silentAfter, -1);
  EXPECT_EQ(o.faults.hangUpAfter, 0);
}

TEST(RegisterOptions, EveryOptionInBothSpellings) {
  const Options o = ParseOptions({"--link", "/tmp/zr", "--record=/tmp/rec", "--baud", "9600",
                                  "--timeout=2.5", "-v", "--nak", "3", "--nak=5", "--eot-for-ack",
                                  "--silent-after", "7", "--garbage", "2:0x41", "--garbage=4:ff",
                                  "--burst", "1:16", "--hangup-after=9"});
  EXPECT_EQ(o.link, "/tmp/zr");
  EXPECT_EQ(o.record, "/tmp/rec");
  EXPECT_EQ(o.baud, 9600);
  EXPECT_DOUBLE_EQ(o.timeoutSeconds, 2.5);
  EXPECT_TRUE(o.verbose);
  EXPECT_EQ(o.faults.nak, (std::set<int>{3, 5}));
  EXPECT_TRUE(o.faults.eotForAck);
  EXPECT_EQ(o.faults.silentAfter, 7);
  EXPECT_EQ(o.faults.garbage, (std::map<int, char>{{2, 'A'}, {4, '\xFF'}}));
  EXPECT_EQ(o.faults.burst, (std::map<int, int>{{1, 16}}));
  EXPECT_EQ(o.faults.hangUpAfter, 9);
  EXPECT_FALSE(o.help);

  EXPECT_EQ(ParseOptions({"--device", "/dev/ttyUSB0"}).device, "/dev/ttyUSB0");
  const Options vm = ParseOptions(
      {"--socket", "/tmp/vm.sock", "--telnet", "--break-before", "3", "--break-before=5"});
  EXPECT_EQ(vm.socket, "/tmp/vm.sock");
  EXPECT_TRUE(vm.telnet);
  EXPECT_EQ(vm.breakBefore, (std::set<int>{3, 5}));
  EXPECT_EQ(ParseOptions({"--stop-after", "4"}).stopAfter, 4);
  EXPECT_TRUE(ParseOptions({"--help"}).help);
}

TEST(RegisterOptions, WrongCommandLinesAreRefused) {
  const std::vector<std::vector<std::string>> wrong = {
      {"--frobnicate"},
      {"device"},
      {"--nak"},
      {"--nak", "0"},
      {"--nak", "x"},
      {"--nak", "3x"},
      {"--garbage", "3"},
      {"--garbage", "3:GG"},
      {"--garbage", "3:100"},
      {"--garbage", ":41"},
      {"--burst", "2:0"},
      {"--baud", "0"},
      {"--timeout", "-1"},
      {"--timeout", "soon"},
      {"--eot-for-ack=1"},
      {"--device", "/dev/ttyS1", "--link", "/tmp/x"},
      {"--socket", "/tmp/s", "--link", "/tmp/x"},
      {"--socket", "/tmp/s", "--device", "/dev/ttyS1"},
      {"--telnet"},
      {"--break-before", "2"},                          // a pseudo-terminal carries no break
      {"--socket", "/tmp/s", "--break-before", "2"},    // nor does a plain socket
      {"--device", "/dev/ttyS1", "--stop-after", "2"},  // the stop is the pseudo-terminal's
  };
  for (const auto& args : wrong) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_THROW(ParseOptions(args), UsageError);
  }
}

}  // namespace
}  // namespace zelmo::sim
