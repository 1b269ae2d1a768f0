#include "core/Scaler.h"

#include <new>

#include "core/STScreenBuffer.h"

bool CScaler::Init(int srcWidth, int srcHeight, int dstWidth, int dstHeight, CSTScreenBuffer* target) {
  target_ = nullptr;
  firstColumn_.clear();
  lastColumn_.clear();
  weightFirst_.clear();
  weightLast_.clear();
  if (dstWidth < 1 || dstHeight < 1) return false;
  // An empty source has no columns to divide the target between.
  if (srcWidth < 1 || srcHeight < 1) return false;
  if (!target || !target->GetBits() || target->GetWidth() != dstWidth || target->GetHeight() != dstHeight)
    return false;
  try {
    firstColumn_.resize(static_cast<std::size_t>(srcWidth));
    lastColumn_.resize(static_cast<std::size_t>(srcWidth));
    weightFirst_.resize(static_cast<std::size_t>(srcWidth));
    weightLast_.resize(static_cast<std::size_t>(srcWidth));
  } catch (const std::bad_alloc&) {
    firstColumn_.clear();
    lastColumn_.clear();
    weightFirst_.clear();
    weightLast_.clear();
    return false;
  }
  const std::int64_t dw = dstWidth, sw = srcWidth;
  for (int i = 0; i < srcWidth; ++i) {
    int first = static_cast<int>(dw * i / sw);
    int last = static_cast<int>((dw * i + dw - 1) / sw);
    firstColumn_[i] = first;
    lastColumn_[i] = last;
    weightFirst_[i] = static_cast<int>((first + 1) * 128LL - i * dw * 128 / sw);
    weightLast_[i] = static_cast<int>((i + 1) * dw * 128 / sw - last * 128LL);
  }
  wholeX_ = static_cast<int>(dw * 128 / sw);
  srcWidth_ = srcWidth;
  srcHeight_ = srcHeight;
  dstWidth_ = dstWidth;
  dstHeight_ = dstHeight;
  row_ = 0;
  target_ = target;
  return true;
}

void CScaler::AddSourceRow(const std::uint8_t* row) {
  if (!target_ || !row || row_ >= srcHeight_) return;
  const std::int64_t dh = dstHeight_, sh = srcHeight_, r = row_;
  int first = static_cast<int>(dh * r / sh);
  int last = static_cast<int>(((r + 1) * dh - 1) / sh);
  if (first == last) {
    AddRowInto(row, first, static_cast<int>(dh * 128 / sh));
  } else {
    AddRowInto(row, first, static_cast<int>((first + 1) * 128LL - r * dh * 128 / sh));
    for (int t = first + 1; t < last; ++t) AddRowInto(row, t, 128);
    AddRowInto(row, last, static_cast<int>((r + 1) * dh * 128 / sh - last * 128LL));
  }
  ++row_;
}

inline void CScaler::AddPixel(std::uint8_t* d, const std::uint8_t* s, int weight) {
  // Red, green, blue: bytes 2, 1, 0.
  for (int c = 0; c < 3; ++c) {
    int byte = 2 - c;
    std::uint32_t v = static_cast<std::uint32_t>(s[byte]) * static_cast<std::uint32_t>(weight) +
                      (static_cast<std::uint32_t>(d[byte]) << 14) + remainder_[c];
    remainder_[c] = v & 0x3FFF;
    std::uint32_t out = v >> 14;
    d[byte] = static_cast<std::uint8_t>(out > 255 ? 255 : out);
  }
}

void CScaler::AddRowInto(const std::uint8_t* row, int targetRow, int weightY) {
  std::uint8_t* base = target_->Row(targetRow);
  for (int i = 0; i < srcWidth_; ++i) {
    const std::uint8_t* s = row + 3 * i;
    int first = firstColumn_[i];
    int last = lastColumn_[i];
    if (first == last) {
      AddPixel(base + 3 * first, s, wholeX_ * weightY);
    } else {
      AddPixel(base + 3 * first, s, weightFirst_[i] * weightY);
      for (int t = first + 1; t < last; ++t) AddPixel(base + 3 * t, s, 128 * weightY);
      AddPixel(base + 3 * last, s, weightLast_[i] * weightY);
    }
  }
}
