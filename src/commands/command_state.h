// What the immediate command statements share: the one text file kept open for reading
// between statements, the registry view of a statement, and how results are written.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "engine/engine_state.h"
#include "engine/services/commands.h"

namespace kem {

class Interpreter;

inline constexpr std::uint32_t kViewWow64_64 = 256;
inline constexpr std::uint32_t kViewWow64_32 = 512;

// The text file that "Read from Text File" keeps open, with one line read ahead so that
// the end is known as soon as the last line has been returned.
struct OpenTextFile {
  std::string Path;  // as the statement named it
  std::unique_ptr<TextLineReader> Reader;
  std::string Ahead;
  bool HasAhead = false;

  bool IsOpen() const { return Reader != nullptr; }
  bool Names(std::string_view path) const;
  void Close();
  // Reads the next line into Ahead; false on a read failure.
  bool Advance();
};

// Per-run state of the command statements.
struct CommandState {
  OpenTextFile Text;
};

// RegistryView for the duration of a statement: the 64-bit view in the script's 64-bit
// mode on 64-bit Windows, the 32-bit view otherwise; back to the 32-bit view at the end.
class RegistryViewScope {
 public:
  RegistryViewScope(EngineState& state, bool wow64);
  ~RegistryViewScope();
  RegistryViewScope(const RegistryViewScope&) = delete;
  RegistryViewScope& operator=(const RegistryViewScope&) = delete;
  std::uint32_t View() const { return state_.RegistryView; }

 private:
  EngineState& state_;
  bool wow64_;
};

// The calling (worker) thread's redirection off while the script is in 64-bit mode.
class ThreadRedirectionScope {
 public:
  template <class Service>
  ThreadRedirectionScope(bool active, Service& service)
      : off_([&service](bool off) { service.SetThreadRedirectionOff(off); }), active_(active) {
    if (active_) off_(true);
  }
  ~ThreadRedirectionScope() {
    if (active_) off_(false);
  }
  ThreadRedirectionScope(const ThreadRedirectionScope&) = delete;
  ThreadRedirectionScope& operator=(const ThreadRedirectionScope&) = delete;

 private:
  std::function<void(bool)> off_;
  bool active_;
};

// Path parameter n: expanded and cleaned.
std::string PathParam(Interpreter& in, std::size_t i, int n);
// A result named by raw parameter text: created with its upper-cased name when missing,
// then written with SetVarChecked and the statement's action label.
void WriteResult(Interpreter& in, std::string_view rawName, std::string_view value, std::string_view statement);
// A result named by a $NAME$ (or plain) parameter: SetVar of the upper-cased name.
void SetNamedResult(Interpreter& in, std::string_view rawName, std::string_view value, std::string_view statement);
// The 64-bit mode is on (PlatformMode other than "Win32").
bool Mode64(Interpreter& in);

}  // namespace kem
