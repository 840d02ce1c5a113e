// The dialog runtime's steps by control kind: how a kind is filled from its variable,
// what a click or a change of it writes, how a live (Tag 100) control follows its
// variable, and the handlers that run once a page is bound. A kind leaves out the steps
// it does not take; BehaviourOf is the table the runtime dispatches through.
#pragma once

#include <string>

#include "dialogs/runtime/dialog_runtime.h"

namespace kem::dialogs {

// What the binding reads for a control before its kind's step: its variable's value
// (V, expanded), whether it is bound and defined, and the target folder seed.
struct BoundValue {
  std::string value;
  bool defined = false;
  const std::string& seed;
};

// What a progress refresh shows: the channel's text and its range fitted to a bar.
struct ProgressShown {
  const std::string& text;
  ProgressRange range;
  bool marquee = false;
};

struct KindBehaviour {
  void (*bind)(DialogRuntime&, Dialog&, forms::Control&, const BoundValue&) = nullptr;
  // Buttons, labels, images and shapes end or steer the display by their Tag.
  bool navigates = false;
  // The click handler that writes the control's state; false when nothing was written
  // (the rules then are not applied).
  bool (*click)(DialogRuntime&, Dialog&, forms::Control&) = nullptr;
  // The change handler, as click.
  bool (*change)(DialogRuntime&, Dialog&, forms::Control&, DialogPort&) = nullptr;
  // A Tag 100 control shows the path P of its variable.
  void (*followPath)(DialogRuntime&, Dialog&, forms::Control&, const std::string& path) = nullptr;
  // After the binding, in the order the controls were met: writes the initial state back.
  void (*deferred)(DialogRuntime&, Dialog&, forms::Control&) = nullptr;
  // A progress refresh of the page on screen: texts follow their templates, progress
  // controls the channel.
  void (*refresh)(DialogRuntime&, Dialog&, forms::Control&, const ProgressShown&) = nullptr;
};

const KindBehaviour& BehaviourOf(forms::ControlKind kind);

}  // namespace kem::dialogs
