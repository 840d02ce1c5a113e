// The nodes a tree view carries in its form file ("Items.Data"): the number of top-level
// nodes as a 32-bit integer, then each node depth first as a record: its size (32-bit),
// image, selected image, state image and overlay indexes, a data word, the number of
// its children (all 32-bit, little-endian) and its text (a length byte and the bytes),
// followed by its children.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kem::forms {

struct TreeNodeItem {
  std::string text;
  int parent = -1;  // index of the parent node, -1 at the top
  int image = -1;
};

// The nodes in depth-first order (parents before their children). A damaged stream
// gives the nodes read before the damage; no input makes it fail.
std::vector<TreeNodeItem> ReadTreeNodes(std::string_view data);
// The stream of nodes given in depth-first order with their parents.
std::string WriteTreeNodes(const std::vector<TreeNodeItem>& nodes);

}  // namespace kem::forms
