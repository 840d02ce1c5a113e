// The window caption rule for every message box of the engine.
#pragma once

#include <string>

namespace kem {

// The current title (copied from variable TITLE before each statement) and the
// branding-off flag (variable VRAXLOGO is "TRUE").
void SetCaptionTitle(std::string title);
void SetBrandingOff(bool off);
const std::string& CaptionTitle();
bool BrandingOff();

// Branding off: the title; branding on: title + " - Vantrel Wizard", or "Vantrel Wizard"
// without a title.
std::string WindowCaption();

}  // namespace kem
