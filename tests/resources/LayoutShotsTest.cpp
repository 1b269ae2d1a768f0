// Paints every shipped layout at 240 x 320 and 480 x 640 into PNG files
// under the build folder (layout-shots/), with sample data for the names the
// data sources serve. Plug-ins are made by the program's own factory, given
// their properties through placed items and painted in document order at
// their bound rectangles; an entry whose class the factory cannot make yet is
// drawn as a labelled frame, so its place is still seen.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "core/BitmapBuffer.h"
#include "core/FrameworkProperties.h"
#include "layout/ContentInterfaces.h"
#include "layout/LayoutDocumentReader.h"
#include "layout/LayoutPlugin.h"
#include "platform/base/Text.h"
#include "tests/resources/LayoutsFixture.h"
#include "tools/PngFile.h"

namespace {

using layoutlint::ShippedLayoutsTest;

std::string Narrow(const std::u16string& s) { return plat::Utf16ToUtf8(s); }

// What the screens' data sources would serve.
CPropertyList SampleData() {
  CPropertyList list;
  PrependStringProperty(list, u"List", u"Tap \"New\"\nto add channels");
  PrependStringProperty(list, u"EmptyList", u"The channel has no articles");
  PrependStringProperty(list, u"status", u"Updating 2 of 5 channels");
  PrependStringProperty(list, u"message", u"BBC News - World");
  PrependStringProperty(list, u"Title", u"New Channel");
  PrependIntProperty(list, u"progress", 40);
  PrependIntProperty(list, u"Progress", 40);
  return list;
}

class ShotSiteHost : public IPluginSiteHost {
 public:
  plat::HRESULT LoadLayout(const char16_t*) override { return plat::E_FAIL; }
  plat::HRESULT ReloadLayout() override { return plat::E_FAIL; }
  plat::HWND GetHostWindow() override { return nullptr; }
  void InvalidateAll(bool) override {}
  plat::HRESULT RedrawPlugin(ILayoutPlugin*, bool, const plat::RECT*) override { return plat::S_OK; }
  plat::HRESULT Relayout() override { return plat::S_OK; }
};

// The content side: its owner answers property questions with the sample data.
class ShotContentHost : public IDialogContentHost {
 public:
  plat::HRESULT QueryOwner(plat::REFIID iid, void** object) override {
    if (!SameIid(iid, IID_IPropertySource)) return plat::E_NOINTERFACE;
    auto* source = new LayeredPropertySource(nullptr, SampleData());
    source->AddRef();
    *object = static_cast<IPropertySource*>(source);
    return plat::S_OK;
  }
  std::int32_t GetPluginCount() override { return 0; }
  plat::HRESULT GetPluginByIndex(std::int32_t, ILayoutPlugin**, ILayoutItem**) override { return plat::E_FAIL; }
  plat::HRESULT GetPluginByName(const char16_t*, ILayoutPlugin**, ILayoutItem**) override { return plat::E_FAIL; }
  plat::HRESULT Dispatch(std::int32_t, std::intptr_t, void*) override { return plat::S_FALSE; }
  plat::HRESULT SelectByName(const char16_t*) override { return plat::S_OK; }
  plat::HRESULT GetSelectedName(std::u16string*) override { return plat::E_FAIL; }
  void SetScrollOrigin(plat::POINT) override {}
  plat::POINT GetScrollOrigin() override { return {0, 0}; }
  plat::HRESULT EnsureVisible(const plat::RECT*) override { return plat::S_OK; }
  plat::POINT GetViewPosition() override { return {0, 0}; }
};

bool WritePng(const std::string& path, CBitmapBuffer& buffer) {
  const int w = buffer.GetWidth(), h = buffer.GetHeight();
  std::vector<std::uint8_t> rgba;
  rgba.reserve(static_cast<std::size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    const auto* px = reinterpret_cast<const std::uint16_t*>(buffer.Row(y));
    for (int x = 0; x < w; ++x) {
      const unsigned v = px[x];
      rgba.push_back(static_cast<std::uint8_t>(((v >> 11) & 31) * 255 / 31));
      rgba.push_back(static_cast<std::uint8_t>(((v >> 5) & 63) * 255 / 63));
      rgba.push_back(static_cast<std::uint8_t>((v & 31) * 255 / 31));
      rgba.push_back(255);
    }
  }
  return WritePngRgba(path, w, h, rgba.data());
}

// A frame with the entry's name and class where no plug-in could be made.
void DrawPlaceholder(plat::HDC dc, plat::RECT r, const std::u16string& label, int scale) {
  plat::HPEN pen = plat::CreatePen(plat::PS_DASH, 1, 0x00E0E0E0);
  plat::HGDIOBJ oldPen = plat::SelectObject(dc, pen);
  plat::HGDIOBJ oldBrush = plat::SelectObject(dc, plat::GetStockObject(plat::NULL_BRUSH));
  plat::Rectangle(dc, r.left, r.top, r.right, r.bottom);
  plat::SelectObject(dc, oldBrush);
  plat::SelectObject(dc, oldPen);
  plat::DeleteObject(pen);
  plat::LOGFONTW lf{};
  lf.lfHeight = -10 * scale;
  lf.lfWeight = 400;
  std::u16string face = u"Tahoma";
  std::copy(face.begin(), face.end(), lf.lfFaceName);
  plat::HFONT font = plat::CreateFontIndirectW(&lf);
  plat::HGDIOBJ oldFont = plat::SelectObject(dc, font);
  plat::SetBkMode(dc, plat::TRANSPARENT);
  plat::SetTextColor(dc, 0x00E0E0E0);
  plat::RECT text{r.left + 2 * scale, r.top + scale, r.right - 2 * scale, r.bottom};
  // Small frames stay unlabelled, so they hide nothing drawn inside them.
  if (r.bottom - r.top >= 16 * scale) plat::DrawTextW(dc, label.c_str(), -1, &text, plat::DT_SINGLELINE | plat::DT_NOPREFIX | plat::DT_END_ELLIPSIS);
  plat::SelectObject(dc, oldFont);
  plat::DeleteObject(font);
}

struct Shot {
  int made = 0;                   // entries painted by their plug-in
  std::vector<std::u16string> placeholders;
  std::map<std::u16string, long> changed;  // pixels an entry's painting changed
};

// Paints the selected layout of a document into a target of the given size.
Shot PaintLayout(const LayoutDefinition& layout, CBitmapBuffer& target, int scale) {
  Shot shot;
  ShotSiteHost siteHost;
  ShotContentHost contentHost;
  CComRef<PluginSite> site(new PluginSite(&siteHost));
  CComRef<DialogContentView> content(new DialogContentView(&contentHost));
  plat::HDC dc = target.GetDC();
  plat::RECT clip{0, 0, target.GetWidth(), target.GetHeight()};
  for (const auto& entry : layout.GetEntries()) {
    CPropertyList classValue = FindProperty(entry->GetProperties(), kKeyClass);
    const std::u16string cls = classValue ? classValue->GetString() : std::u16string();
    CComRef<PlacedLayoutItem> item(new PlacedLayoutItem(entry->GetProperties()));
    plat::RECT r{};
    bool hasRect = item->GetBoundRect(&r, 0) == plat::S_OK;
    // A list grows with its rows: show its place down to the view's bottom.
    if (hasRect && r.bottom <= r.top) r.bottom = target.GetHeight();
    // A picture stands at its left-top point, as large as the picture.
    plat::POINT at{};
    if (!hasRect && item->GetPosition(&at) == plat::S_OK) {
      r = {at.x, at.y, at.x + 96 * scale, at.y + 96 * scale};
      hasRect = true;
    }

    std::vector<std::uint16_t> before(static_cast<std::size_t>(target.GetWidth()) * target.GetHeight());
    for (int y = 0; y < target.GetHeight(); ++y)
      std::memcpy(&before[static_cast<std::size_t>(y) * target.GetWidth()], target.Row(y), target.GetWidth() * 2);

    ILayoutPlugin* raw = GetPluginFactory()->CreatePlugin(cls.c_str());
    CComRef<ILayoutPlugin> plugin;
    plugin.Attach(raw);
    bool painted = false;
    if (plugin) {
      plugin->Init(site.Get(), content.Get());
      if (plugin->SetProperties(item.Get()) >= 0) {
        plugin->OnCommand(0, 0);
        LayoutPaintRecord record;
        record.dc = dc;
        record.clip = &clip;
        record.visibleHeight = target.GetHeight();
        record.bottomLimit = target.GetHeight();
        painted = plugin->Paint(record) >= 0;
      }
    }
    if (painted) {
      ++shot.made;
    } else {
      shot.placeholders.push_back(entry->GetName());
      if (hasRect && r.right > r.left) DrawPlaceholder(dc, r, entry->GetName() + u" (" + cls.substr(8) + u")", scale);
    }
    long changed = 0;
    for (int y = 0; y < target.GetHeight(); ++y) {
      const auto* row = reinterpret_cast<const std::uint16_t*>(target.Row(y));
      for (int x = 0; x < target.GetWidth(); ++x) changed += row[x] != before[static_cast<std::size_t>(y) * target.GetWidth() + x];
    }
    shot.changed[entry->GetName()] = changed;
  }
  return shot;
}

TEST_F(ShippedLayoutsTest, PaintEveryLayoutIntoAPicture) {
  const std::string folder = ORV_SHOTS_DIR;
  std::filesystem::create_directories(folder);
  const layoutlint::Screen screens[] = {{240, 320, 96, false}, {480, 640, 192, false}};
  for (const auto& screen : screens) {
    UseScreen(screen);
    const int scale = screen.dpi / 96;
    for (const std::u16string& name : layoutlint::LayoutNames()) {
      SCOPED_TRACE(Narrow(name) + " " + std::to_string(screen.width));
      CRefPtr<LayoutDocument> doc = GetLayoutProvider()->GetLayout(name);
      CRefPtr<LayoutDefinition> layout = SelectLayout(*doc);
      ASSERT_TRUE(layout);
      // The layout view below the task bar and above the menu bar (26 units
      // each); the progress layout fills the main screens' progress form.
      const int width = screen.width;
      const int height = name == u"progress" ? 44 * scale : screen.height - 52 * scale;
      CBitmapBuffer target;
      ASSERT_TRUE(target.Create(width, height, CBitmapBuffer::kRgb565));
      for (int y = 0; y < height; ++y) std::memset(target.Row(y), 0, static_cast<std::size_t>(width) * 2);
      Shot shot = PaintLayout(*layout, target, scale);
      const std::string file = folder + "/" + Narrow(name) + "_" + std::to_string(screen.width) + "x" +
                               std::to_string(screen.height) + ".png";
      EXPECT_TRUE(WritePng(file, target)) << file;

      // What the program's plug-ins drew: the backdrop covers the whole view,
      // and a text plug-in with text from the data source changes pixels.
      for (const auto& entry : layout->GetEntries()) {
        CPropertyList classValue = FindProperty(entry->GetProperties(), kKeyClass);
        const std::u16string cls = classValue ? classValue->GetString() : std::u16string();
        const long changed = shot.changed[entry->GetName()];
        if (cls == u"Orv.LSP.GradBackground") {
          EXPECT_EQ(changed, static_cast<long>(width) * height) << "backdrop";
        }
        if (cls == u"Orv.LSP.Text" || cls == u"Orv.LSP.SingleLineText") {
          EXPECT_GT(changed, 20 * scale) << Narrow(entry->GetName()) << " drew no text";
        }
      }
      EXPECT_GT(shot.made, 0);
      std::string missing;
      for (const auto& p : shot.placeholders) missing += " " + Narrow(p);
      RecordProperty(Narrow(name) + "_" + std::to_string(screen.width) + "_placeholders", missing);
    }
  }
}

}  // namespace
