#include "script/interpreter/cancellation.h"

#include "launcher/caption.h"
#include "script/interpreter/engine_state.h"
#include "script/interpreter/interpreter.h"
#include "script/store/variable_manager.h"

namespace kem {

void WaitForWorker(Interpreter& interpreter, const WorkerWait& wait) {
  bool terminateAsked = false;
  while (!wait.Finished()) {
    if (!terminateAsked && IsTrue(GetVar("VRAX_IsCancelled"))) {
      terminateAsked = true;
      Variables().SetLocked("VRAX_LastActiveTick", GetVar("VRAX_LastDelegateTick"));
      if (wait.RequestTerminate) wait.RequestTerminate();
      if (wait.StartWatchdog) wait.StartWatchdog();
    }
    wait.WaitOnce(interpreter.Silent());
  }
}

bool FinishCancellation(Interpreter& interpreter, std::string_view originLabel) {
  if (!IsTrue(GetVar("VRAX_IsCancelled"))) return false;
  if (!IsTrue(GetVar("ABORTEDONERROR")) && !interpreter.Silent()) {
    auto& hooks = interpreter.Hooks();
    if (hooks.PromptProgressState) hooks.PromptProgressState(true, true);
    interpreter.Host().ShowErrorBox(Engine().WindowHandleOfNonModal, std::string(kSetupCancelledMessage),
                                    WindowCaption());
    if (hooks.PromptProgressState) hooks.PromptProgressState(false, false);
  }
  if (IsTrue(GetVar("ABORTONERROR"))) {
    interpreter.EndScript();
    return true;
  }
  SetVar("ABORTEDONERROR", "TRUE", originLabel);
  return false;
}

}  // namespace kem
