// Property sheets: a full-screen modal window holding its pages as child
// dialogs above a row of tabs at the bottom. Pages are made when first shown;
// Done asks the shown page to let go (PSN_KILLACTIVE) and then every made page
// to apply (PSN_APPLY); a page that refuses keeps the sheet open.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/controls/CommCtrl.h"
#include "platform/controls/CommonControlDrawing.h"
#include "platform/resources/Resources.h"
#include "platform/windows/WindowsInternal.h"

namespace plat {

struct PageData {
  PROPSHEETPAGEW psp{};
  std::u16string title;
  std::vector<BYTE> templ;  // the page's template made a child dialog
  HWND hwnd = nullptr;
};

namespace {

using ctl::Px;

constexpr int kTabId = 0x3020;

// Template parsing: enough to know a template's length and its style's place.
class TemplateWalker {
 public:
  TemplateWalker(const BYTE* p, std::size_t limit) : base_(p), p_(p), end_(p + limit) {}
  bool Word(WORD* v) {
    if (p_ + 2 > end_) return false;
    std::memcpy(v, p_, 2);
    p_ += 2;
    return true;
  }
  bool Skip(std::size_t n) {
    if (p_ + n > end_) return false;
    p_ += n;
    return true;
  }
  // A name or an ordinal (0xFFFF then a number), or 0 for none; the name
  // is kept in text when asked.
  bool SzOrOrd(std::u16string* text = nullptr) {
    WORD w = 0;
    if (!Word(&w)) return false;
    if (w == 0xFFFF) return Skip(2);
    while (w != 0) {
      if (text) text->push_back(static_cast<char16_t>(w));
      if (!Word(&w)) return false;
    }
    return true;
  }
  bool Align() { return Skip((4 - Offset() % 4) % 4); }
  std::size_t Offset() const { return static_cast<std::size_t>(p_ - base_); }

 private:
  const BYTE* base_;
  const BYTE* p_;
  const BYTE* end_;
};

// The length of a dialog template (DLGTEMPLATE or DLGTEMPLATEEX) and where
// its style is, and its caption; 0 when it cannot be read within limit bytes.
std::size_t TemplateLength(const BYTE* t, std::size_t limit, std::size_t* styleAt, std::u16string* caption) {
  TemplateWalker r(t, limit);
  WORD ver = 0, sig = 0;
  if (!r.Word(&ver) || !r.Word(&sig)) return 0;
  const bool ex = ver == 1 && sig == 0xFFFF;
  DWORD style = 0;
  WORD count = 0;
  if (ex) {
    *styleAt = 12;
    if (!r.Skip(8) || limit < 26) return 0;
    std::memcpy(&style, t + 12, 4);
    std::memcpy(&count, t + 16, 2);
    if (!r.Skip(4 + 2 + 8)) return 0;
  } else {
    *styleAt = 0;
    if (limit < 18) return 0;
    std::memcpy(&style, t, 4);
    std::memcpy(&count, t + 8, 2);
    if (!r.Skip(14)) return 0;
  }
  if (!r.SzOrOrd() || !r.SzOrOrd() || !r.SzOrOrd(caption)) return 0;
  if (style & DS_SETFONT) {
    if (!r.Skip(ex ? 6 : 2) || !r.SzOrOrd()) return 0;
  }
  for (WORD i = 0; i < count; ++i) {
    if (!r.Align() || !r.Skip(ex ? 24 : 18) || !r.SzOrOrd() || !r.SzOrOrd()) return 0;
    WORD extra = 0;
    if (!r.Word(&extra) || !r.Skip(extra)) return 0;
  }
  return r.Offset();
}

// The largest template read from memory handed over by a program.
constexpr std::size_t kTemplateLimit = 1 << 20;

bool CopyTemplate(PageData& page) {
  const BYTE* t = nullptr;
  std::size_t limit = kTemplateLimit;
  if (page.psp.dwFlags & PSP_DLGINDIRECT) {
    t = reinterpret_cast<const BYTE*>(page.psp.pResource);
  } else {
    HRSRC res = FindResourceW(page.psp.hInstance, page.psp.pszTemplate, RT_DIALOG);
    if (!res) return false;
    t = static_cast<const BYTE*>(LockResource(LoadResource(page.psp.hInstance, res)));
    limit = SizeofResource(page.psp.hInstance, res);
  }
  if (!t) return false;
  std::size_t styleAt = 0;
  std::u16string caption;
  const std::size_t n = TemplateLength(t, limit, &styleAt, &caption);
  if (n == 0) return false;
  page.templ.assign(t, t + n);
  // A page without a title of the program's is named by its caption.
  if (page.title.empty()) page.title = caption;
  DWORD style = 0;
  std::memcpy(&style, page.templ.data() + styleAt, 4);
  style = (style & ~(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME)) | WS_CHILD;
  std::memcpy(page.templ.data() + styleAt, &style, 4);
  return true;
}

struct Sheet {
  std::vector<HPROPSHEETPAGE> pages;
  PFNPROPSHEETCALLBACK callback = nullptr;
  HWND hwnd = nullptr;
  HWND tabs = nullptr;
  int cur = -1;
  bool done = false;
  INT_PTR result = 0;
  std::u16string linkText;
};

Sheet* SheetOf(HWND hwnd) { return reinterpret_cast<Sheet*>(GetWindowLongW(hwnd, DWL_USER)); }

// Sends a page notification; the page's answer (DWL_MSGRESULT).
LRESULT NotifyPage(Sheet& s, HWND page, UINT code, LPARAM lParam = 0) {
  if (!page) return 0;
  PSHNOTIFY nm{{s.hwnd, 0, code}, lParam};
  return SendMessageW(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&nm));
}

HWND CurrentPage(const Sheet& s) {
  return s.cur >= 0 && s.cur < static_cast<int>(s.pages.size()) ? s.pages[static_cast<std::size_t>(s.cur)]->hwnd
                                                                  : nullptr;
}

int TabHeight() { return ControlFontHeight() + Px(10); }

RECT PageArea(const Sheet& s) {
  RECT rc{};
  GetClientRect(s.hwnd, &rc);
  rc.bottom = std::max<LONG>(0, rc.bottom - TabHeight());
  return rc;
}

void Layout(Sheet& s) {
  RECT rc{};
  GetClientRect(s.hwnd, &rc);
  const RECT area = PageArea(s);
  if (s.tabs) MoveWindow(s.tabs, 0, area.bottom, rc.right, rc.bottom - area.bottom, TRUE);
  for (HPROPSHEETPAGE p : s.pages)
    if (p->hwnd) MoveWindow(p->hwnd, 0, 0, area.right, area.bottom, TRUE);
}

HWND MakePage(Sheet& s, PageData& page) {
  if (page.hwnd) return page.hwnd;
  if (page.templ.empty()) return nullptr;
  page.hwnd = CreateDialogIndirectParamW(page.psp.hInstance, reinterpret_cast<const DLGTEMPLATE*>(page.templ.data()),
                                         s.hwnd, page.psp.pfnDlgProc, reinterpret_cast<LPARAM>(&page.psp));
  if (page.hwnd) {
    const RECT area = PageArea(s);
    MoveWindow(page.hwnd, 0, 0, area.right, area.bottom, FALSE);
  }
  return page.hwnd;
}

// Shows page i after the shown one let go; false when it stays as it was.
bool ShowPage(Sheet& s, int i, bool askCurrent) {
  if (i < 0 || i >= static_cast<int>(s.pages.size())) return false;
  HWND old = CurrentPage(s);
  if (i == s.cur && old) return true;
  if (askCurrent && old && NotifyPage(s, old, PSN_KILLACTIVE)) return false;
  HWND page = MakePage(s, *s.pages[static_cast<std::size_t>(i)]);
  if (!page) return false;
  if (NotifyPage(s, page, PSN_SETACTIVE) == -1) return false;
  if (old) ShowWindow(old, SW_HIDE);
  s.cur = i;
  ShowWindow(page, SW_SHOW);
  if (s.tabs) SendMessageW(s.tabs, TCM_SETCURSEL, static_cast<WPARAM>(i), 0);
  HWND first = GetNextDlgTabItem(page, nullptr, FALSE);
  SetFocus(first ? first : page);
  return true;
}

void Apply(Sheet& s) {
  if (NotifyPage(s, CurrentPage(s), PSN_KILLACTIVE)) return;
  for (std::size_t i = 0; i < s.pages.size(); ++i) {
    HWND page = s.pages[i]->hwnd;
    if (!page) continue;
    const LRESULT r = NotifyPage(s, page, PSN_APPLY, TRUE);
    if (r == PSNRET_INVALID) {
      ShowPage(s, static_cast<int>(i), false);
      return;
    }
    if (r == PSNRET_INVALID_NOCHANGEPAGE) return;
  }
  s.result = 1;
  s.done = true;
}

void Cancel(Sheet& s) {
  if (NotifyPage(s, CurrentPage(s), PSN_QUERYCANCEL)) return;
  for (HPROPSHEETPAGE p : s.pages) NotifyPage(s, p->hwnd, PSN_RESET);
  s.result = 0;
  s.done = true;
}

INT_PTR SetResult(HWND hwnd, LRESULT value) {
  SetWindowLongW(hwnd, DWL_MSGRESULT, value);
  return TRUE;
}

INT_PTR SheetProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongW(hwnd, DWL_USER, lParam);
    return FALSE;
  }
  Sheet* sheet = SheetOf(hwnd);
  if (!sheet) return FALSE;
  Sheet& s = *sheet;
  switch (msg) {
    case WM_SIZE:
      Layout(s);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) Apply(s);
      else if (LOWORD(wParam) == IDCANCEL) Cancel(s);
      else return FALSE;
      return TRUE;
    case WM_HELP:
      NotifyPage(s, CurrentPage(s), PSN_HELP);
      return TRUE;
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (!hdr || hdr->hwndFrom != s.tabs) return FALSE;
      if (hdr->code == TCN_SELCHANGING) return SetResult(hwnd, NotifyPage(s, CurrentPage(s), PSN_KILLACTIVE) ? 1 : 0);
      if (hdr->code == TCN_SELCHANGE) {
        const int want = static_cast<int>(SendMessageW(s.tabs, TCM_GETCURSEL, 0, 0));
        if (!ShowPage(s, want, false)) SendMessageW(s.tabs, TCM_SETCURSEL, static_cast<WPARAM>(s.cur), 0);
      }
      return TRUE;
    }
    case PSM_SETCURSEL:
      return SetResult(hwnd, ShowPage(s, static_cast<int>(wParam), true) ? TRUE : FALSE);
    case PSM_GETCURRENTPAGEHWND:
      return SetResult(hwnd, reinterpret_cast<LRESULT>(CurrentPage(s)));
    case PSM_GETTABCONTROL:
      return SetResult(hwnd, reinterpret_cast<LRESULT>(s.tabs));
    case PSM_INDEXTOHWND:
      return SetResult(hwnd, wParam < s.pages.size() ? reinterpret_cast<LRESULT>(s.pages[wParam]->hwnd) : 0);
    case PSM_CHANGED:
    case PSM_UNCHANGED:
      return SetResult(hwnd, 0);
    case PSM_PRESSBUTTON:
      if (wParam == PSBTN_OK) Apply(s);
      else if (wParam == PSBTN_CANCEL) Cancel(s);
      else if (wParam == PSBTN_HELP) NotifyPage(s, CurrentPage(s), PSN_HELP);
      return SetResult(hwnd, 0);
    default:
      return FALSE;
  }
}

void ReleasePage(HPROPSHEETPAGE p) {
  if (p->psp.dwFlags & PSP_USECALLBACK && p->psp.pfnCallback) p->psp.pfnCallback(nullptr, PSPCB_RELEASE, &p->psp);
  delete p;
}

}  // namespace

HPROPSHEETPAGE CreatePropertySheetPageW(const PROPSHEETPAGEW* psp) {
  if (!psp || psp->dwSize < sizeof(PROPSHEETPAGEW) || !psp->pfnDlgProc) return nullptr;
  auto* page = new (std::nothrow) PageData;
  if (!page) return nullptr;
  page->psp = *psp;
  if ((psp->dwFlags & PSP_USETITLE) && psp->pszTitle) page->title = psp->pszTitle;
  if (!CopyTemplate(*page) ||
      ((psp->dwFlags & PSP_USECALLBACK) && psp->pfnCallback && !psp->pfnCallback(nullptr, PSPCB_CREATE, &page->psp))) {
    delete page;
    return nullptr;
  }
  page->psp.pszTitle = nullptr;
  return page;
}

BOOL DestroyPropertySheetPage(HPROPSHEETPAGE page) {
  if (!page) return FALSE;
  if (page->hwnd) DestroyWindow(page->hwnd);
  ReleasePage(page);
  return TRUE;
}

INT_PTR PropertySheetW(const PROPSHEETHEADERW* h) {
  if (!h || h->dwSize < sizeof(PROPSHEETHEADERW) || h->nPages == 0) return -1;
  InitCommonControls();
  Sheet s;
  for (UINT i = 0; i < h->nPages; ++i) {
    HPROPSHEETPAGE p = (h->dwFlags & PSH_PROPSHEETPAGE) ? (h->ppsp ? CreatePropertySheetPageW(&h->ppsp[i]) : nullptr)
                                                         : (h->phpage ? h->phpage[i] : nullptr);
    if (p) s.pages.push_back(p);
  }
  auto releaseAll = [&] {
    for (HPROPSHEETPAGE p : s.pages) {
      if (p->hwnd && IsWindow(p->hwnd)) DestroyWindow(p->hwnd);
      ReleasePage(p);
    }
  };
  if (s.pages.empty()) return -1;
  s.callback = (h->dwFlags & PSH_USECALLBACK) ? h->pfnCallback : nullptr;

  // The sheet: an empty dialog covering the screen.
  struct {
    DLGTEMPLATE t;
    WORD menu, cls, title;
  } tmpl{{WS_POPUP | WS_CLIPSIBLINGS, 0, 0, 0, 0, 0, 0}, 0, 0, 0};
  if (s.callback) {
    s.callback(nullptr, PSCB_GETVERSION, 0);
    s.callback(nullptr, PSCB_PRECREATE, reinterpret_cast<LPARAM>(&tmpl.t));
  }
  tmpl.t.style &= ~DS_SETFONT;  // the template carries no font
  tmpl.t.cdit = 0;
  s.hwnd = CreateDialogIndirectParamW(h->hInstance, &tmpl.t, h->hwndParent, SheetProc, reinterpret_cast<LPARAM>(&s));
  if (!s.hwnd) {
    releaseAll();
    return -1;
  }
  if (h->pszCaption) SetWindowTextW(s.hwnd, h->pszCaption);
  if (s.callback) {
    s.callback(s.hwnd, PSCB_INITIALIZED, 0);
    WCHAR title[kSheetTitleChars + 1] = {};
    s.callback(s.hwnd, PSCB_GETTITLE, reinterpret_cast<LPARAM>(title));
    title[kSheetTitleChars] = 0;
    if (title[0]) SetWindowTextW(s.hwnd, title);
    WCHAR link[kSheetLinkChars + 1] = {};
    s.callback(s.hwnd, PSCB_GETLINKTEXT, reinterpret_cast<LPARAM>(link));
    link[kSheetLinkChars] = 0;
    s.linkText = link;
  }
  s.tabs = CreateWindowExW(0, WC_TABCONTROLW, u"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TCS_BOTTOM, 0, 0, 0, 0,
                           s.hwnd, reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(kTabId)), nullptr, nullptr);
  for (std::size_t i = 0; i < s.pages.size(); ++i) {
    PageData& p = *s.pages[i];
    std::u16string text = p.title;
    TCITEMW item{TCIF_TEXT | TCIF_PARAM, 0, 0, text.data(), 0, -1, static_cast<LPARAM>(i)};
    if (s.tabs) SendMessageW(s.tabs, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  MoveWindow(s.hwnd, 0, 0, ScreenWidth(), ScreenHeight(), FALSE);
  Layout(s);
  const int start = h->nStartPage < s.pages.size() ? static_cast<int>(h->nStartPage) : 0;
  if (!ShowPage(s, start, false)) {
    for (int i = 0; i < static_cast<int>(s.pages.size()) && s.cur < 0; ++i) ShowPage(s, i, false);
  }
  ShowWindow(s.hwnd, SW_SHOW);

  HWND owner = h->hwndParent;
  const bool ownerEnabled = owner && IsWindowEnabled(owner);
  wm::ModalFocus focus(owner);
  if (ownerEnabled) EnableWindow(owner, FALSE);
  MSG m{};
  while (!s.done && IsWindow(s.hwnd)) {
    const int got = GetMessageW(&m, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(m.wParam));
      s.result = 0;
      break;
    }
    HWND page = CurrentPage(s);
    // Enter (or the action key) is Done and escape is Cancel for the whole
    // sheet, unless the focused control wants the key itself.
    // A held Back (escape) cancels once.
    if (m.message == WM_KEYDOWN && m.wParam == VK_ESCAPE && IsRepeatedKeyDown(m.lParam)) continue;
    if (m.message == WM_KEYDOWN && (m.wParam == VK_RETURN || m.wParam == VK_ACTION || m.wParam == VK_ESCAPE) &&
        !(m.hwnd && (SendMessageW(m.hwnd, WM_GETDLGCODE, m.wParam, 0) & (DLGC_WANTALLKEYS | DLGC_WANTCHARS)) &&
          m.wParam != VK_ESCAPE)) {
      SendMessageW(s.hwnd, WM_COMMAND, m.wParam == VK_ESCAPE ? IDCANCEL : IDOK, 0);
      continue;
    }
    if (page && IsDialogMessageW(page, &m)) continue;
    if (IsDialogMessageW(s.hwnd, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  if (ownerEnabled) EnableWindow(owner, TRUE);
  // The owner takes the keys again before the sheet leaves the screen.
  focus.Return();
  const INT_PTR result = s.result;
  for (HPROPSHEETPAGE p : s.pages)
    if (p->hwnd && IsWindow(p->hwnd)) DestroyWindow(p->hwnd), p->hwnd = nullptr;
  if (IsWindow(s.hwnd)) {
    SetWindowLongW(s.hwnd, DWL_USER, 0);
    DestroyWindow(s.hwnd);
  }
  releaseAll();
  return result;
}

}  // namespace plat
