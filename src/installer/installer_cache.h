// The installed product: its private copy of the setup (the installer cache folder), the
// identity a cached copy runs with, the uninstall registration, and the runs served from
// them (modify, repair, removal, upgrade).
//
// The cache folder is cache root + revision code + "\". The root is OVERRIDECACHE when
// set, else the parent of the folder the cache key names (when that folder is named after
// this revision), else the common application data folder (all users) or the user's local
// (or roaming) one. After a successful installation the folder receives the engine, the
// database, the support archive, kem.lib, setup.bmp, the instance data (base name +
// ".dat") with its ".par", ".lnk" and ".lan" companions and "instance.dat" (product code,
// revision code, title); the product is registered under its title in the system's list of
// installed programs and the cache key points at the folder. A successful removal deletes
// the folder and the registration.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "installer/session.h"

namespace kem {

class InstallerCacheService;
class InstallerService;
class SystemService;
class Interpreter;
struct InterpreterHooks;

// The major and minor numbers of a version text: 1.0.1 gives 1 and 0, 2 gives 2 and 0,
// "3.beta" 3 and 0. A part that is not a decimal number counts as 0.
std::pair<std::uint32_t, std::uint32_t> VersionNumbers(std::string_view version);

// The identity file: product code, revision code, title; nullopt when it has fewer than
// three lines or an empty code.
struct InstanceIdentity {
  std::string ProductCode, RevisionCode, Title;
};
std::optional<InstanceIdentity> ReadInstanceIdentity(std::string_view text);
std::string WriteInstanceIdentity(const InstanceIdentity& identity);

// A command line that starts program: the path in double quotes, then the arguments.
std::string QuotedCommand(std::string_view program, std::string_view arguments);

// Registry keys of the registration.
inline constexpr std::string_view kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr std::string_view kCacheKey = "SOFTWARE\\Corvath\\Vantrel\\Ident.Cache\\";
// What the removal entries pass on the command line.
inline constexpr std::string_view kRemovalArguments = "REMOVE=TRUE MODIFY=FALSE";
inline constexpr std::string_view kQuietRemovalArguments = "/s REMOVE=TRUE MODIFY=FALSE";

struct InstallerCacheServices {
  InstallerCacheService& Cache;
  InstallerService& Installer;
  SystemService& System;
};

// The cache of one run. The hooks drive it; "Apply Changes" calls AfterSession.
class InstalledProduct {
 public:
  explicit InstalledProduct(InstallerCacheServices services);
  ~InstalledProduct();
  InstalledProduct(const InstalledProduct&) = delete;
  InstalledProduct& operator=(const InstalledProduct&) = delete;

  // Identity, cache folder, installed state, maintenance or upgrade, the instance data.
  void Bootstrap(Interpreter& in);
  // OVERRIDECACHE changes, ENGINECACHE and UNINSTALLLINK.
  void BeforeStatement(Interpreter& in);
  // After the script: the cached sources of a web build, the instance data.
  void AfterRun(Interpreter& in);
  // The product's cache holds the advertisement marker.
  bool AdvertisedBefore(Interpreter& in);
  // A successful "Apply Changes": cache and registration, or their removal.
  void AfterSession(Interpreter& in, SessionMode mode, bool advertise);

  // The cache root and folder for the all-users flag (each with a trailing backslash).
  std::string CacheRoot(Interpreter& in, bool allUsers);
  std::string CacheFolder(Interpreter& in, bool allUsers);

 private:
  struct State;
  void Install(Interpreter& in, bool advertise);
  void Remove(Interpreter& in);
  bool CachedDataMissing(Interpreter& in);
  bool PrepareFolder(Interpreter& in, const std::string& folder, bool allUsers);
  bool ReadData(Interpreter& in, const std::string& path, int mode);
  void LoadCompanions(Interpreter& in, const std::string& datPath);
  void WriteData(Interpreter& in, const std::string& folder, bool full);
  void FirstInstallDefaults(Interpreter& in, bool admin);
  void LoadPatchTarget(Interpreter& in);
  // The installed product's cached engine, as its uninstall entry names it (empty when
  // there is none).
  std::string InstalledEngine(Interpreter& in, bool machineFirst);
  std::string DatabaseBaseName(Interpreter& in) const;

  InstallerCacheServices services_;
  std::unique_ptr<State> state_;
};

// Plugs the cache into a run (bootstrap, the refresh before each statement, the removable-
// media ending and the end of the run).
void AddInstallerCacheHooks(InterpreterHooks& hooks, std::shared_ptr<InstalledProduct> product);

}  // namespace kem
