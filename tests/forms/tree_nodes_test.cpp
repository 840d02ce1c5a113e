#include "dialogs/forms/tree_nodes.h"

#include <gtest/gtest.h>

namespace kem::forms {
namespace {

std::vector<TreeNodeItem> Sample() {
  return {{"Programme", -1, 0}, {"Hilfe \xFC" "ber $TITLE$", 0, 1}, {"Beispiele", 1, 2},
          {"O'Brien's tools", -1, 3}, {std::string(255, 'x'), 3, 4}};
}

TEST(TreeNodes, NodesComeBackInDepthFirstOrderWithTheirParents) {
  const std::vector<TreeNodeItem> nodes = Sample();
  const std::vector<TreeNodeItem> read = ReadTreeNodes(WriteTreeNodes(nodes));
  ASSERT_EQ(read.size(), nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    EXPECT_EQ(read[i].text, nodes[i].text) << i;
    EXPECT_EQ(read[i].parent, nodes[i].parent) << i;
    EXPECT_EQ(read[i].image, nodes[i].image) << i;
  }
  // A tree without nodes.
  EXPECT_TRUE(ReadTreeNodes(WriteTreeNodes({})).empty());
  EXPECT_TRUE(ReadTreeNodes("").empty());
}

TEST(TreeNodes, ADamagedStreamGivesTheNodesBeforeTheDamage) {
  const std::string data = WriteTreeNodes(Sample());
  // Cut anywhere: never more nodes than whole records, each one whole.
  for (std::size_t cut = 0; cut < data.size(); ++cut) {
    const std::vector<TreeNodeItem> read = ReadTreeNodes(std::string_view(data).substr(0, cut));
    ASSERT_LT(read.size(), Sample().size()) << cut;
    for (std::size_t i = 0; i < read.size(); ++i) EXPECT_EQ(read[i].text, Sample()[i].text) << cut;
  }
  // A record whose size disagrees with its text ends the reading there.
  std::string bad = data;
  bad[4] = static_cast<char>(bad[4] + 1);
  EXPECT_TRUE(ReadTreeNodes(bad).empty());
  // A child count far beyond the data, and a huge top-level count, end at the data's end.
  std::string many = data;
  many[4 + 4 + 20] = '\x7F';
  EXPECT_LE(ReadTreeNodes(many).size(), Sample().size());
  std::string top = data;
  top[3] = '\x7F';
  EXPECT_EQ(ReadTreeNodes(top).size(), Sample().size());
}

}  // namespace
}  // namespace kem::forms
