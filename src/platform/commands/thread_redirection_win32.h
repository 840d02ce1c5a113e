// The calling thread's WOW64 file-system redirection, switched with the kernel's
// functions looked up at run time (nothing happens where they are absent). Nests per thread.
#pragma once

namespace kem::platform {

void SetThreadRedirectionOff(bool off);

}  // namespace kem::platform
