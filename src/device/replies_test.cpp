#include "device/replies.h"

#include <gtest/gtest.h>

#include <string>

namespace zelmo {
namespace {

struct ReplyCase {
  std::string wire;
  std::string line;
  bool advance;
};

TEST(ReplyTest, DecodesFirstByteOnly) {
  const ReplyCase cases[] = {
      {"\x06", "ACK", true},
      {"\x04", "EOT", true},
      {"\x06\x04", "ACK", true},  // two replies in one read count once
      {"\x04\x15", "EOT", true},
      {"\x02", "STX", false},
      {"\x03", "ETX", false},
      {"\x05", "ENQ", false},
      {"\x09", "WACK", false},
      {"\x15", "NAK", false},
      {"\x15\x06", "NAK", false},
      {"\x17", "ETB", false},
      {"\x21", "Wrong PLU base structure", false},
      {"\x40", "RVI", false},
      {"0", "KOD= 30-0", false},
      {"\n", "KOD= A-\n", false},
      {"\x10\x06xy", "KOD= 10-\x10\x06xy", false},
      {std::string(1, '\0'), std::string("KOD= 0-") + '\0', false},
      {"\x01", "KOD= 1-\x01", false},
      // the received text goes into the log as UTF-8
      {"\xFF\xCC\xEB", "KOD= FF-яМл", false},
      {"\x98", "KOD= 98-\xC2\x98", false},
  };
  for (const ReplyCase& c : cases) {
    const Reply reply = DecodeReplyBytes(c.wire);
    EXPECT_EQ(reply.line, c.line) << testing::PrintToString(c.wire);
    EXPECT_EQ(reply.advance, c.advance) << testing::PrintToString(c.wire);
  }
}

TEST(ReplyTest, EmptyReadReleasesNothing) {
  const Reply reply = DecodeReplyBytes("");
  EXPECT_FALSE(reply.advance);
  EXPECT_EQ(reply.line, "");
}

TEST(ReplyTest, OnlyAckAndEotAdvance) {
  for (int b = 0; b < 256; ++b) {
    const bool advance = DecodeReplyBytes(std::string(1, static_cast<char>(b))).advance;
    EXPECT_EQ(advance, b == 0x06 || b == 0x04) << b;
  }
}

TEST(SerialEventTest, LinesOfTheEventTable) {
  struct Case {
    int16_t event;
    int16_t sendPos;
    const char* line;
  };
  const Case cases[] = {
      {1, 9, "1 (Chars in send buffer)"},
      {3, 12, "3 (Change in the CTS line.)12"},
      {4, 0, "4 (Change in the DSR line.)0"},
      {4, -3, "4 (Change in the DSR line.)-3"},
      {5, 9, "5 (Change in the CD line.)"},
      {6, 9, "6 (Change in the Ring Indicator.)"},
      {1001, 9, "1001 (A Break was received.)"},
      {1002, 9, "1002 (CTS Timeout)"},
      {1003, 9, "1003 (DSR Timeout)"},
      {1004, 9, "1004 (Framing Error)"},
      {1006, 9, "1006 (Data Lost.)"},
      {1007, 9, "1007 (CD (RLSD) Timeout)"},
      {1008, 9, "1008 (Receive buffer overflow.)"},
      {1009, 9, "1009 (Parity Error.)"},
      {1010, 9, "1010 (Transmit buffer full.)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SerialEventLine(c.event, c.sendPos), std::optional<std::string>(c.line)) << c.event;
  }
}

TEST(SerialEventTest, NoLineForReceiveAndUnknownEvents) {
  for (int16_t event : {2, 7, 0, 8, 1000, 1005, 1011, -1, 32767}) {
    EXPECT_EQ(SerialEventLine(event, 5), std::nullopt) << event;
  }
}

TEST(OneLogLineTest, ControlBytesOfAReplyCannotBreakOrCutTheLine) {
  struct Case {
    std::string line, shown;
  } cases[] = {
      {"ACK", "ACK"},
      {"KOD= A-\n", "KOD= A-\\x0A"},
      {std::string("KOD= 0-\0after", 13), "KOD= 0-\\x00after"},
      {"KOD= D-\r\x1B[2J\x7F", "KOD= D-\\x0D\\x1B[2J\\x7F"},
      {"KOD= FF-я\tб", "KOD= FF-я\\x09б"},  // Cyrillic text stays as it is
      {"3 (Change in the CTS line.)12", "3 (Change in the CTS line.)12"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OneLogLine(c.line), c.shown);
  }
}

}  // namespace
}  // namespace zelmo
