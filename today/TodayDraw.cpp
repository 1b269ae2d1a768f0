#include "today/TodayDraw.h"

#include <algorithm>

#include "core/DeviceInfo.h"
#include "platform/base/Text.h"
#include "platform/registry/Registry.h"
#include "platform/resources/Resources.h"
#include "today/TodayCommon.h"

namespace {

constexpr plat::COLORREF kRed = plat::RGB(255, 0, 0);
constexpr plat::COLORREF kWhite = plat::RGB(255, 255, 255);

bool ReadBinaryColour(plat::HKEY key, const char16_t* name, int index, plat::COLORREF* colour) {
  std::uint8_t data[45 * 4] = {};
  plat::DWORD type = 0, size = sizeof data;
  if (plat::RegQueryValueExW(key, name, nullptr, &type, data, &size) != plat::ERROR_SUCCESS) return false;
  if (index < 0 || index >= 45 || static_cast<plat::DWORD>(index + 1) * 4 > size) return false;
  const std::uint8_t* p = data + index * 4;
  *colour = static_cast<plat::COLORREF>(p[0] | (p[1] << 8) | (p[2] << 16));
  return true;
}

// Clips a rectangle to a buffer.
plat::RECT Clip(const CSTScreenBuffer& buffer, const plat::RECT& rect) {
  return plat::RECT{std::max<plat::LONG>(0, rect.left), std::max<plat::LONG>(0, rect.top),
                    std::min<plat::LONG>(static_cast<plat::LONG>(buffer.GetWidth()), rect.right),
                    std::min<plat::LONG>(static_cast<plat::LONG>(buffer.GetHeight()), rect.bottom)};
}

plat::COLORREF PixelAt(const CSTScreenBuffer& buffer, int x, int y) {
  const std::uint8_t* p = buffer.Row(y) + x * 3;
  return plat::RGB(p[2], p[1], p[0]);
}

void SetPixelAt(CSTScreenBuffer& buffer, int x, int y, plat::COLORREF colour) {
  std::uint8_t* p = buffer.Row(y) + x * 3;
  p[0] = static_cast<std::uint8_t>((colour >> 16) & 0xFF);
  p[1] = static_cast<std::uint8_t>((colour >> 8) & 0xFF);
  p[2] = static_cast<std::uint8_t>(colour & 0xFF);
}

// The skin pixel under target pixel (x, y) of rect drawn from cell; false
// outside the skin (at DPIs the skins were not drawn for, the scaled cells may
// reach past them: those pixels count as transparent).
bool SkinPixel(const CSTScreenBuffer& skin, const plat::RECT& rect, plat::POINT cell, int x, int y,
               plat::COLORREF* colour) {
  const int sx = cell.x + (x - rect.left);
  const int sy = cell.y + (y - rect.top);
  if (sx < 0 || sy < 0 || sx >= skin.GetWidth() || sy >= skin.GetHeight()) return false;
  *colour = PixelAt(skin, sx, sy);
  return true;
}

std::u16string Shortened(const std::u16string& text, std::size_t keep, int mode) {
  if (mode > 0) return text.substr(0, keep) + u"...";
  if (mode < 0) return u"..." + text.substr(text.size() - keep);
  const std::size_t head = (keep + 1) / 2, tail = keep / 2;
  return text.substr(0, head) + u"..." + text.substr(text.size() - tail);
}

int TextWidth(plat::HDC dc, const std::u16string& text) {
  plat::SIZE size{};
  plat::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  return size.cx;
}

}  // namespace

plat::COLORREF GetThemeColor(int index, plat::COLORREF def) {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExW(plat::HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Color", 0, 0, &key) != plat::ERROR_SUCCESS)
    return def;
  plat::COLORREF colour = def;
  const std::string digits = std::to_string(index);
  const std::u16string name(digits.begin(), digits.end());
  plat::DWORD value = 0, type = 0, size = sizeof value;
  if (plat::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<std::uint8_t*>(&value), &size) ==
          plat::ERROR_SUCCESS &&
      size == sizeof value) {
    colour = value;
  } else if (!IsPocketPC() || GetPlatformGeneration() > 1) {
    if (!ReadBinaryColour(key, u"SHColor", index, &colour)) colour = def;
  } else if (!ReadBinaryColour(key, u"DefSHColor", index, &colour)) {
    colour = def;
  }
  plat::RegCloseKey(key);
  return colour;
}

std::u16string FitText(plat::HDC dc, const std::u16string& text, int width, int mode, int* drawnWidth) {
  int w = TextWidth(dc, text);
  if (w <= width || text.empty()) {
    if (drawnWidth) *drawnWidth = w;
    return text;
  }
  // The longest kept length that fits, by halving steps.
  std::size_t low = 0, high = text.size();
  while (low < high) {
    const std::size_t mid = (low + high + 1) / 2;
    if (TextWidth(dc, Shortened(text, mid, mode)) <= width) low = mid;
    else high = mid - 1;
  }
  std::u16string result = Shortened(text, low, mode);
  if (drawnWidth) *drawnWidth = TextWidth(dc, result);
  return result;
}

int DrawTextFitted(plat::HDC dc, const std::u16string& text, const plat::RECT& rect, int mode, plat::UINT format) {
  int drawn = 0;
  const std::u16string shown = FitText(dc, text, rect.right - rect.left, mode, &drawn);
  plat::RECT r = rect;
  plat::DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &r, format);
  return drawn;
}

std::vector<std::u16string> BreakTextLines(plat::HDC dc, const std::u16string& text, const std::vector<int>& widths) {
  std::vector<std::u16string> pieces;
  std::u16string rest = plat::Trim(text, plat::IsXmlSpace);
  for (std::size_t i = 0; i < widths.size(); ++i) {
    if (i + 1 == widths.size()) {
      pieces.push_back(rest);
      break;
    }
    int fit = 0;
    plat::SIZE size{};
    plat::GetTextExtentExPointW(dc, rest.c_str(), static_cast<int>(rest.size()), std::max(0, widths[i]), &fit, nullptr,
                                &size);
    std::size_t cut = static_cast<std::size_t>(std::clamp(fit, 0, static_cast<int>(rest.size())));
    if (cut < rest.size()) {
      const std::size_t blank = rest.find_last_of(u' ', cut);
      if (blank != std::u16string::npos && blank > 0) cut = blank;
    }
    pieces.push_back(plat::Trim(rest.substr(0, cut), plat::IsXmlSpace));
    rest = plat::Trim(rest.substr(cut), plat::IsXmlSpace);
  }
  return pieces;
}

void DrawTextLinesFitted(plat::HDC dc, const std::u16string& text, const std::vector<plat::RECT>& lines,
                         plat::UINT format) {
  std::vector<int> widths;
  for (const plat::RECT& line : lines) widths.push_back(line.right - line.left);
  const std::vector<std::u16string> pieces = BreakTextLines(dc, text, widths);
  for (std::size_t i = 0; i < pieces.size() && i < lines.size(); ++i) {
    if (i + 1 == lines.size()) {
      DrawTextFitted(dc, pieces[i], lines[i], 1, format);
    } else {
      plat::RECT r = lines[i];
      plat::DrawTextW(dc, pieces[i].c_str(), static_cast<int>(pieces[i].size()), &r, format);
    }
  }
}

SkinTone MixAverageTone(std::uint64_t redSum, std::uint64_t greenSum, std::uint64_t blueSum, std::uint64_t count) {
  if (count == 0) return {};
  auto mix = [count](std::uint64_t sum) { return static_cast<std::uint8_t>((3 * sum / count + 255) / 4); };
  return SkinTone{mix(redSum), mix(greenSum), mix(blueSum)};
}

SkinTone GetAverageTone(const CSTScreenBuffer& buffer, const plat::RECT& rect) {
  const plat::RECT r = Clip(buffer, rect);
  std::uint64_t red = 0, green = 0, blue = 0, count = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      const std::uint8_t* p = buffer.Row(y) + x * 3;
      blue += p[0];
      green += p[1];
      red += p[2];
      ++count;
    }
  }
  return MixAverageTone(red, green, blue, count);
}

SkinTone GetKeyedTone(const CSTScreenBuffer& target, const plat::RECT& rect, const CSTScreenBuffer& skin,
                      plat::POINT cell, plat::COLORREF key) {
  const plat::RECT r = Clip(target, rect);
  std::uint64_t red = 0, green = 0, blue = 0, count = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      plat::COLORREF s = 0;
      if (!SkinPixel(skin, rect, cell, x, y, &s) || s != key) continue;
      const std::uint8_t* p = target.Row(y) + x * 3;
      blue += p[0];
      green += p[1];
      red += p[2];
      ++count;
    }
  }
  return MixAverageTone(red, green, blue, count);
}

void ReplaceKeyColour(CSTScreenBuffer& target, const plat::RECT& rect, const CSTScreenBuffer& skin, plat::POINT cell,
                      plat::COLORREF key, plat::COLORREF colour) {
  const plat::RECT r = Clip(target, rect);
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      plat::COLORREF s = 0;
      if (SkinPixel(skin, rect, cell, x, y, &s) && s == key) SetPixelAt(target, x, y, colour);
    }
  }
}

void DrawSkinCell(CSTScreenBuffer& target, const plat::RECT& rect, const CSTScreenBuffer& skin, plat::POINT cell,
                  const SkinTone* tone) {
  const SkinTone white = tone ? *tone : GetKeyedTone(target, rect, skin, cell, kWhite);
  ReplaceKeyColour(target, rect, skin, cell, kRed, GetThemeColor(kSkinThemeIndex, kSkinThemeDefault));
  ReplaceKeyColour(target, rect, skin, cell, kWhite, white.Colour());
}

bool LoadSkin(CSTScreenBuffer& skin, int resourceId) {
  plat::HBITMAP bitmap = plat::LoadBitmapW(GetTodayModule(), plat::MAKEINTRESOURCEW(resourceId));
  if (!bitmap) return false;
  const bool loaded = skin.CreateFromBitmap(bitmap);
  plat::DeleteObject(bitmap);
  return loaded;
}
