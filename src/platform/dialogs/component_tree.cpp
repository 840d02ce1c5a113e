// The component tree: a tree view with Tag 1 shows the components with their images,
// opens the component menu on a node and switches nodes by a click on their image or
// Space.
#include <windows.h>
#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "common/text.h"
#include "platform/dialogs/host_internals.h"

namespace kem::platform {

using namespace pages;
using kem::ComponentMenuItem;
using Impl = DialogHost::Impl;

namespace {

// The component images, one per index, in a cell twice as wide as high: 0 a component
// left out, 1 one that is installed, 2 and 3 the menu's "unavailable" entries (3 with its
// sub-components), 4 and 5 its "installed" entries (5 with its sub-components). The left
// half of 0 and 1 is a check box, so the tree shows the choice at a glance.
void DrawComponentImage(HDC dc, int x, int y, int h, int index) {
  // Designed on a 32 by 16 grid and scaled to the cell's height.
  auto at = [&](int v) { return MulDiv(v, h, 16); };
  const int u = std::max(1, at(1));  // one design pixel, for the pens
  auto box = [&](int l, int t, int r, int b, COLORREF fill, COLORREF line) {
    GdiObject brush(CreateSolidBrush(fill));
    GdiObject pen(CreatePen(PS_SOLID, u, line));
    HGDIOBJ oldBrush = SelectObject(dc, brush.Get());
    HGDIOBJ oldPen = SelectObject(dc, pen.Get());
    Rectangle(dc, x + at(l), y + at(t), x + at(r), y + at(b));
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
  };
  auto lines = [&](std::initializer_list<POINT> points, COLORREF color, int width) {
    GdiObject pen(CreatePen(PS_SOLID, width * u, color));
    HGDIOBJ old = SelectObject(dc, pen.Get());
    std::vector<POINT> p;
    for (POINT q : points) p.push_back({x + at(q.x), y + at(q.y)});
    Polyline(dc, p.data(), static_cast<int>(p.size()));
    SelectObject(dc, old);
  };
  auto drive = [&](int left, bool stacked) {
    if (stacked) box(left + 4, 2, left + 16, 10, RGB(200, 200, 200), RGB(96, 96, 96));
    box(left + 1, 5, left + 13, 13, RGB(224, 224, 224), RGB(64, 64, 64));
    box(left + 9, 10, left + 11, 12, RGB(0, 176, 0), RGB(0, 128, 0));
  };
  auto cross = [&](int left) {
    lines({{left + 3, 4}, {left + 12, 13}}, RGB(208, 0, 0), 2);
    lines({{left + 12, 4}, {left + 3, 13}}, RGB(208, 0, 0), 2);
  };
  switch (index) {
    case 0:
    case 1:
      box(2, 3, 13, 14, RGB(255, 255, 255), RGB(64, 64, 64));
      if (index == 1) lines({{4, 8}, {7, 11}, {12, 5}}, RGB(0, 0, 0), 2);
      drive(16, false);
      if (index == 0) cross(16);
      break;
    case 2:
    case 3:
      drive(16, index == 3);
      cross(16);
      break;
    case 4:
    case 5: drive(16, index == 5); break;
    default: break;
  }
}

}  // namespace

HIMAGELIST DialogHost::Impl::ComponentImages(int h) {
  auto it = componentImages.find(h);
  if (it != componentImages.end()) return it->second;
  WindowLibraries& lib = Libraries();
  HIMAGELIST list = nullptr;
  if (lib.imageListCreate && lib.imageListAddMasked) {
    const int w = 2 * h;
    list = lib.imageListCreate(w, h, ILC_COLOR24 | ILC_MASK, 6, 0);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    GdiObject strip(CreateCompatibleBitmap(screen, w * 6, h));
    HGDIOBJ old = SelectObject(mem, strip.Get());
    RECT all{0, 0, w * 6, h};
    GdiObject magenta(CreateSolidBrush(RGB(255, 0, 255)));
    FillRect(mem, &all, static_cast<HBRUSH>(magenta.Get()));
    for (int i = 0; i < 6; ++i) DrawComponentImage(mem, i * w, 0, h, i);
    SelectObject(mem, old);
    if (list) lib.imageListAddMasked(list, static_cast<HBITMAP>(strip.Get()), RGB(255, 0, 255));
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
  }
  componentImages[h] = list;
  return list;
}

// The drive half of a component image on the menu's colour, for a menu item.
HBITMAP DialogHost::Impl::MenuImage(int index, int h) {
  GdiObject& slot = menuImages[{index, h}];
  if (slot.Get()) return static_cast<HBITMAP>(slot.Get());
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  slot = GdiObject(CreateCompatibleBitmap(screen, h, h));
  HGDIOBJ old = SelectObject(mem, slot.Get());
  RECT all{0, 0, h, h};
  FillRect(mem, &all, GetSysColorBrush(COLOR_MENU));
  DrawComponentImage(mem, -h, 0, h, index);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return static_cast<HBITMAP>(slot.Get());
}

// The node of a component tree's item (nullopt for none).
std::optional<std::size_t> DialogHost::Impl::NodeOf(Native& n, HTREEITEM item) {
  if (!item) return std::nullopt;
  TVITEMW it{};
  it.mask = TVIF_PARAM | TVIF_HANDLE;
  it.hItem = item;
  if (!SendMessageW(n.hwnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return std::nullopt;
  return static_cast<std::size_t>(it.lParam);
}

// The component menu for a node at a screen position; the user's choice is carried out.
void DialogHost::Impl::OpenComponentMenu(Page& p, Native& n, std::size_t node, POINT at) {
  Dialog& d = *p.dialog;
  if (!runtime.ComponentMenuOpens(d, n.name, node)) return;
  struct Entry {
    ComponentMenuItem item;
    int message;
  };
  // The two "do not install" entries stay hidden: "unavailable" covers them.
  const Entry entries[] = {{ComponentMenuItem::InstallComponentOnly, 113},
                           {ComponentMenuItem::InstallComponentWithSubComponents, 114},
                           {ComponentMenuItem::EntireFeatureUnavailable, 115}};
  struct Menu {
    HMENU h = CreatePopupMenu();
    ~Menu() {
      if (h) DestroyMenu(h);
    }
    HMENU Get() const { return h; }
  } menu;
  if (!menu.Get()) return;
  const int h = p.Scale(16);
  UINT id = 1;
  for (const Entry& e : entries) {
    if (e.item == ComponentMenuItem::EntireFeatureUnavailable) AppendMenuW(menu.Get(), MF_SEPARATOR, 0, nullptr);
    std::wstring caption = W(ctx.Message(e.message));
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_ID | MIIM_STRING | MIIM_BITMAP;
    info.wID = id++;
    info.dwTypeData = caption.data();
    info.hbmpItem = MenuImage(ComponentMenuImage(e.item), h);
    InsertMenuItemW(menu.Get(), GetMenuItemCount(menu.Get()), TRUE, &info);
  }
  SetForegroundWindow(p.Hwnd());
  const UINT chosen = TrackPopupMenu(menu.Get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN,
                                     at.x, at.y, 0, p.Hwnd(), nullptr);
  PostMessageW(p.Hwnd(), WM_NULL, 0, 0);
  if (chosen >= 1 && chosen <= std::size(entries)) runtime.ComponentMenu(d, n.name, node, entries[chosen - 1].item);
  InvalidateRect(n.hwnd, nullptr, TRUE);
  AfterEvent(p);
}

// The context menu of a component tree: at the mouse for a click (the node under it
// becomes the selected one), at the selected node's lower-right corner for the keys.
void DialogHost::Impl::ComponentContextMenu(Page& p, Native& n, LPARAM lp) {
  HTREEITEM item = nullptr;
  POINT at{};
  if (lp == -1) {
    item = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
    RECT r{};
    std::memcpy(&r, &item, sizeof(item));  // the item goes in where the rectangle comes back
    if (!item || !SendMessageW(n.hwnd, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&r))) return;
    at = {r.right, r.bottom};
    ClientToScreen(n.hwnd, &at);
  } else {
    at = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    TVHITTESTINFO hit{};
    hit.pt = at;
    ScreenToClient(n.hwnd, &hit.pt);
    item = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (!item || !(hit.flags & TVHT_ONITEM)) return;
    SendMessageW(n.hwnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
  }
  if (std::optional<std::size_t> node = NodeOf(n, item)) OpenComponentMenu(p, n, *node, at);
}

namespace pages {

void CreatedComponentTree(Impl& host, Page& p, Native& n) {
  if (n.Model().Tag() != 1) return;
  if (HIMAGELIST images = host.ComponentImages(p.Scale(16)))
    SendMessageW(n.hwnd, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(images));
}

void SyncComponentTree(Impl& host, Page& p, Native& n) {
  dialogs::TreeState* state = p.dialog->Tree(n.name);
  if (!state) return;
  const auto& nodes = state->tree.Nodes();
  if (n.treeFill != state->fill) {
    // A new filling: the items again, parents before children, all expanded.
    n.treeFill = state->fill;
    SendMessageW(n.hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    n.treeItems.assign(nodes.size(), nullptr);
    n.treeImages.assign(nodes.size(), -1);
    for (std::size_t i : state->tree.DisplayOrder()) {
      std::wstring text = host.W(nodes[i].Text);
      TVINSERTSTRUCTW ins{};
      ins.hParent = nodes[i].Parent < 0 ? TVI_ROOT : n.treeItems[static_cast<std::size_t>(nodes[i].Parent)];
      ins.hInsertAfter = TVI_LAST;
      ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
      ins.item.pszText = text.data();
      ins.item.lParam = static_cast<LPARAM>(i);
      ins.item.iImage = ins.item.iSelectedImage = nodes[i].Image;
      n.treeItems[i] = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
      n.treeImages[i] = nodes[i].Image;
    }
    for (HTREEITEM item : n.treeItems)
      if (item) SendMessageW(n.hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
    if (!n.treeItems.empty())
      SendMessageW(n.hwnd, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(n.treeItems[state->tree.DisplayOrder().front()]));
    // The node the binding selected (the first); the runtime has run its change already.
    if (state->selected && *state->selected < n.treeItems.size() && n.treeItems[*state->selected])
      SendMessageW(n.hwnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(n.treeItems[*state->selected]));
    return;
  }
  for (std::size_t i = 0; i < nodes.size() && i < n.treeItems.size(); ++i) {
    if (n.treeImages[i] == nodes[i].Image || !n.treeItems[i]) continue;
    n.treeImages[i] = nodes[i].Image;
    TVITEMW it{};
    it.mask = TVIF_HANDLE | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    it.hItem = n.treeItems[i];
    it.iImage = it.iSelectedImage = nodes[i].Image;
    SendMessageW(n.hwnd, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&it));
  }
}

// A plain tree view: the nodes of its form file, rebuilt when the binding filled them
// again.
void SyncNodeTree(Impl& host, Page& p, Native& n) {
  dialogs::NodeTreeState* state = p.dialog->NodeTree(n.name);
  if (!state || n.treeFill == state->fill) return;
  n.treeFill = state->fill;
  SendMessageW(n.hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  n.treeItems.assign(state->nodes.size(), nullptr);
  for (std::size_t i = 0; i < state->nodes.size(); ++i) {
    const forms::TreeNodeItem& node = state->nodes[i];
    std::wstring text = host.W(node.text);
    TVINSERTSTRUCTW ins{};
    ins.hParent = node.parent < 0 || static_cast<std::size_t>(node.parent) >= i
                      ? TVI_ROOT
                      : n.treeItems[static_cast<std::size_t>(node.parent)];
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    ins.item.pszText = text.data();
    ins.item.lParam = static_cast<LPARAM>(i);
    n.treeItems[i] = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
  }
}

bool NotifyNodeTree(Impl& host, Page& p, Native& n, NMHDR& h) {
  if (h.code != TVN_SELCHANGEDW || !p.dialog->NodeTree(n.name)) return false;
  host.runtime.TreeChange(*p.dialog, n.name, Impl::NodeOf(n, reinterpret_cast<NMTREEVIEWW&>(h).itemNew.hItem));
  return true;
}

void SyncTreeView(Impl& host, Page& p, Native& n) {
  if (p.dialog->Tree(n.name)) SyncComponentTree(host, p, n);
  else SyncNodeTree(host, p, n);
}

bool NotifyTreeView(Impl& host, Page& p, Native& n, NMHDR& h) {
  return p.dialog->Tree(n.name) ? NotifyComponentTree(host, p, n, h) : NotifyNodeTree(host, p, n, h);
}

bool NotifyComponentTree(Impl& host, Page& p, Native& n, NMHDR& h) {
  if (!p.dialog->Tree(n.name)) return false;
  Dialog& d = *p.dialog;
  switch (h.code) {
    case TVN_SELCHANGEDW:
      host.runtime.TreeChange(d, n.name, Impl::NodeOf(n, reinterpret_cast<NMTREEVIEWW&>(h).itemNew.hItem));
      return true;
    case NM_CLICK: {
      // A click on a node's image switches the node and its sub-tree.
      TVHITTESTINFO hit{};
      const DWORD pos = GetMessagePos();
      hit.pt = {GET_X_LPARAM(pos), GET_Y_LPARAM(pos)};
      ScreenToClient(n.hwnd, &hit.pt);
      HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
      if (!item || !(hit.flags & TVHT_ONITEMICON)) return false;
      if (std::optional<std::size_t> node = Impl::NodeOf(n, item)) host.runtime.ToggleComponent(d, n.name, *node);
      return true;
    }
    case TVN_KEYDOWN: {
      if (reinterpret_cast<NMTVKEYDOWN&>(h).wVKey != VK_SPACE) return false;
      HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
      if (std::optional<std::size_t> node = Impl::NodeOf(n, item)) host.runtime.ToggleComponent(d, n.name, *node);
      return true;
    }
    default: return false;
  }
}

}  // namespace pages

}  // namespace kem::platform
