// The script variable store: one case-insensitive map from a variable name to its text
// value per run (owned by the engine context), shared by the script, the dialogs and the
// worker threads. Every
// operation takes the store's lock for its own duration; compound helpers (SetVar,
// SetVarChecked, expansion) take it once per step and are not atomic as a whole.
//
// Names compare without regard to letter case; the spelling used when a variable is
// first created is the one kept (it is what an export shows). A variable holding the
// empty text is still defined. There is no delete: variables disappear only when the
// whole store is cleared.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/text.h"

namespace kem {

// Longest text an expansion produces, and how many references one call replaces, before
// the rest of the text is left unexpanded (self-referencing values cannot run away).
inline constexpr std::size_t kMaxExpansionReplacements = 10000;
inline constexpr std::size_t kMaxExpandedLength = 32u * 1024u * 1024u;

// Origin labels: who assigns a variable. The store keeps no label; the only effect is the
// command-line override rule of SetVarChecked. Statement handlers pass ActionLabel of
// their statement name (script/params/statement_params.h).
inline constexpr std::string_view kOriginPreInitialization = "Pre-Initialization";
inline constexpr std::string_view kOriginInitialization = "Initialization";
inline constexpr std::string_view kOriginBootstrap = "Bootstrap";
inline constexpr std::string_view kOriginCompilation = "Compilation";
inline constexpr std::string_view kOriginCommandLine = "Inject Override Command Line";
inline constexpr std::string_view kOriginCancelState = "Cancel State";

// ValueOrMarker's result for an undefined variable.
inline constexpr std::string_view kUndefinedMarker = "$VRAXNX$";

class TVariableManager {
 public:
  // lockReads: when false, reads do not take the lock (a store that one thread owns).
  explicit TVariableManager(bool lockReads = true);
  TVariableManager(const TVariableManager&) = delete;
  TVariableManager& operator=(const TVariableManager&) = delete;

  // The letter-case rules names compare by (code page 1252 until set). Existing names
  // are indexed again under the new rules.
  void SetTextRules(const TextRules& rules);
  const TextRules& Rules() const { return rules_; }

  // --- Plain store operations (no override rule) -----------------------------------
  // Inserts or replaces; an empty name is ignored.
  void Set(std::string_view name, std::string_view value);
  // Removes every variable.
  void Clear();
  // True if defined; false for the empty name.
  bool Exists(std::string_view name) const;
  // The value, or the empty text when the name is empty or undefined. A copy.
  std::string Get(std::string_view name) const;
  // Existence and value in one locked step: true and the value in value when defined.
  bool TryGet(std::string_view name, std::string& value) const;
  // Number of variables.
  std::size_t Count() const;
  // Replaces the content of list by name, value, name, value, ... in creation order and
  // returns its line count. Holds the lock for the whole dump.
  std::size_t Dump(std::vector<std::string>& list) const;

  // Take and release the lock around several operations. The lock is recursive, so the
  // operations above may be called while it is held by the same thread. Prefer ReadLock.
  void Enter(bool write) const;
  void Leave(bool write) const;
  class ReadLock {
   public:
    explicit ReadLock(const TVariableManager& store) : store_(store) { store_.Enter(false); }
    ~ReadLock() { store_.Leave(false); }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

   private:
    const TVariableManager& store_;
  };

  // --- Writes with the command-line override rule ----------------------------------
  // The inputs of the rule: whether the engine runs silently and the command line's
  // assignments NAME, VALUE, NAME, VALUE, ... The interpreter hands them over before the
  // first statement runs; until then nothing is protected.
  void SetCommandLineOverrides(bool silentMode, std::vector<std::string> assignments);
  // True while the engine runs silently and name occurs (ignoring case) as a NAME entry
  // of the command line's assignments: ordinary writes to such a variable are ignored.
  bool IsProtectedByCommandLine(std::string_view name) const;
  // Writes every pair of the command-line assignments: each NAME upper-cased, with origin
  // kOriginCommandLine.
  void InjectCommandLineAssignments();
  // Does nothing for an empty name; SetVarChecked when the variable exists, otherwise
  // creates it (a new variable is never protected).
  void SetVar(std::string_view name, std::string_view value, std::string_view origin);
  // Ignores the write when the variable is protected by the command line and origin is
  // not kOriginCommandLine; otherwise writes.
  void SetVarChecked(std::string_view name, std::string_view value, std::string_view origin);

  // --- Expansion and references ------------------------------------------------------
  // ExpandVars and ExpandVarsQuoted (script/params/statement_params.h) against this store.
  std::string Expand(std::string_view text) const;
  std::string ExpandQuoted(std::string_view text) const;
  // ref is a reference $NAME$ or a plain NAME: the value of NAME passed through Expand,
  // or the empty text when NAME is undefined.
  std::string ValueExpanded(std::string_view ref) const;
  // As ValueExpanded, but an undefined variable yields kUndefinedMarker.
  std::string ValueOrMarker(std::string_view ref) const;
  // If text is a reference $NAME$: whether NAME exists. Otherwise plainIsEnough, or (when
  // plainIsEnough is false) whether a variable named text exists.
  bool RefDefined(std::string_view text, bool plainIsEnough) const;

  // --- Comma text --------------------------------------------------------------------
  // The whole store as comma text (CommaText of Dump).
  std::string Export() const;
  // Clears the store and sets each pair of the comma text (an odd last entry is ignored).
  void Import(std::string_view text);

 private:
  struct Hash {
    using is_transparent = void;
    const TextRules* rules;
    std::size_t operator()(std::string_view s) const;
  };
  struct Equal {
    using is_transparent = void;
    const TextRules* rules;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
  };
  struct Entry {
    std::string name;
    std::string value;
  };

  bool lockReads_;
  mutable std::recursive_mutex lock_;
  TextRules rules_;
  // Entries in creation order; the index maps a name (any letter case) to its entry.
  std::vector<Entry> entries_;
  std::unordered_map<std::string, std::size_t, Hash, Equal> index_;
  // The command-line override rule's inputs.
  bool overrideSilent_ = false;
  std::vector<std::string> overrideAssignments_;
};

// True when the text is "TRUE" in any letter case or exactly "-1".
bool IsTrue(std::string_view text) noexcept;
// "TRUE" or "FALSE".
std::string BoolText(bool b);

// Comma text of a list and its inverse: entries joined by commas; an entry holding a
// double quote, a comma, a space or a character below the space is enclosed in double
// quotes with embedded quotes doubled.
std::string CommaText(const std::vector<std::string>& list);
std::vector<std::string> SplitCommaText(std::string_view text);

// NAME when text is exactly $NAME$ with a non-empty NAME free of "$"; else the empty text.
std::string VarNameOf(std::string_view text);
// VarNameOf(text) when not empty, otherwise text itself: the variable a name parameter
// designates ($RESULT$ and RESULT name the same variable).
std::string VarNameOrText(std::string_view text);

}  // namespace kem
