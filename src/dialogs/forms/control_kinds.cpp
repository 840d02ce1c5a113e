#include "dialogs/forms/control_kinds.h"

#include <array>
#include <vector>

#include "common/text.h"

namespace kem::forms {

namespace {

struct KindName {
  ControlKind kind;
  std::string_view className;
};

constexpr KindName kRegistered[] = {
    {ControlKind::Label, "TLabel"},
    {ControlKind::Edit, "TEdit"},
    {ControlKind::Memo, "TMemo"},
    {ControlKind::Button, "TButton"},
    {ControlKind::RzCheckBox, "TRzCheckBox"},
    {ControlKind::RzRadioButton, "TRzRadioButton"},
    {ControlKind::ListBox, "TListBox"},
    {ControlKind::ComboBox, "TComboBox"},
    {ControlKind::GroupBox, "TGroupBox"},
    {ControlKind::Panel, "TPanel"},
    {ControlKind::BitBtn, "TBitBtn"},
    {ControlKind::SpeedButton, "TSpeedButton"},
    {ControlKind::MaskEdit, "TMaskEdit"},
    {ControlKind::Image, "TImage"},
    {ControlKind::Shape, "TShape"},
    {ControlKind::Bevel, "TBevel"},
    {ControlKind::StaticText, "TStaticText"},
    {ControlKind::Gauge, "TGauge"},
    {ControlKind::PageControl, "TPageControl"},
    {ControlKind::TabSheet, "TTabSheet"},
    {ControlKind::RichEdit, "TRichEdit"},
    {ControlKind::TrackBar, "TTrackBar"},
    {ControlKind::ProgressBar, "TProgressBar"},
    {ControlKind::UpDown, "TUpDown"},
    {ControlKind::Animate, "TAnimate"},
    {ControlKind::CheckListBox, "TCheckListBox"},
    {ControlKind::TreeView, "TTreeView"},
    {ControlKind::HTMLViewer, "THTMLViewer"},
    {ControlKind::FileListBox, "TFileListBox"},
    {ControlKind::DirectoryListBox, "TDirectoryListBox"},
    {ControlKind::DriveComboBox, "TDriveComboBox"},
    {ControlKind::FilterComboBox, "TFilterComboBox"},
    {ControlKind::PTShellTree, "TPTShellTree"},
    {ControlKind::PTShellList, "TPTShellList"},
    {ControlKind::PTShellCombo, "TPTShellCombo"},
    {ControlKind::FlashFrame, "TFlashFrame"},
    {ControlKind::RzFormShape, "TRzFormShape"},
    {ControlKind::RzBmpButton, "TRzBmpButton"},
    {ControlKind::VistaGlass, "TVistaGlass"},
};
static_assert(std::size(kRegistered) == 39);

constexpr std::size_t kKindCount = static_cast<std::size_t>(ControlKind::VistaGlass) + 1;

using Ids = std::span<const std::string_view>;
constexpr std::string_view kAlign[] = {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient", "alCustom"};
constexpr std::string_view kAnchors[] = {"akLeft", "akTop", "akRight", "akBottom"};
constexpr std::string_view kAlignment[] = {"taLeftJustify", "taRightJustify", "taCenter"};
constexpr std::string_view kFontStyle[] = {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"};
constexpr std::string_view kScrollBars[] = {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"};
constexpr std::string_view kComboStyle[] = {"csDropDown", "csSimple", "csDropDownList", "csOwnerDrawFixed",
                                            "csOwnerDrawVariable"};
constexpr std::string_view kListStyle[] = {"lbStandard", "lbOwnerDrawFixed", "lbOwnerDrawVariable", "lbVirtual",
                                           "lbVirtualOwnerDraw"};
constexpr std::string_view kCharCase[] = {"ecNormal", "ecUpperCase", "ecLowerCase"};
constexpr std::string_view kBorderStyle[] = {"bsNone", "bsSingle"};
constexpr std::string_view kFormBorder[] = {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow",
                                            "bsSizeToolWin"};
constexpr std::string_view kFormPosition[] = {"poDesigned",       "poDefault",       "poDefaultPosOnly",
                                              "poDefaultSizeOnly", "poScreenCenter", "poDesktopCenter",
                                              "poMainFormCenter", "poOwnerFormCenter"};
constexpr std::string_view kBorderIcons[] = {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"};
constexpr std::string_view kWindowState[] = {"wsNormal", "wsMinimized", "wsMaximized"};
constexpr std::string_view kTextLayout[] = {"tlTop", "tlCenter", "tlBottom"};
constexpr std::string_view kCheckState[] = {"cbUnchecked", "cbChecked", "cbGrayed"};
constexpr std::string_view kBevelCut[] = {"bvNone", "bvLowered", "bvRaised", "bvSpace"};
constexpr std::string_view kBitBtnKind[] = {"bkCustom", "bkOK",    "bkCancel", "bkHelp",  "bkYes", "bkNo",
                                            "bkClose",  "bkAbort", "bkRetry",  "bkIgnore", "bkAll"};
constexpr std::string_view kButtonLayout[] = {"blGlyphLeft", "blGlyphRight", "blGlyphTop", "blGlyphBottom"};
constexpr std::string_view kShapeType[] = {"stRectangle", "stSquare", "stRoundRect", "stRoundSquare", "stEllipse",
                                           "stCircle"};
constexpr std::string_view kBevelShape[] = {"bsBox",      "bsFrame",     "bsTopLine", "bsBottomLine",
                                            "bsLeftLine", "bsRightLine", "bsSpacer"};
constexpr std::string_view kBevelStyle[] = {"bsLowered", "bsRaised"};
constexpr std::string_view kStaticBorder[] = {"sbsNone", "sbsSingle", "sbsSunken"};
constexpr std::string_view kGaugeKind[] = {"gkText", "gkHorizontalBar", "gkVerticalBar", "gkPie", "gkNeedle"};
constexpr std::string_view kTabStyle[] = {"tsTabs", "tsButtons", "tsFlatButtons"};
constexpr std::string_view kTabPosition[] = {"tpTop", "tpBottom", "tpLeft", "tpRight"};
constexpr std::string_view kTrackOrientation[] = {"trHorizontal", "trVertical"};
constexpr std::string_view kTickStyle[] = {"tsNone", "tsAuto", "tsManual"};
constexpr std::string_view kTickMarks[] = {"tmBottomRight", "tmTopLeft", "tmBoth"};
constexpr std::string_view kProgressOrientation[] = {"pbHorizontal", "pbVertical"};
constexpr std::string_view kProgressStyle[] = {"pbstNormal", "pbstMarquee"};
constexpr std::string_view kUpDownOrientation[] = {"udHorizontal", "udVertical"};
constexpr std::string_view kUpDownAlign[] = {"udLeft", "udRight"};
constexpr std::string_view kCommonAvi[] = {"aviNone",       "aviFindFolder",  "aviFindFile",
                                           "aviFindComputer", "aviCopyFiles", "aviCopyFile",
                                           "aviRecycleFile", "aviEmptyRecycle", "aviDeleteFile"};
constexpr std::string_view kTextCase[] = {"tcLowerCase", "tcUpperCase"};
constexpr std::string_view kFileType[] = {"ftReadOnly", "ftHidden", "ftSystem", "ftVolumeID",
                                          "ftDirectory", "ftArchive", "ftNormal"};
constexpr std::string_view kPenStyle[] = {"psSolid", "psDash", "psDot", "psDashDot", "psDashDotDot", "psClear",
                                          "psInsideFrame"};
constexpr std::string_view kBrushStyle[] = {"bsSolid", "bsClear", "bsHorizontal", "bsVertical",
                                            "bsFDiagonal", "bsBDiagonal", "bsCross", "bsDiagCross"};

PropertyInfo P(std::string_view name, PropertyType type, std::string_view def, Ids ids = {},
               std::string_view stored = {}) {
  return PropertyInfo{name, type, def, ids, stored};
}

using T = PropertyType;

void AddComponent(std::vector<PropertyInfo>& v) {
  v.push_back(P("Name", T::String, ""));
  v.push_back(P("Tag", T::Integer, "0"));
}

void AddControl(std::vector<PropertyInfo>& v, std::string_view color = "clBtnFace") {
  AddComponent(v);
  for (auto n : {"Left", "Top", "Width", "Height"}) v.push_back(P(n, T::Integer, "0"));
  v.push_back(P("Hint", T::String, ""));
  v.push_back(P("Visible", T::Boolean, "True"));
  v.push_back(P("Enabled", T::Boolean, "True"));
  v.push_back(P("Align", T::Enum, "alNone", kAlign));
  v.push_back(P("Anchors", T::Set, "[akLeft,akTop]", kAnchors));
  v.push_back(P("Color", T::Color, color));
  v.push_back(P("ParentColor", T::Boolean, "False"));
  v.push_back(P("ParentFont", T::Boolean, "True"));
  v.push_back(P("ShowHint", T::Boolean, "False"));
  v.push_back(P("ParentShowHint", T::Boolean, "True"));
  v.push_back(P("Font.Name", T::String, "MS Sans Serif"));
  v.push_back(P("Font.Height", T::Integer, "-11"));
  v.push_back(P("Font.Color", T::Color, "clWindowText"));
  v.push_back(P("Font.Style", T::Set, "[]", kFontStyle));
  v.push_back(P("Font.Charset", T::Ident, "DEFAULT_CHARSET"));
  v.push_back(P("Cursor", T::Ident, "crDefault"));
}

void AddWinControl(std::vector<PropertyInfo>& v, std::string_view color = "clBtnFace") {
  AddControl(v, color);
  v.push_back(P("TabOrder", T::Integer, "-1"));
  v.push_back(P("TabStop", T::Boolean, "False"));
}

void AddCaption(std::vector<PropertyInfo>& v) { v.push_back(P("Caption", T::String, "")); }

void AddEdit(std::vector<PropertyInfo>& v) {
  AddWinControl(v, "clWindow");
  v.push_back(P("Text", T::String, ""));
  v.push_back(P("MaxLength", T::Integer, "0"));
  v.push_back(P("ReadOnly", T::Boolean, "False"));
  v.push_back(P("PasswordChar", T::String, "#0"));
  v.push_back(P("CharCase", T::Enum, "ecNormal", kCharCase));
  v.push_back(P("AutoSelect", T::Boolean, "True"));
  v.push_back(P("AutoSize", T::Boolean, "True"));
  v.push_back(P("BorderStyle", T::Enum, "bsSingle", kBorderStyle));
}

void AddMemo(std::vector<PropertyInfo>& v) {
  AddWinControl(v, "clWindow");
  v.push_back(P("Lines", T::Strings, "", {}, "Lines.Strings"));
  v.push_back(P("MaxLength", T::Integer, "0"));
  v.push_back(P("ReadOnly", T::Boolean, "False"));
  v.push_back(P("WordWrap", T::Boolean, "True"));
  v.push_back(P("ScrollBars", T::Enum, "ssNone", kScrollBars));
  v.push_back(P("Alignment", T::Enum, "taLeftJustify", kAlignment));
  v.push_back(P("WantReturns", T::Boolean, "True"));
  v.push_back(P("WantTabs", T::Boolean, "False"));
  v.push_back(P("BorderStyle", T::Enum, "bsSingle", kBorderStyle));
}

void AddButtonActions(std::vector<PropertyInfo>& v) {
  v.push_back(P("ModalResult", T::Integer, "0"));
  v.push_back(P("Default", T::Boolean, "False"));
  v.push_back(P("Cancel", T::Boolean, "False"));
}

void AddListItems(std::vector<PropertyInfo>& v) {
  v.push_back(P("Items", T::Strings, "", {}, "Items.Strings"));
  v.push_back(P("Sorted", T::Boolean, "False"));
  v.push_back(P("ItemHeight", T::Integer, "13"));
}

void AddRange(std::vector<PropertyInfo>& v, std::string_view max) {
  v.push_back(P("Position", T::Integer, "0"));
  v.push_back(P("Min", T::Integer, "0"));
  v.push_back(P("Max", T::Integer, max));
}

std::vector<PropertyInfo> Build(ControlKind k) {
  std::vector<PropertyInfo> v;
  switch (k) {
    case ControlKind::Unknown: AddComponent(v); break;
    case ControlKind::Form:
      AddControl(v);
      AddCaption(v);
      v.push_back(P("ClientWidth", T::Integer, "0"));
      v.push_back(P("ClientHeight", T::Integer, "0"));
      v.push_back(P("BorderStyle", T::Enum, "bsSizeable", kFormBorder));
      v.push_back(P("BorderIcons", T::Set, "[biSystemMenu,biMinimize,biMaximize]", kBorderIcons));
      v.push_back(P("Position", T::Enum, "poDesigned", kFormPosition));
      v.push_back(P("WindowState", T::Enum, "wsNormal", kWindowState));
      v.push_back(P("Icon", T::Graphic, "", {}, "Icon.Data"));
      v.push_back(P("AutoScroll", T::Boolean, "True"));
      v.push_back(P("PixelsPerInch", T::Integer, "96"));
      v.push_back(P("TextHeight", T::Integer, "13"));
      v.push_back(P("Scaled", T::Boolean, "True"));
      break;
    case ControlKind::Label:
      AddControl(v);
      AddCaption(v);
      v.push_back(P("Alignment", T::Enum, "taLeftJustify", kAlignment));
      v.push_back(P("WordWrap", T::Boolean, "False"));
      v.push_back(P("Transparent", T::Boolean, "False"));
      v.push_back(P("AutoSize", T::Boolean, "True"));
      v.push_back(P("Layout", T::Enum, "tlTop", kTextLayout));
      v.push_back(P("FocusControl", T::Ident, ""));
      v.push_back(P("ShowAccelChar", T::Boolean, "True"));
      break;
    case ControlKind::Edit: AddEdit(v); break;
    case ControlKind::MaskEdit:
      AddEdit(v);
      v.push_back(P("EditMask", T::String, ""));
      break;
    case ControlKind::Memo: AddMemo(v); break;
    case ControlKind::RichEdit:
      AddMemo(v);
      v.push_back(P("PlainText", T::Boolean, "False"));
      v.push_back(P("HideSelection", T::Boolean, "True"));
      break;
    case ControlKind::Button:
      AddWinControl(v);
      AddCaption(v);
      AddButtonActions(v);
      v.push_back(P("WordWrap", T::Boolean, "False"));
      break;
    case ControlKind::BitBtn:
      AddWinControl(v);
      AddCaption(v);
      AddButtonActions(v);
      v.push_back(P("WordWrap", T::Boolean, "False"));
      v.push_back(P("Kind", T::Enum, "bkCustom", kBitBtnKind));
      v.push_back(P("Glyph", T::Graphic, "", {}, "Glyph.Data"));
      v.push_back(P("Layout", T::Enum, "blGlyphLeft", kButtonLayout));
      v.push_back(P("NumGlyphs", T::Integer, "1"));
      v.push_back(P("Spacing", T::Integer, "4"));
      v.push_back(P("Margin", T::Integer, "-1"));
      break;
    case ControlKind::SpeedButton:
      AddControl(v);
      AddCaption(v);
      v.push_back(P("Glyph", T::Graphic, "", {}, "Glyph.Data"));
      v.push_back(P("Flat", T::Boolean, "False"));
      v.push_back(P("GroupIndex", T::Integer, "0"));
      v.push_back(P("Down", T::Boolean, "False"));
      v.push_back(P("AllowAllUp", T::Boolean, "False"));
      v.push_back(P("Layout", T::Enum, "blGlyphLeft", kButtonLayout));
      v.push_back(P("NumGlyphs", T::Integer, "1"));
      v.push_back(P("Transparent", T::Boolean, "True"));
      break;
    case ControlKind::RzBmpButton:
      AddWinControl(v);
      AddCaption(v);
      AddButtonActions(v);
      v.push_back(P("Bitmaps.Up", T::Graphic, "", {}, "Bitmaps.Up.Data"));
      v.push_back(P("Bitmaps.Down", T::Graphic, "", {}, "Bitmaps.Down.Data"));
      v.push_back(P("Bitmaps.Disabled", T::Graphic, "", {}, "Bitmaps.Disabled.Data"));
      v.push_back(P("Bitmaps.Hot", T::Graphic, "", {}, "Bitmaps.Hot.Data"));
      v.push_back(P("GroupIndex", T::Integer, "0"));
      v.push_back(P("Down", T::Boolean, "False"));
      break;
    case ControlKind::RzCheckBox:
    case ControlKind::RzRadioButton:
      AddWinControl(v);
      AddCaption(v);
      v.push_back(P("Checked", T::Boolean, "False"));
      v.push_back(P("Alignment", T::Enum, "taRightJustify", kAlignment));
      v.push_back(P("Transparent", T::Boolean, "False"));
      v.push_back(P("WordWrap", T::Boolean, "False"));
      if (k == ControlKind::RzCheckBox) {
        v.push_back(P("State", T::Enum, "cbUnchecked", kCheckState));
        v.push_back(P("AllowGrayed", T::Boolean, "False"));
      }
      break;
    case ControlKind::ListBox:
    case ControlKind::CheckListBox:
      AddWinControl(v, "clWindow");
      AddListItems(v);
      v.push_back(P("Style", T::Enum, "lbStandard", kListStyle));
      v.push_back(P("Columns", T::Integer, "0"));
      if (k == ControlKind::ListBox) {
        v.push_back(P("MultiSelect", T::Boolean, "False"));
        v.push_back(P("ExtendedSelect", T::Boolean, "True"));
      } else {
        v.push_back(P("AllowGrayed", T::Boolean, "False"));
        v.push_back(P("Flat", T::Boolean, "True"));
      }
      break;
    case ControlKind::ComboBox:
      AddWinControl(v, "clWindow");
      AddListItems(v);
      v.push_back(P("Text", T::String, ""));
      v.push_back(P("Style", T::Enum, "csDropDown", kComboStyle));
      v.push_back(P("ItemIndex", T::Integer, "-1"));
      v.push_back(P("MaxLength", T::Integer, "0"));
      v.push_back(P("DropDownCount", T::Integer, "8"));
      v.push_back(P("CharCase", T::Enum, "ecNormal", kCharCase));
      break;
    case ControlKind::GroupBox:
    case ControlKind::TabSheet:
      AddWinControl(v);
      AddCaption(v);
      if (k == ControlKind::TabSheet) {
        v.push_back(P("PageIndex", T::Integer, "0"));
        v.push_back(P("TabVisible", T::Boolean, "True"));
        v.push_back(P("ImageIndex", T::Integer, "0"));
      }
      break;
    case ControlKind::Panel:
      AddWinControl(v);
      AddCaption(v);
      v.push_back(P("Alignment", T::Enum, "taCenter", kAlignment));
      v.push_back(P("BevelInner", T::Enum, "bvNone", kBevelCut));
      v.push_back(P("BevelOuter", T::Enum, "bvRaised", kBevelCut));
      v.push_back(P("BevelWidth", T::Integer, "1"));
      v.push_back(P("BorderStyle", T::Enum, "bsNone", kBorderStyle));
      v.push_back(P("BorderWidth", T::Integer, "0"));
      v.push_back(P("ParentBackground", T::Boolean, "True"));
      break;
    case ControlKind::Image:
    case ControlKind::RzFormShape:
      AddControl(v);
      v.push_back(P("Picture", T::Graphic, "", {}, "Picture.Data"));
      v.push_back(P("Stretch", T::Boolean, "False"));
      v.push_back(P("Center", T::Boolean, "False"));
      v.push_back(P("Proportional", T::Boolean, "False"));
      v.push_back(P("Transparent", T::Boolean, "False"));
      v.push_back(P("AutoSize", T::Boolean, "False"));
      break;
    case ControlKind::Shape:
      AddControl(v);
      v.push_back(P("Shape", T::Enum, "stRectangle", kShapeType));
      v.push_back(P("Brush.Color", T::Color, "clWhite"));
      v.push_back(P("Brush.Style", T::Enum, "bsSolid", kBrushStyle));
      v.push_back(P("Pen.Color", T::Color, "clBlack"));
      v.push_back(P("Pen.Style", T::Enum, "psSolid", kPenStyle));
      v.push_back(P("Pen.Width", T::Integer, "1"));
      break;
    case ControlKind::Bevel:
      AddControl(v);
      v.push_back(P("Shape", T::Enum, "bsBox", kBevelShape));
      v.push_back(P("Style", T::Enum, "bsLowered", kBevelStyle));
      break;
    case ControlKind::StaticText:
      AddWinControl(v);
      AddCaption(v);
      v.push_back(P("Alignment", T::Enum, "taLeftJustify", kAlignment));
      v.push_back(P("AutoSize", T::Boolean, "True"));
      v.push_back(P("BorderStyle", T::Enum, "sbsNone", kStaticBorder));
      v.push_back(P("Transparent", T::Boolean, "True"));
      v.push_back(P("ShowAccelChar", T::Boolean, "True"));
      break;
    case ControlKind::Gauge:
      AddControl(v);
      v.push_back(P("Kind", T::Enum, "gkHorizontalBar", kGaugeKind));
      v.push_back(P("MinValue", T::Integer, "0"));
      v.push_back(P("MaxValue", T::Integer, "100"));
      v.push_back(P("Progress", T::Integer, "0"));
      v.push_back(P("ForeColor", T::Color, "clBlack"));
      v.push_back(P("BackColor", T::Color, "clWhite"));
      v.push_back(P("ShowText", T::Boolean, "True"));
      break;
    case ControlKind::PageControl:
      AddWinControl(v);
      v.push_back(P("ActivePage", T::Ident, ""));
      v.push_back(P("MultiLine", T::Boolean, "False"));
      v.push_back(P("Style", T::Enum, "tsTabs", kTabStyle));
      v.push_back(P("TabPosition", T::Enum, "tpTop", kTabPosition));
      break;
    case ControlKind::TrackBar:
      AddWinControl(v);
      AddRange(v, "10");
      v.push_back(P("Orientation", T::Enum, "trHorizontal", kTrackOrientation));
      v.push_back(P("Frequency", T::Integer, "1"));
      v.push_back(P("TickStyle", T::Enum, "tsAuto", kTickStyle));
      v.push_back(P("TickMarks", T::Enum, "tmBottomRight", kTickMarks));
      v.push_back(P("PageSize", T::Integer, "2"));
      v.push_back(P("LineSize", T::Integer, "1"));
      break;
    case ControlKind::ProgressBar:
      AddWinControl(v);
      AddRange(v, "100");
      v.push_back(P("Orientation", T::Enum, "pbHorizontal", kProgressOrientation));
      v.push_back(P("Smooth", T::Boolean, "False"));
      v.push_back(P("Step", T::Integer, "10"));
      v.push_back(P("Style", T::Enum, "pbstNormal", kProgressStyle));
      break;
    case ControlKind::UpDown:
      AddWinControl(v);
      AddRange(v, "100");
      v.push_back(P("Associate", T::Ident, ""));
      v.push_back(P("AlignButton", T::Enum, "udRight", kUpDownAlign));
      v.push_back(P("Orientation", T::Enum, "udVertical", kUpDownOrientation));
      v.push_back(P("Increment", T::Integer, "1"));
      v.push_back(P("Wrap", T::Boolean, "False"));
      v.push_back(P("ArrowKeys", T::Boolean, "True"));
      v.push_back(P("Thousands", T::Boolean, "True"));
      break;
    case ControlKind::Animate:
      AddControl(v);
      v.push_back(P("Active", T::Boolean, "False"));
      v.push_back(P("CommonAVI", T::Enum, "aviNone", kCommonAvi));
      v.push_back(P("FileName", T::String, ""));
      v.push_back(P("Center", T::Boolean, "True"));
      v.push_back(P("Transparent", T::Boolean, "True"));
      v.push_back(P("Repetitions", T::Integer, "0"));
      break;
    case ControlKind::TreeView:
      AddWinControl(v, "clWindow");
      v.push_back(P("ReadOnly", T::Boolean, "False"));
      v.push_back(P("HideSelection", T::Boolean, "True"));
      v.push_back(P("ShowLines", T::Boolean, "True"));
      v.push_back(P("ShowRoot", T::Boolean, "True"));
      v.push_back(P("ShowButtons", T::Boolean, "True"));
      v.push_back(P("AutoExpand", T::Boolean, "False"));
      v.push_back(P("Indent", T::Integer, "19"));
      v.push_back(P("Items", T::Graphic, "", {}, "Items.Data"));  // the nodes (tree_nodes.h)
      break;
    case ControlKind::HTMLViewer:
      AddWinControl(v, "clWindow");
      v.push_back(P("DefFontName", T::String, "Times New Roman"));
      v.push_back(P("DefFontSize", T::Integer, "12"));
      v.push_back(P("DefFontColor", T::Color, "clBtnText"));
      v.push_back(P("DefBackground", T::Color, "clBtnFace"));
      v.push_back(P("ScrollBars", T::Enum, "ssBoth", kScrollBars));
      break;
    case ControlKind::FileListBox:
      AddWinControl(v, "clWindow");
      v.push_back(P("Mask", T::String, "*.*"));
      v.push_back(P("FileType", T::Set, "[ftNormal]", kFileType));
      v.push_back(P("ShowGlyphs", T::Boolean, "False"));
      v.push_back(P("MultiSelect", T::Boolean, "False"));
      v.push_back(P("FileEdit", T::Ident, ""));
      v.push_back(P("ItemHeight", T::Integer, "13"));
      break;
    case ControlKind::DirectoryListBox:
      AddWinControl(v, "clWindow");
      v.push_back(P("FileList", T::Ident, ""));
      v.push_back(P("DirLabel", T::Ident, ""));
      v.push_back(P("ItemHeight", T::Integer, "16"));
      break;
    case ControlKind::DriveComboBox:
      AddWinControl(v, "clWindow");
      v.push_back(P("DirList", T::Ident, ""));
      v.push_back(P("TextCase", T::Enum, "tcLowerCase", kTextCase));
      break;
    case ControlKind::FilterComboBox:
      AddWinControl(v, "clWindow");
      v.push_back(P("FileList", T::Ident, ""));
      v.push_back(P("Filter", T::String, "All files (*.*)|*.*"));
      break;
    case ControlKind::PTShellTree:
    case ControlKind::PTShellList:
    case ControlKind::PTShellCombo:
      AddWinControl(v, "clWindow");
      v.push_back(P("HideSelection", T::Boolean, "True"));
      break;
    case ControlKind::FlashFrame:
      AddWinControl(v);
      AddCaption(v);
      break;
    case ControlKind::VistaGlass: AddComponent(v); break;
  }
  return v;
}

const std::array<std::vector<PropertyInfo>, kKindCount>& Schemas() {
  static const auto schemas = [] {
    std::array<std::vector<PropertyInfo>, kKindCount> a;
    for (std::size_t i = 0; i < kKindCount; ++i) a[i] = Build(static_cast<ControlKind>(i));
    return a;
  }();
  return schemas;
}

constexpr ControlKind kRegisteredOrder[] = {
    ControlKind::Label,       ControlKind::Edit,          ControlKind::Memo,         ControlKind::Button,
    ControlKind::RzCheckBox,  ControlKind::RzRadioButton, ControlKind::ListBox,      ControlKind::ComboBox,
    ControlKind::GroupBox,    ControlKind::Panel,         ControlKind::BitBtn,       ControlKind::SpeedButton,
    ControlKind::MaskEdit,    ControlKind::Image,         ControlKind::Shape,        ControlKind::Bevel,
    ControlKind::StaticText,  ControlKind::Gauge,         ControlKind::PageControl,  ControlKind::TabSheet,
    ControlKind::RichEdit,    ControlKind::TrackBar,      ControlKind::ProgressBar,  ControlKind::UpDown,
    ControlKind::Animate,     ControlKind::CheckListBox,  ControlKind::TreeView,     ControlKind::HTMLViewer,
    ControlKind::FileListBox, ControlKind::DirectoryListBox, ControlKind::DriveComboBox,
    ControlKind::FilterComboBox, ControlKind::PTShellTree, ControlKind::PTShellList, ControlKind::PTShellCombo,
    ControlKind::FlashFrame,  ControlKind::RzFormShape,   ControlKind::RzBmpButton,  ControlKind::VistaGlass,
};

}  // namespace

std::span<const ControlKind> RegisteredControlKinds() { return kRegisteredOrder; }

ControlKind KindOfClass(std::string_view className) {
  for (const auto& k : kRegistered) {
    if (SameText(k.className, className)) return k.kind;
  }
  return ControlKind::Unknown;
}

std::string_view ClassNameOfKind(ControlKind kind) {
  if (kind == ControlKind::Form) return "TForm";
  for (const auto& k : kRegistered) {
    if (k.kind == kind) return k.className;
  }
  return {};
}

bool InheritsFrom(ControlKind kind, ControlKind base) {
  if (kind == base) return true;
  return kind == ControlKind::BitBtn && base == ControlKind::Button;
}

bool IsNeverBound(ControlKind kind) {
  switch (kind) {
    case ControlKind::Bevel:
    case ControlKind::PageControl:
    case ControlKind::UpDown:
    case ControlKind::FilterComboBox:
    case ControlKind::RzFormShape:
    case ControlKind::VistaGlass: return true;
    default: return false;
  }
}

std::span<const PropertyInfo> PropertiesOfKind(ControlKind kind) {
  return Schemas()[static_cast<std::size_t>(kind)];
}

const PropertyInfo* FindPropertyInfo(ControlKind kind, std::string_view name) {
  for (const auto& p : PropertiesOfKind(kind)) {
    if (SameText(p.name, name) || (!p.storedName.empty() && SameText(p.storedName, name))) return &p;
  }
  return nullptr;
}

}  // namespace kem::forms
