#include "layout/ImagePlugins.h"

#include <algorithm>
#include <new>

#include "core/FrameworkProperties.h"
#include "layout/LayoutCom.h"
#include "layout/LayoutPackage.h"
#include "layout/LayoutServices.h"
#include "layout/ScreenScale.h"

using plat::E_FAIL;
using plat::E_OUTOFMEMORY;
using plat::E_POINTER;
using plat::HRESULT;
using plat::S_OK;

namespace {

bool AttachTarget(CBitmapBuffer& target, plat::HDC dc) {
  return dc && target.Attach(static_cast<plat::HBITMAP>(plat::GetCurrentObject(dc, plat::OBJ_BITMAP)), dc);
}

CRefPtr<PackageResources> PackageOf(const LayoutPluginBase& plugin) {
  CRefPtr<IResourcePackageProviderService> packages = GetResourcePackageProvider();
  if (!packages) return {};
  return packages->GetPackage(plugin.GetSkinName());
}

// A masked-image entry of the plug-in's package, picture and mask required.
HRESULT LoadMaskedImage(const LayoutPluginBase& plugin, const std::u16string& name, MaskedImage& image) {
  CRefPtr<PackageResources> package = PackageOf(plugin);
  if (!package) return E_FAIL;
  try {
    ResourceLock use(package.Get(), true, true);
    MaskedImage loaded;
    if (!package->GetMaskedImage(name, loaded, true, 3)) return E_FAIL;
    image = loaded;
  } catch (const COrvException&) {
    return E_FAIL;
  }
  return S_OK;
}

HRESULT CopyOf(const MaskedImage& image, MaskedImage& copy, bool (*transform)(CBitmapBuffer&, const CBitmapBuffer&)) {
  if (!image.picture && !image.mask) return E_FAIL;
  MaskedImage made;
  const CBitmapBuffer* parts[2] = {image.picture.get(), image.mask.get()};
  std::shared_ptr<CBitmapBuffer>* outs[2] = {&made.picture, &made.mask};
  for (int i = 0; i < 2; ++i) {
    const CBitmapBuffer* part = parts[i];
    if (!part) continue;
    const int bpp = part->GetBitsPerPixel();
    // Pictures of 8 or 16 bits with 8-bit masks are all the kernels can copy.
    const bool usable = i == 0 ? (bpp == 8 || bpp == 16) : bpp == 8;
    if (!usable) return E_FAIL;
    auto buffer = std::make_shared<CBitmapBuffer>();
    const int format = bpp == 16 ? CBitmapBuffer::kRgb565 : CBitmapBuffer::kGrey8;
    if (!buffer->Create(part->GetWidth(), part->GetHeight(), format)) return E_OUTOFMEMORY;
    if (!transform(*buffer, *part)) return E_FAIL;
    *outs[i] = std::move(buffer);
  }
  copy = std::move(made);
  return S_OK;
}

}  // namespace

HRESULT MirroredCopy(const MaskedImage& image, MaskedImage& copy) { return CopyOf(image, copy, &CopyMirrored); }
HRESULT FlippedCopy(const MaskedImage& image, MaskedImage& copy) { return CopyOf(image, copy, &CopyFlipped); }

void ScrollThumbSpan(int trackTop, int trackBottom, int scroll, int visibleHeight, int contentHeight, int& y1,
                     int& y2) {
  const long long track = trackBottom - trackTop;
  y1 = trackTop + static_cast<int>(scroll * track / contentHeight);
  y2 = trackTop + static_cast<int>((static_cast<long long>(scroll) + visibleHeight) * track / contentHeight);
  y1 = std::clamp(y1, trackTop, std::max(trackTop, trackBottom));
  y2 = std::clamp(y2, y1, std::max(y1, trackBottom));
}

// ---------------------------------------------------------------------------
// ScrollBarPlugin

void ScrollBarPlugin::EmptyImages() {
  for (MaskedImage& image : images_) image = MaskedImage{};
}

HRESULT ScrollBarPlugin::LoadImages() {
  static const char16_t* const kNames[kImageCount] = {u"scroll_top",          u"scroll_middle",
                                                      u"scroll_bottom",       u"scroll_selected_top",
                                                      u"scroll_selected_middle", u"scroll_selected_bottom"};
  for (int i = 0; i < kImageCount; ++i) {
    if (LoadMaskedImage(*this, kNames[i], images_[i]) != S_OK) return E_FAIL;
  }
  return S_OK;
}

HRESULT ScrollBarPlugin::LoadProperties() {
  EmptyImages();
  horizontalSpace_ = 0;
  verticalSpace_ = 0;
  CRefPtr<PackageResources> package = PackageOf(*this);
  if (package) {
    try {
      ResourceLock use(package.Get(), true, true);
      const CPropertyList values = package->GetValues();
      if (!GetIntProperty(values, CPropertyName(u"scroll_horizontal_space"), horizontalSpace_)) return E_FAIL;
      if (!GetIntProperty(values, CPropertyName(u"scroll_vertical_space"), verticalSpace_)) return E_FAIL;
    } catch (const COrvException&) {
      return E_FAIL;
    }
    if (loadEagerly_ && LoadImages() != S_OK) return E_FAIL;
  }
  shown_ = true;
  CComRef<IPropertySource> source;
  std::int32_t value = 1;
  if (GetOwnerPropertySource(source) == S_OK && source->GetInt(u"ScrollBarOnOpen", &value) == S_OK && value == 0)
    shown_ = false;
  return S_OK;
}

HRESULT ScrollBarPlugin::Paint(const LayoutPaintRecord& record) {
  if (!shown_) return S_OK;
  CBitmapBuffer target;
  if (!AttachTarget(target, record.dc)) return E_FAIL;
  const int right = record.visibleWidth + record.originX;
  const int top = record.originY;
  const int bottom = record.visibleHeight + record.originY;
  const int contentHeight = record.content.bottom - record.content.top;
  if (bottom - top >= contentHeight) return S_OK;
  if (!loadEagerly_ && IsEmpty(images_[kThumbBottom]) && LoadImages() != S_OK) return E_FAIL;
  if (contentHeight < 1) return E_FAIL;
  const int scroll = record.scrollY - record.content.top;
  const int visible = record.visibleHeight;
  if (!IsEmpty(images_[kThumbBottom])) {
    const MaskedImage& thumbTop = images_[kThumbTop];
    const int trackTop = top + verticalSpace_ + thumbTop.GetHeight();
    const int trackBottom = bottom - verticalSpace_ - images_[kThumbBottom].GetHeight();
    const int column = right - horizontalSpace_;
    const int thumbX = column - thumbTop.GetWidth();
    const int trackX = (2 * column - thumbTop.GetWidth() - images_[kTop].GetWidth()) / 2;
    images_[kTop].Draw(target, trackX, trackTop - images_[kTop].GetHeight());
    StretchRowDown(images_[kMiddle], target, trackX, trackTop, trackBottom - trackTop, 0);
    images_[kBottom].Draw(target, trackX, trackBottom);
    int y1 = 0, y2 = 0;
    ScrollThumbSpan(trackTop, trackBottom, scroll, visible, contentHeight, y1, y2);
    thumbTop.Draw(target, thumbX, y1 - thumbTop.GetHeight());
    StretchRowDown(images_[kThumbMiddle], target, thumbX, y1, y2 - y1, 0);
    images_[kThumbBottom].Draw(target, thumbX, y2);
    return S_OK;
  }
  // No pictures: translucent white bars sized for the screen.
  const int dpiX = GetScreenDpiX();
  const int dpiY = GetScreenDpiY();
  const int inset = (dpiY + 16) * 3 / 96;
  const int width = (dpiX * 7 + 48) / 96;
  const int x = right - (dpiX + 16) * 3 / 96 - width;
  const int trackTop = top + inset;
  const int trackBottom = bottom - inset;
  target.FillRectAlpha(x, trackTop, width, trackBottom - trackTop, 0xFFFFFF, 100);
  int y1 = 0, y2 = 0;
  ScrollThumbSpan(trackTop, trackBottom, scroll, visible, contentHeight, y1, y2);
  target.FillRectAlpha(x, y1, width, y2 - y1, 0xFFFFFF, 128);
  return S_OK;
}

// ---------------------------------------------------------------------------
// ProgressPlugin

HRESULT ProgressPlugin::SetBars(const MaskedImage& empty, const MaskedImage& filled) {
  MaskedImage emptyRight, filledRight;
  for (const MaskedImage* image : {&empty, &filled}) {
    if (!image->picture || !image->mask) return E_FAIL;
    const int bpp = image->picture->GetBitsPerPixel();
    if ((bpp != 8 && bpp != 16) || image->mask->GetBitsPerPixel() != 8) return E_FAIL;
  }
  if (MirroredCopy(empty, emptyRight) != S_OK || MirroredCopy(filled, filledRight) != S_OK) return E_FAIL;
  emptyLeft_ = empty;
  emptyRight_ = std::move(emptyRight);
  filledLeft_ = filled;
  filledRight_ = std::move(filledRight);
  return S_OK;
}

HRESULT ProgressPlugin::OnNameChanged() {
  std::u16string name;
  const HRESULT hr = GetItem()->GetName(&name);
  if (hr != S_OK) return hr;
  MaskedImage empty, filled;
  if (LoadMaskedImage(*this, name, empty) != S_OK) return E_FAIL;
  if (LoadMaskedImage(*this, name + u"_filled", filled) != S_OK) return E_FAIL;
  return SetBars(empty, filled);
}

HRESULT ProgressPlugin::ReadPercent(IPropertySource* source) {
  if (!source) return E_FAIL;
  std::u16string name;
  const HRESULT named = GetItem()->GetName(&name);
  if (named != S_OK) return named;
  std::int32_t value = 0;
  const HRESULT hr = source->GetInt(name.c_str(), &value);
  if (hr != S_OK) return hr;
  percent_ = value;
  return S_OK;
}

HRESULT ProgressPlugin::DoCommand(std::intptr_t, std::intptr_t) {
  CComRef<IPropertySource> source;
  const HRESULT hr = GetOwnerPropertySource(source);
  if (hr != S_OK) return hr;
  return ReadPercent(source.Get());
}

HRESULT ProgressPlugin::Paint(const LayoutPaintRecord& record) {
  if (!emptyRight_.picture) return E_FAIL;
  plat::RECT bar{};
  if (GetItemRect(bar) != S_OK) {
    bar.left = record.originX;
    bar.right = bar.left + record.visibleWidth;
    bar.bottom = record.originY + record.visibleHeight;
    bar.top = bar.bottom - 2 * emptyLeft_.GetHeight();
  }
  CBitmapBuffer target;
  if (!AttachTarget(target, record.dc)) return E_FAIL;
  if (percent_ >= 0) {
    const int y = bar.top + (bar.bottom - emptyLeft_.GetHeight() - bar.top) / 2;
    emptyLeft_.Draw(target, bar.left, y);
    const int rightX = bar.right - emptyRight_.GetWidth();
    emptyRight_.Draw(target, rightX, y);
    const int from = bar.left + emptyLeft_.GetWidth();
    if (rightX > from) {
      const HRESULT hr = StretchColumnAcross(emptyRight_, target, from, y, rightX - from);
      if (hr != S_OK) return hr;
    }
  }
  if (percent_ > 0) {
    const int y = bar.top + (bar.bottom - filledLeft_.GetHeight() - bar.top) / 2;
    filledLeft_.Draw(target, bar.left, y);
    int end = 0;
    if (percent_ < 100) {
      end = bar.left + (bar.right - bar.left) * percent_ / 100;
    } else {
      end = bar.right - filledRight_.GetWidth();
      filledRight_.Draw(target, end, y);
    }
    const int from = bar.left + filledLeft_.GetWidth();
    if (from < end) StretchColumnAcross(filledRight_, target, from, y, end - from);
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// ImagePlugin

HRESULT ImagePlugin::OnNameChanged() {
  ILayoutItem* item = GetItem();
  std::u16string name;
  if (item->GetString(u"ImageName", &name) != S_OK || name.empty()) {
    if (item->GetName(&name) != S_OK || name.empty()) return E_FAIL;
  }
  for (MaskedImage& image : images_) image = MaskedImage{};
  return LoadMaskedImage(*this, name, images_[0]);
}

HRESULT ImagePlugin::DrawState(const LayoutPaintRecord& record, const MaskedImage& image) {
  plat::POINT at{};
  if (GetItem()->GetPosition(&at) != S_OK) return E_FAIL;
  CBitmapBuffer target;
  if (!AttachTarget(target, record.dc)) return E_FAIL;
  image.Draw(target, at.x + record.originX - record.scrollX, at.y + record.originY - record.scrollY);
  return S_OK;
}

HRESULT ImagePlugin::Paint(const LayoutPaintRecord& record) {
  if (record.focus < 0 || record.focus >= 3) return S_OK;
  const MaskedImage& image = images_[record.focus];
  if (!image.picture && !image.mask) return S_OK;
  return DrawState(record, image);
}

HRESULT ImagePlugin::GetRect(std::int32_t, std::uint32_t, plat::RECT* rect, std::intptr_t* out1,
                             std::intptr_t* out2) {
  if (!rect) return E_POINTER;
  plat::POINT at{};
  // Without its position the item has no rectangle to report.
  const HRESULT hr = GetItem()->GetPosition(&at);
  if (hr != S_OK) return hr;
  *rect = {at.x, at.y, at.x + images_[0].GetWidth(), at.y + images_[0].GetHeight()};
  if (out1) *out1 = 0;
  if (out2) *out2 = 0;
  return S_OK;
}

// ---------------------------------------------------------------------------
// CornerPainter and TopPartImageRectPlugin

HRESULT CornerPainter::LoadCorners(const MaskedImage& image) {
  MaskedImage left = image;
  MaskedImage right;
  HRESULT hr = MirroredCopy(image, right);
  if (hr != S_OK) return hr;
  MaskedImage bottomLeft, bottomRight;
  if (style_ != 1) {
    if ((hr = FlippedCopy(left, bottomLeft)) != S_OK) return hr;
    if ((hr = FlippedCopy(right, bottomRight)) != S_OK) return hr;
  }
  if (style_ == 0) {
    left_ = std::move(left);
    right_ = std::move(right);
    bottomLeft_ = std::move(bottomLeft);
    bottomRight_ = std::move(bottomRight);
  } else if (style_ == 1) {
    left_ = std::move(left);
    right_ = std::move(right);
  } else {
    left_ = std::move(bottomLeft);
    right_ = std::move(bottomRight);
  }
  return S_OK;
}

namespace {

// The colour of the picture's pixel (column 0, row) and the mask's alpha
// there: the inside of the panel is filled as its sides are drawn.
bool CornerFill(const MaskedImage& image, int row, plat::COLORREF& colour, std::uint8_t& alpha) {
  if (!image.picture || !image.mask || row < 0 || row >= image.picture->GetHeight() ||
      row >= image.mask->GetHeight())
    return false;
  colour = PictureColour(*image.picture, 0, row);
  alpha = image.mask->Row(row)[0];
  return true;
}

}  // namespace

HRESULT CornerPainter::DrawTop(CBitmapBuffer& target, int x0, int y0, int x1, int y1) const {
  if (!left_.picture && !left_.mask) return E_FAIL;
  const int wL = left_.GetWidth();
  const int hL = left_.GetHeight();
  const int wR = right_.GetWidth();
  left_.Draw(target, x0, y0);
  right_.Draw(target, x1 - wR, y0);
  HRESULT hr = S_OK;
  if (x1 - wR > x0 + wL && (hr = StretchColumnAcross(right_, target, x0 + wL, y0, (x1 - wR) - (x0 + wL))) != S_OK)
    return hr;
  const int y = y0 + hL;
  const int h = y1 - y;
  if (h <= 0) return S_OK;
  if ((hr = StretchRowDown(left_, target, x0, y, h, hL - 1)) != S_OK) return hr;
  if ((hr = StretchRowDown(right_, target, x1 - wR, y, h, hL - 1)) != S_OK) return hr;
  plat::COLORREF colour = 0;
  std::uint8_t alpha = 0;
  if (!CornerFill(right_, hL - 1, colour, alpha)) return E_FAIL;
  target.FillRectAlpha(x0 + wL, y, (x1 - wR) - (x0 + wL), h, colour, alpha);
  return S_OK;
}

HRESULT CornerPainter::DrawPanel(CBitmapBuffer& target, const plat::RECT& rect) const {
  const int x0 = rect.left, y0 = rect.top, x1 = rect.right, y1 = rect.bottom;
  if (!left_.picture && !left_.mask) return E_FAIL;
  const int wL = left_.GetWidth();
  const int wR = right_.GetWidth();
  HRESULT hr = S_OK;
  if (style_ == 1) return DrawTop(target, x0, y0, x1, y1);
  if (style_ == 0) {
    const int hB = bottomLeft_.GetHeight();
    if ((hr = DrawTop(target, x0, y0, x1, y1 - hB)) != S_OK) return hr;
    bottomLeft_.Draw(target, x0, y1 - hB);
    bottomRight_.Draw(target, x1 - wR, y1 - hB);
    if (x1 - wR > x0 + wL) return StretchColumnAcross(bottomRight_, target, x0 + wL, y1 - hB, (x1 - wR) - (x0 + wL));
    return S_OK;
  }
  // Bottom part: the flipped corners at the bottom, their first rows above.
  const int hL = left_.GetHeight();
  const int h = (y1 - hL) - y0;
  if (h > 0) {
    if ((hr = StretchRowDown(left_, target, x0, y0, h, 0)) != S_OK) return hr;
    if ((hr = StretchRowDown(right_, target, x1 - wR, y0, h, 0)) != S_OK) return hr;
    plat::COLORREF colour = 0;
    std::uint8_t alpha = 0;
    if (!CornerFill(right_, 0, colour, alpha)) return E_FAIL;
    target.FillRectAlpha(x0 + wL, y0, (x1 - wR) - (x0 + wL), h, colour, alpha);
  }
  left_.Draw(target, x0, y1 - hL);
  right_.Draw(target, x1 - wR, y1 - hL);
  if (x1 - wR > x0 + wL) return StretchColumnAcross(right_, target, x0 + wL, y1 - hL, (x1 - wR) - (x0 + wL));
  return S_OK;
}

HRESULT TopPartImageRectPlugin::OnNameChanged() {
  std::u16string name;
  if (GetItem()->GetString(u"ImageName", &name) != S_OK || name.empty()) name = u"LeftTop";
  MaskedImage image;
  if (LoadMaskedImage(*this, name, image) != S_OK) return E_FAIL;
  return painter_.LoadCorners(image);
}

HRESULT TopPartImageRectPlugin::Paint(const LayoutPaintRecord& record) {
  plat::RECT rect{};
  const HRESULT hr = GetItemRect(rect);
  if (hr != S_OK) return hr;
  plat::OffsetRect(&rect, -record.scrollX, -record.scrollY);
  CBitmapBuffer target;
  if (!AttachTarget(target, record.dc)) return E_FAIL;
  painter_.DrawPanel(target, rect);
  return S_OK;
}
