#include "installer/session.h"

#include <cctype>
#include <cstdlib>

#include "engine/services/files.h"

namespace kem {
namespace {

std::string WithBackslash(std::string path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
  return path;
}

std::string FolderOf(const std::string& path) {
  const auto slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The short form of an existing folder; nullopt when there is none.
std::optional<std::string> ShortFolder(FileService& files, const std::string& folder) {
  if (folder.empty()) return std::nullopt;
  auto s = files.ShortPathName(folder);
  if (!s || s->empty()) return std::nullopt;
  return WithBackslash(*s);
}

std::string FolderValue(std::string_view name, const std::string& folder, bool quote) {
  std::string piece(name);
  piece += '=';
  if (quote) piece += '"' + folder + '"';
  else piece += folder;
  return piece + ' ';
}

}  // namespace

SessionFolders ComputeSessionFolders(FileService& files, const std::function<void(const std::string&)>& createFolder,
                                     const std::string& package, const std::string& dataFolder,
                                     const std::string& sourceFolder, bool patch) {
  SessionFolders f;
  f.MsiFolder = FolderOf(package);
  if (auto s = ShortFolder(files, f.MsiFolder)) f.MsiFolder = *s;
  else f.QuoteMsi = true;
  if (f.MsiFolder.find(' ') != std::string::npos) f.QuoteMsi = true;

  f.DataFolder = WithBackslash(dataFolder);
  f.SourceFolder = WithBackslash(sourceFolder);
  bool shortData = false;
  if (!patch && !files.FolderExists(f.DataFolder)) {
    if (createFolder) createFolder(f.DataFolder);
  } else if (auto s = ShortFolder(files, f.DataFolder)) {
    f.DataFolder = *s;
    shortData = true;
  }
  bool shortSource = true;
  if (patch) {
    shortSource = false;
    if (files.FolderExists(f.SourceFolder))
      if (auto s = ShortFolder(files, f.SourceFolder)) {
        f.SourceFolder = *s;
        shortSource = true;
      }
  }
  f.QuoteData = !shortData || !shortSource || f.DataFolder.find(' ') != std::string::npos ||
                (patch && f.SourceFolder.find(' ') != std::string::npos);

  // The media folder: the data folder's parent without the drive.
  std::string parent = f.DataFolder.size() > 1 ? FolderOf(f.DataFolder.substr(0, f.DataFolder.size() - 1)) : "";
  if (parent.size() >= 2 && parent[1] == ':') parent.erase(0, 2);
  f.MediaFolder = parent;

  f.SourceList = f.DataFolder + ";" + f.MsiFolder;
  if (f.QuoteData || f.QuoteMsi) f.SourceList = '"' + f.SourceList + '"';
  return f;
}

std::string BuildSessionCommandLine(const CommandLineInputs& in) {
  const SessionFolders& f = in.Folders;
  const std::string allUsers = in.AllUsers ? "ALLUSERS=1 " : "ALLUSERS=\"\" ";
  std::string cmd = allUsers;
  if (in.DisableRollback) cmd += "DISABLEROLLBACK=1 ";
  if (in.DisableRestartManager) cmd += "MSIRESTARTMANAGERCONTROL=Disable ";
  const std::string arp = "ARPSYSTEMCOMPONENT=1 ARPNOREMOVE=1 ARPNOMODIFY=1 ARPNOREPAIR=1 ARPINSTALLLOCATION=\"" +
                          in.TargetFolder + "\" ";
  switch (in.Mode) {
    case SessionMode::Patch:
      cmd = "ADDLOCAL=ALL " + cmd;
      cmd += FolderValue("SRCDIR", f.SourceFolder, f.QuoteData);
      cmd += FolderValue("SRCDIREX", f.SourceFolder, f.QuoteData);
      return cmd;
    case SessionMode::Install:
      cmd += arp;
      if (in.Installed) {
        if (!in.Advertise && in.AdvertisedBefore) cmd = "ADDLOCAL=ALL ADVERTISE=\"\" " + cmd;
        else cmd = "REINSTALL=ALL REINSTALLMODE=vomus " + cmd;
      } else if (in.Advertise) {
        cmd = "ADVERTISE=ALL " + cmd;
      } else {
        cmd = "ADDLOCAL=ALL " + cmd;
      }
      break;
    case SessionMode::Removal:
      cmd = "REMOVE=ALL " + cmd;
      cmd += allUsers + "REMOVE=ALL ";
      break;
  }
  cmd += FolderValue("SRCDIR", f.DataFolder, f.QuoteData);
  cmd += "SOURCELIST=" + f.SourceList + " ";
  cmd += FolderValue("MEDIAPACKAGEPATH", f.MediaFolder, f.QuoteData);
  cmd += "REBOOT=R ";
  return cmd;
}

CodeOutcome OutcomeOfReturnCode(unsigned code) {
  if (code == kInstallSuccess) return {};
  if (code == kRebootInitiated || code == kRebootRequired) return {false, true};
  return {true, false};
}

std::string NextRetryDots(const std::string& dots) { return dots == "..." ? "." : dots + "."; }

int SessionOutcome(bool cancelled, bool failed, bool reboot) {
  if (cancelled && failed) return 0;
  if (failed) return -1;
  return reboot ? 2 : 1;
}

std::string_view SessionResultText(int outcome) {
  switch (outcome) {
    case 0: return "CANCEL";
    case 1: return "COMPLETE";
    case 2: return "REBOOT";
    default: return "ERROR";
  }
}

int SessionExitCode(int outcome, unsigned lastReturnCode) {
  switch (outcome) {
    case 0: return static_cast<int>(kUserExit);
    case 1: return 0;
    case 2: return static_cast<int>(kRebootRequired);
    default: return lastReturnCode == kAnotherInstallation ? static_cast<int>(kAnotherInstallation)
                                                            : static_cast<int>(kInstallFailure);
  }
}

std::string SessionFailureText(const std::string& lastInstallerError, const std::string& general) {
  std::string text = lastInstallerError.empty() ? general : lastInstallerError;
  const auto stop = text.find('.');
  if (stop != std::string::npos && stop + 1 == text.size()) text.pop_back();
  return text;
}

std::string TrimReturnCodeText(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) < '!' || text.back() == '.')) text.pop_back();
  return text;
}

std::string PackedProductCode(std::string_view code) {
  std::string hex;
  for (char c : code)
    if (c != '{' && c != '}' && c != '-') hex += c;
  if (hex.size() != 32 || code.size() != 38) return {};
  for (char c : hex)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
  std::string packed;
  auto reversed = [&](std::size_t at, std::size_t n) { packed.append(hex.rbegin() + (32 - at - n), hex.rbegin() + (32 - at)); };
  reversed(0, 8);
  reversed(8, 4);
  reversed(12, 4);
  for (std::size_t i = 16; i < 32; i += 2) {
    packed += hex[i + 1];
    packed += hex[i];
  }
  return packed;
}

void InstallerProgress::ApplyProgressFields(std::string_view text) {
  std::int64_t field[5] = {0, 0, 0, 0, 0};
  std::size_t at = 0;
  // "N: value " items, N from 1 to 4; the first item of another form ends the list.
  while (at < text.size()) {
    if (at + 3 > text.size() || text[at] < '1' || text[at] > '4' || text[at + 1] != ':' || text[at + 2] != ' ') break;
    const int n = text[at] - '0';
    std::size_t end = text.find(' ', at + 3);
    if (end == std::string_view::npos) end = text.size();
    const std::string number(text.substr(at + 3, end - (at + 3)));
    if (number.empty()) break;
    char* stop = nullptr;
    const long long value = std::strtoll(number.c_str(), &stop, 10);
    if (*stop != '\0') break;
    field[n] = value;
    at = end + 1;
  }
  switch (field[1]) {
    case 0:
      Minimum = 0;
      if (field[2] != 0) Total = field[2] < 0 ? -field[2] : field[2];
      Completed = 0;
      Step = 0;
      if (field[3] == 0) Direction = 1;
      else if (field[3] == 1) Direction = -1;
      break;
    case 1:
      if (field[3] == 0) Step = 0;
      else if (field[3] == 1) Step = field[2];
      break;
    case 2: Completed += Direction * field[2]; break;
    case 3: Total += field[2] < 0 ? -field[2] : field[2]; break;
    default: break;
  }
}

void InstallerProgress::ApplyActionStart(std::string_view text) {
  const auto stop = text.find('.');
  if (stop == std::string_view::npos) ActionText = std::string(text);
  else ActionText = std::string(text.substr(std::min(text.size(), stop + 2)));
}

void InstallerProgress::ApplyActionData(std::string_view text) {
  ActionText = std::string(text);
  Completed += Step;
}

int AnswerInstallerMessage(InstallerUiState& state, const InstallerUiCalls& calls, unsigned type, unsigned flags,
                           const std::string& text) {
  constexpr unsigned kIconError = 0x10, kIconQuestion = 0x20, kIconWarning = 0x30;
  auto box = [&](int title, unsigned icon, bool error, int silentAnswer) {
    if (calls.Silent || !calls.Ask) return silentAnswer;
    InstallerBox b;
    b.Text = title ? calls.Message(title) + "\r\r" + text : text;
    b.Style = flags | icon;
    b.ErrorState = error;
    return calls.Ask(b);
  };
  int answer = 0;
  switch (type) {
    case kMsgFatalExit:
      state.LastError = text;
      answer = box(43, kIconError, true, 0);
      break;
    case kMsgError:
      state.LastError = text;
      answer = box(44, kIconError, true, 1);
      break;
    case kMsgWarning: answer = box(45, kIconWarning, false, 1); break;
    case kMsgUser: answer = box(0, kIconQuestion, false, 1); break;
    case kMsgOutOfDiskSpace: answer = box(48, kIconError, true, 1); break;
    case kMsgInfo: answer = 1; break;
    case kMsgResolveSource: answer = 0; break;
    case kMsgActionStart:
      state.Progress.ApplyActionStart(text);
      answer = 1;
      break;
    case kMsgActionData:
      state.Progress.ApplyActionData(text);
      answer = 1;
      break;
    case kMsgProgress:
      state.Progress.ApplyProgressFields(text);
      answer = 1;
      break;
    case kMsgCommonData:
    case kMsgInitialize:
    case kMsgTerminate:
    case kMsgShowDialog: answer = 1; break;
    default: answer = 0; break;
  }
  if (calls.Report && !calls.Report(state.Progress)) return 2;  // IDCANCEL
  return answer;
}

SourceSearchResult FindSetupSources(const SourceSearch& s, FileService& files,
                                    const std::function<std::optional<std::string>()>& browse) {
  SourceSearchResult r;
  r.DataFolder = WithBackslash(s.DataFolder);
  r.PreviousSource = s.PreviousSource.empty() ? std::string() : WithBackslash(s.PreviousSource);
  auto holds = [&](const std::string& folder) { return !folder.empty() && files.FileExists(folder + s.Marker); };
  if (s.PatchBuild && !holds(r.PreviousSource) && holds(r.DataFolder)) r.PreviousSource = r.DataFolder;
  r.Found = s.PatchBuild ? holds(r.PreviousSource) : holds(r.DataFolder);
  if (r.Found || !s.MayAsk || s.Silent || !browse) return r;
  for (;;) {
    auto chosen = browse();
    if (!chosen || chosen->empty()) return r;
    const std::string folder = WithBackslash(*chosen);
    if (holds(folder)) r.DataFolder = folder;
    else if (holds(folder + "data\\")) r.DataFolder = folder + "data\\";
    else continue;
    r.Found = true;
    return r;
  }
}

std::string SourceFolderOfUninstallString(std::string text) {
  const auto first = text.find('"');
  if (first != std::string::npos) text.erase(first, 1);
  const auto next = text.find('"');
  if (next != std::string::npos) text.erase(next);
  return FolderOf(text);
}

}  // namespace kem
