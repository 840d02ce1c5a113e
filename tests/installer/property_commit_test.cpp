// Installer properties on their way into the session: the reserved names, the property
// file and the commit of the queued rows into the database.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "engine/engine_context.h"
#include "engine/statement_error.h"
#include "installer/fake_installer.h"
#include "installer/properties.h"
#include "installer/property_commit.h"
#include "installer/property_file.h"
#include "installer/reserved_names.h"
#include "script/store/predefined_vars.h"

namespace kem::test {
namespace {

constexpr const char* kPackage = "C:\\Setup\\setup.msi";

TEST(ReservedNames, CaseIsIgnoredAndOnlyWholeNamesCount) {
  EXPECT_EQ(ReservedNameCount(), 202u);
  for (const char* name : {"allUsers", "ALLUSERS", "date", "TIME", "USERNAME", "SUPPORTDIR", "REMOVE", "ADVERTISE",
                           "sourcedir", "REDIRECTEDDLLSUPORT", "msilogging", ""})
    EXPECT_TRUE(IsReservedName(name)) << name;
  for (const char* name : {"ALLUSERS2", "TARGETDIR", "REDIRECTEDDLLSUPPORT", "MYPROP", "ALL USERS"})
    EXPECT_FALSE(IsReservedName(name)) << name;
}

class PropertyFileTest : public ::testing::Test {
 protected:
  PropertyFileTest() {
    vars.Set("NEWLINE", "\r\n");
    vars.Set("APP", "C:\\App\\");
    settings.DataFolder = "C:\\Setup\\data\\";
    settings.MediaFolder = "\\Setup\\";
    settings.SourceFolder = "D:\\Source\\";
  }
  std::string Build(std::function<bool(const std::string&)> exists = {}) {
    return BuildPropertyFile(settings, vars, exists).Text;
  }
  TVariableManager vars;
  PropertyFileSettings settings;
};

TEST_F(PropertyFileTest, RecordsInOrderWithMultiLineValuesAndNoReservedNames) {
  settings.SessionProperties = {"AH", "TRUE", "PH_1", "$APP$bin\\\\", "PH_2", "one$NEWLINE$two"};
  settings.Variables = {"MYVAR", "x", "ALLUSERS", "TRUE", "Date", "today", "Lines", "a$NEWLINE$b", "USERNAME", "me"};
  EXPECT_EQ(Build(),
            "SourceDir\r\nC:\\Setup\\data\\\r\n$ex\r\n"
            "MEDIAPACKAGEPATH\r\n\\Setup\\\r\n$ex\r\n"
            "AH\r\nTRUE\r\n$ex\r\n"
            "PH_1\r\nC:\\App\\bin\\\r\n$ex\r\n"
            "PH_2\r\none\r\ntwo\r\n$ex\r\n"
            "MYVAR\r\nx\r\n$ex\r\n"
            "Lines\r\na\r\nb\r\n$ex\r\n");
}

TEST_F(PropertyFileTest, PatchNamesTheSourceFolder) {
  settings.Patch = true;
  settings.Removal = true;  // the removal rule does not apply to a patch
  settings.SessionProperties = {"PH_1", "C:\\Gone\\"};
  EXPECT_EQ(Build([](const std::string&) { return false; }),
            "SourceDir\r\nD:\\Source\\\r\n$ex\r\nSRCDIREX\r\nD:\\Source\\\r\n$ex\r\nPH_1\r\nC:\\Gone\\\r\n$ex\r\n");
}

TEST_F(PropertyFileTest, RemovalReplacesPathsThatNoLongerExist) {
  settings.Removal = true;
  settings.SessionProperties = {"P1", "C:\\Gone\\", "P2", "TRUE", "P3", "C:\\Still\\", "P4", "\\\\srv\\gone\\", "P5", "relative\\x"};
  std::string text = Build([](const std::string& p) { return p == "C:\\Still\\"; });
  EXPECT_NE(text.find("P1\r\nC:\\Setup\\data\\\r\n$ex"), std::string::npos);
  EXPECT_NE(text.find("P2\r\nTRUE\r\n$ex"), std::string::npos);
  EXPECT_NE(text.find("P3\r\nC:\\Still\\\r\n$ex"), std::string::npos);
  EXPECT_NE(text.find("P4\r\nC:\\Setup\\data\\\r\n$ex"), std::string::npos);
  EXPECT_NE(text.find("P5\r\nrelative\\x\r\n$ex"), std::string::npos);
}

TEST_F(PropertyFileTest, SilentAndTitleAreNotedEvenThoughTheyAreNotWritten) {
  settings.Variables = {"silent", "true", "TITLE", "My $APP$"};
  auto r = BuildPropertyFile(settings, vars, {});
  EXPECT_TRUE(r.Silent);
  EXPECT_EQ(r.Title, "My $APP$");
  EXPECT_NE(r.Text.find("TITLE\r\nMy C:\\App\\\r\n$ex"), std::string::npos);
}

TEST(PropertyFileOnDisk, IsPrivateAndGoneWhenTheSessionEndsEvenOnFailure) {
  FakeSystem system;
  std::string path;
  try {
    PropertyFile file(system, "PASSWORD\r\nsecret\r\n$ex\r\n");
    path = file.Path();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(system.privateFiles[path], "PASSWORD\r\nsecret\r\n$ex\r\n");
    throw std::runtime_error("session failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(system.privateFiles.empty());
  EXPECT_EQ(system.removedPrivateFiles, (std::vector<std::string>{path}));

  system.privateFails = true;
  PropertyFile none(system, "x");
  EXPECT_TRUE(none.Path().empty());
}

TEST(SecretNames, MaskedForTheLog) {
  for (const char* name : {"PASSWORD", "DbPassword", "ADMIN_PWD", "API_TOKEN", "SECRET", "SqlCredentials"})
    EXPECT_TRUE(IsSecretVariableName(name)) << name;
  for (const char* name : {"TARGETDIR", "USERNAME", "PASS"}) EXPECT_FALSE(IsSecretVariableName(name)) << name;
  EXPECT_EQ(MaskSecretValues({"USER", "me", "DBPASSWORD", "hunter2"}),
            (StringList{"USER", "me", "DBPASSWORD", "********"}));
}

TEST(PropertyRowValues, LineBreaksAndQuotes) {
  EXPECT_EQ(PropertyRowValue("It's"), "It$QUOTE$s");
  EXPECT_EQ(PropertyRowValue("a$newline$b$NEWLINE$'"), "a\r\nb\r\n$QUOTE$");
  EXPECT_EQ(PropertyRowValue("$NEWLIN"), "$NEWLIN");
}

class CommitTest : public ::testing::Test {
 protected:
  CommitTest() {
    installer.packages[kPackage].properties = {{"ProductCode", "{OLD}"}, {"AH", "FALSE"}};
    ctx.Data.ProductCode = "{NEW-PRODUCT}";
    ctx.Data.RevisionCode = "{NEW-REVISION}";
  }
  bool Commit() { return CommitPropertyRows(ctx, installer, system, kPackage); }
  FakePackage& Package() { return installer.packages[kPackage]; }
  InstallerState& State() { return ctx.State.Installer; }

  EngineContext ctx;
  FakeInstaller installer;
  FakeSystem system;
};

TEST_F(CommitTest, InsertThenUpdateSoTheLastRowOfANameWins) {
  kem::RecordProperty(State(), "AH", "FALSE");
  kem::RecordProperty(State(), "AI", "FALSE");
  kem::RecordProperty(State(), "AH", "TRUE");
  kem::RecordProperty(State(), "PH_1", "a");
  kem::RecordProperty(State(), "PH_1", "It's");
  QueuePropertyRow(State(), "MSINTEMP", "C:\\Temp\\");
  ASSERT_TRUE(Commit());
  EXPECT_EQ(Package().properties["AH"], "TRUE");
  EXPECT_EQ(Package().properties["AI"], "FALSE");
  EXPECT_EQ(Package().properties["PH_1"], "It$QUOTE$s");
  EXPECT_EQ(Package().properties["ProductCode"], "{OLD}");
  EXPECT_EQ(Package().sql[0], "INSERT INTO `Property` ( `Property` , `Value` ) VALUES ( 'AH' , 'FALSE' )");
  EXPECT_EQ(Package().sql[1], "UPDATE `Property` SET `Value`='FALSE' WHERE `Property`='AH'");
  EXPECT_EQ(Package().commits, 1);
  EXPECT_FALSE(State().Pending.Created);
  EXPECT_EQ(State().SessionProperties.size(), 10u);  // the session properties stay

  // A second commit writes only what was queued since.
  Package().sql.clear();
  kem::RecordProperty(State(), "PH_1", "b");
  ASSERT_TRUE(Commit());
  EXPECT_EQ(Package().sql.size(), 2u);
  EXPECT_EQ(Package().properties["PH_1"], "b");
  EXPECT_EQ(Package().properties["AH"], "TRUE");

  // Nothing queued: the package is not even opened.
  int opens = installer.opens;
  ASSERT_TRUE(Commit());
  EXPECT_EQ(installer.opens, opens);
}

TEST_F(CommitTest, AValueTheDatabaseCannotHoldFailsBeforeAnythingIsWritten) {
  installer.unheld = {'\x80'};
  kem::RecordProperty(State(), "AH", "TRUE");
  kem::RecordProperty(State(), "PH_1", "Price \x80 5");
  try {
    Commit();
    FAIL() << "no failure";
  } catch (const StatementError& e) {
    EXPECT_NE(std::string(e.what()).find("PH_1"), std::string::npos);
  }
  EXPECT_EQ(Package().properties["AH"], "FALSE");
  EXPECT_EQ(Package().commits, 0);
  EXPECT_TRUE(Package().sql.empty());
  EXPECT_EQ(State().Pending.Names.size(), 2u);  // kept
}

TEST_F(CommitTest, PackageThatCannotBeOpenedKeepsTheQueue) {
  kem::RecordProperty(State(), "AH", "TRUE");
  EXPECT_FALSE(CommitPropertyRows(ctx, installer, system, "C:\\elsewhere.msi"));
  EXPECT_TRUE(State().Pending.Created);
}

TEST_F(CommitTest, InstanceTransformRenewsComponentCodesOnceAndStampsTheLastRow) {
  State().NewInstancePending = true;
  kem::RecordProperty(State(), "AH", "TRUE");
  QueuePropertyRow(State(), "MSINTEMP", "C:\\Temp\\");
  ASSERT_TRUE(Commit());
  EXPECT_EQ(Package().componentIds,
            (std::vector<std::string>{"{00000000-0000-0000-0000-000000000001}", "{00000000-0000-0000-0000-000000000002}"}));
  EXPECT_EQ(Package().summary[9], "{NEW-REVISION}");
  EXPECT_EQ(Package().properties["ProductCode"], "{NEW-PRODUCT}");
  EXPECT_EQ(State().TransformedDatabase, kPackage);
  // The product code is stamped just before the last row.
  auto stamp = std::find(Package().sql.begin(), Package().sql.end(),
                         "UPDATE `Property` SET `Value`='{NEW-PRODUCT}' WHERE `Property`='ProductCode'");
  ASSERT_NE(stamp, Package().sql.end());
  EXPECT_EQ(Package().sql.end() - stamp, 3);

  QueuePropertyRow(State(), "MSINTEMP", "C:\\Temp\\");
  ASSERT_TRUE(Commit());
  EXPECT_EQ(Package().componentIds[0], "{00000000-0000-0000-0000-000000000001}");  // not again
}

TEST_F(CommitTest, SessionInputsWriteThePrivateFileNameItAndCommit) {
  ctx.Vars.Set("NEWLINE", "\r\n");
  ctx.Vars.Set("DBPASSWORD", "hunter2");
  kem::RecordProperty(State(), "AH", "TRUE");
  PropertyFileSettings settings;
  settings.DataFolder = "C:\\Setup\\data\\";
  ctx.Vars.Dump(settings.Variables);
  settings.SessionProperties = State().SessionProperties;
  std::string path;
  {
    SessionInputs inputs = PrepareSessionInputs(ctx, installer, system, settings, kPackage, {});
    path = inputs.File->Path();
    ASSERT_TRUE(system.privateFiles.contains(path));
    EXPECT_NE(system.privateFiles[path].find("AH\r\nTRUE\r\n$ex\r\n"), std::string::npos);
    EXPECT_NE(system.privateFiles[path].find("DBPASSWORD\r\nhunter2\r\n$ex\r\n"), std::string::npos);
    EXPECT_EQ(Package().properties["VRAXPROPERTYFILE"], path);
    EXPECT_EQ(Package().properties["AH"], "TRUE");
  }
  EXPECT_TRUE(system.privateFiles.empty());

  // No file, no commit.
  system.privateFails = true;
  kem::RecordProperty(State(), "AH", "FALSE");
  EXPECT_THROW(PrepareSessionInputs(ctx, installer, system, settings, kPackage, {}), StatementError);
  EXPECT_EQ(Package().properties["AH"], "TRUE");
}

TEST(SwitchesOff, EveryStatementWithAHeaderInOrderAndNoneWithout) {
  EngineContext ctx;
  for (const char* name : {"Install Files", "Set Variable", "Write Registry"}) {
    ctx.Data.StatementNames.Add(name);
    ctx.Data.StatementIds.Add(std::string("id-") + name);
  }
  ctx.Data.CommandHeaders = HashedStringList({"1F", "2", "AB0", "0"});
  QueueAllSwitchesOff(ctx);
  EXPECT_EQ(ctx.State.Installer.Pending.Names, (StringList{"AAB0", "A1F"}));
  EXPECT_EQ(ctx.State.Installer.SessionProperties, (StringList{"AAB0", "FALSE", "A1F", "FALSE"}));
}

}  // namespace
}  // namespace kem::test
