#include "app/run_options.h"

#include <gtest/gtest.h>

#include <map>

namespace zelmo {
namespace {

std::optional<std::string> Read(const std::map<std::string, std::string>& keys, JobState& state) {
  return ReadRunOptions(
      [&keys](const char* key) {
        const auto it = keys.find(key);
        return it == keys.end() ? std::string() : it->second;
      },
      state);
}

TEST(RunOptions, WithoutTheKeysTheLineIsAsItAlwaysWas) {
  JobState state;
  EXPECT_FALSE(Read({}, state));
  EXPECT_EQ(state.sLineSettings, "9600,N,8,1");
  EXPECT_EQ(state.iHandshaking, 2);
}

TEST(RunOptions, ValidKeysAreTaken) {
  JobState state;
  EXPECT_FALSE(Read({{"Settings", "19200,e,7,2"}, {"Handshaking", "0"}}, state));
  EXPECT_EQ(state.sLineSettings, "19200,e,7,2");
  EXPECT_EQ(state.iHandshaking, 0);
  EXPECT_FALSE(Read({{"Handshaking", "2"}}, state));
  EXPECT_EQ(state.iHandshaking, 2);
}

TEST(RunOptions, AnInvalidValueIsNamedWithWhatTheKeyMayHold) {
  struct Case {
    const char* key;
    const char* value;
    const char* allowed;  // part of what the message must say the key may hold
  };
  const Case cases[] = {
      {"Settings", "9600,x,8,1", "n, e, o, m или s"},
      {"Settings", "14400,n,8,1", "115200"},
      {"Settings", "9600,n,6,1", "7 или 8"},
      {"Handshaking", "1", "0 (без контрола на протокот) или 2 (RTS/CTS)"},
      {"Handshaking", "RTS", "RTS/CTS"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    JobState state;
    const auto problem = Read({{c.key, c.value}}, state);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->rfind(std::string(c.key) + "=\"" + c.value + "\"", 0), 0u) << *problem;
    EXPECT_NE(problem->find(c.allowed), std::string::npos) << *problem;
    EXPECT_EQ(state.sLineSettings, "9600,N,8,1");
  }
}

}  // namespace
}  // namespace zelmo
