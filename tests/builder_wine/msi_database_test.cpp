// The installer database that the native builder wrote, opened by Windows Installer.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// The build tree is reached through Wine's drive Z:, the root of the host's file system.
std::string WindowsPath(std::string unixPath) {
  for (char& c : unixPath)
    if (c == '/') c = '\\';
  return "Z:" + unixPath;
}

class Handle {
 public:
  Handle() = default;
  ~Handle() {
    if (h_) MsiCloseHandle(h_);
  }
  MSIHANDLE* operator&() { return &h_; }
  operator MSIHANDLE() const { return h_; }

 private:
  MSIHANDLE h_ = 0;
};

std::string PropertyValue(MSIHANDLE db, const std::string& name) {
  Handle view, record;
  std::string sql = "SELECT `Value` FROM `Property` WHERE `Property`='" + name + "'";
  if (MsiDatabaseOpenViewA(db, sql.c_str(), &view) != ERROR_SUCCESS) return "<no view>";
  if (MsiViewExecute(view, 0) != ERROR_SUCCESS) return "<not executed>";
  if (MsiViewFetch(view, &record) != ERROR_SUCCESS) return "<no row>";
  char buffer[512];
  DWORD size = sizeof buffer;
  if (MsiRecordGetStringA(record, 1, buffer, &size) != ERROR_SUCCESS) return "<unreadable>";
  return std::string(buffer, size);
}

std::string SummaryText(MSIHANDLE db, UINT property) {
  Handle info;
  if (MsiGetSummaryInformationA(db, nullptr, 0, &info) != ERROR_SUCCESS) return "<no summary>";
  UINT type = 0;
  INT number = 0;
  FILETIME time{};
  char buffer[256];
  DWORD size = sizeof buffer;
  if (MsiSummaryInfoGetPropertyA(info, property, &type, &number, &time, buffer, &size) != ERROR_SUCCESS)
    return "<unreadable>";
  return std::string(buffer, size);
}

TEST(BuiltInstallerDatabase, OpensWithTheProductsIdentity) {
  Handle db;
  ASSERT_EQ(MsiOpenDatabaseA(WindowsPath(KEM_BUILT_MSI).c_str(), MSIDBOPEN_READONLY, &db), ERROR_SUCCESS)
      << KEM_BUILT_MSI;
  EXPECT_EQ(PropertyValue(db, "ProductCode"), KEM_PRODUCT_CODE);
  EXPECT_EQ(PropertyValue(db, "ProductName"), "Hello");
  EXPECT_EQ(PropertyValue(db, "ProductVersion"), "1.0.0");
  EXPECT_EQ(PropertyValue(db, "Manufacturer"), "Kem Examples");
  EXPECT_EQ(PropertyValue(db, "UpgradeCode").size(), 38u);
  EXPECT_EQ(SummaryText(db, 7), "Intel;1033");      // Template
  EXPECT_EQ(SummaryText(db, 9), KEM_REVISION_CODE);  // Revision Number: the package code
}

std::wstring PropertyValueW(MSIHANDLE db, const std::wstring& name) {
  Handle view, record;
  std::wstring sql = L"SELECT `Value` FROM `Property` WHERE `Property`='" + name + L"'";
  if (MsiDatabaseOpenViewW(db, sql.c_str(), &view) != ERROR_SUCCESS) return L"<no view>";
  if (MsiViewExecute(view, 0) != ERROR_SUCCESS) return L"<not executed>";
  if (MsiViewFetch(view, &record) != ERROR_SUCCESS) return L"<no row>";
  wchar_t buffer[512];
  DWORD size = 512;
  if (MsiRecordGetStringW(record, 1, buffer, &size) != ERROR_SUCCESS) return L"<unreadable>";
  return std::wstring(buffer, size);
}

// Texts beyond ASCII, written in UTF-8 in the project, read back by Windows Installer as
// the same letters: the database's code page matches its strings.
TEST(BuiltInstallerDatabase, LettersBeyondAsciiReadBackUnchanged) {
  Handle db;
  ASSERT_EQ(MsiOpenDatabaseA(WindowsPath(KEM_CAFE_MSI).c_str(), MSIDBOPEN_READONLY, &db), ERROR_SUCCESS)
      << KEM_CAFE_MSI;
  EXPECT_EQ(PropertyValueW(db, L"ProductName"), L"Caf\u00E9 Cr\u00E8me");
  EXPECT_EQ(PropertyValueW(db, L"Manufacturer"), L"M\u00FCller & S\u00F8n");
  Handle info;
  ASSERT_EQ(MsiGetSummaryInformationW(db, nullptr, 0, &info), ERROR_SUCCESS);
  UINT type = 0;
  INT number = 0;
  FILETIME time{};
  wchar_t buffer[256];
  DWORD size = 256;
  ASSERT_EQ(MsiSummaryInfoGetPropertyW(info, 3, &type, &number, &time, buffer, &size), ERROR_SUCCESS);  // Subject
  EXPECT_EQ(std::wstring(buffer, size), L"Caf\u00E9 Cr\u00E8me");
}

TEST(BuiltInstallerDatabase, TheEnginesTableUpdatesWork) {
  // The engine inserts and updates Property rows and reads the Component table; both must
  // work on the database as built.
  std::string copy = WindowsPath(std::string(KEM_BUILT_MSI) + ".copy.msi");
  ASSERT_TRUE(CopyFileA(WindowsPath(KEM_BUILT_MSI).c_str(), copy.c_str(), FALSE));
  {
    Handle db, insert, update, components;
    ASSERT_EQ(MsiOpenDatabaseA(copy.c_str(), MSIDBOPEN_TRANSACT, &db), ERROR_SUCCESS);
    ASSERT_EQ(MsiDatabaseOpenViewA(db, "INSERT INTO `Property` ( `Property` , `Value` ) VALUES ( 'AABC' , 'TRUE' )",
                                   &insert),
              ERROR_SUCCESS);
    EXPECT_EQ(MsiViewExecute(insert, 0), ERROR_SUCCESS);
    ASSERT_EQ(MsiDatabaseOpenViewA(db, "UPDATE `Property` SET `Value`='2.0.0' WHERE `Property`='ProductVersion'",
                                   &update),
              ERROR_SUCCESS);
    EXPECT_EQ(MsiViewExecute(update, 0), ERROR_SUCCESS);
    ASSERT_EQ(MsiDatabaseOpenViewA(db, "SELECT `Attributes` FROM `Component`", &components), ERROR_SUCCESS);
    EXPECT_EQ(MsiViewExecute(components, 0), ERROR_SUCCESS);
    EXPECT_EQ(MsiDatabaseCommit(db), ERROR_SUCCESS);
  }
  {
    Handle db;
    ASSERT_EQ(MsiOpenDatabaseA(copy.c_str(), MSIDBOPEN_READONLY, &db), ERROR_SUCCESS);
    EXPECT_EQ(PropertyValue(db, "AABC"), "TRUE");
    EXPECT_EQ(PropertyValue(db, "ProductVersion"), "2.0.0");
  }
  DeleteFileA(copy.c_str());
}

}  // namespace
