// Unpacking a downloaded web media block and the retry loop around it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "media_fixture.h"

namespace kem::test {
namespace {

using Files = std::vector<std::string>;
constexpr const char* kArchive = "C:\\Cache\\data\\blockA.7zip";
constexpr const char* kGiveUp = "Unable to extract installation data downloaded from the web";

class WebBlockTest : public MediaTest {
 protected:
  void SetUp() override {
    MediaTest::SetUp();
    files.AddFile(kArchive, "archive");
    archives.archives[kArchive] = {"pw",
                                   {{"blockA\\app.exe", "exe"},
                                    {"blockA\\lib\\core.dll", "dll"},
                                    {"blockA\\docs\\readme.txt", "readme"}}};
    block.ArchivePath = kArchive;
    block.Password = "pw";
    block.DataFolder = "C:\\Cache\\data\\";
    block.BlockFolder = "C:\\Cache\\data\\blockA\\";
    // The file map sends app.exe to two places and core.dll to the system folder.
    mediaFileMap = {"BLOCKA", "app.exe",       "bin\\",    "blocka", "app.exe", "bin64\\",
                    "blockA", "lib\\core.dll", "sys\\",    "other",  "x.txt",   "nowhere\\"};
  }
  void Unpack() {
    script.Add("Unpack Block");
    script.Add("Mark", {"after"});
    Run();
  }
  std::string Marker() const { return "C:\\Cache\\data\\blockA\\{REV-1}"; }
};

TEST_F(WebBlockTest, DistributesTheFilesMarksTheBlockAndCleansUp) {
  for (bool localCopy : {false, true}) {
    SCOPED_TRACE(localCopy ? "local copy" : "downloaded");
    files.Reset();
    files.AddFile(kArchive, "archive");
    files.AddFile("C:\\Cache\\data\\bin\\app.exe", "old");
    files.readOnly.insert("C:\\Cache\\data\\bin\\app.exe");
    files.AddFile("C:\\Temp\\vrax\\someone-else.tmp", "theirs");
    NewScript();
    block.LocalCopy = localCopy;
    Unpack();
    ASSERT_EQ(unpacked, WebBlockUnpackResult::Unpacked) << Failure();
    EXPECT_EQ(files.files["C:\\Cache\\data\\bin\\app.exe"], "exe");
    EXPECT_EQ(files.files["C:\\Cache\\data\\bin64\\app.exe"], "exe");
    EXPECT_EQ(files.files["C:\\Cache\\data\\sys\\core.dll"], "dll");
    // What the map does not name stays in the block's own folder, with its sub-folders.
    EXPECT_EQ(files.FilesUnder("C:\\Cache\\data\\blockA\\"), (Files{"docs\\readme.txt", "{REV-1}"}));
    EXPECT_TRUE(files.FileExists(Marker()));
    EXPECT_EQ(files.FileExists(kArchive), localCopy);
    // The extraction went to a folder of its own below vrax\, gone afterwards; what others
    // keep in vrax\ stays.
    ASSERT_EQ(archives.calls.size(), 1u);
    EXPECT_EQ(archives.calls[0], std::string(kArchive) + "|pw|C:\\Temp\\vrax\\blk1\\|1|1");
    EXPECT_EQ(files.FilesUnder("C:\\Temp\\vrax\\"), Files{"someone-else.tmp"});
    EXPECT_FALSE(files.FolderExists("C:\\Temp\\vrax\\blk1\\"));
    archives.calls.clear();
  }
}

TEST_F(WebBlockTest, WrongPasswordIsTriedTenTimesBeforeTheQuestion) {
  block.Password = "bad";
  prompt.answers = {{ExtractRetryChoice::Extract}, {ExtractRetryChoice::Cancel}};
  // The taskbar shows the paused state while the question is up.
  std::vector<std::string> taskbar;
  hooks.Progress.PromptState = [&](bool on, bool error) {
    taskbar.push_back(std::string(on ? "paused" : "back") + (error ? " error" : ""));
  };
  prompt.onAsk = [&] { taskbar.push_back("asked"); };
  Unpack();
  // (then the failure box shows the error state)
  ASSERT_GE(taskbar.size(), 6u);
  taskbar.resize(6);
  EXPECT_EQ(taskbar, (Files{"paused", "asked", "back", "paused", "asked", "back"}));
  // Ten tries, the question, one more try (the count goes on), the question again.
  EXPECT_EQ(archives.calls.size(), 11u);
  EXPECT_EQ(prompt.texts, (Files{"Retry Extraction?", "Retry Extraction?"}));
  EXPECT_EQ(Failure().find(kGiveUp) != std::string::npos, true) << Failure();
  EXPECT_EQ(GetVar("VRAX_IsCancelled"), "TRUE");
  EXPECT_TRUE(marks.empty());
  EXPECT_FALSE(files.FileExists(Marker()));
  EXPECT_TRUE(files.FileExists(kArchive));
}

TEST_F(WebBlockTest, SilentRunGivesUpWithoutAsking) {
  files.files.erase(kArchive);
  Startup().SilentMode = true;
  script.Add("Set Variable", {"SILENT", "TRUE"});
  Unpack();
  EXPECT_TRUE(prompt.texts.empty());
  EXPECT_EQ(archives.calls.size(), 1u);
  EXPECT_EQ(GetVar("VRAX_IsCancelled"), "TRUE");
  EXPECT_FALSE(unpacked.has_value());
}

TEST_F(WebBlockTest, DownloadAgainDropsTheArchiveOrRejectsTheLocalCopy) {
  for (bool localCopy : {false, true}) {
    SCOPED_TRACE(localCopy ? "local copy" : "downloaded");
    files.Reset();
    files.AddFile(kArchive, "archive");
    state = MediaRunState();
    NewScript();
    block.LocalCopy = localCopy;
    archives.archives[kArchive].Password = "other";
    prompt.answers = {{ExtractRetryChoice::Download}};
    Unpack();
    EXPECT_EQ(unpacked, WebBlockUnpackResult::DownloadAgain);
    EXPECT_EQ(files.FileExists(kArchive), localCopy);
    EXPECT_EQ(LocalCopyRejected(media, "c:\\cache\\DATA\\blocka.7zip"), localCopy);
    EXPECT_EQ(marks, Files{"after"});
  }
}

TEST_F(WebBlockTest, UnansweredQuestionsGiveUpAfterTenInARow) {
  files.files.erase(kArchive);
  // Nine unanswered retries, then one the user chose: the count starts again.
  for (int i = 0; i < 9; ++i) prompt.answers.push_back({ExtractRetryChoice::Download, true});
  prompt.answers.push_back({ExtractRetryChoice::Download, false});
  for (int i = 0; i < 10; ++i) prompt.answers.push_back({ExtractRetryChoice::Download, true});
  int downloads = 0;
  for (int round = 0; round < 25 && !Failure().size(); ++round) {
    NewScript();
    unpacked.reset();
    Unpack();
    if (unpacked == WebBlockUnpackResult::DownloadAgain) ++downloads;
  }
  EXPECT_EQ(downloads, 19);
  EXPECT_NE(Failure().find(kGiveUp), std::string::npos);
  EXPECT_EQ(GetVar("VRAX_IsCancelled"), "TRUE");
}

TEST_F(WebBlockTest, CancelDuringExtractionGivesUpAtOnce) {
  archives.afterEntry = [this](int n) {
    if (n != 1) return;
    ctx.Vars.Set("VRAX_IsCancelled", "TRUE");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  };
  Unpack();
  EXPECT_TRUE(prompt.texts.empty());
  EXPECT_NE(Failure().find(kGiveUp), std::string::npos);
  EXPECT_FALSE(files.FileExists(Marker()));
  EXPECT_TRUE(files.FilesUnder("C:\\Cache\\data\\blockA\\").empty());
  EXPECT_TRUE(files.FilesUnder("C:\\Temp\\vrax\\").empty());
}

// Links in the data folder, also those the file system shows as plain files or folders,
// are never written through: the unpack fails and what they lead to keeps its bytes.
TEST_F(WebBlockTest, NeverWritesThroughLinksInTheDataFolder) {
  struct Case {
    const char* name;
    std::string link;      // the link's place (a folder ends with a backslash)
    std::string precious;  // a file reached through it
    bool marked;           // a link the system marks, rather than one shown as plain
  } cases[] = {
      {"file link at a mapped target", "C:\\Cache\\data\\bin\\app.exe", "C:\\Cache\\data\\bin\\app.exe", false},
      {"folder link on a mapped target's way", "C:\\Cache\\data\\sys\\", "C:\\Cache\\data\\sys\\core.dll", false},
      {"folder link in the block's folder", "C:\\Cache\\data\\blockA\\docs\\",
       "C:\\Cache\\data\\blockA\\docs\\readme.txt", false},
      {"marked folder link on a mapped target's way", "C:\\Cache\\data\\sys\\", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    files.Reset();
    NewScript();
    files.AddFile(kArchive, "archive");
    if (!c.precious.empty()) files.AddFile(c.precious, "precious");
    if (c.link.back() == '\\') files.folders.insert(c.link);
    (c.marked ? files.links : files.foreign).insert(c.link);
    Startup().SilentMode = true;
    script.Add("Set Variable", {"SILENT", "TRUE"});
    Unpack();
    EXPECT_FALSE(unpacked.has_value());
    // A silent run shows no box: it gives up as after a cancel.
    EXPECT_EQ(GetVar("VRAX_IsCancelled"), "TRUE");
    if (!c.precious.empty()) EXPECT_EQ(files.files[c.precious], "precious");
    EXPECT_FALSE(files.FileExists(Marker()));
  }
}

// A distribution that fails half-way keeps the archive, so that extracting again can
// succeed; the half-filled block folder is emptied.
TEST_F(WebBlockTest, FailedDistributionKeepsTheArchiveForTheNextTry) {
  files.failMoveTo.insert("C:\\Cache\\data\\sys\\core.dll");
  files.failMoveTo.insert("C:\\Cache\\data\\blockA\\docs\\readme.txt");
  files.AddFile("C:\\Cache\\data\\blockA\\stale.txt");
  prompt.onAsk = [this] {
    EXPECT_TRUE(files.FilesUnder("C:\\Cache\\data\\blockA\\").empty());
    files.failMoveTo.clear();
  };
  prompt.answers = {{ExtractRetryChoice::Extract}};
  Unpack();
  EXPECT_EQ(unpacked, WebBlockUnpackResult::Unpacked) << Failure();
  EXPECT_EQ(prompt.texts.size(), 1u);
  EXPECT_EQ(files.files["C:\\Cache\\data\\sys\\core.dll"], "dll");
  EXPECT_FALSE(files.FileExists(kArchive));
}

}  // namespace
}  // namespace kem::test
