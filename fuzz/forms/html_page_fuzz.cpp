// Pages of the HTML view: any input reads without failing, every run refers to a link
// that exists, and the clicked-link and refresh decisions take any text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "dialogs/html/html_document.h"
#include "dialogs/html/html_links.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kem::html;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const Document doc = ParseHtml(text);
  for (const Block& b : doc.blocks)
    for (const Run& r : b.runs)
      if (r.style.link >= static_cast<int>(doc.links.size()) || r.width < -1 || r.height < -1) __builtin_trap();
  for (const Anchor& a : doc.anchors)
    if (a.block > doc.blocks.size()) __builtin_trap();
  (void)doc.Text();
  for (const std::string& link : doc.links) {
    const HotSpot h = DecideHotSpot(link, "C:\\Support\\index.htm", "C:\\Support\\");
    if (h.parameters.size() > 255) __builtin_trap();
  }
  (void)MetaRefreshTarget("C:\\Support\\", text);
  (void)DecideHotSpot(text, "", "C:\\Support\\");
  return 0;
}
