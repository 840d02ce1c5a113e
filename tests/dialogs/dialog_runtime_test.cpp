// The dialog runtime over form models: binding, templates, writers, navigation, browse
// target, scroll tracking with rules. The machine is a set of existing files and folders.
#include "dialogs/runtime/dialog_runtime.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "common/text.h"
#include "components/components.h"

namespace kem::dialogs {
namespace {

namespace fs = std::filesystem;

class FakeFiles : public FileService {
 public:
  std::set<std::string> folders;  // lower case, with trailing backslash
  bool FileExists(const std::string& path) override { return fs::is_regular_file(path); }
  bool FolderExists(const std::string& path) override {
    return !path.empty() && folders.count(LowerCase(WithBackslash(path))) > 0;
  }
  bool IsFixedDrive(const std::string&) override { return true; }
  bool CreateEmptyFile(const std::string&) override { return false; }
  bool RemoveFile(const std::string&) override { return false; }
  void RemoveFolderTree(const std::string&) override {}
  std::string CreateTempFileName(const std::string&, const std::string&) override { return {}; }
  std::optional<std::string> ShortPathName(const std::string&) override { return std::nullopt; }
  std::optional<std::string> StoredName(const std::string&) override { return std::nullopt; }
  void SetFileSystemRedirectionOff(bool) override {}
};

class FakePort : public DialogPort {
 public:
  std::vector<bool> answers;                    // Confirm answers, in order
  std::optional<std::string> browsed;           // what the folder browser returns
  std::vector<std::int64_t> focused;
  int confirmations = 0;
  std::string lastQuestion;
  bool Confirm(Dialog&, const std::string& text, const std::string&) override {
    lastQuestion = text;
    bool yes = confirmations < static_cast<int>(answers.size()) && answers[confirmations];
    ++confirmations;
    return yes;
  }
  std::optional<std::string> BrowseFolder(Dialog&) override { return browsed; }
  void FocusTabOrder(Dialog&, std::int64_t tabOrder) override { focused.push_back(tabOrder); }
};

class DialogRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kem-dialogs-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    runtime_.Init(dir_.string() + "/");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes the text form as NAME.dfm (and the rules beside it) and loads it.
  Dialog& Load(const std::string& text, const std::string& rules = {}, bool withRules = true) {
    std::string path = (dir_ / (std::to_string(count_) + ".dfm")).string();
    WriteFile(path, forms::FormModel::FromText(text, "test").ToBinary());
    if (withRules) WriteFile(path + ".kemf", rules);
    return runtime_.Load(std::to_string(count_++), path);
  }
  void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Prop(Dialog& d, const std::string& control, const std::string& property) {
    auto c = d.Find(control);
    return c ? c->GetText(property).value_or("<none>") : "<no control>";
  }
  void Set(Dialog& d, const std::string& control, const std::string& property, const std::string& text) {
    ASSERT_TRUE(d.Find(control)->SetText(property, text)) << control << "." << property;
  }
  std::string Var(const std::string& name) { return ctx_.Vars.Get(name); }

  EngineContext ctx_;
  FakeFiles files_;
  FakePort port_;
  DialogRuntime runtime_{ctx_, files_};
  fs::path dir_;
  int count_ = 0;
};

TEST_F(DialogRuntimeTest, EditTextsFollowTagDefaultsAndCollapseBackslashes) {
  struct Case {
    const char* name;
    std::int64_t tag;
    const char* design;
    const char* hint;
    std::optional<std::string> value;  // of the hinted variable; nullopt: undefined
    const char* shown;
  };
  const Case cases[] = {
      {"undefined variable, Tag 2", 2, "", "DEST", std::nullopt, "C:\\Program Files\\App\\"},
      {"defined but empty, Tag 2", 2, "", "DEST", "", "C:\\Program Files\\App\\"},
      {"doubled backslashes", 0, "", "DEST", "C:\\\\Program Files\\\\App", "C:\\Program Files\\App"},
      {"doubled UNC path", 0, "", "DEST", "\\\\\\\\server\\\\share", "\\\\server\\share"},
      {"design text expanded", 0, "Name: $USERNAME$", "", std::nullopt, "Name: Ann"},
      {"Tag 3 user name", 3, "", "", std::nullopt, "Ann"},
      {"no default for other tags", 7, "", "DEST", "", ""},
  };
  ctx_.Vars.Set("TARGETDIR", "C:\\Program Files\\App\\");
  ctx_.Vars.Set("USERNAME", "Ann");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.value) ctx_.Vars.Set("DEST", *c.value);
    Dialog& d = Load(std::string("object D: TPoolTemplate\n object Edit1: TEdit\n  Tag = ") + std::to_string(c.tag) +
                     "\n  Text = '" + c.design + "'\n  Hint = '" + c.hint + "'\n end\nend\n");
    runtime_.Bind(d);
    EXPECT_EQ(Prop(d, "Edit1", "Text"), c.shown);
  }
}

TEST_F(DialogRuntimeTest, TemplatesExpandAfreshAtEveryBindingAndTheWizardSuffixIsAddedOnce) {
  Dialog& d = Load(
      "object D: TPoolTemplate\n Caption = 'Setup - Vantrel Wizard'\n"
      " object Label1: TLabel\n  Caption = 'Install to $TARGETDIR$'\n end\nend\n");
  ctx_.Vars.Set("TARGETDIR", "C:\\A\\");
  runtime_.Bind(d);
  EXPECT_EQ(Prop(d, "Label1", "Caption"), "Install to C:\\A\\");
  EXPECT_EQ(Prop(d, "D", "Caption"), "Setup - Vantrel Wizard");
  runtime_.Unbind(d);
  ctx_.Vars.Set("TARGETDIR", "D:\\B\\");
  ctx_.Caption.SetBrandingOff(true);
  runtime_.Bind(d);
  EXPECT_EQ(Prop(d, "Label1", "Caption"), "Install to D:\\B\\");
  EXPECT_EQ(Prop(d, "D", "Caption"), "Setup");

  Dialog& plain = Load("object E: TPoolTemplate\n Caption = 'Welcome'\nend\n");
  ctx_.Caption.SetBrandingOff(false);
  runtime_.Bind(plain);
  runtime_.Bind(plain);
  EXPECT_EQ(Prop(plain, "E", "Caption"), "Welcome - Vantrel Wizard");
}

// While a language is selected a control shows its translation (expanded afresh), and a
// control without one its template; the dialog's caption is keyed by the dialog file.
TEST_F(DialogRuntimeTest, TranslatedTextsWhileALanguageIsSelected) {
  Dialog& d = Load(
      "object D: TPoolTemplate\n Caption = 'Welcome'\n"
      " object Label1: TLabel\n  Caption = 'Install to $TARGETDIR$'\n end\n"
      " object Label2: TLabel\n  Caption = 'Untranslated $TARGETDIR$'\n end\nend\n");
  std::vector<std::string> asked;
  ctx_.SetDialogTranslator([&](std::string_view dialog, std::string_view control) -> std::optional<std::string> {
    asked.push_back(std::string(dialog) + "." + std::string(control));
    if (control == "Label1") return "Installieren nach $TARGETDIR$";
    if (control == "0.dfm") return "Willkommen";
    return std::nullopt;
  });
  ctx_.Vars.Set("TARGETDIR", "C:\\A\\");
  runtime_.Bind(d);  // no language yet: the design texts
  EXPECT_EQ(Prop(d, "Label1", "Caption"), "Install to C:\\A\\");
  EXPECT_TRUE(asked.empty());
  runtime_.Unbind(d);
  ctx_.Vars.Set("LANGUAGE", "German");
  ctx_.Vars.Set("TARGETDIR", "D:\\B\\");
  runtime_.Bind(d);
  EXPECT_EQ(Prop(d, "Label1", "Caption"), "Installieren nach D:\\B\\");
  EXPECT_EQ(Prop(d, "Label2", "Caption"), "Untranslated D:\\B\\");
  EXPECT_EQ(Prop(d, "D", "Caption"), "Willkommen - Vantrel Wizard");
  EXPECT_NE(std::find(asked.begin(), asked.end(), "0.dfm.Label1"), asked.end());
}

TEST_F(DialogRuntimeTest, ListsSelectAndWriteTheirItems) {
  ctx_.Vars.Set("NEWLINE", "\r\n");
  ctx_.Vars.Set("CHECKS", "A$NEWLINE$C");
  ctx_.Vars.Set("CHOICE", "beta");
  Dialog& d = Load(
      "object D: TPoolTemplate\n"
      " object CheckListBox1: TCheckListBox\n  Hint = 'CHECKS'\n  Items.Strings = ('A' 'B' 'C')\n end\n"
      " object ComboBox1: TComboBox\n  Hint = 'CHOICE'\n  Style = csDropDownList\n  Items.Strings = ('Alpha' 'Beta')\n end\n"
      " object ListBox1: TListBox\n  Hint = 'LIST'\n  MultiSelect = True\n  Items.Strings = ('A' '' 'B' 'C')\n end\n"
      "end\n");
  runtime_.Bind(d);
  EXPECT_EQ(d.List("CheckListBox1").checked, (std::vector<bool>{true, false, true}));
  // The deferred click-check handler wrote the state back.
  EXPECT_EQ(Var("CHECKS"), "A$NEWLINE$C$NEWLINE$");
  EXPECT_EQ(Prop(d, "ComboBox1", "ItemIndex"), "1");
  // Empty items are dropped.
  EXPECT_EQ(d.Find("ListBox1")->Strings("Items"), (std::vector<std::string>{"A", "B", "C"}));

  d.List("ListBox1").selected = {0, 2};
  runtime_.Click(d, "ListBox1", port_);
  EXPECT_EQ(Var("LIST"), "A$NEWLINE$C$NEWLINE$");
}

TEST_F(DialogRuntimeTest, AValueThatDoesNotFitItsControlFailsTheBinding) {
  ctx_.Vars.Set("LEVEL", "high");
  Dialog& d = Load("object D: TPoolTemplate\n object TrackBar1: TTrackBar\n  Hint = 'LEVEL'\n end\nend\n");
  EXPECT_THROW(runtime_.Bind(d), std::runtime_error);
  ctx_.Vars.Set("LEVEL", "7");
  runtime_.Bind(d);
  EXPECT_EQ(Prop(d, "TrackBar1", "Position"), "7");
}

TEST_F(DialogRuntimeTest, ProgressBarsClampThePercentage) {
  const std::pair<const char*, const char*> cases[] = {{"250", "100"}, {"-4", "0"}, {"37", "37"}, {"lots", "100"}};
  Dialog& d = Load("object D: TPoolTemplate\n object ProgressBar1: TProgressBar\n  Tag = 1\n end\nend\n");
  for (auto [value, shown] : cases) {
    ctx_.Vars.Set("PROGRESS", value);
    runtime_.Bind(d);
    EXPECT_EQ(Prop(d, "ProgressBar1", "Position"), shown) << value;
  }
}

TEST_F(DialogRuntimeTest, TheProgressChannelReachesTheNonModalPage) {
  ctx_.Vars.Set("PROGRESSTEXT", "Preparing");
  Dialog& d = Load(
      "object D: TPoolTemplate\n object StaticText1: TStaticText\n  Tag = 1\n end\n"
      " object StaticText2: TStaticText\n  Caption = 'kept'\n end\n"
      " object ProgressBar1: TProgressBar\n  Tag = 100\n end\n object Gauge1: TGauge\n  Tag = 1\n end\nend\n");
  runtime_.Bind(d);
  EXPECT_EQ(Prop(d, "StaticText1", "Caption"), "Preparing");
  runtime_.RefreshProgress(d, "Copying", 140);
  EXPECT_EQ(Prop(d, "StaticText1", "Caption"), "Copying");
  EXPECT_EQ(Prop(d, "StaticText2", "Caption"), "kept");
  EXPECT_EQ(Prop(d, "ProgressBar1", "Position"), "100");
  EXPECT_EQ(Prop(d, "Gauge1", "Progress"), "100");
}

TEST_F(DialogRuntimeTest, TextsFollowTheirTemplatesAtEveryProgressRefresh) {
  ctx_.Vars.Set("STEP", "Fichiers d'Œuvre");
  ctx_.Vars.Set("PROGRESSTEXT", "Preparing");
  const char* form =
      "object D: TPoolTemplate\n"
      " object Label1: TLabel\n  Caption = 'Installing $STEP$'\n end\n"
      " object Status: TLabel\n  Caption = 'Now: $PROGRESSTEXT$'\n end\n"
      " object Panel1: TPanel\n  Caption = 'Panel $STEP$'\n end\n"
      " object Stop: TButton\n  Caption = 'Stop $STEP$'\n end\n"
      " object Skip: TBitBtn\n  Caption = 'Skip $STEP$'\n end\n"
      " object Note: TStaticText\n  Caption = 'Note $STEP$'\n end\n"
      " object Progress: TStaticText\n  Tag = 1\n end\n"
      " object Required: TStaticText\n  Tag = 4\n end\n"
      " object Pages: TPageControl\n  object Sheet1: TTabSheet\n   Caption = 'Sheet $STEP$'\n  end\n end\n"
      "end\n";
  Dialog& d = Load(form);
  Dialog& unbound = Load(form);
  runtime_.Bind(d);
  const std::string required = Prop(d, "Required", "Caption");
  EXPECT_EQ(Prop(d, "Label1", "Caption"), "Installing Fichiers d'Œuvre");

  ctx_.Vars.Set("STEP", "Registry");
  ctx_.Vars.Set("PROGRESSTEXT", "Copying");
  runtime_.RefreshProgress(d, "Copying", 50);
  runtime_.RefreshProgress(unbound, "Copying", 50);
  const std::pair<const char*, const char*> expected[] = {
      {"Label1", "Installing Registry"}, {"Status", "Now: Copying"}, {"Panel1", "Panel Registry"},
      {"Stop", "Stop Registry"},         {"Skip", "Skip Registry"}, {"Note", "Note Registry"},
      {"Progress", "Copying"},           {"Sheet1", "Sheet Registry"}};
  for (auto [control, caption] : expected) EXPECT_EQ(Prop(d, control, "Caption"), caption) << control;
  // A component text keeps what the component choice put there.
  EXPECT_EQ(Prop(d, "Required", "Caption"), required);
  // A page that was never bound has no templates yet: its texts stay as designed.
  EXPECT_EQ(Prop(unbound, "Label1", "Caption"), "Installing $STEP$");
}

TEST_F(DialogRuntimeTest, TheTargetSeedIsTheDeepestExistingFolder) {
  files_.folders = {"d:\\"};
  EXPECT_EQ(runtime_.NearestExistingFolder("D:\\New\\Sub\\"), "D:\\");
  EXPECT_EQ(runtime_.NearestExistingFolder("Q:\\Gone\\"), "Q:\\");  // none exists: the last candidate
  EXPECT_EQ(runtime_.NearestExistingFolder(""), "");
  ctx_.Vars.Set("TARGETDIR", "D:\\New\\Sub\\");
  Dialog& d = Load("object D: TPoolTemplate\n object DirectoryListBox1: TDirectoryListBox\n  Tag = 1\n end\nend\n");
  runtime_.Bind(d);
  EXPECT_EQ(d.documents["DirectoryListBox1"], "D:\\");
}

TEST_F(DialogRuntimeTest, BrowseTargetKeepsTheProductsSubFolders) {
  struct Case {
    std::optional<std::string> chosen;
    const char* shown;
  };
  const Case cases[] = {
      {"D:\\Apps", "D:\\Apps\\Vendor\\App\\"},
      {"C:\\Program Files", "C:\\Program Files\\Vendor\\App\\"},
      // A folder whose name only starts like the target's is another folder.
      {"C:\\Program", "C:\\Program\\Vendor\\App\\"},
      {std::nullopt, "C:\\Program Files\\Vendor\\App\\"},  // browser cancelled
  };
  files_.folders = {"c:\\", "c:\\program files\\", "d:\\", "d:\\apps\\"};
  for (const Case& c : cases) {
    ctx_.Vars.Set("TARGETDIR", "C:\\Program Files\\Vendor\\App\\");
    Dialog& d = Load(
        "object D: TPoolTemplate\n"
        " object Edit1: TEdit\n  Hint = 'TARGETDIR'\n  Tag = 2\n end\n"
        " object Button1: TButton\n  Tag = 4\n end\nend\n");
    runtime_.Bind(d);
    runtime_.FormShow(d);
    port_.browsed = c.chosen;
    runtime_.Click(d, "Button1", port_);
    EXPECT_EQ(Prop(d, "Edit1", "Text"), c.shown) << c.chosen.value_or("(cancelled)");
    EXPECT_EQ(Var("TARGETDIR"), c.shown);
  }
}

TEST_F(DialogRuntimeTest, AnEmptyChoiceEmptiesTheTargetThroughALabelButNotThroughAButton) {
  files_.folders = {"c:\\"};
  for (const char* kind : {"TLabel", "TButton"}) {
    ctx_.Vars.Set("TARGETDIR", "C:\\App\\");
    Dialog& d = Load(std::string("object D: TPoolTemplate\n object Edit1: TEdit\n  Hint = 'TARGETDIR'\n  Tag = 2\n end\n") +
                     " object Browse1: " + kind + "\n  Tag = 4\n end\nend\n");
    runtime_.Bind(d);
    runtime_.FormShow(d);
    port_.browsed = "";
    runtime_.Click(d, "Browse1", port_);
    EXPECT_EQ(Var("TARGETDIR"), std::string(kind) == "TLabel" ? "" : "C:\\App\\") << kind;
  }
}

TEST_F(DialogRuntimeTest, NavigationControlsSetTheResult) {
  Dialog& d = Load(
      "object D: TPoolTemplate\n"
      " object Next1: TButton\n  Tag = 1\n end\n object Back1: TBitBtn\n  Tag = 2\n end\n"
      " object Cancel1: TButton\n  Tag = 3\n end\n object Advanced: TSpeedButton\n  Tag = 5\n end\n"
      " object Logo: TImage\n  Tag = 1\n end\n object Plain: TButton\n end\nend\n");
  runtime_.Bind(d);
  const std::pair<const char*, int> cases[] = {
      {"Next1", kResultNext}, {"Back1", kResultBack}, {"Advanced", kResultCustom}, {"Logo", kResultNext},
      {"Plain", kResultWaiting}};
  for (auto [name, code] : cases) {
    runtime_.Click(d, name, port_);
    EXPECT_EQ(d.resultCode, code) << name;
  }
  runtime_.Click(d, "Advanced", port_);
  EXPECT_EQ(d.customResult, "Advanced");

  // Cancel: No keeps the page waiting, Yes cancels and disables the button.
  port_.answers = {false, true};
  runtime_.Click(d, "Cancel1", port_);
  EXPECT_EQ(d.resultCode, kResultWaiting);
  EXPECT_EQ(Var("VRAX_IsCancelled"), "FALSE");
  EXPECT_EQ(port_.lastQuestion, "Are you sure you want to cancel?");
  runtime_.Click(d, "Cancel1", port_);
  EXPECT_EQ(d.resultCode, kResultCancel);
  EXPECT_EQ(Var("VRAX_IsCancelled"), "TRUE");
  EXPECT_EQ(Prop(d, "Cancel1", "Enabled"), "False");

  // An unbound page ignores its controls.
  d.resultCode = kResultWaiting;
  runtime_.Unbind(d);
  runtime_.Click(d, "Next1", port_);
  EXPECT_EQ(d.resultCode, kResultWaiting);
}

TEST_F(DialogRuntimeTest, ANamedFolderButtonSetsItsVariableAndRefreshesLiveEdits) {
  ctx_.Vars.Set("DATADIR", "C:\\Old\\");
  Dialog& d = Load(
      "object D: TPoolTemplate\n object DATADIR: TButton\n  Tag = 6\n end\n"
      " object Edit1: TEdit\n  Hint = 'DATADIR'\n  Tag = 100\n end\nend\n");
  runtime_.Bind(d);
  port_.browsed = "E:\\Data";
  runtime_.Click(d, "DATADIR", port_);
  EXPECT_EQ(Var("DATADIR"), "E:\\Data\\");
  EXPECT_EQ(Prop(d, "Edit1", "Text"), "E:\\Data\\");
}

TEST_F(DialogRuntimeTest, WritersStoreTheUsersInput) {
  Dialog& d = Load(
      "object D: TPoolTemplate\n"
      " object Edit1: TEdit\n  Hint = 'code'\n  MaxLength = 5\n  TabOrder = 3\n end\n"
      " object CheckBox1: TRzCheckBox\n  Hint = 'AGREE'\n end\n"
      " object RadioButton1: TRzRadioButton\n  Hint = 'R1'\n  Checked = True\n end\n"
      " object RadioButton2: TRzRadioButton\n  Hint = 'R2'\n end\n"
      " object Memo1: TMemo\n  Hint = 'NOTES'\n end\nend\n");
  runtime_.Bind(d);
  Set(d, "Edit1", "Text", "1234");
  runtime_.Change(d, "Edit1", port_);
  EXPECT_EQ(Var("CODE"), "1234");
  EXPECT_TRUE(port_.focused.empty());
  Set(d, "Edit1", "Text", "12345");
  runtime_.Change(d, "Edit1", port_);
  EXPECT_EQ(port_.focused, (std::vector<std::int64_t>{4}));  // the next control in tab order

  Set(d, "CheckBox1", "Checked", "True");
  runtime_.Click(d, "CheckBox1", port_);
  EXPECT_EQ(Var("AGREE"), "TRUE");
  Set(d, "RadioButton1", "Checked", "False");
  Set(d, "RadioButton2", "Checked", "True");
  runtime_.Click(d, "RadioButton2", port_);
  EXPECT_EQ(Var("R1"), "FALSE");
  EXPECT_EQ(Var("R2"), "TRUE");
  d.Find("Memo1")->Set("Lines", forms::Value::StringList({"one", "two"}));
  runtime_.Change(d, "Memo1", port_);
  EXPECT_EQ(Var("NOTES"), "one$NEWLINE$two");
}

TEST_F(DialogRuntimeTest, FileFolderDriveAndShellControlsWriteWhatIsPickedAndMoveTheTarget) {
  files_.folders = {"c:\\program files\\", "d:\\donn\xE9" "es d'\xE9t\xE9\\"};
  ctx_.Vars.Set("TARGETDIR", "C:\\Program Files\\Vendor\\App\\");
  Dialog& d = Load(
      "object D: TPoolTemplate\n"
      " object Files: TFileListBox\n  Tag = 1\n  Hint = 'FILE'\n end\n"
      " object Folders: TDirectoryListBox\n  Tag = 1\n  Hint = 'DIR'\n end\n"
      " object Drives: TDriveComboBox\n  Hint = 'DRIVE'\n end\n"
      " object Tree: TPTShellTree\n  Tag = 1\n  Hint = 'TREE'\n end\n"
      " object List: TPTShellList\n  Tag = 1\n  Hint = 'ITEM'\n end\n"
      " object Combo: TPTShellCombo\n  Tag = 1\n  Hint = 'COMBO'\n end\n"
      " object Target: TEdit\n  Tag = 2\n  Hint = 'TARGETDIR'\n end\n"
      " object Live: TEdit\n  Tag = 100\n  Hint = 'FILE'\n end\n"
      "end\n");
  runtime_.Bind(d);
  runtime_.FormShow(d);
  struct Case {
    const char* control;
    const char* pick;
    const char* variable;
    const char* written;  // nullptr: nothing is written
    const char* target;   // the Tag 2 edit afterwards
  } cases[] = {
      {"Files", "D:\\Donn\xE9" "es d'\xE9t\xE9\\report.txt", "FILE", "D:\\Donn\xE9" "es d'\xE9t\xE9\\report.txt",
       "D:\\Donn\xE9" "es d'\xE9t\xE9\\Vendor\\App\\"},
      {"Folders", "E:\\Apps", "DIR", "E:\\Apps", "E:\\Apps\\Vendor\\App\\"},
      // Tag 0: written, the target stays.
      {"Drives", "F:\\", "DRIVE", "F:\\", "E:\\Apps\\Vendor\\App\\"},
      // A folder of the target path gives the target back whole.
      {"Tree", "C:\\Program Files", "TREE", "C:\\Program Files", "C:\\Program Files\\Vendor\\App\\"},
      // A folder picked in the shell list is entered, not chosen.
      {"List", "D:\\Donn\xE9" "es d'\xE9t\xE9", "ITEM", nullptr, "C:\\Program Files\\Vendor\\App\\"},
      // A file picked in it moves the target to the file's folder.
      {"List", "G:\\Notes\\readme.txt", "ITEM", "G:\\Notes\\readme.txt", "G:\\Notes\\Vendor\\App\\"},
      {"Combo", "H:\\", "COMBO", "H:\\", "H:\\Vendor\\App\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control + std::string(" ") + c.pick);
    ctx_.Vars.Set(c.variable, "unchanged");
    d.picks[c.control] = c.pick;
    runtime_.Change(d, c.control, port_);
    EXPECT_EQ(Var(c.variable), c.written ? c.written : "unchanged");
    EXPECT_EQ(Prop(d, "Target", "Text"), c.target);
    EXPECT_EQ(Var("TARGETDIR"), c.target);
  }
  // The live edit follows the file list's variable.
  EXPECT_EQ(Prop(d, "Live", "Text"), "D:\\Donn\xE9" "es d'\xE9t\xE9\\report.txt");
  EXPECT_EQ(d.documents["Folders"], "E:\\Apps\\");
  // The shell list moved to another folder: that folder is written and browsed to.
  d.picks["List"] = "D:\\Donn\xE9" "es d'\xE9t\xE9";
  runtime_.FolderChanged(d, "List", port_);
  EXPECT_EQ(Var("ITEM"), "D:\\Donn\xE9" "es d'\xE9t\xE9");
  EXPECT_EQ(Var("TARGETDIR"), "D:\\Donn\xE9" "es d'\xE9t\xE9\\Vendor\\App\\");
  EXPECT_EQ(d.documents["List"], "D:\\Donn\xE9" "es d'\xE9t\xE9\\");
}

TEST_F(DialogRuntimeTest, AMaskedEditShowsItsMaskWritesItsValueAndAdvancesWhenFull) {
  ctx_.Vars.Set("SERIAL", "kx4711");
  Dialog& d = Load(
      "object D: TPoolTemplate\n"
      " object Serial: TMaskEdit\n  Hint = 'SERIAL'\n  EditMask = '>LL-0000;0;_'\n  TabOrder = 2\n end\n"
      " object Plain: TMaskEdit\n  Hint = 'PLAIN'\n  TabOrder = 3\n end\n"
      " object Live: TMaskEdit\n  Hint = 'SERIAL'\n  Tag = 100\n  EditMask = '>LL-0000;0;_'\n end\n"
      "end\n");
  runtime_.Bind(d);
  EXPECT_EQ(Prop(d, "Serial", "Text"), "KX-4711");
  Set(d, "Serial", "Text", "KX-12__");
  runtime_.Change(d, "Serial", port_);
  EXPECT_EQ(Var("SERIAL"), "KX12");
  EXPECT_EQ(Prop(d, "Live", "Text"), "KX-12__");
  runtime_.KeyUp(d, "Serial", 5, port_);
  EXPECT_TRUE(port_.focused.empty());
  runtime_.KeyUp(d, "Serial", 7, port_);  // after the last position
  EXPECT_EQ(port_.focused, std::vector<std::int64_t>{3});
  // Without a mask the focus stays where the user types.
  runtime_.KeyUp(d, "Plain", 0, port_);
  runtime_.KeyUp(d, "Plain", 12, port_);
  EXPECT_EQ(port_.focused.size(), 1u);
}

TEST_F(DialogRuntimeTest, APlainTreeViewShowsItsNodesExpandedAndWritesTheSelectedText) {
  ctx_.Vars.Set("EDITION", "\xC9" "dition d'\xE9t\xE9");
  const std::string data = forms::WriteTreeNodes(
      {{"Documents", -1, 0}, {"$EDITION$", 0, 1}, {"Readme", 0, 1}, {"Tools", -1, 0}});
  std::string hex;
  for (unsigned char b : data) {
    const char* digits = "0123456789ABCDEF";
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  Dialog& d = Load("object D: TPoolTemplate\n object Tree: TTreeView\n  Hint = 'PART'\n  Items.Data = {" + hex +
                   "}\n end\nend\n");
  runtime_.Bind(d);
  NodeTreeState* tree = d.NodeTree("Tree");
  ASSERT_NE(tree, nullptr);
  std::vector<std::string> texts;
  std::vector<int> parents;
  for (const forms::TreeNodeItem& n : tree->nodes) texts.push_back(n.text), parents.push_back(n.parent);
  EXPECT_EQ(texts, (std::vector<std::string>{"Documents", "\xC9" "dition d'\xE9t\xE9", "Readme", "Tools"}));
  EXPECT_EQ(parents, (std::vector<int>{-1, 0, 0, -1}));
  EXPECT_EQ(Prop(d, "Tree", "ReadOnly"), "True");
  EXPECT_EQ(Prop(d, "Tree", "HideSelection"), "False");
  EXPECT_FALSE(ctx_.Vars.Exists("PART"));  // nothing selected yet: nothing written

  runtime_.TreeChange(d, "Tree", 1);
  EXPECT_EQ(Var("PART"), "\xC9" "dition d'\xE9t\xE9");
  // The next display expands the texts afresh.
  ctx_.Vars.Set("EDITION", "Pro");
  runtime_.Bind(d);
  EXPECT_EQ(d.NodeTree("Tree")->nodes[1].text, "Pro");
}

TEST_F(DialogRuntimeTest, AnAnimationPlaysWhenItsPageIsBound) {
  Dialog& d = Load("object D: TPoolTemplate\n object Busy: TAnimate\n  CommonAVI = aviCopyFiles\n end\nend\n");
  EXPECT_EQ(Prop(d, "Busy", "Active"), "False");
  runtime_.Bind(d);
  EXPECT_EQ(Prop(d, "Busy", "Active"), "True");
}

TEST_F(DialogRuntimeTest, TheLicencePageEnablesNextOnlyAfterScrollingAndTicking) {
  WriteFile((dir_ / "license.txt").string(), "Terms\r\nMore terms\r\n");
  Dialog& d = Load(
      "object D: TPoolTemplate\n"
      " object Memo1: TMemo\n  Tag = 2\n end\n"
      " object Memo2: TMemo\n end\n"
      " object CheckBox1: TRzCheckBox\n  Hint = 'ACCEPT'\n  Enabled = False\n end\n"
      " object Button1: TButton\n  Tag = 1\n  Enabled = False\n end\n"
      " object Other: TButton\n  Caption = 'kept'\n end\nend\n",
      "IF (Memo1.MaxLength = 2147483647)  THEN  CheckBox1.Enabled := True;\r\n"
      "IF (CheckBox1.Checked = True)  THEN  Button1.Enabled := True;\r\n"
      "IF (CheckBox1.Checked = False)  THEN  Button1.Enabled := False;\r\n"
      "IF (Ghost.Caption = )  THEN  Other.Caption := changed;\r\n");
  runtime_.Bind(d);
  EXPECT_EQ(d.Find("Memo1")->Strings("Lines"), (std::vector<std::string>{"Terms", "More terms"}));
  EXPECT_EQ(d.hookedMemo, "Memo1");  // the first read-only memo
  EXPECT_EQ(Prop(d, "Memo1", "ReadOnly"), "True");
  EXPECT_EQ(Prop(d, "CheckBox1", "Enabled"), "False");
  EXPECT_EQ(Prop(d, "Other", "Caption"), "kept");  // the rule on a missing control is skipped

  // Ticking before the end was reached changes nothing the user can use.
  runtime_.ScrolledToEnd(d, "Memo1");
  EXPECT_EQ(Prop(d, "CheckBox1", "Enabled"), "True");
  EXPECT_EQ(Prop(d, "Button1", "Enabled"), "False");
  Set(d, "CheckBox1", "Checked", "True");
  runtime_.Click(d, "CheckBox1", port_);
  EXPECT_EQ(Prop(d, "Button1", "Enabled"), "True");
  Set(d, "CheckBox1", "Checked", "False");
  runtime_.Click(d, "CheckBox1", port_);
  EXPECT_EQ(Prop(d, "Button1", "Enabled"), "False");
}

TEST_F(DialogRuntimeTest, SpecialFilesFallBackToPlaceholders) {
  Dialog& d = Load(
      "object D: TPoolTemplate\n object Memo1: TMemo\n  Tag = 1\n end\n"
      " object RichEdit1: TRichEdit\n  Tag = 2\n end\n object HTMLViewer1: THTMLViewer\n  Tag = 1\n end\nend\n");
  runtime_.Bind(d);
  EXPECT_EQ(d.Find("Memo1")->Strings("Lines"),
            (std::vector<std::string>{
                "Add a readme..txt or readme.txt file to your project as a support file/creative to display it here."}));
  EXPECT_NE(d.documents["HTMLViewer1"].find("Add an index.htm file"), std::string::npos);

  WriteFile((dir_ / "license.rtf").string(), "{\\rtf1 Terms}");
  runtime_.Bind(d);
  EXPECT_EQ(d.documents["RichEdit1"], "{\\rtf1 Terms}");

  // The HTML view's page, and the file it came from (its links are taken relative to it);
  // the page in the selected language comes first.
  EXPECT_EQ(d.documentFiles.count("HTMLViewer1"), 0u);
  WriteFile((dir_ / "index.htm").string(), "<p>Index");
  runtime_.Bind(d);
  EXPECT_EQ(d.documents["HTMLViewer1"], "<p>Index");
  EXPECT_TRUE(EndsWith(d.documentFiles["HTMLViewer1"], "index.htm")) << d.documentFiles["HTMLViewer1"];
  ctx_.Vars.Set("LANGUAGE", "German");
  WriteFile((dir_ / "index.German.htm").string(), "<p>Index (German)");
  runtime_.Bind(d);
  EXPECT_EQ(d.documents["HTMLViewer1"], "<p>Index (German)");
  EXPECT_TRUE(EndsWith(d.documentFiles["HTMLViewer1"], "index.German.htm"));
}

TEST_F(DialogRuntimeTest, LoadingNeedsTheDialogFileButNotItsRules) {
  Dialog& d = Load("object D: TPoolTemplate\nend\n", {}, /*withRules=*/false);
  EXPECT_TRUE(d.rules.empty());
  EXPECT_EQ(d.fileName, "0.dfm");
  try {
    runtime_.Load("9", (dir_ / "missing.dfm").string());
    FAIL() << "no error";
  } catch (const forms::FormError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.dfm"), std::string::npos) << e.what();
  }
}

TEST_F(DialogRuntimeTest, SilentRunsBindNothing) {
  ctx_.Startup.SilentMode = true;
  ctx_.Vars.Set("TARGETDIR", "C:\\A\\");
  Dialog& d = Load("object D: TPoolTemplate\n object Label1: TLabel\n  Caption = '$TARGETDIR$'\n end\nend\n");
  runtime_.Bind(d);
  EXPECT_EQ(Prop(d, "Label1", "Caption"), "$TARGETDIR$");
  EXPECT_FALSE(d.bound);
}


// --- Component pages ------------------------------------------------------------------

class ComponentPageTest : public DialogRuntimeTest {
 protected:
  void SetUp() override {
    DialogRuntimeTest::SetUp();
    ComponentTables& t = ctx_.State.Components;
    StartFirstInstallComponents(t, ctx_.Text());
    DefineComponent(t, ctx_.Text(), "Program", "The program", true);
    DefineComponent(t, ctx_.Text(), "Program\\Help", "Help files$NEWLINE$and samples", true);
    DefineComponent(t, ctx_.Text(), "Program\\Help\\Api", "", true);
    DefineComponent(t, ctx_.Text(), "Tools", "Extra tools", false);
    SetComponentSize(t, ctx_.Text(), "Program", 1000);
    SetComponentSize(t, ctx_.Text(), "Program\\Help", 2 * 1048576);
    SetComponentSize(t, ctx_.Text(), "Tools", 500);
    ctx_.Vars.Set("TARGETDIR", "D:\\Apps\\");
    runtime_.FreeBytes = [](const std::string& root) -> std::int64_t { return root == "D:\\" ? 3000000 : 0; };
  }
  Dialog& Page() {
    return Load(
        "object D: TPoolTemplate\n"
        " object TreeView1: TTreeView\n  Tag = 1\n  Hint = 'NODE'\n end\n"
        " object Description: TStaticText\n  Tag = 2\n end\n object Size: TStaticText\n  Tag = 3\n end\n"
        " object Required: TStaticText\n  Tag = 4\n end\n object Free: TStaticText\n  Tag = 5\n end\n"
        " object Left: TStaticText\n  Tag = 6\n end\n"
        " object Next: TButton\n  Tag = 1\n end\n"
        "end\n",
        // Next only while something is to be installed.
        "IF (Required.Caption = 0 bytes)  THEN  Next.Enabled := False;\n"
        "IF (Required.Caption <> 0 bytes)  THEN  Next.Enabled := True;\n");
  }
  std::size_t NodeOf(Dialog& d, const std::string& full) {
    const ComponentTree& tree = d.Tree("TreeView1")->tree;
    for (std::size_t i = 0; i < tree.Nodes().size(); ++i)
      if (tree.FullName(i) == full) return i;
    ADD_FAILURE() << "no node " << full;
    return 0;
  }
  std::string States() {
    std::string s;
    for (const char* name : {"Program", "Program\\Help", "Program\\Help\\Api", "Tools"})
      s += ComponentModel(ctx_.State.Components, ctx_.Text()).IsSelected(name) ? '1' : '0';
    return s;
  }
};

TEST_F(ComponentPageTest, TheTreeShowsTheComponentsAndTheTextsFollowTheSelection) {
  Dialog& d = Page();
  runtime_.Bind(d);
  TreeState* tree = d.Tree("TREEVIEW1");
  ASSERT_NE(tree, nullptr);
  ASSERT_EQ(tree->tree.Nodes().size(), 4u);  // the predefined component is not shown
  EXPECT_EQ(tree->tree.Nodes()[NodeOf(d, "Tools")].Image, 0);
  EXPECT_EQ(tree->tree.Nodes()[NodeOf(d, "Program\\Help")].Image, 1);
  // The first node is selected at display and its change handler has run: its texts and
  // the tree's variable are there before the user clicks.
  ASSERT_TRUE(tree->selected.has_value());
  EXPECT_EQ(*tree->selected, NodeOf(d, "Program"));
  EXPECT_EQ(runtime_.SelectedComponentText, "Program");
  EXPECT_EQ(Var("NODE"), "Program");
  EXPECT_EQ(Prop(d, "Description", "Caption"), "The program");
  EXPECT_EQ(Prop(d, "Required", "Caption"), "2,048 KB");
  EXPECT_EQ(Prop(d, "Free", "Caption"), "2,929 KB");

  runtime_.TreeChange(d, "TreeView1", NodeOf(d, "Program\\Help"));
  EXPECT_EQ(runtime_.SelectedComponentText, "Program\\Help");
  EXPECT_EQ(Var("NODE"), "Help");
  EXPECT_EQ(Prop(d, "Description", "Caption"), "Help files\r\nand samples");
  EXPECT_EQ(Prop(d, "Size", "Caption"), "2,048 KB");
  EXPECT_EQ(Prop(d, "Left", "Caption"), "880 KB");  // 901,848 bytes, in the page's unit
}

TEST_F(ComponentPageTest, TogglesAndMenuChoicesChangeSubTreesAndTheRules) {
  struct Step {
    const char* node;
    int item;  // -1: toggle; otherwise a ComponentMenuItem
    const char* states;
  };
  const Step steps[] = {
      {"Program\\Help", -1, "1000"},  // off with its sub-tree
      {"Program\\Help\\Api", -1, "1110"},  // on again, with its ancestors
      {"Program", static_cast<int>(ComponentMenuItem::EntireFeatureUnavailable), "0000"},
      {"Program\\Help", static_cast<int>(ComponentMenuItem::InstallComponentOnly), "1100"},
      {"Tools", static_cast<int>(ComponentMenuItem::InstallComponentWithSubComponents), "1101"},
      {"Program", static_cast<int>(ComponentMenuItem::DoNotInstallComponentOnly), "0101"},
  };
  Dialog& d = Page();
  runtime_.Bind(d);
  for (const Step& s : steps) {
    const std::size_t node = NodeOf(d, s.node);
    if (s.item < 0) runtime_.ToggleComponent(d, "TreeView1", node);
    else runtime_.ComponentMenu(d, "TreeView1", node, static_cast<ComponentMenuItem>(s.item));
    EXPECT_EQ(States(), s.states) << s.node;
    // The tree's images follow the states.
    EXPECT_EQ(d.Tree("TreeView1")->tree.Nodes()[node].Image,
              ComponentModel(ctx_.State.Components, ctx_.Text()).IsSelected(s.node) ? 1 : 0);
  }
  // Nothing left to install: the rules disable Next.
  runtime_.ComponentMenu(d, "TreeView1", NodeOf(d, "Program"), ComponentMenuItem::EntireFeatureUnavailable);
  runtime_.ToggleComponent(d, "TreeView1", NodeOf(d, "Tools"));
  EXPECT_EQ(Prop(d, "Required", "Caption"), "0 bytes");
  EXPECT_EQ(Prop(d, "Next", "Enabled"), "False");
  runtime_.ToggleComponent(d, "TreeView1", NodeOf(d, "Tools"));
  EXPECT_EQ(Prop(d, "Required", "Caption"), "0.5 KB");
  EXPECT_EQ(Prop(d, "Next", "Enabled"), "True");

  // A fixed component neither toggles nor opens the menu; a page that is not bound
  // ignores the tree's events.
  ctx_.State.Components.Fixed.push_back("Tools");
  EXPECT_FALSE(runtime_.ComponentMenuOpens(d, "TreeView1", NodeOf(d, "Tools")));
  runtime_.ToggleComponent(d, "TreeView1", NodeOf(d, "Tools"));
  EXPECT_EQ(States(), "0001");
  runtime_.Unbind(d);
  runtime_.ToggleComponent(d, "TreeView1", NodeOf(d, "Program"));
  EXPECT_EQ(States(), "0001");
}

TEST_F(ComponentPageTest, TheCheckListShowsTopLevelComponentsAndItsChecksReachTheTables) {
  Dialog& d = Load(
      "object D: TPoolTemplate\n"
      " object CheckListBox1: TCheckListBox\n  Tag = 1\n  Items.Strings = ('designed')\n end\n"
      " object Description: TStaticText\n  Tag = 2\n end\n"
      "end\n");
  runtime_.Bind(d);
  EXPECT_EQ(d.Find("CheckListBox1")->Strings("Items"), (std::vector<std::string>{"Program", "Tools"}));
  EXPECT_EQ(d.List("CheckListBox1").checked, (std::vector<bool>{true, false}));

  d.List("CheckListBox1").checked = {false, true};
  runtime_.ClickCheck(d, "CheckListBox1");
  EXPECT_EQ(States(), "0001");  // an item reaches its sub-components

  d.List("CheckListBox1").selected = {1};
  runtime_.Click(d, "CheckListBox1", port_);
  EXPECT_EQ(runtime_.SelectedComponentText, "Tools");
  EXPECT_EQ(Prop(d, "Description", "Caption"), "Extra tools");
}


// --- Progress display ---------------------------------------------------------------------

TEST(ProgressDisplay, BarsFitTheirRangeAndAnEmptyRangeShowsFull) {
  struct Case {
    std::int64_t min, max, position;
    ProgressRange shown;
  } cases[] = {
      {0, 100, 37, {0, 100, 37}},
      {1, 100, 0, {1, 100, 1}},                       // below the range: its start
      {0, 0, 0, {0, 100, 100}},                       // nothing to do counts as done
      {50, 10, 20, {0, 100, 100}},                    // an inverted range too
      {0, 5368709120, 2684354560, {0, 5242880, 2621440}},  // 5 GB of bytes: divided by 1024
      {0, 4398046511104, 4398046511104, {0, 4194304, 4194304}},  // 4 TB: twice
      {0, 2147483647, 5, {0, 2147483647, 5}},         // 31 bits still fit
  };
  for (const Case& c : cases) {
    ProgressRange r = ProgressBarRange(c.min, c.max, c.position);
    EXPECT_EQ(std::vector<std::int64_t>({r.min, r.max, r.position}),
              std::vector<std::int64_t>({c.shown.min, c.shown.max, c.shown.position}))
        << c.min << ".." << c.max << " @" << c.position;
  }
}

TEST(ProgressDisplay, TheTaskbarFollowsTheModeAndThePartDone) {
  struct Case {
    const char* mode;
    std::int64_t min, max, position;
    TaskbarState state;
    bool withValue;
    std::uint64_t completed, total;
  } cases[] = {
      {"", 0, 100, 40, TaskbarState::Normal, true, 40, 100},
      {"MARQUEE", 0, 100, 40, TaskbarState::Indeterminate, false, 0, 0},
      {"ERROR", 0, 100, 40, TaskbarState::Error, true, 40, 100},
      {"PAUSE", 10, 110, 60, TaskbarState::Paused, true, 50, 100},
      {"", 0, 0, 0, TaskbarState::Normal, true, 1, 1},  // an empty range: done
      {"", 0, 100, 400, TaskbarState::Normal, true, 100, 100},
      {"", -9000000000000000000, 9000000000000000000, 0, TaskbarState::Normal, true, 9000000000000000000u,
       18000000000000000000u},
  };
  for (const Case& c : cases) {
    TaskbarProgress t = TaskbarProgressFor(c.mode, c.min, c.max, c.position);
    EXPECT_EQ(t.state, c.state) << c.mode;
    EXPECT_EQ(t.withValue, c.withValue) << c.mode;
    if (c.withValue) {
      EXPECT_EQ(t.completed, c.completed) << c.mode << " " << c.position;
      EXPECT_EQ(t.total, c.total) << c.mode << " " << c.position;
    }
  }
}

TEST_F(DialogRuntimeTest, ProgressBarsShowTheChannelAMarqueeOrTheirVariable) {
  std::vector<TaskbarProgress> taskbar;
  runtime_.Taskbar = [&](const TaskbarProgress& t) { taskbar.push_back(t); };
  ctx_.Vars.Set("COPIED", "abc");
  Dialog& d = Load(
      "object D: TPoolTemplate\n object Bar: TProgressBar\n  Tag = 1\n end\n"
      " object Gauge1: TGauge\n  Tag = 1\n end\n"
      " object Copied: TProgressBar\n  Tag = 100\n  Hint = 'COPIED'\n end\nend\n");
  runtime_.Bind(d);
  runtime_.RefreshProgress(d, "Copying", 0, 6442450944, 3221225472);  // 6 GB, half done
  EXPECT_EQ(Prop(d, "Bar", "Max"), "6291456");
  EXPECT_EQ(Prop(d, "Bar", "Position"), "3145728");
  EXPECT_EQ(Prop(d, "Gauge1", "Progress"), "3145728");
  EXPECT_EQ(Prop(d, "Copied", "Position"), "100");  // no number: full
  ASSERT_EQ(taskbar.size(), 1u);
  EXPECT_EQ(taskbar[0].completed, 3221225472u);

  // A marquee while PROGRESSMODE says so; back to the bar with the current position.
  ctx_.Vars.Set("PROGRESSMODE", "MARQUEE");
  ctx_.Vars.Set("COPIED", "25");
  runtime_.RefreshProgress(d, "Waiting", 0, 0, 0);
  EXPECT_EQ(Prop(d, "Bar", "Style"), "pbstMarquee");
  EXPECT_EQ(Prop(d, "Bar", "Position"), "3145728");  // untouched under the marquee
  EXPECT_EQ(Prop(d, "Copied", "Position"), "25");
  EXPECT_EQ(taskbar.back().state, TaskbarState::Indeterminate);
  ctx_.Vars.Set("PROGRESSMODE", "");
  runtime_.RefreshProgress(d, "Done", 0, 0, 0);  // total 0: full, never a division by zero
  EXPECT_EQ(Prop(d, "Bar", "Style"), "pbstNormal");
  EXPECT_EQ(Prop(d, "Bar", "Max"), "100");
  EXPECT_EQ(Prop(d, "Bar", "Position"), "100");
}

TEST_F(DialogRuntimeTest, TheFolderBrowserAndTheAboutBoxPauseTheTaskbarProgress) {
  struct StatePort : FakePort {
    std::vector<std::string> modes;  // PROGRESSMODE while each prompt is up
    EngineContext* ctx = nullptr;
    std::optional<std::string> BrowseFolder(Dialog& d) override {
      modes.push_back(ctx->Vars.Get("PROGRESSMODE"));
      return FakePort::BrowseFolder(d);
    }
    void About(Dialog&) override { modes.push_back(ctx->Vars.Get("PROGRESSMODE")); }
  } port;
  port.ctx = &ctx_;
  port.browsed = "E:\\Donn\xE9" "es";
  std::vector<TaskbarState> states;
  runtime_.Taskbar = [&](const TaskbarProgress& t) { states.push_back(t.state); };
  ctx_.Vars.Set("PROGRESSMODE", "MARQUEE");
  Dialog& d = Load(
      "object D: TPoolTemplate\n object Browse: TButton\n  Tag = 4\n end\n"
      " object DATADIR: TButton\n  Tag = 6\n end\nend\n");
  runtime_.Bind(d);
  runtime_.Click(d, "Browse", port);
  runtime_.Click(d, "DATADIR", port);
  runtime_.About(d, port);
  EXPECT_EQ(port.modes, (std::vector<std::string>{"PAUSE", "PAUSE", "PAUSE"}));
  EXPECT_EQ(Var("PROGRESSMODE"), "MARQUEE");
  EXPECT_EQ(Var("DATADIR"), "E:\\Donn\xE9" "es\\");
  ASSERT_GE(states.size(), 6u);
  EXPECT_EQ(states.back(), TaskbarState::Indeterminate);
}

TEST_F(DialogRuntimeTest, APromptPutsTheTaskbarIntoErrorOrPauseAndBack) {
  std::vector<TaskbarState> states;
  runtime_.Taskbar = [&](const TaskbarProgress& t) { states.push_back(t.state); };
  ctx_.Vars.Set("PROGRESSMODE", "MARQUEE");
  runtime_.PromptProgressState(true, true);
  EXPECT_EQ(Var("PROGRESSMODE"), "ERROR");
  runtime_.PromptProgressState(true, false);  // nested: the first mode stays remembered
  EXPECT_EQ(Var("PROGRESSMODE"), "PAUSE");
  runtime_.PromptProgressState(false, false);
  EXPECT_EQ(Var("PROGRESSMODE"), "MARQUEE");
  runtime_.PromptProgressState(false, false);  // nothing remembered: unchanged
  EXPECT_EQ(Var("PROGRESSMODE"), "MARQUEE");
  EXPECT_EQ(states, (std::vector<TaskbarState>{TaskbarState::Error, TaskbarState::Paused, TaskbarState::Indeterminate,
                                               TaskbarState::Indeterminate}));
}

}  // namespace
}  // namespace kem::dialogs
