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
  explicit GradBackgroundPlugin(std::int32_t themed) : m_themed(themed) {}

  plat::HRESULT DoPaint(plat::HDC dc, const plat::RECT* clip, std::int32_t focus) override;
  plat::HRESULT OnNameChanged() override;
  // Answers 0.
  plat::HRESULT GetValue(std::int32_t* value);

  // For tests and measurements: how often the strip was filled and made.
  int GetStripFills() const { return m_stripFills; }
  int GetStripCreations() const { return m_stripCreations; }
  int GetLastTileCount() const { return m_lastTiles; }

 private:
  std::int32_t m_themed;
  std::shared_ptr<CBitmapBuffer> m_backgroundMask;
  MaskedImage m_separators[3];
  CBitmapBuffer m_strip;
  int m_cachedHue = -2;
  int m_stripFills = 0;
  int m_stripCreations = 0;
  int m_lastTiles = 0;
};
