// A run participant whose phases are functions, for tests that observe or steer a phase.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "script/interpreter/run_phases.h"

namespace kem {

struct PhaseFunctions : RunParticipant {
  std::function<void(Interpreter&)> OnResetRun;
  // Returns true when it bootstrapped (the interpreter's own bootstrap is then skipped).
  std::function<bool(Interpreter&)> OnBootstrap;
  std::function<void(Interpreter&)> OnPrepareRun;
  std::function<void(Interpreter&)> OnBeforeStatement;
  std::function<void(Interpreter&, const std::string&)> OnLanguageChanged;
  std::function<void(Interpreter&, std::size_t)> OnBeforeSession;
  std::function<void(Interpreter&, std::size_t)> OnAfterStatement;
  std::function<void(Interpreter&)> OnExitScript;
  std::function<void(Interpreter&)> OnWriteInstanceData;
  std::function<void(Interpreter&)> OnAfterRun;

  void ResetRun(Interpreter& in) override {
    if (OnResetRun) OnResetRun(in);
  }
  bool Bootstrap(Interpreter& in) override { return OnBootstrap && OnBootstrap(in); }
  void PrepareRun(Interpreter& in) override {
    if (OnPrepareRun) OnPrepareRun(in);
  }
  void BeforeStatement(Interpreter& in) override {
    if (OnBeforeStatement) OnBeforeStatement(in);
  }
  void LanguageChanged(Interpreter& in, const std::string& language) override {
    if (OnLanguageChanged) OnLanguageChanged(in, language);
  }
  void BeforeSession(Interpreter& in, std::size_t i) override {
    if (OnBeforeSession) OnBeforeSession(in, i);
  }
  void AfterStatement(Interpreter& in, std::size_t i) override {
    if (OnAfterStatement) OnAfterStatement(in, i);
  }
  void ExitScript(Interpreter& in) override {
    if (OnExitScript) OnExitScript(in);
  }
  void WriteInstanceData(Interpreter& in) override {
    if (OnWriteInstanceData) OnWriteInstanceData(in);
  }
  void AfterRun(Interpreter& in) override {
    if (OnAfterRun) OnAfterRun(in);
  }
};

}  // namespace kem
