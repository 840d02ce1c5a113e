// Makes a patch package for the session tests through the installer's own interface:
//   make_patch.exe ORIGINAL.msi UPDATED.msi OUT.msp PATCHCODE PRODUCTCODES
// The transform between the two databases (MsiDatabaseGenerateTransform and
// MsiCreateTransformSummaryInfo) goes into the patch as the sub-storage "T1"; the patch's
// summary information names the patch code (revision number), the products it applies to
// (template, ";"-separated) and its transforms (last saved by), written here as its property set stream. Wine's installer has
// neither transform function; there the transform is written here instead, for what the
// tests change: the Value column of Registry rows. Exit code 0 when the patch was written.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <objbase.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const CLSID kPatchClass = {0x000C1086, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const CLSID kTransformClass = {0x000C1082, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const FMTID kSummaryFormat = {0xF29F85E0, 0x4FF9, 0x1068, {0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9}};
constexpr const char* kUpgradeCode = "{5A1C2B3D-4E5F-4061-8A9B-0C1D2E3F4A5C}";

// A table or stream name as the database stores it: letters, digits, "." and "_" two to a
// character, a table name behind a marker.
std::wstring StoredName(const std::string& name, bool table) {
  auto code = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 36;
    if (c == '.') return 62;
    if (c == '_') return 63;
    return -1;
  };
  std::wstring out;
  if (table) out += wchar_t(0x4840);
  for (std::size_t i = 0; i < name.size(); ++i) {
    const int first = code(name[i]);
    if (first < 0) {
      out += wchar_t(static_cast<unsigned char>(name[i]));
      continue;
    }
    if (i + 1 < name.size() && code(name[i + 1]) >= 0) {
      out += wchar_t(0x3800 + first + (code(name[i + 1]) << 6));
      ++i;
    } else {
      out += wchar_t(0x4800 + first);
    }
  }
  return out;
}

bool WriteStream(IStorage* storage, const std::wstring& name, const std::string& bytes) {
  IStream* stream = nullptr;
  if (FAILED(storage->CreateStream(name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &stream)))
    return false;
  ULONG written = 0;
  const bool ok = bytes.empty() || SUCCEEDED(stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written));
  stream->Release();
  return ok;
}

void Put16(std::string& out, unsigned value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

// A string table: the pool (code page, then length and reference count per string) and
// the strings' bytes.
struct Strings {
  std::vector<std::string> Items;
  unsigned Id(const std::string& s) {
    for (std::size_t i = 0; i < Items.size(); ++i)
      if (Items[i] == s) return static_cast<unsigned>(i + 1);
    Items.push_back(s);
    return static_cast<unsigned>(Items.size());
  }
  bool Write(IStorage* storage) const {
    std::string pool, data;
    Put16(pool, 0);
    Put16(pool, 0);  // code page 0, two-byte references
    for (const std::string& s : Items) {
      Put16(pool, static_cast<unsigned>(s.size()));
      Put16(pool, 1);
      data += s;
    }
    return WriteStream(storage, StoredName("_StringPool", true), pool) &&
           WriteStream(storage, StoredName("_StringData", true), data);
  }
};

void Put32(std::string& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// Summary information of a storage: its property set stream, written here in full (the
// code page, then the texts and the numbers).
bool WriteSummary(IStorage* storage, const std::map<PROPID, std::string>& texts,
                  const std::map<PROPID, int>& numbers = {}) {
  std::vector<std::pair<PROPID, std::string>> values;  // each value with its type
  std::string codePage;
  Put32(codePage, VT_I2);
  Put16(codePage, 1252);
  Put16(codePage, 0);
  values.emplace_back(1, codePage);
  for (const auto& [id, text] : texts) {
    std::string v;
    Put32(v, VT_LPSTR);
    Put32(v, static_cast<std::uint32_t>(text.size() + 1));
    v += text;
    v += '\0';
    while (v.size() % 4) v += '\0';
    values.emplace_back(id, v);
  }
  for (const auto& [id, number] : numbers) {
    std::string v;
    Put32(v, VT_I4);
    Put32(v, static_cast<std::uint32_t>(number));
    values.emplace_back(id, v);
  }
  std::string section;
  std::uint32_t offset = 8 + 8 * static_cast<std::uint32_t>(values.size());
  std::string list, data;
  for (const auto& [id, v] : values) {
    Put32(list, id);
    Put32(list, offset + static_cast<std::uint32_t>(data.size()));
    data += v;
  }
  Put32(section, offset + static_cast<std::uint32_t>(data.size()));
  Put32(section, static_cast<std::uint32_t>(values.size()));
  section += list + data;
  std::string stream;
  Put16(stream, 0xFFFE);
  Put16(stream, 0);
  Put32(stream, 0x00020006);
  stream.append(16, '\0');
  Put32(stream, 1);
  stream.append(reinterpret_cast<const char*>(&kSummaryFormat), 16);
  Put32(stream, 48);
  stream += section;
  return WriteStream(storage, std::wstring(1, wchar_t(5)) + L"SummaryInformation", stream);
}

bool Query(MSIHANDLE db, const char* sql, std::map<std::string, std::string>& rows) {
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewA(db, sql, &view) != ERROR_SUCCESS || MsiViewExecute(view, 0) != ERROR_SUCCESS) return false;
  MSIHANDLE record = 0;
  while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
    char key[256] = {}, value[1024] = {};
    DWORD n = sizeof(key);
    MsiRecordGetStringA(record, 1, key, &n);
    n = sizeof(value);
    MsiRecordGetStringA(record, 2, value, &n);
    rows[key] = value;
    MsiCloseHandle(record);
  }
  MsiViewClose(view);
  MsiCloseHandle(view);
  return true;
}

// The transform written here: an update of the Value column (the fifth) of each Registry
// row whose value differs, keyed by the row's name.
bool WriteOwnTransform(IStorage* transform, const char* original, const char* updated, const std::string& product) {
  MSIHANDLE a = 0, b = 0;
  if (MsiOpenDatabaseA(original, MSIDBOPEN_READONLY, &a) != ERROR_SUCCESS) return false;
  if (MsiOpenDatabaseA(updated, MSIDBOPEN_READONLY, &b) != ERROR_SUCCESS) {
    MsiCloseHandle(a);
    return false;
  }
  std::map<std::string, std::string> before, after;
  const bool read = Query(a, "SELECT `Registry`, `Value` FROM `Registry`", before) &&
                    Query(b, "SELECT `Registry`, `Value` FROM `Registry`", after);
  MsiCloseHandle(a);
  MsiCloseHandle(b);
  if (!read) return false;
  Strings strings;
  std::string rows;
  for (const auto& [key, value] : after) {
    auto it = before.find(key);
    if (it == before.end() || it->second == value) continue;
    Put16(rows, 1u << 4);
    Put16(rows, strings.Id(key));
    Put16(rows, strings.Id(value));
  }
  if (rows.empty()) return false;
  return transform->SetClass(kTransformClass) == S_OK && strings.Write(transform) &&
         WriteStream(transform, StoredName("Registry", true), rows) &&
         WriteSummary(transform, {{7, ""}, {9, product + "1.0.0;" + product + "1.0.0;" + kUpgradeCode}},
                      {{16, 0}});  // no validation: the patch names its products
}

// The transform by the installer's functions, copied into the sub-storage; false when
// the installer has no such functions.
bool CopyGeneratedTransform(IStorage* transform, const char* original, const char* updated, const char* out) {
  const std::string file = std::string(out) + ".mst";
  MSIHANDLE a = 0, b = 0;
  if (MsiOpenDatabaseA(original, MSIDBOPEN_READONLY, &a) != ERROR_SUCCESS) return false;
  if (MsiOpenDatabaseA(updated, MSIDBOPEN_READONLY, &b) != ERROR_SUCCESS) {
    MsiCloseHandle(a);
    return false;
  }
  bool ok = MsiDatabaseGenerateTransformA(b, a, file.c_str(), 0, 0) == ERROR_SUCCESS &&
            MsiCreateTransformSummaryInfoA(b, a, file.c_str(), 0, 0) == ERROR_SUCCESS;
  MsiCloseHandle(a);
  MsiCloseHandle(b);
  if (ok) {
    std::wstring wide(file.begin(), file.end());
    IStorage* source = nullptr;
    ok = SUCCEEDED(StgOpenStorage(wide.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr, 0, &source));
    if (ok) {
      ok = SUCCEEDED(source->CopyTo(0, nullptr, nullptr, transform));
      source->Release();
    }
  }
  DeleteFileA(file.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: make_patch ORIGINAL.msi UPDATED.msi OUT.msp PATCHCODE PRODUCTCODES\n");
    return 2;
  }
  const char* original = argv[1];
  const char* updated = argv[2];
  const char* out = argv[3];
  const std::string patchCode = argv[4], products = argv[5];
  CoInitialize(nullptr);
  DeleteFileA(out);
  const std::string path(out);
  const std::wstring wide(path.begin(), path.end());
  IStorage* root = nullptr;
  if (FAILED(StgCreateDocfile(wide.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT, 0,
                              &root))) {
    std::fprintf(stderr, "cannot create %s\n", out);
    return 1;
  }
  bool ok = root->SetClass(kPatchClass) == S_OK && Strings{}.Write(root);
  IStorage* transform = nullptr;
  ok = ok && SUCCEEDED(root->CreateStorage(L"T1", STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_DIRECT,
                                           0, 0, &transform));
  const std::string product = products.substr(0, products.find(';'));
  if (ok) {
    ok = CopyGeneratedTransform(transform, original, updated, out) ||
         WriteOwnTransform(transform, original, updated, product);
    transform->Commit(STGC_DEFAULT);
    transform->Release();
  }
  // The patch's own summary information.
  ok = ok && WriteSummary(root, {{7, products}, {8, ":T1"}, {9, patchCode}}, {{14, 200}, {15, 1}});
  root->Commit(STGC_DEFAULT);
  root->Release();
  CoUninitialize();
  if (!ok) {
    std::fprintf(stderr, "cannot write the patch\n");
    return 1;
  }
  return 0;
}
