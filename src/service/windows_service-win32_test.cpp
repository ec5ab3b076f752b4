#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include "service/windows_service.h"
#include "sys/wide-win32.h"

namespace zelmo::service {
namespace {

// Windows' own parser reads the service's command line back into the arguments it was made of.
TEST(ServiceCommandWin32, TheCommandLineReadsBackWhole) {
  const char* folders[] = {"C:\\Zelmo", "C:\\", "D:\\My Till\\", "C:\\Каса \"1\"\\\\", "E:\\a b"};
  for (const char* folder : folders) {
    const std::string line = ServiceCommandLine("C:\\Program Files\\Zelmo\\zelmo.exe", folder);
    int count = 0;
    wchar_t** args = CommandLineToArgvW(Utf8ToWide(line).c_str(), &count);
    ASSERT_TRUE(args);
    ASSERT_EQ(count, 5) << line;
    EXPECT_EQ(WideToUtf8(args[0]), "C:\\Program Files\\Zelmo\\zelmo.exe");
    EXPECT_EQ(WideToUtf8(args[3]), "--dir");
    EXPECT_EQ(WideToUtf8(args[4]), folder) << line;
    LocalFree(args);
  }
}

}  // namespace
}  // namespace zelmo::service
