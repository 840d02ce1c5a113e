#pragma once

#include <windows.h>

#include "dialogs/pictures/picture.h"
#include "platform/handles.h"

namespace kem::platform {

// A decoded picture as a top-down 32-bit DIB section, its transparency blended over `back`
// (the surface it is drawn on). Empty when the system cannot make the bitmap.
GdiObject PictureOverBackground(const pictures::Image& image, COLORREF back);

}  // namespace kem::platform
