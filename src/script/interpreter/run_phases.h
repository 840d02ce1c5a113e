// The phases of a run and the parts of the engine that take part in them.
//
// A participant implements the phases it serves; every phase does nothing by default.
// The interpreter calls the participants in the order they were added, and the phases in
// this order:
//
//   1. ResetRun         before validation: per-run state goes back to its start.
//   2. Bootstrap        after the "Pre-Initialization" values: the first participant that
//                       identifies an installed instance (returns true) publishes the
//                       product's values; without one the interpreter's first-install
//                       bootstrap runs. "Transform Instance" bootstraps again.
//   3. PrepareRun       after the "Initialization" variables, with LANGUAGE set empty:
//                       components, patch and maintenance runs, switch properties, the
//                       language chosen at start.
//   per statement, while the script runs:
//   4. BeforeStatement  the refresh of the values other parts publish.
//   5. LanguageChanged  LANGUAGE differs from the language loaded last.
//   6. BeforeSession    before an installer session ("Apply Changes") and before a plug-in
//                       call: the files they need are made present. A participant that
//                       ends the script skips the statement.
//   7. AfterStatement   the statement ran without a failure.
//   at the end:
//   8. ExitScript       once, when the statement loop ends for whatever reason.
//   9. WriteInstanceData  the removable-media ending, before the process ends.
//  10. AfterRun         the run is over (normally, by a failure or by the callback).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace kem {

class Interpreter;

class RunParticipant {
 public:
  virtual ~RunParticipant() = default;
  virtual void ResetRun(Interpreter&) {}
  virtual bool Bootstrap(Interpreter&) { return false; }
  virtual void PrepareRun(Interpreter&) {}
  virtual void BeforeStatement(Interpreter&) {}
  virtual void LanguageChanged(Interpreter&, const std::string& /*language*/) {}
  virtual void BeforeSession(Interpreter&, std::size_t /*statementIndex*/) {}
  virtual void AfterStatement(Interpreter&, std::size_t /*statementIndex*/) {}
  virtual void ExitScript(Interpreter&) {}
  virtual void WriteInstanceData(Interpreter&) {}
  virtual void AfterRun(Interpreter&) {}
};

// The ordered participants of one run.
class RunPhases {
 public:
  void Add(std::shared_ptr<RunParticipant> participant) { participants_.push_back(std::move(participant)); }
  const std::vector<std::shared_ptr<RunParticipant>>& Participants() const { return participants_; }

  void ResetRun(Interpreter& in) const {
    for (const auto& p : participants_) p->ResetRun(in);
  }
  // True when a participant bootstrapped.
  bool Bootstrap(Interpreter& in) const {
    for (const auto& p : participants_)
      if (p->Bootstrap(in)) return true;
    return false;
  }
  void PrepareRun(Interpreter& in) const {
    for (const auto& p : participants_) p->PrepareRun(in);
  }
  void BeforeStatement(Interpreter& in) const {
    for (const auto& p : participants_) p->BeforeStatement(in);
  }
  void LanguageChanged(Interpreter& in, const std::string& language) const {
    for (const auto& p : participants_) p->LanguageChanged(in, language);
  }
  void AfterStatement(Interpreter& in, std::size_t statementIndex) const {
    for (const auto& p : participants_) p->AfterStatement(in, statementIndex);
  }
  void ExitScript(Interpreter& in) const {
    for (const auto& p : participants_) p->ExitScript(in);
  }
  void WriteInstanceData(Interpreter& in) const {
    for (const auto& p : participants_) p->WriteInstanceData(in);
  }
  void AfterRun(Interpreter& in) const {
    for (const auto& p : participants_) p->AfterRun(in);
  }
  // BeforeSession needs the interpreter's end request, so the interpreter walks it itself.

 private:
  std::vector<std::shared_ptr<RunParticipant>> participants_;
};

}  // namespace kem
