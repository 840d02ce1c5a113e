// The installer rows that the deferred statements get: each statement's rows read back
// from the written database, the data folder beside it, component GUIDs that survive a
// rebuild, and the source files that a build cannot find.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/statement_kinds.h"
#include "installer/system_change_statements.h"
#include "kembuild/build_setup.h"
#include "kembuild/installer_database.h"
#include "kembuild/installer_rows.h"

namespace fs = std::filesystem;
using namespace kem::builder;
using ::testing::Contains;
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

// A minimal PE image (one section ending at the end of the file), as the builder's engine.
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

constexpr const char* kProductCode = "{3A1B2C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D}";

class InstallerRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kembuild-rows-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    WriteAll(root_ / "engine" / kEngineFileName, StandInEngine());
    WriteAll(root_ / "engine" / kArchiveLibraryName, "archive library stand-in");
    WriteAll(Project() / kManifestName, std::string("[product]\ncode = ") + kProductCode +
                                            "\nrevision = {4A1B2C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D}\n"
                                            "title = Rows\nversion = 1.0\nsetup-name = rows\nscript = main.kems\n");
    WriteAll(Project() / "app/app.exe", "program");
    WriteAll(Project() / "app/doc/Read Me.txt", "read me");
    WriteAll(Project() / "app/doc/notes.txt", "notes");
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path Project() const { return root_ / "project"; }
  void Script(const std::string& text) { WriteAll(Project() / "main.kems", text); }
  BuildResult Build(const std::string& out = "out") { return BuildSetup({Project(), root_ / out, root_ / "engine"}); }

  // The rows of a table, each joined with tabs, with every command header replaced by
  // "{H" + its statement's number in the script (from 1) + "}".
  std::vector<std::string> Rows(const BuildResult& r, const std::string& table) {
    std::vector<std::string> out;
    for (const auto& row : ReadTableRows(r.database.string(), table)) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i) line += (i ? "\t" : "") + row[i];
      for (const auto& d : r.compiled.deferred) {
        const std::string tag = "{H" + std::to_string(d.index + 1) + "}";
        for (std::size_t at = 0; (at = line.find(d.header, at)) != std::string::npos; at += tag.size())
          line.replace(at, d.header.size(), tag);
      }
      out.push_back(line);
    }
    return out;
  }

  std::vector<Diagnostic> BuildErrors() {
    try {
      Build();
    } catch (const BuildError& e) {
      return e.Diagnostics();
    }
    ADD_FAILURE() << "the build did not fail";
    return {};
  }

  fs::path root_;
};

TEST_F(InstallerRowsTest, EveryStatementGetsItsRowsSwitchedAndFedByItsProperties) {
  Script("Install Files \"app\" \"\" \"$TARGETDIR$\" \"\"\n"                                               // 1
         "Write Registry \"HKCU\" \"Software\\\\Kem\" \"Dir\" \"$TARGETDIR$\" \"\" \"\"\n"                  // 2
         "Write Registry \"HKLM\" \"Software\\\\Kem\" \"Count\" \"7\" \"dword\" \"TRUE\"\n"                 // 3
         "Write Registry \"HKCU\" \"Software\\\\Kem\\\\[x]\" \"\" \"\" \"\" \"\"\n"                         // 4
         "Create Shortcut \"$TARGETDIR$\\\\app.exe\" \"Kem Application\" \"$TARGETDIR$\" \"Starts it\" \"-v\" \"$TARGETDIR$\" \"\" \"\" \"\"\n"  // 5
         "Edit INI File \"$TARGETDIR$\" \"settings.ini\" \"create\" \"Main\" \"Folder\" \"$TARGETDIR$\"\n"  // 6
         "Set Environment \"PATH\" \"$TARGETDIR$\" \"append\" \"TRUE\" \"\"\n"                              // 7
         "Create Folder \"$TARGETDIR$\\\\Logs\"\n"                                                          // 8
         "Delete Files \"$TARGETDIR$\" \"*.log\" \"FALSE\" \"TRUE\"\n"                                        // 9
         "Copy/Move Local Files \"$TARGETDIR$\" \"a.txt\" \"$TARGETDIR$\\\\Old\" \"b.txt\" \"TRUE\"\n"       // 10
         "Create File Type \"Kem.Doc\" \".kemd\" \"Kem document\" \"$TARGETDIR$\\\\app.exe %1\" \"\"\n"     // 11
         "Control Service \"KemSvc\" \"\" \"3\" \"TRUE\"\n"                                                 // 12
         "// Write Registry \"HKCU\" \"Software\\\\Off\" \"x\" \"y\" \"\" \"\"\n");                         // 13
  const BuildResult r = Build();
  ASSERT_EQ(r.compiled.deferred.size(), 12u);  // the commented-out statement has no rows

  struct Expected {
    const char* table;
    std::string row;
  };
  const Expected cases[] = {
      {"Directory", "P{H1}_1\tTARGETDIR\t{H1}"},
      {"Directory", "D{H1}_1\tP{H1}_1\tdoc"},
      {"File", "F{H1}_1\tC{H1}\tapp.exe\t7\t\t\t0\t1"},
      {"File", "F{H1}_2\tC{H1}_1\tREADME~1.TXT|Read Me.txt\t7\t\t\t0\t2"},
      {"File", "F{H1}_3\tC{H1}_1\tnotes.txt\t5\t\t\t0\t3"},
      {"Registry", "R{H2}\t1\tSoftware\\Kem\tDir\t[P{H2}_2]\tC{H2}"},
      {"Registry", "R{H3}\t2\tSoftware\\Kem\tCount\t#7\tC{H3}"},
      {"Registry", "R{H4}\t1\tSoftware\\Kem\\[\\[]x[\\]]\t+\t\tC{H4}"},
      {"Shortcut", "S{H5}\tP{H5}_1\tKem Ap~1|Kem Application\tC{H5}\t[P{H5}_2]\t[P{H5}_3]\tStarts it\t\t\t\t1\tP{H5}_4"},
      {"IniFile", "I{H6}\tsettings.ini\tP{H6}_1\t[P{H6}_2]\t[P{H6}_3]\t[P{H6}_4]\t1\tC{H6}"},
      {"Environment", "E{H7}\t=-*PATH\t[~];[P{H7}_1]\tC{H7}"},
      {"CreateFolder", "P{H8}_1\tC{H8}"},
      {"RemoveFile", "X{H9}\tC{H9}\t*.log\tP{H9}_1\t2"},
      {"MoveFile", "M{H10}\tC{H10}\ta.txt\tb.txt\tP{H10}_1\tP{H10}_2\t1"},
      {"Registry", "R{H11}_1\t0\t[P{H11}_2]\t\t[P{H11}_1]\tC{H11}"},
      {"Registry", "R{H11}_2\t0\t[P{H11}_1]\t\t[P{H11}_3]\tC{H11}"},
      {"Registry", "R{H11}_3\t0\t[P{H11}_1]\\shell\\open\\command\t\t[P{H11}_4]\tC{H11}"},
      {"Registry", "R{H11}_5\t0\t[P{H11}_1]\t-\t\tC{H11}"},
      {"ServiceControl", "V{H12}\t[P{H12}_1]\t3\t\t1\tC{H12}"},
  };
  for (const auto& c : cases) EXPECT_THAT(Rows(r, c.table), Contains(c.row)) << c.table;
  EXPECT_EQ(Rows(r, "Registry").size(), 7u);  // nothing of the commented-out statement

  // Every component: its own switch, the feature, and a permanent one where asked.
  std::map<std::string, std::string> conditions, attributes;
  for (const auto& row : ReadTableRows(r.database.string(), "Component")) {
    conditions[row[0]] = row[4];
    attributes[row[0]] = row[3];
  }
  EXPECT_EQ(conditions.size(), 13u);  // two folders of Install Files, one per other statement
  for (const auto& d : r.compiled.deferred)
    EXPECT_EQ(conditions["C" + d.header], "A" + d.header + "=\"TRUE\"") << d.name;
  EXPECT_EQ(attributes["C" + r.compiled.deferred[2].header], "16");
  EXPECT_EQ(ReadTableRows(r.database.string(), "FeatureComponents").size(), conditions.size());
  // The media's last sequence covers every file.
  EXPECT_EQ(ReadTableRows(r.database.string(), "Media").at(0).at(1), "3");
}

// The parameter property names (P<header>_<n>) in a text: header and n of each.
std::vector<std::pair<std::string, int>> PropertyNames(const std::string& text) {
  std::vector<std::pair<std::string, int>> out;
  auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  for (std::size_t p = text.find('P'); p != std::string::npos; p = text.find('P', p + 1)) {
    std::size_t h = p + 1;
    while (h < text.size() && hex(text[h])) ++h;
    if (h == p + 1 || h >= text.size() || text[h] != '_') continue;
    std::size_t d = h + 1;
    while (d < text.size() && digit(text[d])) ++d;
    if (d == h + 1) continue;
    out.emplace_back(text.substr(p + 1, h - p - 1), std::stoi(text.substr(h + 1, d - h - 1)));
  }
  return out;
}

// The rows and the engine agree on the parameter properties: every property a row reads is
// one the engine records for that statement, and every one the installer takes a folder
// from (a Directory row, a folder property of RemoveFile, MoveFile or IniFile) is one the
// engine refuses to record unless it is a full path. Otherwise the installer would read an
// empty value and put the statement's work below TARGETDIR instead of failing it.
TEST_F(InstallerRowsTest, RowsReadOnlyPropertiesTheEngineRecordsAndChecks) {
  Script("Set Variable \"A\" \"C:\\\\Kem\"\n"
         "Install Files \"app\" \"\" \"$A$\" \"\"\n"
         "Install Assembly \"app/app.exe\" \"\" \"$A$\"\n"
         "Install Service \"app/app.exe\" \"$A$\" \"\" \"$A$\" \"$A$\" \"$A$\" \"\" \"\" \"$A$\" \"$A$\" \"TRUE\" \"\" "
         "\"$A$\" \"$A$\" \"$A$\"\n"
         "Control Service \"$A$\" \"$A$\" \"3\" \"TRUE\"\n"
         "Write Registry \"HKCU\" \"Software\\\\Kem\" \"$A$\" \"$A$\" \"\" \"\"\n"
         "Create Shortcut \"$A$\" \"$A$\" \"$A$\" \"$A$\" \"$A$\" \"$A$\" \"\" \"\" \"\"\n"
         "Advertised Shortcut \"$A$\" \"$A$\" \"$A$\" \"$A$\" \"$A$\" \"$A$\" \"\" \"\" \"\"\n"
         "Edit INI File \"$A$\" \"settings.ini\" \"write\" \"$A$\" \"$A$\" \"$A$\"\n"
         "Set Environment \"PATH\" \"$A$\" \"append\" \"FALSE\" \"\"\n"
         "Create Folder \"$A$\"\n"
         "Delete Files \"$A$\" \"*.log\" \"FALSE\" \"TRUE\"\n"
         "Copy/Move Local Files \"$A$\" \"a.txt\" \"$A$\" \"\" \"TRUE\"\n"
         "Create File Type \"$A$\" \"$A$\" \"$A$\" \"$A$\" \"$A$\"\n");
  const BuildResult r = Build();
  std::map<std::string, kem::StatementKind> kinds;  // header -> kind
  for (const auto& d : r.compiled.deferred) kinds[d.header] = kem::ResolveStatementKind(d.name);
  ASSERT_EQ(kinds.size(), 13u);

  // The rule of property n of the statement with the header, or null.
  auto rule = [&](const std::string& header, int n) -> const kem::ParameterRule* {
    for (const auto& rl : kem::DeferredParameterRules(kinds.at(header)))
      if (rl.Property == n) return &rl;
    return nullptr;
  };
  const std::string db = r.database.string();
  std::set<std::string> seen;
  for (const char* table : {"Directory", "Component", "File", "Registry", "Shortcut", "IniFile", "Environment",
                            "CreateFolder", "RemoveFile", "MoveFile", "ServiceInstall", "ServiceControl"}) {
    for (const auto& row : ReadTableRows(db, table)) {
      for (const auto& field : row) {
        for (const auto& [header, n] : PropertyNames(field)) {
          if (!kinds.count(header)) continue;
          const std::string name = "P" + header + "_" + std::to_string(n);
          EXPECT_NE(rule(header, n), nullptr)
              << name << " in " << table << " is not recorded by " << kem::StatementKindName(kinds.at(header));
          seen.insert(name);
        }
      }
    }
  }
  EXPECT_GE(seen.size(), 30u);  // the scan found the references

  // Where the installer takes a folder from a property.
  std::vector<std::string> folders;
  for (const auto& row : ReadTableRows(db, "Directory")) folders.push_back(row[0]);
  for (const auto& row : ReadTableRows(db, "IniFile")) folders.push_back(row[2]);
  for (const auto& row : ReadTableRows(db, "RemoveFile")) folders.push_back(row[3]);
  for (const auto& row : ReadTableRows(db, "MoveFile")) {
    folders.push_back(row[4]);
    folders.push_back(row[5]);
  }
  int checked = 0;
  for (const auto& folder : folders) {
    const auto names = PropertyNames(folder);
    if (names.size() != 1 || !kinds.count(names[0].first)) continue;
    const auto& [header, n] = names[0];
    const kem::ParameterRule* found = rule(header, n);
    ASSERT_NE(found, nullptr) << folder;
    EXPECT_TRUE(found->Folder) << folder << " of " << kem::StatementKindName(kinds.at(header))
                               << " is a folder the engine does not check";
    ++checked;
  }
  EXPECT_GE(checked, 10);
}

TEST_F(InstallerRowsTest, FilesLieUncompressedBelowDataWithTheSourceMarker) {
  Script("Install Files \"app/*.exe|app/doc/Read Me.txt\" \"\" \"C:\\\\Program Files\\\\Kem\"\n"
         "Install Files \"app/*.txt\" \"TRUE\" \"$TARGETDIR$\"\n");
  const BuildResult r = Build();
  const fs::path data = root_ / "out" / kDataFolderName;
  const std::string h1 = r.compiled.deferred[0].header, h2 = r.compiled.deferred[1].header;
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(data))
    if (e.is_regular_file()) files.push_back(e.path().lexically_relative(data).generic_string());
  std::sort(files.begin(), files.end());
  std::vector<std::string> expected = {h1 + "/Read Me.txt", h1 + "/app.exe", h2 + "/doc/Read Me.txt",
                                       h2 + "/doc/notes.txt", kProductCode};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files, expected);
  EXPECT_EQ(ReadAll(data / h2 / "doc" / "notes.txt"), "notes");
  EXPECT_EQ(ReadSummaryWordCount(r.database.string()), 8);  // uncompressed, long names

  // The source root is the data folder that SRCDIR names, before anything else runs.
  EXPECT_THAT(Rows(r, "CustomAction"), Contains("SourceFromSrcDir\t51\tSourceDir\t[SRCDIR]"));
  for (const char* sequence : {"InstallExecuteSequence", "InstallUISequence"}) {
    auto rows = ReadTableRows(r.database.string(), sequence);
    auto first = std::min_element(rows.begin(), rows.end(),
                                  [](const auto& a, const auto& b) { return std::stoi(a[2]) < std::stoi(b[2]); });
    EXPECT_EQ((*first)[0], "SourceFromSrcDir") << sequence;
    EXPECT_EQ((*first)[1], "SRCDIR") << sequence;
  }

  // A rebuild into the same folder replaces the data folder: a file no longer installed goes.
  Script("Install Files \"app/app.exe\" \"\" \"$TARGETDIR$\"\n");
  const BuildResult again = Build();
  EXPECT_FALSE(fs::exists(data / h2));
  EXPECT_TRUE(fs::exists(data / again.compiled.deferred[0].header / "app.exe"));
}

// msitools' own reader finds every table and row of the database the builder wrote.
TEST_F(InstallerRowsTest, MsidumpReadsTheSameRows) {
  Script("Install Files \"app\" \"\" \"$TARGETDIR$\" \"\"\n"
         "Write Registry \"HKCU\" \"Software\\\\Kem\" \"Dir\" \"$TARGETDIR$\" \"\" \"\"\n"
         "Create Shortcut \"$TARGETDIR$\\\\app.exe\" \"Kem App\" \"$TARGETDIR$\" \"Starts it\" \"\" \"\" \"\" \"\" \"\"\n"
         "Edit INI File \"$TARGETDIR$\" \"settings.ini\" \"write\" \"Main\" \"Folder\" \"$TARGETDIR$\"\n"
         "Set Environment \"KEM\" \"$TARGETDIR$\" \"set\" \"FALSE\" \"\"\n"
         "Create Folder \"$TARGETDIR$\\\\Logs\"\n");
  const BuildResult r = Build();
  const fs::path dump = root_ / "dump";
  fs::create_directories(dump);
  const std::string command = "msidump -d '" + dump.string() + "' '" + r.database.string() + "' >/dev/null 2>&1";
  if (std::system("command -v msidump >/dev/null 2>&1") != 0) GTEST_SKIP() << "msidump (msitools) is not installed";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  int tables = 0;
  for (const char* table : {"Property", "Directory", "Component", "FeatureComponents", "File", "Registry", "Shortcut",
                            "IniFile", "Environment", "CreateFolder", "CustomAction", "InstallExecuteSequence"}) {
    SCOPED_TRACE(table);
    std::istringstream idt(ReadAll(dump / (std::string(table) + ".idt")));
    std::vector<std::string> dumped;
    std::string line;
    for (int n = 0; std::getline(idt, line); ++n) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (n >= 3 && !line.empty()) dumped.push_back(line);  // after names, types and keys
    }
    std::vector<std::string> read;
    for (const auto& row : ReadTableRows(r.database.string(), table)) {
      std::string joined;
      for (std::size_t i = 0; i < row.size(); ++i) joined += (i ? "\t" : "") + row[i];
      read.push_back(joined);
    }
    std::sort(dumped.begin(), dumped.end());
    std::sort(read.begin(), read.end());
    EXPECT_FALSE(read.empty());
    EXPECT_EQ(dumped, read);
    ++tables;
  }
  EXPECT_EQ(tables, 12);
}

TEST_F(InstallerRowsTest, ComponentGuidsSurviveRebuildsAndNewStatements) {
  const std::string id = "{0D1C2B3A-4958-4677-8695-A4B3C2D1E0F9}";
  Script(id + " Write Registry \"HKCU\" \"Software\\\\Kem\" \"a\" \"b\" \"\" \"\"\n");
  const BuildResult first = Build("first");
  Build("second");
  EXPECT_EQ(ReadAll(root_ / "first" / "rows.msi"), ReadAll(root_ / "second" / "rows.msi"));

  Script("Set Variable \"X\" \"1\"\nInstall Files \"app/app.exe\" \"\" \"$TARGETDIR$\"\n" + id +
         " Write Registry \"HKCU\" \"Software\\\\Kem\" \"a\" \"b\" \"\" \"\"\n");
  const BuildResult later = Build("third");
  auto guidOf = [](const BuildResult& r, const std::string& header) {
    for (const auto& row : ReadTableRows(r.database.string(), "Component"))
      if (row[0] == "C" + header) return row[1];
    return std::string();
  };
  const std::string guid = guidOf(first, first.compiled.deferred[0].header);
  EXPECT_THAT(guid, ::testing::MatchesRegex("\\{[0-9A-F]{8}-[0-9A-F]{4}-5[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}"));
  EXPECT_EQ(guidOf(later, later.compiled.deferred[1].header), guid);
  EXPECT_NE(guidOf(later, later.compiled.deferred[0].header), guid);
}

TEST_F(InstallerRowsTest, SourcesAndValuesTheDatabaseCannotTakeAreErrorsWithTheirLine) {
  struct Case {
    const char* statement;
    const char* message;
  };
  const Case cases[] = {
      {"Install Files \"app/missing.exe\" \"\" \"$TARGETDIR$\"", "source file app/missing.exe not found"},
      {"Install Files \"app/*.dll\" \"\" \"$TARGETDIR$\"", "no source file matches app/*.dll"},
      {"Install Files \"nowhere/*.exe\" \"\" \"$TARGETDIR$\"", "source folder nowhere not found"},
      {"Install Files \"../outside.txt\" \"\" \"$TARGETDIR$\"", "lies outside the project folder"},
      {"Install Files \"app/app.exe|app/./app.exe\" \"\" \"$TARGETDIR$\"", "two source files would be installed as app.exe"},
      // Installed names keep the engine's rules, also for a folder on their way.
      {"Install Files \"dev/con.txt\" \"\" \"$TARGETDIR$\"", "source file dev/con.txt: the engine refuses this name"},
      {"Install Files \"dev\" \"\" \"$TARGETDIR$\"", "the engine refuses this name"},
      {"Install Files \"dev/*.txt\" \"\" \"$TARGETDIR$\"", "the engine refuses this name"},
      {"Write Registry \"HKCC\" \"Software\\\\Kem\" \"a\" \"b\" \"\" \"\"", "HKCR, HKCU, HKLM and HKU only"},
      {"Write Registry \"HKCU\" \"Software\\\\$X$\" \"a\" \"b\" \"\" \"\"", "cannot use variables"},
      {"Create File Type \"Kem.Doc\" \"kemd\" \"\" \"app.exe\" \"\"", "extension with its dot"},
      {"Create ODBC DSN", "ODBC"},
  };
  WriteAll(root_ / "outside.txt", "outside");
  WriteAll(Project() / "dev/con.txt", "a device's name");
  WriteAll(Project() / "dev/aux/ok.dat", "below a device's name");
  for (const auto& c : cases) {
    Script(std::string("Set Variable \"X\" \"1\"\n") + c.statement + "\n");
    const auto errors = BuildErrors();
    ASSERT_FALSE(errors.empty()) << c.statement;
    EXPECT_EQ(errors[0].file, "main.kems") << c.statement;
    EXPECT_EQ(errors[0].line, 2u) << c.statement;
    EXPECT_THAT(errors[0].message, HasSubstr(c.message)) << c.statement;
    EXPECT_FALSE(fs::exists(root_ / "out" / "rows.msi")) << c.statement;
  }
}

TEST(ShortFileNames, KeepShortNamesAndNumberTheRest) {
  std::vector<std::string> used;
  EXPECT_EQ(ShortFileName("app.exe", used), "app.exe");
  EXPECT_EQ(ShortFileName("Read Me First.txt", used), "README~1.TXT");
  EXPECT_EQ(ShortFileName("Read Me Later.txt", used), "README~2.TXT");
  EXPECT_EQ(ShortFileName("APP.EXE", used), "APP~1.EXE");  // taken without regard to case
  EXPECT_EQ(ShortFileName("archive.tar.gz", used), "ARCHIV~1.GZ");
  EXPECT_EQ(ShortFileName("   ", used), "F~1");
  EXPECT_EQ(FormattedLiteral("a[b]c"), "a[\\[]b[\\]]c");
}

}  // namespace
