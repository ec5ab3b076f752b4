#include "service/windows_service.h"

#include <gtest/gtest.h>

namespace zelmo::service {
namespace {

using Args = std::vector<std::string>;

TEST(ServiceCommand, OtherArgumentsAreNotItsToJudge) {
  EXPECT_FALSE(ParseServiceCommand({"zelmo"}));
  EXPECT_FALSE(ParseServiceCommand({"zelmo", "--console", "--dir", "/srv/till"}));
}

TEST(ServiceCommand, ActionsAndFolder) {
  struct Case {
    Args args;
    ServiceAction action;
    const char* folder;
  };
  const Case cases[] = {
      {{"zelmo", "--service", "install"}, ServiceAction::kInstall, ""},
      {{"zelmo", "--service", "uninstall"}, ServiceAction::kUninstall, ""},
      {{"zelmo", "--service", "run", "--dir", "C:\\Shop\\Till"},
       ServiceAction::kRun,
       "C:\\Shop\\Till"},
      {{"zelmo", "--dir", "D:\\Каса 1", "--service", "install"},
       ServiceAction::kInstall,
       "D:\\Каса 1"},
  };
  for (const Case& c : cases) {
    const auto parsed = ParseServiceCommand(c.args);
    ASSERT_TRUE(parsed) << c.args[1];
    const auto* command = std::get_if<ServiceCommand>(&*parsed);
    ASSERT_TRUE(command) << std::get<std::string>(*parsed);
    EXPECT_EQ(command->action, c.action) << c.args[2];
    EXPECT_EQ(command->folder, c.folder);
  }
}

TEST(ServiceCommand, WrongArgumentsAreSaidAndNamed) {
  struct Case {
    Args args;
    const char* says;
  };
  const Case cases[] = {
      {{"zelmo", "--service"}, "install, uninstall or run"},
      {{"zelmo", "--service", "start"}, "not 'start'"},
      {{"zelmo", "--service", "--dir", "C:\\Till"}, "not '--dir'"},
      {{"zelmo", "--service", "install", "--console"}, "'--console' does not go"},
      {{"zelmo", "--service", "install", "--dir"}, "'--dir' does not go"},
      {{"zelmo", "--service", "install", "--dir", ""}, "no folder"},
      {{"zelmo", "--service", "install", "--dir", "A", "--dir", "B"}, "'--dir' does not go"},
      {{"zelmo", "--service", "install", "--service", "run"}, "'--service' does not go"},
      {{"zelmo", "--dir", "C:\\Till"}, nullptr},  // not a service command at all
  };
  for (const Case& c : cases) {
    const auto parsed = ParseServiceCommand(c.args);
    if (!c.says) {
      EXPECT_FALSE(parsed);
      continue;
    }
    ASSERT_TRUE(parsed);
    const auto* problem = std::get_if<std::string>(&*parsed);
    ASSERT_TRUE(problem) << c.says;
    EXPECT_NE(problem->find(c.says), std::string::npos) << *problem;
  }
}

// The service manager starts the service from this one line: a folder with spaces, a trailing
// backslash (a drive's root) or a quote must come back whole.
TEST(ServiceCommand, QuotedAsWindowsReadsThem) {
  struct Case {
    const char* arg;
    const char* quoted;
  };
  const Case cases[] = {
      {"C:\\Zelmo", "C:\\Zelmo"},
      {"C:\\Program Files\\Zelmo", "\"C:\\Program Files\\Zelmo\""},
      {"D:\\", "D:\\"},
      {"D:\\My Till\\", "\"D:\\My Till\\\\\""},
      {"a\\\"b c", "\"a\\\\\\\"b c\""},
      {"", "\"\""},
      {"tab\there", "\"tab\there\""},
  };
  for (const Case& c : cases) EXPECT_EQ(QuoteArgument(c.arg), c.quoted) << c.arg;
  EXPECT_EQ(ServiceCommandLine("C:\\Program Files\\Zelmo\\zelmo.exe", "C:\\Shop Till"),
            "\"C:\\Program Files\\Zelmo\\zelmo.exe\" --service run --dir \"C:\\Shop Till\"");
}

}  // namespace
}  // namespace zelmo::service
