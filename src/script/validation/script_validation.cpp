#include "script/validation/script_validation.h"

#include <array>
#include <string>
#include <unordered_set>

#include "common/text.h"
#include "engine/statement_parameters.h"
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
      std::string label = Param(i, param::Label::Label);
      std::string upper = UpperCase(label);
      if (!labelSet_.insert(upper).second) return Fail(i, std::string(kLabelRedefinedMessage) + label);
      labels_.push_back(std::move(upper));
    }
    return std::nullopt;
  }

  void PersistentVariables() const {
    for (std::size_t i = 0; i < Count(); ++i) {
      if (Kind(i) != StatementKind::SetVariable) continue;
      std::string p1 = Param(i, param::SetVariable::Variable);
      auto pos = p1.find(kPersistMarker);
      if (pos == std::string::npos) continue;
      if (std::string_view(p1).substr(pos + kPersistMarker.size()) != "TRUE") continue;
      std::string name = UpperCase(std::string_view(p1).substr(0, pos));
      Declare(name);
    }
  }

  // The rules of single statements, then every parameter by its traits in the statement
  // kinds' parameter lists.
  std::optional<ValidationFailure> Check(std::size_t i) const {
    const StatementKind kind = Kind(i);
    if (kind == StatementKind::WebMediaBlock) {
      std::string block = Param(i, param::WebMediaBlock::Block);
      if (!block.empty() && Param(i, param::WebMediaBlock::Urls).empty())
        return Fail(i, std::string(kWebBlockUrlMessage));
      if (!IsLegalFileName(block)) return Fail(i, std::string(kWebBlockNameMessage));
    } else if (kind == StatementKind::DeleteFiles) {
      if (!IsTrue(Param(i, param::DeleteFiles::AtInstall)) && !IsTrue(Param(i, param::DeleteFiles::AtRemoval)))
        return Fail(i, std::string(kDeleteModeMessage));
    } else if (kind == StatementKind::GoToLabel) {
      std::string label = Param(i, param::GoToLabel::Label);
      if (!labelSet_.contains(UpperCase(label))) return Fail(i, std::string(kLabelUndefinedMessage) + label);
    }
    return CheckParameters(i, kind);
  }

  std::optional<ValidationFailure> CheckParameters(std::size_t i, StatementKind kind) const {
    const std::span<const ParameterInfo> parameters = StatementParameters(kind);
    // Of the references that must be declared, the last one that is not is reported.
    std::optional<ValidationFailure> undeclared;
    for (std::size_t n = 0; n < parameters.size(); ++n) {
      const ParameterInfo& p = parameters[n];
      std::string text = Param(i, static_cast<int>(n + 1));
      if (text.empty()) {
        if (p.traits & kNeedsVariable) return Fail(i, std::string(kVariableRequiredMessage));
        if (p.traits & kNeedsDialogName) return Fail(i, std::string(kDialogNameMessage));
        if (p.traits & kNeedsTargetFolder) return Fail(i, std::string(kInstallFilesTargetMessage));
      }
      if ((p.traits & kExpression) && !ExpressionSyntaxOk(text)) return Fail(i, std::string(kExpressionSyntaxMessage));
      if ((p.traits & kMustExist) && !symbols_.Exists(text))
        return Fail(i, std::string(kVariableNotDefinedMessage) + text);
      // A variable name must name a declared variable; in a text only a $NAME$ reference
      // must be declared.
      if ((p.traits & kDefinedReference) && !text.empty() &&
          !symbols_.RefDefined(text, p.kind != ParameterKind::VariableName))
        undeclared = Fail(i, std::string(kVariableNotDefinedMessage) + text);
      if (p.kind == ParameterKind::ResultVariable) {
        if (p.traits & kPersistable) text = text.substr(0, text.find(kPersistMarker));
        Declare(text);
      }
    }
    return undeclared;
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
