// Shared set-up of the layout tests: a device of its own with a chosen
// screen, layout packages built from files with the project's packer, small
// BMP files, and 16-bit bitmaps to paint into.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/BitmapBuffer.h"
#include "layout/DefaultLayoutServices.h"
#include "layout/DialogFontCache.h"
#include "layout/LayoutServices.h"
#include "layout/ResourceValues.h"
#include "layout/ScreenScale.h"
#include "platform/base/Device.h"
#include "platform/base/SysInfo.h"
#include "platform/gdi/Gdi.h"
#include "tests/support/TempDevice.h"
#include "tools/LayoutPacker.h"
#include "tools/PngFile.h"

namespace layouttest {

using Files = std::map<std::string, std::string>;

inline std::vector<std::uint8_t> Bytes(const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }

// A BMP file: width x height at bpp (8: grey palette; 16: RGB565 with
// BI_BITFIELDS), rows given top row first as raw pixel values.
inline std::string MakeBmp(int width, int height, int bpp, const std::vector<std::uint32_t>& pixels, bool topDown = false) {
  const int stride = ((bpp * width + 7) / 8 + 3) & ~3;
  const int palette = bpp <= 8 ? (1 << bpp) * 4 : (bpp == 16 ? 12 : 0);
  const std::uint32_t offset = 14 + 40 + palette;
  std::string out(offset + static_cast<std::size_t>(stride) * height, '\0');
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>(v >> (8 * i));
  };
  auto put16 = [&](std::size_t at, std::uint32_t v) {
    out[at] = static_cast<char>(v);
    out[at + 1] = static_cast<char>(v >> 8);
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, static_cast<std::uint32_t>(out.size()));
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(topDown ? -height : height));
  put16(26, 1);
  put16(28, static_cast<std::uint32_t>(bpp));
  put32(30, bpp == 16 ? 3 : 0);
  if (bpp <= 8) {
    const int entries = 1 << bpp;
    for (int i = 0; i < entries; ++i) {
      const auto v = static_cast<std::uint8_t>(bpp == 8 ? i : i * 255 / (entries - 1));
      out[54 + i * 4] = static_cast<char>(v);
      out[54 + i * 4 + 1] = static_cast<char>(v);
      out[54 + i * 4 + 2] = static_cast<char>(v);
    }
  } else if (bpp == 16) {
    put32(54, 0xF800);
    put32(58, 0x07E0);
    put32(62, 0x001F);
  }
  for (int y = 0; y < height; ++y) {
    const int fileRow = topDown ? y : height - 1 - y;
    const std::size_t rowAt = offset + static_cast<std::size_t>(fileRow) * stride;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = pixels.empty() ? 0 : pixels[static_cast<std::size_t>(y) * width + x];
      if (bpp == 16) {
        put16(rowAt + x * 2, v);
      } else if (bpp == 8) {
        out[rowAt + x] = static_cast<char>(v);
      } else if (bpp == 4) {
        out[rowAt + x / 2] = static_cast<char>(out[rowAt + x / 2] | ((v & 15) << ((x & 1) ? 0 : 4)));
      } else if (bpp == 1) {
        out[rowAt + x / 8] = static_cast<char>(out[rowAt + x / 8] | ((v & 1) << (7 - (x & 7))));
      } else {
        for (int b = 0; b < bpp / 8; ++b) out[rowAt + x * (bpp / 8) + b] = static_cast<char>(v >> (8 * b));
      }
    }
  }
  return out;
}

// A bitmap of any depth with given top-down pixel values, stored bottom-up
// or top-down.
inline std::shared_ptr<CBitmapBuffer> Bitmap(int w, int h, int bpp, const std::vector<std::uint32_t>& pixels,
                                             bool topDown = false) {
  const std::string bmp = MakeBmp(w, h, bpp, pixels, topDown);
  auto b = DecodeBitmapResource(reinterpret_cast<const std::uint8_t*>(bmp.data()), bmp.size());
  EXPECT_TRUE(b);
  return b;
}

// Writes a 16-bit bitmap as "<name>.png" in the screenshot folder under the
// build folder.
inline void ShootBitmap(const CBitmapBuffer& buffer, const std::string& name) {
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(buffer.GetWidth()) * buffer.GetHeight() * 4);
  for (int y = 0; y < buffer.GetHeight(); ++y) {
    for (int x = 0; x < buffer.GetWidth(); ++x) {
      const std::uint16_t p = reinterpret_cast<const std::uint16_t*>(buffer.Row(y))[x];
      std::uint8_t* o = &rgba[(static_cast<std::size_t>(y) * buffer.GetWidth() + x) * 4];
      o[0] = static_cast<std::uint8_t>(((p >> 11) & 31) * 255 / 31);
      o[1] = static_cast<std::uint8_t>(((p >> 5) & 63) * 255 / 63);
      o[2] = static_cast<std::uint8_t>((p & 31) * 255 / 31);
      o[3] = 255;
    }
  }
  std::filesystem::create_directories(ORV_SCREEN_SHOTS);
  EXPECT_TRUE(WritePngRgba(std::string(ORV_SCREEN_SHOTS) + "/" + name + ".png", buffer.GetWidth(),
                           buffer.GetHeight(), rgba.data()));
}

// Each test: its own device, a 480x640 screen at 192 DPI unless it poses
// another, and no layout services installed.
class LayoutTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override { SetScreen(480, 640, 192); }
  void TearDown() override {
    RemoveLayoutServices();
    plat::ResetScreenForTesting();
    plat::ResetSystemInfoForTesting();
    ResetUiToolkitForTesting();
  }
  void SetScreen(int width, int height, int dpi) {
    plat::SetScreenForTesting(width, height, dpi);
    ResetUiToolkitForTesting();
  }
  void SetPlatform(const char16_t* type) {
    plat::SystemInfoSettings settings;
    settings.platformType = type;
    plat::SetSystemInfoForTesting(settings);
    // The platform probes are kept per device: the same device again makes
    // them ask anew.
    plat::SetDeviceRoot(device_.Root());
  }

  // Packs the files into the device file "\Layouts\<file>" with the
  // project's packer; returns the packer's messages on failure.
  std::string Pack(const Files& files, const std::string& file) {
    const std::string source = device_.Scratch() + "/pack_" + file;
    std::filesystem::create_directories(source);
    for (const auto& [name, bytes] : files) {
      const std::string path = source + "/" + name;
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      orvtest::WriteHostFile(path, bytes);
    }
    std::filesystem::create_directories(device_.FsRoot() + "/Layouts");
    std::string messages;
    PackLayoutFolder(source, device_.FsRoot() + "/Layouts/" + file, messages);
    return messages;
  }

  // A 16-bit target bitmap selected into a DC.
  struct Target {
    CBitmapBuffer buffer;
    plat::HDC dc = nullptr;
    std::uint16_t& At(int x, int y) { return reinterpret_cast<std::uint16_t*>(buffer.Row(y))[x]; }
  };
  std::unique_ptr<Target> MakeTarget(int width, int height, std::uint16_t fill = 0) {
    auto t = std::make_unique<Target>();
    EXPECT_TRUE(t->buffer.Create(width, height, CBitmapBuffer::kRgb565));
    t->dc = t->buffer.GetDC();
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) t->At(x, y) = fill;
    return t;
  }
};

}  // namespace layouttest
