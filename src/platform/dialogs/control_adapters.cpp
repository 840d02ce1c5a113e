// The page's controls by kind: the native window each kind gets, how the model reaches
// it, how an owner-drawn kind is painted and how the user's input goes back into the
// model and to the runtime. The steps of one kind sit together; AdapterOf is the table.
#include <windows.h>
#include <commctrl.h>
#include <richedit.h>
#include <windowsx.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "dialogs/forms/property_text.h"
#include "platform/dialogs/host_internals.h"
#include "platform/dialogs/html_view.h"

namespace kem::platform {

using namespace pages;
using Impl = DialogHost::Impl;

namespace {

std::string Alignment(const Control& c) { return c.Identifier("Alignment", "taLeftJustify"); }

DWORD TextAlign(const Control& c, DWORD left, DWORD center, DWORD right) {
  const std::string a = Alignment(c);
  return a == "taCenter" ? center : a == "taRightJustify" ? right : left;
}

std::string DocumentOf(Page& p, const Native& n) {
  auto it = p.dialog->documents.find(n.name);
  return it == p.dialog->documents.end() ? std::string() : it->second;
}

// The control's window text, when it changed since the last sync.
void SetText(Impl& host, Page& p, Native& n, const std::string& t) {
  if (n.text == t) return;
  n.text = t;
  SetWindowTextW(n.hwnd, host.W(t).c_str());
  if (n.kind == ControlKind::Label || n.kind == ControlKind::StaticText) {
    // Labels show their parent's background: repaint what lay under the old text.
    RECT r = n.rect;
    InvalidateRect(p.Hwnd(), &r, TRUE);
  }
  InvalidateRect(n.hwnd, nullptr, TRUE);
}

// --- Labels, static texts, panels, group boxes ---------------------------------------

void CreateLabel(Impl& host, Page& p, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = L"STATIC";
  s.style |= SS_NOTIFY | (c.Boolean("WordWrap") ? TextAlign(c, SS_LEFT, SS_CENTER, SS_RIGHT)
                                                : TextAlign(c, SS_LEFTNOWORDWRAP, SS_CENTER, SS_RIGHT));
  if (!c.Boolean("ShowAccelChar", true)) s.style |= SS_NOPREFIX;
  if (n.rect.right <= n.rect.left || n.rect.bottom <= n.rect.top || c.Boolean("AutoSize", true)) {
    // Sized to its text, as designed labels are.
    HDC dc = GetDC(p.Hwnd());
    HGDIOBJ old = SelectObject(dc, n.font);
    std::wstring t = host.W(c.Caption());
    RECT m{0, 0, c.Boolean("WordWrap") ? std::max<LONG>(n.rect.right - n.rect.left, 1) : 0, 0};
    DrawTextW(dc, t.c_str(), -1, &m, DT_CALCRECT | (c.Boolean("WordWrap") ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(dc, old);
    ReleaseDC(p.Hwnd(), dc);
    if (!c.Boolean("WordWrap") || n.rect.right <= n.rect.left) n.rect.right = n.rect.left + m.right + 2;
    n.rect.bottom = std::max<LONG>(n.rect.bottom, n.rect.top + m.bottom);
  }
}

void CreateStaticText(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = L"STATIC";
  s.style |= TextAlign(c, SS_LEFT, SS_CENTER, SS_RIGHT);
  const std::string b = c.Identifier("BorderStyle", "sbsNone");
  if (b == "sbsSingle") s.style |= WS_BORDER;
  if (b == "sbsSunken") s.style |= SS_SUNKEN;
}

void CreateGroupBox(Impl&, Page&, Native&, NativeSpec& s) {
  s.cls = L"BUTTON";
  s.style |= BS_GROUPBOX;
}

void SyncCaption(Impl& host, Page& p, Native& n) { SetText(host, p, n, n.Model().Caption()); }

bool CommandStaticClick(Impl& host, Page& p, Native& n, int code) {
  if (code != STN_CLICKED) return false;
  host.runtime.Click(*p.dialog, n.name, host);
  return true;
}

// --- Buttons, check boxes, radio buttons ---------------------------------------------

void CreateButton(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = L"BUTTON";
  s.style |= (c.Boolean("Default") ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
  if (n.kind != ControlKind::SpeedButton) s.style |= WS_TABSTOP;
  if (c.Boolean("WordWrap")) s.style |= BS_MULTILINE;
}

void CreatedGlyphButton(Impl& host, Page& p, Native& n) {
  host.LoadPicture(p, n);
  if (n.picture.Get()) SendMessageW(n.hwnd, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(n.picture.Get()));
}

bool CommandButton(Impl& host, Page& p, Native& n, int code) {
  if (code != BN_CLICKED) return false;
  host.runtime.Click(*p.dialog, n.name, host);
  return true;
}

void CreateCheck(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = L"BUTTON";
  s.style |= (n.kind == ControlKind::RzRadioButton ? BS_RADIOBUTTON : BS_AUTOCHECKBOX) | WS_TABSTOP |
             (c.Boolean("WordWrap") ? BS_MULTILINE : 0);
  if (Alignment(c) == "taLeftJustify") s.style |= BS_LEFTTEXT;
}

void SyncCheck(Impl& host, Page& p, Native& n) {
  Control c = n.Model();
  SetText(host, p, n, c.Caption());
  const bool checked = c.Boolean("Checked");
  if (n.checked != int(checked)) {
    n.checked = checked;
    SendMessageW(n.hwnd, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

bool CommandCheckBox(Impl& host, Page& p, Native& n, int code) {
  if (code != BN_CLICKED) return false;
  const bool checked = SendMessageW(n.hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
  n.checked = checked;
  n.Model().Set("Checked", forms::Value::Boolean(checked));
  host.runtime.Click(*p.dialog, n.name, host);
  return true;
}

bool CommandRadioButton(Impl& host, Page& p, Native& n, int code) {
  if (code != BN_CLICKED) return false;
  Dialog& d = *p.dialog;
  // Radio buttons are grouped by their parent.
  const FormObject* parent = Impl::ParentOf(d.model.Root(), n.object);
  for (auto& other : p.controls) {
    if (other->kind != ControlKind::RzRadioButton || Impl::ParentOf(d.model.Root(), other->object) != parent) continue;
    other->Model().Set("Checked", forms::Value::Boolean(other.get() == &n));
  }
  host.runtime.Click(d, n.name, host);
  return true;
}

// --- Edits, memos, rich edits --------------------------------------------------------

void CreateEdit(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = L"EDIT";
  s.style |= WS_TABSTOP | ES_AUTOHSCROLL;
  s.ex |= WS_EX_CLIENTEDGE;
  std::string pc = c.GetText("PasswordChar").value_or("#0");
  if (pc != "#0" && !pc.empty()) s.style |= ES_PASSWORD;
  const std::string cc = c.Identifier("CharCase", "ecNormal");
  if (cc == "ecUpperCase") s.style |= ES_UPPERCASE;
  if (cc == "ecLowerCase") s.style |= ES_LOWERCASE;
}

void CreateMemo(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = n.kind == ControlKind::RichEdit && Libraries().richEdit ? L"RichEdit20W" : L"EDIT";
  s.style |= WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
  s.ex |= WS_EX_CLIENTEDGE;
  const std::string sb = n.kind == ControlKind::Memo ? c.Identifier("ScrollBars", "ssNone") : "ssVertical";
  if (sb == "ssVertical" || sb == "ssBoth") s.style |= WS_VSCROLL;
  if (sb == "ssHorizontal" || sb == "ssBoth") s.style |= WS_HSCROLL;
  if (n.kind == ControlKind::Memo && !c.Boolean("WordWrap", true)) s.style |= ES_AUTOHSCROLL;
}

void CreatedRichEdit(Impl&, Page&, Native& n) { SendMessageW(n.hwnd, EM_SETBKGNDCOLOR, 0, n.back); }

void SyncEdit(Impl& host, Page& p, Native& n) {
  Control c = n.Model();
  const bool memo = n.kind == ControlKind::Memo || n.kind == ControlKind::RichEdit;
  const std::string rtf = n.kind == ControlKind::RichEdit ? DocumentOf(p, n) : std::string();
  if (!rtf.empty()) {
    if (n.document != rtf) {
      n.document = rtf;
      n.text.reset();
      Impl::StreamRichText(n.hwnd, rtf);
    }
  } else {
    n.document.clear();
    SetText(host, p, n, memo ? dialogs::JoinLines(c.Strings("Lines")) : c.String("Text"));
  }
  const bool ro = c.Boolean("ReadOnly");
  if (n.readOnly != int(ro)) {
    n.readOnly = ro;
    SendMessageW(n.hwnd, EM_SETREADONLY, ro, 0);
  }
  std::int64_t max = c.Integer("MaxLength", 0);
  if (n.maxLength != max) {
    n.maxLength = max;
    SendMessageW(n.hwnd, EM_LIMITTEXT, max <= 0 || max >= 0x7FFFFFFE ? 0 : static_cast<WPARAM>(max), 0);
  }
}

bool CommandEdit(Impl& host, Page& p, Native& n, int code) {
  if (code != EN_CHANGE) return false;
  std::string text = host.WindowText(n.hwnd);
  Control c = n.Model();
  if (n.kind == ControlKind::MaskEdit) {
    // What was typed goes into the mask; the caret to its first empty position. Setting
    // the text reports the change again, with the masked text.
    const dialogs::EditMask mask = dialogs::DialogRuntime::MaskOf(c);
    const std::string shown = dialogs::FormatMasked(mask, text);
    if (shown != text) {
      n.text = shown;
      SetWindowTextW(n.hwnd, host.W(shown).c_str());
      const auto caret = static_cast<WPARAM>(dialogs::MaskCaret(mask, shown));
      SendMessageW(n.hwnd, EM_SETSEL, caret, static_cast<LPARAM>(caret));
      return false;
    }
  }
  n.text = text;
  if (n.kind == ControlKind::Memo || n.kind == ControlKind::RichEdit)
    c.Set("Lines", forms::Value::StringList(dialogs::SplitLines(text)));
  else
    c.Set("Text", forms::Value::Str(text));
  host.runtime.Change(*p.dialog, n.name, host);
  return true;
}

// A key released in a masked edit: the runtime moves the focus on once the caret stands
// past the mask (no selection).
LRESULT CALLBACK MaskEditProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* n = reinterpret_cast<Native*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!n || !n->maskProc) return DefWindowProcW(hwnd, msg, wp, lp);
  const LRESULT r = CallWindowProcW(n->maskProc, hwnd, msg, wp, lp);
  if (msg == WM_KEYUP) {
    try {
      DWORD start = 0, end = 0;
      SendMessageW(hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
      if (start == end) n->page->host->runtime.KeyUp(*n->page->dialog, n->name, end, *n->page->host);
    } catch (const std::exception&) {
      // Moving the focus may fail; the key stays handled.
    }
  }
  return r;
}

void CreatedMaskEdit(Impl&, Page&, Native& n) {
  SetWindowLongPtrW(n.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&n));
  n.maskProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(n.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MaskEditProc)));
}

// --- The HTML view --------------------------------------------------------------------

void CreateHtmlView(Impl&, Page&, Native&, NativeSpec& s) {
  s.cls = kHtmlViewClass;
  s.style |= WS_TABSTOP | WS_VSCROLL;
  s.ex |= WS_EX_CLIENTEDGE;
}

void CreatedHtmlView(Impl& host, Page& p, Native& n) {
  HtmlView* view = HtmlView::From(n.hwnd);
  if (!view) return;
  HtmlView::Options o;
  o.codePage = host.CodePage();
  o.baseFolder = host.runtime.SupportFolder();
  o.back = n.back;
  o.fore = n.fore;
  Page* page = &p;
  Impl* self = &host;
  o.refresh = [self, page](HtmlView& v, const html::MetaRefresh& r) { self->ArmMetaRefresh(*page, v, r); };
  view->Configure(std::move(o));
}

void SyncHtmlView(Impl&, Page& p, Native& n) {
  // A new page from the binding replaces what the view shows; the pages the user
  // followed stay while the binding's page is the same.
  Dialog& d = *p.dialog;
  auto file = d.documentFiles.find(n.name);
  const std::string from = file == d.documentFiles.end() ? std::string() : file->second;
  const std::string document = DocumentOf(p, n);
  const std::string shown = from + '\0' + document;
  if (n.document == shown) return;
  n.document = shown;
  if (HtmlView* view = HtmlView::From(n.hwnd)) {
    if (from.empty()) view->ShowText(document);
    else view->ShowPage(document, from);
  }
}

// --- Lists ----------------------------------------------------------------------------

void CreateList(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = L"LISTBOX";
  s.style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
  s.ex |= WS_EX_CLIENTEDGE;
  if (n.kind == ControlKind::ListBox && c.Boolean("MultiSelect"))
    s.style |= c.Boolean("ExtendedSelect", true) ? LBS_EXTENDEDSEL : LBS_MULTIPLESEL;
}

void SyncListBox(Impl& host, Page& p, Native& n) {
  host.SetItems(n, n.Model().Strings("Items"));
  const std::vector<int>& sel = p.dialog->List(n.name).selected;
  if (n.selected == sel) return;
  n.selected = sel;
  if (GetWindowLongW(n.hwnd, GWL_STYLE) & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) {
    SendMessageW(n.hwnd, LB_SETSEL, FALSE, -1);
    for (int i : sel) SendMessageW(n.hwnd, LB_SETSEL, TRUE, i);
  } else {
    SendMessageW(n.hwnd, LB_SETCURSEL, sel.empty() ? -1 : sel.front(), 0);
  }
}

bool CommandListBox(Impl& host, Page& p, Native& n, int code) {
  if (code != LBN_SELCHANGE) return false;
  std::vector<int> sel;
  if (GetWindowLongW(n.hwnd, GWL_STYLE) & (LBS_EXTENDEDSEL | LBS_MULTIPLESEL)) {
    int count = static_cast<int>(SendMessageW(n.hwnd, LB_GETSELCOUNT, 0, 0));
    if (count > 0) {
      sel.resize(count);
      SendMessageW(n.hwnd, LB_GETSELITEMS, count, reinterpret_cast<LPARAM>(sel.data()));
    }
  } else {
    int i = static_cast<int>(SendMessageW(n.hwnd, LB_GETCURSEL, 0, 0));
    if (i >= 0) sel.push_back(i);
  }
  p.dialog->List(n.name).selected = sel;
  n.selected = sel;
  host.runtime.Click(*p.dialog, n.name, host);
  return true;
}

void CreateCheckList(Impl&, Page&, Native&, NativeSpec& s) {
  s.cls = WC_LISTVIEWW;
  s.style |= WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_SHOWSELALWAYS;
  s.ex |= WS_EX_CLIENTEDGE;
}

void CreatedCheckList(Impl&, Page&, Native& n) {
  SendMessageW(n.hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  LVCOLUMNW col{};
  col.mask = LVCF_WIDTH;
  col.cx = (n.rect.right - n.rect.left) - GetSystemMetrics(SM_CXVSCROLL) - 4;
  SendMessageW(n.hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
}

void SyncCheckList(Impl& host, Page& p, Native& n) {
  host.SetItems(n, n.Model().Strings("Items"));
  const std::vector<bool>& checks = p.dialog->List(n.name).checked;
  if (n.checks == checks) return;
  n.checks = checks;
  for (std::size_t i = 0; i < checks.size(); ++i) {
    LVITEMW it{};
    it.stateMask = LVIS_STATEIMAGEMASK;
    it.state = INDEXTOSTATEIMAGEMASK(checks[i] ? 2 : 1);
    SendMessageW(n.hwnd, LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&it));
  }
}

bool NotifyCheckList(Impl& host, Page& p, Native& n, NMHDR& h) {
  if (h.code != LVN_ITEMCHANGED) return false;
  auto& lv = reinterpret_cast<NMLISTVIEW&>(h);
  if (lv.iItem < 0) return false;
  dialogs::ListState& state = p.dialog->List(n.name);
  if ((lv.uChanged & LVIF_STATE) && ((lv.uNewState ^ lv.uOldState) & LVIS_STATEIMAGEMASK)) {
    const bool checked = ((lv.uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
    if (static_cast<std::size_t>(lv.iItem) >= state.checked.size()) state.checked.resize(lv.iItem + 1, false);
    if (state.checked[lv.iItem] == checked) return false;
    state.checked[lv.iItem] = checked;
    n.checks = state.checked;
    host.runtime.ClickCheck(*p.dialog, n.name);
    return true;
  }
  if ((lv.uNewState & LVIS_SELECTED) && !(lv.uOldState & LVIS_SELECTED)) {
    state.selected = {lv.iItem};
    host.runtime.Click(*p.dialog, n.name, host);
    return true;
  }
  return false;
}

// --- Combo boxes ----------------------------------------------------------------------

void CreateCombo(Impl&, Page& p, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = L"COMBOBOX";
  s.style |= WS_TABSTOP | WS_VSCROLL | CBS_AUTOHSCROLL;
  const std::string style = n.kind == ControlKind::ComboBox ? c.Identifier("Style", "csDropDown") : "csDropDownList";
  s.style |= style == "csSimple" ? CBS_SIMPLE : style == "csDropDown" ? CBS_DROPDOWN : CBS_DROPDOWNLIST;
  // A drop-down combo box's window includes its list.
  if (style != "csSimple")
    s.extraHeight = p.Scale(16) * static_cast<int>(std::max<std::int64_t>(c.Integer("DropDownCount", 8), 1));
}

void SyncCombo(Impl& host, Page& p, Native& n) {
  Control c = n.Model();
  host.SetItems(n, c.Strings("Items"));
  const std::int64_t index = c.Integer("ItemIndex", -1);
  if (c.Identifier("Style", "csDropDown") == "csDropDownList") {
    if (n.position != index) {
      n.position = index;
      SendMessageW(n.hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
  } else {
    SetText(host, p, n, c.String("Text"));
  }
}

bool CommandCombo(Impl& host, Page& p, Native& n, int code) {
  Control c = n.Model();
  Dialog& d = *p.dialog;
  if (code == CBN_SELCHANGE) {
    int i = static_cast<int>(SendMessageW(n.hwnd, CB_GETCURSEL, 0, 0));
    std::vector<std::string> items = c.Strings("Items");
    c.Set("ItemIndex", forms::Value::Integer(i));
    if (i >= 0 && i < static_cast<int>(items.size())) {
      c.Set("Text", forms::Value::Str(items[i]));
      n.text = items[i];
    }
    n.position = i;
    host.runtime.Click(d, n.name, host);
    host.runtime.Change(d, n.name, host);
    return true;
  }
  if (code == CBN_EDITCHANGE) {
    std::string text = host.WindowText(n.hwnd);
    n.text = text;
    c.Set("Text", forms::Value::Str(text));
    host.runtime.Change(d, n.name, host);
    return true;
  }
  return false;
}

void SyncDriveCombo(Impl& host, Page& p, Native& n) {
  Control c = n.Model();
  const std::string document = DocumentOf(p, n);
  std::vector<std::string> items;
  if (n.kind == ControlKind::FilterComboBox) {
    items.push_back(c.GetText("Filter").value_or("All files (*.*)"));
  } else {
    wchar_t drives[512] = {};
    DWORD len = GetLogicalDriveStringsW(511, drives);
    for (const wchar_t* s = drives; len && *s; s += wcslen(s) + 1) items.push_back(host.A(s));
    if (n.kind == ControlKind::PTShellCombo && !document.empty() &&
        std::find(items.begin(), items.end(), document) == items.end())
      items.push_back(document);
  }
  host.SetItems(n, items);
  int at = 0;
  for (std::size_t i = 0; i < items.size(); ++i)
    if (SameText(items[i], document)) at = static_cast<int>(i);
  if (n.position != at) {
    n.position = at;
    SendMessageW(n.hwnd, CB_SETCURSEL, at, 0);
  }
}

// --- File, folder and shell lists -------------------------------------------------------

void SyncFolderList(Impl& host, Page& p, Native& n) {
  const std::string folder = DocumentOf(p, n);
  if (n.document == folder && n.items) return;
  n.document = folder;
  std::vector<std::string> entries;
  if (n.kind == ControlKind::DirectoryListBox) {
    entries.push_back(folder.empty() ? "(no folder)" : folder);
    for (const std::string& e : host.FolderEntries(folder, true, false)) entries.push_back("  " + e);
  } else {
    entries = host.FolderEntries(folder, n.kind == ControlKind::PTShellList, true);
  }
  host.SetItems(n, entries);
}

// The entry of a folder list at an index ("[name]" for a folder), empty when none.
std::string EntryAt(const Native& n, int index) {
  if (!n.items || index < 0 || static_cast<std::size_t>(index) >= n.items->size()) return {};
  return (*n.items)[static_cast<std::size_t>(index)];
}

std::string FolderEntryName(std::string entry) {
  while (!entry.empty() && entry.front() == ' ') entry.erase(entry.begin());
  if (entry.size() >= 2 && entry.front() == '[' && entry.back() == ']') return entry.substr(1, entry.size() - 2);
  return {};
}

// The parent of a folder with its trailing backslash; the folder itself at a drive's root.
std::string ParentFolder(const std::string& folder) {
  std::string s = folder;
  if (!s.empty() && s.back() == '\\') s.pop_back();
  std::string parent = dialogs::FolderPartOf(s);
  return parent.empty() ? folder : parent;
}

void ReportPick(Impl& host, Page& p, Native& n, std::string pick) {
  p.dialog->picks[n.name] = std::move(pick);
  host.runtime.Change(*p.dialog, n.name, host);
}

// A click on a file picks it.
bool CommandFileList(Impl& host, Page& p, Native& n, int code) {
  if (code != LBN_SELCHANGE) return false;
  const std::string entry = EntryAt(n, static_cast<int>(SendMessageW(n.hwnd, LB_GETCURSEL, 0, 0)));
  if (entry.empty() || n.document.empty()) return false;
  ReportPick(host, p, n, dialogs::WithBackslash(n.document) + entry);
  return true;
}

// A double click opens a sub-folder, or the parent on the first line (the folder itself).
bool CommandDirectoryList(Impl& host, Page& p, Native& n, int code) {
  if (code != LBN_DBLCLK || n.document.empty()) return false;
  const int index = static_cast<int>(SendMessageW(n.hwnd, LB_GETCURSEL, 0, 0));
  std::string folder;
  if (index == 0) {
    folder = ParentFolder(n.document);
  } else {
    const std::string name = FolderEntryName(EntryAt(n, index));
    if (name.empty()) return false;
    folder = dialogs::WithBackslash(n.document) + name;
  }
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  ReportPick(host, p, n, folder);
  return true;
}

// A click on a file picks it; a double click on a folder enters it.
bool CommandShellList(Impl& host, Page& p, Native& n, int code) {
  if ((code != LBN_SELCHANGE && code != LBN_DBLCLK) || n.document.empty()) return false;
  const std::string entry = EntryAt(n, static_cast<int>(SendMessageW(n.hwnd, LB_GETCURSEL, 0, 0)));
  const std::string folderName = FolderEntryName(entry);
  if (entry.empty()) return false;
  if (folderName.empty()) {
    if (code != LBN_SELCHANGE) return false;
    ReportPick(host, p, n, dialogs::WithBackslash(n.document) + entry);
    return true;
  }
  if (code != LBN_DBLCLK) return false;
  p.dialog->picks[n.name] = dialogs::WithBackslash(n.document) + folderName;
  host.runtime.FolderChanged(*p.dialog, n.name, host);
  return true;
}

// The drive or folder chosen in the list.
bool CommandDriveCombo(Impl& host, Page& p, Native& n, int code) {
  if (code != CBN_SELCHANGE || n.kind == ControlKind::FilterComboBox) return false;
  const int index = static_cast<int>(SendMessageW(n.hwnd, CB_GETCURSEL, 0, 0));
  if (!n.items || index < 0 || static_cast<std::size_t>(index) >= n.items->size()) return false;
  n.position = index;
  ReportPick(host, p, n, (*n.items)[static_cast<std::size_t>(index)]);
  return true;
}

// The folder of the selected node: the root is the folder shown, its children are named.
bool NotifyShellTree(Impl& host, Page& p, Native& n, NMHDR& h) {
  if (h.code != TVN_SELCHANGEDW || n.document.empty()) return false;
  HTREEITEM item = reinterpret_cast<NMTREEVIEWW&>(h).itemNew.hItem;
  if (!item) return false;
  wchar_t text[MAX_PATH + 1] = {};
  TVITEMW it{};
  it.mask = TVIF_HANDLE | TVIF_TEXT;
  it.hItem = item;
  it.pszText = text;
  it.cchTextMax = MAX_PATH;
  if (!SendMessageW(n.hwnd, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&it))) return false;
  const bool root = SendMessageW(n.hwnd, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)) == 0;
  std::string folder = root ? n.document : dialogs::WithBackslash(n.document) + host.A(text);
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  ReportPick(host, p, n, folder);
  return true;
}

void CreateTreeView(Impl&, Page&, Native&, NativeSpec& s) {
  s.cls = WC_TREEVIEWW;
  s.style |= WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS;
  s.ex |= WS_EX_CLIENTEDGE;
}

void SyncShellTree(Impl& host, Page& p, Native& n) {
  const std::string folder = DocumentOf(p, n);
  if (n.document == folder) return;
  n.document = folder;
  SendMessageW(n.hwnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  std::wstring root = host.W(folder.empty() ? std::string("Desktop") : folder);
  TVINSERTSTRUCTW ins{};
  ins.hParent = TVI_ROOT;
  ins.hInsertAfter = TVI_LAST;
  ins.item.mask = TVIF_TEXT;
  ins.item.pszText = root.data();
  auto parent = reinterpret_cast<HTREEITEM>(SendMessageW(n.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
  for (const std::string& e : host.FolderEntries(folder, true, false)) {
    std::wstring w = host.W(e.substr(1, e.size() - 2));
    ins.hParent = parent;
    ins.item.pszText = w.data();
    SendMessageW(n.hwnd, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins));
  }
  SendMessageW(n.hwnd, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent));
  SendMessageW(n.hwnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(parent));
}

// --- Bars: progress bars, gauges, track bars, up-downs ----------------------------------

void CreateProgress(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = PROGRESS_CLASSW;
  if (n.kind == ControlKind::ProgressBar) {
    if (c.Boolean("Smooth")) s.style |= PBS_SMOOTH;
    if (c.Identifier("Orientation") == "pbVertical") s.style |= PBS_VERTICAL;
    if (c.Identifier("Style") == "pbstMarquee") s.style |= PBS_MARQUEE;
  } else if (c.Identifier("Kind", "gkHorizontalBar") == "gkVerticalBar") {
    s.style |= PBS_VERTICAL;
  }
}

void CreatedProgress(Impl&, Page&, Native& n) {
  if (GetWindowLongW(n.hwnd, GWL_STYLE) & PBS_MARQUEE) SendMessageW(n.hwnd, PBM_SETMARQUEE, TRUE, 30);
}

void CreateTrackBar(Impl&, Page&, Native& n, NativeSpec& s) {
  s.cls = TRACKBAR_CLASSW;
  s.style |= WS_TABSTOP | TBS_AUTOTICKS | (n.Model().Identifier("Orientation") == "trVertical" ? TBS_VERT : TBS_HORZ);
}

void CreateUpDown(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = UPDOWN_CLASSW;
  s.style |= UDS_SETBUDDYINT | UDS_ARROWKEYS | (c.Identifier("AlignButton", "udRight") == "udLeft" ? UDS_ALIGNLEFT : UDS_ALIGNRIGHT);
  if (c.Identifier("Orientation", "udVertical") == "udHorizontal") s.style |= UDS_HORZ;
}

void SyncRange(Impl&, Page&, Native& n) {
  Control c = n.Model();
  const bool gauge = n.kind == ControlKind::Gauge;
  const std::int64_t min = c.Integer(gauge ? "MinValue" : "Min", 0);
  const std::int64_t max = c.Integer(gauge ? "MaxValue" : "Max", n.kind == ControlKind::TrackBar ? 10 : 100);
  const std::int64_t pos = c.Integer(gauge ? "Progress" : "Position", 0);
  if (n.kind == ControlKind::ProgressBar) {
    // A marquee runs while the model asks for one (one step per 100 ms); the bar comes
    // back with its range and position afterwards.
    const bool marquee = c.Identifier("Style") == "pbstMarquee";
    if (n.marquee != int(marquee)) {
      n.marquee = marquee;
      const LONG style = GetWindowLongW(n.hwnd, GWL_STYLE);
      if (marquee) {
        SetWindowLongW(n.hwnd, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(n.hwnd, PBM_SETMARQUEE, TRUE, 100);
      } else {
        SendMessageW(n.hwnd, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongW(n.hwnd, GWL_STYLE, style & ~PBS_MARQUEE);
        n.position = LLONG_MIN;
      }
      InvalidateRect(n.hwnd, nullptr, TRUE);
    }
    if (marquee) return;
  }
  if (n.position == pos && n.rangeMin == min && n.rangeMax == max) return;
  n.position = pos;
  n.rangeMin = min;
  n.rangeMax = max;
  if (n.kind == ControlKind::TrackBar) {
    SendMessageW(n.hwnd, TBM_SETRANGEMIN, FALSE, static_cast<LPARAM>(min));
    SendMessageW(n.hwnd, TBM_SETRANGEMAX, TRUE, static_cast<LPARAM>(max));
    SendMessageW(n.hwnd, TBM_SETPOS, TRUE, static_cast<LPARAM>(pos));
  } else if (n.kind == ControlKind::UpDown) {
    SendMessageW(n.hwnd, UDM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
    SendMessageW(n.hwnd, UDM_SETPOS32, 0, static_cast<LPARAM>(pos));
  } else {
    SendMessageW(n.hwnd, PBM_SETRANGE32, static_cast<WPARAM>(min), static_cast<LPARAM>(max));
    SendMessageW(n.hwnd, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
  }
}

// --- Page controls and their sheets ----------------------------------------------------

void CreatePageControl(Impl&, Page&, Native&, NativeSpec& s) {
  s.cls = WC_TABCONTROLW;
  s.style |= WS_TABSTOP | WS_CLIPSIBLINGS;
}

// A sheet is drawn by its page control; the glass frame has no window.
void CreateNoWindow(Impl&, Page&, Native&, NativeSpec& s) { s.cls.clear(); }

bool NotifyPageControl(Impl& host, Page& p, Native& n, NMHDR& h) {
  if (h.code != TCN_SELCHANGE) return false;
  const int tab = static_cast<int>(SendMessageW(n.hwnd, TCM_GETCURSEL, 0, 0));
  const int pc = n.id - kFirstControlId;
  int seen = 0;
  for (std::size_t i = 0; i < p.controls.size(); ++i) {
    if (p.controls[i]->kind == ControlKind::TabSheet && p.controls[i]->pageControl == pc && seen++ == tab)
      p.activeSheets[pc] = static_cast<int>(i);
  }
  for (auto& c : p.controls) c->visible = -1;
  host.Sync(p);
  return false;  // the sync is done
}

// --- Animations ---------------------------------------------------------------------------

// The system's animation control plays the AVI file of FileName (relative to the support
// folder) or one of the shell's own clips (CommonAVI).
void CreateAnimate(Impl&, Page&, Native& n, NativeSpec& s) {
  Control c = n.Model();
  s.cls = ANIMATE_CLASSW;
  if (c.Boolean("Center", true)) s.style |= ACS_CENTER;
  if (c.Boolean("Transparent", true)) s.style |= ACS_TRANSPARENT;
}

void CreatedAnimate(Impl& host, Page&, Native& n) {
  Control c = n.Model();
  const std::string common = c.Identifier("CommonAVI", "aviNone");
  static constexpr std::pair<std::string_view, int> kShellClips[] = {
      {"aviFindFolder", 150},  {"aviFindFile", 151},    {"aviFindComputer", 152}, {"aviCopyFiles", 160},
      {"aviCopyFile", 161},    {"aviRecycleFile", 162}, {"aviEmptyRecycle", 163}, {"aviDeleteFile", 164}};
  for (const auto& [name, id] : kShellClips) {
    if (common != name || !Libraries().shell) continue;
    SendMessageW(n.hwnd, ACM_OPENW, reinterpret_cast<WPARAM>(GetModuleHandleW(L"shell32.dll")),
                 reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(id)));
    return;
  }
  std::string file = c.String("FileName");
  if (file.empty()) return;
  if (!(file.size() > 1 && (file[1] == ':' || (file[0] == '\\' && file[1] == '\\'))))
    file = dialogs::WithBackslash(host.runtime.SupportFolder()) + file;
  SendMessageW(n.hwnd, ACM_OPENW, 0, reinterpret_cast<LPARAM>(host.W(file).c_str()));
}

// Plays while Active (Repetitions 0: for ever), stops otherwise.
void SyncAnimate(Impl&, Page&, Native& n) {
  Control c = n.Model();
  const bool active = c.Boolean("Active");
  if (n.checked == int(active)) return;
  n.checked = active;
  if (active) {
    const std::int64_t repetitions = c.Integer("Repetitions", 0);
    SendMessageW(n.hwnd, ACM_PLAY, repetitions <= 0 ? static_cast<WPARAM>(-1) : static_cast<WPARAM>(repetitions),
                 MAKELPARAM(0, 0xFFFF));
  } else {
    SendMessageW(n.hwnd, ACM_STOP, 0, 0);
  }
}

// --- Kinds the page paints itself --------------------------------------------------------

void CreateOwnerDrawn(Impl&, Page&, Native&, NativeSpec& s) {
  s.cls = L"STATIC";
  s.style |= SS_OWNERDRAW | SS_NOTIFY;
}

void CreatePicture(Impl& host, Page& p, Native& n, NativeSpec& s) {
  CreateOwnerDrawn(host, p, n, s);
  host.LoadPicture(p, n);
}

void PaintText(Impl& host, HDC dc, const std::string& s, UINT flags, RECT box) {
  std::wstring w = host.W(s);
  ::DrawTextW(dc, w.c_str(), -1, &box, flags);
}

void DrawPanel(Impl& host, Page&, Native& n, HDC dc, RECT r) {
  Control c = n.Model();
  auto edge = [&](const std::string& cut, RECT& box) {
    if (cut == "bvRaised") DrawEdge(dc, &box, BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
    else if (cut == "bvLowered") DrawEdge(dc, &box, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  };
  RECT box = r;
  if (c.Identifier("BorderStyle", "bsNone") == "bsSingle") {
    FrameRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&box, -1, -1);
  }
  edge(c.Identifier("BevelOuter", "bvRaised"), box);
  edge(c.Identifier("BevelInner", "bvNone"), box);
  const std::string align = c.Identifier("Alignment", "taCenter");
  PaintText(host, dc, c.Caption(),
           DT_SINGLELINE | DT_VCENTER | (align == "taCenter" ? DT_CENTER : align == "taRightJustify" ? DT_RIGHT : DT_LEFT),
           box);
}

void DrawBevel(Impl&, Page&, Native& n, HDC dc, RECT r) {
  Control c = n.Model();
  const std::string shape = c.Identifier("Shape", "bsBox");
  const UINT edge = c.Identifier("Style", "bsLowered") == "bsLowered" ? EDGE_ETCHED : EDGE_BUMP;
  UINT flags = shape == "bsTopLine" ? BF_TOP : shape == "bsBottomLine" ? BF_BOTTOM : shape == "bsLeftLine" ? BF_LEFT
               : shape == "bsRightLine" ? BF_RIGHT : shape == "bsSpacer" ? 0 : BF_RECT;
  if (shape == "bsBottomLine") r.top = r.bottom - 2;
  if (shape == "bsRightLine") r.left = r.right - 2;
  if (flags) DrawEdge(dc, &r, edge, flags);
}

void DrawShape(Impl&, Page& p, Native& n, HDC dc, RECT r) {
  Control c = n.Model();
  GdiObject pen(CreatePen(PS_SOLID, std::max(1, p.Scale(c.Integer("Pen.Width", 1))),
                          ColorOf(c.GetText("Pen.Color").value_or("clBlack"), 0)));
  GdiObject brush(CreateSolidBrush(ColorOf(c.GetText("Brush.Color").value_or("clWhite"), 0xFFFFFF)));
  HGDIOBJ op = SelectObject(dc, pen.Get());
  HGDIOBJ ob = SelectObject(dc, c.Identifier("Brush.Style") == "bsClear" ? GetStockObject(NULL_BRUSH) : brush.Get());
  const std::string s = c.Identifier("Shape", "stRectangle");
  RECT box = r;
  if (s == "stSquare" || s == "stRoundSquare" || s == "stCircle") {
    int side = std::min(box.right - box.left, box.bottom - box.top);
    box.left += (box.right - box.left - side) / 2;
    box.top += (box.bottom - box.top - side) / 2;
    box.right = box.left + side;
    box.bottom = box.top + side;
  }
  if (s == "stEllipse" || s == "stCircle") Ellipse(dc, box.left, box.top, box.right, box.bottom);
  else if (s == "stRoundRect" || s == "stRoundSquare")
    RoundRect(dc, box.left, box.top, box.right, box.bottom, (box.right - box.left) / 4, (box.bottom - box.top) / 4);
  else Rectangle(dc, box.left, box.top, box.right, box.bottom);
  SelectObject(dc, op);
  SelectObject(dc, ob);
}

void DrawPicture(Impl& host, Page& p, Native& n, HDC dc, RECT r) {
  Control c = n.Model();
  if (n.metafile.Get()) {
    // At its own size (scaled to the screen), or the control's when the file gives none
    // or the image stretches.
    const int w = r.right - r.left, h = r.bottom - r.top;
    int dw = n.pictureWidth > 0 ? p.Scale(n.pictureWidth) : w, dh = n.pictureHeight > 0 ? p.Scale(n.pictureHeight) : h;
    if (c.Boolean("Stretch")) {
      dw = w;
      dh = h;
      if (c.Boolean("Proportional") && n.pictureWidth > 0 && n.pictureHeight > 0) {
        const double k = std::min(double(w) / n.pictureWidth, double(h) / n.pictureHeight);
        dw = int(n.pictureWidth * k);
        dh = int(n.pictureHeight * k);
      }
    }
    const int x = c.Boolean("Center") ? (w - dw) / 2 : 0, y = c.Boolean("Center") ? (h - dh) / 2 : 0;
    RECT box{r.left + x, r.top + y, r.left + x + dw, r.top + y + dh};
    PlayEnhMetaFile(dc, n.metafile.Get(), &box);
    return;
  }
  if (n.picture.Get()) {
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, n.picture.Get());
    int w = r.right - r.left, h = r.bottom - r.top, pw = n.pictureWidth, ph = n.pictureHeight;
    int dw = pw, dh = ph;
    if (c.Boolean("Stretch")) {
      dw = w;
      dh = h;
      if (c.Boolean("Proportional")) {
        double k = std::min(double(w) / pw, double(h) / ph);
        dw = int(pw * k);
        dh = int(ph * k);
      }
    } else if (p.dpi != p.designDpi) {
      dw = p.Scale(pw);
      dh = p.Scale(ph);
    }
    int x = c.Boolean("Center") ? (w - dw) / 2 : 0, y = c.Boolean("Center") ? (h - dh) / 2 : 0;
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, r.left + x, r.top + y, dw, dh, mem, 0, 0, pw, ph, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
  } else if (!n.pictureError.empty()) {
    DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT);
    PaintText(host, dc, n.pictureError, DT_WORDBREAK | DT_CENTER, r);
  }
}

// A kind the page has no native control for: its frame and its text.
void DrawFrameAndText(Impl& host, Page& p, Native& n, HDC dc, RECT r) {
  DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
  std::string shown = DocumentOf(p, n);
  if (shown.empty()) shown = n.Model().Caption();
  if (shown.empty()) shown = n.name + ": " + n.className;
  InflateRect(&r, -4, -4);
  PaintText(host, dc, shown, DT_WORDBREAK | DT_NOPREFIX, r);
}

// Drawn by the page: repainted when what it shows changed.
void SyncOwnerDrawn(Impl&, Page& p, Native& n) {
  std::string shown = DocumentOf(p, n) + "\n" + n.Model().Caption();
  if (n.document == shown) return;
  n.document = shown;
  InvalidateRect(n.hwnd, nullptr, TRUE);
}

constexpr std::size_t kKinds = static_cast<std::size_t>(ControlKind::VistaGlass) + 1;

std::array<ControlAdapter, kKinds> MakeAdapters() {
  std::array<ControlAdapter, kKinds> t{};
  // Every kind starts as one the page paints: a frame and its text.
  for (ControlAdapter& a : t) a = {CreateOwnerDrawn, nullptr, SyncOwnerDrawn, DrawFrameAndText, nullptr, nullptr};
  auto set = [&](ControlKind k) -> ControlAdapter& { return t[static_cast<std::size_t>(k)]; };
  using K = ControlKind;
  set(K::Label) = {CreateLabel, nullptr, SyncCaption, nullptr, CommandStaticClick, nullptr};
  set(K::StaticText) = {CreateStaticText, nullptr, SyncCaption, nullptr, nullptr, nullptr};
  set(K::GroupBox) = {CreateGroupBox, nullptr, SyncCaption, nullptr, nullptr, nullptr};
  set(K::Panel) = {CreateOwnerDrawn, nullptr, SyncCaption, DrawPanel, nullptr, nullptr};
  set(K::Bevel) = {CreateOwnerDrawn, nullptr, SyncOwnerDrawn, DrawBevel, nullptr, nullptr};
  set(K::Shape) = {CreateOwnerDrawn, nullptr, SyncOwnerDrawn, DrawShape, CommandStaticClick, nullptr};
  set(K::Image) = {CreatePicture, nullptr, SyncOwnerDrawn, DrawPicture, CommandStaticClick, nullptr};
  set(K::RzFormShape) = {CreatePicture, nullptr, SyncOwnerDrawn, DrawPicture, nullptr, nullptr};
  for (K k : {K::Button, K::RzBmpButton}) set(k) = {CreateButton, nullptr, SyncCaption, nullptr, CommandButton, nullptr};
  for (K k : {K::BitBtn, K::SpeedButton})
    set(k) = {CreateButton, CreatedGlyphButton, SyncCaption, nullptr, CommandButton, nullptr};
  set(K::RzCheckBox) = {CreateCheck, nullptr, SyncCheck, nullptr, CommandCheckBox, nullptr};
  set(K::RzRadioButton) = {CreateCheck, nullptr, SyncCheck, nullptr, CommandRadioButton, nullptr};
  for (K k : {K::Edit, K::MaskEdit, K::Memo}) set(k) = {nullptr, nullptr, SyncEdit, nullptr, CommandEdit, nullptr};
  set(K::Edit).create = set(K::MaskEdit).create = CreateEdit;
  set(K::MaskEdit).created = CreatedMaskEdit;
  set(K::Memo).create = CreateMemo;
  set(K::RichEdit) = {CreateMemo, CreatedRichEdit, SyncEdit, nullptr, CommandEdit, nullptr};
  set(K::HTMLViewer) = {CreateHtmlView, CreatedHtmlView, SyncHtmlView, nullptr, nullptr, nullptr};
  set(K::ListBox) = {CreateList, nullptr, SyncListBox, nullptr, CommandListBox, nullptr};
  set(K::FileListBox) = {CreateList, nullptr, SyncFolderList, nullptr, CommandFileList, nullptr};
  set(K::DirectoryListBox) = {CreateList, nullptr, SyncFolderList, nullptr, CommandDirectoryList, nullptr};
  set(K::PTShellList) = {CreateList, nullptr, SyncFolderList, nullptr, CommandShellList, nullptr};
  set(K::CheckListBox) = {CreateCheckList, CreatedCheckList, SyncCheckList, nullptr, nullptr, NotifyCheckList};
  set(K::ComboBox) = {CreateCombo, nullptr, SyncCombo, nullptr, CommandCombo, nullptr};
  for (K k : {K::DriveComboBox, K::FilterComboBox, K::PTShellCombo})
    set(k) = {CreateCombo, nullptr, SyncDriveCombo, nullptr, CommandDriveCombo, nullptr};
  set(K::ProgressBar) = set(K::Gauge) = {CreateProgress, CreatedProgress, SyncRange, nullptr, nullptr, nullptr};
  set(K::TrackBar) = {CreateTrackBar, nullptr, SyncRange, nullptr, nullptr, nullptr};
  set(K::UpDown) = {CreateUpDown, nullptr, SyncRange, nullptr, nullptr, nullptr};
  set(K::PageControl) = {CreatePageControl, nullptr, nullptr, nullptr, nullptr, NotifyPageControl};
  set(K::TabSheet) = set(K::VistaGlass) = {CreateNoWindow, nullptr, nullptr, nullptr, nullptr, nullptr};
  set(K::TreeView) = {CreateTreeView, CreatedComponentTree, SyncTreeView, nullptr, nullptr, NotifyTreeView};
  set(K::Animate) = {CreateAnimate, CreatedAnimate, SyncAnimate, nullptr, nullptr, nullptr};
  set(K::PTShellTree) = {CreateTreeView, nullptr, SyncShellTree, nullptr, nullptr, NotifyShellTree};
  return t;
}

}  // namespace

namespace pages {

const ControlAdapter& AdapterOf(ControlKind kind) {
  static const std::array<ControlAdapter, kKinds> adapters = MakeAdapters();
  const auto i = static_cast<std::size_t>(kind);
  return adapters[i < kKinds ? i : 0];
}

}  // namespace pages

// --- The drivers: every control through its kind's adapter ---------------------------

void DialogHost::Impl::Draw(Page& p, Native& n, const DRAWITEMSTRUCT& di) {
  HDC dc = di.hDC;
  RECT r = di.rcItem;
  Control c = n.Model();
  FillRect(dc, &r, n.brush);
  HGDIOBJ oldFont = SelectObject(dc, n.font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, c.Boolean("Enabled", true) ? n.fore : GetSysColor(COLOR_GRAYTEXT));
  if (auto draw = AdapterOf(n.kind).draw) draw(*this, p, n, dc, r);
  SelectObject(dc, oldFont);
}

bool DialogHost::Impl::OnActiveSheet(Page& p, const Native& n) {
  for (int s = n.sheet; s >= 0; s = p.controls[s]->sheet) {
    const Native& sheet = *p.controls[s];
    auto it = p.activeSheets.find(sheet.pageControl);
    if (it != p.activeSheets.end() && it->second != s) return false;
  }
  return true;
}

void DialogHost::Impl::SetItems(Native& n, const std::vector<std::string>& items) {
  if (n.items && *n.items == items) return;
  n.items = items;
  HWND h = n.hwnd;
  if (n.kind == ControlKind::CheckListBox) {
    SendMessageW(h, LVM_DELETEALLITEMS, 0, 0);
    for (std::size_t i = 0; i < items.size(); ++i) {
      std::wstring w = W(items[i]);
      LVITEMW it{};
      it.mask = LVIF_TEXT;
      it.iItem = static_cast<int>(i);
      it.pszText = w.data();
      SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&it));
    }
    n.checks.clear();
    return;
  }
  const bool combo = n.kind == ControlKind::ComboBox || n.kind == ControlKind::DriveComboBox ||
                     n.kind == ControlKind::FilterComboBox || n.kind == ControlKind::PTShellCombo;
  SendMessageW(h, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
  for (const std::string& item : items)
    SendMessageW(h, combo ? CB_ADDSTRING : LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(item).c_str()));
  n.selected.clear();
}

// Entries of a folder for the file, folder and shell lists.
std::vector<std::string> DialogHost::Impl::FolderEntries(const std::string& folder, bool wantFolders, bool wantFiles) {
  std::vector<std::string> entries;
  if (folder.empty()) return entries;
  WIN32_FIND_DATAW fd;
  FindHandle find(FindFirstFileW(W(dialogs::WithBackslash(folder) + "*").c_str(), &fd));
  if (!find.Valid()) return entries;
  do {
    std::string name = A(fd.cFileName);
    if (name == "." || name == "..") continue;
    const bool isFolder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder && wantFolders) entries.push_back("[" + name + "]");
    else if (!isFolder && wantFiles) entries.push_back(name);
  } while (FindNextFileW(find.Get(), &fd) && entries.size() < 2000);
  std::sort(entries.begin(), entries.end());
  return entries;
}

DWORD CALLBACK DialogHost::Impl::ReadRichText(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* done) {
  auto* s = reinterpret_cast<RichSource*>(cookie);
  LONG n = static_cast<LONG>(std::min<std::size_t>(static_cast<std::size_t>(size), s->text->size() - s->at));
  std::copy_n(s->text->data() + s->at, n, buffer);
  s->at += n;
  *done = n;
  return 0;
}

void DialogHost::Impl::StreamRichText(HWND h, const std::string& rtf) {
  RichSource source{&rtf, 0};
  EDITSTREAM es{};
  es.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  es.pfnCallback = ReadRichText;
  SendMessageW(h, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&es));
}

const FormObject* DialogHost::Impl::ParentOf(const FormObject& root, const FormObject* child) {
  for (const FormObject& c : root.children) {
    if (&c == child) return &root;
    if (const FormObject* found = ParentOf(c, child)) return found;
  }
  return nullptr;
}

void DialogHost::Impl::OnScroll(Page& p, Native& n) {
  if (syncing || n.kind != ControlKind::TrackBar) return;
  const std::int64_t pos = SendMessageW(n.hwnd, TBM_GETPOS, 0, 0);
  Control c = n.Model();
  if (c.Integer("Position") == pos) return;
  c.Set("Position", forms::Value::Integer(pos));
  n.position = LLONG_MIN;
  runtime.Change(*p.dialog, n.name, *this);
  AfterEvent(p);
}

void DialogHost::Impl::Sync(Page& p) {
  if (!p.Hwnd()) return;
  syncing = true;
  Dialog& d = *p.dialog;
  Control form = d.model.Form();
  if (p.caption != form.Caption()) {
    p.caption = form.Caption();
    SetWindowTextW(p.Hwnd(), W(*p.caption).c_str());
  }
  for (auto& np : p.controls) {
    Native& n = *np;
    if (!n.hwnd) continue;
    Control c = n.Model();
    const bool visible = c.Boolean("Visible", true) && OnActiveSheet(p, n);
    if (n.visible != int(visible)) {
      n.visible = visible;
      ShowWindow(n.hwnd, visible ? SW_SHOWNA : SW_HIDE);
    }
    const bool enabled = c.Boolean("Enabled", true);
    if (n.enabled != int(enabled)) {
      n.enabled = enabled;
      EnableWindow(n.hwnd, enabled);
      InvalidateRect(n.hwnd, nullptr, TRUE);
    }
    if (auto sync = AdapterOf(n.kind).sync) sync(*this, p, n);
  }
  syncing = false;
}

void DialogHost::Impl::OnCommand(Page& p, Native& n, int code) {
  if (syncing) return;
  auto command = AdapterOf(n.kind).command;
  if (command && command(*this, p, n, code)) AfterEvent(p);
}

void DialogHost::Impl::OnNotify(Page& p, NMHDR& h) {
  Native* n = p.ById(static_cast<int>(h.idFrom));
  if (!n || syncing) return;
  auto notify = AdapterOf(n->kind).notify;
  if (notify && notify(*this, p, *n, h)) AfterEvent(p);
}

}  // namespace kem::platform
