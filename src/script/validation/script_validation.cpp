#include "script/validation/script_validation.h"

#include <array>
#include <string>
#include <unordered_set>

#include "common/text.h"
#include "script/eval/expression.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

constexpr std::string_view kPersistMarker = "$VRAX$VRAX$";

// Declared before any statement is looked at.
constexpr std::array<std::string_view, 59> kPredeclared = {
    "VRAX_COMPRESS_INSTALLER_CACHE", "VRAX_DISABLE_ROLLBACK", "VRAX_DISABLE_VISTA_RESTART_MANAGER",
    "IISHOST", "OVERRIDECACHE", "VRAXLOGO", "TIME", "DATE", "NEWINSTANCE", "SELECTED", "WINDOWHANDLE",
    "EXEDIR", "EXEFILE", "UNINSTALLLINK", "ENGINECACHE", "COPYWEBLOCK", "ABORT", "SILENT", "LOGGED",
    "CMDLINE", "REBOOTNOW", "SFXPATH", "SFXFILE", "LASTERROR", "PROGRESSMODE", "PROGRESSTEXT",
    "PROGRESS", "USERNAME", "USERCOMPANY", "REBOOTCOMPUTER", "RUNAPP", "WIZARD", "VERSION",
    "TARGETDIR", "STARTMENU", "ADVERTISE", "ALLUSERS", "COMPLETE", "MINIMUM", "PERSONALIZED",
    "MODIFY", "REPAIR", "REMOVE", "DATADIR", "PRODUCTCODE", "REVISIONCODE", "ROOTDIR", "MAINTENANCE",
    "NEWLINE", "NEEDSUPGRADE", "TITLE", "COMPANY", "TEMPDIR", "SUPPORTDIR", "MSIFILE", "LANGUAGE",
    "ABORTONERROR", "ABORTEDONERROR", "SAVEDATA"};

class Validator {
 public:
  Validator(const SetupData& data, std::vector<std::string>& labels, const std::vector<std::ptrdiff_t>* blocks)
      : data_(data), labels_(labels) {
    if (blocks && blocks->size() == data.StatementCount()) blocks_ = *blocks;
  }

  std::optional<ValidationFailure> Run() {
    labels_.clear();
    labelSet_.clear();
    symbols_.Clear();
    for (std::string_view name : kPredeclared) symbols_.Set(name, "");

    if (auto f = BlockBalance()) return f;
    if (auto f = Labels()) return f;
    PersistentVariables();
    if (auto f = Statements()) return f;
    return WizardLoops();
  }

 private:
  std::size_t Count() const { return data_.StatementCount(); }
  StatementKind Kind(std::size_t i) const {
    return i < data_.Kinds.size() ? data_.Kinds[i] : ResolveStatementKind(data_.StatementNames[i]);
  }
  bool Commented(std::size_t i) const { return i < data_.CommentFlags.Count() && data_.CommentFlags[i] == "C"; }

  // Raw parameter; a block that ends early reads as empty here: the pass reports script
  // problems, it does not fail on them.
  std::string Param(std::size_t i, int n) const {
    if (blocks_.empty()) {
      blocks_.resize(Count());
      for (std::size_t k = 0; k < Count(); ++k) blocks_[k] = data_.ParameterLines.IndexOf(data_.StatementIds[k]);
    }
    std::ptrdiff_t block = blocks_[i];
    if (block == HashedStringList::npos || n < 0) return {};
    std::size_t at = static_cast<std::size_t>(block) + static_cast<std::size_t>(n);
    return at < data_.ParameterLines.Count() ? data_.ParameterLines[at] : std::string();
  }

  // Every variable of the pass holds the empty text, so declaring one that exists
  // changes nothing.
  void Declare(std::string_view name) const {
    if (name.empty() || symbols_.Exists(name)) return;
    symbols_.Set(UpperCase(name), "");
  }
  void DeclareParam(std::size_t i, int n) const { Declare(Param(i, n)); }

  static ValidationFailure Fail(std::size_t i, std::string message) { return {i, std::move(message)}; }

  std::optional<ValidationFailure> BlockBalance() const {
    long openers = 0, closers = 0, nesting = 0;
    for (std::size_t i = 0; i < Count(); ++i) {
      if (Commented(i)) continue;
      const StatementKind kind = Kind(i);
      if (kind == StatementKind::If || kind == StatementKind::WizardLoop) {
        ++openers;
        ++nesting;
      } else if (kind == StatementKind::End) {
        ++closers;
        --nesting;
      } else if (kind == StatementKind::Label && nesting != 0) {
        return Fail(i, std::string(kNestedLabelMessage));
      }
    }
    if (openers > closers) return Fail(kScriptAsAWhole, std::string(kTooFewEndsMessage));
    if (openers < closers) return Fail(kScriptAsAWhole, std::string(kTooManyEndsMessage));
    return std::nullopt;
  }

  std::optional<ValidationFailure> Labels() {
    for (std::size_t i = 0; i < Count(); ++i) {
      if (Kind(i) != StatementKind::Label) continue;
      std::string label = Param(i, 1);
      std::string upper = UpperCase(label);
      if (!labelSet_.insert(upper).second) return Fail(i, std::string(kLabelRedefinedMessage) + label);
      labels_.push_back(std::move(upper));
    }
    return std::nullopt;
  }

  void PersistentVariables() const {
    for (std::size_t i = 0; i < Count(); ++i) {
      if (Kind(i) != StatementKind::SetVariable) continue;
      std::string p1 = Param(i, 1);
      auto pos = p1.find(kPersistMarker);
      if (pos == std::string::npos) continue;
      if (std::string_view(p1).substr(pos + kPersistMarker.size()) != "TRUE") continue;
      std::string name = UpperCase(std::string_view(p1).substr(0, pos));
      Declare(name);
    }
  }

  std::optional<ValidationFailure> MustExist(std::size_t i, int n) const {
    std::string p = Param(i, n);
    if (!symbols_.Exists(p)) return Fail(i, std::string(kVariableNotDefinedMessage) + p);
    return std::nullopt;
  }

  std::optional<ValidationFailure> RequiredThenDeclare(std::size_t i, int n) const {
    std::string p = Param(i, n);
    if (p.empty()) return Fail(i, std::string(kVariableRequiredMessage));
    Declare(p);
    return std::nullopt;
  }

  std::optional<ValidationFailure> Check(std::size_t i) const {
    const StatementKind kind = Kind(i);
    if (kind == StatementKind::WebMediaBlock) {
      std::string p1 = Param(i, 1);
      if (!p1.empty() && Param(i, 2).empty()) return Fail(i, std::string(kWebBlockUrlMessage));
      if (!IsLegalFileName(p1)) return Fail(i, std::string(kWebBlockNameMessage));
    } else if (kind == StatementKind::GetFolderLocation || kind == StatementKind::GetIniFileSettings ||
               kind == StatementKind::CheckFileVersion || kind == StatementKind::GetSystemSettings ||
               kind == StatementKind::GetOsOrSpLevel || kind == StatementKind::ReadRegistry || kind == StatementKind::CheckRegistry ||
               kind == StatementKind::DoesFileFolderExist || kind == StatementKind::LocalizationVariable ||
               kind == StatementKind::GetTemporaryFile || kind == StatementKind::GetIisProperty || kind == StatementKind::GetIisSiteList) {
      DeclareParam(i, 1);
    } else if (kind == StatementKind::Mathematics) {
      DeclareParam(i, 4);
    } else if (kind == StatementKind::IsMsiSetupInstalled) {
      return RequiredThenDeclare(i, 2);
    } else if (kind == StatementKind::Extract7ZipArchive) {
      DeclareParam(i, 3);
    } else if (kind == StatementKind::RunLightModeSetup || kind == StatementKind::GetFileVersion || kind == StatementKind::GetEnvironment ||
               kind == StatementKind::GetIisSiteIndex) {
      DeclareParam(i, 2);
    } else if (kind == StatementKind::ReadFromTextFile) {
      DeclareParam(i, 2);
      DeclareParam(i, 3);
    } else if (kind == StatementKind::ParseString) {
      DeclareParam(i, 3);
      DeclareParam(i, 4);
    } else if (kind == StatementKind::DeleteFiles) {
      if (!IsTrue(Param(i, 3)) && !IsTrue(Param(i, 4))) return Fail(i, std::string(kDeleteModeMessage));
    } else if (kind == StatementKind::InstallFiles) {
      if (Param(i, 3).empty()) return Fail(i, std::string(kInstallFilesTargetMessage));
    } else if (kind == StatementKind::ConvertPath || kind == StatementKind::ConvertCase || kind == StatementKind::ExtractPath ||
               kind == StatementKind::ReplaceString) {
      return MustExist(i, 1);
    } else if (kind == StatementKind::EvaluateExpression) {
      DeclareParam(i, 2);
      if (!ExpressionSyntaxOk(Param(i, 1))) return Fail(i, std::string(kExpressionSyntaxMessage));
    } else if (kind == StatementKind::RunProgram) {
      DeclareParam(i, 4);
    } else if (kind == StatementKind::RunProgramAs) {
      DeclareParam(i, 8);
    } else if (kind == StatementKind::SetVariable) {
      std::string p1 = Param(i, 1);
      auto pos = p1.find(kPersistMarker);
      if (pos != std::string::npos) p1.resize(pos);
      Declare(p1);
    } else if (kind == StatementKind::GoToLabel) {
      std::string p1 = Param(i, 1);
      if (!labelSet_.contains(UpperCase(p1))) return Fail(i, std::string(kLabelUndefinedMessage) + p1);
    } else if (kind == StatementKind::FindAllFiles) {
      return RequiredThenDeclare(i, 4);
    } else if (kind == StatementKind::CheckDiskSpace) {
      return RequiredThenDeclare(i, 1);
    } else if (kind == StatementKind::If || kind == StatementKind::ElseIf) {
      std::string p1 = Param(i, 1);
      if (p1.empty()) return Fail(i, std::string(kVariableRequiredMessage));
      std::string p3 = Param(i, 3);
      bool leftOk = symbols_.RefDefined(p1, false);
      bool rightOk = symbols_.RefDefined(p3, true);
      if (!rightOk) return Fail(i, std::string(kVariableNotDefinedMessage) + p3);
      if (!leftOk) return Fail(i, std::string(kVariableNotDefinedMessage) + p1);
    } else if (kind == StatementKind::MessageBox) {
      DeclareParam(i, 5);
    } else if (kind == StatementKind::CheckService) {
      DeclareParam(i, 3);
    } else if (kind == StatementKind::CheckProcess) {
      DeclareParam(i, 2);
    } else if (kind == StatementKind::RegisterLibrary) {
      DeclareParam(i, 3);
    } else if (kind == StatementKind::ApplyChanges) {
      DeclareParam(i, 2);
    } else if (kind == StatementKind::ApplyPatch || kind == StatementKind::IisAnonymousUser) {
      DeclareParam(i, 1);
    } else if (kind == StatementKind::DisplayDialog) {
      if (Param(i, 1).empty()) return Fail(i, std::string(kDialogNameMessage));
      DeclareParam(i, 2);
      std::string p4 = Param(i, 4);
      if (!p4.empty() && !symbols_.RefDefined(p4, false)) return Fail(i, std::string(kVariableNotDefinedMessage) + p4);
    } else if (kind == StatementKind::GetComponentState || kind == StatementKind::GetComponentSpace) {
      DeclareParam(i, 2);
    }
    return std::nullopt;
  }

  std::optional<ValidationFailure> Statements() const {
    for (std::size_t i = 0; i < Count(); ++i) {
      if (Commented(i)) continue;
      if (auto f = Check(i)) return f;
    }
    return std::nullopt;
  }

  std::optional<ValidationFailure> WizardLoops() const {
    bool inside = false;
    for (std::size_t i = 0; i < Count(); ++i) {
      const StatementKind kind = Kind(i);
      if (kind == StatementKind::WizardLoop) {
        inside = true;
      } else if (kind == StatementKind::End && inside) {
        inside = false;
      } else if (inside && kind != StatementKind::DisplayDialog && kind != StatementKind::Comment && kind != StatementKind::Ignore && !Commented(i)) {
        return Fail(i, std::string(kWizardLoopContentMessage));
      }
    }
    return std::nullopt;
  }

  const SetupData& data_;
  std::vector<std::string>& labels_;
  std::unordered_set<std::string> labelSet_;
  // Position of each statement's parameter block in ParameterLines (npos: none).
  mutable std::vector<std::ptrdiff_t> blocks_;
  // The variables the script declares before it uses them: names only, every value
  // empty. A symbol table of the pass's own, never the store a script runs with.
  mutable TVariableManager symbols_{false};
};

}  // namespace

std::span<const std::string_view> PredeclaredVariables() noexcept { return kPredeclared; }

bool IsLegalFileName(std::string_view text) noexcept {
  auto cut = text.find_last_of("\\:");
  std::string_view name = cut == std::string_view::npos ? text : text.substr(cut + 1);
  return name.find_first_of("/*?\"<>|") == std::string_view::npos;
}

std::optional<ValidationFailure> ValidateScript(const SetupData& data, std::vector<std::string>& labels,
                                                const std::vector<std::ptrdiff_t>* parameterBlocks) {
  return Validator(data, labels, parameterBlocks).Run();
}

std::optional<ValidationFailure> ValidateScript(const SetupData& data) {
  std::vector<std::string> labels;
  return ValidateScript(data, labels);
}

}  // namespace kem
