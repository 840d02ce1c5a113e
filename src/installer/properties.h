// The switch and parameter properties of the system-change statements.
//
// A system-change statement changes nothing when it runs: the builder has put its work
// into the installer database as rows conditioned on its switch property "A" + command
// header, whose targets come from its parameter properties "P" + header + "_" + n. The
// statement sets its switch to "TRUE" and records its parameter values; "Apply Changes"
// writes them into the database's Property table (the pending rows) and hands every
// recorded property to the session (the session properties).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/installer_state.h"

namespace kem {

class EngineContext;

// Every CR LF of text replaced by "$NEWLINE$".
std::string LineBreaksToMarker(std::string_view text);

// Appends a row for the Property table (the value with line breaks as markers).
void QueuePropertyRow(InstallerState& state, std::string_view name, std::string_view value);
// Appends one entry to the session properties (line breaks as markers).
void RecordSessionProperty(InstallerState& state, std::string_view text);
// Queues the row and records name and value.
void RecordProperty(InstallerState& state, std::string_view name, std::string_view value);

// The switch property of a header: "A" + header.
std::string SwitchProperty(std::string_view header);
// A parameter property: "P" + header + "_" + n.
std::string ParameterProperty(std::string_view header, int n);

// Records "A" + header = "FALSE" for every statement that has a command header, in
// statement order: before the first statement runs, every switch is off.
void QueueAllSwitchesOff(EngineContext& ctx);

}  // namespace kem
