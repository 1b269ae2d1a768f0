// "GradBackground": the backdrop of a layout screen, a vertical gradient in
// the hue of the colour theme tiled across the target from an 8-pixel strip,
// a white picture painted through a mask, and up to three separators.
#pragma once

#include <cstdint>
#include <memory>

#include "core/BitmapBuffer.h"
#include "layout/LayoutPlugin.h"
#include "layout/MaskedImage.h"

struct GradientColours {
  plat::COLORREF top;
  plat::COLORREF bottom;
};

// The theme gradient for a hue (negative: no theme, a flat grey), with
// saturation 216, level 100 and the positions 0 and 100 per cent.
GradientColours ThemeGradientColours(int hue);
// HSV on a 0..240 scale to a COLORREF.
plat::COLORREF HsvToColour(int hue, int saturation, int value);

class GradBackgroundPlugin : public LayoutPluginBase {
 public:
  explicit GradBackgroundPlugin(std::int32_t themed) : themed_(themed) {}

  plat::HRESULT DoPaint(plat::HDC dc, const plat::RECT* clip, std::int32_t focus) override;
  plat::HRESULT OnNameChanged() override;
  // Answers 0.
  plat::HRESULT GetValue(std::int32_t* value);

  // For tests and measurements: how often the strip was filled and made.
  int GetStripFills() const { return stripFills_; }
  int GetStripCreations() const { return stripCreations_; }
  int GetLastTileCount() const { return lastTiles_; }

 private:
  std::int32_t themed_;
  std::shared_ptr<CBitmapBuffer> backgroundMask_;
  MaskedImage separators_[3];
  CBitmapBuffer strip_;
  int cachedHue_ = -2;
  int stripFills_ = 0;
  int stripCreations_ = 0;
  int lastTiles_ = 0;
};
