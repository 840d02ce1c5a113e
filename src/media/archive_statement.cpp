#include "media/archive_statement.h"

#include <memory>

#include "common/text.h"
#include "engine/statement_parameters.h"
#include "media/media_work.h"
#include "script/interpreter/cancellation.h"
#include "script/interpreter/interpreter.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"
#include "script/worker/worker.h"

namespace kem {
namespace {

constexpr std::string_view kName = "Extract 7Zip Archive";
// The text of an extraction that the cancel left behind.
constexpr std::string_view kCancelledText = "#1006";

struct ExtractJob {
  std::string Archive, Destination, Password, CompleteText;
  bool Overwrite = false, Arrangement = false, Redirect = false;
  bool Success = false;
  std::string Error;
};

void RunExtraction(MediaServices media, WorkerReporter& reporter, ExtractJob& job) {
  // The redirection belongs to the thread that does the file work.
  if (job.Redirect) media.Files.SetThreadRedirectionOff(true);
  struct Restore {
    MediaFileService& files;
    bool active;
    ~Restore() {
      if (active) files.SetThreadRedirectionOff(false);
    }
  } restore{media.Files, job.Redirect};
  media.Files.CreateFolders(job.Destination);
  job.Success = media.Archives.Extract(
      job.Archive, job.Password, job.Destination, job.Overwrite, job.Arrangement,
      [&reporter, &job](const std::string& entry, std::uint64_t done, std::uint64_t total) {
        const std::int64_t percent = ProgressPercent(done, total);
        return reporter.Report(FileNamePart(entry) + ", " + std::to_string(percent) + job.CompleteText, 0, 100,
                               percent);
      },
      job.Error);
}

void ExtractArchiveStatement(Interpreter& in, std::size_t i, const MediaServices& media) {
  TVariableManager& vars = in.Vars();
  auto job = std::make_shared<ExtractJob>();
  job->Archive = ExpandPath(vars, in.Param(i, param::Extract7ZipArchive::Archive));
  job->Destination = WithTrailingBackslash(ExpandPath(vars, in.Param(i, param::Extract7ZipArchive::Destination)));
  job->Password = vars.Expand(in.Param(i, param::Extract7ZipArchive::Password));
  job->Overwrite = IsTrue(in.Param(i, param::Extract7ZipArchive::Overwrite));
  job->Arrangement = IsTrue(in.Param(i, param::Extract7ZipArchive::Arrangement));
  job->Redirect = in.Context().State.PlatformMode != "Win32";
  job->CompleteText = in.Context().Message(21);
  const std::string resultName = UpperCase(VarNameOrText(in.Param(i, param::Extract7ZipArchive::Result)));

  const WorkerOutcome outcome =
      RunWorker(in, [media, job](WorkerReporter& reporter) { RunExtraction(media, reporter, *job); });
  bool success = false;
  std::string error;
  if (outcome.Abandoned) {
    error = std::string(kCancelledText);
  } else {
    success = job->Success;
    error = job->Error;
  }
  if (outcome.Cancelled) FinishCancellation(in, kExtractCancelOrigin);
  if (resultName.empty()) return;
  EnsureResultVariable(vars, resultName, kName);
  vars.SetVar(resultName, success ? "SUCCESS" : error, ActionLabel(kName));
}

}  // namespace

void RegisterArchiveStatements(StatementTable& table, const MediaServices& media) {
  table.Add(StatementKind::Extract7ZipArchive,
            [media](Interpreter& in, std::size_t i) { ExtractArchiveStatement(in, i, media); });
}

}  // namespace kem
