#include "engine/caption.h"

namespace kem {
namespace {
// Translatable resource text with its leading blank.
constexpr const char* kWizardSuffix = " Wizard";
constexpr const char* kProductBrand = "Vantrel";
}  // namespace

std::string CaptionRule::WindowCaption() const {
  if (brandingOff_) return title_;
  if (!title_.empty()) return title_ + " - " + kProductBrand + kWizardSuffix;
  return std::string(kProductBrand) + kWizardSuffix;
}

}  // namespace kem
