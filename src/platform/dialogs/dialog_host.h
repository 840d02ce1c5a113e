// The wizard pages on screen: one top-level window of class "TPoolTemplate" per preloaded
// page, with native controls built from its form model, the modal and non-modal
// displays, and the folder browser. What the pages show and write is decided by the
// portable dialog runtime (dialogs/runtime); this half draws it and reports the user's
// input back.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dialogs/runtime/dialog_runtime.h"
#include "engine/engine_context.h"
#include "script/statements/dialog_statements.h"

namespace kem::platform {

class DialogHost {
 public:
  DialogHost(EngineContext& context, FileService& files);
  ~DialogHost();
  DialogHost(const DialogHost&) = delete;
  DialogHost& operator=(const DialogHost&) = delete;

  // Before the first page: the support folder, the window class, the common controls.
  void Init(const std::string& supportFolder);
  // Preloads the page of a "Display Dialog" statement (key: its index in decimal) and
  // creates its hidden window. A missing or damaged dialog file raises FormError naming
  // it. Silent runs only register the page: it is loaded when a display needs it.
  void Load(const std::string& key, const std::string& path);

  // The statements' view of the pages (bind, unbind, show, hide), the progress refresh
  // of the non-modal page and the end of the run.
  DialogOperations Operations();
  // Runs close once the first page is on screen (or when the pages leave the screen): the
  // start-up windows go only when a page covers them.
  void CloseWhenCovered(std::function<void()> close);
  void WriteProgress(const std::string& text, std::int64_t position);
  void HideAll();

  // For tests: the window of a page, 0 when it is not loaded.
  std::uintptr_t WindowOf(const std::string& key) const;
  dialogs::DialogRuntime& Runtime();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kem::platform
