#include "core/log.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

// The store is process-wide and other tests of the binary may have logged a
// few lines before this one runs: each step checks what it added.
TEST(RunningLog, StoresTheLast300LinesTrimmed) {
  const std::string before = ReadLog();
  LogLine("\n");
  EXPECT_EQ(ReadLog(), before + "\n") << "a lone line break stores an empty line";

  LogLine("first\nsecond\n");
  LogLine("ends in crlf\r\n");
  EXPECT_EQ(ReadLog(), before + "\nfirst\nsecond\nends in crlf\n");

  std::string big(5000, 'x');
  testing::internal::CaptureStdout();
  LogLine("%s", big.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), big.substr(0, 2047));
  EXPECT_EQ(ReadLog().substr(ReadLog().size() - 2048), big.substr(0, 2047) + "\n");

  testing::internal::CaptureStdout();
  for (int i = 1; i <= 301; ++i) LogLine("line %d\n", i);
  testing::internal::GetCapturedStdout();
  std::string log = ReadLog();
  EXPECT_EQ(log.rfind("line 2\n", 0), 0u) << log.substr(0, 40);
  EXPECT_EQ(log.substr(log.size() - 9), "line 301\n");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 300);
}

}  // namespace
}  // namespace lcx
