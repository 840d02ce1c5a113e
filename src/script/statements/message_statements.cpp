#include "script/statements/message_statements.h"

#include <algorithm>
#include <optional>

#include "engine/statement_error.h"
#include "engine/statement_parameters.h"
#include "script/interpreter/interpreter.h"
#include "script/numbers/int_text.h"
#include "script/params/statement_params.h"
#include "script/store/variable_manager.h"

namespace kem {

unsigned MessageBoxStyle(int icon, int buttons) {
  static constexpr unsigned kIcons[] = {0x40, 0x20, 0x30, 0x10};
  static constexpr unsigned kButtons[] = {2, 0, 1, 5, 4, 3};
  unsigned style = 0;
  if (icon >= 0 && icon < 4) style |= kIcons[icon];
  if (buttons >= 0 && buttons < 6) style |= kButtons[buttons];
  return style;
}

std::string MessageBoxAnswer(int button) {
  static constexpr const char* kAnswers[] = {"OK", "CANCEL", "ABORT", "RETRY", "IGNORE", "YES", "NO"};
  return button >= 1 && button <= 7 ? kAnswers[button - 1] : "";
}

unsigned BalloonTimeoutMs(const std::string& seconds) {
  const std::int32_t s = TryTextToInt32(seconds).value_or(10);
  return static_cast<unsigned>(std::clamp<std::int32_t>(s, 10, 30)) * 1000u;
}

void RestoreFromTray(Interpreter& in) {
  if (in.Hooks().RestoreFromTray) {
    in.Hooks().RestoreFromTray(in);
    return;
  }
  EngineState& state = in.Context().State;
  UiService& ui = in.Machine().Ui;
  const std::uintptr_t window = state.WindowHandleOfNonModal;
  if (window == 0) return;
  const bool fromTray = state.MinimizedToTray;
  state.MinimizedToTray = false;
  ui.BringWindowBack(window, fromTray);
}

namespace {

// Caption, text or title (translated text k): translated while a language is selected,
// then expanded.
std::string PreparedText(Interpreter& in, std::size_t i, int n, int k) {
  std::string text = in.Param(i, n);
  if (in.LanguageSelected()) text = in.Translated(text, in.Param(i, param::Id), k);
  return in.Vars().Expand(text);
}

// An integer parameter, read as written; a non-number fails the statement.
int IntegerParam(Interpreter& in, std::size_t i, int n) { return static_cast<int>(TextToInt32(in.Param(i, n))); }

// The taskbar state around a prompt, where the progress display provides it.
void PromptState(Interpreter& in, bool prompt, bool error) {
  if (in.Hooks().Progress.PromptState) in.Hooks().Progress.PromptState(prompt, error);
}

// Shows the tray icon with the hint TITLE; a click on it brings the window back. False
// when the icon could not be added.
bool ShowTrayIcon(Interpreter& in) {
  UiService& ui = in.Machine().Ui;
  ui.SetTrayClickHandler([&in] { RestoreFromTray(in); });
  const bool shown = ui.ShowTrayIcon(in.Vars().Get("TITLE"));
  in.Context().State.TrayIconVisible = shown;
  return shown;
}

void MessageBoxStatement(Interpreter& in, std::size_t i) {
  static constexpr std::string_view kName = "MessageBox";
  const std::string caption = PreparedText(in, i, param::MessageBox::Caption, 1);
  const std::string text = PreparedText(in, i, param::MessageBox::Text, 2);
  const unsigned style =
      MessageBoxStyle(IntegerParam(in, i, param::MessageBox::Icon), IntegerParam(in, i, param::MessageBox::Buttons));
  if (in.Silent()) return;
  UiService& ui = in.Machine().Ui;
  PromptState(in, true, style == 0x10);
  const std::uintptr_t owner = in.Context().State.WindowHandleOfNonModal;
  int answer = ui.AskUser(owner, text, caption, style);
  // The owner may be gone (closed by the script): the box then comes without one.
  if (answer == 0 && owner != 0) answer = ui.AskUser(0, text, caption, style);
  PromptState(in, false, false);
  const std::string variable = in.Param(i, param::MessageBox::Result);
  if (variable.empty()) return;
  // A box that could not be shown at all writes nothing.
  const std::string written = MessageBoxAnswer(answer);
  if (written.empty()) return;
  EnsureResultVariable(in.Vars(), variable, kName);
  in.Vars().SetVarChecked(variable, written, ActionLabel(kName));
}

void MessageBalloon(Interpreter& in, std::size_t i) {
  const std::string title = PreparedText(in, i, param::MessageBalloon::Title, 1);
  const std::string text = PreparedText(in, i, param::MessageBalloon::Text, 2);
  const int icon = IntegerParam(in, i, param::MessageBalloon::Icon);
  const unsigned timeout = BalloonTimeoutMs(in.Param(i, param::MessageBalloon::Seconds));
  if (in.Silent()) return;
  // 0 information, 1 warning, 2 error; any other value shows no icon.
  const int shown = icon >= 0 && icon <= 2 ? icon + 1 : 0;
  UiService& ui = in.Machine().Ui;
  ShowTrayIcon(in);
  PromptState(in, true, false);
  auto& restore = in.Hooks().Progress.PromptState;
  ui.ShowBalloon(title, text, shown, timeout, [restore] {
    if (restore) restore(false, false);
  });
}

void SystemTray(Interpreter& in, std::size_t i) {
  auto on = [&](int n) { return in.Param(i, n) == "TRUE"; };
  const bool minimise = on(1), show = on(2), restore = on(3), remove = on(4);
  EngineState& state = in.Context().State;
  UiService& ui = in.Machine().Ui;
  const std::string title = in.Vars().Get("TITLE");
  const std::uintptr_t window = state.WindowHandleOfNonModal;
  auto showIcon = [&] {
    if (in.Silent()) return false;
    const bool shown = ShowTrayIcon(in);
    ui.SetTaskbarOverlay(window, true, title);
    return shown;
  };
  auto restoreWindow = [&] {
    if (window != 0) ui.BringWindowBack(window, true);
    state.MinimizedToTray = false;
  };
  // Without an icon to click (no notification area) a hidden window could never come
  // back: it stays on screen then.
  if (minimise && (showIcon() || in.Silent())) {
    if (window != 0) ui.HideWindow(window);
    state.MinimizedToTray = true;
  }
  if (show) showIcon();
  if (restore) restoreWindow();
  if (remove) {
    ui.HideTrayIcon();
    state.TrayIconVisible = false;
    ui.SetTaskbarOverlay(window, false, title);
    restoreWindow();
  }
}

}  // namespace

void RegisterMessageStatements(StatementTable& table) {
  table.Add(StatementKind::MessageBox, MessageBoxStatement);
  table.Add(StatementKind::MessageBalloon, MessageBalloon);
  table.Add(StatementKind::SystemTray, SystemTray);
}

}  // namespace kem
