// Box-filter scaling of 24-bit images fed one source row at a time, in
// 1/128-pixel units with 14-bit fixed-point accumulation into the target.
#pragma once

#include <cstdint>
#include <vector>

class CSTScreenBuffer;

class CScaler {
 public:
  CScaler() = default;
  virtual ~CScaler() = default;
  CScaler(const CScaler&) = delete;
  CScaler& operator=(const CScaler&) = delete;

  // Prepares scaling srcWidth x srcHeight into target, which must be a blank
  // (all zero) buffer of exactly dstWidth x dstHeight. False for a size
  // below 1 or a target of another size.
  bool Init(int srcWidth, int srcHeight, int dstWidth, int dstHeight, CSTScreenBuffer* target);
  // Adds the next source row (srcWidth pixels of blue, green, red) into the
  // target; rows beyond srcHeight, or before Init, are ignored.
  void AddSourceRow(const std::uint8_t* row);

  int RowsAdded() const { return row_; }

 private:
  void AddRowInto(const std::uint8_t* row, int targetRow, int weightY);
  void AddPixel(std::uint8_t* d, const std::uint8_t* s, int weight);

  int srcWidth_ = 0;
  int srcHeight_ = 0;
  int dstWidth_ = 0;
  int dstHeight_ = 0;
  int row_ = 0;
  CSTScreenBuffer* target_ = nullptr;
  int wholeX_ = 0;
  std::vector<int> firstColumn_;
  std::vector<int> lastColumn_;
  std::vector<int> weightFirst_;
  std::vector<int> weightLast_;
  // Carried remainders of red, green and blue.
  std::uint32_t remainder_[3] = {0, 0, 0};
};
