#include "commands/registry_statements.h"

#include <array>
#include <optional>

#include "commands/command_state.h"
#include "engine/statement_parameters.h"
#include "script/eval/condition.h"
#include "script/interpreter/interpreter.h"
#include "script/interpreter/redirection_guard.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

constexpr std::uint32_t kRegSz = 1, kRegExpandSz = 2, kRegBinary = 3, kRegDword = 4, kRegMultiSz = 7;

using Version4 = std::array<std::uint32_t, 4>;

struct QueryServices {
  RegistryQueryService& Registry;
  SystemQueryService& System;
  CommandFileService& Files;
};

std::optional<RegistryRoot> RootOf(std::int32_t code) {
  if (code < 0 || code > 4) return std::nullopt;
  return static_cast<RegistryRoot>(code);
}

// A value read as text for the queries that use registry settings; empty when missing.
std::string ReadText(RegistryQueryService& registry, RegistryRoot root, const std::string& key,
                     const std::string& name, std::uint32_t view) {
  RegistryValue value;
  auto r = registry.Read(root, key, name, view, value);
  if (r != RegistryReadResult::Ok) return {};
  std::string text = RegistryValueText(r, value);
  return text == "READ$ERROR" || text == "UNKNOWN$TYPE" ? std::string() : text;
}

std::optional<std::uint32_t> ReadNumber(RegistryQueryService& registry, const std::string& key, const std::string& name,
                                        std::uint32_t view) {
  RegistryValue value;
  if (registry.Read(RegistryRoot::LocalMachine, key, name, view, value) != RegistryReadResult::Ok) return std::nullopt;
  if (value.Type != kRegDword || value.Data.size() < 4) return std::nullopt;
  std::uint32_t n = 0;
  for (int k = 3; k >= 0; --k) n = (n << 8) | static_cast<unsigned char>(value.Data[static_cast<std::size_t>(k)]);
  return n;
}

void ReadRegistry(Interpreter& in, std::size_t i, QueryServices s, bool keepMarkers) {
  const std::string_view name = keepMarkers ? "Check Registry" : "Read Registry";
  RegistryViewScope view(in.Context().State, s.System.IsWow64());
  EnsureResultVariable(in.Vars(), in.Param(i, param::ReadRegistry::Result), name);
  const std::int32_t code = TextToInt32(in.Vars().Expand(in.Param(i, param::ReadRegistry::Root)));
  std::string text = "NO$KEY";
  if (auto root = RootOf(code)) {
    RegistryValue value;
    auto r = s.Registry.Read(*root, PathParam(in, i, param::ReadRegistry::Key),
                             PathParam(in, i, param::ReadRegistry::Value), view.View(), value);
    text = RegistryValueText(r, value);
  }
  if (!keepMarkers && (text == "READ$ERROR" || text == "NO$KEY" || text == "NO$VALUE" || text == "UNKNOWN$TYPE"))
    text.clear();
  WriteResult(in, in.Param(i, param::ReadRegistry::Result), text, name);
}

bool AtLeast(const OsVersionInfo& v, unsigned major, unsigned minor) {
  return v.Major > major || (v.Major == major && v.Minor >= minor);
}

// The minor version with the 9x family's adjustment for the second edition.
OsVersionInfo Adjusted(OsVersionInfo v) {
  if (!v.Nt && v.Major == 4 && v.Minor == 10 && v.Build > 67766445u) v.Minor = 11;
  return v;
}

Version4 FileVersion4(CommandFileService& files, const std::string& path) {
  Version4 out{};
  if (auto v = files.FileVersion(path))
    for (std::size_t k = 0; k < 4; ++k) out[k] = (*v)[k];
  return out;
}

Version4 TextVersion4(const std::string& text) {
  Version4 out{};
  try {
    auto v = ReadVersion(text);
    for (std::size_t k = 0; k < 4; ++k) out[k] = static_cast<std::uint32_t>(v[k]);
  } catch (...) {
    out = {};
  }
  return out;
}

constexpr Version4 kShellVersions[] = {
    {6, 0, 2800, 1106}, {6, 0, 2600, 0},    {5, 5, 4807, 2300}, {5, 5, 4522, 1800}, {5, 5, 4134, 100},  {5, 0, 3502, 5400},
    {5, 0, 3314, 2100}, {5, 0, 2919, 6307}, {5, 0, 2014, 213},  {4, 72, 3612, 1707}, {4, 72, 3110, 3},  {4, 72, 2106, 7},
    {4, 71, 1712, 5},   {4, 70, 1300, 0},   {4, 70, 1215, 0},   {4, 70, 1155, 0}};

std::string SystemSetting(Interpreter& in, std::int32_t code, QueryServices s, std::uint32_t view) {
  SystemQueryService& sys = s.System;
  const OsVersionInfo v = Adjusted(sys.Version());
  const int sp = ServicePackLevel(v.ServicePack);
  auto webServer = [&]() -> std::optional<std::uint32_t> {
    auto major = ReadNumber(s.Registry, "SOFTWARE\\Microsoft\\InetStp", "MajorVersion", view);
    auto minor = ReadNumber(s.Registry, "SOFTWARE\\Microsoft\\InetStp", "MinorVersion", view);
    if (!major || !minor) return std::nullopt;
    return *major * 10 + *minor;
  };
  auto webAtLeast = [&](std::uint32_t wanted) {
    auto w = webServer();
    return w && *w >= wanted;
  };
  auto explorerAtLeast = [&](const Version4& wanted) {
    std::string text = ReadText(s.Registry, RegistryRoot::LocalMachine, "SOFTWARE\\Microsoft\\Internet Explorer",
                                "Version", view);
    return !text.empty() && TextVersion4(text) >= wanted;
  };
  const bool server = v.Nt && v.Server;
  if (code == 0) return BoolText(!v.Nt || sys.InGroup(544));
  if (code >= 1 && code <= 7) {
    const std::uint64_t mb = std::uint64_t{32} << (code - 1);
    return BoolText(sys.PhysicalMemory() + (std::uint64_t{2} << 20) >= (mb << 20));
  }
  if (code >= 8 && code <= 12) {
    static constexpr int kW[] = {800, 1024, 1280, 1600, 1920}, kH[] = {600, 768, 1024, 1200, 1440};
    const int w = sys.ScreenWidth(), h = sys.ScreenHeight();
    const int k = code - 8;
    return BoolText((w >= kW[k] && h >= kH[k]) || (h >= kW[k] && w >= kH[k]));
  }
  if (code >= 13 && code <= 16) return BoolText(sys.BitsPerPixel() >= 8 * (code - 12));
  if (code == 17) return BoolText(!v.Nt);
  if (code == 18) return BoolText(v.Nt);
  if (code >= 19 && code <= 26) {
    static constexpr unsigned kMajor[] = {4, 4, 4, 4, 4, 5, 5, 5}, kMinor[] = {0, 10, 11, 90, 0, 0, 1, 2};
    return BoolText(AtLeast(v, kMajor[code - 19], kMinor[code - 19]));
  }
  if (code >= 27 && code <= 32) return BoolText(sp >= code - 26);
  if (code == 33) return std::to_string(sys.SystemLanguage());
  if (code == 34) return sys.LanguageName(sys.SystemLanguage());
  if (code == 35) return in.Machine().Registry.RegisteredOwner();
  if (code == 36) return in.Machine().Registry.RegisteredOrganization();
  if (code >= 37 && code <= 52)
    return BoolText(FileVersion4(s.Files, sys.SystemFolder() + "\\shdocvw.dll") >= kShellVersions[code - 37]);
  if (code >= 53 && code <= 58) {
    static constexpr std::uint32_t kWeb[] = {60, 51, 50, 40, 30, 20};
    return BoolText(webAtLeast(kWeb[code - 53]));
  }
  if (code == 59) return {};
  if (code == 60) return sys.UserName();
  if (code == 61) return sys.ComputerName();
  if (code == 62) return v.Nt ? sys.UserDomain() : std::string();
  if (code == 63) {
    static constexpr std::pair<std::uint32_t, const char*> kGroups[] = {
        {544, "ADMIN"}, {547, "POWER"}, {545, "USER"}, {546, "GUEST"}};
    for (const auto& [rid, label] : kGroups)
      if (sys.InGroup(rid)) return label;
    return "ERROR";
  }
  if (code == 64) return std::to_string(sys.DpiX());
  if (code == 65) return BoolText(sys.IsWow64());
  if (code == 66) return BoolText(sys.TabletPc());
  if (code == 67) return BoolText(sys.MediaCenter());
  if (code == 68) return BoolText(server);
  if (code == 69) return BoolText(AtLeast(v, 6, 0));
  if (code == 70) return BoolText(sys.VmWare());
  if (code == 71) return BoolText(sys.VirtualPc());
  if (code == 72) return BoolText(explorerAtLeast({7, 0, 5730, 11}));
  if (code == 73) return BoolText(webAtLeast(70));
  if (code == 74) return BoolText(!sys.VmWare() && !sys.VirtualPc());
  if (code == 75) return sys.NativeArchitecture();
  if (code == 76) return BoolText(server && (AtLeast(v, 6, 1) || (v.Major == 6 && v.Minor == 0 && sp >= 1)));
  if (code == 77) return BoolText(sys.Elevated());
  if (code == 78) return BoolText(explorerAtLeast({8, 0, 6001, 18702}));
  if (code == 79) return BoolText(AtLeast(v, 6, 1));
  if (code == 80) return BoolText(webAtLeast(75));
  if (code == 81) return BoolText(server && AtLeast(v, 6, 1));
  return {};
}

void GetOsOrSpLevel(Interpreter& in, std::size_t i, QueryServices s) {
  constexpr std::string_view kName = "Get OS or SP Level";
  RegistryViewScope view(in.Context().State, s.System.IsWow64());
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  EnsureResultVariable(in.Vars(), in.Param(i, param::GetOsOrSpLevel::Result), kName);
  const OsVersionInfo v = Adjusted(s.System.Version());
  WriteResult(
      in, in.Param(i, param::GetOsOrSpLevel::Result),
      IsTrue(in.Param(i, param::GetOsOrSpLevel::Name)) ? OsName(v) : std::to_string(ServicePackLevel(v.ServicePack)),
      kName);
}

void GetSystemSettings(Interpreter& in, std::size_t i, QueryServices s) {
  constexpr std::string_view kName = "Get System Settings";
  RegistryViewScope view(in.Context().State, s.System.IsWow64());
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  EnsureResultVariable(in.Vars(), in.Param(i, param::GetSystemSettings::Result), kName);
  const std::int32_t code = TextToInt32(in.Vars().Expand(in.Param(i, param::GetSystemSettings::Setting)));
  WriteResult(in, in.Param(i, param::GetSystemSettings::Result), SystemSetting(in, code, s, view.View()), kName);
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

std::string FolderLocation(std::int32_t code, bool allUsers, QueryServices s, std::uint32_t view, bool mode64) {
  SystemQueryService& sys = s.System;
  // Shell folders by code: the user's and the shared variant.
  struct Pair {
    int user, shared;
  };
  static constexpr Pair kShell[] = {
      {0x21, 0x21}, {0x22, 0x22}, {0x05, 0x2e}, {0x06, 0x1f}, {0x0d, 0x35}, {0x27, 0x36}, {0x0e, 0x37},
      {0x13, 0x13}, {0x1b, 0x1b}, {-1, -1},     {-1, -1},     {0x30, 0x2f}, {0x0b, 0x16}, {0x07, 0x18},
      {0x02, 0x17}, {0x1a, 0x23}, {0x3b, 0x3b}, {0x10, 0x19}, {0x14, 0x14}, {-1, -1},     {-1, -1},
      {0x08, 0x08}, {0x09, 0x09}, {-1, -1},     {0x15, 0x15}, {-1, -1},     {-1, -1},     {-1, -1},
      {0x1c, 0x1c}};
  if (code < 0 || code > 28) return {};
  const Pair p = kShell[code];
  if (p.user >= 0) return WithSlash(sys.ShellFolder(allUsers ? p.shared : p.user));
  const std::string current = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  switch (code) {
    case 9: return WithSlash(ReadText(s.Registry, RegistryRoot::LocalMachine, current + "\\Setup", "BootDir", view));
    case 10: {
      char drive = sys.FirstCdDrive();
      return drive ? std::string(1, drive) + ":\\" : std::string();
    }
    case 19: {
      std::string profile = sys.ShellFolder(0x28);
      if (!allUsers) return WithSlash(profile);
      auto cut = profile.find_last_of('\\');
      return cut == std::string::npos ? std::string() : profile.substr(0, cut + 1);
    }
    case 20:
      return WithSlash(ReadText(s.Registry, RegistryRoot::LocalMachine, current,
                                allUsers ? "CommonFilesDir" : "ProgramFilesDir", view));
    case 23: return WithSlash(sys.IsWow64() && !mode64 ? sys.Wow64SystemFolder() : sys.SystemFolder());
    case 25: return WithSlash(sys.WindowsFolder());
    case 26: {
      std::string appData = ReadText(s.Registry, RegistryRoot::CurrentUser, current + "\\Explorer\\Shell Folders\\",
                                     "AppData", view);
      return appData.empty() ? std::string() : WithSlash(appData) + "Microsoft\\Internet Explorer\\Quick Launch\\";
    }
    case 27: {
      std::string root = ReadText(s.Registry, RegistryRoot::LocalMachine, "SOFTWARE\\Microsoft\\InetStp", "PathWWWRoot", view);
      if (!root.empty()) return WithSlash(sys.ExpandEnvironment(root));
      const std::string roots = "SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters\\Virtual Roots\\";
      std::string entry = ReadText(s.Registry, RegistryRoot::LocalMachine, roots, "/", view);
      if (entry.empty()) entry = ReadText(s.Registry, RegistryRoot::LocalMachine, roots, "/,", view);
      entry = entry.substr(0, entry.find(','));
      return WithSlash(entry);
    }
  }
  return {};
}

void GetFolderLocation(Interpreter& in, std::size_t i, QueryServices s) {
  constexpr std::string_view kName = "Get Folder Location";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  RegistryViewScope view(in.Context().State, s.System.IsWow64());
  EnsureResultVariable(in.Vars(), in.Param(i, param::GetFolderLocation::Result), kName);
  const std::int32_t code = TextToInt32(in.Vars().Expand(in.Param(i, param::GetFolderLocation::Folder)));
  WriteResult(in, in.Param(i, param::GetFolderLocation::Result),
              FolderLocation(code, IsTrue(in.Param(i, param::GetFolderLocation::AllUsers)), s, view.View(), Mode64(in)),
              kName);
}

}  // namespace

std::string RegistryValueText(RegistryReadResult result, const RegistryValue& value) {
  switch (result) {
    case RegistryReadResult::NoKey: return "NO$KEY";
    case RegistryReadResult::NoValue: return "NO$VALUE";
    case RegistryReadResult::Failed: return "READ$ERROR";
    case RegistryReadResult::Ok: break;
  }
  const std::string& d = value.Data;
  switch (value.Type) {
    case kRegSz:
    case kRegExpandSz: return d.substr(0, d.find('\0'));  // an unterminated text ends with its data
    case kRegDword: {
      if (d.size() != 4) return "READ$ERROR";
      std::uint32_t n = 0;
      for (int k = 3; k >= 0; --k) n = (n << 8) | static_cast<unsigned char>(d[static_cast<std::size_t>(k)]);
      return std::to_string(n);
    }
    case kRegBinary: {
      static constexpr char kHex[] = "0123456789ABCDEF";
      std::string out;
      out.reserve(d.size() * 2);
      for (unsigned char c : d) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      return out;
    }
    case kRegMultiSz: {
      std::string out;
      for (std::size_t start = 0; start < d.size();) {
        std::size_t end = d.find('\0', start);
        if (end == std::string::npos) end = d.size();
        if (end == start) break;
        if (start) out += "$NEWLINE$";
        out.append(d, start, end - start);
        start = end + 1;
      }
      return out;
    }
  }
  return "UNKNOWN$TYPE";
}

int ServicePackLevel(const std::string& text) {
  for (int n = 10; n >= 1; --n)
    if (text.find(std::to_string(n)) != std::string::npos) return n;
  return 0;
}

std::string OsName(const OsVersionInfo& raw) {
  const OsVersionInfo v = Adjusted(raw);
  if (v.Nt) {
    if (v.Major == 4 && v.Minor == 0) return "NT4";
    if (v.Major == 5 && v.Minor == 0) return "2000";
    if (v.Major == 5 && v.Minor == 1) return "XP";
    if (v.Major == 5 && v.Minor == 2) return "2003";
    if (v.Major == 6 && v.Minor == 0) return ServicePackLevel(v.ServicePack) >= 1 && v.Server ? "2008" : "VISTA";
    if (v.Major == 6 && v.Minor == 1) return v.Server ? "2008R2" : "SEVEN";
  } else if (v.Major == 4) {
    if (v.Minor == 0) return "95";
    if (v.Minor == 10) return "98";
    if (v.Minor == 11) return "98SE";
    if (v.Minor == 90) return "ME";
  }
  return "UNKNOWN";
}

void RegisterRegistryStatements(StatementTable& table, RegistryQueryService& registry, SystemQueryService& system,
                                CommandFileService& files) {
  using K = StatementKind;
  QueryServices s{registry, system, files};
  table.Add(K::ReadRegistry, [s](Interpreter& in, std::size_t i) { ReadRegistry(in, i, s, false); });
  table.Add(K::CheckRegistry, [s](Interpreter& in, std::size_t i) { ReadRegistry(in, i, s, true); });
  table.Add(K::GetOsOrSpLevel, [s](Interpreter& in, std::size_t i) { GetOsOrSpLevel(in, i, s); });
  table.Add(K::GetSystemSettings, [s](Interpreter& in, std::size_t i) { GetSystemSettings(in, i, s); });
  table.Add(K::GetFolderLocation, [s](Interpreter& in, std::size_t i) { GetFolderLocation(in, i, s); });
}

}  // namespace kem
