// Metafiles in form pictures (class TMetafile): an enhanced metafile, or a Windows
// metafile with or without the placeable header that gives its size. They are drawn by
// the system, not decoded here; this reads what drawing needs: the kind, the records and
// the size.
#pragma once

#include <optional>
#include <string_view>

namespace kem::pictures {

struct MetafileInfo {
  enum class Kind { Enhanced, Windows };
  Kind kind = Kind::Enhanced;
  // Enhanced: the whole file; Windows: the metafile after a placeable header.
  std::string_view records;
  // The picture's size in pixels at 96 dpi; 0 when the file does not say (a Windows
  // metafile without placeable header), the control's size is used then.
  int width = 0, height = 0;
};

// nullopt for anything that is no whole metafile of either kind.
std::optional<MetafileInfo> ReadMetafile(std::string_view data);

}  // namespace kem::pictures
