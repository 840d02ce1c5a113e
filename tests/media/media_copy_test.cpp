// The recursive folder transfer and the copy of the setup's offline data into the data
// folder.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "media_fixture.h"

namespace kem::test {
namespace {

using Files = std::vector<std::string>;

TEST(TransferFolder, MovesOrCopiesEveryFileKeepingFoldersAndNeverEntersLinks) {
  for (bool move : {true, false}) {
    SCOPED_TRACE(move ? "move" : "copy");
    FakeMediaFiles disk;
    disk.AddFile("C:\\src\\a.txt", "a");
    disk.AddFile("C:\\src\\sub\\deep\\b.txt", "b");
    disk.AddFile("C:\\elsewhere\\c.txt", "c");
    disk.folders.insert("C:\\src\\link\\");
    disk.links.insert("C:\\src\\link\\");
    // A read-only target that a move replaces and a copy cannot.
    disk.AddFile("C:\\dst\\a.txt", "old");
    disk.readOnly.insert("C:\\dst\\a.txt");

    const bool ok = TransferFolder(disk, "C:\\src", "C:\\dst\\", move);
    if (move) {
      EXPECT_TRUE(ok);
      EXPECT_EQ(disk.files["C:\\dst\\a.txt"], "a");
      EXPECT_EQ(disk.files["C:\\dst\\sub\\deep\\b.txt"], "b");
      EXPECT_FALSE(disk.FolderExists("C:\\src\\"));
      // The link went with the source; what it pointed at did not.
      EXPECT_TRUE(disk.FileExists("C:\\elsewhere\\c.txt"));
    } else {
      // The first failing file ends the transfer.
      EXPECT_FALSE(ok);
      EXPECT_EQ(disk.files["C:\\dst\\a.txt"], "old");
      EXPECT_TRUE(disk.FileExists("C:\\src\\a.txt"));
    }
    EXPECT_FALSE(disk.FolderExists("C:\\dst\\link\\"));
  }
}

// A target reached through a link in the destination is neither removed nor replaced.
TEST(TransferFolder, RefusesTargetsReachedThroughLinks) {
  for (const std::string link : {"C:\\dst\\a.txt", "C:\\dst\\sub\\"}) {
    SCOPED_TRACE(link);
    FakeMediaFiles disk;
    disk.AddFile("C:\\src\\sub\\a.txt", "new");
    disk.AddFile("C:\\src\\a.txt", "new");
    disk.AddFile("C:\\dst\\a.txt", "precious");
    disk.AddFile("C:\\dst\\sub\\a.txt", "precious");
    disk.foreign.insert(link);
    EXPECT_FALSE(TransferFolder(disk, "C:\\src\\", "C:\\dst\\", true));
    EXPECT_EQ(disk.files[link.back() == '\\' ? link + "a.txt" : link], "precious");
  }
}

TEST(TransferFolder, FirstFailureEndsTheTransferAndLeavesTheSource) {
  FakeMediaFiles disk;
  disk.AddFile("C:\\src\\1.txt");
  disk.AddFile("C:\\src\\2.txt");
  disk.AddFile("C:\\src\\3.txt");
  disk.failMoveTo.insert("C:\\dst\\2.txt");
  EXPECT_FALSE(TransferFolder(disk, "C:\\src\\", "C:\\dst\\", true));
  EXPECT_EQ(disk.FilesUnder("C:\\dst\\"), Files{"1.txt"});
  EXPECT_EQ(disk.FilesUnder("C:\\src\\"), (Files{"2.txt", "3.txt"}));
}

TEST(TransferFolder, NamesOutsideTheCodePageKeepTheirOwnNames) {
  for (bool move : {true, false}) {
    SCOPED_TRACE(move ? "move" : "copy");
    FakeMediaFiles disk;
    const std::string name = "\xD0\x96urnal.txt";  // a Cyrillic first letter
    const std::string folder = "\xD0\x94" "ata";
    disk.AddFile("C:\\src\\" + name, "w");
    disk.shortNames["C:\\src\\" + name] = "URNAL~1.TXT";
    disk.AddFile("C:\\src\\" + folder + "\\plain.txt", "p");
    disk.shortNames["C:\\src\\" + folder] = "ATA~1";
    EXPECT_TRUE(TransferFolder(disk, "C:\\src\\", "C:\\dst\\", move));
    EXPECT_EQ(disk.FilesUnder("C:\\dst\\"), (Files{folder + "\\plain.txt", name}));
    EXPECT_EQ(disk.FileExists("C:\\src\\" + name), !move);
  }
}

TEST(EmptyFolder, RemovesReadOnlyContentsButNotWhatLinksPointAt) {
  FakeMediaFiles disk;
  disk.AddFile("C:\\block\\x\\y.txt");
  disk.readOnly.insert("C:\\block\\x\\y.txt");
  disk.AddFile("C:\\outside\\keep.txt");
  disk.folders.insert("C:\\block\\link\\");
  disk.links.insert("C:\\block\\link\\");
  EXPECT_TRUE(EmptyFolder(disk, "C:\\block\\", false));
  EXPECT_TRUE(disk.FolderExists("C:\\block\\"));
  EXPECT_TRUE(disk.FilesUnder("C:\\block\\").empty());
  EXPECT_TRUE(disk.FileExists("C:\\outside\\keep.txt"));
  EXPECT_TRUE(EmptyFolder(disk, "C:\\block\\", true));
  EXPECT_FALSE(disk.FolderExists("C:\\block\\"));
}

class CopyOfflineTest : public MediaTest {
 protected:
  void Copy(const std::string& source = "C:\\App\\data\\", const std::string& destination = "C:\\Cache\\") {
    script.Add("Copy Offline", {source, destination});
    Run();
  }
};

// Where the files of the two source folders go, with the data folder itself or its parent
// holding them.
TEST_F(CopyOfflineTest, LayoutsOfTheSourceAndTheirDestinations) {
  struct Case {
    const char* name;
    std::string base;  // where "offline" and "mergemod" lie
  } cases[] = {{"in the data folder", "C:\\App\\data\\"}, {"beside the data folder", "C:\\App\\"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    files.Reset();
    NewScript();
    files.AddFile(c.base + "offline\\one.cab", "1");
    files.AddFile(c.base + "offline\\sub\\two.cab", "2");
    files.AddFile(c.base + "mergemod\\crt.msm", "m");
    files.AddFile(c.base + "mergemod\\x86\\vc.msm", "v");
    files.folders.insert("C:\\App\\data\\");
    Copy();
    ASSERT_EQ(copied, true) << Failure();
    EXPECT_EQ(files.FilesUnder("C:\\Cache\\"),
              (Files{"crt.msm", "offline\\one.cab", "offline\\sub\\two.cab", "x86\\vc.msm"}));
    // Moved, not copied.
    EXPECT_TRUE(files.FilesUnder(c.base + "offline\\").empty());
    EXPECT_EQ(GetVar("VRAX_thProgressText"), "crt.msm, 76% complete");
  }
}

TEST_F(CopyOfflineTest, ExistingTargetsStayAndTheRestIsMoved) {
  files.AddFile("C:\\App\\data\\offline\\a.cab", "new a");
  files.AddFile("C:\\App\\data\\offline\\b.cab", "new b");
  files.AddFile("C:\\Cache\\offline\\a.cab", "cached a");
  Copy();
  ASSERT_EQ(copied, true);
  EXPECT_EQ(files.files["C:\\Cache\\offline\\a.cab"], "cached a");
  EXPECT_EQ(files.files["C:\\Cache\\offline\\b.cab"], "new b");
  EXPECT_TRUE(files.FileExists("C:\\App\\data\\offline\\a.cab"));
  EXPECT_FALSE(files.FileExists("C:\\App\\data\\offline\\b.cab"));
}

// The program's data folder keeps its files in a web build whose sources are to be cached,
// and a file that cannot be moved is copied; copies arrive whole under their own name.
TEST_F(CopyOfflineTest, CopiesInsteadOfMovingWhereTheSourceMustStayOrCannotMove) {
  struct Case {
    const char* name;
    std::int64_t mode;
    const char* cacheSources;
    bool moveFails;
    bool sourceKept;
  } cases[] = {
      {"cached sources in a web build", 2, "true", false, true},
      {"cached sources outside a web build", 1, "TRUE", false, false},
      {"other value", 2, "yes", false, false},
      {"move refused", 2, "", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    files.Reset();
    NewScript();
    mediaMode = c.mode;
    compilerVariables = {"CACHESOURCES", c.cacheSources};
    files.AddFile("C:\\App\\data\\offline\\a.cab", "a");
    files.failAllMoves = c.moveFails;
    // The partial copy's rename is a move too: let only that one through.
    if (c.moveFails) files.beforeMove = [this](const std::string& from, const std::string&) {
      files.failAllMoves = from.find(".kempart") == std::string::npos;
    };
    Copy();
    ASSERT_EQ(copied, true);
    EXPECT_EQ(files.files["C:\\Cache\\offline\\a.cab"], "a");
    EXPECT_EQ(files.FileExists("C:\\App\\data\\offline\\a.cab"), c.sourceKept);
    EXPECT_EQ(files.FilesUnder("C:\\Cache\\offline\\"), Files{"a.cab"});
  }
}

// A folder link in the data folder (one the system marks, or one shown as a plain folder)
// receives nothing: the copy fails and puts back what it had moved.
TEST_F(CopyOfflineTest, NeverPlacesFilesThroughLinksInTheDataFolder) {
  for (bool marked : {false, true}) {
    SCOPED_TRACE(marked ? "marked link" : "link shown as a plain folder");
    files.Reset();
    NewScript();
    files.AddFile("C:\\App\\data\\offline\\1.cab", "1");
    files.AddFile("C:\\App\\data\\offline\\sub\\2.cab", "2");
    files.folders.insert("C:\\Cache\\offline\\sub\\");
    (marked ? files.links : files.foreign).insert("C:\\Cache\\offline\\sub\\");
    Copy();
    EXPECT_EQ(copied, false);
    EXPECT_FALSE(files.FileExists("C:\\Cache\\offline\\sub\\2.cab"));
    EXPECT_EQ(files.FilesUnder("C:\\App\\data\\offline\\"), (Files{"1.cab", "sub\\2.cab"}));
  }
}

TEST_F(CopyOfflineTest, FailureMidWayPutsMovedFilesBack) {
  files.AddFile("C:\\App\\data\\offline\\1.cab", "1");
  files.AddFile("C:\\App\\data\\offline\\2.cab", "2");
  files.AddFile("C:\\App\\data\\offline\\3.cab", "3");
  files.failMoveTo.insert("C:\\Cache\\offline\\2.cab");
  files.failCopyTo.insert("C:\\Cache\\offline\\2.cab.kempart");
  Copy();
  EXPECT_EQ(copied, false);
  EXPECT_EQ(files.FilesUnder("C:\\App\\data\\offline\\"), (Files{"1.cab", "2.cab", "3.cab"}));
  EXPECT_TRUE(files.FilesUnder("C:\\Cache\\").empty());
}

TEST_F(CopyOfflineTest, CompressionWideNamesAndTheOuterPackageCopy) {
  const std::string wide = "\xD0\x96.cab";
  const std::string wideFolder = "\xD0\x94" "ata";
  files.AddFile("C:\\App\\data\\offline\\a.cab", "a");
  files.AddFile("C:\\App\\data\\offline\\" + wide, "w");
  files.shortNames["C:\\App\\data\\offline\\" + wide] = "CAB~1.CAB";
  files.AddFile("C:\\App\\data\\mergemod\\" + wideFolder + "\\m.msm", "m");
  files.shortNames["C:\\App\\data\\mergemod\\" + wideFolder] = "ATA~1";
  files.AddFile("C:\\Out\\setup.exe", "package");
  files.AddFile("C:\\Keep\\setup.exe", "old");  // another size: replaced
  script.Add("Set Variable", {"VRAX_COMPRESS_INSTALLER_CACHE", "TRUE"});
  script.Add("Set Variable", {"COPYWEBLOCK", "C:\\Keep\\"});
  script.Add("Set Variable", {"SFXPATH", "C:\\Out\\"});
  script.Add("Set Variable", {"SFXFILE", "setup.exe"});
  Copy();
  ASSERT_EQ(copied, true);
  EXPECT_EQ(files.FilesUnder("C:\\Cache\\offline\\"), (Files{"a.cab", wide}));
  EXPECT_EQ(files.files["C:\\Cache\\" + wideFolder + "\\m.msm"], "m");
  EXPECT_NE(std::find(files.log.begin(), files.log.end(), "compress C:\\Cache\\offline\\a.cab"), files.log.end());
  EXPECT_EQ(files.files["C:\\Keep\\setup.exe"], "package");
}

TEST_F(CopyOfflineTest, StopsBeforeTheNextFileOnCancel) {
  files.AddFile("C:\\App\\data\\offline\\1.cab");
  files.AddFile("C:\\App\\data\\offline\\2.cab");
  files.AddFile("C:\\App\\data\\offline\\3.cab");
  // The user cancels while the first file moves; the wait passes it on within its pass.
  files.beforeMove = [this](const std::string&, const std::string&) {
    files.beforeMove = nullptr;
    ctx.Vars.Set("VRAX_IsCancelled", "TRUE");
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
  };
  Copy();
  EXPECT_EQ(copied, false);
  // Nothing half-done stays in the cache: the moved file went back.
  EXPECT_TRUE(files.FilesUnder("C:\\Cache\\").empty());
  EXPECT_EQ(files.FilesUnder("C:\\App\\data\\offline\\").size(), 3u);
}

}  // namespace
}  // namespace kem::test
