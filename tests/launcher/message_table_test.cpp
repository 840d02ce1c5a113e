#include "engine/message_table.h"

#include <gtest/gtest.h>

#include "engine/caption.h"

namespace kem {
namespace {

std::string Block(const std::string& prefix, int count = kMessageCount) {
  std::string s;
  for (int i = 1; i <= count; ++i) s += prefix + std::to_string(i) + "\r\n";
  return s;
}

TEST(MessageTable, DefaultsAndLanguageFiles) {
  MessageTable table;
  auto Message = [&](int n) { return table.Get(n); };
  EXPECT_EQ(Message(2), "Setup resource not found");
  EXPECT_EQ(Message(5), "Runtime error in install: ");
  EXPECT_EQ(Message(23), "Vantrel Wizard");
  EXPECT_EQ(Message(27), " Proxy Information (optional) ");
  EXPECT_EQ(Message(54), "");
  EXPECT_EQ(Message(115), "Entire feature will be &unavailable");
  EXPECT_EQ(Message(0), "");
  EXPECT_EQ(Message(116), "");

  // Only a first block: always used.
  table.Load(Block("first "), "German");
  EXPECT_EQ(Message(7), "first 7");
  // The block named after the user's language wins; reading stops there.
  table.Load(Block("first ") + "german\r\n" + Block("de ") + "French\r\n" + Block("fr "), "German");
  EXPECT_EQ(Message(7), "de 7");
  // No block matches: the last one read stays in force.
  table.Load(Block("first ") + "Italian\r\n" + Block("it "), "German");
  EXPECT_EQ(Message(7), "it 7");
  // A short block leaves the rest empty.
  table.Load(Block("short ", 3), "English");
  EXPECT_EQ(Message(3), "short 3");
  EXPECT_EQ(Message(4), "");
  table.Reset();
  EXPECT_EQ(Message(2), "Setup resource not found");
}

TEST(Caption, Rule) {
  CaptionRule caption;
  EXPECT_EQ(caption.WindowCaption(), "Vantrel Wizard");
  caption.SetTitle("My App");
  EXPECT_EQ(caption.WindowCaption(), "My App - Vantrel Wizard");
  caption.SetBrandingOff(true);
  EXPECT_EQ(caption.WindowCaption(), "My App");
  caption.SetTitle("");
  EXPECT_EQ(caption.WindowCaption(), "");
}

}  // namespace
}  // namespace kem
