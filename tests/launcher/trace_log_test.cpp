#include "engine/trace_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace kem {
namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

TEST(TraceLog, Utf16WithoutBomTruncatesOnFirstWriteThenAppends) {
  const std::string path = ::testing::TempDir() + "kem_trace_test.log";
  {
    std::ofstream old(path, std::ios::binary);
    old << "old contents that must go";
  }
  TraceLog log;
  log.Write("nothing written while the path is empty");
  log.SetPath(path);
  ASSERT_TRUE(log.FirstWritePending());
  log.Write("<Vantrel>");
  EXPECT_FALSE(log.FirstWritePending());
  log.Write("  <SetupSplash>\xE9");
  const std::string expected = std::string("<\0V\0a\0n\0t\0r\0e\0l\0>\0\r\0\n\0", 22) +
                               std::string(" \0 \0<\0S\0e\0t\0u\0p\0S\0p\0l\0a\0s\0h\0>\0\xE9\0\r\0\n\0", 36);
  EXPECT_EQ(ReadAll(path), expected);
  // A second log (a second run in the same process) truncates again on its first write.
  TraceLog second;
  second.SetPath(path);
  second.SetConverter([](std::string_view text) { return std::u16string(text.size(), u'\x3042'); });
  second.Write("ab");
  EXPECT_EQ(ReadAll(path), std::string("\x42\x30\x42\x30\r\0\n\0", 8));
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kem
