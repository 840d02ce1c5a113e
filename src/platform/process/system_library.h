// Libraries the engine loads at run time, by full path from the system folder. The
// engine's import table names only libraries the loader takes from the system's list of
// known libraries (and kem.lib, which lies beside the engine on purpose): any other
// library is loaded through this, so that a file of that name beside the setup or in the
// current folder is never mapped into the engine.
#pragma once

#include <windows.h>

#include "platform/handles.h"

namespace kem::platform {

class SystemLibrary {
 public:
  // fileName is a bare name such as "comctl32.dll". Its own dependencies are resolved
  // from the system folder as well. Holds nothing when the library cannot be loaded.
  explicit SystemLibrary(const wchar_t* fileName);

  explicit operator bool() const { return static_cast<bool>(library_); }

  // The exported function, or null when the library or the function is missing.
  template <typename Fn>
  Fn Function(const char* name) const {
    if (!library_) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library_.Get(), name)));
  }

 private:
  Library library_;
};

}  // namespace kem::platform
