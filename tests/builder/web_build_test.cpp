// Web builds (media-mode = 2): the stored block passwords, the media folder of each
// file-carrying statement, the file map, the encrypted block archives, and the checks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/setup_data.h"
#include "kembuild/build_setup.h"
#include "kembuild/compile_setup.h"
#include "kembuild/installer_database.h"
#include "kembuild/web_blocks.h"

#ifdef KEM_HAVE_SEVENZIP
#include "media/sevenzip/sevenzip.h"
#endif
#ifdef KEM_HAVE_WEB_MEDIA
#include "media/web/web_media.h"
#endif

namespace fs = std::filesystem;
using namespace kem;
using namespace kem::builder;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A minimal PE image whose raw data ends at the end of the file (as the builder's tests use).
std::string StandInEngine() {
  std::string b(0x400, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = static_cast<char>(0x80);
  std::memcpy(&b[0x80], "PE\0\0", 4);
  b[0x86] = 1;
  const std::size_t section = 0x84 + 244;
  b[section + 16 + 1] = 0x02;
  b[section + 20 + 1] = 0x02;
  return b;
}

// The manifest's [product] section takes lines 1 to 8; extra sections start on line 9.
const char kWebManifest[] =
    "[product]\n"
    "code = {6F1C2B7A-3D4E-4A5B-9C8D-0E1F2A3B4C5D}\n"
    "revision = {0B9A8C7D-6E5F-4A3B-8C2D-1E0F9A8B7C6D}\n"
    "title = Web Test\n"
    "version = 1.0\n"
    "media-mode = 2\n"
    "code-page = 1252\n"
    "script = main.kems\n";

// Files before any block (offline, with a warning), a block, a statement that carries no
// files, a commented-out block (not taken), the same block in other letters, the end of the
// blocks, and a file statement after it.
const char kWebScript[] =
    "{A0000001-0000-4000-8000-000000000001} Install Files \"loose/*\" \"FALSE\" \"$TARGETDIR$\" \"\"\n"
    "{A0000002-0000-4000-8000-000000000002} Web Media Block \"Core\" \"http://127.0.0.1:1/Core.7zip\"\n"
    "{A0000003-0000-4000-8000-000000000003} Install Files \"core/*\" \"TRUE\" \"$TARGETDIR$\" \"\"\n"
    "{A0000004-0000-4000-8000-000000000004} Write Registry \"HKCU\" \"Software\\\\Kem\" \"V\" \"1\" \"\" \"\"\n"
    "// {A0000005-0000-4000-8000-000000000005} Web Media Block \"Other\" \"http://127.0.0.1:1/Other.7zip\"\n"
    "{A0000006-0000-4000-8000-000000000006} Web Media Block \"CORE\" \"http://127.0.0.1:1/Core.7zip\"\n"
    "{A0000007-0000-4000-8000-000000000007} Install Files \"more/*\" \"FALSE\" \"$TARGETDIR$\" \"\"\n"
    "{A0000008-0000-4000-8000-000000000008} Web Media Block \"\" \"\"\n"
    "{A0000009-0000-4000-8000-000000000009} Install Files \"late/*\" \"FALSE\" \"$TARGETDIR$\" \"\"\n"
    "{A000000A-0000-4000-8000-00000000000A} Apply Changes \"\" \"RESULT\" \"TRUE\" \"FALSE\"\n";

const char kCorePassword[] = "s\xC3\xA9same \xE2\x82\xAC";  // "sésame €" (UTF-8): bytes >= 0x80 in 1252

class WebBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kembuild-web-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    WriteAll(root_ / "engine" / kEngineFileName, StandInEngine());
    WriteAll(root_ / "engine" / kArchiveLibraryName, "archive library stand-in");
    Manifest(std::string("[web-blocks]\nCore = \"") + kCorePassword + "\"\n");
    WriteAll(Project() / "main.kems", kWebScript);
    WriteAll(Project() / "loose" / "loose.txt", "loose file\r\n");
    WriteAll(Project() / "core" / "core.ini", "[Core]\r\nA=1\r\n");
    WriteAll(Project() / "core" / "bin" / "program.txt", std::string(5000, 'p') + "end");
    WriteAll(Project() / "core" / "bin" / "empty.dat", "");
    WriteAll(Project() / "more" / "more.txt", "more of the core block");
    WriteAll(Project() / "late" / "late.txt", "late offline file");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Project() const { return root_ / "project"; }
  void Manifest(const std::string& extra) { WriteAll(Project() / kManifestName, kWebManifest + extra); }
  BuildResult Build(const std::string& out = "out") { return BuildSetup({Project(), root_ / out, root_ / "engine"}); }

  fs::path root_;
};

#ifdef KEM_HAVE_SEVENZIP
// Every file of an archive, by name, as the engine's own reader unpacks it.
std::map<std::string, std::string> Unpack(const fs::path& archivePath, std::optional<std::string> password) {
  sevenzip::ReaderOptions options;
  options.passwordConverter = [](std::string_view s) { return kem::builder::Utf8ToUtf16(s); };
  sevenzip::Archive archive(sevenzip::OpenInputFile(archivePath.string()), [password] { return password; }, options);
  struct Sink : sevenzip::ExtractSink {
    const std::vector<sevenzip::Entry>* entries = nullptr;
    std::map<std::string, std::string> files;
    std::string current;
    bool BeginEntry(size_t i) override {
      current = (*entries)[i].name;
      files[current];
      return true;
    }
    void Data(const uint8_t* data, size_t size) override { files[current].append(reinterpret_cast<const char*>(data), size); }
    void EndEntry(size_t) override {}
  } sink;
  sink.entries = &archive.Entries();
  for (const auto& e : archive.Entries())
    if (!e.hasStream) sink.files[e.name];
  archive.Extract(std::vector<bool>(archive.Entries().size(), true), sink);
  return sink.files;
}
#endif

// Runs a program; its exit status and what it wrote to standard output and error.
struct Outcome {
  int status = -1;
  std::string output;
};
Outcome RunCommand(const std::string& command) {
  Outcome r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return r;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, p)) r.output.append(buffer, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool HaveSevenZipTool() { return RunCommand("command -v 7zz").status == 0; }

}  // namespace

// --- Stored passwords ---------------------------------------------------------------------

TEST(BlockPassword, StoredFormIsHexLowDigitFirstXoredWithPosition) {
  // "A" is 0x41: digits "1" then "4", XORed with 0 and 1.
  EXPECT_EQ(ScrambleBlockPassword("A"), "15");
  EXPECT_EQ(ScrambleBlockPassword(""), "");
}

TEST(BlockPassword, EveryStorablePasswordRoundTripsThroughTheSetupsDescrambler) {
  // 0xEE has only letter digits, which always have a spelling that is no line break.
  const std::string long37(37, '\xEE');
  const std::vector<std::string> passwords = {
      "",
      "a",
      "c0re-Blocks!",
      "\xE9t\xE9 \x80\xFF\x01",             // code-page bytes >= 0x80, and a control byte
      long37 + "\xA5",                       // its high digit "A" at position 75 would be a line feed
      std::string(140, '\xEE') + "\xAD\xDA",  // positions past 255 wrap
      "0123456789012345678901234",             // 25 characters: always storable
      std::string(24, 'x') + "@",              // its digit "0" at position 48 is stored as a NUL byte
      "$",
  };
  for (const auto& password : passwords) {
    SCOPED_TRACE(password);
    auto stored = ScrambleBlockPassword(password);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 2 * password.size());
    EXPECT_EQ(stored->find_first_of("\r\n"), std::string::npos);
    // What the setup data reads back is what was written.
    SetupData d;
    d.WebBlockSources = {"Block", *stored};
    EXPECT_EQ(ReadSetupData(WriteSetupData(d)).WebBlockSources, d.WebBlockSources);
#ifdef KEM_HAVE_WEB_MEDIA
    EXPECT_EQ(kem::DescrambleBlockPassword(*stored), password);
#endif
  }
}

TEST(BlockPassword, APasswordWhoseStoredFormWouldBreakALineIsRefusedWithItsCharacter) {
  // Character 26 (index 25) is 0x95: its high digit "9" lands on position 51, and
  // '9' ^ 51 is a line feed; a decimal digit has no other spelling.
  std::size_t bad = 0;
  EXPECT_FALSE(ScrambleBlockPassword(std::string(25, 'x') + "\x95", &bad));
  EXPECT_EQ(bad, 25u);
}

// --- The setup data of a web build --------------------------------------------------------

TEST_F(WebBuildTest, SetupDataNamesEachStatementsMediaThePasswordsAndTheFileMap) {
  const CompiledSetup c = CompileProject(LoadProject(Project()));
  const SetupData& d = c.data;
  EXPECT_EQ(d.MediaMode, 2);
  std::vector<std::string> media = d.StatementMedia.Items();
  EXPECT_THAT(media, ElementsAre("OFFLINE\\", "", "Core\\", "", "", "", "Core\\", "", "OFFLINE\\", ""));

  ASSERT_EQ(d.WebBlockSources.size(), 2u);
  EXPECT_EQ(d.WebBlockSources[0], "Core");
  EXPECT_EQ(d.WebBlockSources[1], ScrambleBlockPassword("s\xE9same \x80"));
#ifdef KEM_HAVE_WEB_MEDIA
  EXPECT_EQ(kem::BlockPassword(d, "core"), "s\xE9same \x80");
#endif

  // One triple per file of the block: block, path below the block's folder in the
  // archive, destination below the data folder; offline files have none.
  std::map<std::size_t, std::string> headers;
  for (const auto& s : c.deferred) headers[s.index] = s.header;
  const std::string h3 = headers.at(2), h7 = headers.at(6);
  std::vector<std::string> map = d.MediaFileMap.Items();
  std::vector<std::string> expected = {"Core", h3 + "\\bin\\empty.dat",    "Core\\" + h3 + "\\bin\\",
                                       "Core", h3 + "\\bin\\program.txt",  "Core\\" + h3 + "\\bin\\",
                                       "Core", h3 + "\\core.ini",          "Core\\" + h3 + "\\",
                                       "Core", h7 + "\\more.txt",          "Core\\" + h7 + "\\"};
  // The order follows the statement's file list; compare as sets of triples.
  auto triples = [](const std::vector<std::string>& v) {
    std::multiset<std::string> t;
    for (std::size_t i = 0; i + 2 < v.size(); i += 3) t.insert(v[i] + "|" + v[i + 1] + "|" + v[i + 2]);
    return t;
  };
  EXPECT_EQ(map.size(), expected.size());
  EXPECT_EQ(triples(map), triples(expected));

  // The setup data reads back the same.
  const SetupData back = ReadSetupData(c.setupDataText);
  EXPECT_EQ(back.WebBlockSources, d.WebBlockSources);
  EXPECT_EQ(back.MediaFileMap.Items(), map);
}

TEST_F(WebBuildTest, OutputHoldsTheEncryptedBlockArchiveAndTheOfflineDataAndIsReproducible) {
  const BuildResult r = Build();
  const fs::path data = root_ / "out" / "data";
  const CompiledSetup& c = r.compiled;
  std::map<std::size_t, std::string> headers;
  for (const auto& s : c.deferred) headers[s.index] = s.header;
  const std::string h1 = headers.at(0), h3 = headers.at(2), h7 = headers.at(6), h9 = headers.at(8);

  // Offline files lie below data/OFFLINE/, block files only in the archive.
  EXPECT_EQ(ReadAll(data / "OFFLINE" / h1 / "loose.txt"), "loose file\r\n");
  EXPECT_EQ(ReadAll(data / "OFFLINE" / h9 / "late.txt"), "late offline file");
  EXPECT_FALSE(fs::exists(data / "OFFLINE" / h3));
  EXPECT_FALSE(fs::exists(data / "Core"));
  ASSERT_TRUE(fs::is_regular_file(data / "Core.7zip"));
  // The source marker also travels into the cache folder (through mergemod/, whose files
  // the setup copies into that folder itself), where the installation looks for it.
  EXPECT_TRUE(fs::is_regular_file(data / "mergemod" / "{6F1C2B7A-3D4E-4A5B-9C8D-0E1F2A3B4C5D}"));
  EXPECT_TRUE(fs::is_regular_file(data / "{6F1C2B7A-3D4E-4A5B-9C8D-0E1F2A3B4C5D}"));

  // The installer's source layout matches: each statement's folder below its media folder.
  auto directories = ReadTableRows(r.database.string(), "Directory");
  std::map<std::string, std::vector<std::string>> byKey;
  for (const auto& row : directories) byKey[row[0]] = row;
  const auto& p3 = byKey.at("P" + h3 + "_1");
  EXPECT_EQ(p3[2], h3);
  EXPECT_EQ(byKey.at(p3[1])[2], ".:Core");
  EXPECT_EQ(byKey.at(byKey.at("P" + h1 + "_1")[1])[2], ".:OFFLINE");

#ifdef KEM_HAVE_SEVENZIP
  // The engine's reader unpacks the block with its password, below the block's folder.
  const std::map<std::string, std::string> expected = {
      {"Core\\" + h3 + "\\bin\\empty.dat", ""},
      {"Core\\" + h3 + "\\bin\\program.txt", std::string(5000, 'p') + "end"},
      {"Core\\" + h3 + "\\core.ini", "[Core]\r\nA=1\r\n"},
      {"Core\\" + h7 + "\\more.txt", "more of the core block"},
  };
  // The setup hands the password over in its code page; the reader's converter here takes UTF-8.
  EXPECT_EQ(Unpack(data / "Core.7zip", std::string(kCorePassword)), expected);
  // Headers are encrypted: without the password not even the names can be read.
  try {
    Unpack(data / "Core.7zip", std::nullopt);
    ADD_FAILURE() << "the archive opened without its password";
  } catch (const sevenzip::ArchiveError& e) {
    EXPECT_EQ(e.kind(), sevenzip::ErrorKind::kUnsupported) << e.what();
  }
  try {
    Unpack(data / "Core.7zip", std::string("wrong"));
    ADD_FAILURE() << "the archive opened with a wrong password";
  } catch (const sevenzip::ArchiveError& e) {
    EXPECT_EQ(e.kind(), sevenzip::ErrorKind::kUnsupported) << e.what();
  }
#endif

  // Two builds of the same project give the same bytes, archive included.
  Build("again");
  for (const auto& e : fs::recursive_directory_iterator(root_ / "out")) {
    const fs::path rel = e.path().lexically_relative(root_ / "out");
    SCOPED_TRACE(rel.string());
    ASSERT_TRUE(fs::exists(root_ / "again" / rel));
    if (e.is_regular_file()) EXPECT_TRUE(ReadAll(e.path()) == ReadAll(root_ / "again" / rel));
  }
  // Nothing of the staging is left beside the outputs.
  for (const auto& e : fs::directory_iterator(root_))
    EXPECT_EQ(e.path().filename().string().find(".kembuild-"), std::string::npos) << e.path();
}

TEST_F(WebBuildTest, AnIndependentToolListsTheBlockWithThePasswordAndNothingWithout) {
  if (!HaveSevenZipTool()) GTEST_SKIP() << "7zz is not installed (Debian package 7zip)";
  // A plain ASCII password: the tool takes it from its command line as it is.
  Manifest("[web-blocks]\nCore = \"plain-Pass 42\"\n");
  const BuildResult r = Build();
  const std::string archive = (root_ / "out" / "data" / "Core.7zip").string();
  const std::string h3 = r.compiled.deferred[1].header;
  const Outcome listed = RunCommand("7zz l -slt -p'plain-Pass 42' '" + archive + "'");
  EXPECT_EQ(listed.status, 0) << listed.output;
  EXPECT_THAT(listed.output, HasSubstr("Path = Core/" + h3 + "/bin/program.txt"));
  EXPECT_THAT(listed.output, HasSubstr("7zAES"));
  const Outcome tested = RunCommand("7zz t -p'plain-Pass 42' '" + archive + "'");
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_THAT(tested.output, HasSubstr("Everything is Ok"));
  const Outcome wrong = RunCommand("7zz l -pwrong '" + archive + "'");
  EXPECT_NE(wrong.status, 0);
  EXPECT_THAT(wrong.output, ::testing::Not(HasSubstr("program.txt")));
  const Outcome none = RunCommand("7zz l '" + archive + "' </dev/null");
  EXPECT_NE(none.status, 0);
  EXPECT_THAT(none.output, ::testing::Not(HasSubstr("program.txt")));
}

// --- Checks ---------------------------------------------------------------------------------

TEST_F(WebBuildTest, ChecksLocateWhatAWebBuildLacks) {
  struct Case {
    const char* what;
    std::string blocks;  // the manifest's [web-blocks] section (from line 9)
    std::string script;  // replaces the first two lines of the script when not empty
    std::string file;
    std::size_t line;
    const char* message;
    bool warning;
  };
  const std::string head = "[web-blocks]\n";
  const std::vector<Case> cases = {
      {"block without password", "", "", "main.kems", 2, "web block Core has no password", false},
      {"unknown block in [web-blocks]", head + "Core = pw\nExtra = pw\n", "", kManifestName, 11,
       "web block Extra is not named by any Web Media Block statement", false},
      {"empty password", head + "Core = \"\"\n", "", kManifestName, 10, "the password of web block Core is empty", false},
      {"password that cannot be stored", head + "Core = \"" + std::string(25, 'x') + "\\x95\"\n", "", kManifestName, 10,
       "its character 26 would turn into a line break", false},
      {"same block twice", head + "Core = a\ncore = b\n", "", kManifestName, 11, "already given on line 10", false},
      {"block named OFFLINE", head + "Core = pw\n",
       "Install Files \"loose/*\" \"FALSE\" \"$TARGETDIR$\" \"\"\nWeb Media Block \"Offline\" \"http://x/\"\n",
       "main.kems", 2, "OFFLINE is the folder of the data shipped beside the setup", false},
      {"block name that is no file name", head + "Core = pw\n",
       "Install Files \"loose/*\" \"FALSE\" \"$TARGETDIR$\" \"\"\nWeb Media Block \"a\\\\b\" \"http://x/\"\n",
       "main.kems", 2, "cannot hold", false},
      {"file statement without a block", head + "Core = pw\n", "", "main.kems", 1,
       "Install Files has no Web Media Block before it", true},
      {"block named only by a commented-out statement", head + "Core = pw\nOther = pw\n", "", kManifestName, 11,
       "web block Other is named only by commented-out Web Media Block statements", true},
      {"password beyond ASCII", head + "Core = \"\xC3\xA9t\xC3\xA9\"\n", "", kManifestName, 10,
       "outside ASCII: the setup can unpack the block only on systems whose ANSI code page is 1252", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Manifest(c.blocks);
    std::string script = kWebScript;
    if (!c.script.empty()) script = c.script + script.substr(script.find('\n', script.find('\n') + 1) + 1);
    WriteAll(Project() / "main.kems", script);
    std::vector<Diagnostic> found;
    try {
      found = CompileProject(LoadProject(Project())).warnings;
    } catch (const BuildError& e) {
      found = e.Diagnostics();
    }
    const bool located = std::any_of(found.begin(), found.end(), [&](const Diagnostic& d) {
      return d.file == c.file && d.line == c.line && d.warning == c.warning &&
             d.message.find(c.message) != std::string::npos;
    });
    std::string all;
    for (const auto& d : found) all += FormatDiagnostic(d) + "\n";
    EXPECT_TRUE(located) << all;
  }
}

TEST_F(WebBuildTest, OfflinePasswordServesBlocksWithoutTheirOwnAndExplicitOfflineDataIsNoDoubt) {
  Manifest("[web-blocks]\noffline = fallback\n");
  std::string script = kWebScript;
  script = "{A000000F-0000-4000-8000-00000000000F} Web Media Block \"\" \"\"\n" + script;
  WriteAll(Project() / "main.kems", script);
  const CompiledSetup c = CompileProject(LoadProject(Project()));
  EXPECT_TRUE(c.warnings.empty()) << FormatDiagnostic(c.warnings.front());
  ASSERT_EQ(c.data.WebBlockSources.size(), 2u);
  EXPECT_EQ(c.data.WebBlockSources[0], "offline");
  EXPECT_EQ(c.data.WebBlockSources[1], ScrambleBlockPassword("fallback"));
}

TEST_F(WebBuildTest, KembuildCheckPrintsLocatedMessages) {
  Manifest("[web-blocks]\nExtra = pw\n");
  const Outcome r = RunCommand(std::string(KEMBUILD_EXE) + " check '" + Project().string() + "'");
  EXPECT_NE(r.status, 0);
  EXPECT_THAT(r.output, HasSubstr("main.kems:2: error: web block Core has no password"));
  EXPECT_THAT(r.output, HasSubstr("project.kemp:10: error: web block Extra is not named"));
  Manifest("[web-blocks]\nCore = pw\n");
  const Outcome fine = RunCommand(std::string(KEMBUILD_EXE) + " check '" + Project().string() + "'");
  EXPECT_EQ(fine.status, 0) << fine.output;
  EXPECT_THAT(fine.output, HasSubstr("main.kems:1: warning: Install Files has no Web Media Block before it"));
}

TEST_F(WebBuildTest, WebBlocksOutsideAWebBuildAreADoubt) {
  std::string manifest = kWebManifest;
  manifest.replace(manifest.find("media-mode = 2"), 14, "media-mode = 0");
  WriteAll(Project() / kManifestName, manifest + "[web-blocks]\nCore = pw\n");
  const CompiledSetup c = CompileProject(LoadProject(Project()));
  ASSERT_FALSE(c.warnings.empty());
  EXPECT_EQ(c.warnings.front().line, 10u);
  EXPECT_THAT(c.warnings.front().message, HasSubstr("only by web builds"));
  EXPECT_TRUE(c.data.WebBlockSources.empty());
  // Outside a web build every file-carrying statement keeps the offline folder.
  EXPECT_EQ(c.data.StatementMedia[2], "OFFLINE\\");
}
