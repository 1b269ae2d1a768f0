// Fuzzes the HTML viewer's page with untrusted markup: decoding, the bounding
// pass, the renderer's parse, layout at a narrow width, drawing, hit tests and
// the selected text must finish without a fault.
#include <sanitizer/lsan_interface.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/gdi/Gdi.h"
#include "platform/htmlview/HtmlPage.h"
#include "platform/htmlview/HtmlSource.h"

// Fontconfig keeps what it loads for the life of the process: every face the
// viewer can ask for is matched once here, outside leak checking.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __lsan_disable();
  plat::htmlview::HtmlPage warm(96);
  plat::DWORD cookie = 1;
  warm.Load("<p>a<b>b<i>c</i></b><i>d</i></p><pre>e<b>f<i>g</i></b><i>h</i></pre>"
            "<p style=\"font-family:serif\">i<b>j<i>k</i></b><i>l</i></p>",
            &cookie);
  warm.Layout(240);
  __lsan_enable();
  return 0;
}

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
