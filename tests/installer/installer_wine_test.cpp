// The Windows halves of the installer and system services, under Wine: queued rows
// committed into a real database through msi.dll, the private property file, registry
// deletion, processes, services and windows.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <aclapi.h>
#include <sddl.h>

#include <string>

#include "engine/engine_context.h"
#include "engine/statement_error.h"
#include "installer/properties.h"
#include "installer/property_commit.h"
#include "installer/property_file.h"
#include "platform/installer/installer_win32.h"
#include "platform/system/system_win32.h"

namespace kem {
namespace {

std::string TempFolder() {
  char buf[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH + 1, buf);
  return buf;
}

void Exec(MSIHANDLE db, const char* sql) {
  MSIHANDLE view = 0;
  ASSERT_EQ(MsiDatabaseOpenViewA(db, sql, &view), ERROR_SUCCESS) << sql;
  ASSERT_EQ(MsiViewExecute(view, 0), ERROR_SUCCESS) << sql;
  MsiViewClose(view);
  MsiCloseHandle(view);
}

// A small database with a Property table (code page 1252) and two components.
std::string MakePackage(const char* name) {
  std::string path = TempFolder() + name;
  DeleteFileA(path.c_str());
  MSIHANDLE db = 0;
  EXPECT_EQ(MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_CREATE, &db), ERROR_SUCCESS);
  Exec(db, "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE PRIMARY KEY `Property`)");
  Exec(db, "CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY `Component`)");
  Exec(db, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('ProductCode', '{OLD}')");
  Exec(db, "INSERT INTO `Property` (`Property`, `Value`) VALUES ('AH', 'FALSE')");
  Exec(db, "INSERT INTO `Component` (`Component`, `ComponentId`, `Directory_`, `Attributes`) VALUES ('C1', '{11111111-1111-1111-1111-111111111111}', 'TARGETDIR', 0)");
  EXPECT_EQ(MsiDatabaseCommit(db), ERROR_SUCCESS);
  MsiCloseHandle(db);
  return path;
}

std::string Query(const std::string& path, const std::string& sql) {
  MSIHANDLE db = 0, view = 0, rec = 0;
  if (MsiOpenDatabaseA(path.c_str(), MSIDBOPEN_READONLY, &db) != ERROR_SUCCESS) return "<no database>";
  std::string value = "<none>";
  if (MsiDatabaseOpenViewA(db, sql.c_str(), &view) == ERROR_SUCCESS && MsiViewExecute(view, 0) == ERROR_SUCCESS &&
      MsiViewFetch(view, &rec) == ERROR_SUCCESS) {
    char buf[1024] = {};
    DWORD size = sizeof buf;
    MsiRecordGetStringA(rec, 1, buf, &size);
    value = buf;
    MsiCloseHandle(rec);
  }
  if (view) MsiCloseHandle(view);
  MsiCloseHandle(db);
  return value;
}

std::string Property(const std::string& path, const std::string& name) {
  return Query(path, "SELECT `Value` FROM `Property` WHERE `Property`='" + name + "'");
}

TEST(InstallerWin32, QueuedRowsReachTheDatabaseInsertThenUpdate) {
  std::string package = MakePackage("kem-commit-test.msi");
  EngineContext ctx;
  auto installer = platform::CreateInstallerService();
  auto system = platform::CreateSystemService();
  InstallerState& state = ctx.State.Installer;
  kem::RecordProperty(state, "AH", "FALSE");
  kem::RecordProperty(state, "AH", "TRUE");
  kem::RecordProperty(state, "PH_1", "C:\\Target\\");
  kem::RecordProperty(state, "PH_2", "It's$NEWLINE$two");
  ASSERT_TRUE(CommitPropertyRows(ctx, *installer, *system, package));
  EXPECT_EQ(Property(package, "AH"), "TRUE");
  EXPECT_EQ(Property(package, "PH_1"), "C:\\Target\\");
  EXPECT_EQ(Property(package, "PH_2"), "It$QUOTE$s\r\ntwo");

  // An instance transform: new component codes and the new product code.
  ctx.Data.ProductCode = "{22222222-2222-2222-2222-222222222222}";
  ctx.Data.RevisionCode = "{33333333-3333-3333-3333-333333333333}";
  state.NewInstancePending = true;
  QueuePropertyRow(state, "MSINTEMP", "C:\\Temp\\");
  ASSERT_TRUE(CommitPropertyRows(ctx, *installer, *system, package));
  EXPECT_EQ(Property(package, "ProductCode"), "{22222222-2222-2222-2222-222222222222}");
  std::string id = Query(package, "SELECT `ComponentId` FROM `Component`");
  EXPECT_NE(id, "{11111111-1111-1111-1111-111111111111}");
  EXPECT_EQ(id.size(), 38u);
  DeleteFileA(package.c_str());
}

TEST(InstallerWin32, CharactersOutsideTheDatabaseCodePageAreRefused) {
  std::string package = MakePackage("kem-codepage-test.msi");
  {
    // Code page 1252 for the database.
    MSIHANDLE db = 0;
    ASSERT_EQ(MsiOpenDatabaseA(package.c_str(), MSIDBOPEN_TRANSACT, &db), ERROR_SUCCESS);
    std::string idt = TempFolder() + "kem-cp.idt";
    HANDLE h = CreateFileA(idt.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const char text[] = "\r\n\r\n1252\t_ForceCodepage\r\n";
    DWORD written = 0;
    WriteFile(h, text, sizeof text - 1, &written, nullptr);
    CloseHandle(h);
    ASSERT_EQ(MsiDatabaseImportA(db, TempFolder().c_str(), "kem-cp.idt"), ERROR_SUCCESS);
    ASSERT_EQ(MsiDatabaseCommit(db), ERROR_SUCCESS);
    MsiCloseHandle(db);
    DeleteFileA(idt.c_str());
  }
  EngineContext ctx;
  ctx.SetTextRules(TextRules::ForCodePage(1251));  // the setup writes Cyrillic
  auto installer = platform::CreateInstallerService();
  auto system = platform::CreateSystemService();
  kem::RecordProperty(ctx.State.Installer, "PH_1", "\xC4\xE0");  // Cyrillic "Da": not in 1252
  EXPECT_THROW(CommitPropertyRows(ctx, *installer, *system, package), StatementError);
  EXPECT_EQ(Property(package, "PH_1"), "<none>");
  DeleteFileA(package.c_str());
}

TEST(InstallerWin32, ProductStateOfAnUnknownProduct) {
  auto installer = platform::CreateInstallerService();
  EXPECT_NE(installer->QueryProductState("{99999999-9999-9999-9999-999999999999}"), 5);
}

TEST(SystemWin32, PrivateFileIsUnpredictableAndRemovedWithItsFolder) {
  auto system = platform::CreateSystemService();
  std::string a, b;
  {
    PropertyFile one(*system, "SourceDir\r\nC:\\\r\n$ex\r\n");
    PropertyFile two(*system, "x");
    a = one.Path();
    b = two.Path();
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a.substr(0, a.find_last_of('\\')), b.substr(0, b.find_last_of('\\')));
    EXPECT_EQ(system->ReadFile(a).value_or(""), "SourceDir\r\nC:\\\r\n$ex\r\n");
  }
  EXPECT_EQ(GetFileAttributesA(a.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA(a.substr(0, a.find_last_of('\\')).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(SystemWin32, RegistryKeysAndValuesAreDeleted) {
  auto system = platform::CreateSystemService();
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KemTest\\Tree\\Deep", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExA(key, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KemTest", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  RegSetValueExA(key, "keep", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegSetValueExA(key, "gone", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
  RegCloseKey(key);

  system->DeleteRegistryValue(RegistryRoot::CurrentUser, "Software\\KemTest", "gone", 0);
  system->DeleteRegistryTree(RegistryRoot::CurrentUser, "Software\\KemTest\\Tree", 0);
  system->DeleteRegistryValue(RegistryRoot::CurrentUser, "Software\\NoSuchKey", "x", 0);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\KemTest", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExA(key, "keep", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_NE(RegQueryValueExA(key, "gone", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  HKEY tree = nullptr;
  EXPECT_NE(RegOpenKeyExA(key, "Tree", 0, KEY_READ, &tree), ERROR_SUCCESS);
  RegCloseKey(key);
  system->DeleteRegistryTree(RegistryRoot::CurrentUser, "Software\\KemTest", 0);
}

TEST(SystemWin32, ProcessesServicesWindowsAndIdentifiers) {
  auto system = platform::CreateSystemService();
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string exe = std::string(self).substr(std::string(self).find_last_of('\\') + 1);
  bool found = false;
  for (const auto& p : system->ProcessNames())
    if (lstrcmpiA(p.substr(p.find_last_of('\\') + 1).c_str(), exe.c_str()) == 0) found = true;
  EXPECT_TRUE(found) << exe;
  EXPECT_EQ(system->ServiceState("KemNoSuchService", ""), 0);

  std::string guid = system->NewGuid();
  EXPECT_EQ(guid.size(), 38u);
  EXPECT_EQ(guid.front(), '{');
  EXPECT_NE(guid, system->NewGuid());
  EXPECT_GT(system->FreeDiskSpace("C:\\"), 0);

  // A program run hidden and waited for gives its exit code; a missing one -1.
  std::string windows = system->WindowsFolder();
  ASSERT_EQ(windows.back(), '\\');
  EXPECT_EQ(system->RunHidden(windows + "system32\\cmd.exe", "/c exit 3", "C:\\"), 3);
  EXPECT_EQ(system->RunHidden(windows + "Microsoft.NET\\Framework\\v0\\ngen.exe", "install \"x\"", "C:\\"), -1);

  // A window of our own is listed and gets the close request.
  HWND w = CreateWindowExA(0, "STATIC", "Kem terminate target", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(w, nullptr);
  bool listed = false;
  for (const auto& t : system->TopLevelWindows())
    if (t.Handle == reinterpret_cast<std::uintptr_t>(w) && t.Title == "Kem terminate target") listed = true;
  EXPECT_TRUE(listed);
  system->PostCancelAndClose(reinterpret_cast<std::uintptr_t>(w));
  MSG msg;
  bool closeSeen = false;
  while (PeekMessageA(&msg, w, 0, 0, PM_REMOVE))
    if (msg.message == WM_CLOSE) closeSeen = true;
  EXPECT_TRUE(closeSeen);
  DestroyWindow(w);
}

TEST(SystemWin32, AccessIsGrantedOnFoldersAndKeysAndRefusedForMissingObjects) {
  auto system = platform::CreateSystemService();
  std::string folder = TempFolder() + "kem-acl-test";
  CreateDirectoryA(folder.c_str(), nullptr);
  EXPECT_TRUE(system->GrantAccess(SecuredObject::FileOrFolder, folder, {"S-1-1-0", "S-1-5-32-545"}, AccessLevel::Read));
  PACL acl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoA(folder.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                  nullptr, &sd),
            ERROR_SUCCESS);
  PSID everyone = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidA("S-1-1-0", &everyone));
  bool found = false;
  for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (GetAce(acl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
        EqualSid(reinterpret_cast<PSID>(&ace->SidStart), everyone))
      found = true;
  }
  EXPECT_TRUE(found);
  LocalFree(everyone);
  LocalFree(sd);
  RemoveDirectoryA(folder.c_str());

  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KemAclTest", 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr), ERROR_SUCCESS);
  RegCloseKey(k);
  EXPECT_TRUE(system->GrantAccess(SecuredObject::RegistryKey, "CURRENT_USER\\Software\\KemAclTest", {"S-1-5-11"}, AccessLevel::Full));
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KemAclTest");

  EXPECT_FALSE(system->GrantAccess(SecuredObject::FileOrFolder, folder + "-missing", {"S-1-1-0"}, AccessLevel::Read));
}

TEST(SystemWin32, ScheduledTaskIsCreatedChangedAndDeleted) {
  auto system = platform::CreateSystemService();
  ScheduledTask task;
  task.Name = "KemTestTask";
  task.Program = "C:\\windows\\notepad.exe";
  task.Arguments = "/a";
  task.WorkingFolder = "C:\\";
  task.HasStart = true;
  task.Year = 2035;
  task.Month = 5;
  task.Day = 6;
  task.Hour = 7;
  task.Minute = 8;
  if (!system->ScheduleTask(task)) GTEST_SKIP() << "no Task Scheduler here";
  task.Arguments = "/b";
  EXPECT_TRUE(system->ScheduleTask(task));  // the existing task changes
  EXPECT_TRUE(system->DeleteScheduledTask("KemTestTask", ""));
  EXPECT_FALSE(system->DeleteScheduledTask("KemTestTask", ""));
}

}  // namespace
}  // namespace kem
