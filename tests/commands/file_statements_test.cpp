// File and text-file statements over files in memory.
#include "command_fixture.h"
#include "commands/file_statements.h"

#include <gmock/gmock.h>

#include <chrono>
#include <thread>

namespace kem::test {
namespace {

class FileStatementsTest : public CommandTest {};

TEST_F(FileStatementsTest, ReadsLineByLineReopensAfterTheEndAndReadsAllAtOnce) {
  files.AddFile("C:\\d\\three.txt", "one\r\ntwo\nthree\r\n");
  for (int k = 0; k < 4; ++k) script.Add("Read from Text File", {"C:\\d\\three.txt", "L" + std::to_string(k), "E" + std::to_string(k)});
  script.Add("Read from Text File", {"#READALL\\C:\\D\\THREE.TXT", "ALL", "EALL"});
  script.Add("Read from Text File", {"C:\\d\\missing.txt", "L0", "EMISSING"});
  Run();
  ASSERT_EQ(Failure(), "");
  EXPECT_EQ(GetVar("L0"), "one");  // kept: the missing file writes no line
  EXPECT_EQ(GetVar("E0"), "FALSE");
  EXPECT_EQ(GetVar("L1"), "two");
  EXPECT_EQ(GetVar("E1"), "FALSE");
  EXPECT_EQ(GetVar("L2"), "three");
  EXPECT_EQ(GetVar("E2"), "TRUE");
  EXPECT_EQ(GetVar("L3"), "one");  // opened again from the start
  EXPECT_EQ(GetVar("E3"), "FALSE");
  // The same name in other letters continues the open file, to its end.
  EXPECT_EQ(GetVar("ALL"), "two$NEWLINE$three");
  EXPECT_EQ(GetVar("EALL"), "TRUE");
  EXPECT_EQ(GetVar("EMISSING"), "TRUE");
}

TEST_F(FileStatementsTest, AnEmptyFileEndsAtOnceAndAnUnreadableOneKeepsTheLine) {
  files.AddFile("C:\\d\\empty.txt", "");
  files.AddFile("C:\\d\\locked.txt", "secret");
  files.unreadable.insert("C:\\d\\locked.txt");
  script.Add("Set Variable", {"LINE", "before"});
  script.Add("Read from Text File", {"C:\\d\\empty.txt", "LINE", "E1"});
  script.Add("Read from Text File", {"C:\\d\\locked.txt", "LINE", "E2"});
  Run();
  EXPECT_EQ(GetVar("LINE"), "before");
  EXPECT_EQ(GetVar("E1"), "TRUE");
  EXPECT_EQ(GetVar("E2"), "TRUE");
}

TEST_F(FileStatementsTest, WritingAddsLinesWithCrLfAndClosesTheFileBeingRead) {
  files.AddFile("C:\\d\\t.txt", "a\nb");
  script.Add("Read from Text File", {"C:\\d\\t.txt", "L1", ""});
  script.Add("Write to Text File", {"C:\\d\\t.txt", "last", "FALSE"});
  script.Add("Write to Text File", {"C:\\d\\t.txt", "first$NEWLINE$second", "TRUE"});
  script.Add("Read from Text File", {"C:\\d\\t.txt", "L2", ""});
  script.Add("Write to Text File", {"C:\\d\\new.txt", "only", ""});
  Run();
  ASSERT_EQ(Failure(), "");
  EXPECT_EQ(files.files["C:\\d\\t.txt"], "first\r\nsecond\r\na\r\nb\r\nlast\r\n");
  EXPECT_EQ(GetVar("L1"), "a");
  EXPECT_EQ(GetVar("L2"), "first");  // the write closed the file: read from the start
  EXPECT_EQ(files.files["C:\\d\\new.txt"], "only\r\n");
}

TEST_F(FileStatementsTest, AFailedWriteFailsTheStatementAndLeavesTheFileAsItWas) {
  const struct {
    const char* title;
    std::function<void(FakeFiles&)> fault;
  } cases[] = {
      {"the existing file cannot be read", [](FakeFiles& f) { f.unreadable.insert("C:\\d\\t.txt"); }},
      {"the disk fills up", [](FakeFiles& f) { f.writeLimit = 5; }},
      {"the new file cannot take the old one's place", [](FakeFiles& f) { f.commitFails = true; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.title);
    NewScript();
    files = FakeFiles();
    files.AddFile("C:\\d\\t.txt", "keep\r\nthis\r\n");
    c.fault(files);
    script.Add("Write to Text File", {"C:\\d\\t.txt", "more", "FALSE"});
    script.Add("Set Variable", {"AFTER", "ran"});
    Run();
    EXPECT_NE(Failure().find("C:\\d\\t.txt"), std::string::npos) << Failure();
    EXPECT_EQ(files.files["C:\\d\\t.txt"], "keep\r\nthis\r\n");
    EXPECT_FALSE(VarExists("AFTER"));
  }
}

TEST_F(FileStatementsTest, SearchListsContentsBeforeTheirFolderAndNeverEntersLinks) {
  files.AddFile("C:\\r\\top.txt");
  files.AddFile("C:\\r\\top.log");
  files.AddFile("C:\\r\\odd dir\\in.txt");
  files.AddFile("C:\\r\\odd dir\\deep\\x.TXT");
  files.AddFolder("C:\\r\\link");
  files.links.insert("C:\\r\\link");
  files.AddFile("C:\\r\\link\\target.txt");  // what the link points to
  struct Case {
    bool subfolders, folders;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {false, false, {"C:\\r\\top.txt"}},
      {true, false, {"C:\\r\\odd dir\\deep\\x.TXT", "C:\\r\\odd dir\\in.txt", "C:\\r\\top.txt"}},
      {true, true,
       {"C:\\r\\link", "C:\\r\\odd dir\\deep\\x.TXT", "C:\\r\\odd dir\\deep", "C:\\r\\odd dir\\in.txt", "C:\\r\\odd dir",
        "C:\\r\\top.txt"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> got = SearchFiles(files, "C:\\r\\*.txt", c.subfolders, c.folders);
    EXPECT_EQ(got, c.expected) << c.subfolders << c.folders;
  }
  EXPECT_EQ(JoinSearchResult({"C:\\a.txt", "C:\\odd dir\\b", "C:\\q\"x|y"}),
            "C:\\a.txt|\"C:\\odd dir\\b\"|\"C:\\q\"\"x|y\"");
  EXPECT_EQ(JoinSearchResult({"", "C:\\a"}), "|C:\\a");

  script.Add("Set 64 Bit Mode", {"x64"});
  script.Add("Find All Files", {"C:\\r\\*.txt", "TRUE", "FALSE", "$FOUND$"});
  Run();
  EXPECT_EQ(GetVar("FOUND"), "\"C:\\r\\odd dir\\deep\\x.TXT\"|\"C:\\r\\odd dir\\in.txt\"|C:\\r\\top.txt");
  // The worker switched its own redirection off in 64-bit mode and back on.
  EXPECT_EQ(files.threadRedirection, (std::vector<bool>{true, false}));
  EXPECT_EQ(GetVar("VRAX_thProgressText"), "C:\\r\\top.txt");
}

// A mask that takes every name lists each folder once; another mask needs a listing of
// every name for the subfolders (only when they are searched or listed) and one by the
// mask. The search's last file and folder position reach the channel even when every
// report came at the same moment (the fake clock stands still).
TEST_F(FileStatementsTest, SearchListsEachFolderOnlyAsOftenAsItMust) {
  files.AddFile("C:\\r\\a.txt");
  files.AddFile("C:\\r\\s\\b.txt");
  files.AddFile("C:\\r\\s\\t\\c.log");
  int listings = 0;
  files.onList = [&] { ++listings; };
  const struct {
    const char* mask;
    bool subfolders, folders;
    int listings;
    std::vector<std::string> expected;
  } cases[] = {
      {"*.*", true, false, 3, {"C:\\r\\s\\t\\c.log", "C:\\r\\s\\b.txt", "C:\\r\\a.txt"}},
      {"*", true, true, 3,
       {"C:\\r\\s\\t\\c.log", "C:\\r\\s\\t", "C:\\r\\s\\b.txt", "C:\\r\\s", "C:\\r\\a.txt"}},
      {"*.txt", true, false, 6, {"C:\\r\\s\\b.txt", "C:\\r\\a.txt"}},
      {"*.txt", false, true, 2, {"C:\\r\\s", "C:\\r\\a.txt"}},
      {"*.txt", false, false, 1, {"C:\\r\\a.txt"}},
      {"*.*", false, false, 1, {"C:\\r\\a.txt"}},
  };
  for (const auto& c : cases) {
    listings = 0;
    EXPECT_EQ(SearchFiles(files, std::string("C:\\r\\") + c.mask, c.subfolders, c.folders), c.expected) << c.mask;
    EXPECT_EQ(listings, c.listings) << c.mask << " " << c.subfolders << c.folders;
  }
  files.onList = nullptr;
  script.Add("Find All Files", {"C:\\r\\*.*", "TRUE", "FALSE", "FOUND"});
  Run();
  EXPECT_EQ(GetVar("FOUND"), "C:\\r\\s\\t\\c.log|C:\\r\\s\\b.txt|C:\\r\\a.txt");
  EXPECT_EQ(GetVar("VRAX_thProgressText"), "C:\\r\\a.txt");
  EXPECT_EQ(GetVar("VRAX_thProgress"), "3");  // one step per folder
}

TEST_F(FileStatementsTest, FindAllFilesStopsOnCancelWithThePartialList) {
  for (int k = 0; k < 3; ++k) files.AddFile("C:\\r\\d" + std::to_string(k) + "\\f.txt");
  // The user cancels while the first folder is listed.
  files.onList = [this] {
    files.onList = nullptr;
    RawSet("VRAX_IsCancelled", "TRUE");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  };
  script.Add("Set Variable", {"ABORTONERROR", "FALSE"});
  script.Add("Find All Files", {"C:\\r\\*.*", "TRUE", "FALSE", "FOUND"});
  script.Add("Set Variable", {"AFTER", "ran"});
  Run();
  EXPECT_EQ(GetVar("FOUND"), "");  // stopped before the first file
  EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
  EXPECT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(GetVar("AFTER"), "ran");
}

TEST_F(FileStatementsTest, RecursiveDeletionEmptiesTheFolderRemovingLinksNotTheirTargets) {
  files.AddFile("C:\\app\\data\\ro.txt");
  files.readOnly.insert("C:\\app\\data\\ro.txt");
  files.AddFile("C:\\app\\data\\sub\\a.bin");
  files.AddFolder("C:\\app\\data\\link");
  files.links.insert("C:\\app\\data\\link");
  files.AddFile("C:\\elsewhere\\precious.txt");
  script.Add("Set Variable", {"APPDIR", "C:\\app\\data"});
  script.Add("Delete Files Recursive", {"$APPDIR$\\*.*"});
  Run();
  ASSERT_EQ(Failure(), "");
  EXPECT_TRUE(files.FolderExists("C:\\app\\data"));
  EXPECT_FALSE(files.FolderExists("C:\\app\\data\\sub"));
  EXPECT_FALSE(files.FolderExists("C:\\app\\data\\link"));
  EXPECT_FALSE(files.FileExists("C:\\app\\data\\ro.txt"));
  EXPECT_TRUE(files.FileExists("C:\\elsewhere\\precious.txt"));
  // Every removal is checked against the pattern's own folder.
  EXPECT_THAT(files.removedBelow, ::testing::Each(std::string("C:\\app\\data\\")));
}

TEST_F(FileStatementsTest, RecursiveDeletionRefusesFoldersThatAreNotSafelyBelowARoot) {
  const char* refused[] = {"\\*.*",        "*.*",          "data\\*.*",        "C:\\*.*",   "C:*.*",
                           "C:\\..\\*.*",  "C:\\a\\..\\*", "\\\\srv\\share\\*", "\\\\srv\\*", "C:\\a*\\*.*"};
  for (const char* pattern : refused) {
    SCOPED_TRACE(pattern);
    EXPECT_EQ(SafeDeletionFolder(pattern), "");
    NewScript();
    files = FakeFiles();
    files.AddFile("C:\\keep.txt");
    script.Add("Delete Files Recursive", {pattern});
    Run();
    EXPECT_NE(Failure().find("refuses"), std::string::npos);
    EXPECT_TRUE(files.log.empty());
  }
  EXPECT_EQ(SafeDeletionFolder("C:\\a\\*.*"), "C:\\a");
  EXPECT_EQ(SafeDeletionFolder("\\\\srv\\share\\dir\\*"), "\\\\srv\\share\\dir");
}

TEST_F(FileStatementsTest, ExistenceSpaceIniAndVersions) {
  files.AddFile("C:\\d\\f.dll");
  files.versions["C:\\d\\f.dll"] = {1, 2, 3, 4};
  files.versions["C:\\d\\g.dll"] = {1, 2, 3, 5};
  files.ini["C:\\d\\s.ini|Sec|Key"] = "value";
  files.space = std::make_pair(std::uint64_t{5000000000}, std::uint64_t{9000000000});
  script.Add("Does File/Folder Exist", {"file", "C:\\d\\f.dll", "TRUE"});
  script.Add("Does File/Folder Exist", {"folderAsFile", "C:\\d", "TRUE"});
  script.Add("Does File/Folder Exist", {"folder", "C:\\d", "FALSE"});
  script.Add("Check Disk Space", {"$FREE$", "C:\\d", "TRUE"});
  script.Add("Check Disk Space", {"$TOTAL$", "C:\\d", "FALSE"});
  script.Add("Get INI File Settings", {"INI", "C:\\d\\s.ini", "Sec", "Key"});
  script.Add("Get INI File Settings", {"NOKEY", "C:\\d\\s.ini", "Sec", ""});
  script.Add("Get File Version", {"C:\\d\\f.dll", "$VER$"});
  script.Add("Get File Version", {"C:\\d\\none.dll", "$NOVER$"});
  const std::vector<std::pair<std::string, std::string>> checks = {
      {"1.2.3.4", "FALSE"}, {"1.2.3", "TRUE"}, {"1.2.3.3", "TRUE"}, {"1.10", "FALSE"}, {"0.65535", "TRUE"}};
  for (std::size_t k = 0; k < checks.size(); ++k)
    script.Add("Check File Version", {"C" + std::to_string(k), "C:\\d\\f.dll", "FALSE", "", checks[k].first});
  script.Add("Check File Version", {"OTHER", "C:\\d\\f.dll", "TRUE", "C:\\d\\g.dll", ""});
  script.Add("Check File Version", {"BAD", "C:\\d\\f.dll", "FALSE", "", "1.x.3"});
  Run();
  EXPECT_EQ(GetVar("FILE"), "TRUE");
  EXPECT_EQ(GetVar("FOLDERASFILE"), "FALSE");
  EXPECT_EQ(GetVar("FOLDER"), "TRUE");
  EXPECT_EQ(GetVar("FREE"), "5000000000");
  EXPECT_EQ(GetVar("TOTAL"), "9000000000");
  EXPECT_EQ(GetVar("INI"), "value");
  EXPECT_EQ(GetVar("NOKEY"), "");
  EXPECT_EQ(GetVar("VER"), "1.2.3.4");
  EXPECT_EQ(GetVar("NOVER"), "0.0.0.0");
  for (std::size_t k = 0; k < checks.size(); ++k) EXPECT_EQ(GetVar("C" + std::to_string(k)), checks[k].second) << checks[k].first;
  EXPECT_EQ(GetVar("OTHER"), "FALSE");
  EXPECT_NE(Failure().find("not a valid integer"), std::string::npos) << Failure();
}

}  // namespace
}  // namespace kem::test
