#include "dialogs/html/html_links.h"

#include <gtest/gtest.h>

namespace kem::html {
namespace {

using Action = HotSpot::Action;

TEST(HtmlLinks, ClickedUrls) {
  const std::string doc = "C:\\Temp\\sup\\index.htm";
  const std::string longTail(300, 'p');
  struct Case {
    std::string url;
    Action action;
    std::string target, parameters, fragment;
  } cases[] = {
      {"page2.htm", Action::Navigate, "C:\\Temp\\sup\\page2.htm", "", ""},
      {"sub/../more/page.htm#part", Action::Navigate, "C:\\Temp\\sup\\more\\page.htm", "", "part"},
      {"#top", Action::Navigate, doc, "", "top"},
      {"..\\..\\x.htm", Action::Navigate, "C:\\x.htm", "", ""},
      {"\\root.htm", Action::Navigate, "C:\\root.htm", "", ""},
      {"D:\\a\\b.htm", Action::Navigate, "D:\\a\\b.htm", "", ""},
      {"my%20page.htm", Action::Navigate, "C:\\Temp\\sup\\my page.htm", "", ""},
      {"ding.wav", Action::PlaySound, "C:\\Temp\\sup\\ding.wav", "", ""},
      {"Sounds/Ding.WaV", Action::PlaySound, "C:\\Temp\\sup\\Sounds\\Ding.WaV", "", ""},
      // Parameters start at the first blank, else at the first '?'; at most 255 characters.
      {"tool.exe /a b?c", Action::RunProgram, "C:\\Temp\\sup\\tool.exe", "/a b?c", ""},
      {"tool.EXE?x=1", Action::RunProgram, "C:\\Temp\\sup\\tool.EXE", "x=1", ""},
      {"page.htm?x=1 y", Action::Navigate, "C:\\Temp\\sup\\page.htm?x=1", "", ""},  // the blank comes first
      {"tool.exe " + longTail, Action::RunProgram, "C:\\Temp\\sup\\tool.exe", longTail.substr(0, 255), ""},
      // A drive in the parameters does not make the link a URL of another scheme.
      {"tool.exe /log=C:\\x.txt", Action::RunProgram, "C:\\Temp\\sup\\tool.exe", "/log=C:\\x.txt", ""},
      {"http://example.com/a?file:x", Action::OpenShell, "http://example.com/a?file:x", "", ""},
      {"C:/Tools/setup.exe", Action::RunProgram, "C:\\Tools\\setup.exe", "", ""},
      {"file:///C|/Tools/run.exe -q", Action::RunProgram, "C:\\Tools\\run.exe", "-q", ""},
      {"FILE://C:/doc/x.htm", Action::Navigate, "C:\\doc\\x.htm", "", ""},
      {"a.exe.htm", Action::Navigate, "C:\\Temp\\sup\\a.exe.htm", "", ""},
      {"dir.wav\\page", Action::Navigate, "C:\\Temp\\sup\\dir.wav\\page", "", ""},
      // Mail and web go to the shell, whatever the letter case.
      {"mailto:someone@example.com", Action::OpenShell, "mailto:someone@example.com", "", ""},
      {"Http://example.com/a b", Action::OpenShell, "Http://example.com/a b", "", ""},
      {"https://example.com/", Action::OpenShell, "https://example.com/", "", ""},
      {"ftp://example.com/f", Action::None, "", "", ""},
      {"javascript:void(0)", Action::None, "", "", ""},
  };
  for (const Case& c : cases) {
    const HotSpot h = DecideHotSpot(c.url, doc, "C:\\Other\\");
    EXPECT_EQ(h.action, c.action) << c.url;
    EXPECT_EQ(h.target, c.target) << c.url;
    EXPECT_EQ(h.parameters, c.parameters) << c.url;
    EXPECT_EQ(h.fragment, c.fragment) << c.url;
  }
  // A page shown without a file (the placeholder): links are taken from the base folder.
  EXPECT_EQ(DecideHotSpot("page2.htm", "", "C:\\Sup\\").target, "C:\\Sup\\page2.htm");
}

TEST(HtmlLinks, RefreshTargets) {
  const std::pair<const char*, const char*> cases[] = {
      {"page3.htm", "S\\page3.htm"},
      {"sub/page%203.htm", "S\\sub\\page 3.htm"},
      {"a%2Fb%zz%20c", "S\\a\\b%zz%20c"},      // decoding stops at the bad escape
      {"file:///C|/x/y.htm", "S\\C:\\x\\y.htm"},
      {"FILE://pages/y.htm", "S\\pages\\y.htm"},
      {"no|slash.htm", "S\\no|slash.htm"},    // without '/' nothing is turned
      {"file:///", "S\\"},
      {"%", "S\\%"},
      {"%4", "S\\%4"},
      {"", "S\\"},
  };
  for (const auto& [url, want] : cases) EXPECT_EQ(MetaRefreshTarget("S\\", url), want) << url;
  EXPECT_EQ(MetaRefreshInterval(3), 3000u);
  EXPECT_EQ(MetaRefreshInterval(-5), 0u);
  EXPECT_EQ(MetaRefreshInterval(100000000), 2147483000u);
}

TEST(HtmlLinks, PictureSources) {
  const std::pair<const char*, const char*> cases[] = {
      {"logo.png", "C:\\s\\logo.png"},
      {"img/a%20b.png?v=2#x", "C:\\s\\img\\a b.png"},
      {"file:///D|/pics/p.bmp", "D:\\pics\\p.bmp"},
      {"http://example.com/p.png", ""},
      {"data:image/png;base64,AAAA", ""},
      {"", ""},
  };
  for (const auto& [src, want] : cases) EXPECT_EQ(LocalFileOf(src, "C:\\s\\index.htm", "C:\\x\\"), want) << src;
}

TEST(HtmlLinks, FullFileNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"a\\.\\b\\..\\c.htm", "C:\\f\\a\\c.htm"},
      {"..\\..\\..\\..\\x", "C:\\x"},
      {"\\\\server\\share\\..\\..\\y", "\\\\server\\share\\y"},
      {"E:rel.htm", "E:\\rel.htm"},
      {"", "C:\\f\\"},
  };
  for (const auto& [path, want] : cases) EXPECT_EQ(FullFileName(path, "C:\\f\\"), want) << path;
}

}  // namespace
}  // namespace kem::html
