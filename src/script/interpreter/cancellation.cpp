#include "script/interpreter/cancellation.h"

#include "script/interpreter/interpreter.h"
#include "script/store/variable_manager.h"

namespace kem {

void WaitForWorker(Interpreter& interpreter, const WorkerWait& wait) {
  TVariableManager& vars = interpreter.Vars();
  bool terminateAsked = false;
  while (!wait.Finished()) {
    if (!terminateAsked && IsTrue(vars.Get("VRAX_IsCancelled"))) {
      terminateAsked = true;
      vars.Set("VRAX_LastActiveTick", vars.Get("VRAX_LastDelegateTick"));
      if (wait.RequestTerminate) wait.RequestTerminate();
      if (wait.StartWatchdog) wait.StartWatchdog();
    }
    wait.WaitOnce(interpreter.Silent());
  }
}

bool FinishCancellation(Interpreter& interpreter, std::string_view originLabel) {
  TVariableManager& vars = interpreter.Vars();
  EngineContext& ctx = interpreter.Context();
  if (!IsTrue(vars.Get("VRAX_IsCancelled"))) return false;
  if (!IsTrue(vars.Get("ABORTEDONERROR")) && !interpreter.Silent()) {
    auto& progress = interpreter.Hooks().Progress;
    if (progress.PromptState) progress.PromptState(true, true);
    interpreter.Machine().Ui.ShowErrorBox(ctx.State.WindowHandleOfNonModal, std::string(kSetupCancelledMessage),
                                          ctx.WindowCaption());
    if (progress.PromptState) progress.PromptState(false, false);
  }
  if (IsTrue(vars.Get("ABORTONERROR"))) {
    interpreter.EndScript();
    return true;
  }
  vars.SetVar("ABORTEDONERROR", "TRUE", originLabel);
  return false;
}

}  // namespace kem
