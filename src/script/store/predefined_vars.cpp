#include "script/store/predefined_vars.h"

#include "script/store/variable_manager.h"

namespace kem {

void FillProgressChannel(TVariableManager& vars, std::string_view tickCount) {
  vars.Set("VRAX_thProgress", "0");
  vars.Set("VRAX_thMax", "100");
  vars.Set("VRAX_thMin", "0");
  vars.Set("VRAX_thProgressText", "");
  vars.Set("VRAX_thFinished", "FALSE");
  vars.Set("VRAX_thCancelled", "FALSE");
  vars.Set("VRAX_IsCancelled", "FALSE");
  vars.Set("VRAX_LastDelegateTick", tickCount);
  vars.Set("VRAX_LastActiveTick", tickCount);
}

void FillPreInitialization(TVariableManager& vars, std::string_view productTitle, bool allUsers) {
  const auto origin = kOriginPreInitialization;
  vars.SetVar("TARGETDIR", "", origin);
  vars.SetVar("STARTMENU", productTitle, origin);
  vars.SetVar("ALLUSERS", BoolText(allUsers), origin);
}

void FillInitialization(TVariableManager& vars, const InitializationValues& v) {
  const auto origin = kOriginInitialization;
  auto set = [&](std::string_view name, std::string_view value) { vars.SetVar(name, value, origin); };
  set("VRAX_COMPRESS_INSTALLER_CACHE", "TRUE");
  set("VRAX_DISABLE_ROLLBACK", "FALSE");
  set("VRAX_DISABLE_VISTA_RESTART_MANAGER", "FALSE");
  set("IISHOST", v.IisHost);
  if (!vars.Exists("OVERRIDECACHE")) set("OVERRIDECACHE", "");
  set("VRAXLOGO", "");
  set("SELECTED", "0");
  set("WINDOWHANDLE", "0");
  set("EXEFILE", v.ExeFile);
  set("EXEDIR", v.ExeDir);
  set("PROGRESSTEXT", "");
  set("PROGRESSMODE", "");
  set("ABORT", "FALSE");
  set("PROGRESS", "0");
  set("LASTERROR", "");
  set("USERNAME", v.UserName);
  set("USERCOMPANY", v.UserCompany);
  set("COPYWEBLOCK", "");
  set("REBOOTCOMPUTER", "FALSE");
  set("RUNAPP", "TRUE");
  set("WIZARD", "NEXT");
  set("VERSION", v.ProductVersion);
  set("SILENT", BoolText(v.Silent));
  set("LOGGED", v.Logged);
  set("CMDLINE", v.CmdLine);
  set("REBOOTNOW", "OK");
  set("SFXPATH", v.SfxPath);
  set("SFXFILE", v.SfxFile);
  set("GPOPATH", v.GpoPath);
  set("COMPLETE", "TRUE");
  set("NEWLINE", "\r\n");
  set("MINIMUM", "FALSE");
  set("PERSONALIZED", "FALSE");
  set("MODIFY", "TRUE");
  set("REPAIR", "FALSE");
  set("REMOVE", "FALSE");
  set("ROOTDIR", v.ExeDir);
  set("TITLE", v.Title);
  set("COMPANY", v.Company);
  set("ADVERTISE", "FALSE");
  set("DATE", v.Date);
  set("TIME", v.Time);
  set("TEMPDIR", v.TempDir);
  set("ABORTONERROR", "TRUE");
  set("ABORTEDONERROR", "FALSE");
  set("SAVEDATA", "FALSE");
  set("SUPPORTDIR", v.SupportDir);
  set("MSIFILE", v.MsiFile);
}

}  // namespace kem
