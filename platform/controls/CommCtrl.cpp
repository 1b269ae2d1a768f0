// Registration of the common controls and the drawing they share.
#include "platform/controls/CommCtrl.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/controls/CommonControlDrawing.h"

namespace plat {

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  if (!init || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
  struct Entry {
    const WCHAR* name;
    WNDPROC proc;
  };
  for (const Entry& e : {Entry{WC_LISTVIEWW, ListViewWndProc}, Entry{PROGRESS_CLASSW, ProgressWndProc},
                        Entry{WC_TABCONTROLW, TabControlWndProc},
                        Entry{UPDOWN_CLASSW, UpDownWndProc}, Entry{WC_TREEVIEWW, TreeViewWndProc},
                        Entry{DATETIMEPICK_CLASSW, DateTimePickWndProc}}) {
    WNDCLASSW existing{};
    if (GetClassInfoW(nullptr, e.name, &existing)) continue;
    WNDCLASSW wc{};
    wc.style = CS_GLOBALCLASS;
    wc.lpfnWndProc = e.proc;
    wc.lpszClassName = e.name;
    if (!RegisterClassW(&wc)) return FALSE;
  }
  return TRUE;
}

void InitCommonControls() {
  INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES | ICC_DATE_CLASSES};
  InitCommonControlsEx(&init);
}

namespace {

struct Font {
  HFONT font = nullptr;
  int height = 0;
};

// One font per screen DPI met, kept for the life of the process.
Font FontForDpi() {
  static std::mutex lock;
  static auto* fonts = new std::map<int, Font>;
  const int dpi = std::max(ScreenDpi(), 96);
  std::lock_guard<std::mutex> g(lock);
  Font& f = (*fonts)[dpi];
  if (!f.font) {
    LOGFONTW lf{};
    lf.lfHeight = -(12 * dpi / 96);
    lf.lfWeight = FW_NORMAL;
    lf.lfQuality = CLEARTYPE_QUALITY;
    const std::u16string face = u"DejaVu Sans";
    face.copy(lf.lfFaceName, face.size());
    f.font = CreateFontIndirectW(&lf);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, f.font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    DeleteDC(dc);
    f.height = tm.tmHeight > 0 ? tm.tmHeight : 14 * dpi / 96;
  }
  return f;
}

}  // namespace

HFONT ControlFont() { return FontForDpi().font; }
int ControlFontHeight() { return FontForDpi().height; }

LRESULT NotifyParent(HWND hwnd, NMHDR* hdr, UINT code) {
  hdr->hwndFrom = hwnd;
  hdr->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd));
  hdr->code = code;
  HWND parent = GetParent(hwnd);
  return parent ? SendMessageW(parent, WM_NOTIFY, hdr->idFrom, reinterpret_cast<LPARAM>(hdr)) : 0;
}

int ScrolledTop(HWND hwnd, WORD code, int top, int perPage, int count) {
  switch (code) {
    case SB_LINEUP: return top - 1;
    case SB_LINEDOWN: return top + 1;
    case SB_PAGEUP: return top - perPage;
    case SB_PAGEDOWN: return top + perPage;
    case SB_TOP: return 0;
    case SB_BOTTOM: return count;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO si{sizeof(SCROLLINFO), SIF_TRACKPOS | SIF_POS, 0, 0, 0, 0, 0};
      if (!GetScrollInfo(hwnd, SB_VERT, &si)) return top;
      return code == SB_THUMBTRACK ? si.nTrackPos : si.nPos;
    }
    default: return top;
  }
}

void DrawCheckBox(HDC dc, int x, int y, int size, bool checked) {
  const int line = std::max(1, size / 13);
  ctl::Fill(dc, RECT{x, y, x + size, y + size}, RGB(0, 0, 0));
  ctl::Fill(dc, RECT{x + line, y + line, x + size - line, y + size - line}, RGB(255, 255, 255));
  if (!checked) return;
  // A tick of two strokes, kept clear of the frame: square dots stepped
  // along each stroke one pixel at a time.
  const int t = std::max(2, size / 6);
  const int in = line + std::max(1, size / 8);
  const int w = size - 2 * in - t;
  const POINT p[3] = {{x + in, y + in + w / 2}, {x + in + w * 2 / 5, y + in + w * 9 / 10}, {x + in + w, y + in}};
  for (int k = 0; k < 2; ++k) {
    const int dx = p[k + 1].x - p[k].x, dy = p[k + 1].y - p[k].y;
    const int steps = std::max(std::abs(dx), std::abs(dy));
    for (int i = 0; i <= steps; ++i) {
      const int px = p[k].x + dx * i / std::max(1, steps), py = p[k].y + dy * i / std::max(1, steps);
      ctl::Fill(dc, RECT{px, py, px + t, py + t}, RGB(0, 0, 0));
    }
  }
}

}  // namespace plat
