#include "device/line_settings.h"

#include <gtest/gtest.h>

namespace zelmo {
namespace {

TEST(LineSettings, TheTextNamesTheLine) {
  struct Case {
    const char* text;
    unsigned long baud;
    Parity parity;
    int dataBits;
    StopBits stopBits;
  };
  const Case cases[] = {
      {"9600,N,8,1", 9600, Parity::kNone, 8, StopBits::kOne},
      {"19200,e,7,2", 19200, Parity::kEven, 7, StopBits::kTwo},
      {"1200,O,8,1.5", 1200, Parity::kOdd, 8, StopBits::kOneAndHalf},
      {"115200,m,8,1", 115200, Parity::kMark, 8, StopBits::kOne},
      {"300,S,5,2", 300, Parity::kSpace, 5, StopBits::kTwo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto line = ParseLineSettings(c.text);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->baud, c.baud);
    EXPECT_EQ(line->parity, c.parity);
    EXPECT_EQ(line->dataBits, c.dataBits);
    EXPECT_EQ(line->stopBits, c.stopBits);
  }
  for (const char* bad : {"", "9600", "9600,N,8", "9600,N,8,1,", "0,N,8,1", "12345678,N,8,1",
                          "9600,X,8,1", "9600,NN,8,1", "9600,N,3,1", "9600,N,9,1", "9600,N,8,3",
                          " 9600,N,8,1", "-1,N,8,1"}) {
    EXPECT_FALSE(ParseLineSettings(bad)) << bad;
  }
}

TEST(LineSettings, TheConfigurationTakesOnlyTheUsualLines) {
  for (const char* good : {"1200,n,8,1", "2400,e,7,1", "4800,o,8,2", "9600,m,7,2",
                           "19200,s,8,1", "38400,N,8,1", "57600,E,8,1", "115200,O,7,1"}) {
    EXPECT_TRUE(ParseConfiguredSettings(good)) << good;
  }
  for (const char* bad : {"600,n,8,1", "14400,n,8,1", "230400,n,8,1", "9600,n,6,1",
                          "9600,n,5,1", "9600,n,8,1.5", "9600;n;8;1", "9600,n,8"}) {
    EXPECT_FALSE(ParseConfiguredSettings(bad)) << bad;
  }
}

}  // namespace
}  // namespace zelmo
