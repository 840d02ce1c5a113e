// The engine context: the one object that owns a run's state. The launcher creates it,
// fills it and hands it to the interpreter, the statement handlers and (through them)
// the worker threads; nothing in the engine reaches for a process-wide instance.
//
// What is in it:
//   Startup   the values the launcher takes from the command line and the machine
//   State     state that statements of several subsystems share
//   Vars      the script variable store (with the command-line override rule)
//   Messages  the built-in message table
//   Caption   the window caption rule
//   Log       the trace log
//   Data      the setup data appended to the engine
//   Text      the letter-case rules of the setup's code page
//
// A second run in the same process (tests) takes a fresh context and needs no resets.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/text.h"
#include "engine/caption.h"
#include "engine/engine_state.h"
#include "engine/message_table.h"
#include "engine/setup_data.h"
#include "engine/startup_values.h"
#include "engine/trace_log.h"
#include "script/store/variable_manager.h"

namespace kem {

class EngineContext {
 public:
  EngineContext();
  EngineContext(const EngineContext&) = delete;
  EngineContext& operator=(const EngineContext&) = delete;

  StartupValues Startup;
  EngineState State;
  TVariableManager Vars;
  MessageTable Messages;
  CaptionRule Caption;
  TraceLog Log;
  SetupData Data;

  // One trace line (nothing while no trace log is named).
  void Trace(std::string_view line) { Log.Write(line); }
  // Text n of the message table.
  std::string Message(int n) const { return Messages.Get(n); }
  std::string WindowCaption() const { return Caption.WindowCaption(); }

  // The letter-case rules of the setup's code page; the variable store follows them.
  const TextRules& Text() const { return text_; }
  void SetTextRules(TextRules rules);

  // The translated form of a statement text, or the text unchanged (see TranslateParam in
  // script/params/statement_params.h). The translations install the look-up.
  using Translator = std::function<std::string(std::string_view text, std::string_view key, int k)>;
  void SetTranslator(Translator translate) { translate_ = std::move(translate); }
  std::string Translate(std::string_view text, std::string_view key, int k) const;

  // The translation of a dialog text (dialog file name, control name) in the selected
  // language; nullopt when there is none. The translations install the look-up.
  using DialogTranslator = std::function<std::optional<std::string>(std::string_view dialog, std::string_view control)>;
  void SetDialogTranslator(DialogTranslator translate) { translateDialog_ = std::move(translate); }
  std::optional<std::string> TranslateDialog(std::string_view dialog, std::string_view control) const {
    if (!translateDialog_) return std::nullopt;
    return translateDialog_(dialog, control);
  }

 private:
  TextRules text_;
  Translator translate_;
  DialogTranslator translateDialog_;
};

}  // namespace kem
