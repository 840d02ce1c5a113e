#include "commands/file_statements.h"

#include <array>
#include <string>

#include "common/text.h"
#include "engine/services/process.h"
#include "engine/statement_error.h"
#include "engine/statement_parameters.h"
#include "script/eval/condition.h"
#include "script/interpreter/cancellation.h"
#include "script/interpreter/interpreter.h"
#include "script/interpreter/redirection_guard.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"
#include "script/worker/progress_channel.h"
#include "script/worker/worker.h"

namespace kem {
namespace {

constexpr int kMaxDeletionPasses = 16;
// "#READALL\" gives up past this many bytes: the variable store holds the text whole.
constexpr std::size_t kMaxReadAll = 64u << 20;
constexpr std::string_view kReadAll = "#READALL\\";

std::pair<std::string, std::string> SplitPattern(std::string_view pattern) {
  auto cut = pattern.find_last_of('\\');
  if (cut == std::string_view::npos) return {std::string(), std::string(pattern)};
  return {std::string(pattern.substr(0, cut + 1)), std::string(pattern.substr(cut + 1))};
}

// A mask that the system matches against every name: "*.*" matches names without a dot
// too.
bool MatchesEverything(std::string_view mask) { return mask == "*" || mask == "*.*"; }

void Search(CommandFileService& files, const std::string& folder, const std::string& mask, bool subfolders,
            bool folders, const SearchCallbacks& cb, std::vector<std::string>& out) {
  if (cb.Stop && cb.Stop()) return;
  if (cb.VisitFolder) cb.VisitFolder();
  // Each folder is listed once when the mask takes every name (the files of that listing
  // wait until the subfolders are done); otherwise the subfolders come from a listing of
  // every name, needed only when they are searched or listed, and the files from one by
  // the mask.
  const bool once = MatchesEverything(mask);
  std::vector<std::string> matching;
  if (once || subfolders || folders) {
    for (auto& e : files.List(folder, "*")) {
      if (!e.Folder) {
        if (once) matching.push_back(std::move(e.Name));
        continue;
      }
      if (cb.Stop && cb.Stop()) return;
      const std::string path = folder + e.Name;
      if (subfolders && !e.Link) Search(files, path + "\\", mask, subfolders, folders, cb, out);
      if (folders) out.push_back(path);
    }
  }
  if (!once)
    for (auto& e : files.List(folder, mask))
      if (!e.Folder) matching.push_back(std::move(e.Name));
  for (const std::string& name : matching) {
    if (cb.Stop && cb.Stop()) return;
    out.push_back(folder + name);
    if (cb.FoundFile) cb.FoundFile(out.back());
  }
}

bool NeedsQuotes(std::string_view s) {
  for (unsigned char c : s)
    if (c <= ' ' || c == '"' || c == '|') return true;
  return false;
}

// The file search's progress: every folder moves a position from 1 to 100 that then wraps
// to 0, every file found becomes the text. The page reads the channel once a second, so
// what comes within kReportMs of the last report waits for the next one (the newest file
// and position win); Flush writes what is still waiting when the search ends. A search of
// 100,000 files thus makes a few hundred reports instead of 100,000.
class SearchProgress {
 public:
  SearchProgress(WorkerReporter& reporter, ProcessService& process) : reporter_(reporter), process_(process) {}
  void Folder() {
    position_ = position_ >= 100 ? 0 : position_ + 1;
    positionDue_ = true;
    ReportWhenDue();
  }
  void File(const std::string& path) {
    text_ = path;
    textDue_ = true;
    ReportWhenDue();
  }
  void Flush() {
    if (!textDue_ && !positionDue_) return;
    reporter_.Report(textDue_ ? std::string_view(text_) : kKeepProgressText, 0, 100, positionDue_ ? position_ : -1);
    textDue_ = positionDue_ = false;
    last_ = process_.TickCount();
    reported_ = true;
  }

 private:
  static constexpr std::uint32_t kReportMs = 15;
  void ReportWhenDue() {
    if (!reported_ || process_.TickCount() - last_ >= kReportMs) Flush();
  }
  WorkerReporter& reporter_;
  ProcessService& process_;
  std::string text_;
  std::int64_t position_ = 0;
  bool textDue_ = false, positionDue_ = false, reported_ = false;
  std::uint32_t last_ = 0;
};

// --- Statements ---------------------------------------------------------------------

void DoesFileFolderExist(Interpreter& in, std::size_t i, CommandFileService& files) {
  constexpr std::string_view kName = "Does File/Folder Exist";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  EnsureResultVariable(in.Vars(), in.Param(i, param::DoesFileFolderExist::Result), kName);
  std::string path = PathParam(in, i, param::DoesFileFolderExist::Path);
  bool exists =
      IsTrue(in.Param(i, param::DoesFileFolderExist::File)) ? files.FileExists(path) : files.FolderExists(path);
  WriteResult(in, in.Param(i, param::DoesFileFolderExist::Result), BoolText(exists), kName);
}

void CheckDiskSpace(Interpreter& in, std::size_t i, CommandFileService& files) {
  constexpr std::string_view kName = "Check Disk Space";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  std::uint64_t bytes = 0;
  if (auto space = files.DiskSpace(PathParam(in, i, param::CheckDiskSpace::Path)))
    bytes = IsTrue(in.Param(i, param::CheckDiskSpace::Free)) ? space->first : space->second;
  SetNamedResult(in, in.Param(i, param::CheckDiskSpace::Result), std::to_string(bytes), kName);
}

void DeleteFilesRecursive(Interpreter& in, std::size_t i, CommandFileService& files) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  const std::string pattern = PathParam(in, i, param::DeleteFilesRecursive::Mask);
  const std::string folder = SafeDeletionFolder(pattern);
  if (folder.empty())
    throw StatementError("Delete Files Recursive refuses '" + pattern +
                         "': the folder must be a full path below a drive's or share's root.");
  const std::string top = folder + "\\";
  std::vector<std::string> list = SearchFiles(files, pattern, true, true);
  for (int pass = 0; pass < kMaxDeletionPasses; ++pass) {
    // Files first, then the folders the files left empty; links are removed themselves.
    for (auto it = list.rbegin(); it != list.rend(); ++it) files.RemoveFound(top, *it);
    for (auto it = list.rbegin(); it != list.rend(); ++it) files.RemoveFound(top, *it);
    std::vector<std::string> again = SearchFiles(files, pattern, true, true);
    if (again.size() == list.size()) break;
    list = std::move(again);
  }
}

void FindAllFiles(Interpreter& in, std::size_t i, CommandFileService& files) {
  constexpr std::string_view kName = "Find All Files";
  const std::string pattern = PathParam(in, i, param::FindAllFiles::Mask);
  const bool subfolders = IsTrue(in.Param(i, param::FindAllFiles::Subfolders));
  const bool folders = IsTrue(in.Param(i, param::FindAllFiles::Folders));
  const bool mode64 = Mode64(in);
  ProcessService& process = in.Machine().Process;
  std::vector<std::string> found;
  RunWorker(in, [&](WorkerReporter& reporter) {
    ThreadRedirectionScope redirection(mode64, files);
    SearchProgress progress(reporter, process);
    SearchCallbacks cb;
    cb.VisitFolder = [&] { progress.Folder(); };
    cb.FoundFile = [&](const std::string& path) { progress.File(path); };
    cb.Stop = [&] { return reporter.StopRequested(); };
    found = SearchFiles(files, pattern, subfolders, folders, cb);
    progress.Flush();
  });
  FinishCancellation(in, "Cancel at Find-Files Time");
  SetNamedResult(in, in.Param(i, param::FindAllFiles::Result), JoinSearchResult(found), kName);
}

void GetIniFileSettings(Interpreter& in, std::size_t i, CommandFileService& files) {
  constexpr std::string_view kName = "Get INI File Settings";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  EnsureResultVariable(in.Vars(), in.Param(i, param::GetIniFileSettings::Result), kName);
  std::string section = PathParam(in, i, param::GetIniFileSettings::Section);
  std::string key = PathParam(in, i, param::GetIniFileSettings::Key);
  std::string value;
  if (!section.empty() && !key.empty())
    value = files.IniValue(PathParam(in, i, param::GetIniFileSettings::File), section, key);
  WriteResult(in, in.Param(i, param::GetIniFileSettings::Result), value, kName);
}

void ReadFromTextFile(Interpreter& in, std::size_t i, CommandFileService& files, CommandState& state) {
  constexpr std::string_view kName = "Read from Text File";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  std::string path = PathParam(in, i, param::ReadFromTextFile::File);
  bool all = path.starts_with(kReadAll);
  if (all) path.erase(0, kReadAll.size());
  const std::string lineVar = in.Param(i, param::ReadFromTextFile::Line);
  const std::string endVar = in.Param(i, param::ReadFromTextFile::End);
  EnsureResultVariable(in.Vars(), lineVar, kName);
  if (!endVar.empty()) EnsureResultVariable(in.Vars(), endVar, kName);

  OpenTextFile& file = state.Text;
  auto failed = [&] {
    file.Close();
    if (!endVar.empty()) WriteResult(in, endVar, "TRUE", kName);
  };
  if (!file.Names(path)) {
    file.Close();
    file.Reader = files.OpenText(path);
    if (!file.Reader) return failed();
    file.Path = path;
    if (!file.Advance()) return failed();
  }
  if (file.HasAhead) {
    std::string text = std::move(file.Ahead);
    if (!file.Advance()) return failed();
    while (all && file.HasAhead) {
      if (text.size() + file.Ahead.size() > kMaxReadAll) return failed();
      text += "$NEWLINE$";
      text += file.Ahead;
      if (!file.Advance()) return failed();
    }
    WriteResult(in, lineVar, text, kName);
  }
  const bool atEnd = !file.HasAhead;
  if (atEnd) file.Close();
  if (!endVar.empty()) WriteResult(in, endVar, BoolText(atEnd), kName);
}

void WriteToTextFile(Interpreter& in, std::size_t i, CommandFileService& files, CommandState& state) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  const std::string path = PathParam(in, i, param::WriteToTextFile::File);
  const std::string text = in.Vars().Expand(in.Param(i, param::WriteToTextFile::Line)) + "\r\n";
  const bool atTop = IsTrue(in.Vars().Expand(in.Param(i, param::WriteToTextFile::AtTop)));
  if (state.Text.Names(path)) state.Text.Close();

  // The old lines stream through into a new file beside the old one, which takes the old
  // one's place only when everything was written: a failure leaves the file as it was.
  std::unique_ptr<TextLineReader> reader = files.OpenText(path);
  if (!reader && files.FileExists(path)) throw StatementError("Cannot read the text file " + path);
  std::unique_ptr<TextReplacement> out = files.ReplaceText(path);
  auto fail = [&] { throw StatementError("Cannot write the text file " + path); };
  if (!out) fail();
  if (atTop && !out->Write(text)) fail();
  if (reader) {
    std::string lines;
    for (;;) {
      lines.clear();
      auto r = reader->NextLines(lines);
      if (r == TextLineReader::Read::End) break;
      if (r == TextLineReader::Read::Failed) throw StatementError("Cannot read the text file " + path);
      if (!out->Write(lines)) fail();
    }
    reader.reset();
  }
  if (!atTop && !out->Write(text)) fail();
  if (!out->Commit()) fail();
}

std::array<std::uint32_t, 4> VersionOf(CommandFileService& files, const std::string& path) {
  std::array<std::uint32_t, 4> v{};
  if (auto fixed = files.FileVersion(path))
    for (std::size_t k = 0; k < 4; ++k) v[k] = (*fixed)[k];
  return v;
}

void GetFileVersion(Interpreter& in, std::size_t i, CommandFileService& files) {
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  auto v = VersionOf(files, PathParam(in, i, param::GetFileVersion::File));
  SetNamedResult(
      in, in.Param(i, param::GetFileVersion::Result),
      std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]),
      "Get File Version");
}

void CheckFileVersion(Interpreter& in, std::size_t i, CommandFileService& files) {
  constexpr std::string_view kName = "Check File Version";
  RedirectionGuard redirection(in.Context().State, in.Machine().Files);
  EnsureResultVariable(in.Vars(), in.Param(i, param::CheckFileVersion::Result), kName);
  auto mine = VersionOf(files, PathParam(in, i, param::CheckFileVersion::File));
  std::array<std::uint32_t, 4> other{};
  if (IsTrue(in.Param(i, param::CheckFileVersion::CompareFile))) {
    other = VersionOf(files, PathParam(in, i, param::CheckFileVersion::OtherFile));
  } else {
    auto text = ReadVersion(in.Vars().Expand(in.Param(i, param::CheckFileVersion::Version)));
    for (std::size_t k = 0; k < 4; ++k) other[k] = static_cast<std::uint32_t>(text[k]);
  }
  WriteResult(in, in.Param(i, param::CheckFileVersion::Result), BoolText(mine > other), kName);
}

}  // namespace

std::vector<std::string> SearchFiles(CommandFileService& files, std::string_view pattern, bool subfolders,
                                     bool folders, const SearchCallbacks& callbacks) {
  auto [folder, mask] = SplitPattern(pattern);
  std::vector<std::string> out;
  Search(files, folder, mask, subfolders, folders, callbacks, out);
  return out;
}

std::string JoinSearchResult(const std::vector<std::string>& entries) {
  std::string out;
  for (const auto& e : entries) {
    if (!out.empty() || &e != &entries.front()) out += '|';
    if (!NeedsQuotes(e)) {
      out += e;
      continue;
    }
    out += '"';
    for (char c : e) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::string SafeDeletionFolder(std::string_view pattern) {
  std::string folder = SplitPattern(pattern).first;
  while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (folder.size() > 3 && letter(folder[0]) && folder[1] == ':' && folder[2] == '\\') {
    // A drive path below the root; no "." or ".." element climbing back up.
  } else if (folder.size() > 2 && folder[0] == '\\' && folder[1] == '\\') {
    // \\server\share\folder: at least one element below the share.
    std::size_t server = folder.find('\\', 2);
    std::size_t share = server == std::string::npos ? server : folder.find('\\', server + 1);
    if (share == std::string::npos || share + 1 >= folder.size() || server == 2) return {};
  } else {
    return {};
  }
  for (std::size_t start = 0; start <= folder.size();) {
    std::size_t end = folder.find('\\', start);
    if (end == std::string::npos) end = folder.size();
    std::string_view part(folder.data() + start, end - start);
    if (part == "." || part == "..") return {};
    start = end + 1;
  }
  if (folder.find_first_of("*?") != std::string::npos) return {};
  return folder;
}

void RegisterFileStatements(StatementTable& table, CommandFileService& files, std::shared_ptr<CommandState> state) {
  using K = StatementKind;
  CommandFileService* f = &files;
  table.Add(K::DoesFileFolderExist, [f](Interpreter& in, std::size_t i) { DoesFileFolderExist(in, i, *f); });
  table.Add(K::CheckDiskSpace, [f](Interpreter& in, std::size_t i) { CheckDiskSpace(in, i, *f); });
  table.Add(K::DeleteFilesRecursive, [f](Interpreter& in, std::size_t i) { DeleteFilesRecursive(in, i, *f); });
  table.Add(K::FindAllFiles, [f](Interpreter& in, std::size_t i) { FindAllFiles(in, i, *f); });
  table.Add(K::GetIniFileSettings, [f](Interpreter& in, std::size_t i) { GetIniFileSettings(in, i, *f); });
  table.Add(K::ReadFromTextFile, [f, state](Interpreter& in, std::size_t i) { ReadFromTextFile(in, i, *f, *state); });
  table.Add(K::WriteToTextFile, [f, state](Interpreter& in, std::size_t i) { WriteToTextFile(in, i, *f, *state); });
  table.Add(K::GetFileVersion, [f](Interpreter& in, std::size_t i) { GetFileVersion(in, i, *f); });
  table.Add(K::CheckFileVersion, [f](Interpreter& in, std::size_t i) { CheckFileVersion(in, i, *f); });
}

}  // namespace kem
