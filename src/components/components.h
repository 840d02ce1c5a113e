// The component model: the rules over the component tables (engine/component_tables.h)
// that the component statements, the component pages of the dialogs and the instance
// data share.
//
// A component name separates levels with a backslash (Main\Docs lies below Main). Names
// compare without regard to letter case, by the setup code page's rules, everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "engine/component_tables.h"

namespace kem {

class EngineContext;

// The component every first installation starts with: always selected, counted in the
// required space, never shown.
inline constexpr std::string_view kPredefinedComponent = "VRAX-PREDEF-COMPONENT";

// Read-only view of the tables with the derived tests.
class ComponentModel {
 public:
  ComponentModel(const ComponentTables& tables, const TextRules& rules) : t_(tables), rules_(rules) {}

  // Index of the component in the name table; nullopt when it is not defined.
  std::optional<std::size_t> IndexOf(std::string_view name) const;
  bool Exists(std::string_view name) const { return IndexOf(name).has_value(); }
  // The name itself was deleted ("Delete Component") / hidden.
  bool Deleted(std::string_view name) const;
  bool Hidden(std::string_view name) const;
  // The name or one of its ancestors is hidden / fixed.
  bool HiddenInTree(std::string_view name) const;
  bool Fixed(std::string_view name) const;
  // Defined, not deleted and its state is true.
  bool IsSelected(std::string_view name) const;
  // The state text of a defined component (empty when not defined).
  std::string State(std::string_view name) const;
  // The size recorded for the name (0 when none, or when the entry is not an integer).
  std::int64_t Size(std::string_view name) const;
  // Sum of the sizes of every component whose state is true and that is not deleted
  // (hidden ones included), minus what is installed already. May be negative.
  std::int64_t RequiredSpace() const;
  // Sum of the sizes of the selected components: what a maintenance run finds installed.
  std::int64_t SelectedSize() const;

 private:
  bool InList(const StringList& list, std::string_view name) const;
  const ComponentTables& t_;
  const TextRules& rules_;
};

// The name's ancestors, nearest first: Main\Docs\Api gives Main\Docs, Main.
std::vector<std::string> ComponentAncestors(std::string_view name);

// Defines a component, or refreshes the description of a defined one. A deleted
// component comes back; an existing non-empty state is kept (redefining never undoes the
// user's choice). A size entry "0" is added for a name that has none.
void DefineComponent(ComponentTables& t, const TextRules& rules, std::string_view name, std::string_view description,
                     bool selected);

// The tables of a first installation: all but the sizes emptied, nothing installed,
// the predefined component defined and selected.
void StartFirstInstallComponents(ComponentTables& t, const TextRules& rules);

// Sets the size of the first size entry of the name, or appends the pair.
void SetComponentSize(ComponentTables& t, const TextRules& rules, std::string_view name, std::int64_t size);

// Free bytes for the user on the drive of TARGETDIR, or -1 when TARGETDIR is empty.
// freeBytes receives the drive's root ("C:\" or "\\server\share\").
template <typename FreeBytes>
std::int64_t ComponentFreeSpace(std::string_view targetDir, FreeBytes&& freeBytes);

// A byte count for the component pages: "999 bytes", "5,120 KB", "3,072 MB", "-1 bytes"
// with the unit names given (messages 6, 7 and 8 of the message table).
std::string FormatSize(std::int64_t bytes, std::string_view unitBytes, std::string_view unitKb,
                       std::string_view unitMb);
// The same with the context's message table.
std::string FormatSize(const EngineContext& ctx, std::int64_t bytes);

// --- What the component tree and the component list show ---------------------------------

// One node of the component tree. Nodes are kept in insertion order; Children in order.
struct ComponentTreeNode {
  std::string Text;                  // one level of a name
  std::ptrdiff_t Parent = -1;        // index of the parent node, -1 for a root
  std::vector<std::size_t> Children;
  std::size_t Data = 0;              // component index + 1, 0 for a node without a component
  int Image = 0;                     // 1 selected, 0 not selected
};

class ComponentTree {
 public:
  // Builds the tree from the tables: every component in definition order except the
  // predefined one, the deleted ones and those hidden in tree.
  static ComponentTree Fill(const ComponentTables& t, const TextRules& rules);

  const std::vector<ComponentTreeNode>& Nodes() const { return nodes_; }
  // Roots in order.
  const std::vector<std::size_t>& Roots() const { return roots_; }
  // The full name of a node: its own and its ancestors' texts joined by "\".
  std::string FullName(std::size_t node) const;
  // Nodes in display order (depth first, parents before children).
  std::vector<std::size_t> DisplayOrder() const;

  // Marks the node's component selected or not (state and image); with subTree the same
  // for every child whose component is not fixed, recursively (a fixed child and what
  // lies below it keep their state).
  void Mark(ComponentTables& t, const TextRules& rules, std::size_t node, bool subTree, bool selected);

 private:
  std::size_t AddNode(std::string text, std::ptrdiff_t parent);
  std::vector<ComponentTreeNode> nodes_;
  std::vector<std::size_t> roots_;
};

// The items of the component menu (message numbers of their captions: 113, 114, 115).
enum class ComponentMenuItem {
  InstallComponentOnly,               // "InstallComponentOnly1"
  InstallComponentWithSubComponents,  // "InstallComponentwithSubComponents1"
  EntireFeatureUnavailable,           // "Entirefeaturewillbeunavailable1"
  DoNotInstallComponentOnly,          // "DoNotInstallComponentOnly1" (hidden)
  DoNotInstallComponentOrSubComponents,  // "DoNotInstallComponentorSubComponents1" (hidden)
};
// The image index of the menu item (2 to 5 of the service form's image list).
int ComponentMenuImage(ComponentMenuItem item);
// Whether the menu opens for a node: its component exists and is not fixed.
bool ComponentMenuAvailable(const ComponentTree& tree, const ComponentTables& t, const TextRules& rules,
                            std::size_t node);
// Carries out a menu item on the node.
void ApplyComponentMenu(ComponentTree& tree, ComponentTables& t, const TextRules& rules, std::size_t node,
                        ComponentMenuItem item);

// The check-list items: top-level components (no "\") that are not the predefined one,
// not deleted and not hidden, in definition order; checked when the state is "TRUE".
struct ComponentListItem {
  std::string Text;
  bool Checked = false;
};
std::vector<ComponentListItem> FillComponentList(const ComponentTables& t, const TextRules& rules);
// After a click on a check box: every item's check goes to every component whose name
// begins with the item's text (unless fixed); each item then shows the state of the last
// such component, so an item of a fixed component snaps back.
void ApplyListChecks(ComponentTables& t, const TextRules& rules, std::vector<ComponentListItem>& items);

// The texts of the static texts on a component page, by their Tag: 2 the description of
// the selected component (every "$NEWLINE$" a line break), 3 its size, 4 the required
// space, 5 the free space, 6 the free space minus the required space. Empty for any
// other tag and whenever the text cannot be computed.
std::string ComponentPageText(const EngineContext& ctx, int tag, std::string_view selectedComponent,
                              std::int64_t freeSpace);

// The texts for the tags of one page, in the order of tags. The figures of a page share
// one unit, the one its largest figure takes by FormatSize's rule, so that a page never
// shows "308,192 bytes" beside "66,942 MB"; a figure under ten of a larger unit shows one
// decimal ("0.3 MB", never "0.0" for a size that is not zero). Zero is "0 bytes" in any
// unit, as the rules of component pages compare the space required with "0 bytes". A required space below
// zero (components deselected in a maintenance run) shows what is freed ("4,096 bytes
// freed"), never a negative requirement. A free space the engine could not learn (-1)
// takes no part in the choice of the unit and shows as "-1 bytes".
std::vector<std::string> ComponentPageTexts(const EngineContext& ctx, std::span<const int> tags,
                                            std::string_view selectedComponent, std::int64_t freeSpace);

// --- The component lists of the instance data -------------------------------------------

// Appends lists 1 to 6 of the instance data (names, states, deleted, hidden, choice
// entries, size pairs), each ended by a line "$".
void WriteComponentLists(const ComponentTables& t, StringList& lines);

enum class ComponentListsRead {
  Normal,      // lists appended to the tables, the sizes too
  DropSizes,   // as Normal, the sizes read and dropped (old data of an upgrade)
  Merge,       // the file's states go to the components of those names; deleted, hidden
               // and choice tables replaced; the sizes dropped
};
// Reads the six lists from lines, starting at pos, and leaves pos after the sixth "$".
// Returns false (tables unchanged) when the lines end before the sixth list does.
bool ReadComponentLists(ComponentTables& t, const TextRules& rules, const StringList& lines, std::size_t& pos,
                        ComponentListsRead mode);

// --- Template ---------------------------------------------------------------------------

std::string ComponentDriveRoot(std::string_view path);

template <typename FreeBytes>
std::int64_t ComponentFreeSpace(std::string_view targetDir, FreeBytes&& freeBytes) {
  if (targetDir.empty()) return -1;
  return freeBytes(ComponentDriveRoot(targetDir));
}

}  // namespace kem
