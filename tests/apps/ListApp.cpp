// A program with one full-screen window holding the layout view, which shows
// a screen with a "VirtualList" of many rows ("Row 0", "Row 1", ...), each
// painted by the list of this program; the screen scrolls with the finger.
// The log says what the test needs to know where every row is:
//
//   ready <w> <h> <pitch> <rows>      the list is painted; pitch: a row's height with its separator
//   select <row>                      the list's selection moved
//   open <row> <top> <bottom> <how>   a row was opened ("tap" or "key"), with the screen rows where it
//                                     was last drawn (- - when it was not)
//   context <row>                     the hold gesture on a row
//   settled <presses> <scroll> <first> <top>
//                                     a press has been handled to its end (drag, glide, tap) and the
//                                     screen repainted: the content's scroll, the first row drawn on
//                                     the screen and the screen row of its top
//   key <vk> <selection> <scroll>     a key has been handled
//   back                              the "Back" swipe reached the window
//   end <code>                        the program ends
//
//   orv-listapp --log <host file> [--rows <count>]
#include <cstdio>
#include <string>
#include <vector>

#include "layout/DialogContent.h"
#include "layout/LayoutCom.h"
#include "layout/LayoutView.h"
#include "layout/ScreenScale.h"
#include "layout/UiKitModule.h"
#include "layout/VirtualListPlugin.h"
#include "platform/windows/SystemMetrics.h"
#include "platform/windows/Windows.h"
#include "tests/apps/AppLog.h"
#include "tests/layout/ScreenParts.h"

namespace {

using namespace plat;
using orvapp::Log;

// The rows: a fixed height, two alternating backgrounds, the selected row
// in orange, the row's name in white at the left.
class Rows : public CLayoutObject<IVirtualList> {
 public:
  Rows(std::int32_t count, std::int32_t height, HFONT font)
      : CLayoutObject(IID_IVirtualList), count_(count), height_(height), font_(font) {}

  HRESULT LoadProperties(ILayoutPlugin*, IPropertySource*, PackageResources*) override { return S_OK; }
  std::int32_t GetRowCount() override { return count_; }
  std::int32_t GetInitialSelection() override { return 0; }
  std::int32_t GetRowHeight(std::int32_t, std::int32_t) override { return height_; }
  std::int32_t PaintRow(std::int32_t row, CBitmapBuffer& target, std::int32_t state, const RECT& r) override {
    // Rows are painted top to bottom: a row at or above the last one begins a new frame.
    if (!drawn_.empty() && row <= drawn_.back().row) drawn_.clear();
    drawn_.push_back({row, r.top, r.bottom});
    const COLORREF back = state == kListItemSelected ? 0x0080FF : (row % 2 ? 0x503020 : 0x402818);
    target.FillRectAlpha(r.left, r.top, r.right - r.left, r.bottom - r.top, back, 255);
    if (HDC dc = target.GetDC()) {
      const int saved = SaveDC(dc);
      SelectObject(dc, font_);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, 0xFFFFFF);
      const std::u16string text = u"Row " + Utf8ToUtf16(std::to_string(row));
      RECT t{r.left + height_ / 3, r.top, r.right, r.top + height_};
      DrawTextW(dc, text.c_str(), -1, &t, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
      RestoreDC(dc, saved);
    }
    return 1;
  }
  HRESULT OnSelectionChanged(std::int32_t row) override {
    Log("select %d", row);
    return S_OK;
  }
  HRESULT Activate(std::int32_t row, const POINT* point) override {
    const Drawn* d = Find(row);
    if (d) Log("open %d %d %d %s", row, d->top, d->bottom, point ? "tap" : "key");
    else Log("open %d - - %s", row, point ? "tap" : "key");
    return S_OK;
  }
  HRESULT OnContextGesture(std::int32_t row, std::int32_t, std::int32_t) override {
    Log("context %d", row);
    return S_OK;
  }
  HRESULT Forward(std::intptr_t, std::intptr_t) override { return E_NOTIMPL; }

  // The first row of the last frame that shows on the screen; -1 when none.
  bool FirstShown(std::int32_t& row, std::int32_t& top) const {
    for (const Drawn& d : drawn_) {
      if (d.bottom > 0) {
        row = d.row;
        top = d.top;
        return true;
      }
    }
    return false;
  }

 private:
  struct Drawn {
    std::int32_t row, top, bottom;
  };
  const Drawn* Find(std::int32_t row) const {
    for (const Drawn& d : drawn_)
      if (d.row == row) return &d;
    return nullptr;
  }

  std::int32_t count_, height_;
  HFONT font_;
  std::vector<Drawn> drawn_;  // the rows of the last frame, top to bottom
};

Rows* g_rows = nullptr;
LayoutView* g_view = nullptr;
WNDPROC g_viewProc = nullptr;
int g_presses = 0;

VirtualListPlugin* ListPlugin() {
  CRefPtr<XmlLayouts::CDialogContent> content = g_view->GetManager()->GetContent();
  if (!content) return nullptr;
  for (const auto& item : content->GetItems()) {
    if (item.name == u"rows") return static_cast<VirtualListPlugin*>(item.plugin.Get());
  }
  return nullptr;
}

std::int32_t ScrollY() {
  CRefPtr<XmlLayouts::CDialogContent> content = g_view->GetManager()->GetContent();
  return content ? content->GetScroll().y : 0;
}

void LogSettled() {
  std::int32_t first = -1, top = 0;
  g_rows->FirstShown(first, top);
  Log("settled %d %d %d %d", g_presses, ScrollY(), first, top);
}

// The view's own procedure runs the whole press (the stylus loop, the drag,
// the glide) and the key; what it left on the screen is logged after it.
LRESULT ViewProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  const LRESULT result = CallWindowProcW(g_viewProc, hwnd, msg, wp, lp);
  if (msg == WM_LBUTTONDOWN || msg == WM_KEYDOWN) {
    UpdateWindow(hwnd);
    if (msg == WM_LBUTTONDOWN) {
      ++g_presses;
      LogSettled();
    } else {
      VirtualListPlugin* list = ListPlugin();
      const std::int32_t selection = list ? list->GetSelection() : -1;
      Log("key %u %d %d", static_cast<unsigned>(wp), selection, ScrollY());
    }
  }
  return result;
}

LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_COMMAND:
      if (wp == kBackCommand) Log("back");
      return 0;
    case WM_SETFOCUS:
      if (g_view && g_view->GetWindow()) SetFocus(g_view->GetWindow());
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wp, lp);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int count = 10000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--log") orvapp::OpenLog(argv[i + 1]);
    else if (option == "--rows") count = std::atoi(argv[i + 1]);
    else return 2;
  }
  InitScreenDpi();
  InitUiKit(nullptr);
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  const int dpi = GetScreenDpiY();
  const std::int32_t rowHeight = 20 * dpi / 96;

  LOGFONTW lf{};
  lf.lfHeight = -(rowHeight * 11 / 20);
  lf.lfWeight = 700;
  const std::u16string face = u"Tahoma";
  face.copy(lf.lfFaceName, LF_FACESIZE - 1);
  HFONT font = CreateFontIndirectW(&lf);

  CRefPtr<layouttest::TestFactory> factory(new layouttest::TestFactory());
  CRefPtr<layouttest::TextLayoutProvider> provider(new layouttest::TextLayoutProvider());
  provider->texts[u"news_blank"] = layouttest::OneLayout(u"news_blank", layouttest::Box(u"blank", 0, 0, width, height));
  const std::u16string bound = Utf8ToUtf16("0,0," + std::to_string(width) + ",0");
  provider->texts[u"list"] =
      layouttest::OneLayout(u"list", u"<Plugin Name=\"rows\" Class=\"Orv.LSP.VirtualList\" BoundRect=\"" + bound + u"\"/>",
                            u"<General><ScrollY Value=\"Auto\"/></General>");
  SetPluginFactory(factory.Get());
  SetLayoutProvider(provider.Get());

  int code = 1;
  {
    CComRef<Rows> rows(new Rows(count, rowHeight, font));
    CComRef<layouttest::ListSource> source(new layouttest::ListSource(rows.Get()));
    g_rows = rows.Get();
    LayoutView view;
    g_view = &view;
    WNDCLASSW wc{};
    wc.lpfnWndProc = &WindowProc;
    wc.lpszClassName = u"OrvListApp";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, u"OrvListApp", u"List", WS_POPUP, 0, 0, width, height, nullptr, nullptr, nullptr,
                                nullptr);
    HWND child = hwnd ? view.Create(hwnd, RECT{0, 0, width, height}, WS_CHILD | WS_VISIBLE) : nullptr;
    if (child) {
      g_viewProc = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(child, GWL_WNDPROC));
      SetWindowLongPtrW(child, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&ViewProc));
      view.ShowLayout(u"list", static_cast<IDataSource*>(source.Get()), 0);
      ShowWindow(hwnd, SW_SHOW);
      SetFocus(child);
      UpdateWindow(hwnd);
      UpdateWindow(child);
      VirtualListPlugin* list = ListPlugin();
      const std::int32_t pitch = list ? list->GetItemHeight(0, width) : 0;
      Log("ready %d %d %d %d", width, height, pitch, count);
      LogSettled();
      MSG m;
      while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
      code = static_cast<int>(m.wParam);
    } else if (hwnd) {
      DestroyWindow(hwnd);
    }
    if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
    g_view = nullptr;
    g_rows = nullptr;
  }
  ResetLayoutProvider();
  ResetPluginFactory();
  DeleteObject(font);
  Log("end %d", code);
  return code;
}
