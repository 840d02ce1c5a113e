#include "dialogs/pictures/metafile.h"

#include <cstdint>
#include <cstdlib>

namespace kem::pictures {

namespace {

std::uint32_t U32(std::string_view d, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(d[at + i]);
  return v;
}
std::uint16_t U16(std::string_view d, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(d[at]) | (static_cast<unsigned char>(d[at + 1]) << 8));
}
std::int32_t I32(std::string_view d, std::size_t at) { return static_cast<std::int32_t>(U32(d, at)); }
std::int16_t I16(std::string_view d, std::size_t at) { return static_cast<std::int16_t>(U16(d, at)); }

constexpr std::uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::size_t kEmfHeader = 88;
constexpr std::size_t kPlaceableHeader = 22;
constexpr std::size_t kWmfHeader = 18;
// Sides beyond this are taken as damage.
constexpr long long kMaxSide = 16384;

int Side(long long units, long long perInch) {
  if (perInch <= 0) return 0;
  const long long pixels = std::llabs(units) * 96 / perInch;
  return pixels > kMaxSide ? 0 : static_cast<int>(pixels);
}

bool IsWindowsMetafile(std::string_view d) {
  if (d.size() < kWmfHeader) return false;
  const std::uint16_t type = U16(d, 0), headerWords = U16(d, 2);
  // The size in 16-bit words covers the whole file.
  return (type == 1 || type == 2) && headerWords == 9 && U32(d, 6) * 2ull <= d.size() && U32(d, 6) >= 9;
}

}  // namespace

std::optional<MetafileInfo> ReadMetafile(std::string_view d) {
  if (d.size() >= kEmfHeader && U32(d, 0) == 1 && U32(d, 40) == kEmfSignature) {
    const std::uint32_t total = U32(d, 48);
    if (total < kEmfHeader || total > d.size()) return std::nullopt;
    MetafileInfo info;
    info.kind = MetafileInfo::Kind::Enhanced;
    info.records = d.substr(0, total);
    // The frame is in hundredths of a millimetre: 2540 to the inch.
    info.width = Side(static_cast<long long>(I32(d, 32)) - I32(d, 24), 2540);
    info.height = Side(static_cast<long long>(I32(d, 36)) - I32(d, 28), 2540);
    if (info.width == 0 || info.height == 0) info.width = info.height = 0;
    return info;
  }
  if (d.size() >= kPlaceableHeader && U32(d, 0) == kPlaceableKey) {
    std::string_view rest = d.substr(kPlaceableHeader);
    if (!IsWindowsMetafile(rest)) return std::nullopt;
    MetafileInfo info;
    info.kind = MetafileInfo::Kind::Windows;
    info.records = rest;
    const std::uint16_t inch = U16(d, 14);
    info.width = Side(static_cast<long long>(I16(d, 10)) - I16(d, 6), inch);
    info.height = Side(static_cast<long long>(I16(d, 12)) - I16(d, 8), inch);
    if (info.width == 0 || info.height == 0) info.width = info.height = 0;
    return info;
  }
  if (IsWindowsMetafile(d)) {
    MetafileInfo info;
    info.kind = MetafileInfo::Kind::Windows;
    info.records = d;
    return info;
  }
  return std::nullopt;
}

}  // namespace kem::pictures
