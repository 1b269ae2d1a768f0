// Virtual list benchmark: a list of 10,000 rows (each a filled background, a
// line of text and the engraved separator) in a 480x640 16-bit bitmap at
// 192 dpi. Times a frame painted while scrolling through the whole list and
// a tap answered (the row found under the point, selected and activated).
//
// Goals: at most 8 ms per frame, at most 2 ms per tap.
#include <algorithm>
#include <cstdio>
#include <string>

#include "bench/BenchSupport.h"
#include "core/BitmapBuffer.h"
#include "layout/DataSources.h"
#include "layout/DialogFontCache.h"
#include "layout/LayoutCom.h"
#include "layout/PluginFactory.h"
#include "layout/ScreenScale.h"
#include "layout/VirtualListPlugin.h"
#include "platform/gdi/Gdi.h"
#include "tests/layout/PluginFixture.h"

namespace {

constexpr int kRows = 10000;
constexpr int kWidth = 480;
constexpr int kHeight = 640;

class Rows : public CLayoutObject<IVirtualList> {
 public:
  Rows() : CLayoutObject(IID_IVirtualList) {}
  plat::HRESULT LoadProperties(ILayoutPlugin*, IPropertySource*, PackageResources*) override { return plat::S_OK; }
  std::int32_t GetRowCount() override { return kRows; }
  std::int32_t GetInitialSelection() override { return 0; }
  std::int32_t GetRowHeight(std::int32_t row, std::int32_t) override { return row % 7 == 0 ? 96 : 64; }
  std::int32_t PaintRow(std::int32_t row, CBitmapBuffer& target, std::int32_t state, const plat::RECT& r) override {
    target.FillRectAlpha(r.left, r.top, r.right - r.left, r.bottom - r.top, state ? 0xC08040 : 0xF0F0F0, 255);
    const std::string digits = std::to_string(row);
    const std::u16string text = u"Article " + std::u16string(digits.begin(), digits.end());
    plat::RECT box = r;
    box.left += 12;
    plat::SetBkMode(target.GetDC(), plat::TRANSPARENT);
    plat::DrawTextW(target.GetDC(), text.c_str(), -1, &box, plat::DT_SINGLELINE | plat::DT_VCENTER | plat::DT_NOPREFIX);
    return 1;
  }
  plat::HRESULT OnSelectionChanged(std::int32_t) override { return plat::S_OK; }
  plat::HRESULT Activate(std::int32_t row, const plat::POINT*) override {
    activated = row;
    return plat::S_OK;
  }
  plat::HRESULT OnContextGesture(std::int32_t, std::int32_t, std::int32_t) override { return plat::S_OK; }
  plat::HRESULT Forward(std::intptr_t, std::intptr_t) override { return plat::S_OK; }
  std::int32_t activated = -1;
};

class Source : public CDataSource {
 public:
  explicit Source(IVirtualList* list) : list_(list) {}
  plat::HRESULT QueryService(plat::REFIID iid, void** object) override {
    if (!SameIid(iid, IID_IVirtualList)) return CDataSource::QueryService(iid, object);
    list_->AddRef();
    *object = list_;
    return plat::S_OK;
  }

 private:
  IVirtualList* list_;
};

}  // namespace

int main() {
  const std::string root = bench::MakeTempDevice();
  if (root.empty()) return 1;
  plat::SetScreenForTesting(kWidth, kHeight, 192);
  ResetUiToolkitForTesting();

  layouttest::FakeHost host;
  layouttest::FakeContent content;
  CComRef<PluginSite> site(new PluginSite(&host));
  CComRef<DialogContentView> view(new DialogContentView(&content));
  CComRef<Rows> rows(new Rows());
  CComRef<Source> source(new Source(rows.Get()));
  content.owner = static_cast<IDataSource*>(source.Get());
  CComRef<ILayoutPlugin> plugin;
  plugin.Attach(CreatePlugin(u"Orv.LSP.VirtualList"));
  auto* list = static_cast<VirtualListPlugin*>(plugin.Get());
  if (list->Init(site.Get(), view.Get()) != plat::S_OK) return 1;
  CComRef<PlacedLayoutItem> item =
      layouttest::ItemFor(u"<Plugin Name=\"rows\" BoundRect=\"0,0,480,640\"/>");
  if (list->SetProperties(item.Get()) != plat::S_OK) return 1;
  plat::SIZE size{};
  list->GetContentSize(nullptr, &size);

  CBitmapBuffer target;
  if (!target.Create(kWidth, kHeight, CBitmapBuffer::kRgb565)) return 1;
  LayoutPaintRecord record;
  record.dc = target.GetDC();
  record.focus = 1;
  record.visibleWidth = kWidth;
  record.visibleHeight = kHeight;
  record.content = {0, 0, kWidth, size.cy};

  // One frame first, so the fonts are loaded before the clock runs.
  list->Paint(record);
  // Frames: scrolled 53 pixels at a time from the top to the bottom.
  int frames = 0;
  double worst = 0;
  const auto start = bench::Clock::now();
  for (int y = 0; y + kHeight <= size.cy; y += 53) {
    const auto t = bench::Clock::now();
    target.FillRectAlpha(0, 0, kWidth, kHeight, 0xFFFFFF, 255);
    record.scrollY = y;
    list->Paint(record);
    worst = std::max(worst, bench::Seconds(t));
    ++frames;
  }
  const double frameMs = bench::Seconds(start) * 1000 / frames;

  // Taps spread over the whole list.
  int taps = 0;
  double tapWorst = 0;
  const auto tapStart = bench::Clock::now();
  for (int y = 5; y < size.cy; y += 997) {
    const auto t = bench::Clock::now();
    const int row = list->HitTest(y);
    list->SetSelection(row);
    plat::POINT p{100, y};
    list->OnTap(&p);
    tapWorst = std::max(tapWorst, bench::Seconds(t));
    ++taps;
  }
  const double tapMs = bench::Seconds(tapStart) * 1000 / taps;

  std::printf("virtual list: %d rows, %d px of content, %dx%d at 192 dpi\n", kRows, static_cast<int>(size.cy), kWidth,
              kHeight);
  std::printf("frame while scrolling: %.3f ms mean, %.3f ms worst over %d frames (goal <= 8 ms)\n", frameMs,
              worst * 1000, frames);
  std::printf("tap: %.3f ms mean, %.3f ms worst over %d taps (goal <= 2 ms), last row %d\n", tapMs, tapWorst * 1000,
              taps, rows->activated);
  return 0;
}
