// The component model behind the component pages: sizes as text, the tree and its menu,
// the check list, the page texts and the instance-data lists.
#include <gtest/gtest.h>

#include <limits>

#include "components/components.h"
#include "components/instance_data.h"
#include "engine/engine_context.h"

namespace kem {
namespace {

const TextRules& Rules() { return Latin1Rules(); }

ComponentTables Define(std::initializer_list<std::pair<const char*, bool>> components) {
  ComponentTables t;
  StartFirstInstallComponents(t, Rules());
  for (const auto& [name, selected] : components) DefineComponent(t, Rules(), name, "", selected);
  return t;
}

// The tree as "Text(data)" lines indented by depth, in display order.
std::string Show(const ComponentTree& tree) {
  std::string out;
  for (std::size_t n : tree.DisplayOrder()) {
    int depth = 0;
    for (auto p = tree.Nodes()[n].Parent; p >= 0; p = tree.Nodes()[static_cast<std::size_t>(p)].Parent) ++depth;
    out += std::string(static_cast<std::size_t>(depth) * 2, ' ') + tree.Nodes()[n].Text + "(" +
           std::to_string(tree.Nodes()[n].Image) + ")\n";
  }
  return out;
}

std::size_t NodeNamed(const ComponentTree& tree, const std::string& fullName) {
  for (std::size_t n = 0; n < tree.Nodes().size(); ++n)
    if (tree.FullName(n) == fullName) return n;
  ADD_FAILURE() << "no node " << fullName;
  return 0;
}

TEST(FormatSize, UnitsGroupsAndSigns) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {999, "999 bytes"},           {1048575, "1,048,575 bytes"}, {5242880, "5,120 KB"},
      {3221225472, "3,072 MB"},     {-1, "-1 bytes"},             {-1234567, "-1,234,567 bytes"},
      {0, "0 bytes"},               {std::numeric_limits<std::int64_t>::max(), "8,796,093,022,207 MB"},
  };
  for (const auto& [v, text] : cases) EXPECT_EQ(FormatSize(v, "bytes", "KB", "MB"), text) << v;
  EXPECT_EQ(FormatSize(std::numeric_limits<std::int64_t>::min(), "b", "K", "M"), "-9,223,372,036,854,775,808 b");
}

TEST(ComponentTree, LevelsShareNodesAndHidingOrDeletingActsAsDefined) {
  ComponentTables t = Define({{"Main", true}, {"Main\\Docs", false}, {"Main\\Tools", true}});
  EXPECT_EQ(Show(ComponentTree::Fill(t, Rules())), "Main(1)\n  Docs(0)\n  Tools(1)\n");

  ComponentTables hidden = t;
  hidden.Hidden = {"main"};
  EXPECT_EQ(Show(ComponentTree::Fill(hidden, Rules())), "");

  ComponentTables deleted = t;
  deleted.Deleted = {"Main"};
  ComponentTree tree = ComponentTree::Fill(deleted, Rules());
  EXPECT_EQ(Show(tree), "Main(0)\n  Docs(0)\n  Tools(1)\n");
  EXPECT_EQ(tree.Nodes()[NodeNamed(tree, "Main")].Data, 0u);  // re-created, without a component

  // A child defined before its parent: the parent's node is found again and takes it.
  ComponentTables late = Define({{"Main\\Docs", true}, {"Main", true}});
  ComponentTree lateTree = ComponentTree::Fill(late, Rules());
  EXPECT_EQ(Show(lateTree), "Main(1)\n  Docs(1)\n");
  EXPECT_EQ(lateTree.Nodes()[NodeNamed(lateTree, "Main")].Data, 3u);
}

TEST(ComponentTree, MenuItemsMarkNodesSubTreesAndAncestors) {
  ComponentTables t = Define({{"Main", true}, {"Main\\Docs", true}, {"Main\\Tools", true}, {"Main\\Tools\\X", true}});
  t.Fixed = {"Main\\Tools"};
  ComponentTree tree = ComponentTree::Fill(t, Rules());
  ComponentModel model(t, Rules());

  EXPECT_TRUE(ComponentMenuAvailable(tree, t, Rules(), NodeNamed(tree, "Main")));
  EXPECT_FALSE(ComponentMenuAvailable(tree, t, Rules(), NodeNamed(tree, "Main\\Tools\\X")));  // fixed ancestor

  ApplyComponentMenu(tree, t, Rules(), NodeNamed(tree, "Main"), ComponentMenuItem::EntireFeatureUnavailable);
  EXPECT_FALSE(model.IsSelected("Main"));
  EXPECT_FALSE(model.IsSelected("Main\\Docs"));
  EXPECT_TRUE(model.IsSelected("Main\\Tools"));     // fixed
  EXPECT_TRUE(model.IsSelected("Main\\Tools\\X"));  // below a fixed child
  EXPECT_EQ(Show(tree), "Main(0)\n  Docs(0)\n  Tools(1)\n    X(1)\n");

  ApplyComponentMenu(tree, t, Rules(), NodeNamed(tree, "Main\\Docs"), ComponentMenuItem::InstallComponentOnly);
  EXPECT_TRUE(model.IsSelected("Main\\Docs"));
  EXPECT_TRUE(model.IsSelected("Main"));  // the ancestor follows

  ApplyComponentMenu(tree, t, Rules(), NodeNamed(tree, "Main"), ComponentMenuItem::DoNotInstallComponentOnly);
  EXPECT_FALSE(model.IsSelected("Main"));
  EXPECT_TRUE(model.IsSelected("Main\\Docs"));
}

TEST(ComponentList, TopLevelItemsPrefixMatchesAndFixedItemsSnapBack) {
  ComponentTables t = Define({{"App", true}, {"Application", true}, {"App\\Sub", true}, {"Locked", true},
                              {"Gone", true}, {"Secret", true}});
  t.Deleted = {"Gone"};
  t.Hidden = {"Secret", "Application"};
  t.Fixed = {"Locked"};
  auto items = FillComponentList(t, Rules());
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Text, "App");
  EXPECT_EQ(items[1].Text, "Locked");

  items[0].Checked = false;  // "App" also reaches "Application" (hidden, without an item) and "App\Sub"
  items[1].Checked = false;
  ApplyListChecks(t, Rules(), items);
  ComponentModel model(t, Rules());
  EXPECT_FALSE(model.IsSelected("Application"));
  EXPECT_FALSE(model.IsSelected("App\\Sub"));
  EXPECT_TRUE(model.IsSelected("Locked"));
  EXPECT_TRUE(items[1].Checked);

  // Every item in list order: a later item that matches the same component decides it.
  ComponentTables both = Define({{"App", true}, {"Application", true}});
  auto two = FillComponentList(both, Rules());
  two[0].Checked = false;
  ApplyListChecks(both, Rules(), two);
  EXPECT_EQ(both.States, (StringList{"TRUE", "FALSE", "TRUE"}));
  EXPECT_FALSE(two[0].Checked);  // the state of "Application", its last match, when its turn came
}

TEST(ComponentPageTexts, ByTagWithFreeSpaceAndDescriptions) {
  EngineContext ctx;
  ComponentTables& t = ctx.State.Components;
  StartFirstInstallComponents(t, Rules());
  DefineComponent(t, Rules(), "Main", "Line one$NEWLINE$Line two", true);
  SetComponentSize(t, Rules(), "Main", 2048);
  t.InstalledSize = 48;
  EXPECT_EQ(ComponentPageText(ctx, 2, "main", 0), "Line one\r\nLine two");
  EXPECT_EQ(ComponentPageText(ctx, 2, "Unknown", 0), "");
  EXPECT_EQ(ComponentPageText(ctx, 3, "Main", 0), "2,048 bytes");
  EXPECT_EQ(ComponentPageText(ctx, 4, "", 0), "2,000 bytes");
  EXPECT_EQ(ComponentPageText(ctx, 5, "", -1), "-1 bytes");
  EXPECT_EQ(ComponentPageText(ctx, 6, "", 10000), "8,000 bytes");
  EXPECT_EQ(ComponentFreeSpace("", [](const std::string&) -> std::int64_t { return 5; }), -1);
  EXPECT_EQ(ComponentFreeSpace("D:\\Apps\\", [](const std::string& root) -> std::int64_t { return root == "D:\\" ? 7 : 0; }), 7);
  EXPECT_EQ(ComponentFreeSpace("\\\\srv\\share\\x\\", [](const std::string& root) -> std::int64_t {
              return root == "\\\\srv\\share\\" ? 9 : 0;
            }),
            9);
}

// The figures of one page share the unit of the largest of them; a maintenance run that
// deselects more than it adds shows what is freed, never a negative requirement.
TEST(ComponentPageTexts, OnePageOneUnitAndNothingNegativeRequired) {
  struct Case {
    const char* name;
    std::int64_t selectedSize, otherSize, installed, free;
    std::vector<std::string> texts;  // tags 3, 4, 5, 6
  } cases[] = {
      // 308,192 bytes beside 66,942 MB: the whole page in MB.
      {"small component, large disk", 308192, 0, 0, 70194839552LL, {"0.3 MB", "0.3 MB", "66,943 MB", "66,942 MB"}},
      {"all below a megabyte", 2048, 1000, 0, 900000, {"2,048 bytes", "3,048 bytes", "900,000 bytes", "896,952 bytes"}},
      {"kilobytes, tenths below ten", 5120, 0, 0, 3000000, {"5 KB", "5 KB", "2,929 KB", "2,924 KB"}},
      {"kilobytes and a half", 1536, 0, 0, 3000000, {"1.5 KB", "1.5 KB", "2,929 KB", "2,928 KB"}},
      // Pages' rules compare the space required with "0 bytes": nothing reads so in any unit.
      {"nothing chosen", 0, 0, 0, 3000000, {"0 bytes", "0 bytes", "2,929 KB", "2,929 KB"}},
      {"a size that is not zero is never 0.0", 10, 0, 0, 5LL << 30, {"0.1 MB", "0.1 MB", "5,120 MB", "5,119 MB"}},
      // Deselected in maintenance: 4,096 bytes of what is installed are freed.
      {"maintenance frees", 0, 0, 4096, 900000, {"0 bytes", "4,096 bytes freed", "900,000 bytes", "904,096 bytes"}},
      // The free space is unknown without TARGETDIR: it takes no part in the unit.
      {"free space unknown", 2048, 0, 0, -1, {"2,048 bytes", "2,048 bytes", "-1 bytes", "-2,049 bytes"}},
  };
  const int tags[] = {3, 4, 5, 6};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineContext ctx;
    ComponentTables& t = ctx.State.Components;
    StartFirstInstallComponents(t, Rules());
    DefineComponent(t, Rules(), "Main", "", true);
    SetComponentSize(t, Rules(), "Main", c.selectedSize);
    DefineComponent(t, Rules(), "Main\\Aide", "", true);
    SetComponentSize(t, Rules(), "Main\\Aide", c.otherSize);
    t.InstalledSize = c.installed;
    EXPECT_EQ(ComponentPageTexts(ctx, tags, "Main", c.free), c.texts);
  }
}

TEST(InstanceData, ComponentTablesRoundTripAndMerge) {
  EngineContext a;
  ComponentTables& t = a.State.Components;
  StartFirstInstallComponents(t, Rules());
  DefineComponent(t, Rules(), "Main", "", true);
  DefineComponent(t, Rules(), "Extra", "", false);
  SetComponentSize(t, Rules(), "Main", 300);
  t.Deleted = {"Extra"};
  t.Fixed = {"Main"};
  a.Vars.SetVar("TARGETDIR", "C:\\App\\", "test");
  a.Vars.SetVar("NOTE", "two\r\nlines", "test");
  a.State.AddSavedVariable("NOTE");
  a.State.PlatformMode = "x64";
  const std::string text = WriteInstanceData(a, "C:\\DATA~1\\");

  EngineContext b;
  auto dataFolder = ReadInstanceData(b, text, ComponentListsRead::Normal);
  ASSERT_TRUE(dataFolder);
  EXPECT_EQ(*dataFolder, "C:\\DATA~1\\");
  EXPECT_EQ(b.State.Components.Names, t.Names);
  EXPECT_EQ(b.State.Components.States, t.States);
  EXPECT_EQ(b.State.Components.Deleted, t.Deleted);
  EXPECT_EQ(b.State.Components.Fixed, t.Fixed);
  EXPECT_EQ(b.State.Components.Sizes, t.Sizes);
  EXPECT_EQ(ComponentModel(b.State.Components, Rules()).SelectedSize(), 300);
  EXPECT_EQ(b.Vars.Get("TARGETDIR"), "C:\\App\\");
  EXPECT_EQ(b.Vars.Get("NOTE"), "two$NEWLINE$lines");
  EXPECT_EQ(b.State.SavedVariables, (std::vector<std::string>{"NOTE"}));  // OVERRIDECACHE is not listed
  EXPECT_EQ(b.State.PlatformMode, "x64");

  // Merge: states by name, the other lists replaced, the sizes left alone.
  EngineContext c;
  StartFirstInstallComponents(c.State.Components, Rules());
  DefineComponent(c.State.Components, Rules(), "EXTRA", "", true);
  c.State.Components.Hidden = {"Something"};
  ASSERT_TRUE(ReadInstanceData(c, text, ComponentListsRead::Merge));
  EXPECT_EQ(c.State.Components.Names, (StringList{"VRAX-PREDEF-COMPONENT", "EXTRA"}));
  EXPECT_EQ(c.State.Components.States, (StringList{"TRUE", "FALSE"}));
  EXPECT_TRUE(c.State.Components.Hidden.empty());
  EXPECT_EQ(c.State.Components.Deleted, (StringList{"Extra"}));
  EXPECT_EQ(c.State.Components.Sizes, (StringList{"VRAX-PREDEF-COMPONENT", "0", "EXTRA", "0"}));

  // A cut-off file changes nothing.
  EngineContext d;
  EXPECT_FALSE(ReadInstanceData(d, text.substr(0, text.find("$\r\n") + 3), ComponentListsRead::Normal));
  EXPECT_TRUE(d.State.Components.Names.empty());
}

}  // namespace
}  // namespace kem
