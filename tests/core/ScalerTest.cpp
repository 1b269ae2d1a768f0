// The box-filter scaler: exact weights in 1/128 pixels, carried remainders,
// enlargement, and refusals.
#include <gtest/gtest.h>

#include <vector>

#include "core/STScreenBuffer.h"
#include "core/Scaler.h"
#include "tests/support/TempDevice.h"

namespace {

class ScalerTest : public orvtest::DeviceTest {};

// A source image of grey pixels (all three channels equal), rows top first.
using Grey = std::vector<std::vector<int>>;

// Scales the grey image into a blank target and returns its channels as
// [row][column][channel b, g, r].
std::vector<std::vector<std::vector<int>>> Scale(const Grey& src, int dstW, int dstH) {
  int srcH = static_cast<int>(src.size());
  int srcW = static_cast<int>(src[0].size());
  CSTScreenBuffer target;
  EXPECT_TRUE(target.CreateBlank(dstW, dstH));
  CScaler scaler;
  EXPECT_TRUE(scaler.Init(srcW, srcH, dstW, dstH, &target));
  for (const auto& row : src) {
    std::vector<std::uint8_t> bytes;
    for (int v : row)
      for (int c = 0; c < 3; ++c) bytes.push_back(static_cast<std::uint8_t>(v));
    scaler.AddSourceRow(bytes.data());
  }
  std::vector<std::vector<std::vector<int>>> out(static_cast<std::size_t>(dstH));
  for (int y = 0; y < dstH; ++y)
    for (int x = 0; x < dstW; ++x)
      out[y].push_back({target.Row(y)[3 * x], target.Row(y)[3 * x + 1], target.Row(y)[3 * x + 2]});
  return out;
}

TEST_F(ScalerTest, GreyImagesTable) {
  struct Case {
    const char* name;
    Grey src;
    int dstW, dstH;
    Grey expect;
  } cases[] = {
      {"same size", {{1, 2, 3}, {250, 128, 0}}, 3, 2, {{1, 2, 3}, {250, 128, 0}}},
      {"halving 2x2", {{10, 20}, {30, 40}}, 1, 1, {{25}}},
      // Columns 0 and 2 weigh 85 each, column 1 gives 43 and 42: the second
      // target column gathers 127/128 of the value (and the carried remainder).
      {"3 to 2 wide", {{200, 200, 200}}, 2, 1, {{200, 198}}},
      {"3 to 2 high", {{200}, {200}, {200}}, 1, 2, {{200}, {198}}},
      {"doubling", {{100}}, 2, 2, {{100, 100}, {100, 100}}},
      {"1 to 3 wide", {{90, 30}}, 3, 1, {{90, 60, 30}}},
      {"4 to 1", {{0, 64, 128, 255}}, 1, 1, {{111}}},
      {"white stays white", {{255, 255}, {255, 255}}, 1, 1, {{255}}},
  };
  for (const Case& c : cases) {
    auto out = Scale(c.src, c.dstW, c.dstH);
    for (int y = 0; y < c.dstH; ++y)
      for (int x = 0; x < c.dstW; ++x)
        for (int ch = 0; ch < 3; ++ch)
          EXPECT_EQ(out[y][x][ch], c.expect[y][x]) << c.name << " at " << x << "," << y << " channel " << ch;
  }
}

TEST_F(ScalerTest, ChannelsKeepTheirOwnValues) {
  // One pixel of (b, g, r) = (10, 100, 250) spread over 2x2 and back.
  CSTScreenBuffer target;
  ASSERT_TRUE(target.CreateBlank(2, 2));
  CScaler scaler;
  ASSERT_TRUE(scaler.Init(1, 1, 2, 2, &target));
  const std::uint8_t px[3] = {10, 100, 250};
  scaler.AddSourceRow(px);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      EXPECT_EQ(target.Row(y)[3 * x], 10);
      EXPECT_EQ(target.Row(y)[3 * x + 1], 100);
      EXPECT_EQ(target.Row(y)[3 * x + 2], 250);
    }
}

TEST_F(ScalerTest, RefusesBadSizes) {
  CSTScreenBuffer target;
  ASSERT_TRUE(target.CreateBlank(4, 3));
  struct Case {
    int sw, sh, dw, dh;
    bool useTarget;
    bool ok;
  } cases[] = {
      {8, 6, 4, 3, true, true},   {8, 6, 0, 3, true, false}, {8, 6, 4, 0, true, false},
      {0, 6, 4, 3, true, false},  {8, 0, 4, 3, true, false}, {-3, 6, 4, 3, true, false},
      {8, 6, 4, 3, false, false}, {8, 6, 5, 3, true, false}, {8, 6, 4, 2, true, false},
  };
  for (const Case& c : cases) {
    CScaler scaler;
    EXPECT_EQ(scaler.Init(c.sw, c.sh, c.dw, c.dh, c.useTarget ? &target : nullptr), c.ok)
        << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh;
    // A refused scaler adds nothing.
    std::vector<std::uint8_t> row(3 * 8, 255);
    if (!c.ok) {
      scaler.AddSourceRow(row.data());
      EXPECT_EQ(scaler.RowsAdded(), 0);
    }
  }
  for (int i = 0; i < 3 * target.GetStride(); ++i) ASSERT_EQ(target.GetBits()[i], 0);
}

TEST_F(ScalerTest, RowsBeyondTheSourceAreIgnored) {
  CSTScreenBuffer target;
  ASSERT_TRUE(target.CreateBlank(1, 1));
  CScaler scaler;
  ASSERT_TRUE(scaler.Init(1, 2, 1, 1, &target));
  const std::uint8_t grey[3] = {100, 100, 100};
  const std::uint8_t white[3] = {255, 255, 255};
  scaler.AddSourceRow(grey);
  scaler.AddSourceRow(grey);
  scaler.AddSourceRow(white);
  EXPECT_EQ(scaler.RowsAdded(), 2);
  EXPECT_EQ(target.Row(0)[0], 100);
}

TEST_F(ScalerTest, LargeSourcesKeepExactWeights) {
  // 16384 columns to 2048: column positions times 128 need more than 32 bits.
  const int w = 16384, dw = 2048;
  CSTScreenBuffer target;
  ASSERT_TRUE(target.CreateBlank(dw, 1));
  CScaler scaler;
  ASSERT_TRUE(scaler.Init(w, 1, dw, 1, &target));
  std::vector<std::uint8_t> row(3 * w, 120);
  scaler.AddSourceRow(row.data());
  for (int x = 0; x < dw; ++x) ASSERT_EQ(target.Row(0)[3 * x], 120) << x;
}

}  // namespace
