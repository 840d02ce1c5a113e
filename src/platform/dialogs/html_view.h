// The wizard's HTML view: a child window that lays out and paints a page of the HTML
// subset (dialogs/html) in the page's font, follows its links and reports a page's timed
// refresh to the dialog that holds it.
//
// Programs that drive the view from outside (tests, assistive tools) find it by its
// class name and may send it two messages; its window text is the page's visible text.
//   kHtmlViewLinkCount: returns the number of links of the page shown.
//   kHtmlViewLinkPoint: wParam is a link's index in page order; returns the centre of the
//     link's first piece in client coordinates as MAKELONG(x, y), or -1 when the link
//     does not exist or that piece is scrolled out of view.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dialogs/html/html_document.h"

namespace kem::platform {

inline constexpr wchar_t kHtmlViewClass[] = L"KemHtmlView";
inline constexpr UINT kHtmlViewLinkCount = WM_APP + 0x310;
inline constexpr UINT kHtmlViewLinkPoint = WM_APP + 0x311;

class HtmlView {
 public:
  struct Options {
    std::uint32_t codePage = 0;
    std::string baseFolder;  // links of a page shown without a file are taken from here
    COLORREF back = RGB(255, 255, 255);
    COLORREF fore = RGB(0, 0, 0);
    // A page with a timed refresh was loaded.
    std::function<void(HtmlView&, const html::MetaRefresh&)> refresh;
  };

  // Registers the window class (once per process; later calls do nothing).
  static void Register(HINSTANCE instance);
  // The view of a window of the class, or null.
  static HtmlView* From(HWND window);

  void Configure(Options options);
  // A page from its text; file is where it was read from (links and pictures are taken
  // relative to it).
  void ShowPage(const std::string& html, const std::string& file);
  // Plain text, one paragraph per line (the placeholder when there is no page).
  void ShowText(const std::string& text);
  // Reads and shows a local file: pages, plain text (.txt) or a picture. False when it
  // cannot be read; the view then keeps its page.
  bool LoadFile(const std::string& file);

  const std::string& DocumentFile() const;
  const std::string& Title() const;

  struct Impl;
  explicit HtmlView(HWND window);
  ~HtmlView();
  HtmlView(const HtmlView&) = delete;
  HtmlView& operator=(const HtmlView&) = delete;
  Impl& Internals() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kem::platform
