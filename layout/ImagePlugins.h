// Plug-ins that draw package pictures: "ScrollBar" (how far the content is
// scrolled), "Progress" (a percentage from the data source), "Image" (one
// picture at the item's position) and "TopPartImageRect" (a panel with
// rounded corners made from one corner picture).
#pragma once

#include <cstdint>
#include <memory>

#include "core/BitmapBuffer.h"
#include "layout/LayoutPlugin.h"
#include "layout/MaskedImage.h"

// The thumb's span over a track from trackTop to trackBottom: the visible
// part of content of height contentHeight, scrolled to scroll (measured from
// the content's top). y1 is clamped into the track, y2 into [y1, bottom].
void ScrollThumbSpan(int trackTop, int trackBottom, int scroll, int visibleHeight, int contentHeight, int& y1,
                     int& y2);

class ScrollBarPlugin : public LayoutPluginBase {
 public:
  explicit ScrollBarPlugin(bool loadEagerly) : loadEagerly_(loadEagerly) {}

  plat::HRESULT LoadProperties() override;
  plat::HRESULT Paint(const LayoutPaintRecord& record) override;

  bool IsShown() const { return shown_; }

 private:
  enum { kTop, kMiddle, kBottom, kThumbTop, kThumbMiddle, kThumbBottom, kImageCount };
  void EmptyImages();
  plat::HRESULT LoadImages();
  static bool IsEmpty(const MaskedImage& image) { return !image.picture && !image.mask; }

  std::int32_t horizontalSpace_ = 0;
  std::int32_t verticalSpace_ = 0;
  MaskedImage images_[kImageCount];
  bool shown_ = true;
  bool loadEagerly_;
};

class ProgressPlugin : public LayoutPluginBase {
 public:
  plat::HRESULT OnNameChanged() override;
  plat::HRESULT DoCommand(std::intptr_t a, std::intptr_t b) override;
  plat::HRESULT Paint(const LayoutPaintRecord& record) override;

  // Takes the percent from the source's integer of the plug-in's name.
  plat::HRESULT ReadPercent(IPropertySource* source);
  void SetPercent(std::int32_t percent) { percent_ = percent; }
  std::int32_t GetPercent() const { return percent_; }
  // The empty and the filled bar from their left ends (right ends mirrored).
  plat::HRESULT SetBars(const MaskedImage& empty, const MaskedImage& filled);

 private:
  std::int32_t percent_ = 0;
  MaskedImage emptyLeft_, emptyRight_, filledLeft_, filledRight_;
};

class ImagePlugin : public LayoutPluginBase {
 public:
  plat::HRESULT OnNameChanged() override;
  plat::HRESULT Paint(const LayoutPaintRecord& record) override;
  plat::HRESULT GetRect(std::int32_t part, std::uint32_t flags, plat::RECT* rect, std::intptr_t* out1,
                        std::intptr_t* out2) override;

  void SetImage(const MaskedImage& image) { images_[0] = image; }

 private:
  plat::HRESULT DrawState(const LayoutPaintRecord& record, const MaskedImage& image);
  MaskedImage images_[3];
};

// A masked image of the same size whose picture is image's mirrored (or
// flipped) copy; null pictures stay null. E_FAIL for pictures other than 8 or
// 16 bits or masks other than 8 bits, E_OUTOFMEMORY when no copy can be made.
plat::HRESULT MirroredCopy(const MaskedImage& image, MaskedImage& copy);
plat::HRESULT FlippedCopy(const MaskedImage& image, MaskedImage& copy);

// Draws panels from corner pictures: style 0 a full frame (four corners),
// 1 the top part (two top corners), other styles the bottom part.
class CornerPainter {
 public:
  explicit CornerPainter(int style) : style_(style) {}
  plat::HRESULT LoadCorners(const MaskedImage& image);
  plat::HRESULT DrawPanel(CBitmapBuffer& target, const plat::RECT& rect) const;

 private:
  plat::HRESULT DrawTop(CBitmapBuffer& target, int x0, int y0, int x1, int y1) const;
  int style_;
  MaskedImage left_, right_, bottomLeft_, bottomRight_;
};

class TopPartImageRectPlugin : public LayoutPluginBase {
 public:
  explicit TopPartImageRectPlugin(int style) : painter_(style) {}
  plat::HRESULT OnNameChanged() override;
  plat::HRESULT Paint(const LayoutPaintRecord& record) override;
  CornerPainter& GetPainter() { return painter_; }

 private:
  CornerPainter painter_;
};
