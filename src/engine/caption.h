// The window caption rule for every message box of the engine.
#pragma once

#include <string>

namespace kem {

class CaptionRule {
 public:
  // The current title (copied from variable TITLE before each statement) and the
  // branding-off flag (variable VRAXLOGO is "TRUE").
  void SetTitle(std::string title) { title_ = std::move(title); }
  void SetBrandingOff(bool off) { brandingOff_ = off; }
  const std::string& Title() const { return title_; }
  bool BrandingOff() const { return brandingOff_; }

  // Branding off: the title; branding on: title + " - Vantrel Wizard", or
  // "Vantrel Wizard" without a title.
  std::string WindowCaption() const;

 private:
  std::string title_;
  bool brandingOff_ = false;
};

}  // namespace kem
