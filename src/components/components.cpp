#include "components/components.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <functional>

#include "engine/engine_context.h"
#include "script/numbers/int_text.h"
#include "script/store/variable_manager.h"

namespace kem {
namespace {

constexpr std::string_view kListEnd = "$";

std::string TrueFalse(bool b) { return b ? "TRUE" : "FALSE"; }

bool IsTrueText(std::string_view s) { return IsTrue(s); }

}  // namespace

// --- Derived tests -----------------------------------------------------------------------

bool ComponentModel::InList(const StringList& list, std::string_view name) const {
  return std::any_of(list.begin(), list.end(), [&](const std::string& s) { return rules_.SameText(s, name); });
}

std::optional<std::size_t> ComponentModel::IndexOf(std::string_view name) const {
  for (std::size_t i = 0; i < t_.Names.size(); ++i)
    if (rules_.SameText(t_.Names[i], name)) return i;
  return std::nullopt;
}

bool ComponentModel::Deleted(std::string_view name) const { return InList(t_.Deleted, name); }
bool ComponentModel::Hidden(std::string_view name) const { return InList(t_.Hidden, name); }

bool ComponentModel::HiddenInTree(std::string_view name) const {
  if (Hidden(name)) return true;
  for (const auto& a : ComponentAncestors(name))
    if (Hidden(a)) return true;
  return false;
}

bool ComponentModel::Fixed(std::string_view name) const {
  if (InList(t_.Fixed, name)) return true;
  for (const auto& a : ComponentAncestors(name))
    if (InList(t_.Fixed, a)) return true;
  return false;
}

std::string ComponentModel::State(std::string_view name) const {
  auto i = IndexOf(name);
  if (!i || *i >= t_.States.size()) return {};
  return t_.States[*i];
}

bool ComponentModel::IsSelected(std::string_view name) const {
  return Exists(name) && !Deleted(name) && IsTrueText(State(name));
}

std::int64_t ComponentModel::Size(std::string_view name) const {
  // Only the name positions of the pairs are compared: a size that happens to read like
  // a component's name is never taken for it.
  for (std::size_t i = 0; i + 1 < t_.Sizes.size(); i += 2)
    if (rules_.SameText(t_.Sizes[i], name)) return TryTextToInt64(t_.Sizes[i + 1]).value_or(0);
  return 0;
}

std::int64_t ComponentModel::RequiredSpace() const {
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < t_.Names.size(); ++i) {
    const std::string& name = t_.Names[i];
    if (i < t_.States.size() && IsTrueText(t_.States[i]) && !Deleted(name)) sum += Size(name);
  }
  return sum - t_.InstalledSize;
}

std::int64_t ComponentModel::SelectedSize() const {
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < t_.Names.size(); ++i)
    if (IsSelected(t_.Names[i])) sum += Size(t_.Names[i]);
  return sum;
}

std::vector<std::string> ComponentAncestors(std::string_view name) {
  std::vector<std::string> out;
  std::string current(name);
  for (;;) {
    auto cut = current.find_last_of('\\');
    if (cut == std::string::npos) break;
    current.resize(cut);
    out.push_back(current);
  }
  return out;
}

// --- Changes ---------------------------------------------------------------------------

void DefineComponent(ComponentTables& t, const TextRules& rules, std::string_view name, std::string_view description,
                     bool selected) {
  ComponentModel model(t, rules);
  auto index = model.IndexOf(name);
  std::size_t i;
  if (index) {
    i = *index;
    auto del = std::find_if(t.Deleted.begin(), t.Deleted.end(),
                            [&](const std::string& s) { return rules.SameText(s, name); });
    if (del != t.Deleted.end()) t.Deleted.erase(del);
  } else {
    i = t.Names.size();
    t.Names.emplace_back(name);
  }
  if (t.Descriptions.size() <= i) t.Descriptions.resize(i + 1);
  t.Descriptions[i] = std::string(description);
  bool sized = false;
  for (std::size_t k = 0; k + 1 < t.Sizes.size(); k += 2)
    if (rules.SameText(t.Sizes[k], name)) sized = true;
  if (!sized) {
    t.Sizes.emplace_back(name);
    t.Sizes.emplace_back("0");
  }
  if (t.States.size() <= i) t.States.resize(i + 1);
  if (t.States[i].empty()) t.States[i] = TrueFalse(selected);
}

void StartFirstInstallComponents(ComponentTables& t, const TextRules& rules) {
  t.Names.clear();
  t.States.clear();
  t.Descriptions.clear();
  t.Deleted.clear();
  t.Hidden.clear();
  t.Fixed.clear();
  t.InstalledSize = 0;
  DefineComponent(t, rules, kPredefinedComponent, "", true);
}

void SetComponentSize(ComponentTables& t, const TextRules& rules, std::string_view name, std::int64_t size) {
  for (std::size_t k = 0; k + 1 < t.Sizes.size(); k += 2) {
    if (rules.SameText(t.Sizes[k], name)) {
      t.Sizes[k + 1] = std::to_string(size);
      return;
    }
  }
  t.Sizes.emplace_back(name);
  t.Sizes.emplace_back(std::to_string(size));
}

std::string ComponentDriveRoot(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2)) + "\\";
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    auto server = path.find('\\', 2);
    if (server == std::string_view::npos) return std::string(path) + "\\";
    auto share = path.find('\\', server + 1);
    return std::string(share == std::string_view::npos ? path : path.substr(0, share)) + "\\";
  }
  return std::string(path);
}

// --- Sizes as text -------------------------------------------------------------------

std::string FormatSize(std::int64_t v, std::string_view unitBytes, std::string_view unitKb, std::string_view unitMb) {
  std::string_view unit;
  std::int64_t n;
  if (v < 1048576) {
    unit = unitBytes;
    n = v;
  } else if (v < 1073741824) {
    unit = unitKb;
    n = v / 1024;
  } else {
    unit = unitMb;
    n = v / 1048576;
  }
  const bool negative = n < 0;
  // Negating in unsigned arithmetic keeps the smallest 64-bit value representable.
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(n) : static_cast<std::uint64_t>(n);
  std::string digits = std::to_string(magnitude);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(',');
    grouped.push_back(digits[i]);
  }
  std::string out = negative ? "-" : "";
  out += grouped;
  out += ' ';
  out += unit;
  return out;
}

std::string FormatSize(const EngineContext& ctx, std::int64_t bytes) {
  return FormatSize(bytes, ctx.Message(6), ctx.Message(7), ctx.Message(8));
}

// --- The component tree ----------------------------------------------------------------

std::size_t ComponentTree::AddNode(std::string text, std::ptrdiff_t parent) {
  std::size_t n = nodes_.size();
  nodes_.push_back(ComponentTreeNode{std::move(text), parent, {}, 0, 0});
  if (parent < 0)
    roots_.push_back(n);
  else
    nodes_[static_cast<std::size_t>(parent)].Children.push_back(n);
  return n;
}

std::vector<std::size_t> ComponentTree::DisplayOrder() const {
  std::vector<std::size_t> order;
  std::function<void(std::size_t)> walk = [&](std::size_t n) {
    order.push_back(n);
    for (std::size_t c : nodes_[n].Children) walk(c);
  };
  for (std::size_t r : roots_) walk(r);
  return order;
}

std::string ComponentTree::FullName(std::size_t node) const {
  std::string name = nodes_[node].Text;
  for (std::ptrdiff_t p = nodes_[node].Parent; p >= 0; p = nodes_[static_cast<std::size_t>(p)].Parent)
    name = nodes_[static_cast<std::size_t>(p)].Text + "\\" + name;
  return name;
}

ComponentTree ComponentTree::Fill(const ComponentTables& t, const TextRules& rules) {
  ComponentTree tree;
  ComponentModel model(t, rules);
  for (std::size_t i = 0; i < t.Names.size(); ++i) {
    const std::string& name = t.Names[i];
    if (rules.SameText(name, kPredefinedComponent) || model.Deleted(name) || model.HiddenInTree(name)) continue;
    std::vector<std::string> levels;
    for (std::size_t start = 0;;) {
      auto cut = name.find('\\', start);
      levels.push_back(name.substr(start, cut == std::string::npos ? std::string::npos : cut - start));
      if (cut == std::string::npos) break;
      start = cut + 1;
    }
    // The first level matches a node of that text anywhere in the tree (display order).
    std::optional<std::size_t> node;
    for (std::size_t n : tree.DisplayOrder()) {
      if (rules.SameText(tree.nodes_[n].Text, levels[0])) {
        node = n;
        break;
      }
    }
    if (!node) node = tree.AddNode(levels[0], -1);
    for (std::size_t l = 1; l < levels.size(); ++l) {
      std::optional<std::size_t> child;
      for (std::size_t c : tree.nodes_[*node].Children)
        if (rules.SameText(tree.nodes_[c].Text, levels[l])) {
          child = c;
          break;
        }
      if (!child) child = tree.AddNode(levels[l], static_cast<std::ptrdiff_t>(*node));
      node = child;
    }
    auto& last = tree.nodes_[*node];
    last.Image = (i < t.States.size() && t.States[i] == "TRUE") ? 1 : 0;
    last.Data = i + 1;
  }
  return tree;
}

void ComponentTree::Mark(ComponentTables& t, const TextRules& rules, std::size_t node, bool subTree, bool selected) {
  auto& n = nodes_[node];
  if (n.Data > 0 && n.Data - 1 < t.Names.size()) {
    if (t.States.size() < n.Data) t.States.resize(n.Data);
    t.States[n.Data - 1] = TrueFalse(selected);
    n.Image = selected ? 1 : 0;
  }
  if (!subTree) return;
  ComponentModel model(t, rules);
  for (std::size_t c : std::vector<std::size_t>(n.Children)) {
    const auto& child = nodes_[c];
    std::string name = child.Data > 0 && child.Data - 1 < t.Names.size() ? t.Names[child.Data - 1] : FullName(c);
    if (!model.Fixed(name)) Mark(t, rules, c, true, selected);
  }
}

int ComponentMenuImage(ComponentMenuItem item) {
  switch (item) {
    case ComponentMenuItem::InstallComponentOnly: return 4;
    case ComponentMenuItem::InstallComponentWithSubComponents: return 5;
    case ComponentMenuItem::EntireFeatureUnavailable: return 2;
    case ComponentMenuItem::DoNotInstallComponentOnly: return 2;
    case ComponentMenuItem::DoNotInstallComponentOrSubComponents: return 3;
  }
  return 0;
}

bool ComponentMenuAvailable(const ComponentTree& tree, const ComponentTables& t, const TextRules& rules,
                            std::size_t node) {
  if (node >= tree.Nodes().size()) return false;
  std::size_t data = tree.Nodes()[node].Data;
  if (data == 0 || data - 1 >= t.Names.size()) return false;
  ComponentModel model(t, rules);
  const std::string& name = t.Names[data - 1];
  return model.Exists(name) && !model.Fixed(name);
}

void ApplyComponentMenu(ComponentTree& tree, ComponentTables& t, const TextRules& rules, std::size_t node,
                        ComponentMenuItem item) {
  auto markAncestors = [&] {
    for (std::ptrdiff_t p = tree.Nodes()[node].Parent; p >= 0; p = tree.Nodes()[static_cast<std::size_t>(p)].Parent)
      tree.Mark(t, rules, static_cast<std::size_t>(p), false, true);
  };
  switch (item) {
    case ComponentMenuItem::InstallComponentOnly:
      tree.Mark(t, rules, node, false, true);
      markAncestors();
      break;
    case ComponentMenuItem::InstallComponentWithSubComponents:
      tree.Mark(t, rules, node, true, true);
      markAncestors();
      break;
    case ComponentMenuItem::EntireFeatureUnavailable:
    case ComponentMenuItem::DoNotInstallComponentOrSubComponents:
      tree.Mark(t, rules, node, true, false);
      break;
    case ComponentMenuItem::DoNotInstallComponentOnly:
      tree.Mark(t, rules, node, false, false);
      break;
  }
}

// --- The component list ----------------------------------------------------------------

std::vector<ComponentListItem> FillComponentList(const ComponentTables& t, const TextRules& rules) {
  std::vector<ComponentListItem> items;
  ComponentModel model(t, rules);
  for (std::size_t i = 0; i < t.Names.size(); ++i) {
    const std::string& name = t.Names[i];
    if (rules.SameText(name, kPredefinedComponent) || model.Deleted(name) || model.Hidden(name) ||
        name.find('\\') != std::string::npos)
      continue;
    items.push_back({name, i < t.States.size() && t.States[i] == "TRUE"});
  }
  return items;
}

void ApplyListChecks(ComponentTables& t, const TextRules& rules, std::vector<ComponentListItem>& items) {
  ComponentModel model(t, rules);
  if (t.States.size() < t.Names.size()) t.States.resize(t.Names.size());
  for (auto& item : items) {
    const std::string s = TrueFalse(item.Checked);
    const std::string prefix = rules.UpperCase(item.Text);
    for (std::size_t i = 0; i < t.Names.size(); ++i) {
      if (!StartsWith(rules.UpperCase(t.Names[i]), prefix)) continue;
      if (!model.Fixed(t.Names[i])) t.States[i] = s;
      item.Checked = t.States[i] == "TRUE";
    }
  }
}

namespace {

std::string Grouped(std::uint64_t magnitude) {
  std::string digits = std::to_string(magnitude);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(',');
    grouped.push_back(digits[i]);
  }
  return grouped;
}

// FormatSize's unit of a byte count: 0 bytes, 1 KB, 2 MB.
int UnitOf(std::int64_t v) { return v < 1048576 ? 0 : v < 1073741824 ? 1 : 2; }

// v in the unit given (see ComponentPageTexts). Nothing is "0 bytes" in any unit: pages'
// rules compare the space required with that text.
std::string FormatSizeIn(const EngineContext& ctx, std::int64_t v, int unit) {
  if (v == 0) unit = 0;
  const bool negative = v < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  const std::uint64_t size = unit == 0 ? 1 : unit == 1 ? 1024 : 1048576;
  std::string number;
  if (magnitude / size >= 10 || unit == 0) {
    number = Grouped(magnitude / size);
  } else {
    // Tenths, rounded half up; a size that is not zero never shows as 0.0.
    std::uint64_t tenths = (magnitude * 10 + size / 2) / size;
    if (tenths == 0 && magnitude != 0) tenths = 1;
    number = std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : std::string());
  }
  return (negative ? "-" : "") + number + " " + ctx.Message(6 + unit);
}

}  // namespace

std::string ComponentPageText(const EngineContext& ctx, int tag, std::string_view selected, std::int64_t freeSpace) {
  const int tags[] = {tag};
  return ComponentPageTexts(ctx, tags, selected, freeSpace).front();
}

std::vector<std::string> ComponentPageTexts(const EngineContext& ctx, std::span<const int> tags,
                                            std::string_view selected, std::int64_t freeSpace) {
  const ComponentTables& t = ctx.State.Components;
  ComponentModel model(t, ctx.Text());
  const bool freeKnown = freeSpace != -1;
  auto figure = [&](int tag) -> std::optional<std::int64_t> {
    switch (tag) {
      case 3: return model.Size(selected);
      case 4: return model.RequiredSpace();
      case 5: return freeSpace;
      case 6: return freeSpace - model.RequiredSpace();
      default: return std::nullopt;
    }
  };
  // The page's unit: the one its largest figure takes.
  std::uint64_t largest = 0;
  for (int tag : tags) {
    auto v = figure(tag);
    if (!v || ((tag == 5 || tag == 6) && !freeKnown)) continue;
    const std::uint64_t magnitude = *v < 0 ? 0 - static_cast<std::uint64_t>(*v) : static_cast<std::uint64_t>(*v);
    largest = std::max(largest, magnitude);
  }
  const int unit = UnitOf(static_cast<std::int64_t>(std::min<std::uint64_t>(largest, INT64_MAX)));
  std::vector<std::string> texts;
  for (int tag : tags) {
    if (tag == 2) {
      auto i = model.IndexOf(selected);
      if (!i || *i >= t.Descriptions.size()) {
        texts.emplace_back();
        continue;
      }
      std::string text = t.Descriptions[*i];
      for (std::size_t p = 0; (p = text.find("$NEWLINE$", p)) != std::string::npos; p += 2)
        text.replace(p, 9, "\r\n");
      texts.push_back(std::move(text));
      continue;
    }
    auto v = figure(tag);
    if (!v) texts.emplace_back();
    else if ((tag == 5 || tag == 6) && !freeKnown) texts.push_back(FormatSize(ctx, *v));
    else if (tag == 4 && *v < 0) texts.push_back(FormatSizeIn(ctx, *v == INT64_MIN ? INT64_MAX : -*v, unit) + " freed");
    else texts.push_back(FormatSizeIn(ctx, *v, unit));
  }
  return texts;
}

// --- Instance data ---------------------------------------------------------------------

void WriteComponentLists(const ComponentTables& t, StringList& lines) {
  auto list = [&](const StringList& l) {
    lines.insert(lines.end(), l.begin(), l.end());
    lines.emplace_back(kListEnd);
  };
  list(t.Names);
  StringList states = t.States;
  states.resize(t.Names.size());
  list(states);
  list(t.Deleted);
  list(t.Hidden);
  list(t.Fixed);
  list(t.Sizes);
}

bool ReadComponentLists(ComponentTables& t, const TextRules& rules, const StringList& lines, std::size_t& pos,
                        ComponentListsRead mode) {
  StringList lists[6];
  std::size_t p = pos;
  for (auto& l : lists) {
    while (p < lines.size() && lines[p] != kListEnd) l.push_back(lines[p++]);
    if (p >= lines.size()) return false;
    ++p;
  }
  pos = p;
  StringList& names = lists[0];
  StringList& states = lists[1];
  if (mode == ComponentListsRead::Merge) {
    for (std::size_t k = 0; k < names.size(); ++k) {
      const std::string state = k < states.size() ? states[k] : std::string();
      for (std::size_t i = 0; i < t.Names.size(); ++i) {
        if (!rules.SameText(t.Names[i], names[k])) continue;
        if (t.States.size() <= i) t.States.resize(i + 1);
        t.States[i] = state;
      }
    }
    t.Deleted = std::move(lists[2]);
    t.Hidden = std::move(lists[3]);
    t.Fixed = std::move(lists[4]);
    return true;
  }
  // States stay parallel to the names even when the file's lists differ in length.
  t.States.resize(t.Names.size());
  states.resize(names.size());
  t.Names.insert(t.Names.end(), names.begin(), names.end());
  t.States.insert(t.States.end(), states.begin(), states.end());
  t.Deleted.insert(t.Deleted.end(), lists[2].begin(), lists[2].end());
  t.Hidden.insert(t.Hidden.end(), lists[3].begin(), lists[3].end());
  t.Fixed.insert(t.Fixed.end(), lists[4].begin(), lists[4].end());
  if (mode == ComponentListsRead::Normal) {
    StringList& sizes = lists[5];
    if (sizes.size() % 2) sizes.pop_back();
    t.Sizes.insert(t.Sizes.end(), sizes.begin(), sizes.end());
  }
  return true;
}

}  // namespace kem
