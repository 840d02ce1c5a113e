// The statement "Extract 7Zip Archive".
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "media/media_work.h"
#include "media_fixture.h"

namespace kem::test {
namespace {

using Files = std::vector<std::string>;

class ArchiveStatementTest : public MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    files.AddFile("C:\\in\\pack.7z", "archive");
    archives.archives["C:\\in\\pack.7z"] = {"secret", {{"top.txt", "t"}, {"dir\\inner.txt", "inner"}}};
  }
  void Extract(const std::string& archive, const std::string& password, const std::string& result = "RESULT",
               const std::string& overwrite = "TRUE", const std::string& arrangement = "TRUE") {
    script.Add("Set Variable", {"IN", "C:\\in"});
    script.Add("Set Variable", {"PW", password});
    script.Add("Extract 7Zip Archive", {archive, "$IN$\\\\out", result, "$PW$", overwrite, arrangement});
    script.Add("Mark", {"after"});
    Run();
  }
};

TEST_F(ArchiveStatementTest, ResultIsSuccessOrTheFailureText) {
  struct Case {
    const char* archive;
    const char* password;
    const char* result;
    Files written;
  } cases[] = {
      {"$IN$\\pack.7z", "secret", "SUCCESS", {"dir\\inner.txt", "top.txt"}},
      {"$IN$\\pack.7z", "wrong", "The archive cannot be opened: unsupported archive or incorrect password", {}},
      {"$IN$\\missing.7z", "", "The archive file was not found", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.archive + std::string(" ") + c.password);
    NewScript();
    files.files.erase("C:\\in\\out\\top.txt");
    files.files.erase("C:\\in\\out\\dir\\inner.txt");
    Extract(c.archive, c.password);
    EXPECT_EQ(GetVar("RESULT"), c.result);
    EXPECT_EQ(files.FilesUnder("C:\\in\\out\\"), c.written);
    // A bad archive is no statement failure: the script goes on.
    EXPECT_EQ(marks, Files{"after"});
    EXPECT_TRUE(Failure().empty()) << Failure();
    // The destination exists even when nothing could be unpacked into it.
    EXPECT_TRUE(files.FolderExists("C:\\in\\out\\"));
  }
}

TEST_F(ArchiveStatementTest, ParametersReachTheExtractionAsGiven) {
  Extract("$IN$\\pack.7z", "secret", "", "no", "false");
  ASSERT_EQ(archives.calls.size(), 1u);
  EXPECT_EQ(archives.calls[0], "C:\\in\\pack.7z|secret|C:\\in\\out\\|0|0");
  // Without folders every entry lands in the destination itself.
  EXPECT_EQ(files.FilesUnder("C:\\in\\out\\"), (Files{"inner.txt", "top.txt"}));
  // No result variable named: none is made.
  EXPECT_FALSE(VarExists("RESULT"));
  EXPECT_FALSE(VarExists(""));
}

TEST_F(ArchiveStatementTest, ProgressShowsTheEntryAndPercentOfSixtyFourBitTotals) {
  struct Case {
    std::uint64_t total;
    const char* lastText;
  } cases[] = {
      // the entries' own sizes; done equal to the total gives 101 by the formula, shown as 100
      {0, "inner.txt, 100% complete"},
      // 6 GiB: 32-bit arithmetic would overflow
      {6ull << 30, "inner.txt, 100% complete"},
  };
  for (const auto& c : cases) {
    NewScript();
    archives.reportedTotal = c.total;
    std::vector<std::string> seen;
    archives.afterEntry = [&](int) { seen.push_back(GetVar("VRAX_thProgressText") + "@" + GetVar("VRAX_thProgress")); };
    Extract("$IN$\\pack.7z", "secret");
    EXPECT_EQ(GetVar("VRAX_thProgressText"), c.lastText);
    EXPECT_EQ(GetVar("VRAX_thProgress"), "100");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "top.txt, 1% complete@1");
  }
}

TEST(ProgressPercent, CappedAtOneHundredWithoutOverflowOrDivisionByZero) {
  struct Case {
    std::uint64_t done, total;
    std::int64_t percent;
  } cases[] = {
      {0, 10, 1},   {5, 10, 51},  {10, 10, 100}, {11, 10, 100}, {0, 0, 100},
      // past 4 GiB and past 2^57 bytes: done * 100 must neither wrap in 32 nor in 64 bits
      {3ull << 32, 6ull << 32, 51}, {(1ull << 62) - 1, 1ull << 62, 100}, {1ull << 61, 1ull << 62, 51},
  };
  for (const auto& c : cases) EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

TEST_F(ArchiveStatementTest, CancelStopsTheExtractionAndFollowsTheAbortSwitches) {
  archives.archives["C:\\in\\pack.7z"].Entries.push_back({"late.txt", "l"});
  for (bool abortOnError : {false, true}) {
    SCOPED_TRACE(abortOnError ? "ABORTONERROR" : "carry on");
    NewScript();
    files.Reset();
    files.AddFile("C:\\in\\pack.7z", "archive");
    ctx.Vars.Set("VRAX_IsCancelled", "FALSE");
    ctx.Vars.Set("ABORTEDONERROR", "FALSE");
    archives.afterEntry = [this](int n) {
      if (n != 1) return;
      ctx.Vars.Set("VRAX_IsCancelled", "TRUE");
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    };
    script.Add("Set Variable", {"ABORTONERROR", abortOnError ? "TRUE" : "FALSE"});
    Extract("$IN$\\pack.7z", "secret");
    EXPECT_EQ(GetVar("RESULT"), "#1006");
    EXPECT_TRUE(ShowedCancelled());
    EXPECT_FALSE(files.FileExists("C:\\in\\out\\late.txt"));
    if (abortOnError) {
      EXPECT_TRUE(marks.empty());
    } else {
      EXPECT_EQ(marks, Files{"after"});
      EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
    }
  }
}

TEST_F(ArchiveStatementTest, RedirectionIsSwitchedOnTheExtractingThreadInSixtyFourBitMode) {
  for (const char* mode : {"x64", "Win32"}) {
    SCOPED_TRACE(mode);
    NewScript();
    files.log.clear();
    files.redirectionThreads.clear();
    archives.threads.clear();
    script.Add("Set 64 Bit Mode", {mode});
    Extract("$IN$\\pack.7z", "secret");
    if (std::string(mode) == "x64") {
      ASSERT_EQ(files.redirectionThreads.size(), 2u);
      ASSERT_EQ(archives.threads.size(), 1u);
      EXPECT_EQ(files.redirectionThreads[0], archives.threads[0]);
      EXPECT_NE(archives.threads[0], std::this_thread::get_id());
    } else {
      EXPECT_TRUE(files.redirectionThreads.empty());
    }
  }
}

}  // namespace
}  // namespace kem::test
