// The predefined variables the engine sets before the first statement runs. The
// Windows side gathers the values (user name, folders, dates, host name, ...); these
// functions write them into the run's store in the engine's fixed order.
//
// Order of a run's preparation: clearing the store, FillProgressChannel, FillPreInitialization,
// the installer cache's bootstrap (origin "Bootstrap"), FillInitialization, then the
// interpreter's own steps and finally InjectCommandLineAssignments.
#pragma once

#include <string>
#include <string_view>

#include "script/store/variable_manager.h"

namespace kem {

// The progress channel's reserved variables, written with RawSet:
// VRAX_thProgress "0", VRAX_thMax "100", VRAX_thMin "0", VRAX_thProgressText empty,
// VRAX_thFinished, VRAX_thCancelled and VRAX_IsCancelled "FALSE", and
// VRAX_LastDelegateTick and VRAX_LastActiveTick the tick count (decimal milliseconds).
void FillProgressChannel(TVariableManager& vars, std::string_view tickCount);

// TARGETDIR empty, STARTMENU the product title, ALLUSERS "TRUE" when the user is an
// administrator of a Windows NT family system (elevated on Vista and later). Origin
// "Pre-Initialization".
void FillPreInitialization(TVariableManager& vars, std::string_view productTitle, bool allUsers);

// Values of the "Initialization" variables that come from the machine or the run.
// Folders end with a backslash.
struct InitializationValues {
  std::string IisHost;        // host name of the loopback interface
  std::string ExeFile;        // full path of the running engine
  std::string ExeDir;         // folder of the running engine (also ROOTDIR)
  std::string UserName;       // registered owner of Windows
  std::string UserCompany;    // registered organisation
  std::string ProductVersion;
  bool Silent = false;
  std::string Logged;         // trace log path, empty when none
  std::string CmdLine;        // command tail
  std::string SfxPath;        // folder part of "/m=" (with backslash)
  std::string SfxFile;        // file-name part of "/m="
  std::string GpoPath;        // folder part of "/g=" (with backslash)
  std::string Title;          // current product title
  std::string Company;
  std::string Date;           // user's short date format
  std::string Time;           // user's long time format
  std::string TempDir;
  std::string SupportDir;
  std::string MsiFile;        // installer database the script runs with
};

// Writes the "Initialization" variables in the engine's order, from
// VRAX_COMPRESS_INSTALLER_CACHE to MSIFILE. OVERRIDECACHE is created empty only when it
// is not yet defined; NEWLINE is CR LF.
void FillInitialization(TVariableManager& vars, const InitializationValues& values);

}  // namespace kem
