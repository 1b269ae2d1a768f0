#include "app/dialogs/SheetPage.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "app/dialogs/HelpViewer.h"
#include "core/FontStorage.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/StringUtils.h"
#include "layout/DialogTitle.h"
#include "layout/OwnControls.h"
#include "layout/PPCDialog.h"
#include "layout/ScreenScale.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/StandardControls.h"
#include "platform/ipc/Ipc.h"
#include "platform/windows/SystemMetrics.h"

namespace {

// The empty template every page starts from: a child dialog without items.
#pragma pack(push, 2)
struct EmptyPageTemplate {
  plat::DLGTEMPLATE dialog;
  plat::WORD menu;
  plat::WORD windowClass;
  plat::WORD title;
};
#pragma pack(pop)
const EmptyPageTemplate kEmptyPage{{plat::WS_CHILD | plat::WS_CLIPCHILDREN, 0, 0, 0, 0, 0, 0}, 0, 0, 0};

std::u16string ResourceText(plat::UINT id) { return ApplyProductName(LocalizeResourceString(id)); }

std::u16string ClassOf(plat::HWND window) {
  char16_t name[64] = {};
  plat::GetClassNameW(window, name, 64);
  return name;
}

// The width of a number field's up-down, 96-dpi pixels.
constexpr int kUpDownWidth = 32;

// The sheets running on this thread, innermost last.
thread_local PropertySheet* g_runningSheet = nullptr;

}  // namespace

// ---- SheetPage ------------------------------------------------------------------

SheetPage::SheetPage(plat::UINT titleId, plat::UINT captionId, const char16_t* helpTopic)
    : title_(ResourceText(titleId)), caption_(ResourceText(captionId)), helpTopic_(helpTopic) {}

SheetPage::~SheetPage() {
  // A page destroyed before its window (a test's page) takes the window along.
  if (hwnd_ && plat::IsWindow(hwnd_)) {
    plat::SetWindowLongW(hwnd_, plat::DWL_USER, 0);
    plat::DestroyWindow(hwnd_);
  }
}

plat::UINT SheetPage::GetPostponedInvalidateMessage() {
  static const plat::UINT message = plat::RegisterWindowMessageW(u"postponed invalidate");
  return message;
}

void SheetPage::FillSheetPage(plat::PROPSHEETPAGEW& page) {
  page = plat::PROPSHEETPAGEW{};
  page.dwSize = sizeof page;
  page.dwFlags = plat::PSP_DLGINDIRECT | plat::PSP_USETITLE;
  page.pResource = &kEmptyPage.dialog;
  page.pszTitle = title_.c_str();
  page.pfnDlgProc = &SheetPage::DialogProc;
  page.lParam = reinterpret_cast<plat::LPARAM>(this);
}

plat::HWND SheetPage::Create(plat::HWND parent) {
  plat::PROPSHEETPAGEW page{};
  FillSheetPage(page);
  plat::HWND hwnd = plat::CreateDialogIndirectParamW(nullptr, &kEmptyPage.dialog, parent, &SheetPage::DialogProc,
                                                     reinterpret_cast<plat::LPARAM>(&page));
  if (hwnd && parent) {
    plat::RECT client{};
    plat::GetClientRect(parent, &client);
    plat::MoveWindow(hwnd, 0, 0, client.right, client.bottom, plat::TRUE);
    plat::ShowWindow(hwnd, plat::SW_SHOW);
  }
  return hwnd;
}

plat::INT_PTR SheetPage::DialogProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  if (msg == plat::WM_INITDIALOG) {
    const auto* sheetPage = reinterpret_cast<const plat::PROPSHEETPAGEW*>(lParam);
    auto* page = sheetPage ? reinterpret_cast<SheetPage*>(sheetPage->lParam) : nullptr;
    if (!page) return plat::FALSE;
    plat::SetWindowLongW(hwnd, plat::DWL_USER, reinterpret_cast<plat::LONG_PTR>(page));
    page->hwnd_ = hwnd;
    page->opened_ = true;
    plat::SetWindowTextW(hwnd, page->caption_.c_str());
    page->OnInitPage();
    if (!page->rows_) page->BindRows();
    if (plat::HWND first = page->GetFirstFocus()) plat::SetFocus(first);
    return plat::FALSE;
  }
  auto* page = reinterpret_cast<SheetPage*>(plat::GetWindowLongW(hwnd, plat::DWL_USER));
  if (!page) return plat::FALSE;
  if (msg == plat::WM_DESTROY) {
    plat::SetWindowLongW(hwnd, plat::DWL_USER, 0);
    page->hwnd_ = nullptr;
    return plat::FALSE;
  }
  return page->Dispatch(msg, wParam, lParam);
}

plat::INT_PTR SheetPage::Dispatch(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  plat::LRESULT result = 0;
  if (OnPageMessage(msg, wParam, lParam, result)) {
    plat::SetWindowLongW(hwnd_, plat::DWL_MSGRESULT, result);
    return plat::TRUE;
  }
  if (msg == GetPostponedInvalidateMessage() && msg != 0) {
    InvalidateWithChildren(hwnd_);
    return plat::TRUE;
  }
  switch (msg) {
    case plat::WM_COMMAND:
      return OnCommand(plat::LOWORD(wParam), plat::HIWORD(wParam), reinterpret_cast<plat::HWND>(lParam)) ? plat::TRUE
                                                                                                          : plat::FALSE;
    case plat::WM_NOTIFY: {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      if (!header || !OnNotify(header, result)) return plat::FALSE;
      plat::SetWindowLongW(hwnd_, plat::DWL_MSGRESULT, result);
      return plat::TRUE;
    }
    case plat::WM_SIZE:
      LayoutRows();
      OnLayout();
      return plat::FALSE;
    case plat::WM_KILLFOCUS:
      plat::PostMessageW(hwnd_, GetPostponedInvalidateMessage(), 0, 0);
      return plat::FALSE;
    case plat::WM_HELP:
    case 0x2000 + plat::WM_HELP:  // reflected from a control of the page
      ShowHelpTopic(helpTopic_);
      return plat::TRUE;
    case plat::WM_PAINT:
      PaintHeader();
      return plat::TRUE;
    default:
      return plat::FALSE;
  }
}

bool SheetPage::OnNotify(const plat::NMHDR* header, plat::LRESULT& result) {
  switch (header->code) {
    case plat::PSN_SETACTIVE:
      InvalidateWithChildren(hwnd_);
      plat::PostMessageW(hwnd_, GetPostponedInvalidateMessage(), 0, 0);
      result = 0;
      return true;
    case plat::PSN_KILLACTIVE:
      plat::PostMessageW(hwnd_, GetPostponedInvalidateMessage(), 0, 0);
      result = OnKillActive() ? plat::FALSE : plat::TRUE;
      return true;
    case plat::PSN_APPLY:
      // A refused apply shows this page and keeps the sheet open.
      result = OnApply() ? plat::PSNRET_NOERROR : plat::PSNRET_INVALID;
      return true;
    case plat::PSN_HELP:
      ShowHelpTopic(helpTopic_);
      result = 0;
      return true;
    default:
      return false;
  }
}

void SheetPage::PaintHeader() {
  plat::PAINTSTRUCT ps{};
  plat::HDC dc = plat::BeginPaint(hwnd_, &ps);
  if (dc) DrawDialogTitle(dc, caption_, GetDialogHeaderHeight(), -GetScrollPosition(hwnd_, plat::SB_VERT), nullptr);
  plat::EndPaint(hwnd_, &ps);
}

plat::HWND SheetPage::AddChild(const char16_t* cls, const std::u16string& text, plat::DWORD style, int id,
                               int width) {
  plat::HWND child = plat::CreateWindowExW(0, cls, text.c_str(), style, 0, 0, width, 0, hwnd_,
                                           reinterpret_cast<plat::HMENU>(static_cast<std::intptr_t>(id)), nullptr,
                                           nullptr);
  if (child)
    plat::SendMessageW(child, plat::WM_SETFONT, reinterpret_cast<plat::WPARAM>(GetSystemFontsStorage().GetFont()), 0);
  return child;
}

plat::HWND SheetPage::AddLabel(const std::u16string& text, int id) {
  return AddChild(u"STATIC", text, plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_GROUP, id);
}

plat::HWND SheetPage::AddCheckBox(const std::u16string& text, int id) {
  return AddChild(u"BUTTON", text,
                  plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_TABSTOP | plat::BS_AUTOCHECKBOX | plat::BS_MULTILINE, id);
}

plat::HWND SheetPage::AddComboBox(int id, const std::vector<std::u16string>& items) {
  plat::HWND combo = AddChild(u"COMBOBOX", u"",
                              plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_TABSTOP | plat::WS_VSCROLL | plat::CBS_DROPDOWNLIST,
                              id);
  for (const std::u16string& item : items)
    plat::SendMessageW(combo, plat::CB_ADDSTRING, 0, reinterpret_cast<plat::LPARAM>(item.c_str()));
  return combo;
}

plat::HWND SheetPage::AddEdit(int id, const std::u16string& text) {
  return AddChild(u"EDIT", text,
                  plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_TABSTOP | plat::WS_BORDER | plat::ES_AUTOHSCROLL, id);
}

plat::HWND SheetPage::AddNumberField(int id, int minimum, int maximum, int value) {
  // Both have a width before they meet: the up-down takes its part of the edit's.
  plat::HWND edit = AddChild(u"EDIT", u"", kSpinEditStyle, id, ScaleX(4 * kUpDownWidth));
  // The up-down keeps its width at the right of the row.
  plat::HWND upDown = AddChild(plat::UPDOWN_CLASSW, u"", kSpinUpDownStyle, 0, ScaleX(kUpDownWidth));
  if (upDown) {
    plat::SendMessageW(upDown, plat::UDM_SETBUDDY, reinterpret_cast<plat::WPARAM>(edit), 0);
    plat::SendMessageW(upDown, plat::UDM_SETRANGE32, static_cast<plat::WPARAM>(minimum),
                       static_cast<plat::LPARAM>(maximum));
  }
  SetText(edit, plat::Utf8ToUtf16(std::to_string(value)));
  return edit;
}

plat::HWND SheetPage::AddPushButton(const std::u16string& text, int id) {
  return AddChild(u"BUTTON", text, plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_TABSTOP | plat::BS_PUSHBUTTON, id);
}

void SheetPage::BindRows() {
  rows_ = std::make_unique<DialogAutoFit>(hwnd_, true, true, true);
  std::vector<plat::HWND> children;
  for (plat::HWND child = plat::GetWindow(hwnd_, plat::GW_CHILD); child; child = plat::GetWindow(child, plat::GW_HWNDNEXT))
    children.push_back(child);
  // An up-down control answers UDM_GETBUDDY (WM_USER + 106) with its edit
  // box: it joins that row at its right instead of making one.
  std::vector<std::pair<plat::HWND, plat::HWND>> buddies;
  std::vector<plat::HWND> rowControls;
  for (plat::HWND child : children) {
    auto buddy = reinterpret_cast<plat::HWND>(plat::SendMessageW(child, plat::UDM_GETBUDDY, 0, 0));
    if (plat::EqualsNoCase(ClassOf(child), plat::UPDOWN_CLASSW) && buddy && plat::GetParent(buddy) == hwnd_) {
      buddies.emplace_back(buddy, child);
      continue;
    }
    rowControls.push_back(child);
  }
  for (plat::HWND control : rowControls) {
    plat::HWND buddy = nullptr;
    for (const auto& [edit, upDown] : buddies)
      if (edit == control) buddy = upDown;
    rows_->AddRow(control, DialogAutoFit::kTop, buddy);
  }
  LayoutRows();
}

void SheetPage::SetRowIndent(plat::HWND control, int indent) { SetRowSpacing(control, indent, 0, 0, 0); }

void SheetPage::SetRowSpacing(plat::HWND control, int leftIndent, int spaceAbove, int rightIndent, int spaceBelow) {
  if (rows_) rows_->SetControlSpacing(control, leftIndent, spaceAbove, rightIndent, spaceBelow);
}

void SheetPage::LayoutRows() {
  if (rows_ && hwnd_) rows_->Layout();
}

bool SheetPage::IsChecked(plat::HWND button) {
  return plat::SendMessageW(button, plat::BM_GETCHECK, 0, 0) == static_cast<plat::LRESULT>(plat::BST_CHECKED);
}

void SheetPage::SetChecked(plat::HWND button, bool checked) {
  plat::SendMessageW(button, plat::BM_SETCHECK, checked ? plat::BST_CHECKED : plat::BST_UNCHECKED, 0);
}

std::u16string SheetPage::GetText(plat::HWND window) {
  const int length = plat::GetWindowTextLengthW(window);
  std::u16string text(static_cast<std::size_t>(std::max(0, length)) + 1, u'\0');
  const int n = plat::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<std::size_t>(std::max(0, n)));
  return text;
}

void SheetPage::SetText(plat::HWND window, const std::u16string& text) { plat::SetWindowTextW(window, text.c_str()); }

void SheetPage::Enable(plat::HWND window, bool enable) {
  if (!window) return;
  plat::EnableWindow(window, enable ? plat::TRUE : plat::FALSE);
  // A number field's up-down follows its edit box.
  plat::HWND next = plat::GetWindow(window, plat::GW_HWNDNEXT);
  if (next && plat::EqualsNoCase(ClassOf(next), plat::UPDOWN_CLASSW) &&
      reinterpret_cast<plat::HWND>(plat::SendMessageW(next, plat::UDM_GETBUDDY, 0, 0)) == window)
    plat::EnableWindow(next, enable ? plat::TRUE : plat::FALSE);
}

int SheetPage::IndentStep() { return plat::GetSystemMetrics(plat::SM_CXSMICON); }

// ---- PropertySheet ------------------------------------------------------------

PropertySheet::PropertySheet(plat::UINT captionId) : caption_(ResourceText(captionId)) {}

PropertySheet::~PropertySheet() = default;

void PropertySheet::AddPage(SheetPage& page) { pages_.push_back(&page); }

PropertySheet* PropertySheet::GetRunning() { return g_runningSheet; }

plat::INT_PTR PropertySheet::DoModal(plat::HWND owner) {
  if (pages_.empty()) return -1;
  std::vector<plat::PROPSHEETPAGEW> sheetPages(pages_.size());
  for (std::size_t i = 0; i < pages_.size(); ++i) pages_[i]->FillSheetPage(sheetPages[i]);
  plat::PROPSHEETHEADERW header{};
  header.dwSize = sizeof header;
  header.dwFlags = plat::PSH_PROPSHEETPAGE | plat::PSH_USECALLBACK | plat::PSH_MAXIMIZE;
  header.hwndParent = owner;
  header.pszCaption = caption_.c_str();
  header.nPages = static_cast<plat::UINT>(sheetPages.size());
  header.ppsp = sheetPages.data();
  header.pfnCallback = &PropertySheet::SheetCallback;
  pendingTitle_ = caption_;
  outer_ = g_runningSheet;
  g_runningSheet = this;
  const plat::INT_PTR result = DoModalPropertySheet(header, owner);
  g_runningSheet = outer_;
  outer_ = nullptr;
  hwnd_ = nullptr;
  sheetProc_ = nullptr;
  return result;
}

int PropertySheet::SheetCallback(plat::HWND hwnd, plat::UINT msg, plat::LPARAM lParam) {
  PropertySheet* sheet = g_runningSheet;
  switch (msg) {
    case plat::PSCB_GETVERSION:
      return 526;
    case plat::PSCB_INITIALIZED:
      if (sheet && hwnd) {
        sheet->hwnd_ = hwnd;
        sheet->sheetProc_ = reinterpret_cast<plat::WNDPROC>(plat::GetWindowLongW(hwnd, plat::GWL_WNDPROC));
        plat::SetWindowLongW(hwnd, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&PropertySheet::SubclassProc));
        sheet->softKeys_.CreateDoneCancel(hwnd);
      }
      return 0;
    case plat::PSCB_GETTITLE:
      // The caption is handed out once.
      if (sheet && lParam && !sheet->pendingTitle_.empty()) {
        auto* buffer = reinterpret_cast<char16_t*>(lParam);
        const std::size_t n = std::min<std::size_t>(sheet->pendingTitle_.size(), plat::kSheetTitleChars - 1);
        std::copy_n(sheet->pendingTitle_.data(), n, buffer);
        buffer[n] = 0;
        sheet->pendingTitle_.clear();
      }
      return 0;
    default:
      return 0;
  }
}

plat::LRESULT PropertySheet::SubclassProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam) {
  PropertySheet* sheet = g_runningSheet;
  while (sheet && sheet->hwnd_ != hwnd) sheet = sheet->outer_;
  plat::WNDPROC next = sheet ? sheet->sheetProc_ : nullptr;
  if (!next) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  // The sheet ends where its soft-key bar begins, so the bar never covers
  // the page tabs.
  if (msg == plat::WM_SIZE && sheet->softKeys_.GetBar()) {
    plat::RECT window{}, bar{};
    plat::GetWindowRect(hwnd, &window);
    plat::GetWindowRect(sheet->softKeys_.GetBar(), &bar);
    if (plat::IsWindowVisible(sheet->softKeys_.GetBar()) && bar.top > window.top && window.bottom > bar.top) {
      plat::SetWindowPos(hwnd, nullptr, 0, 0, window.right - window.left, bar.top - window.top,
                         plat::SWP_NOMOVE | plat::SWP_NOZORDER | plat::SWP_NOACTIVATE);
      return 0;
    }
  }
  // The shell's soft-key commands for OK and Cancel are Done and Cancel.
  if (msg == plat::WM_COMMAND && (plat::LOWORD(wParam) == kSoftKeyOk || plat::LOWORD(wParam) == kSoftKeyCancel))
    wParam = plat::LOWORD(wParam) == kSoftKeyOk ? plat::IDOK : plat::IDCANCEL;
  return plat::CallWindowProcW(next, hwnd, msg, wParam, lParam);
}
