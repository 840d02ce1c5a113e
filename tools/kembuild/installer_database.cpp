#include "kembuild/installer_database.h"

#include <libmsi.h>

#include <sys/statvfs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include "kembuild/code_page.h"
#include "kembuild/guid.h"

namespace kem::builder {
namespace {

template <class T>
struct GObjectDeleter {
  void operator()(T* p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GPtr = std::unique_ptr<T, GObjectDeleter<T>>;

[[noreturn]] void Fail(const std::string& what, GError* error) {
  std::string message = what;
  if (error) {
    message += ": ";
    message += error->message;
    g_error_free(error);
  }
  throw std::runtime_error(message);
}

std::string Quoted(const std::string& name) { return "`" + name + "`"; }

// What GLib's libraries log while the database is written (libmsi reports a failed write
// of the file only so): kept for the error message instead of reaching the terminal.
class LogCapture {
 public:
  LogCapture() { previous_ = g_log_set_default_handler(&Capture, this); }
  ~LogCapture() { g_log_set_default_handler(previous_, nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  const std::string& Text() const { return text_; }

 private:
  static void Capture(const gchar*, GLogLevelFlags, const gchar* message, gpointer self) {
    std::string& text = static_cast<LogCapture*>(self)->text_;
    if (!message || text.size() >= 1000) return;
    std::string line = message;
    for (char& c : line)
      if (c == '\n' || c == '\r') c = ' ';
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += (text.empty() ? "" : "; ") + line;
  }
  GLogFunc previous_ = nullptr;
  std::string text_;
};

// Why the file at path could not be written: a full disk says so.
std::string WriteFailure(const std::string& path, int error, const std::string& logged) {
  struct statvfs fs {};
  const std::string folder = std::filesystem::path(path).parent_path().string();
  if (error == ENOSPC || (statvfs(folder.empty() ? "." : folder.c_str(), &fs) == 0 &&
                          static_cast<unsigned long long>(fs.f_bavail) * fs.f_frsize < (1u << 20)))
    return "the disk is full";
  if (error) return std::strerror(error);
  return logged.empty() ? "the file was not written" : logged;
}

std::string CreateTableSql(const DatabaseTable& t) {
  std::string sql = "CREATE TABLE " + Quoted(t.name) + " (";
  std::string keys;
  for (std::size_t i = 0; i < t.columns.size(); ++i) {
    const auto& c = t.columns[i];
    if (i) sql += ", ";
    sql += Quoted(c.name) + " " + c.type;
    if (!c.nullable) sql += " NOT NULL";
    if (c.key) keys += (keys.empty() ? "" : ", ") + Quoted(c.name);
  }
  sql += " PRIMARY KEY " + keys + ")";
  return sql;
}

DatabaseTable SequenceTable(const std::string& name, std::vector<std::pair<const char*, int>> actions) {
  DatabaseTable t{name,
                  {{"Action", "CHAR(72)", false, true}, {"Condition", "CHAR(255)", true}, {"Sequence", "SHORT", true}},
                  {}};
  for (auto& [action, seq] : actions) t.rows.push_back({std::string(action), std::nullopt, std::to_string(seq)});
  return t;
}

// The Feature table's title holds 64 bytes of the code page: cut at a character boundary.
std::string FeatureTitle(const Project& p) {
  if (p.title.size() <= 64) return p.title;
  const CodePage cp(p.codePage);
  std::string error;
  auto back = cp.FromUtf8(TruncateForCodePage(cp, cp.ToUtf8(p.title), 64), error);
  return back ? *back : p.title.substr(0, 64);
}

// The database holds its texts in its code page; libmsi takes UTF-8 and converts. A text
// that the code page cannot hold would break libmsi's commit, so the database gets texts
// made from code-page text only.
class ToDatabaseText {
 public:
  explicit ToDatabaseText(std::uint32_t codePage) : cp_(codePage) {}
  std::string operator()(const std::string& text) const {
    for (char c : text)
      if (static_cast<unsigned char>(c) >= 0x80) return cp_.ToUtf8(text);
    return text;
  }

 private:
  CodePage cp_;
};

// Sets the database's code page (the string pool's) through the import of the special
// table _ForceCodepage.
void ForceCodePage(LibmsiDatabase* db, std::uint32_t codePage, const std::string& databasePath) {
  const std::string idt = databasePath + ".codepage.idt";
  {
    std::ofstream f(idt, std::ios::binary | std::ios::trunc);
    f << "\r\n\r\n" << codePage << "\t_ForceCodepage\r\n";
    f.close();  // a write that fails shows only when the buffer goes out
    if (!f) {
      const int e = errno;
      std::remove(idt.c_str());
      throw std::runtime_error("cannot write the installer database: " + WriteFailure(idt, e, ""));
    }
  }
  GError* error = nullptr;
  const bool ok = libmsi_database_import(db, idt.c_str(), &error);
  std::remove(idt.c_str());
  if (!ok) Fail("cannot set the installer database's code page " + std::to_string(codePage), error);
}

}  // namespace

DatabaseTable* InstallerDatabase::Find(const std::string& name) {
  for (auto& t : tables)
    if (t.name == name) return &t;
  return nullptr;
}

void InstallerDatabase::AddRow(const std::string& table, DatabaseRow row) {
  DatabaseTable* t = Find(table);
  if (!t) throw std::logic_error("no table " + table + " in the installer database");
  if (row.size() != t->columns.size()) throw std::logic_error("row of the wrong width for table " + table);
  t->rows.push_back(std::move(row));
}

InstallerDatabase BaseDatabase(const Project& p, const std::vector<DeferredStatement>& deferred) {
  InstallerDatabase db;
  db.summary.subject = p.title;
  db.summary.author = p.company.empty() ? p.title : p.company;
  db.summary.comments = p.comments.empty() ? "Installer database of " + p.title : p.comments;
  db.summary.revisionNumber = p.revisionCode;
  db.summary.codePage = static_cast<std::int32_t>(p.codePage);

  db.tables.push_back({"Property", {{"Property", "CHAR(72)", false, true}, {"Value", "LONGCHAR"}}, {}});
  db.tables.push_back({"Directory",
                       {{"Directory", "CHAR(72)", false, true},
                        {"Directory_Parent", "CHAR(72)", true},
                        {"DefaultDir", "CHAR(255)"}},
                       {{std::string("TARGETDIR"), std::nullopt, std::string("SourceDir")}}});
  db.tables.push_back({"Feature",
                       {{"Feature", "CHAR(38)", false, true},
                        {"Feature_Parent", "CHAR(38)", true},
                        {"Title", "CHAR(64)", true},
                        {"Description", "CHAR(255)", true},
                        {"Display", "SHORT", true},
                        {"Level", "SHORT"},
                        {"Directory_", "CHAR(72)", true},
                        {"Attributes", "SHORT"}},
                       {{std::string("Complete"), std::nullopt, FeatureTitle(p), std::nullopt,
                         std::string("1"), std::string("1"), std::string("TARGETDIR"), std::string("0")}}});
  db.tables.push_back({"Component",
                       {{"Component", "CHAR(72)", false, true},
                        {"ComponentId", "CHAR(38)", true},
                        {"Directory_", "CHAR(72)"},
                        {"Attributes", "SHORT"},
                        {"Condition", "CHAR(255)", true},
                        {"KeyPath", "CHAR(72)", true}},
                       {}});
  db.tables.push_back(
      {"FeatureComponents", {{"Feature_", "CHAR(38)", false, true}, {"Component_", "CHAR(72)", false, true}}, {}});
  db.tables.push_back({"File",
                       {{"File", "CHAR(72)", false, true},
                        {"Component_", "CHAR(72)"},
                        {"FileName", "CHAR(255)"},
                        {"FileSize", "LONG"},
                        {"Version", "CHAR(72)", true},
                        {"Language", "CHAR(20)", true},
                        {"Attributes", "SHORT", true},
                        {"Sequence", "LONG"}},
                       {}});
  db.tables.push_back({"Media",
                       {{"DiskId", "SHORT", false, true},
                        {"LastSequence", "LONG"},
                        {"DiskPrompt", "CHAR(64)", true},
                        {"Cabinet", "CHAR(255)", true},
                        {"VolumeLabel", "CHAR(32)", true},
                        {"Source", "CHAR(72)", true}},
                       {{std::string("1"), std::string("0"), std::nullopt, std::nullopt, std::nullopt, std::nullopt}}});
  db.tables.push_back(SequenceTable("InstallExecuteSequence",
                                    {{"CostInitialize", 800},
                                     {"FileCost", 900},
                                     {"CostFinalize", 1000},
                                     {"InstallValidate", 1400},
                                     {"InstallInitialize", 1500},
                                     {"ProcessComponents", 1600},
                                     {"UnpublishFeatures", 1800},
                                     {"RemoveFiles", 3500},
                                     {"InstallFiles", 4000},
                                     {"RegisterUser", 6000},
                                     {"RegisterProduct", 6100},
                                     {"PublishFeatures", 6300},
                                     {"PublishProduct", 6400},
                                     {"InstallFinalize", 6600}}));
  db.tables.push_back(SequenceTable(
      "InstallUISequence", {{"CostInitialize", 800}, {"FileCost", 900}, {"CostFinalize", 1000}, {"ExecuteAction", 1300}}));
  db.tables.push_back(SequenceTable("AdminExecuteSequence", {{"CostInitialize", 800},
                                                             {"FileCost", 900},
                                                             {"CostFinalize", 1000},
                                                             {"InstallValidate", 1400},
                                                             {"InstallInitialize", 1500},
                                                             {"InstallAdminPackage", 3900},
                                                             {"InstallFiles", 4000},
                                                             {"InstallFinalize", 6600}}));
  db.tables.push_back(SequenceTable(
      "AdminUISequence", {{"CostInitialize", 800}, {"FileCost", 900}, {"CostFinalize", 1000}, {"ExecuteAction", 1300}}));
  db.tables.push_back(SequenceTable("AdvtExecuteSequence", {{"CostInitialize", 800},
                                                            {"CostFinalize", 1000},
                                                            {"InstallValidate", 1400},
                                                            {"InstallInitialize", 1500},
                                                            {"PublishFeatures", 6300},
                                                            {"PublishProduct", 6400},
                                                            {"InstallFinalize", 6600}}));

  auto prop = [&](std::string name, std::string value) { db.AddRow("Property", {std::move(name), std::move(value)}); };
  prop("ProductCode", p.productCode);
  prop("ProductName", p.title);
  prop("ProductVersion", p.version);
  prop("Manufacturer", p.company.empty() ? p.title : p.company);
  prop("UpgradeCode", p.upgradeCode);
  prop("ProductLanguage", "1033");
  // Every deferred statement's rows stay off until the statement runs.
  for (const auto& s : deferred) prop("A" + s.header, "FALSE");
  return db;
}

void WriteInstallerDatabase(const InstallerDatabase& model, const std::string& path) {
  std::remove(path.c_str());
  const LogCapture log;
  GError* error = nullptr;
  GPtr<LibmsiDatabase> db(libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_CREATE, path.c_str(), &error));
  if (!db) Fail("cannot create " + path, error);
  const ToDatabaseText text(static_cast<std::uint32_t>(model.summary.codePage));
  ForceCodePage(db.get(), static_cast<std::uint32_t>(model.summary.codePage), path);

  for (const auto& t : model.tables) {
    GPtr<LibmsiQuery> create(libmsi_query_new(db.get(), CreateTableSql(t).c_str(), &error));
    if (!create || !libmsi_query_execute(create.get(), nullptr, &error)) Fail("cannot create table " + t.name, error);
    libmsi_query_close(create.get(), nullptr);
    if (t.rows.empty()) continue;
    std::string sql = "INSERT INTO " + Quoted(t.name) + " (";
    std::string marks;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
      sql += (i ? ", " : "") + Quoted(t.columns[i].name);
      marks += i ? ", ?" : "?";
    }
    sql += ") VALUES (" + marks + ")";
    for (const auto& row : t.rows) {
      GPtr<LibmsiQuery> insert(libmsi_query_new(db.get(), sql.c_str(), &error));
      if (!insert) Fail("cannot prepare rows of table " + t.name, error);
      GPtr<LibmsiRecord> rec(libmsi_record_new(static_cast<guint>(t.columns.size())));
      for (std::size_t i = 0; i < t.columns.size(); ++i) {
        if (!row[i]) continue;
        guint field = static_cast<guint>(i + 1);
        if (t.columns[i].integer())
          libmsi_record_set_int(rec.get(), field, std::stoi(*row[i]));
        else
          libmsi_record_set_string(rec.get(), field, text(*row[i]).c_str());
      }
      if (!libmsi_query_execute(insert.get(), rec.get(), &error)) Fail("cannot add a row to table " + t.name, error);
      libmsi_query_close(insert.get(), nullptr);
    }
  }

  // The summary information keeps its strings as bytes of its own code page (set first):
  // libmsi stores them as given, so they go in as code-page text, unlike the tables' strings.
  const SummaryInformation& s = model.summary;
  GPtr<LibmsiSummaryInfo> si(libmsi_summary_info_new(db.get(), 20, &error));
  if (!si) Fail("cannot open the summary information", error);
  bool ok = libmsi_summary_info_set_int(si.get(), LIBMSI_PROPERTY_CODEPAGE, s.codePage, &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_TITLE, s.title.c_str(), &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_SUBJECT, s.subject.c_str(), &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_AUTHOR, s.author.c_str(), &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_KEYWORDS, s.keywords.c_str(), &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_COMMENTS, s.comments.c_str(), &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_TEMPLATE, s.templateText.c_str(), &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_LASTAUTHOR, s.author.c_str(), &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_UUID, s.revisionNumber.c_str(), &error) &&
            libmsi_summary_info_set_filetime(si.get(), LIBMSI_PROPERTY_CREATED_TM, s.createdTime, &error) &&
            libmsi_summary_info_set_filetime(si.get(), LIBMSI_PROPERTY_LASTSAVED_TM, s.savedTime, &error) &&
            libmsi_summary_info_set_int(si.get(), LIBMSI_PROPERTY_VERSION, s.pageCount, &error) &&
            libmsi_summary_info_set_int(si.get(), LIBMSI_PROPERTY_SOURCE, s.wordCount, &error) &&
            libmsi_summary_info_set_string(si.get(), LIBMSI_PROPERTY_APPNAME, s.appName.c_str(), &error) &&
            libmsi_summary_info_set_int(si.get(), LIBMSI_PROPERTY_SECURITY, s.security, &error);
  if (!ok) Fail("cannot set the summary information", error);
  if (!libmsi_summary_info_persist(si.get(), &error)) Fail("cannot save the summary information", error);
  if (!libmsi_database_commit(db.get(), &error)) Fail("cannot write " + path, error);
  si.reset();
  db.reset();
  // libmsi can report success for a file it failed to write.
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size == 0)
    throw std::runtime_error("cannot write " + std::filesystem::path(path).filename().string() + ": " +
                             WriteFailure(path, 0, log.Text()));
}

std::vector<std::pair<std::string, std::string>> ReadPropertyTable(const std::string& path) {
  GError* error = nullptr;
  GPtr<LibmsiDatabase> db(libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error));
  if (!db) Fail("cannot open " + path, error);
  GPtr<LibmsiQuery> q(libmsi_query_new(db.get(), "SELECT `Property`, `Value` FROM `Property`", &error));
  if (!q || !libmsi_query_execute(q.get(), nullptr, &error)) Fail("cannot query " + path, error);
  std::vector<std::pair<std::string, std::string>> rows;
  for (;;) {
    GPtr<LibmsiRecord> rec(libmsi_query_fetch(q.get(), nullptr));
    if (!rec) break;
    gchar* name = libmsi_record_get_string(rec.get(), 1);
    gchar* value = libmsi_record_get_string(rec.get(), 2);
    rows.emplace_back(name ? name : "", value ? value : "");
    g_free(name);
    g_free(value);
  }
  libmsi_query_close(q.get(), nullptr);
  return rows;
}

std::vector<std::vector<std::string>> ReadTableRows(const std::string& path, const std::string& table) {
  GError* error = nullptr;
  GPtr<LibmsiDatabase> db(libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error));
  if (!db) Fail("cannot open " + path, error);
  GPtr<LibmsiQuery> q(libmsi_query_new(db.get(), ("SELECT * FROM " + Quoted(table)).c_str(), &error));
  if (!q || !libmsi_query_execute(q.get(), nullptr, &error)) Fail("cannot query table " + table + " of " + path, error);
  GPtr<LibmsiRecord> types(libmsi_query_get_column_info(q.get(), LIBMSI_COL_INFO_TYPES, &error));
  if (!types) Fail("cannot read the columns of " + table, error);
  const guint count = libmsi_record_get_field_count(types.get());
  std::vector<bool> integer(count + 1, false);
  for (guint i = 1; i <= count; ++i) {
    gchar* type = libmsi_record_get_string(types.get(), i);
    integer[i] = type && (type[0] == 'i' || type[0] == 'I');
    g_free(type);
  }
  std::vector<std::vector<std::string>> rows;
  for (;;) {
    GPtr<LibmsiRecord> rec(libmsi_query_fetch(q.get(), nullptr));
    if (!rec) break;
    std::vector<std::string> row;
    for (guint i = 1; i <= count; ++i) {
      if (libmsi_record_is_null(rec.get(), i)) {
        row.emplace_back();
      } else if (integer[i]) {
        row.push_back(std::to_string(libmsi_record_get_int(rec.get(), i)));
      } else {
        gchar* v = libmsi_record_get_string(rec.get(), i);
        row.emplace_back(v ? v : "");
        g_free(v);
      }
    }
    rows.push_back(std::move(row));
  }
  libmsi_query_close(q.get(), nullptr);
  return rows;
}

std::int32_t ReadSummaryWordCount(const std::string& path) {
  GError* error = nullptr;
  GPtr<LibmsiDatabase> db(libmsi_database_new(path.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error));
  if (!db) Fail("cannot open " + path, error);
  GPtr<LibmsiSummaryInfo> si(libmsi_summary_info_new(db.get(), 0, &error));
  if (!si) Fail("cannot read the summary information of " + path, error);
  const gint value = libmsi_summary_info_get_int(si.get(), LIBMSI_PROPERTY_SOURCE, &error);
  if (error) Fail("cannot read the summary information of " + path, error);
  return value;
}

}  // namespace kem::builder
