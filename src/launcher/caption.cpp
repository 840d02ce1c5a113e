#include "launcher/caption.h"

namespace kem {
namespace {
std::string g_title;
bool g_brandingOff = false;
// Translatable resource text with its leading blank.
constexpr const char* kWizardSuffix = " Wizard";
constexpr const char* kProductBrand = "Vantrel";
}  // namespace

void SetCaptionTitle(std::string title) { g_title = std::move(title); }
void SetBrandingOff(bool off) { g_brandingOff = off; }
const std::string& CaptionTitle() { return g_title; }
bool BrandingOff() { return g_brandingOff; }

std::string WindowCaption() {
  if (g_brandingOff) return g_title;
  if (!g_title.empty()) return g_title + " - " + kProductBrand + kWizardSuffix;
  return std::string(kProductBrand) + kWizardSuffix;
}

}  // namespace kem
