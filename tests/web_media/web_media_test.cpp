// The "Web Media Block" statement and the media loader over stand-ins for the file work,
// the downloader, the unpacking and the prompts.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "support/script_fixture.h"
#include "media/web/web_media.h"

namespace kem::test {
namespace {

// The stored form of a password, the reverse of the descrambling.
std::string Scramble(const std::string& password) {
  static const char* hex = "0123456789ABCDEF";
  std::string pairs;
  for (unsigned char c : password) {
    pairs += hex[c & 15];
    pairs += hex[c >> 4];
  }
  for (std::size_t i = 0; i < pairs.size(); ++i) pairs[i] = static_cast<char>(pairs[i] ^ (i % 256));
  return pairs;
}

TEST(BlockPasswords, DescramblingTable) {
  struct Case {
    std::string stored;
    std::optional<std::string> password;
  };
  const std::vector<Case> cases = {
      {Scramble("Secret1"), "Secret1"},
      {Scramble(""), ""},
      {Scramble("p\xE4ss w/ \"q\""), "p\xE4ss w/ \"q\""},
      {"15", "A"},    // XOR by position gives "14": read backwards, 0x41
      {"145", std::nullopt},  // odd length
      {"zz", std::nullopt},   // not hexadecimal
  };
  for (const Case& c : cases) EXPECT_EQ(DescrambleBlockPassword(c.stored), c.password) << c.stored;
  // Longer than 256 characters: the position wraps for the XOR.
  const std::string longer(200, 'k');
  EXPECT_EQ(DescrambleBlockPassword(Scramble(longer)), longer);
}

TEST(BlockPasswords, UrlLines) {
  EXPECT_EQ(UrlLines(" http://a/b.7zip \r\n\r\nhttp://c/b.7zip\n"),
            (std::vector<std::string>{"http://a/b.7zip", "http://c/b.7zip"}));
  EXPECT_TRUE(UrlLines("").empty());
}

// The loader's file work in memory.
class MemoryMachine : public WebMediaMachine {
 public:
  std::set<std::string> files, folders;
  std::vector<std::string> emptied, removed;
  bool FileExists(const std::string& p) override { return files.contains(p); }
  bool FolderExists(const std::string& p) override { return folders.contains(p); }
  bool CreateFolder(const std::string& p, bool) override {
    folders.insert(p);
    return true;
  }
  void EmptyFolder(const std::string& p) override {
    emptied.push_back(p);
    std::erase_if(files, [&](const std::string& f) { return f.rfind(p, 0) == 0; });
  }
  bool RemoveFolder(const std::string& p) override {
    removed.push_back(p);
    return folders.erase(p) > 0;
  }
  bool CreateEmptyFile(const std::string& p) override {
    files.insert(p);
    return true;
  }
  bool RemoveFile(const std::string& p) override { return files.erase(p) > 0; }
  std::vector<std::string> SubFolders(const std::string& p) override {
    std::vector<std::string> out;
    for (const auto& f : folders)
      if (f.size() > p.size() && f.rfind(p, 0) == 0 && f.find('\\', p.size()) == f.size() - 1)
        out.push_back(f.substr(p.size(), f.size() - p.size() - 1));
    return out;
  }
};

// Every URL answered from a table: true succeeds.
class TableDownloader : public Downloader {
 public:
  TableDownloader(std::map<std::string, bool>* answers, std::vector<std::string>* asked, MemoryMachine* m)
      : answers_(answers), asked_(asked), machine_(m) {}
  DownloadOutcome Download(const DownloadRequest& r, const DownloadProgress& progress,
                           std::vector<std::string>& log) override {
    asked_->push_back(r.Url + (r.Resume ? " resume" : " fresh") + (r.Proxy.Server.empty() ? "" : " via " + r.Proxy.Server));
    progress(50, "half");
    DownloadOutcome out;
    out.Ok = (*answers_)[r.Url];
    if (out.Ok) machine_->files.insert(r.Target);
    log.push_back("asked " + r.Url);
    return out;
  }

 private:
  std::map<std::string, bool>* answers_;
  std::vector<std::string>* asked_;
  MemoryMachine* machine_;
};

// Hangs like a download from a server that stopped sending, until it is aborted (or ten
// seconds pass); the cancel comes from the run while it hangs.
class HangingDownloader : public Downloader {
 public:
  HangingDownloader(TVariableManager& vars, bool* aborted) : vars_(vars), aborted_(aborted) {}
  DownloadOutcome Download(const DownloadRequest&, const DownloadProgress&, std::vector<std::string>&) override {
    vars_.Set("VRAX_IsCancelled", "TRUE");
    std::unique_lock<std::mutex> lock(m_);
    *aborted_ = cv_.wait_for(lock, std::chrono::seconds(10), [this] { return stop_; });
    return {};
  }
  void Abort() override {
    std::lock_guard<std::mutex> lock(m_);
    stop_ = true;
    cv_.notify_all();
  }

 private:
  TVariableManager& vars_;
  bool* aborted_;
  std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
};

constexpr const char* kCache = "C:\\Cache\\{P}\\";

class WebMediaTest : public ScriptTest {
 public:
  void SetUp() override {
    ScriptTest::SetUp();
    disk = std::make_shared<MemoryMachine>();
    services.Machine = disk;
    services.NewDownloader = [this](DownloaderState&) {
      return std::make_unique<TableDownloader>(&answers, &asked, disk.get());
    };
    services.CacheFolder = [](Interpreter&) { return std::string(kCache); };
    services.MoveFolder = [this](Interpreter&, const std::string& from, const std::string& to) {
      moved.push_back(from + " -> " + to);
      return true;
    };
    services.CopyOffline = [this](Interpreter&, const std::string& from, const std::string& to) {
      copied.push_back(from + " -> " + to);
      if (offlineFails) throw StatementError("copy failed");
    };
    services.Unpack = [this](Interpreter&, const std::string& archive, const std::string& password,
                             const std::string& data, const std::string& block, bool local) {
      unpacked.push_back(archive + "|" + password + "|" + data + block + (local ? "|local" : ""));
      UnpackOutcome out;
      out.Unpacked = unpackAnswers.empty() ? true : unpackAnswers.front();
      if (!unpackAnswers.empty()) unpackAnswers.erase(unpackAnswers.begin());
      return out;
    };
    services.AskResume = [this](Interpreter&, bool resume) {
      prompts.push_back(std::string("resume? ") + (resume ? "resume" : "fresh"));
      ResumeAnswer a = resumeAnswers.empty() ? ResumeAnswer{} : resumeAnswers.front();
      if (!resumeAnswers.empty()) resumeAnswers.erase(resumeAnswers.begin());
      return a;
    };
    services.AskProxy = [this](Interpreter&, ProxySettings& proxy) {
      prompts.push_back("proxy? " + proxy.Server);
      proxy.Server = "proxy.test";
      return proxyYes-- > 0;
    };
    moreStatements = [this](StatementTable& table, InterpreterHooks& h) {
      RegisterWebMediaStatements(table, state);
      table.Add(StatementKind::ApplyChanges, [this](Interpreter&, std::size_t) { marks.push_back("apply"); });
      AddWebMediaLoading(h, load);
    };
    load = [this](Interpreter& in, std::size_t, const std::string& media) { LoadWebMedia(in, *state, services, media); };
    fetchMedia = load;
    // Plug-in statement "Plug" records its parameter 1 after its media are loaded.
    hooks = InterpreterHooks{};
    hooks.PluginStatement = [this](Interpreter& in, std::size_t i) { marks.push_back(in.Param(i, 1)); };
    prepare = [](SetupData& d) { d.PluginStatements.push_back("Plug"); };
    Startup().SilentMode = true;
    Startup().ProgramDataFolder = "C:\\App\\data\\";
    script.Data().MediaMode = 2;
    script.Data().RevisionCode = "{R}";
    script.Data().WebBlockSources = {"Block1", Scramble("pw1"), "OFFLINE", Scramble("offpw")};
  }
  // "Install Files" drawing from a block folder.
  std::size_t InstallFrom(const std::string& block) {
    std::size_t i = script.Add("Install Files", {"*.*", "src", "C:\\Target\\"});
    script.Data().CommandHeaders.Add("H" + std::to_string(i));
    script.Data().CommandHeaders.Add(std::to_string(i));
    script.Data().StatementMedia.Set(i, block);
    return i;
  }
  void Let(const std::string& name, const std::string& value) { script.Add("Set Variable", {name, value}); }
  void Block(const std::string& name, const std::string& urls) { script.Add("Web Media Block", {name, urls, "x"}); }
  void Rerun() {
    asked.clear();
    unpacked.clear();
    Run();
  }

  std::shared_ptr<WebMediaState> state = std::make_shared<WebMediaState>();
  std::shared_ptr<MemoryMachine> disk;
  WebMediaServices services;
  MediaLoad load;
  std::map<std::string, bool> answers;
  std::vector<std::string> asked, moved, copied, unpacked, prompts;
  std::vector<bool> unpackAnswers;
  std::vector<ResumeAnswer> resumeAnswers;
  int proxyYes = 0;
  bool offlineFails = false;
};

TEST_F(WebMediaTest, BlockIsDownloadedUnpackedAndMarkedOnceTriedInOrder) {
  answers = {{"http://a/Block1.7zip", false}, {"http://b/Block1.7zip", true}};
  Let("MIRROR", "http://b");
  Block("Block1", "http://a/Block1.7zip$NEWLINE$$MIRROR$/Block1.7zip");
  InstallFrom("Block1\\");
  InstallFrom("Block1\\");  // the second statement of the block finds it marked
  Run();
  EXPECT_EQ(asked, (std::vector<std::string>{"http://a/Block1.7zip resume", "http://b/Block1.7zip resume"}));
  EXPECT_EQ(unpacked, (std::vector<std::string>{std::string(kCache) + "Block1.7zip|pw1|" + kCache + "Block1\\"}));
  EXPECT_TRUE(disk->files.contains(std::string(kCache) + "Block1\\{R}"));
  EXPECT_EQ(Startup().DataFolder, kCache);
  EXPECT_NE(GetVar("ABORTEDONERROR"), "TRUE");
  EXPECT_FALSE(Engine().WorkerActive);

  Rerun();
  EXPECT_TRUE(asked.empty()) << "a marked block is not fetched again";
  EXPECT_TRUE(unpacked.empty());
}

TEST_F(WebMediaTest, CancelReachesADownloadThatHangs) {
  bool aborted = false;
  services.NewDownloader = [this, &aborted](DownloaderState&) {
    return std::make_unique<HangingDownloader>(ctx.Vars, &aborted);
  };
  Block("Block1", "http://a/Block1.7zip$NEWLINE$http://b/Block1.7zip");
  InstallFrom("Block1\\");
  Run();
  EXPECT_TRUE(aborted) << "the stop request ended the download before its ten seconds";
  EXPECT_TRUE(unpacked.empty());
}

TEST_F(WebMediaTest, UnmarkedFolderIsEmptiedFirst) {
  answers = {{"http://a/B.7zip", true}};
  disk->folders.insert(std::string(kCache) + "B\\");
  disk->files.insert(std::string(kCache) + "B\\stale.dll");
  Block("B", "http://a/B.7zip");
  InstallFrom("B\\");
  Run();
  EXPECT_EQ(disk->emptied, (std::vector<std::string>{std::string(kCache) + "B\\"}));
  EXPECT_FALSE(disk->files.contains(std::string(kCache) + "B\\stale.dll"));
  EXPECT_EQ(asked.size(), 1u);
  ASSERT_EQ(unpacked.size(), 1u);
  EXPECT_NE(unpacked[0].find("|offpw|"), std::string::npos) << "a block without an entry takes the offline one";
}

TEST_F(WebMediaTest, RemovalFetchesNothing) {
  Let("REMOVE", "TRUE");
  Block("B", "http://a/B.7zip");
  InstallFrom("B\\");
  Run();
  EXPECT_TRUE(asked.empty());
  EXPECT_TRUE(unpacked.empty());
}

TEST_F(WebMediaTest, CopyBesideTheSetupIsUsedUntilTheUserAsksForAFreshOne) {
  answers = {{"http://a/Block1.7zip", true}};
  Let("SFXPATH", "D:\\Media\\");
  disk->files.insert("D:\\Media\\Block1.7zip");
  unpackAnswers = {false, true};  // the copy does not unpack; the user asks for a download
  Block("Block1", "http://a/Block1.7zip");
  InstallFrom("Block1\\");
  Run();
  ASSERT_EQ(unpacked.size(), 2u);
  EXPECT_EQ(unpacked[0], std::string("D:\\Media\\Block1.7zip|pw1|") + kCache + "Block1\\|local");
  EXPECT_EQ(unpacked[1], std::string(kCache) + "Block1.7zip|pw1|" + kCache + "Block1\\");
  EXPECT_EQ(asked, (std::vector<std::string>{"http://a/Block1.7zip resume"}));
  EXPECT_TRUE(state->RejectedLocalCopies.contains("D:\\MEDIA\\BLOCK1.7ZIP"));
  EXPECT_TRUE(disk->files.contains("D:\\Media\\Block1.7zip")) << "the copy itself stays";
}

TEST_F(WebMediaTest, SilentFailureGoesOnWithAbortedOnError) {
  answers = {{"http://a/Block1.7zip", false}};
  Let("ABORTONERROR", "FALSE");
  Block("Block1", "http://a/Block1.7zip");
  InstallFrom("Block1\\");
  Mark("after");
  Run();
  EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
  EXPECT_EQ(marks, (std::vector<std::string>{"after"}));
  EXPECT_TRUE(host.boxes.empty()) << "silent";
  EXPECT_TRUE(prompts.empty()) << "silent runs never prompt";
  EXPECT_FALSE(Engine().WorkerActive);
}

TEST_F(WebMediaTest, SilentFailureEndsTheScriptWithAbortOnError) {
  answers = {{"http://a/Block1.7zip", false}};
  Block("Block1", "http://a/Block1.7zip");
  InstallFrom("Block1\\");
  Mark("after");
  Run();
  EXPECT_TRUE(marks.empty()) << "the script ended";
  EXPECT_EQ(asked.size(), 1u);
}

TEST_F(WebMediaTest, TenTimerChosenRetriesInARowActAsCancel) {
  Startup().SilentMode = false;
  answers = {{"http://a/Block1.7zip", false}};
  resumeAnswers.assign(20, ResumeAnswer{true, true, true});
  resumeAnswers[3].ByTimer = false;  // a user's answer starts the count again
  Block("Block1", "http://a/Block1.7zip");
  InstallFrom("Block1\\");
  Run();
  EXPECT_EQ(asked.size(), static_cast<std::size_t>(kMaxUnattendedRetries + 4));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Unable to download installation data from the web");
}

TEST_F(WebMediaTest, UserRetriesAreUnlimitedAndCarryTheirChoice) {
  Startup().SilentMode = false;
  answers = {{"http://a/Block1.7zip", false}};
  resumeAnswers.assign(kMaxUnattendedRetries + 3, ResumeAnswer{true, true, false});
  resumeAnswers.back().Resume = false;
  resumeAnswers.push_back(ResumeAnswer{false, true, false});
  Block("Block1", "http://a/Block1.7zip");
  InstallFrom("Block1\\");
  Run();
  ASSERT_EQ(asked.size(), static_cast<std::size_t>(kMaxUnattendedRetries + 4));
  EXPECT_EQ(asked.back(), "http://a/Block1.7zip fresh");
  EXPECT_EQ(prompts.front(), "resume? resume");
}

TEST_F(WebMediaTest, WithoutTheLightweightDownloaderTheProxyPromptAsks) {
  Startup().SilentMode = false;
  answers = {{"http://a/Block1.7zip", false}};
  state->Downloads.LightAvailable = false;
  proxyYes = 1;
  Block("Block1", "http://a/Block1.7zip");
  InstallFrom("Block1\\");
  Run();
  EXPECT_EQ(prompts, (std::vector<std::string>{"proxy? ", "proxy? proxy.test"}));
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked.back(), "http://a/Block1.7zip resume via proxy.test");
}

TEST_F(WebMediaTest, ApplyChangesAndPluginsLoadTheirMedia) {
  script.Data().StatementMedia.Set(script.Add("Plug", {"plug-in"}), "OFFLINE\\");
  script.Add("Apply Changes", {"R"});
  Run();
  EXPECT_EQ(copied, (std::vector<std::string>{"C:\\App\\data\\ -> " + std::string(kCache)}));
  EXPECT_EQ(marks, (std::vector<std::string>{"plug-in", "apply"}));
  EXPECT_TRUE(disk->files.contains(std::string(kCache) + "OFFLINE\\{R}"));
}

// The plug-in calls may take their handler after web media is wired: the load before the
// call does not depend on that order.
TEST_F(WebMediaTest, APlugInHandlerSetAfterTheLoaderStillFindsItsMediaLoaded) {
  hooks.PluginStatement = [this](Interpreter& in, std::size_t i) { marks.push_back("own " + in.Param(i, 1)); };
  script.Data().StatementMedia.Set(script.Add("Plug", {"plug-in"}), "OFFLINE\\");
  Run();
  EXPECT_EQ(copied, (std::vector<std::string>{"C:\\App\\data\\ -> " + std::string(kCache)}));
  EXPECT_EQ(marks, (std::vector<std::string>{"own plug-in"}));
}

TEST_F(WebMediaTest, FailedOfflineCopyLeavesNoHalfFilledBlock) {
  Startup().SilentMode = false;
  offlineFails = true;
  Let("ABORTONERROR", "FALSE");
  script.Add("Apply Changes", {"R"});
  Run();
  EXPECT_EQ(disk->emptied, (std::vector<std::string>{std::string(kCache) + "OFFLINE\\"}));
  EXPECT_FALSE(disk->folders.contains(std::string(kCache) + "OFFLINE\\"));
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].text, "Unable to copy installation data to local folders");
  EXPECT_EQ(GetVar("ABORTEDONERROR"), "TRUE");
  EXPECT_EQ(marks, (std::vector<std::string>{"apply"})) << "the statement itself still runs";
}

TEST_F(WebMediaTest, AnotherCacheFolderTakesTheLoadedBlocksAlong) {
  state->DataFolder = "C:\\OldCache\\";
  disk->folders = {"C:\\OldCache\\", "C:\\OldCache\\A\\", "C:\\OldCache\\B\\"};
  Let("REMOVE", "TRUE");
  Block("Block1", "http://a/Block1.7zip");
  InstallFrom("Block1\\");
  Run();
  EXPECT_EQ(moved, (std::vector<std::string>{"C:\\OldCache\\B\\ -> " + std::string(kCache) + "B\\",
                                             "C:\\OldCache\\A\\ -> " + std::string(kCache) + "A\\"}));
  EXPECT_EQ(state->DataFolder, kCache);
}

TEST_F(WebMediaTest, DamagedStoredPasswordFailsTheStatement) {
  script.Data().WebBlockSources = {"Block1", "abc"};
  Block("Block1", "http://a/Block1.7zip");
  Mark("after");
  Run();
  EXPECT_TRUE(marks.empty());
}

}  // namespace
}  // namespace kem::test
