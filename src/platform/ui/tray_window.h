// The hidden window behind the setup's notification-area icon: its class name and the
// message the icon sends it (lParam is the mouse message, WM_LBUTTONUP for a click).
// Kept apart from ui.h so that tests which play the notification area can use them.
// Free of <windows.h>.
#pragma once

namespace kem::platform {

inline constexpr char kTrayWindowClass[] = "KemTrayWindow";
inline constexpr unsigned kTrayCallbackMessage = 0x8000 + 1;  // WM_APP + 1

// The engine's own balloon window, used where the shell draws no balloons (before
// Windows 2000 and Me).
inline constexpr char kBalloonWindowClass[] = "TSxBalloonForm";

}  // namespace kem::platform
