// Layout benchmark: loads and selects the main layouts from a package built
// with the packer, cold (new providers, the archive opened and every document
// parsed) and warm (cached), then paints 20 plug-ins of one loaded layout,
// each through its Paint, into a 480x640 16-bit bitmap.
//
// Goal: at most 5 ms per plug-in paint.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "core/BitmapBuffer.h"
#include "layout/ContentInterfaces.h"
#include "layout/DefaultLayoutServices.h"
#include "layout/LayoutDocument.h"
#include "layout/LayoutPackage.h"
#include "layout/PluginFactory.h"
#include "tools/LayoutPacker.h"

namespace {

const char* const kLayouts[] = {"Main", "Channels", "Articles", "Article", "Progress", "Options"};

std::string Bmp8(int w, int h, unsigned char value) {
  const int stride = (w + 3) & ~3;
  const int offset = 14 + 40 + 1024;
  std::string out(static_cast<std::size_t>(offset + stride * h), '\0');
  auto put32 = [&](int at, unsigned v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, static_cast<unsigned>(out.size()));
  put32(10, offset);
  put32(14, 40);
  put32(18, w);
  put32(22, h);
  out[26] = 1;
  out[28] = 8;
  for (int i = 0; i < 256; ++i) out[54 + i * 4] = out[55 + i * 4] = out[56 + i * 4] = static_cast<char>(i);
  for (int i = offset; i < static_cast<int>(out.size()); ++i) out[i] = static_cast<char>(value);
  return out;
}

std::string LayoutText(const std::string& name) {
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Layouts>\n<General Skin=\"news_layouts\">"
                     "<DefaultFont Face=\"DejaVu Sans\" HeightPxl=\"11\" Color=\"ffffff\"/></General>\n";
  for (const char* layout : {"Portrait", "Landscape"}) {
    text += "<Layout Name=\"" + name + layout + "\"><Plugins>\n";
    text += "<Plugin Name=\"bg\" Class=\"Orv.LSP.GradBackground\" BoundRect=\"0,0,240,320\">"
            "<Point Name=\"PictOffset\" X=\"20\" Y=\"40\"/></Plugin>\n";
    for (int i = 1; i < 20; ++i) {
      const char* cls = i % 2 ? "Orv.LSP.Text" : "Orv.LSP.SingleLineText";
      text += "<Plugin Name=\"text" + std::to_string(i) + "\" Class=\"" + cls + "\" BoundRect=\"4," +
              std::to_string(i * 15) + ",232,14\"/>\n";
    }
    text += "</Plugins></Layout>\n";
  }
  text += "<Rules><ScreenCondition Width=\"240\" Height=\"320\"><UseLayout Name=\"" + name +
          "Portrait\"/></ScreenCondition><Default><UseLayout Name=\"" + name + "Landscape\"/></Default></Rules>\n";
  return text + "</Layouts>\n";
}

}  // namespace

int main() {
  const std::string device = bench::MakeTempDevice();
  if (device.empty()) return 1;
  plat::SetScreenForTesting(480, 640, 192);
  const std::string source = device + "/layouts";
  std::filesystem::create_directories(source);
  for (const char* name : kLayouts) std::ofstream(source + "/" + name + ".xml") << LayoutText(name);
  std::ofstream(source + "/Background_m.bmp", std::ios::binary) << Bmp8(200, 200, 128);
  std::filesystem::create_directories(plat::DeviceFsRoot() + "/Layouts");
  std::string messages;
  if (!PackLayoutFolder(source, plat::DeviceFsRoot() + "/Layouts/480_news_layouts.dat", messages)) {
    std::fprintf(stderr, "%s", messages.c_str());
    return 1;
  }
  SetLayoutFolder(u"\\Layouts");

  // Cold: fresh services, every document read from the archive and parsed.
  const int coldRounds = 20;
  auto start = bench::Clock::now();
  for (int round = 0; round < coldRounds; ++round) {
    InstallLayoutServices();
    for (const char* name : kLayouts) {
      CRefPtr<LayoutDocument> doc = GetLayoutProvider()->GetLayout(std::u16string(name, name + std::strlen(name)));
      if (!SelectLayout(*doc)) return 1;
    }
    RemoveLayoutServices();
  }
  const double cold = bench::Seconds(start) / coldRounds;

  InstallLayoutServices();
  for (const char* name : kLayouts) GetLayoutProvider()->GetLayout(std::u16string(name, name + std::strlen(name)));
  const int warmRounds = 500;
  start = bench::Clock::now();
  for (int round = 0; round < warmRounds; ++round) {
    for (const char* name : kLayouts) {
      CRefPtr<LayoutDocument> doc = GetLayoutProvider()->GetLayout(std::u16string(name, name + std::strlen(name)));
      if (!SelectLayout(*doc)) return 1;
    }
  }
  const double warm = bench::Seconds(start) / warmRounds;

  // Paint the 20 plug-ins of the selected main layout.
  CRefPtr<LayoutDefinition> layout = SelectLayout(*GetLayoutProvider()->GetLayout(u"Main"));
  std::vector<CComRef<ILayoutPlugin>> plugins;
  std::vector<CComRef<PlacedLayoutItem>> items;
  for (const auto& entry : layout->GetEntries()) {
    CComRef<PlacedLayoutItem> item(new PlacedLayoutItem(entry->GetProperties()));
    std::u16string cls;
    item->GetClass(&cls);
    CComRef<ILayoutPlugin> plugin;
    plugin.Attach(GetPluginFactory()->CreatePlugin(cls.c_str()));
    if (!plugin || plugin->SetProperties(item.Get()) != plat::S_OK) return 1;
    if (auto* text = dynamic_cast<TextPlugin*>(plugin.Get())) text->SetText(u"Orv News: twenty headlines a screen");
    plugins.push_back(plugin);
    items.push_back(item);
  }
  CBitmapBuffer target;
  if (!target.Create(480, 640, CBitmapBuffer::kRgb565)) return 1;
  LayoutPaintRecord record;
  record.dc = target.GetDC();
  record.bottomLimit = 640;
  const int paintRounds = 50;
  double slowest = 0;
  start = bench::Clock::now();
  for (int round = 0; round < paintRounds; ++round) {
    for (auto& plugin : plugins) {
      const auto one = bench::Clock::now();
      plugin->Paint(record);
      slowest = std::max(slowest, bench::Seconds(one));
    }
  }
  const double perPaint = bench::Seconds(start) / (paintRounds * static_cast<double>(plugins.size()));
  RemoveLayoutServices();
  plat::SaveBitmapPng(target.GetBitmap(), device + "/../orvbench_layouts.png");

  std::printf("layouts: %zu documents of %zu plug-ins each\n", std::size(kLayouts), plugins.size());
  std::printf("load+select cold: %.3f ms for all documents\n", cold * 1000);
  std::printf("load+select warm: %.3f ms for all documents\n", warm * 1000);
  std::printf("paint: %.3f ms per plug-in (slowest %.3f ms), goal <= 5 ms\n", perPaint * 1000, slowest * 1000);
  std::printf("peak memory: %ld KB\n", bench::PeakKb());
  std::error_code ec;
  std::filesystem::remove_all(device, ec);
  return perPaint * 1000 <= 5.0 ? 0 : 2;
}
