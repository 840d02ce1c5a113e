#include "launcher/command_line.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "launcher/support_folder.h"

namespace kem {
namespace {

TEST(CommandLine, SilentSwitchForms) {
  struct Case {
    std::vector<std::string> args;
    bool silent;
    bool update;
  };
  const Case cases[] = {
      {{"/s"}, true, false},       {{"-S"}, true, false},     {{"/QN"}, true, false},
      {{"-qn"}, true, false},      {{"s"}, false, false},     {{"qn"}, false, false},
      {{"/silent"}, false, false}, {{"/update"}, false, true}, {{"-UpdateSetup"}, false, true},
      {{"x", "/s", "/update"}, true, true},
  };
  for (const auto& c : cases) {
    auto r = ParseArguments(c.args);
    EXPECT_EQ(r.Silent, c.silent) << c.args[0];
    EXPECT_EQ(r.Update, c.update) << c.args[0];
  }
}

TEST(CommandLine, ValueArguments) {
  // The value is the lower-cased argument minus its first three characters.
  auto r = ParseArguments({"/L=C:\\Logs\\Trace.TXT", "/g=\\\\Server\\Policy", "/M=C:\\Outer\\Pkg.EXE", "-P=D:\\Data"});
  EXPECT_EQ(r.TraceLogPath, "c:\\logs\\trace.txt");
  EXPECT_EQ(r.GroupPolicyPath, "\\\\server\\policy");
  EXPECT_EQ(r.OuterPackagePath, "c:\\outer\\pkg.exe");
  EXPECT_EQ(r.DataPathOverride, "d:\\data");
  // A marker inside an argument is part of that argument: the assignment stays an
  // assignment and names no trace log (it used to send the log to "\\l=evil.log").
  auto inside = ParseArguments({"X=a/l=evil.log", "xx-p=d:\\data", "y/g=c:\\x", "z/m=c:\\y"});
  EXPECT_EQ(inside.TraceLogPath, "");
  EXPECT_EQ(inside.DataPathOverride, "");
  EXPECT_EQ(inside.GroupPolicyPath, "");
  EXPECT_EQ(inside.OuterPackagePath, "");
  ASSERT_EQ(inside.Assignments.size(), 8u);  // each is an assignment NAME=VALUE
  EXPECT_EQ(inside.Assignments[1], "a/l=evil.log");
  // The first matching argument wins, and "/l=" is preferred to "-l=".
  auto first = ParseArguments({"-l=c:\\one", "/l=c:\\two", "/l=c:\\three"});
  EXPECT_EQ(first.TraceLogPath, "c:\\two");
}

TEST(CommandLine, ATraceLogNeverNamesTheSetupsOwnFiles) {
  const TextRules& rules = Latin1Rules();
  for (const char* own : {"C:\\Setup\\SETUP.EXE", "c:\\setup\\setup.msi", "C:\\Setup\\setup.res",
                          "C:\\Setup\\Kem.Lib", "C:\\Setup\\setup.msp", "C:\\Setup\\setup.bmp"})
    EXPECT_TRUE(NamesSetupFile(own, "C:\\Setup\\", "setup", rules)) << own;
  for (const char* other : {"C:\\Setup\\setup.log", "C:\\Other\\setup.exe", "C:\\Setup\\setup.exe.log"})
    EXPECT_FALSE(NamesSetupFile(other, "C:\\Setup\\", "setup", rules)) << other;
}

TEST(CommandLine, Assignments) {
  auto r = ParseArguments({"InstallDir=C:\\Program Files\\X", "/s", "-A=B", "mode=a=b", "plain", "=empty"});
  ASSERT_EQ(r.Assignments.size(), 6u);
  EXPECT_EQ(r.Assignments[0], "INSTALLDIR");
  EXPECT_EQ(r.Assignments[1], "C:\\Program Files\\X");
  EXPECT_EQ(r.Assignments[2], "MODE");
  EXPECT_EQ(r.Assignments[3], "a=b");
  EXPECT_EQ(r.Assignments[4], "");
  EXPECT_EQ(r.Assignments[5], "empty");
}

TEST(CommandLine, CommandTail) {
  EXPECT_EQ(ComputeCommandTail("\"C:\\Program Files\\setup.exe\" /s A=1"), "/s A=1");
  EXPECT_EQ(ComputeCommandTail("\"C:\\setup.exe\""), "");
  EXPECT_EQ(ComputeCommandTail("C:\\setup.exe /s"), "/s");
  EXPECT_EQ(ComputeCommandTail("C:\\setup.exe"), "");
  EXPECT_EQ(ComputeCommandTail(""), "");
  EXPECT_EQ(ComputeCommandTail("\"unterminated"), "");
}

TEST(CommandLine, PathsOfADoubleByteCodePageKeepTheirCharacters) {
  // Code page 932: "\x83\x5C" (katakana SO) ends in a backslash, "\x83\x41" (katakana A)
  // in an "A", "\x8A\x41" starts with a byte code page 1252 would fold.
  const std::string path = "C:\\\x83\x5C\x83\x41\\\x8A\x41Log.TXT";
  const auto r = ParseArguments({"/L=" + path}, TextRules::ForCodePage(932));
  EXPECT_EQ(r.TraceLogPath, "c:\\\x83\x5C\x83\x41\\\x8A\x41log.txt");
  EXPECT_NE(ParseArguments({"/L=" + path}).TraceLogPath, r.TraceLogPath);  // what 1252 rules would do
}

TEST(SupportFolder, TheFirstNumberThisRunCreates) {
  struct Case {
    const char* name;
    std::map<int, FolderClaim> answers;  // by number; Created when not listed
    std::string expected;
  };
  const Case cases[] = {
      {"first free", {}, "T\\kem1\\"},
      {"existing names are passed", {{1, FolderClaim::Exists}, {2, FolderClaim::Exists}}, "T\\kem3\\"},
      // A name that cannot be created (a folder of that name still being deleted) is
      // passed too, instead of ending the run.
      {"failures are passed", {{1, FolderClaim::Failed}, {2, FolderClaim::Exists}, {3, FolderClaim::Failed}},
       "T\\kem4\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto claim = [&](const std::string& path) {
      int n = std::stoi(path.substr(path.rfind("kem") + 3));
      auto it = c.answers.find(n);
      return it == c.answers.end() ? FolderClaim::Created : it->second;
    };
    EXPECT_EQ(ClaimSupportFolder("T\\", claim), c.expected);
  }
  // Bounded: a temporary folder where nothing can be created ends with an error.
  int calls = 0;
  EXPECT_THROW(ClaimSupportFolder("T\\", [&](const std::string&) { ++calls; return FolderClaim::Failed; }),
               std::runtime_error);
  EXPECT_EQ(calls, kMaxFailedSupportFolders);
}

TEST(CommandLine, SplitArguments) {
  EXPECT_EQ(SplitArguments("  /s   \"A=two words\" B=\"x y\"  "),
            (std::vector<std::string>{"/s", "A=two words", "B=x y"}));
  EXPECT_TRUE(SplitArguments("   ").empty());
}

}  // namespace
}  // namespace kem
