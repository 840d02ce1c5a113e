// The archive library is bound at load time through its import library; nothing is looked
// up at run time. This unit only checks that the engine's view of the calls compiles.
#include "kemlib/archive_library.h"

static_assert(sizeof(TSZW_TARGETFILES) == (sizeof(void*) == 4 ? 8 : 16), "a pointer followed by a 32-bit count");
