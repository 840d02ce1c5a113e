#include "dialogs/forms/tree_nodes.h"

#include <cstdint>
#include <functional>

namespace kem::forms {

namespace {

// Node records hold six integers before the text.
constexpr std::size_t kFixedPart = 6 * 4;
// Deeper trees are taken as damage (the stream is read recursively).
constexpr int kMaxDepth = 64;

struct Reader {
  std::string_view data;
  std::size_t at = 0;
  bool ok = true;
  std::int32_t Int() {
    if (at + 4 > data.size()) {
      ok = false;
      return 0;
    }
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[at + i]);
    at += 4;
    return static_cast<std::int32_t>(v);
  }
};

void PutInt(std::string& out, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

}  // namespace

std::vector<TreeNodeItem> ReadTreeNodes(std::string_view data) {
  std::vector<TreeNodeItem> nodes;
  Reader r{data};
  const std::int32_t top = r.Int();
  std::function<bool(int, int)> node = [&](int parent, int depth) -> bool {
    if (depth > kMaxDepth) return false;
    const std::size_t start = r.at;
    const std::int32_t size = r.Int();
    const std::int32_t image = r.Int();
    for (int i = 0; i < 4 && r.ok; ++i) r.Int();  // selected, state, overlay, data
    const std::int32_t children = r.Int();
    if (!r.ok || r.at >= data.size()) return false;
    const std::size_t length = static_cast<unsigned char>(data[r.at++]);
    // The record's size counts from its own size field's end: the fixed part and the text.
    if (size < 0 || static_cast<std::size_t>(size) != kFixedPart + 1 + length || r.at + length > data.size()) return false;
    (void)start;
    TreeNodeItem item;
    item.text = std::string(data.substr(r.at, length));
    item.parent = parent;
    item.image = image;
    r.at += length;
    const int self = static_cast<int>(nodes.size());
    nodes.push_back(std::move(item));
    for (std::int32_t i = 0; i < children; ++i)
      if (!node(self, depth + 1)) return false;
    return true;
  };
  for (std::int32_t i = 0; r.ok && i < top; ++i)
    if (!node(-1, 0)) break;
  return nodes;
}

std::string WriteTreeNodes(const std::vector<TreeNodeItem>& nodes) {
  std::string out;
  auto childrenOf = [&](int parent) {
    std::vector<int> c;
    for (std::size_t i = 0; i < nodes.size(); ++i)
      if (nodes[i].parent == parent) c.push_back(static_cast<int>(i));
    return c;
  };
  std::function<void(int)> write = [&](int index) {
    const TreeNodeItem& n = nodes[static_cast<std::size_t>(index)];
    const std::string text = n.text.substr(0, 255);
    const std::vector<int> children = childrenOf(index);
    PutInt(out, static_cast<std::int32_t>(kFixedPart + 1 + text.size()));
    PutInt(out, n.image);
    PutInt(out, n.image);
    PutInt(out, -1);
    PutInt(out, -1);
    PutInt(out, 0);
    PutInt(out, static_cast<std::int32_t>(children.size()));
    out.push_back(static_cast<char>(text.size()));
    out += text;
    for (int c : children) write(c);
  };
  const std::vector<int> top = childrenOf(-1);
  PutInt(out, static_cast<std::int32_t>(top.size()));
  for (int t : top) write(t);
  return out;
}

}  // namespace kem::forms
