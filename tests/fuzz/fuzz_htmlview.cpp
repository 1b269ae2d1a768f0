// Fuzzes the HTML viewer's page with untrusted markup: decoding, the bounding
// pass, the renderer's parse, layout at a narrow width, drawing, hit tests and
// the selected text must finish without a fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/gdi/Gdi.h"
#include "platform/htmlview/HtmlPage.h"
#include "platform/htmlview/HtmlSource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string page =
      plat::htmlview::DecodePageBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  plat::htmlview::HtmlPage html(96);
  plat::DWORD cookie = 1;
  html.Load(page, &cookie);
  html.Layout(240);
  const int height = html.ContentHeight();

  plat::BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = 240;
  bi.bmiHeader.biHeight = -320;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 16;
  void* bits = nullptr;
  plat::HBITMAP target = plat::CreateDIBSection(nullptr, &bi, plat::DIB_RGB_COLORS, &bits, nullptr, 0);
  plat::HDC dc = plat::CreateCompatibleDC(nullptr);
  plat::HGDIOBJ old = plat::SelectObject(dc, target);
  const plat::RECT all{0, 0, 240, 320};
  html.Draw(dc, 0, 0, all);
  html.Draw(dc, 0, -(height / 2), all);
  plat::SelectObject(dc, old);
  plat::DeleteDC(dc);
  plat::DeleteObject(target);

  for (int y = 0; y < height && y < 2000; y += 97) html.HitTest(120, y);
  html.SelectAll();
  html.SelectedText();
  html.SetTextSize(4);
  html.Layout(240);
  return 0;
}
