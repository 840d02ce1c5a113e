// Plug-in libraries: a DLL exporting "RunTimeExecute" carries out a statement the engine
// does not build in. The Windows half loads the library, calls it twice (the length of
// the result, then the result into a buffer) and frees it again; the portable side
// decides what is called and what becomes of the result.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kem {

struct PluginCall {
  std::string LibraryPath;
  std::string Variables;  // the variable store as comma text
  std::string Parameter;  // parameter 1 of the statement, as written
  std::uintptr_t Window = 0;
};

struct PluginCallResult {
  // -1 for failure, otherwise the length of the result text.
  std::int32_t Code = -1;
  std::string Result;
  // Why the call failed, for the trace log ("not loadable", "no RunTimeExecute", ...).
  std::string Failure;
};

// The plug-in's progress report (percent, text; text may be null). Returns false once the
// call should stop (the user cancelled). Called on the plug-in's thread.
using PluginProgress = std::function<bool(std::int32_t percent, const char* text)>;

class PluginHost {
 public:
  virtual ~PluginHost() = default;
  // Runs the two-call protocol on the calling thread. Never raises: a library that
  // cannot be loaded, a missing export or a fault inside the plug-in give -1.
  virtual PluginCallResult Call(const PluginCall& call, const PluginProgress& progress) = 0;
};

}  // namespace kem
