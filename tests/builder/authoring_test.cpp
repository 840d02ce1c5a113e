// What an author meets while writing a project: every mistake reported in one run with its
// place, names that tie dialogs, statements and the manifest together, support texts in
// the setup's code page, and the engine found without being named.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>
#include <string>
#include <vector>

#include "kembuild/build_setup.h"
#include "kembuild/check_project.h"

namespace fs = std::filesystem;
using namespace kem::builder;
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

// A path as one word of a shell command line.
std::string Quoted(const fs::path& p) {
  std::string out = "'";
  for (char c : p.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A PE image the build takes for an engine; machine 0x14C is a 32-bit one, 0x8664 64-bit.
std::string StandInEngine(unsigned machine) {
  std::string b(0x400, '\0');
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3C] = static_cast<char>(0x80);
  b[0x80] = 'P';
  b[0x81] = 'E';
  b[0x84] = static_cast<char>(machine & 0xFF);
  b[0x85] = static_cast<char>(machine >> 8);
  b[0x86] = 1;  // NumberOfSections
  const std::size_t section = 0x84 + 244;
  b[section + 16 + 1] = 0x02;  // SizeOfRawData 0x200
  b[section + 20 + 1] = 0x02;  // PointerToRawData 0x200
  return b;
}

const char kManifest[] =
    "[product]\n"                                            // 1
    "code = {5D0C3A9E-1B2F-4C6D-8E7A-9F0B1C2D3E4F}\n"        // 2
    "revision = {A1B2C3D4-E5F6-4789-9ABC-DEF012345678}\n"    // 3
    "title = L'Atelier d'Émile\n"                            // 4
    "version = 1.0\n"                                        // 5
    "code-page = 1252\n"                                     // 6
    "script = main.kems\n";                                  // 7

class AuthoringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kembuild-authoring-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path Project() const { return root_ / "Émile's project"; }
  void Write(const std::string& relative, const std::string& bytes) { WriteAll(Project() / relative, bytes); }

  fs::path root_;
};

std::string Listed(const std::vector<Diagnostic>& ds) {
  std::string out;
  for (const auto& d : ds) out += FormatDiagnostic(d) + "\n";
  return out;
}

// The support archive's copy of a file.
std::string Packed(const ProjectCheck& c, const std::string& name) {
  for (const auto& e : c.compiled.supportFiles)
    if (e.name == name) return EntryBytes(e);
  ADD_FAILURE() << "no support file " << name;
  return {};
}

// --- One run, every mistake ---------------------------------------------------------------

// One project with one mistake of every kind an author makes: each message comes in the
// same run, at its file and line, errors and warnings each ordered by file and line.
TEST_F(AuthoringTest, EveryMistakeOfEveryKindInOneRun) {
  Write("project.kemp", std::string(kManifest) +
                            "[component-sizes]\n"        // 8
                            "Programme = 4096\n"         // 9
                            "Documentaton = 100\n"       // 10
                            "[support-files]\n"          // 11
                            "texts/license.txt\n"        // 12
                            "texts/readme.txt\n");       // 13
  Write("texts/license.txt", "\xEF\xBB\xBF" "Conditions d'utilisation\n© L'Atelier d'Émile\n日本語の条件\n");
  Write("main.kems",
        "Define Component \"Programme\" \"TRUE\" \"Le programme\"\n"                      // 1
        "Define Component \"Documentation\" \"FALSE\" \"L'aide\"\n"                       // 2
        "Set Variable \"INSTALLDIR\" \"$PROGRAMFILES$\\\\Émile\"\n"                      // 3
        "Display Dialog \"Destination\"\n"                                                // 4
        "Get Component State \"Programe\" \"WANTED\"\n"                                    // 5
        "Set Component Choice \"Documentatoin\" \"FALSE\"\n"                              // 6
        "Set Component Space \"Programme\\\\Aide\" \"100\"\n"                             // 7
        "If \"WANTD\" \"=\" \"TRUE\"\n"                                                   // 8
        "  Write Registry \"HKCU\" \"Software\\\\Émile\" \"Size\" \"lots\" \"dword\"\n"  // 9
        "  Write Registry \"HKCY\" \"Software\\\\Émile\" \"Name\" \"x\"\n"                // 10
        "End\n"                                                                           // 11
        "If \"WANTED\" \"bigger\" \"1\"\n"                                                // 12
        "End\n"                                                                           // 13
        "Get Folder Location \"FOLDER\" \"29\"\n"                                        // 14
        "Install Files \"files\\\\missing.exe\" \"\" \"$INSTALLDIR$\"\n"                 // 15
        "Terminate with Exit Code \"$CDOE$\"\n");                                         // 16
  Write("dialogs/Destination.dfm.txt",
        "object Destination: TPoolTemplate\n"             // 1
        "  Caption = 'Dossier de $TITEL$'\n"              // 2
        "  object Edit1: TEdit\n"                         // 3
        "    Hint = 'INSTALDIR'\n"                        // 4
        "    Tag = 2\n"                                   // 5
        "  end\n"                                         // 6
        "  object Label1: TLabel\n"                       // 7
        "    Captoin = 'Où installer ?'\n"                // 8
        "  end\n"                                         // 9
        "end\n");

  const ProjectCheck c = CheckProject(Project());
  struct Expected {
    std::string file;
    std::size_t line;
    std::string message;
  };
  const Expected errors[] = {
      {"dialogs/Destination.dfm.txt", 2, "Destination shows $TITEL$, which no statement sets"},
      {"dialogs/Destination.dfm.txt", 2, "did you mean $TITLE$?"},
      {"dialogs/Destination.dfm.txt", 4, "Edit1 binds the variable INSTALDIR, which no statement sets"},
      {"dialogs/Destination.dfm.txt", 4, "did you mean $INSTALLDIR$?"},
      {"dialogs/Destination.dfm.txt", 8, "TLabel has no property Captoin; did you mean Caption?"},
      {"main.kems", 5, "Get Component State names the component Programe, which no Define Component defines; "
                       "did you mean \"Programme\"?"},
      {"main.kems", 6, "did you mean \"Documentation\"?"},
      {"main.kems", 7, "Set Component Space names the component Programme\\Aide"},
      {"main.kems", 8, "Variable not defined: $WANTD$; did you mean $WANTED$?"},
      {"main.kems", 9, "the data of a dword value must be a whole number"},
      {"main.kems", 10, "is \"HKCY\", which is none of HKCR (0)"},
      {"main.kems", 12, "is \"bigger\", which is none of = (0)"},
      {"main.kems", 14, "must lie between 0 and 28"},
      {"main.kems", 15, "missing.exe not found"},
      {"project.kemp", 10, "[component-sizes] names the component Documentaton, which no Define Component defines; "
                           "did you mean \"Documentation\"?"},
      {"project.kemp", 13, "support file texts/readme.txt not found"},
      {"texts/license.txt", 3, "cannot be shown in the setup's code page 1252"},
  };
  for (const auto& e : errors) {
    SCOPED_TRACE(e.message);
    auto found = std::find_if(c.errors.begin(), c.errors.end(), [&](const Diagnostic& d) {
      return d.file == e.file && d.line == e.line && d.message.find(e.message) != std::string::npos;
    });
    EXPECT_NE(found, c.errors.end()) << Listed(c.errors);
  }
  EXPECT_THAT(c.warnings, ::testing::Contains(::testing::Field(
                              &Diagnostic::message, HasSubstr("nothing in the project defines the variable CDOE"))));
  // The If's variable is an error, not also a doubt.
  for (const auto& w : c.warnings) EXPECT_NE(w.line, 8u) << w.message;
  // The manifest first (it names the other files), then the files by name, each by line.
  auto ordered = [](const std::vector<Diagnostic>& ds) {
    auto key = [](const Diagnostic& d) { return std::make_tuple(d.file != kManifestName, d.file, d.line); };
    return std::is_sorted(ds.begin(), ds.end(),
                          [&](const Diagnostic& a, const Diagnostic& b) { return key(a) < key(b); });
  };
  ASSERT_FALSE(c.errors.empty());
  EXPECT_EQ(c.errors.front().file, kManifestName);
  EXPECT_TRUE(ordered(c.errors));
  EXPECT_TRUE(ordered(c.warnings));

  // The command line prints the same messages, located, and fails; a build stops with all
  // of them too.
  const std::string err = (root_ / "err.txt").string();
  const int status =
      std::system((std::string(KEMBUILD_EXE) + " check " + Quoted(Project()) + " >/dev/null 2>" + err).c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  const std::string printed = ReadAll(err);
  for (const auto& e : errors)
    EXPECT_THAT(printed, HasSubstr(e.file + ":" + std::to_string(e.line) + ": error: ")) << e.message;
  EXPECT_THAT(printed, HasSubstr("main.kems:16: warning: "));
  try {
    BuildSetup({Project(), root_ / "out", root_ / "no engine"});
    ADD_FAILURE() << "the build did not fail";
  } catch (const BuildError& e) {
    std::size_t errorsSeen = 0;
    for (const auto& d : e.Diagnostics()) errorsSeen += d.warning ? 0 : 1;
    EXPECT_EQ(errorsSeen, c.errors.size());
  }
  EXPECT_FALSE(fs::exists(root_ / "out"));
}

// What the project defines passes: bound variables that statements set or the engine
// defines, a Hint written as $NAME$, texts naming them, components named in any letter
// case, names made of variables (nothing can be told).
TEST_F(AuthoringTest, NamesTheProjectDefinesPass) {
  Write("project.kemp", std::string(kManifest) + "[component-sizes]\nPROGRAMME = 4096\nVRAX-PREDEF-COMPONENT = 10\n");
  Write("main.kems",
        "Define Component \"Programme\" \"TRUE\" \"\"\n"
        "Define Component \"$EXTRA$\" \"TRUE\" \"\"\n"
        "Set Variable \"EXTRA\" \"Outils\"\n"
        "Set Variable \"ACCEPT\" \"FALSE\"\n"
        "Get Component State \"programme\" \"WANTED\"\n"
        "Set Component Choice \"Outils\" \"TRUE\"\n"
        "If \"EXTRA\" \"defined\" \"\"\n"
        "  Write Registry \"HKCU\" \"Software\\\\Émile\" \"Size\" \"$WANTED$\" \"dword\"\n"
        "  Write Registry \"HKCU\" \"Software\\\\Émile\" \"Count\" \"-1\" \"dword\"\n"
        "End\n"
        "Display Dialog \"Licence\"\n");
  Write("dialogs/Licence.dfm.txt",
        "object Licence: TPoolTemplate\n"
        "  Caption = 'Licence de $TITLE$ pour $WANTED$'\n"
        "  object Accept: TRzCheckBox\n"
        "    Caption = 'J''accepte'\n"
        "    Hint = '$ACCEPT$'\n"
        "  end\n"
        "  object Folder: TEdit\n"
        "    Hint = 'TARGETDIR'\n"
        "  end\n"
        "  object Note: TLabel\n"
        "    Caption = 'Coût : $5'\n"
        "    Hint = 'A tooltip, not a variable'\n"
        "  end\n"
        "end\n");
  const ProjectCheck c = CheckProject(Project());
  EXPECT_TRUE(c.errors.empty()) << Listed(c.errors);
}

// --- Support texts ---------------------------------------------------------------------------

// Readme and licence texts reach the setup in its code page: UTF-8, with or without a
// byte-order mark, is converted; a text that is no UTF-8 is taken to be in the code page
// already and kept byte for byte, as are plain ASCII and files that are no texts.
TEST_F(AuthoringTest, SupportTextsAreConvertedToTheCodePage) {
  struct Case {
    const char* name;
    std::string bytes, packed;
  } cases[] = {
      {"license.txt", "\xEF\xBB\xBF" "Café d'Émile\r\n", "Caf\xE9 d'\xC9mile\r\n"},
      {"readme.txt", "Über l'été\n", "\xDC" "ber l'\xE9t\xE9\n"},
      {"readme.French.txt", "d\xE9j\xE0 en 1252\n", "d\xE9j\xE0 en 1252\n"},
      {"index.htm", "<p>plain</p>\n", "<p>plain</p>\n"},
      {"shared.translations.French", "Fran\xC3\xA7" "ais\n", "Fran\xE7" "ais\n"},
      {"picture.bmp", "BM\xC3\xA9\x00\x01", "BM\xC3\xA9\x00\x01"},
  };
  std::string manifest = std::string(kManifest) + "[support-files]\n";
  for (const auto& c : cases) {
    Write(std::string("texts/") + c.name, c.bytes);
    manifest += std::string("texts/") + c.name + "\n";
  }
  Write("project.kemp", manifest);
  Write("main.kems", "Comment\n");
  const ProjectCheck checked = CheckProject(Project());
  ASSERT_TRUE(checked.errors.empty()) << FormatDiagnostic(checked.errors.front());
  for (const auto& c : cases) EXPECT_EQ(Packed(checked, c.name), c.packed) << c.name;
}

// --- The engine found -------------------------------------------------------------------------

// A builder run from a native build tree takes the engine of a Windows build tree beside it
// (the 32-bit one, which setups ship, before a newer 64-bit one) and says which it used.
TEST_F(AuthoringTest, TheEngineOfTheBuildTreeIsFoundAndNamed) {
  const fs::path build = root_ / "build dir";
  const fs::path builder = build / "native" / "tools" / "kembuild";
  fs::create_directories(builder);
  WriteAll(build / "native" / "CMakeCache.txt", "");
  fs::copy_file(KEMBUILD_EXE, builder / "kembuild");
  fs::permissions(builder / "kembuild", fs::perms::owner_all);
  Write("project.kemp", kManifest);
  Write("main.kems", "Comment\n");
  unsetenv("KEM_ENGINE_DIR");
  auto run = [&](const std::string& out) {
    const std::string err = (root_ / "err.txt").string();
    int status = std::system((Quoted(builder / "kembuild") + " build " + Quoted(Project()) + " -o " +
                              Quoted(root_ / out) + " >/dev/null 2>" + err)
                                 .c_str());
    return std::make_pair(WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(err));
  };
  // Nothing built yet: the message says where the builder looked.
  auto [none, noneErr] = run("o0");
  EXPECT_EQ(none, 1);
  EXPECT_THAT(noneErr, HasSubstr("cannot find the engine"));
  EXPECT_THAT(noneErr, HasSubstr("build trees beside"));

  WriteAll(build / "win32" / "src" / "launcher" / kEngineFileName, StandInEngine(0x14C));
  WriteAll(build / "win32" / "src" / "kemlib" / kArchiveLibraryName, "32-bit library");
  WriteAll(build / "win64" / "src" / "launcher" / kEngineFileName, StandInEngine(0x8664));
  WriteAll(build / "win64" / "src" / "kemlib" / kArchiveLibraryName, "64-bit library");
  WriteAll(build / "notes" / kEngineFileName, "not a program");
  WriteAll(build / "notes" / kArchiveLibraryName, "not a library");
  auto [status, err] = run("o1");
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(ReadAll(root_ / "o1" / kArchiveLibraryName), "32-bit library");
  EXPECT_THAT(err, HasSubstr("using the engine " + (build / "win32" / "src" / "launcher" / kEngineFileName).string()));

  // Without the 32-bit engine, the 64-bit one.
  fs::remove_all(build / "win32");
  auto [status64, err64] = run("o2");
  EXPECT_EQ(status64, 0) << err64;
  EXPECT_EQ(ReadAll(root_ / "o2" / kArchiveLibraryName), "64-bit library");
}

}  // namespace
