// The system-change statements.
//
// Deferred ones ("Install Files", "Create Shortcut", "Write Registry", ...) change nothing
// when they run: each switches on its rows in the installer database and records its
// parameter values as installer properties for the next "Apply Changes"
// (installer/properties.h). Immediate ones act at once: "Is MSI Setup Installed", "Check
// Process", "Check Service", "Delete Registry", "Terminate Program", "Set 64 Bit Mode",
// "Transform Instance", "Save Feature Selections" and "Load Feature Selections".
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "common/text.h"

namespace kem {

class Interpreter;
class InstallerService;
class SystemService;
class StatementTable;
struct InterpreterHooks;
enum class StatementKind;

// Fetches a statement's media into the installer cache in a web build (the statement's
// StatementMedia entry); raises with the message to show when it fails.
using WebMediaFetch = std::function<void(Interpreter&, std::size_t statementIndex, const std::string& media)>;

struct SystemChangeServices {
  InstallerService& Installer;
  SystemService& System;
  // Empty while the engine has no web media support: nothing is fetched.
  WebMediaFetch FetchMedia;
};

void RegisterSystemChangeStatements(StatementTable& table, SystemChangeServices services);

// Before the first statement: every switch property queued as "FALSE". Chains onto hooks
// already present.
void AddSystemChangeHooks(InterpreterHooks& hooks);

// How a deferred statement forms one parameter property.
enum class ParameterForm {
  Plain,       // ExpandPath(ExpandVars(raw))
  Text,        // translated (k) while a language is selected, then ExpandVars, then ExpandPath
  TextNull,    // as Text, every "~" replaced by "$NULL$" before ExpandPath
};
struct ParameterRule {
  int Property;       // n of "P" + header + "_" + n
  int Source;         // the statement's parameter
  ParameterForm Form;
  int K = 0;          // translation index of a Text form
  bool Folder = false;       // must give a full path (drive or server): the database makes a folder of it
  bool OnlyWithDollar = false;  // recorded only when the raw text holds a "$"
};
// The parameter properties of a deferred statement kind; empty for a statement that only
// switches, and for kinds that are not deferred.
std::span<const ParameterRule> DeferredParameterRules(StatementKind kind);
bool IsDeferredStatement(StatementKind kind);

// The short and long name pair of a shortcut: its first six characters without leading
// and trailing blanks and control characters, "~1|", the whole name.
std::string ShortcutNamePair(std::string_view name, const TextRules& rules);

}  // namespace kem
