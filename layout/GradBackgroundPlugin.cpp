#include "layout/GradBackgroundPlugin.h"

#include <algorithm>

#include "core/DeviceInfo.h"
#include "layout/LayoutPackage.h"
#include "layout/LayoutServices.h"
#include "layout/MaskBlend.h"
#include "layout/ResourceValues.h"

using plat::E_FAIL;
using plat::HRESULT;
using plat::S_OK;

plat::COLORREF HsvToColour(int hue, int saturation, int value) {
  hue %= 240;
  if (hue < 0) hue += 240;
  const int sector = hue / 40;
  const int f = hue % 40;  // position inside the sector, of 40
  const int p = value * (240 - saturation) / 240;
  const int q = value * (240 - saturation * f / 40) / 240;
  const int t = value * (240 - saturation * (40 - f) / 40) / 240;
  int r, g, b;
  switch (sector) {
    case 0: r = value; g = t; b = p; break;
    case 1: r = q; g = value; b = p; break;
    case 2: r = p; g = value; b = t; break;
    case 3: r = p; g = q; b = value; break;
    case 4: r = t; g = p; b = value; break;
    default: r = value; g = p; b = q; break;
  }
  auto scale = [](int c) { return std::min(255, c * 255 / 240); };
  return static_cast<plat::COLORREF>(scale(r) | (scale(g) << 8) | (scale(b) << 16));
}

GradientColours ThemeGradientColours(int hue) {
  constexpr int kSaturation = 216;
  constexpr int kLevel = 100;
  const int high = std::min(kLevel * 17760 / 10000, 240);
  const int low = std::min(kLevel * 6960 / 10000, 240);
  const int grey = std::min(kLevel * 3825 / 10000, 255);
  if (hue < 0) {
    const plat::COLORREF flat = static_cast<plat::COLORREF>(grey | (grey << 8) | (grey << 16));
    return {flat, flat};
  }
  constexpr int p1 = 0;
  constexpr int p2 = 100;
  return {HsvToColour(hue, kSaturation, low + (high - low) * p1 / 100),
          HsvToColour(hue, kSaturation, low + (high - low) * p2 / 100)};
}

HRESULT GradBackgroundPlugin::GetValue(std::int32_t* value) {
  if (value) *value = 0;
  return S_OK;
}

HRESULT GradBackgroundPlugin::OnNameChanged() {
  CRefPtr<IResourcePackageProviderService> packages = GetResourcePackageProvider();
  if (!packages) return E_FAIL;
  CRefPtr<PackageResources> package = packages->GetPackage(GetSkinName());
  if (!package) return E_FAIL;
  ResourceLock use(package.Get(), false, true);
  std::shared_ptr<CBitmapBuffer> mask;
  if (!package->GetImage(u"Background_m.bmp", mask, true)) return E_FAIL;
  backgroundMask_ = mask;
  static const char16_t* const kNames[3][2] = {{u"Separator.bmp", u"Separator_m.bmp"},
                                               {u"Separator1.bmp", u"Separator1_m.bmp"},
                                               {u"Separator2.bmp", u"Separator2_m.bmp"}};
  for (int i = 0; i < 3; ++i) {
    MaskedImage image;
    if (package->GetImage(kNames[i][0], image.picture, true) && package->GetImage(kNames[i][1], image.mask, true)) {
      separators_[i] = image;
    } else {
      separators_[i] = MaskedImage{};
    }
  }
  return S_OK;
}

HRESULT GradBackgroundPlugin::DoPaint(plat::HDC dc, const plat::RECT* clip, std::int32_t) {
  if (!dc && !clip) return E_FAIL;
  ILayoutItem* item = GetItem();
  const CPropertyPair offset = GetPairPropertyOr(item, u"PictOffset", 0, 0);
  CBitmapBuffer target;
  if (!dc || !target.Attach(static_cast<plat::HBITMAP>(plat::GetCurrentObject(dc, plat::OBJ_BITMAP)), dc))
    ThrowLayout(ORV_E_LAYOUT);
  const int hue = GetThemeBaseHue();
  const int height = target.GetHeight();
  if (hue != cachedHue_ || strip_.GetHeight() != height) {
    cachedHue_ = hue;
    if (strip_.GetHeight() != height) {
      if (!strip_.Create(8, height, CBitmapBuffer::kRgb565)) ThrowLayout(ORV_E_LAYOUT);
      ++stripCreations_;
    }
    const GradientColours colours = ThemeGradientColours(hue);
    plat::TRIVERTEX vertices[2];
    vertices[0].x = 0;
    vertices[0].y = 0;
    vertices[0].Red = static_cast<plat::WORD>((colours.top & 0xFF) << 8);
    vertices[0].Green = static_cast<plat::WORD>(((colours.top >> 8) & 0xFF) << 8);
    vertices[0].Blue = static_cast<plat::WORD>(((colours.top >> 16) & 0xFF) << 8);
    vertices[0].Alpha = 0;
    vertices[1].x = 8;
    vertices[1].y = height;
    vertices[1].Red = static_cast<plat::WORD>((colours.bottom & 0xFF) << 8);
    vertices[1].Green = static_cast<plat::WORD>(((colours.bottom >> 8) & 0xFF) << 8);
    vertices[1].Blue = static_cast<plat::WORD>(((colours.bottom >> 16) & 0xFF) << 8);
    vertices[1].Alpha = 0;
    plat::GRADIENT_RECT mesh{0, 1};
    plat::GradientFill(strip_.GetDC(), vertices, 2, &mesh, 1, plat::GRADIENT_FILL_RECT_V);
    ++stripFills_;
  }
  int tiles = 0;
  plat::HDC stripDc = strip_.GetDC();
  for (int x = 0; x < target.GetWidth(); x += 8) {
    DeviceBitBlt(dc, x, 0, 8, height, stripDc, 0, 0, plat::SRCCOPY);
    ++tiles;
  }
  lastTiles_ = tiles;
  std::int32_t noBackground = 0;
  const bool skipPicture = item && item->GetInt(u"NoBackgrd", &noBackground) == S_OK && noBackground != 0;
  if (!skipPicture && backgroundMask_) {
    BlendColorThroughMask(target, offset.first, offset.second, backgroundMask_->GetWidth(),
                          backgroundMask_->GetHeight(), 0xFFFFFF, 0, 0, *backgroundMask_, 255);
  }
  static const char16_t* const kPositions[3] = {u"SeparatorY", u"Separator2Y", u"Separator3Y"};
  for (int i = 0; i < 3; ++i) {
    CPropertyPair at;
    if (item && item->GetPair(kPositions[i], &at) == S_OK) separators_[i].Draw(target, at.first, at.second);
  }
  return S_OK;
}
