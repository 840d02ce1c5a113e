// "Display Dialog" and "Hide Dialog" as they behave while nothing is shown on screen (the
// silent path): every display ends with "NEXT" at once, so wizard loops run through.
// The presenter decides the result of a display; tests supply a scripted one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kem {

class Interpreter;
class StatementTable;

// Result codes of a display.
inline constexpr int kDialogNotModal = 0;
inline constexpr int kDialogCancel = 2;
inline constexpr int kDialogNext = 6;
inline constexpr int kDialogBack = 7;
inline constexpr int kDialogCustom = 8;

// Shows the dialog of the statement with the given key (statement index in decimal).
// Returns the result code for a modal display, the window handle for a non-modal one;
// custom receives the name of the control that ended the dialog for code 8.
using DialogPresenter = std::function<std::uintptr_t(Interpreter&, const std::string& key, bool modal,
                                                      std::string& custom)>;

// The silent presenter: resets VRAX_IsCancelled and returns 6 ("NEXT") for a modal
// display; a non-modal display shows no window and returns handle 0.
std::uintptr_t SilentDialogPresenter(Interpreter&, const std::string& key, bool modal, std::string& custom);

// The result text of a display code: "NOTMODAL", "CANCEL", "NEXT", "BACK" or the custom
// result upper-cased; empty for any other code.
std::string DialogResultText(std::uintptr_t code, const std::string& custom);

// What the statements do with the preloaded pages on screen. Every entry is optional;
// without Present the silent presenter stands in.
struct DialogOperations {
  DialogPresenter Present;
  // Fills the page of the key from the variables (a value that does not fit its control
  // raises the statement's failure); the non-modal page on screen does not repaint
  // meanwhile.
  std::function<void(Interpreter&, const std::string& key)> Bind;
  // Detaches the page that stays on screen behind the next one.
  std::function<void(Interpreter&, const std::string& key)> Unbind;
  // Takes the current (non-modal) page off the screen.
  std::function<void(Interpreter&)> Hide;
  // Between statements: the progress text and position reach the non-modal page.
  std::function<void(const std::string& text, std::int64_t position)> Progress;
  // "Set Variable" of PROGRESS or PROGRESSTEXT: the page on screen shows them at once.
  std::function<void(const std::string& text, std::int64_t position)> Refresh;
  // The taskbar's progress state around the engine's modal prompts.
  std::function<void(bool prompt, bool error)> PromptState;
  // The end of the script: every page leaves the screen.
  std::function<void(Interpreter&)> Close;
  // A click on the tray icon: the page displayed while minimised to the tray, else the
  // page on screen, comes back (the interpreter's RestoreFromTray hook).
  std::function<void(Interpreter&)> RestoreFromTray;
};

// Adds "Display Dialog" and "Hide Dialog"; presenter defaults to SilentDialogPresenter.
void RegisterDialogStatements(StatementTable& table, DialogPresenter presenter = {});
void RegisterDialogStatements(StatementTable& table, DialogOperations operations);

}  // namespace kem
