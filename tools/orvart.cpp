// orvart: draws the program's art at build time: icons, bitmap strips, the
// pictures of the layout skins (pictures with their alpha masks) and the
// empty-database pictures. Every image is drawn here from shapes, so nothing
// is taken from elsewhere and each picture is sharp at 96 and 192 dpi.
//
//   orvart <output folder> [--preview <file.png>]
//
// Output folders: app/, today/, todayoptions/, service/, remover/ (icons and
// strips for the resource scripts), images/ (PNG files installed beside the
// program) and skin/1x, skin/2x (BMP members of the skin packages).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "tools/PngFile.h"

namespace {

namespace fs = std::filesystem;

struct Rgba {
  float r = 0, g = 0, b = 0, a = 0;
};

Rgba Hex(std::uint32_t rgb, float a = 1.0f) {
  return {((rgb >> 16) & 255) / 255.0f, ((rgb >> 8) & 255) / 255.0f, (rgb & 255) / 255.0f, a};
}

Rgba Mix(Rgba x, Rgba y, float t) {
  return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t, x.a + (y.a - x.a) * t};
}

// A picture with straight (not premultiplied) colour.
struct Canvas {
  int w = 0, h = 0;
  std::vector<Rgba> px;
  Canvas(int width, int height) : w(width), h(height), px(static_cast<std::size_t>(width * height)) {}
  Rgba& At(int x, int y) { return px[static_cast<std::size_t>(y * w + x)]; }
  const Rgba& At(int x, int y) const { return px[static_cast<std::size_t>(y * w + x)]; }
};

// Shapes work in unit coordinates: (0,0) top-left to (1,1) bottom-right of the
// area they are drawn into, so the same drawing serves every size.
using Shape = std::function<bool(float x, float y)>;
using Paint = std::function<Rgba(float x, float y)>;

struct Area {
  float x, y, w, h;  // in pixels
};

// Paints colour through a shape into an area, 5x5 samples per pixel, with the
// "over" rule.
void Fill(Canvas& c, const Area& a, const Shape& shape, const Paint& paint) {
  const int n = 5;
  int x0 = std::max(0, static_cast<int>(std::floor(a.x))), y0 = std::max(0, static_cast<int>(std::floor(a.y)));
  int x1 = std::min(c.w, static_cast<int>(std::ceil(a.x + a.w))), y1 = std::min(c.h, static_cast<int>(std::ceil(a.y + a.h)));
  for (int py = y0; py < y1; ++py) {
    for (int px = x0; px < x1; ++px) {
      int hits = 0;
      float ux = 0, uy = 0;
      for (int sy = 0; sy < n; ++sy)
        for (int sx = 0; sx < n; ++sx) {
          float u = (px + (sx + 0.5f) / n - a.x) / a.w, v = (py + (sy + 0.5f) / n - a.y) / a.h;
          if (u < 0 || v < 0 || u > 1 || v > 1 || !shape(u, v)) continue;
          ++hits;
          ux += u;
          uy += v;
        }
      if (!hits) continue;
      Rgba src = paint(ux / hits, uy / hits);
      src.a *= static_cast<float>(hits) / (n * n);
      Rgba& d = c.At(px, py);
      float oa = src.a + d.a * (1 - src.a);
      if (oa <= 0) continue;
      d.r = (src.r * src.a + d.r * d.a * (1 - src.a)) / oa;
      d.g = (src.g * src.a + d.g * d.a * (1 - src.a)) / oa;
      d.b = (src.b * src.a + d.b * d.a * (1 - src.a)) / oa;
      d.a = oa;
    }
  }
}

void Fill(Canvas& c, const Area& a, const Shape& s, Rgba colour) {
  Fill(c, a, s, [colour](float, float) { return colour; });
}

Paint VGradient(Rgba top, Rgba bottom) {
  return [=](float, float y) { return Mix(top, bottom, y); };
}

// ---- shapes -----------------------------------------------------------------

Shape RoundRect(float x0, float y0, float x1, float y1, float r) {
  return [=](float x, float y) {
    if (x < x0 || x > x1 || y < y0 || y > y1) return false;
    float cx = std::clamp(x, x0 + r, x1 - r), cy = std::clamp(y, y0 + r, y1 - r);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
  };
}

Shape Circle(float cx, float cy, float r) {
  return [=](float x, float y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

// A quarter ring around (cx, cy) opening to the top-right, as in the feed mark.
Shape QuarterRing(float cx, float cy, float r0, float r1) {
  return [=](float x, float y) {
    float dx = x - cx, dy = cy - y;
    if (dx < 0 || dy < 0) return false;
    float d = std::sqrt(dx * dx + dy * dy);
    return d >= r0 && d <= r1;
  };
}

Shape Segment(float ax, float ay, float bx, float by, float halfWidth) {
  return [=](float x, float y) {
    float vx = bx - ax, vy = by - ay, wx = x - ax, wy = y - ay;
    float t = std::clamp((wx * vx + wy * vy) / (vx * vx + vy * vy), 0.0f, 1.0f);
    float dx = wx - t * vx, dy = wy - t * vy;
    return dx * dx + dy * dy <= halfWidth * halfWidth;
  };
}

Shape Polygon(std::vector<std::pair<float, float>> pts) {
  return [pts](float x, float y) {
    bool in = false;
    for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
      auto [xi, yi] = pts[i];
      auto [xj, yj] = pts[j];
      if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
  };
}

Shape Union(Shape a, Shape b) {
  return [=](float x, float y) { return a(x, y) || b(x, y); };
}
Shape Minus(Shape a, Shape b) {
  return [=](float x, float y) { return a(x, y) && !b(x, y); };
}

// ---- the drawings ------------------------------------------------------------

const Rgba kFeedOrange = Hex(0xF7931E);
const Rgba kFeedDeep = Hex(0xE0561B);
const Rgba kBlueTop = Hex(0x4A90D9);
const Rgba kBlueBottom = Hex(0x1F4E8C);
const Rgba kWhite = Hex(0xFFFFFF);

// The feed mark (a dot and two rings) inside an area.
void FeedMark(Canvas& c, const Area& a, Rgba colour) {
  Fill(c, a, Circle(0.2f, 0.8f, 0.13f), colour);
  Fill(c, a, QuarterRing(0.1f, 0.9f, 0.36f, 0.53f), colour);
  Fill(c, a, QuarterRing(0.1f, 0.9f, 0.68f, 0.85f), colour);
}

// A rounded tile with a vertical gradient and a thin darker rim.
void Tile(Canvas& c, const Area& a, Rgba top, Rgba bottom, float radius = 0.2f) {
  Fill(c, a, RoundRect(0, 0, 1, 1, radius), Mix(bottom, Hex(0x000000), 0.25f));
  Area in{a.x + a.w * 0.04f, a.y + a.h * 0.04f, a.w * 0.92f, a.h * 0.92f};
  Fill(c, in, RoundRect(0, 0, 1, 1, radius), VGradient(top, bottom));
  // Soft highlight over the upper half.
  Fill(c, in, RoundRect(0.03f, 0.03f, 0.97f, 0.5f, radius * 0.9f), Hex(0xFFFFFF, 0.16f));
}

// A page with a folded corner and text lines.
void Page(Canvas& c, const Area& a, bool lines, Rgba lineColour) {
  Shape body = Polygon({{0.18f, 0.06f}, {0.62f, 0.06f}, {0.84f, 0.28f}, {0.84f, 0.94f}, {0.18f, 0.94f}});
  Fill(c, a, Polygon({{0.14f, 0.03f}, {0.64f, 0.03f}, {0.88f, 0.27f}, {0.88f, 0.97f}, {0.14f, 0.97f}}), Hex(0x6B7480));
  Fill(c, a, body, VGradient(Hex(0xFFFFFF), Hex(0xE8ECF1)));
  Fill(c, a, Polygon({{0.62f, 0.06f}, {0.62f, 0.28f}, {0.84f, 0.28f}}), Hex(0xC3CAD3));
  if (lines && a.w >= 14) {
    float ys[] = {0.42f, 0.56f, 0.70f, 0.82f};
    float ends[] = {0.72f, 0.74f, 0.66f, 0.56f};
    for (int i = 0; i < 4; ++i) Fill(c, a, Segment(0.3f, ys[i], ends[i], ys[i], 0.035f), lineColour);
  }
}

void CheckBadge(Canvas& c, const Area& a) {
  Fill(c, a, Circle(0.5f, 0.5f, 0.5f), Hex(0x1E7A35));
  Fill(c, a, Circle(0.5f, 0.5f, 0.44f), VGradient(Hex(0x5CC26F), Hex(0x2E9A45)));
  Fill(c, a, Union(Segment(0.26f, 0.52f, 0.43f, 0.7f, 0.085f), Segment(0.43f, 0.7f, 0.75f, 0.32f, 0.085f)), kWhite);
}

void DotBadge(Canvas& c, const Area& a, Rgba colour) {
  Fill(c, a, Circle(0.5f, 0.5f, 0.5f), Mix(colour, Hex(0), 0.3f));
  Fill(c, a, Circle(0.5f, 0.5f, 0.42f), VGradient(Mix(colour, kWhite, 0.35f), colour));
}

void CrossBadge(Canvas& c, const Area& a) {
  DotBadge(c, a, Hex(0xD23B2E));
  Fill(c, a, Union(Segment(0.32f, 0.32f, 0.68f, 0.68f, 0.08f), Segment(0.68f, 0.32f, 0.32f, 0.68f, 0.08f)), kWhite);
}

// Two arrows chasing each other round a circle (update, service).
void CycleArrows(Canvas& c, const Area& a, Rgba colour) {
  auto arc = [](float from, float to) {
    return Shape([=](float x, float y) {
      float dx = x - 0.5f, dy = y - 0.5f, d = std::sqrt(dx * dx + dy * dy);
      if (d < 0.26f || d > 0.38f) return false;
      float ang = std::atan2(dy, dx);
      if (ang < 0) ang += 6.2831853f;
      return ang >= from && ang <= to;
    });
  };
  Fill(c, a, arc(0.35f, 2.7f), colour);
  Fill(c, a, arc(3.5f, 5.85f), colour);
  Fill(c, a, Polygon({{0.02f, 0.46f}, {0.36f, 0.46f}, {0.19f, 0.66f}}), colour);
  Fill(c, a, Polygon({{0.98f, 0.54f}, {0.64f, 0.54f}, {0.81f, 0.34f}}), colour);
}

void Gear(Canvas& c, const Area& a, Rgba colour) {
  Shape teeth = [](float x, float y) {
    float dx = x - 0.5f, dy = y - 0.5f, d = std::sqrt(dx * dx + dy * dy);
    float ang = std::atan2(dy, dx);
    float r = 0.36f + 0.1f * (std::cos(ang * 8) > 0.2f ? 1.0f : 0.0f);
    return d <= r;
  };
  Fill(c, a, Minus(teeth, Circle(0.5f, 0.5f, 0.15f)), colour);
}

void Folder(Canvas& c, const Area& a, bool open) {
  Fill(c, a, RoundRect(0.06f, 0.18f, 0.5f, 0.4f, 0.06f), Hex(0xC98A16));
  Fill(c, a, RoundRect(0.06f, 0.28f, 0.94f, 0.86f, 0.06f), VGradient(Hex(0xF6CD57), Hex(0xE2A526)));
  if (open)
    Fill(c, a, Polygon({{0.18f, 0.46f}, {1.0f, 0.46f}, {0.88f, 0.86f}, {0.06f, 0.86f}}), VGradient(Hex(0xFCE08A), Hex(0xF0B93A)));
}

void Globe(Canvas& c, const Area& a) {
  Fill(c, a, Circle(0.5f, 0.5f, 0.44f), Hex(0x1F4E8C));
  Fill(c, a, Circle(0.5f, 0.5f, 0.39f), VGradient(Hex(0x6FB3F0), Hex(0x2E6FBA)));
  Rgba land = Hex(0x4CAF50);
  Fill(c, a, Polygon({{0.3f, 0.25f}, {0.52f, 0.2f}, {0.58f, 0.36f}, {0.44f, 0.5f}, {0.48f, 0.66f}, {0.36f, 0.78f}, {0.3f, 0.56f}, {0.2f, 0.44f}}), land);
  Fill(c, a, Polygon({{0.62f, 0.5f}, {0.8f, 0.44f}, {0.82f, 0.62f}, {0.68f, 0.74f}}), land);
}

// Chevrons "<>" of a script (template) channel.
void ScriptMark(Canvas& c, const Area& a, Rgba colour) {
  float t = 0.07f;
  Fill(c, a, Union(Segment(0.38f, 0.28f, 0.18f, 0.5f, t), Segment(0.18f, 0.5f, 0.38f, 0.72f, t)), colour);
  Fill(c, a, Union(Segment(0.62f, 0.28f, 0.82f, 0.5f, t), Segment(0.82f, 0.5f, 0.62f, 0.72f, t)), colour);
  Fill(c, a, Segment(0.56f, 0.24f, 0.44f, 0.76f, t * 0.8f), colour);
}

// The product's mark: a blue tile with a page and the feed mark.
void ProductIcon(Canvas& c, const Area& a) {
  Tile(c, a, kBlueTop, kBlueBottom, 0.22f);
  if (a.w < 20) {
    FeedMark(c, {a.x + a.w * 0.2f, a.y + a.h * 0.18f, a.w * 0.62f, a.h * 0.62f}, kWhite);
    return;
  }
  Page(c, {a.x + a.w * 0.14f, a.y + a.h * 0.1f, a.w * 0.62f, a.h * 0.8f}, true, Hex(0x9AA5B4));
  Area badge{a.x + a.w * 0.5f, a.y + a.h * 0.5f, a.w * 0.44f, a.h * 0.44f};
  Tile(c, badge, kFeedOrange, kFeedDeep, 0.22f);
  FeedMark(c, {badge.x + badge.w * 0.2f, badge.y + badge.h * 0.16f, badge.w * 0.64f, badge.h * 0.64f}, kWhite);
}

using Drawing = std::function<void(Canvas&, const Area&)>;

Canvas Draw(int w, int h, const Drawing& d) {
  Canvas c(w, h);
  d(c, {0, 0, static_cast<float>(w), static_cast<float>(h)});
  return c;
}

// ---- Today skins --------------------------------------------------------------

const Rgba kSkinRed = Hex(0xFF0000);
const Rgba kSkinKey = Hex(0xFF00FF);

// A box with a red frame of width k and a white inside.
void SkinBox(Canvas& c, int x0, int y0, int w, int h, int k) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      bool frame = x < x0 + k || x >= x0 + w - k || y < y0 + k || y >= y0 + h - k;
      c.At(x, y) = frame ? kSkinRed : kWhite;
    }
}

// Snaps a drawing onto the three skin colours: opaque red, opaque white, key.
void SnapSkin(Canvas& c) {
  for (Rgba& p : c.px) {
    if (p.a < 0.5f) {
      p = kSkinKey;
    } else {
      bool red = p.g < 0.5f;
      p = red ? kSkinRed : kWhite;
    }
  }
}

Canvas KeyCanvas(int w, int h) {
  Canvas c(w, h);
  for (Rgba& p : c.px) p = {kSkinKey.r, kSkinKey.g, kSkinKey.b, 0};
  return c;
}

// The arrow skin: 26 x 26 (cells of 13 x 13) at 96 dpi, 52 x 48 at 192 dpi;
// the upper right cell is the previous-article arrow, the lower right cell
// the next-article arrow.
Canvas ArrowSkin(int k) {
  int cw = 13 * k, ch = k == 1 ? 13 : 24;
  Canvas c = KeyCanvas(cw * 2, ch * 2);
  for (int i = 0; i < 2; ++i) {
    int y0 = ch * i;
    SkinBox(c, cw, y0, cw, ch, k);
    Area a{static_cast<float>(cw), static_cast<float>(y0), static_cast<float>(cw), static_cast<float>(ch)};
    float t = 0.09f;
    Shape chevron = i == 0 ? Union(Segment(0.6f, 0.25f, 0.36f, 0.5f, t), Segment(0.36f, 0.5f, 0.6f, 0.75f, t))
                           : Union(Segment(0.4f, 0.25f, 0.64f, 0.5f, t), Segment(0.64f, 0.5f, 0.4f, 0.75f, t));
    Fill(c, a, chevron, kSkinRed);
  }
  SnapSkin(c);
  return c;
}

// The scroll bar skin: 26 x 44 at 96 dpi (52 x 82 at 192 dpi). In the right
// column, at 96 dpi: rows 0-11 the up-arrow box, 13-24 the down-arrow box,
// 26-27 the thumb's top cap, 31-32 its bottom cap. At 192 dpi: rows 0-23,
// 26-49, 52-55 and 62-65.
Canvas ScrollSkin(int k) {
  int cw = 13 * k;
  Canvas c = KeyCanvas(cw * 2, k == 1 ? 44 : 82);
  int box = 12 * k;
  for (int i = 0; i < 2; ++i) {
    int y0 = i * 13 * k;
    SkinBox(c, cw, y0, cw, box, k);
    Area a{static_cast<float>(cw), static_cast<float>(y0), static_cast<float>(cw), static_cast<float>(box)};
    Shape tri = i == 0 ? Polygon({{0.25f, 0.64f}, {0.5f, 0.34f}, {0.75f, 0.64f}}) : Polygon({{0.25f, 0.36f}, {0.5f, 0.66f}, {0.75f, 0.36f}});
    Fill(c, a, tri, kSkinRed);
  }
  // Thumb caps: rounded ends of a red bar as wide as the column less a margin.
  int capH = 2 * k, top = 26 * k, bottom = 31 * k;
  Area capTop{static_cast<float>(cw + k), static_cast<float>(top), static_cast<float>(cw - 2 * k), static_cast<float>(capH * 2)};
  Canvas tmp = KeyCanvas(c.w, c.h);
  Fill(tmp, capTop, RoundRect(0, 0, 1, 1, 0.3f), kSkinRed);
  Area capBottom{static_cast<float>(cw + k), static_cast<float>(bottom - capH), static_cast<float>(cw - 2 * k), static_cast<float>(capH * 2)};
  Fill(tmp, capBottom, RoundRect(0, 0, 1, 1, 0.3f), kSkinRed);
  for (int y = top; y < top + capH; ++y)
    for (int x = cw; x < c.w; ++x) c.At(x, y) = tmp.At(x, y);
  for (int y = bottom; y < bottom + capH; ++y)
    for (int x = cw; x < c.w; ++x) c.At(x, y) = tmp.At(x, y);
  SnapSkin(c);
  return c;
}

// ---- file writers -------------------------------------------------------------

std::uint8_t Byte(float v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255)); }

void Put16(std::string& s, unsigned v) {
  s.push_back(static_cast<char>(v & 255));
  s.push_back(static_cast<char>((v >> 8) & 255));
}
void Put32(std::string& s, std::uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

bool WriteFile(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  fs::path tmp = p;
  tmp += ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f.write(data.data(), static_cast<std::streamsize>(data.size()))) return false;
  }
  std::error_code ec;
  fs::rename(tmp, p, ec);
  return !ec;
}

// BITMAPINFOHEADER with the given depth, bottom-up rows.
std::string InfoHeader(int w, int h, int bits, std::uint32_t compression, std::uint32_t imageSize, std::uint32_t colours) {
  std::string s;
  Put32(s, 40);
  Put32(s, static_cast<std::uint32_t>(w));
  Put32(s, static_cast<std::uint32_t>(h));
  Put16(s, 1);
  Put16(s, static_cast<unsigned>(bits));
  Put32(s, compression);
  Put32(s, imageSize);
  Put32(s, 3780);
  Put32(s, 3780);
  Put32(s, colours);
  Put32(s, 0);
  return s;
}

std::string BmpFile(const std::string& info, const std::string& pixels) {
  std::string s = "BM";
  Put32(s, static_cast<std::uint32_t>(14 + info.size() + pixels.size()));
  Put32(s, 0);
  Put32(s, static_cast<std::uint32_t>(14 + info.size()));
  return s + info + pixels;
}

int Stride(int w, int bits) { return ((w * bits + 31) / 32) * 4; }

// 24-bit picture: transparent pixels become the key colour when one is given,
// else everything is laid over the background.
std::string Bmp24(const Canvas& c, Rgba background, bool keyed) {
  std::string px;
  int stride = Stride(c.w, 24);
  for (int y = c.h - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < c.w; ++x) {
      Rgba p = c.At(x, y);
      Rgba o = keyed ? (p.a < 0.5f ? Hex(0xFF00FF) : Rgba{p.r, p.g, p.b, 1}) : Mix(background, {p.r, p.g, p.b, 1}, p.a);
      row.push_back(static_cast<char>(Byte(o.b)));
      row.push_back(static_cast<char>(Byte(o.g)));
      row.push_back(static_cast<char>(Byte(o.r)));
    }
    row.resize(static_cast<std::size_t>(stride), 0);
    px += row;
  }
  return BmpFile(InfoHeader(c.w, c.h, 24, 0, static_cast<std::uint32_t>(px.size()), 0), px);
}

// 16-bit 5-6-5 picture (the colour only; the alpha goes to the mask).
std::string Bmp565(const Canvas& c) {
  std::string px;
  int stride = Stride(c.w, 16);
  for (int y = c.h - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < c.w; ++x) {
      Rgba p = c.At(x, y);
      unsigned v = (static_cast<unsigned>(Byte(p.r) >> 3) << 11) | (static_cast<unsigned>(Byte(p.g) >> 2) << 5) | (Byte(p.b) >> 3);
      Put16(row, v);
    }
    row.resize(static_cast<std::size_t>(stride), 0);
    px += row;
  }
  std::string info = InfoHeader(c.w, c.h, 16, 3 /* BI_BITFIELDS */, static_cast<std::uint32_t>(px.size()), 0);
  Put32(info, 0xF800);
  Put32(info, 0x07E0);
  Put32(info, 0x001F);
  return BmpFile(info, px);
}

// 8-bit grey mask: the alpha of each pixel.
std::string BmpMask(const Canvas& c) {
  std::string px;
  int stride = Stride(c.w, 8);
  for (int y = c.h - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < c.w; ++x) row.push_back(static_cast<char>(Byte(c.At(x, y).a)));
    row.resize(static_cast<std::size_t>(stride), 0);
    px += row;
  }
  std::string info = InfoHeader(c.w, c.h, 8, 0, static_cast<std::uint32_t>(px.size()), 256);
  for (unsigned i = 0; i < 256; ++i) Put32(info, i | (i << 8) | (i << 16));
  return BmpFile(info, px);
}

// An icon file of 32-bit images (with the AND mask the format asks for).
std::string Ico(const std::vector<Canvas>& images) {
  std::string dir, data;
  Put16(dir, 0);
  Put16(dir, 1);
  Put16(dir, static_cast<unsigned>(images.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
  for (const Canvas& c : images) {
    std::string img = InfoHeader(c.w, c.h * 2, 32, 0, 0, 0);
    for (int y = c.h - 1; y >= 0; --y)
      for (int x = 0; x < c.w; ++x) {
        Rgba p = c.At(x, y);
        img.push_back(static_cast<char>(Byte(p.b)));
        img.push_back(static_cast<char>(Byte(p.g)));
        img.push_back(static_cast<char>(Byte(p.r)));
        img.push_back(static_cast<char>(Byte(p.a)));
      }
    int andStride = Stride(c.w, 1);
    for (int y = c.h - 1; y >= 0; --y) {
      std::string row(static_cast<std::size_t>(andStride), 0);
      for (int x = 0; x < c.w; ++x)
        if (c.At(x, y).a < 0.5f) row[static_cast<std::size_t>(x / 8)] |= static_cast<char>(0x80 >> (x % 8));
      img += row;
    }
    dir.push_back(static_cast<char>(c.w >= 256 ? 0 : c.w));
    dir.push_back(static_cast<char>(c.h >= 256 ? 0 : c.h));
    dir.push_back(0);
    dir.push_back(0);
    Put16(dir, 1);
    Put16(dir, 32);
    Put32(dir, static_cast<std::uint32_t>(img.size()));
    Put32(dir, offset);
    offset += static_cast<std::uint32_t>(img.size());
    data += img;
  }
  return dir + data;
}

bool WritePng(const fs::path& p, const Canvas& c) {
  fs::create_directories(p.parent_path());
  std::vector<std::uint8_t> rgba;
  rgba.reserve(c.px.size() * 4);
  for (const Rgba& px : c.px) {
    rgba.push_back(Byte(px.r));
    rgba.push_back(Byte(px.g));
    rgba.push_back(Byte(px.b));
    rgba.push_back(Byte(px.a));
  }
  return WritePngRgba(p.string(), c.w, c.h, rgba.data());
}

// ---- what is written ------------------------------------------------------------

struct Output {
  fs::path root;
  bool ok = true;
  std::vector<Canvas> preview;  // everything drawn, for the contact sheet

  void File(const std::string& rel, const std::string& data) {
    if (!WriteFile(root / rel, data)) {
      std::cerr << (root / rel).string() << ": cannot write\n";
      ok = false;
    }
  }
  void Icon(const std::string& rel, const Drawing& d, std::vector<int> sizes) {
    std::vector<Canvas> imgs;
    for (int s : sizes) imgs.push_back(Draw(s, s, d));
    preview.insert(preview.end(), imgs.begin(), imgs.end());
    File(rel, Ico(imgs));
  }
  void IconWH(const std::string& rel, const Drawing& d, std::vector<std::pair<int, int>> sizes) {
    std::vector<Canvas> imgs;
    for (auto [w, h] : sizes) imgs.push_back(Draw(w, h, d));
    preview.insert(preview.end(), imgs.begin(), imgs.end());
    File(rel, Ico(imgs));
  }
  // A horizontal strip of equal cells.
  void Strip(const std::string& rel, int cell, int cellH, const std::vector<Drawing>& cells, bool keyed, Rgba bg = Hex(0xFFFFFF)) {
    Canvas c(cell * static_cast<int>(cells.size()), cellH);
    for (std::size_t i = 0; i < cells.size(); ++i)
      cells[i](c, {static_cast<float>(cell * static_cast<int>(i)), 0, static_cast<float>(cell), static_cast<float>(cellH)});
    preview.push_back(c);
    File(rel, Bmp24(c, bg, keyed));
  }
  // A skin picture with its mask: "<name>.bmp" and "<name>_m.bmp".
  void Masked(const std::string& dir, const std::string& name, const Canvas& c, bool withPicture = true) {
    preview.push_back(c);
    if (withPicture) File(dir + "/" + name + ".bmp", Bmp565(c));
    File(dir + "/" + name + "_m.bmp", BmpMask(c));
  }
  void TodaySkin(const std::string& rel, const Canvas& c) {
    preview.push_back(c);
    File(rel, Bmp24(c, kWhite, false));
  }
  void Png(const std::string& rel, const Canvas& c) {
    preview.push_back(c);
    if (!WritePng(root / rel, c)) {
      std::cerr << (root / rel).string() << ": cannot write\n";
      ok = false;
    }
  }
};

Drawing Scaled(const Drawing& d, float inset) {
  return [=](Canvas& c, const Area& a) { d(c, {a.x + a.w * inset, a.y + a.h * inset, a.w * (1 - 2 * inset), a.h * (1 - 2 * inset)}); };
}

void DrawIcons(Output& out) {
  std::vector<int> icon = {16, 21, 22, 32, 44, 48, 64};
  Drawing product = ProductIcon;
  out.Icon("app/OrvNews.ico", product, icon);
  out.Icon("app/ChannelRss.ico", [](Canvas& c, const Area& a) {
    Tile(c, a, kFeedOrange, kFeedDeep);
    FeedMark(c, {a.x + a.w * 0.2f, a.y + a.h * 0.16f, a.w * 0.64f, a.h * 0.64f}, kWhite);
  }, icon);
  out.Icon("app/ChannelScript.ico", [](Canvas& c, const Area& a) {
    Tile(c, a, Hex(0x3FB59A), Hex(0x17735F));
    ScriptMark(c, a, kWhite);
  }, icon);
  out.Icon("app/Article.ico", [](Canvas& c, const Area& a) { Page(c, a, true, Hex(0x9AA5B4)); }, icon);
  out.Icon("app/ArticleComplete.ico", [](Canvas& c, const Area& a) {
    Page(c, {a.x, a.y, a.w * 0.9f, a.h}, true, Hex(0x9AA5B4));
    CheckBadge(c, {a.x + a.w * 0.5f, a.y + a.h * 0.5f, a.w * 0.5f, a.h * 0.5f});
  }, icon);

  out.Icon("today/Today.ico", product, {16, 32});
  out.IconWH("today/TodayTab.ico", [](Canvas& c, const Area& a) {
    FeedMark(c, {a.x + a.w * 0.08f, a.y, a.w * 0.84f, a.h}, Hex(0xF7931E));
  }, {{12, 11}, {18, 17}, {24, 22}});

  out.Icon("todayoptions/TodayOptions.ico", [](Canvas& c, const Area& a) {
    ProductIcon(c, a);
    Area g{a.x + a.w * 0.48f, a.y + a.h * 0.48f, a.w * 0.52f, a.h * 0.52f};
    Fill(c, g, Circle(0.5f, 0.5f, 0.5f), Hex(0x3C4450));
    Gear(c, {g.x + g.w * 0.1f, g.y + g.h * 0.1f, g.w * 0.8f, g.h * 0.8f}, Hex(0xE6E9ED));
  }, icon);
  out.Icon("service/Service.ico", [](Canvas& c, const Area& a) {
    Tile(c, a, kBlueTop, kBlueBottom, 0.22f);
    CycleArrows(c, {a.x + a.w * 0.12f, a.y + a.h * 0.12f, a.w * 0.76f, a.h * 0.76f}, kWhite);
  }, icon);
  out.Icon("remover/Remover.ico", [](Canvas& c, const Area& a) {
    ProductIcon(c, a);
    CrossBadge(c, {a.x + a.w * 0.52f, a.y + a.h * 0.52f, a.w * 0.48f, a.h * 0.48f});
  }, icon);
}

void DrawStrips(Output& out) {
  // Catalogue tree images: folder, open folder, feed channel, language.
  std::vector<Drawing> catalogue = {
      Scaled([](Canvas& c, const Area& a) { Folder(c, a, false); }, 0.0f),
      Scaled([](Canvas& c, const Area& a) { Folder(c, a, true); }, 0.0f),
      Scaled([](Canvas& c, const Area& a) {
        Tile(c, a, kFeedOrange, kFeedDeep);
        FeedMark(c, {a.x + a.w * 0.2f, a.y + a.h * 0.16f, a.w * 0.64f, a.h * 0.64f}, kWhite);
      }, 0.06f),
      Scaled(Globe, 0.0f),
  };
  for (auto [size, name] : std::vector<std::pair<int, const char*>>{{16, "16"}, {21, "21"}, {22, "22"}, {32, "32"}})
    out.Strip(std::string("app/Catalog") + name + ".bmp", size, size, catalogue, false);

  // Today list: article icons (unread, read, downloading, failed), on the key colour.
  std::vector<Drawing> articles = {
      [](Canvas& c, const Area& a) {
        Page(c, a, true, Hex(0x7D8896));
        DotBadge(c, {a.x + a.w * 0.52f, a.y + a.h * 0.0f, a.w * 0.46f, a.h * 0.46f}, Hex(0x2F7BD6));
      },
      [](Canvas& c, const Area& a) { Page(c, a, true, Hex(0xB5BDC7)); },
      [](Canvas& c, const Area& a) {
        Page(c, a, false, Hex(0));
        CycleArrows(c, {a.x + a.w * 0.2f, a.y + a.h * 0.3f, a.w * 0.6f, a.h * 0.6f}, Hex(0x2F7BD6));
      },
      [](Canvas& c, const Area& a) {
        Page(c, a, true, Hex(0xB5BDC7));
        CrossBadge(c, {a.x + a.w * 0.48f, a.y + a.h * 0.48f, a.w * 0.5f, a.h * 0.5f});
      },
  };
  out.Strip("today/ArticleIcons96.bmp", 14, 14, articles, true);
  out.Strip("today/ArticleIcons192.bmp", 28, 28, articles, true);

  // The Today skins are two columns of cells of which only the right one is
  // drawn; pure red is painted in the theme colour, pure white in a tone of
  // the background, every other colour (magenta here) is transparent.
  out.TodaySkin("today/Arrows96.bmp", ArrowSkin(1));
  out.TodaySkin("today/Arrows192.bmp", ArrowSkin(2));
  out.TodaySkin("today/ScrollBar96.bmp", ScrollSkin(1));
  out.TodaySkin("today/ScrollBar192.bmp", ScrollSkin(2));
}

// The picture above the hint of an empty database: a stack of pages under
// the feed mark.
Canvas EmptyPicture(int s) {
  Canvas c(s, s);
  float f = static_cast<float>(s);
  Page(c, {f * 0.24f, f * 0.16f, f * 0.56f, f * 0.7f}, true, Hex(0xC8CED6));
  Page(c, {f * 0.14f, f * 0.24f, f * 0.56f, f * 0.7f}, true, Hex(0xAEB6C1));
  Area badge{f * 0.52f, f * 0.52f, f * 0.4f, f * 0.4f};
  Fill(c, {badge.x - f * 0.02f, badge.y - f * 0.02f, badge.w + f * 0.04f, badge.h + f * 0.04f}, Circle(0.5f, 0.5f, 0.5f), kWhite);
  Fill(c, badge, Circle(0.5f, 0.5f, 0.5f), VGradient(kFeedOrange, kFeedDeep));
  FeedMark(c, {badge.x + badge.w * 0.22f, badge.y + badge.h * 0.2f, badge.w * 0.56f, badge.h * 0.56f}, kWhite);
  return c;
}

// The pictures of the skin package, at scale k (1 at 96 dpi, 2 at 192 dpi).
void DrawSkin(Output& out, int k) {
  std::string dir = "skin/" + std::to_string(k) + "x";
  // Background watermark: a large feed mark painted white through this mask.
  {
    int s = 150 * k;
    Canvas c(s, s);
    FeedMark(c, {0, 0, static_cast<float>(s), static_cast<float>(s)}, Hex(0xFFFFFF, 0.07f));
    out.Masked(dir, "Background", c, false);
  }
  // Separators: a light line that fades out at both ends.
  auto separator = [&](const std::string& name, Rgba colour, float strength) {
    Canvas c(320 * k, 2 * k);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) {
        float t = static_cast<float>(x) / static_cast<float>(c.w - 1);
        float fade = std::min(1.0f, std::min(t, 1 - t) * 6);
        Rgba p = y < k ? Hex(0x000000) : colour;
        p.a = strength * fade * (y < k ? 0.6f : 1.0f);
        c.At(x, y) = p;
      }
    out.Masked(dir, name, c);
  };
  separator("Separator", Hex(0xFFFFFF), 0.45f);
  separator("Separator1", Hex(0xFFFFFF), 0.3f);
  separator("Separator2", Hex(0xF7B267), 0.6f);

  // Scroll bar: track and thumb, each a top cap, a one-row middle and a bottom cap.
  int w = 6 * k, cap = 3 * k;
  auto capImage = [&](Rgba colour, bool top) {
    Canvas c(w, cap);
    Area a{0, top ? 0.0f : static_cast<float>(-cap), static_cast<float>(w), static_cast<float>(2 * cap)};
    Fill(c, a, RoundRect(0, 0, 1, 1, 0.5f), colour);
    return c;
  };
  auto middle = [&](Rgba colour) {
    Canvas c(w, 1);
    Fill(c, {0, -1, static_cast<float>(w), 3}, RoundRect(0, 0, 1, 1, 0), colour);
    return c;
  };
  Rgba track = Hex(0xFFFFFF, 0.28f), thumb = Hex(0xFFFFFF, 0.85f);
  out.Masked(dir, "scroll_top", capImage(track, true));
  out.Masked(dir, "scroll_middle", middle(track));
  out.Masked(dir, "scroll_bottom", capImage(track, false));
  out.Masked(dir, "scroll_selected_top", capImage(thumb, true));
  out.Masked(dir, "scroll_selected_middle", middle(thumb));
  out.Masked(dir, "scroll_selected_bottom", capImage(thumb, false));

  // Progress bar ends: the left end of the bar; its right end is its mirror and
  // the right end's first column is stretched across the middle.
  auto barEnd = [&](bool filled) {
    int bw = 10 * k, bh = 10 * k;
    Canvas c(bw, bh);
    Area a{0, 0, static_cast<float>(bw * 2), static_cast<float>(bh)};
    Fill(c, a, RoundRect(0, 0, 1, 1, 0.25f), filled ? Hex(0xB9470F, 0.95f) : Hex(0x000000, 0.45f));
    Area in{static_cast<float>(k), static_cast<float>(k), static_cast<float>(bw * 2), static_cast<float>(bh - 2 * k)};
    if (filled)
      Fill(c, in, RoundRect(0, 0, 1, 1, 0.22f), VGradient(Hex(0xFFC070), Hex(0xF07A1A)));
    else
      Fill(c, in, RoundRect(0, 0, 1, 1, 0.22f), VGradient(Hex(0xFFFFFF, 0.25f), Hex(0xFFFFFF, 0.12f)));
    return c;
  };
  out.Masked(dir, "progress", barEnd(false));
  out.Masked(dir, "progress_filled", barEnd(true));

  // Panel corner of the top-part panel: white, rounded, slightly translucent.
  {
    int s = 8 * k;
    Canvas c(s, s);
    Fill(c, {0, 0, static_cast<float>(s * 2), static_cast<float>(s * 2)}, RoundRect(0, 0, 1, 1, 0.5f), Hex(0xFFFFFF, 0.92f));
    out.Masked(dir, "LeftTop", c);
  }
  out.Masked(dir, "empty_db", EmptyPicture(96 * k));
  // The channel mark shown in headers.
  {
    Canvas c(16 * k, 16 * k);
    Tile(c, {0, 0, static_cast<float>(c.w), static_cast<float>(c.h)}, kFeedOrange, kFeedDeep);
    FeedMark(c, {c.w * 0.2f, c.h * 0.16f, c.w * 0.64f, c.h * 0.64f}, kWhite);
    out.Masked(dir, "channel_icon", c);
  }
}

void DrawImages(Output& out) {
  out.Png("images/Empty_db_qVGA.png", EmptyPicture(96));
  out.Png("images/Empty_db_VGA.png", EmptyPicture(192));
}

// All pictures side by side on a checkerboard, to look at.
Canvas ContactSheet(const std::vector<Canvas>& all) {
  int width = 640, x = 8, y = 8, rowH = 0;
  std::vector<std::pair<int, int>> pos;
  for (const Canvas& c : all) {
    int cw = std::min(c.w, width - 16);
    if (x + cw + 8 > width) {
      x = 8;
      y += rowH + 8;
      rowH = 0;
    }
    pos.emplace_back(x, y);
    x += cw + 8;
    rowH = std::max(rowH, c.h);
  }
  Canvas sheet(width, y + rowH + 8);
  for (int yy = 0; yy < sheet.h; ++yy)
    for (int xx = 0; xx < sheet.w; ++xx) sheet.At(xx, yy) = ((xx / 8 + yy / 8) % 2) ? Hex(0x6E7F99) : Hex(0x8797AE);
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Canvas& c = all[i];
    for (int yy = 0; yy < c.h; ++yy)
      for (int xx = 0; xx < c.w && pos[i].first + xx < width; ++xx) {
        Rgba& d = sheet.At(pos[i].first + xx, pos[i].second + yy);
        d = Mix(d, {c.At(xx, yy).r, c.At(xx, yy).g, c.At(xx, yy).b, 1}, c.At(xx, yy).a);
      }
  }
  return sheet;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::cerr << "usage: orvart <output folder> [--preview <file.png>]\n";
    return 2;
  }
  Output out;
  out.root = argv[1];
  DrawIcons(out);
  DrawStrips(out);
  DrawSkin(out, 1);
  DrawSkin(out, 2);
  DrawImages(out);
  if (argc == 4 && std::string(argv[2]) == "--preview" && !WritePng(argv[3], ContactSheet(out.preview))) {
    std::cerr << argv[3] << ": cannot write\n";
    return 1;
  }
  // A stamp file tells the build that every picture is written.
  if (out.ok) out.File("stamp", "done\n");
  return out.ok ? 0 : 1;
}
