#include "todayoptions/OptionsPages.h"

#include <algorithm>
#include <cstring>

#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/VORegistry.h"
#include "database/NotifyToday.h"
#include "database/TodayChannelFilter.h"
#include "database/TodayViewOptions.h"
#include "layout/ScreenScale.h"
#include "layout/SoftKeyBar.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "platform/controls/ShellExecute.h"
#include "platform/controls/StandardControls.h"
#include "platform/gdi/Gdi.h"
#include "platform/ipc/Ipc.h"
#include "platform/resources/Resources.h"
#include "resources/todayoptions/resource.h"

namespace {

constexpr const char16_t* kShown = u"1";
constexpr const char16_t* kHidden = u"0";

// ClearType combo rows and the stored "Font.ClearType" modes they stand for.
constexpr int kClearTypeModes[3] = {2, 1, 0};  // system, always on, always off

CVORegistry TodayKey() {
  const std::u16string path = GetTodayRegistryKey();
  return CVORegistry(GetSettingsRootKey(), path.c_str(), true, true, plat::KEY_ALL_ACCESS);
}

std::u16string Text(plat::UINT id) {
  char16_t buffer[2048] = {};
  const int n = plat::LoadStringW(plat::GetModuleHandleW(nullptr), id, buffer, 2048);
  const std::u16string text(buffer, static_cast<std::size_t>(std::max(0, n)));
  const char16_t* translated = GetLocalizer().FindTranslation(text.c_str());
  return translated ? std::u16string(translated) : text;
}

std::u16string Number(int n) {
  const std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

// The size the shell gives its user-interface font, in the unit of
// "Font.Height" and of the size list (pixels at 96 dpi), so that the standard
// font shows its size on any screen.
int SystemFontPixels() {
  plat::DWORD size = 0, required = 0;
  if (plat::SHGetUIMetrics(plat::SHUIM_FONTSIZE_PIXEL, &size, sizeof size, &required) == 0 && size > 0) {
    const int dpi = std::max(1, GetScreenDpiY());
    return (static_cast<int>(size) * 96 + dpi / 2) / dpi;
  }
  return CTodayViewOptions::kDefaultSystemFontSize;
}

// Every page's rows are set off by these (pixels at 96 dpi, scaled).
constexpr int kPageMargin = 6;
constexpr int kRowGap = 2;

}  // namespace

// ---- COptionsPage -------------------------------------------------------------

bool COptionsPage::Checked(int id) const {
  return plat::SendMessageW(Item(id), plat::BM_GETCHECK, 0, 0) == static_cast<plat::LRESULT>(plat::BST_CHECKED);
}

void COptionsPage::Check(int id, bool on) {
  plat::SendMessageW(Item(id), plat::BM_SETCHECK, on ? plat::BST_CHECKED : plat::BST_UNCHECKED, 0);
}

int COptionsPage::Selection(int id) const {
  return static_cast<int>(plat::SendMessageW(Item(id), plat::CB_GETCURSEL, 0, 0));
}

void COptionsPage::Select(int id, int index) {
  const int count = static_cast<int>(plat::SendMessageW(Item(id), plat::CB_GETCOUNT, 0, 0));
  // A value outside the combo's range shows no selection.
  plat::SendMessageW(Item(id), plat::CB_SETCURSEL, index >= 0 && index < count ? index : static_cast<plat::WPARAM>(-1), 0);
}

void COptionsPage::AddStrings(int id, const std::vector<std::u16string>& texts) {
  for (const std::u16string& text : texts)
    plat::SendMessageW(Item(id), plat::CB_ADDSTRING, 0, reinterpret_cast<plat::LPARAM>(text.c_str()));
}

void COptionsPage::ShowHelp() const {
  const std::u16string target = GetHelpFileUrl() + u"#" + std::u16string(HelpTopic());
  plat::PROCESS_INFORMATION info{};
  plat::CreateProcessW(u"PegHelp.exe", target.c_str(), nullptr, nullptr, plat::FALSE, 0, nullptr, nullptr, nullptr,
                       &info);
}

void COptionsPage::Fit() {
  if (fit_ && page_) fit_->Layout();
}

int COptionsPage::LabelWidth() const {
  int widest = 0;
  for (int id : labels_) {
    plat::HWND label = Item(id);
    if (!label) continue;
    char16_t text[256] = {};
    const int n = plat::GetWindowTextW(label, text, 256);
    plat::HDC dc = plat::GetDC(label);
    if (!dc) continue;
    auto font = reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(label, plat::WM_GETFONT, 0, 0));
    plat::HGDIOBJ old = font ? plat::SelectObject(dc, font) : nullptr;
    plat::SIZE size{};
    plat::GetTextExtentPoint32W(dc, text, n, &size);
    if (old) plat::SelectObject(dc, old);
    plat::ReleaseDC(label, dc);
    widest = std::max(widest, static_cast<int>(size.cx));
  }
  return widest + ScaleX(kPageMargin);
}

int COptionsPage::LabelRow::GetHeight(plat::HWND, int width) { return DialogAutoFit::ClassHeight(combo_, width); }

bool COptionsPage::LabelRow::PlaceRow(plat::HWND label, const plat::RECT& area) {
  const int width = area.right - area.left;
  const int labelWidth = std::min(page_->LabelWidth(), width / 2);
  // The combo keeps its field's height (the rest is its drop list's room).
  plat::MoveWindow(combo_, area.left + labelWidth, area.top, width - labelWidth, area.bottom - area.top, plat::TRUE);
  plat::RECT field{};
  plat::GetWindowRect(combo_, &field);
  const int fieldHeight = field.bottom - field.top;
  // The label is as high as the field, its text centred level with the combo's.
  plat::SetWindowLongW(label, plat::GWL_STYLE, plat::GetWindowLongW(label, plat::GWL_STYLE) | plat::SS_CENTERIMAGE);
  plat::MoveWindow(label, area.left, area.top, labelWidth, fieldHeight, plat::TRUE);
  return true;
}

void COptionsPage::AddLabelledRow(DialogAutoFit& fit, int label, int combo) {
  labels_.push_back(label);
  labelRows_.push_back(std::make_unique<LabelRow>(this, Item(combo)));
  DialogAutoFit::Row row;
  row.control = Item(label);
  row.provider = labelRows_.back().get();
  row.leftIndent = ScaleX(kPageMargin);
  row.rightIndent = ScaleX(kPageMargin);
  row.spaceBelow = ScaleY(kRowGap);
  fit.AddRow(row);
}

namespace {
DialogAutoFit::Row PlainRow(plat::HWND control, int anchor) {
  DialogAutoFit::Row row;
  row.control = control;
  row.anchor = anchor;
  row.leftIndent = ScaleX(kPageMargin);
  row.rightIndent = ScaleX(kPageMargin);
  row.spaceBelow = ScaleY(kRowGap);
  return row;
}
}  // namespace

plat::INT_PTR COptionsPage::DialogProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto* page = reinterpret_cast<COptionsPage*>(plat::GetWindowLongW(hwnd, plat::DWL_USER));
  switch (msg) {
    case plat::WM_INITDIALOG: {
      const auto* sheetPage = reinterpret_cast<const plat::PROPSHEETPAGEW*>(lParam);
      page = reinterpret_cast<COptionsPage*>(sheetPage ? sheetPage->lParam : lParam);
      plat::SetWindowLongW(hwnd, plat::DWL_USER, reinterpret_cast<plat::LONG_PTR>(page));
      if (page) {
        page->page_ = hwnd;
        page->OnInit(hwnd);
        GetLocalizer().LocalizeDialog(hwnd);
        page->fit_ = std::make_unique<DialogAutoFit>(hwnd, false, false, false);
        page->AddRows(*page->fit_);
        page->Fit();
        plat::PostMessageW(hwnd, plat::WM_SETTINGCHANGE, 0x3002, 0);
      }
      return plat::TRUE;
    }
    case plat::WM_HELP:
      if (page) page->ShowHelp();
      return plat::TRUE;
    case plat::WM_COMMAND:
      if (page) page->OnCommand(plat::LOWORD(wParam), plat::HIWORD(wParam));
      return plat::FALSE;
    case plat::WM_SIZE:
      if (page) {
        page->Fit();
        page->OnSize();
      }
      return plat::FALSE;
    case plat::WM_NOTIFY: {
      if (!page) return plat::FALSE;
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      if (header->code == plat::PSN_SETACTIVE) {
        page->OnSetActive();
      } else if (header->code == plat::PSN_KILLACTIVE) {
        page->OnKillActive();
      } else if (header->code == plat::PSN_APPLY) {
        plat::SetWindowLongW(hwnd, plat::DWL_MSGRESULT,
                             page->OnApply() ? plat::PSNRET_NOERROR : plat::PSNRET_INVALID_NOCHANGEPAGE);
        return plat::TRUE;
      } else if (header->code == plat::PSN_HELP) {
        page->ShowHelp();
      }
      return plat::FALSE;
    }
    default: {
      static const plat::UINT metricChange = plat::RegisterWindowMessageW(plat::SH_UIMETRIC_CHANGE);
      if (msg == metricChange && metricChange != 0 && page) {
        if (auto* font = dynamic_cast<CTabFont*>(page)) font->OnMetricChange();
        page->Fit();  // the rows' heights follow the font
      }
      return plat::FALSE;
    }
  }
}

// ---- CTabChannels ---------------------------------------------------------------

int CTabChannels::TemplateId() const { return IDD_CHANNELS; }

void CTabChannels::OnInit(plat::HWND page) {
  page_ = page;
  CTodayChannelFilter* filter = CTodayChannelFilter::GetInstance();
  filter->Load();
  Check(IDC_AUTO_INCLUDE, filter->GetAutoIncludeNewChannels());
  plat::HWND list = Item(IDC_CHANNEL_LIST);
  SubclassWithoutDoubleClick(list);
  plat::SendMessageW(list, plat::LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                     plat::LVS_EX_FULLROWSELECT | plat::LVS_EX_CHECKBOXES);
  plat::RECT client{};
  plat::GetClientRect(list, &client);
  plat::LVCOLUMNW column{plat::LVCF_WIDTH, 0, client.right, nullptr, 0, 0};
  plat::SendMessageW(list, plat::LVM_INSERTCOLUMNW, 0, reinterpret_cast<plat::LPARAM>(&column));
  filter->GetEntries(initial_);
  int index = 0;
  for (const auto& [name, flag] : initial_) {
    std::u16string text = name;
    plat::LVITEMW item{};
    item.mask = plat::LVIF_TEXT;
    item.iItem = index;
    item.pszText = text.data();
    const int at = static_cast<int>(plat::SendMessageW(list, plat::LVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&item)));
    SetRow(at, flag == kShown);
    ++index;
  }
  if (index > 0) {
    plat::LVITEMW state{};
    state.stateMask = plat::LVIS_SELECTED | plat::LVIS_FOCUSED;
    state.state = state.stateMask;
    plat::SendMessageW(list, plat::LVM_SETITEMSTATE, 0, reinterpret_cast<plat::LPARAM>(&state));
  }
}

void CTabChannels::AddRows(DialogAutoFit& fit) {
  DialogAutoFit::Row label = PlainRow(Item(IDC_CHANNELS_LABEL), DialogAutoFit::kTop);
  label.spaceAbove = ScaleY(kPageMargin);
  fit.AddRow(label);
  fit.AddRow(PlainRow(Item(IDC_CHANNEL_LIST), DialogAutoFit::kFill));
  DialogAutoFit::Row check = PlainRow(Item(IDC_AUTO_INCLUDE), DialogAutoFit::kBottom);
  check.spaceBelow = ScaleY(kPageMargin);
  fit.AddRow(check);
}

namespace {
// The sheet's menu bar: its "Menu" button serves the channels page alone.
void ShowSelectMenu(plat::HWND page, bool show) {
  plat::HWND sheet = plat::GetParent(page);
  plat::HWND bar = sheet ? plat::SHFindMenuBar(sheet) : nullptr;
  if (bar) plat::SendMessageW(bar, plat::TB_HIDEBUTTON, plat::kMenuBarFirstPopupId + 1, show ? plat::FALSE : plat::TRUE);
}
}  // namespace

void CTabChannels::OnSetActive() { ShowSelectMenu(page_, true); }
void CTabChannels::OnKillActive() { ShowSelectMenu(page_, false); }

void CTabChannels::OnSize() {
  plat::HWND list = Item(IDC_CHANNEL_LIST);
  if (!list) return;
  plat::RECT client{};
  plat::GetClientRect(list, &client);
  plat::SendMessageW(list, plat::LVM_SETCOLUMNWIDTH, 0, client.right);
}

void CTabChannels::SetRow(int index, bool on) {
  plat::LVITEMW state{};
  state.stateMask = plat::LVIS_STATEIMAGEMASK;
  state.state = plat::INDEXTOSTATEIMAGEMASK(on ? 2 : 1);
  plat::SendMessageW(Item(IDC_CHANNEL_LIST), plat::LVM_SETITEMSTATE, static_cast<plat::WPARAM>(index),
                     reinterpret_cast<plat::LPARAM>(&state));
}

std::vector<std::pair<std::u16string, bool>> CTabChannels::Rows() const {
  std::vector<std::pair<std::u16string, bool>> rows;
  plat::HWND list = Item(IDC_CHANNEL_LIST);
  const int count = static_cast<int>(plat::SendMessageW(list, plat::LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char16_t buffer[512] = {};
    plat::LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = buffer;
    item.cchTextMax = 512;
    plat::SendMessageW(list, plat::LVM_GETITEMTEXTW, static_cast<plat::WPARAM>(i), reinterpret_cast<plat::LPARAM>(&item));
    const auto state = static_cast<plat::UINT>(
        plat::SendMessageW(list, plat::LVM_GETITEMSTATE, static_cast<plat::WPARAM>(i), plat::LVIS_STATEIMAGEMASK));
    rows.emplace_back(std::u16string(buffer), (state & plat::LVIS_STATEIMAGEMASK) == plat::INDEXTOSTATEIMAGEMASK(2));
  }
  return rows;
}

void CTabChannels::CheckAll(bool on) {
  const int count = static_cast<int>(plat::SendMessageW(Item(IDC_CHANNEL_LIST), plat::LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) SetRow(i, on);
}

bool CTabChannels::OnApply() {
  CTodayChannelFilter* filter = CTodayChannelFilter::GetInstance();
  if (!filter->SetAutoInclude(Checked(IDC_AUTO_INCLUDE))) return false;
  // Only the rows the user changed are written, into the selection as it is
  // stored now: a channel removed or renamed since the page opened stays out.
  CStringToStringMap changed;
  for (const auto& [name, on] : Rows()) {
    const std::u16string flag = on ? kShown : kHidden;
    auto before = initial_.find(name);
    if (before == initial_.end() || before->second != flag) changed[name] = flag;
  }
  reported_.clear();
  if (!changed.empty()) {
    // The selection is written under its named mutex, then the item is told.
    if (!filter->ChangeEntries(changed, reported_)) return false;
    for (const std::u16string& name : reported_) CNotifyToday::GetInstance()->NotifyItemChanged(name);
  }
  for (const auto& [name, flag] : changed) initial_[name] = flag;
  return true;
}

// ---- CTabFont -----------------------------------------------------------------------

const std::vector<int>& CTabFont::Sizes() {
  static const std::vector<int> sizes{8, 9, 10, 11, 12, 13, 14, 16, 18};
  return sizes;
}

int CTabFont::TemplateId() const { return IDD_FONT; }

void CTabFont::OnInit(plat::HWND page) {
  page_ = page;
  CVORegistry key = TodayKey();
  useSystem_ = key.GetDWORD(u"Font.UseSystem", 1) != 0;
  name_ = key.GetString(u"Font.Name", u"Tahoma");
  height_ = static_cast<int>(key.GetDWORD(u"Font.Height", 12));
  clearType_ = static_cast<int>(key.GetDWORD(u"Font.ClearType", 1));
  savedName_ = name_;
  savedHeight_ = height_;
  Check(IDC_USE_SYSTEM_FONT, useSystem_);
  AddStrings(IDC_CLEARTYPE, {Text(IDS_CLEARTYPE_SYSTEM), Text(IDS_CLEARTYPE_ON), Text(IDS_CLEARTYPE_OFF)});
  std::vector<std::u16string> sizes;
  for (int size : Sizes()) sizes.push_back(Number(size));
  AddStrings(IDC_FONT_SIZE, sizes);
  std::vector<std::u16string> families;
  plat::HDC screen = plat::GetDC(nullptr);
  plat::EnumFontFamiliesW(
      screen, nullptr,
      [](const plat::LOGFONTW* font, const plat::TEXTMETRICW*, plat::DWORD, plat::LPARAM param) -> int {
        reinterpret_cast<std::vector<std::u16string>*>(param)->push_back(font->lfFaceName);
        return 1;
      },
      reinterpret_cast<plat::LPARAM>(&families));
  plat::ReleaseDC(nullptr, screen);
  std::sort(families.begin(), families.end());
  families.erase(std::unique(families.begin(), families.end()), families.end());
  AddStrings(IDC_FONT_NAME, families);
  ShowCurrent();
  const int* mode = std::find(std::begin(kClearTypeModes), std::end(kClearTypeModes), clearType_);
  initialClearTypeRow_ = mode == std::end(kClearTypeModes) ? -1 : static_cast<int>(mode - kClearTypeModes);
  Select(IDC_CLEARTYPE, initialClearTypeRow_);
}

void CTabFont::AddRows(DialogAutoFit& fit) {
  DialogAutoFit::Row check = PlainRow(Item(IDC_USE_SYSTEM_FONT), DialogAutoFit::kTop);
  check.spaceAbove = ScaleY(kPageMargin);
  fit.AddRow(check);
  AddLabelledRow(fit, IDC_FONT_NAME_LABEL, IDC_FONT_NAME);
  AddLabelledRow(fit, IDC_FONT_SIZE_LABEL, IDC_FONT_SIZE);
  AddLabelledRow(fit, IDC_CLEARTYPE_LABEL, IDC_CLEARTYPE);
}

void CTabFont::ShowCurrent() {
  const bool custom = !useSystem_;
  const std::u16string name = custom ? name_ : std::u16string(u"Tahoma");
  const int height = custom ? height_ : SystemFontPixels();
  const plat::LRESULT row =
      plat::SendMessageW(Item(IDC_FONT_NAME), plat::CB_FINDSTRINGEXACT, static_cast<plat::WPARAM>(-1),
                         reinterpret_cast<plat::LPARAM>(name.c_str()));
  Select(IDC_FONT_NAME, static_cast<int>(row));
  const auto size = std::find(Sizes().begin(), Sizes().end(), height);
  Select(IDC_FONT_SIZE, size == Sizes().end() ? -1 : static_cast<int>(size - Sizes().begin()));
  for (int id : {IDC_FONT_NAME, IDC_FONT_NAME_LABEL, IDC_FONT_SIZE, IDC_FONT_SIZE_LABEL, IDC_CLEARTYPE, IDC_CLEARTYPE_LABEL})
    plat::EnableWindow(Item(id), custom ? plat::TRUE : plat::FALSE);
}

void CTabFont::ReadChoices() {
  const int nameRow = Selection(IDC_FONT_NAME);
  if (nameRow >= 0) {
    char16_t buffer[plat::LF_FACESIZE + 1] = {};
    plat::SendMessageW(Item(IDC_FONT_NAME), plat::CB_GETLBTEXT, static_cast<plat::WPARAM>(nameRow),
                       reinterpret_cast<plat::LPARAM>(buffer));
    name_ = buffer;
  }
  const int sizeRow = Selection(IDC_FONT_SIZE);
  if (sizeRow >= 0 && sizeRow < static_cast<int>(Sizes().size())) height_ = Sizes()[static_cast<std::size_t>(sizeRow)];
  const int clearTypeRow = Selection(IDC_CLEARTYPE);
  if (clearTypeRow >= 0 && clearTypeRow < 3 && clearTypeRow != initialClearTypeRow_) {
    clearType_ = kClearTypeModes[clearTypeRow];
    clearTypeRead_ = true;
  }
}

void CTabFont::OnCommand(plat::WORD id, plat::WORD code) {
  if (id == IDC_USE_SYSTEM_FONT && code == plat::BN_CLICKED) {
    if (!useSystem_) {
      ReadChoices();
      savedName_ = name_;
      savedHeight_ = height_;
    } else {
      name_ = savedName_;
      height_ = savedHeight_;
    }
    useSystem_ = Checked(IDC_USE_SYSTEM_FONT);
    ShowCurrent();
  } else if ((id == IDC_FONT_NAME || id == IDC_FONT_SIZE || id == IDC_CLEARTYPE) && code == plat::CBN_SELCHANGE) {
    ReadChoices();
  }
}

void CTabFont::OnMetricChange() {
  if (useSystem_) ShowCurrent();
}

bool CTabFont::OnApply() {
  if (!useSystem_) ReadChoices();
  CVORegistry key = TodayKey();
  bool written = key.SetDWORD(u"Font.UseSystem", useSystem_ ? 1 : 0);
  // The values shown are written: the standard font's with it on.
  const std::u16string name = useSystem_ ? std::u16string(u"Tahoma") : name_;
  const int height = useSystem_ ? SystemFontPixels() : height_;
  written = key.SetDWORD(u"Font.Height", static_cast<std::uint32_t>(height)) && written;
  if (!name.empty()) written = key.SetString(u"Font.Name", name) && written;
  // The ClearType mode is written only when the user chose one.
  if (clearTypeRead_) written = key.SetDWORD(u"Font.ClearType", static_cast<std::uint32_t>(clearType_)) && written;
  return written;
}

// ---- CTabViewStyle -----------------------------------------------------------------

int CTabViewStyle::TemplateId() const { return IDD_VIEW_STYLE; }

void CTabViewStyle::OnInit(plat::HWND page) {
  page_ = page;
  CVORegistry key = TodayKey();
  AddStrings(IDC_VIEW_STYLE, {Text(IDS_STYLE_SINGLE), Text(IDS_STYLE_LIST)});
  AddStrings(IDC_AUTO_SCROLL, {Text(IDS_SCROLL_DISABLED), Text(IDS_SCROLL_SLOW), Text(IDS_SCROLL_NORMAL), Text(IDS_SCROLL_FAST)});
  std::vector<std::u16string> lines, rows;
  for (int n = 2; n <= 4; ++n) lines.push_back(Number(n));
  for (int n = 3; n <= 16; ++n) rows.push_back(Number(n));
  AddStrings(IDC_LINES, lines);
  AddStrings(IDC_ROWS, rows);
  const int style = static_cast<int>(key.GetDWORD(u"ViewStyle", 0));
  Select(IDC_VIEW_STYLE, style);
  Check(IDC_SHOW_THUMBNAIL, key.GetDWORD(u"ViewSimple.Show.Thumbnail", 1) != 0);
  Check(IDC_SIMPLE_SHOW_TIME, key.GetDWORD(u"ViewSimple.Show.ArticleTime", 1) != 0);
  Check(IDC_SHOW_CHANNEL, key.GetDWORD(u"ViewSimple.Show.ChannelName", 1) != 0);
  Select(IDC_AUTO_SCROLL, static_cast<int>(key.GetDWORD(u"ViewSimple.AutoScrollSpeed", 2)));
  Select(IDC_LINES, static_cast<int>(key.GetDWORD(u"ViewSimple.LinesCount", 2)) - 2);
  Check(IDC_LIST_SHOW_ICON, key.GetDWORD(u"ViewList.Show.ArticleIcon", 1) != 0);
  Check(IDC_LIST_SHOW_TIME, key.GetDWORD(u"ViewList.Show.ArticleTime", 1) != 0);
  Select(IDC_ROWS, static_cast<int>(key.GetDWORD(u"ViewList.RowsCount", 10)) - 3);
  ShowStyleControls(style == 1 ? 1 : 0);
}

void CTabViewStyle::AddRows(DialogAutoFit& fit) {
  AddLabelledRow(fit, IDC_VIEW_STYLE_LABEL, IDC_VIEW_STYLE);
  fit.SetControlSpacing(Item(IDC_VIEW_STYLE_LABEL), ScaleX(kPageMargin), ScaleY(kPageMargin), ScaleX(kPageMargin),
                        ScaleY(kRowGap));
  for (int id : {IDC_SHOW_THUMBNAIL, IDC_SIMPLE_SHOW_TIME, IDC_SHOW_CHANNEL})
    fit.AddRow(PlainRow(Item(id), DialogAutoFit::kTop));
  AddLabelledRow(fit, IDC_AUTO_SCROLL_LABEL, IDC_AUTO_SCROLL);
  AddLabelledRow(fit, IDC_LINES_LABEL, IDC_LINES);
  for (int id : {IDC_LIST_SHOW_ICON, IDC_LIST_SHOW_TIME}) fit.AddRow(PlainRow(Item(id), DialogAutoFit::kTop));
  AddLabelledRow(fit, IDC_ROWS_LABEL, IDC_ROWS);
  ShowStyleControls(Selection(IDC_VIEW_STYLE) == 1 ? 1 : 0);
}

void CTabViewStyle::ShowStyleControls(int style) {
  for (int id : {IDC_SHOW_THUMBNAIL, IDC_SIMPLE_SHOW_TIME, IDC_SHOW_CHANNEL, IDC_AUTO_SCROLL, IDC_AUTO_SCROLL_LABEL,
                 IDC_LINES, IDC_LINES_LABEL})
    plat::ShowWindow(Item(id), style == 0 ? plat::SW_SHOW : plat::SW_HIDE);
  for (int id : {IDC_LIST_SHOW_ICON, IDC_LIST_SHOW_TIME, IDC_ROWS, IDC_ROWS_LABEL})
    plat::ShowWindow(Item(id), style == 1 ? plat::SW_SHOW : plat::SW_HIDE);
  if (!fit_) return;
  // The rows of the style shown close up under the style's combo.
  std::vector<plat::HWND> shown{Item(IDC_VIEW_STYLE_LABEL)};
  const std::vector<int> simple{IDC_SHOW_THUMBNAIL, IDC_SIMPLE_SHOW_TIME, IDC_SHOW_CHANNEL, IDC_AUTO_SCROLL_LABEL,
                                IDC_LINES_LABEL};
  const std::vector<int> list{IDC_LIST_SHOW_ICON, IDC_LIST_SHOW_TIME, IDC_ROWS_LABEL};
  for (int id : style == 0 ? simple : list) shown.push_back(Item(id));
  fit_->SetVisibleControls(shown);
  fit_->Layout();
  // A hidden label's combo goes with it.
  for (int id : {IDC_AUTO_SCROLL, IDC_LINES, IDC_ROWS}) {
    const bool on = (id == IDC_ROWS) == (style == 1);
    plat::ShowWindow(Item(id), on ? plat::SW_SHOW : plat::SW_HIDE);
  }
}

void CTabViewStyle::OnCommand(plat::WORD id, plat::WORD code) {
  if (id == IDC_VIEW_STYLE && code == plat::CBN_SELCHANGE) ShowStyleControls(Selection(IDC_VIEW_STYLE) == 1 ? 1 : 0);
}

bool CTabViewStyle::OnApply() {
  CVORegistry key = TodayKey();
  bool written = true;
  // A combo left without a selection (its stored value was out of range)
  // keeps the stored value.
  auto combo = [&](int id, const char16_t* name, int offset) {
    const int row = Selection(id);
    if (row >= 0) written = key.SetDWORD(name, static_cast<std::uint32_t>(row + offset)) && written;
  };
  combo(IDC_VIEW_STYLE, u"ViewStyle", 0);
  written = key.SetDWORD(u"ViewSimple.Show.Thumbnail", Checked(IDC_SHOW_THUMBNAIL)) && written;
  written = key.SetDWORD(u"ViewSimple.Show.ArticleTime", Checked(IDC_SIMPLE_SHOW_TIME)) && written;
  written = key.SetDWORD(u"ViewSimple.Show.ChannelName", Checked(IDC_SHOW_CHANNEL)) && written;
  combo(IDC_AUTO_SCROLL, u"ViewSimple.AutoScrollSpeed", 0);
  combo(IDC_LINES, u"ViewSimple.LinesCount", 2);
  written = key.SetDWORD(u"ViewList.Show.ArticleIcon", Checked(IDC_LIST_SHOW_ICON)) && written;
  written = key.SetDWORD(u"ViewList.Show.ArticleTime", Checked(IDC_LIST_SHOW_TIME)) && written;
  combo(IDC_ROWS, u"ViewList.RowsCount", 3);
  return written;
}

// ---- The double-tap guard ------------------------------------------------------------

namespace {
constexpr const char16_t* kListProcProp = u"OrvListProcWithoutDoubleClick";

plat::LRESULT ListWithoutDoubleClick(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  auto previous = reinterpret_cast<plat::WNDPROC>(plat::GetPropW(hwnd, kListProcProp));
  if (msg == plat::WM_LBUTTONDBLCLK) {
    plat::PostMessageW(hwnd, plat::WM_LBUTTONDOWN, wParam, lParam);
    plat::PostMessageW(hwnd, plat::WM_LBUTTONUP, 0, lParam);
    return 0;
  }
  if (msg == plat::WM_DESTROY) plat::RemovePropW(hwnd, kListProcProp);
  return previous ? plat::CallWindowProcW(previous, hwnd, msg, wParam, lParam) : plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}
}  // namespace

void SubclassWithoutDoubleClick(plat::HWND list) {
  if (!list || plat::GetPropW(list, kListProcProp)) return;
  auto previous = plat::GetWindowLongW(list, plat::GWL_WNDPROC);
  plat::SetPropW(list, kListProcProp, reinterpret_cast<plat::HANDLE>(previous));
  plat::SetWindowLongW(list, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&ListWithoutDoubleClick));
}

// ---- The sheet and the program -------------------------------------------------------

namespace {
// The sheet running now on this thread: the platform's callback and the
// sheet's window procedure carry no object of their own.
thread_local COptionsSheet* t_runningSheet = nullptr;
}  // namespace

COptionsSheet::COptionsSheet(CTabChannels& channels, CTabFont& font, CTabViewStyle& style)
    : title_(Text(IDS_SHEET_TITLE)), channels_(channels), pages_{&channels, &font, &style} {}

COptionsSheet::~COptionsSheet() = default;

plat::INT_PTR COptionsSheet::DoModal(plat::HWND owner) {
  plat::PROPSHEETPAGEW sheetPages[kPageCount] = {};
  for (int i = 0; i < kPageCount; ++i) {
    sheetPages[i].dwSize = sizeof(plat::PROPSHEETPAGEW);
    sheetPages[i].hInstance = plat::GetModuleHandleW(nullptr);
    sheetPages[i].pszTemplate = plat::MAKEINTRESOURCEW(static_cast<std::uintptr_t>(pages_[i]->TemplateId()));
    sheetPages[i].pfnDlgProc = &COptionsPage::DialogProc;
    sheetPages[i].lParam = reinterpret_cast<plat::LPARAM>(pages_[i]);
  }
  plat::PROPSHEETHEADERW header{};
  header.dwSize = sizeof header;
  header.dwFlags = plat::PSH_PROPSHEETPAGE | plat::PSH_USECALLBACK | plat::PSH_MAXIMIZE;
  header.hwndParent = owner;
  header.hInstance = plat::GetModuleHandleW(nullptr);
  header.pszCaption = title_.c_str();
  header.nPages = kPageCount;
  header.ppsp = sheetPages;
  header.pfnCallback = &COptionsSheet::SheetCallback;
  outer_ = t_runningSheet;
  t_runningSheet = this;
  const plat::INT_PTR result = plat::PropertySheetW(&header);
  t_runningSheet = outer_;
  outer_ = nullptr;
  hwnd_ = nullptr;
  sheetProc_ = nullptr;
  return result;
}

// The sheet made full screen with the done button, its menu bar and its
// texts in the user's language (posted once the sheet is initialised).
void COptionsSheet::OnInitDialog() {
  plat::SHINITDLGINFO info{plat::SHIDIM_FLAGS, hwnd_,
                           plat::SHIDIF_DONEBUTTON | plat::SHIDIF_SIZEDLGFULLSCREEN | plat::SHIDIF_SIPDOWN};
  plat::SHInitDialog(&info);
  softKeys_.Create(hwnd_, IDR_SHEET_MENU, false);
  // The "Menu" button serves the channels page alone.
  const bool channelsShown =
      channels_.Page() &&
      plat::SendMessageW(hwnd_, plat::PSM_GETCURRENTPAGEHWND, 0, 0) == reinterpret_cast<plat::LRESULT>(channels_.Page());
  if (softKeys_.GetBar() && !channelsShown)
    plat::SendMessageW(softKeys_.GetBar(), plat::TB_HIDEBUTTON, plat::kMenuBarFirstPopupId + 1, plat::TRUE);
  // The tabs carry the pages' captions.
  if (auto tabs = reinterpret_cast<plat::HWND>(plat::SendMessageW(hwnd_, plat::PSM_GETTABCONTROL, 0, 0))) {
    const int count = static_cast<int>(plat::SendMessageW(tabs, plat::TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      char16_t text[128] = {};
      plat::TCITEMW item{};
      item.mask = plat::TCIF_TEXT;
      item.pszText = text;
      item.cchTextMax = 128;
      plat::SendMessageW(tabs, plat::TCM_GETITEMW, static_cast<plat::WPARAM>(i), reinterpret_cast<plat::LPARAM>(&item));
      if (const char16_t* translated = GetLocalizer().FindTranslation(text)) {
        std::u16string t = translated;
        item.pszText = t.data();
        plat::SendMessageW(tabs, plat::TCM_SETITEMW, static_cast<plat::WPARAM>(i), reinterpret_cast<plat::LPARAM>(&item));
      }
    }
  }
}

plat::LRESULT COptionsSheet::WindowProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == plat::WM_INITDIALOG) {
    OnInitDialog();
    return 0;
  }
  // The shell's font-size notice reaches the top-level windows: the sheet
  // hands it to its pages, which measure their rows again.
  static const plat::UINT metricChange = plat::RegisterWindowMessageW(plat::SH_UIMETRIC_CHANGE);
  if (msg == metricChange && metricChange != 0) {
    for (plat::WPARAM i = 0; i < kPageCount; ++i)
      if (auto page = reinterpret_cast<plat::HWND>(plat::SendMessageW(hwnd_, plat::PSM_INDEXTOHWND, i, 0)))
        plat::SendMessageW(page, msg, wParam, lParam);
    return 0;
  }
  // Back keeps what the user chose, as done does: the sheet applies and closes.
  if (msg == plat::WM_HOTKEY && plat::HIWORD(lParam) == plat::VK_TBACK) {
    if (plat::LOWORD(lParam) & plat::MOD_KEYUP) plat::PostMessageW(hwnd_, plat::WM_COMMAND, plat::IDOK, 0);
    return 0;
  }
  if (msg == plat::WM_COMMAND && channels_.WasShown()) {
    if (plat::LOWORD(wParam) == ID_SELECT_ALL) {
      channels_.CheckAll(true);
      return 0;
    }
    if (plat::LOWORD(wParam) == ID_SELECT_NONE) {
      channels_.CheckAll(false);
      return 0;
    }
  }
  return plat::CallWindowProcW(sheetProc_, hwnd_, msg, wParam, lParam);
}

plat::LRESULT COptionsSheet::SubclassProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  COptionsSheet* sheet = t_runningSheet;
  while (sheet && sheet->hwnd_ != hwnd) sheet = sheet->outer_;
  if (!sheet || !sheet->sheetProc_) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  return sheet->WindowProc(msg, wParam, lParam);
}

int COptionsSheet::SheetCallback(plat::HWND hwnd, plat::UINT msg, plat::LPARAM lParam) {
  COptionsSheet* sheet = t_runningSheet;
  if (msg == plat::PSCB_GETVERSION) return 526;
  if (!sheet) return 0;
  if (msg == plat::PSCB_GETTITLE && lParam) {
    auto* buffer = reinterpret_cast<char16_t*>(lParam);
    const std::size_t n = std::min<std::size_t>(sheet->title_.size(), plat::kSheetTitleChars - 1);
    std::memcpy(buffer, sheet->title_.data(), n * sizeof(char16_t));
    buffer[n] = 0;
  } else if (msg == plat::PSCB_INITIALIZED && hwnd) {
    sheet->hwnd_ = hwnd;
    sheet->sheetProc_ = reinterpret_cast<plat::WNDPROC>(plat::GetWindowLongW(hwnd, plat::GWL_WNDPROC));
    plat::SetWindowLongW(hwnd, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&COptionsSheet::SubclassProc));
    plat::PostMessageW(hwnd, plat::WM_INITDIALOG, 0, 0);
  }
  return 0;
}

int OptionsMain(plat::HINSTANCE instance) {
  InitLocalizer();
  plat::InitCommonControls();
  plat::UnregisterClassW(u"052DF53E-3074-4d3d-85BF-94F1D21E010C", instance);
  plat::WNDCLASSW wc{};
  wc.lpfnWndProc = plat::DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = u"052DF53E-3074-4d3d-85BF-94F1D21E010C";
  plat::RegisterClassW(&wc);
  const std::u16string title = Text(IDS_SHEET_TITLE);
  plat::HWND owner = plat::CreateWindowExW(0, wc.lpszClassName, title.c_str(), plat::WS_VISIBLE, -1, -1, 0, 0, nullptr,
                                           nullptr, instance, nullptr);
  CTabChannels channels;
  CTabFont font;
  CTabViewStyle style;
  COptionsSheet sheet(channels, font, style);
  sheet.DoModal(owner);
  if (owner) plat::DestroyWindow(owner);
  return 0;
}
