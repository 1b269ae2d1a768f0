// Fonts (fontconfig matching, FreeType glyphs), text metrics and extents,
// ExtTextOutW and DrawTextW.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include <fontconfig/fontconfig.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cstring>
#include <map>
#include <thread>
#include <tuple>
#include <unordered_map>

#include "platform/base/Text.h"
#include "platform/gdi/GdiInternal.h"
#include "platform/gdi/TextLayout.h"

namespace plat {
namespace gdi {

struct Glyph {
  int advance = 0;
  bool rendered = false;
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint8_t> coverage;
};

struct FaceData {
  FT_Face face = nullptr;
  int em = 12;
  bool synthBold = false;
  bool synthItalic = false;
  bool antialias = false;
  int ascent = 0, descent = 0, height = 0, internalLeading = 0, aveWidth = 0, maxWidth = 0;
  int underlinePos = 1, underlineThickness = 1;
  std::unordered_map<char32_t, Glyph> glyphs;
  // Faces of other font files at the same size, for the characters this one
  // lacks (Chinese and Japanese titles in a Latin face), by file and index.
  std::map<std::pair<std::string, int>, FT_Face> fallbacks;
  ~FaceData() {
    for (auto& [key, f] : fallbacks)
      if (f) FT_Done_Face(f);
    if (face) FT_Done_Face(face);
  }
};

namespace {

std::mutex& TextLock() {
  static auto* m = new std::mutex();
  return *m;
}

FT_Library Library() {
  static FT_Library lib = [] {
    FT_Library l = nullptr;
    if (FT_Init_FreeType(&l) != 0) return static_cast<FT_Library>(nullptr);
    return l;
  }();
  return lib;
}

struct Match {
  std::string file;
  int index = 0;
  bool bold = false;
  bool italic = false;
};

std::string HostFamily(const std::u16string& face) {
  std::u16string f = ToLower(face);
  if (f.empty() || f == u"tahoma" || f == u"system" || f == u"ms sans serif" || f == u"segoe ui" ||
      f == u"arial" || f == u"helvetica" || f == u"verdana")
    return "DejaVu Sans";
  if (f == u"courier new" || f == u"courier" || f == u"lucida console") return "DejaVu Sans Mono";
  if (f == u"times new roman" || f == u"times" || f == u"georgia") return "DejaVu Serif";
  return Utf16ToUtf8(face);
}

// Fontconfig's configuration and font list, read once per process (by the
// first caller; any other waits for it).
bool FontConfigReady() {
  static const bool ready = [] {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_disable();
#endif
    const bool ok = FcInit() != 0;
#if defined(__SANITIZE_ADDRESS__)
    __lsan_enable();
#endif
    return ok;
  }();
  return ready;
}

// Called with TextLock held: fontconfig's best scalable font for the
// pattern (which it takes), or null.
FcPattern* BestMatch(FcPattern* pat) {
#if defined(__SANITIZE_ADDRESS__)
  // Fontconfig keeps its configuration and caches for the life of the process.
  struct LeakScope {
    LeakScope() { __lsan_disable(); }
    ~LeakScope() { __lsan_enable(); }
  } leakScope;
#endif
  if (!FontConfigReady() || !pat) {
    if (pat) FcPatternDestroy(pat);
    return nullptr;
  }
  FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult res = FcResultNoMatch;
  FcPattern* m = FcFontMatch(nullptr, pat, &res);
  FcPatternDestroy(pat);
  return m;
}

// Called with TextLock held.
bool MatchFont(const std::string& family, bool bold, bool italic, Match& out) {
  static std::map<std::tuple<std::string, bool, bool>, Match> cache;
  auto key = std::make_tuple(family, bold, italic);
  auto it = cache.find(key);
  if (it != cache.end()) {
    out = it->second;
    return true;
  }
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPattern* m = BestMatch(pat);
  if (!m) return false;
  FcChar8* file = nullptr;
  int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  bool ok = FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch && file;
  FcPatternGetInteger(m, FC_INDEX, 0, &index);
  FcPatternGetInteger(m, FC_WEIGHT, 0, &weight);
  FcPatternGetInteger(m, FC_SLANT, 0, &slant);
  if (ok) {
    out.file = reinterpret_cast<const char*>(file);
    out.index = index;
    out.bold = weight >= FC_WEIGHT_DEMIBOLD;
    out.italic = slant != FC_SLANT_ROMAN;
    cache[key] = out;
  }
  FcPatternDestroy(m);
  return ok;
}

int DefaultEm() { return 12 * ScreenDpi() / 96; }

// Called with TextLock held: the font file fontconfig offers for a character,
// by its coverage (cached per character; an empty file for none).
const Match& FallbackMatch(char32_t cp) {
  static std::unordered_map<char32_t, Match> cache;
  auto it = cache.find(cp);
  if (it != cache.end()) return it->second;
  Match& out = cache[cp];
  FcPattern* pat = FcPatternCreate();
  FcCharSet* chars = FcCharSetCreate();
  FcCharSetAddChar(chars, static_cast<FcChar32>(cp));
  FcPatternAddCharSet(pat, FC_CHARSET, chars);
  FcCharSetDestroy(chars);  // the pattern holds its own copy
  FcPattern* m = BestMatch(pat);
  if (!m) return out;
  FcChar8* file = nullptr;
  FcCharSet* has = nullptr;
  int index = 0;
  // Only a font that really holds the character is taken.
  if (FcPatternGetString(m, FC_FILE, 0, &file) == FcResultMatch && file &&
      FcPatternGetCharSet(m, FC_CHARSET, 0, &has) == FcResultMatch && has &&
      FcCharSetHasChar(has, static_cast<FcChar32>(cp))) {
    FcPatternGetInteger(m, FC_INDEX, 0, &index);
    out.file = reinterpret_cast<const char*>(file);
    out.index = index;
  }
  FcPatternDestroy(m);
  return out;
}

// Called with TextLock held: a face at fd's size that has the character, or
// null when no installed font has it.
FT_Face FallbackFace(FaceData& fd, char32_t cp) {
  const Match& m = FallbackMatch(cp);
  if (m.file.empty()) return nullptr;
  const auto key = std::make_pair(m.file, m.index);
  auto it = fd.fallbacks.find(key);
  if (it == fd.fallbacks.end()) {
    FT_Face face = nullptr;
    if (FT_New_Face(Library(), m.file.c_str(), m.index, &face) != 0) face = nullptr;
    if (face && FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(fd.em)) != 0) {
      FT_Done_Face(face);
      face = nullptr;
    }
    if (face && fd.synthItalic) {
      FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};
      FT_Set_Transform(face, &shear, nullptr);
    }
    it = fd.fallbacks.emplace(key, face).first;
  }
  return it->second;
}

// Called with TextLock held.
std::shared_ptr<FaceData> OpenFace(const LOGFONTW& lf) {
  std::u16string faceName(lf.lfFaceName, std::find(lf.lfFaceName, lf.lfFaceName + LF_FACESIZE, u'\0'));
  bool bold = lf.lfWeight >= FW_SEMIBOLD;
  bool italic = lf.lfItalic != 0;
  bool aa = lf.lfQuality == ANTIALIASED_QUALITY || lf.lfQuality == CLEARTYPE_QUALITY ||
            lf.lfQuality == CLEARTYPE_COMPAT_QUALITY;
  Match m;
  if (!Library() || !MatchFont(HostFamily(faceName), bold, italic, m)) return nullptr;
  FT_Face face = nullptr;
  if (FT_New_Face(Library(), m.file.c_str(), m.index, &face) != 0 || !face) return nullptr;
  auto fd = std::make_shared<FaceData>();
  fd->face = face;
  fd->antialias = aa;
  fd->synthBold = bold && !m.bold;
  fd->synthItalic = italic && !m.italic;
  int em;
  if (lf.lfHeight < 0) {
    em = -lf.lfHeight;
  } else if (lf.lfHeight > 0) {
    int cell = face->ascender - face->descender;
    em = cell > 0 ? static_cast<int>((static_cast<long long>(lf.lfHeight) * face->units_per_EM + cell / 2) / cell)
                  : lf.lfHeight;
  } else {
    em = DefaultEm();
  }
  em = std::clamp(em, 1, 1000);
  fd->em = em;
  if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(em)) != 0) return nullptr;
  if (fd->synthItalic) {
    FT_Matrix shear{0x10000, 0x0366A, 0, 0x10000};  // about 12 degrees
    FT_Set_Transform(face, &shear, nullptr);
  }
  const FT_Size_Metrics& sm = face->size->metrics;
  fd->ascent = static_cast<int>((sm.ascender + 63) >> 6);
  fd->descent = static_cast<int>((-sm.descender + 63) >> 6);
  fd->height = fd->ascent + fd->descent;
  fd->internalLeading = std::max(0, fd->height - em);
  fd->maxWidth = static_cast<int>((sm.max_advance + 63) >> 6);
  if (FT_IS_SCALABLE(face)) {
    fd->underlinePos = std::max(1, static_cast<int>(-FT_MulFix(face->underline_position, sm.y_scale) >> 6));
    fd->underlineThickness = std::max(1, static_cast<int>(FT_MulFix(face->underline_thickness, sm.y_scale) >> 6));
  }
  return fd;
}

// Called with TextLock held.
Glyph& GlyphOf(FaceData& fd, char32_t cp, bool render) {
  Glyph& g = fd.glyphs[cp];
  if (g.rendered || (!render && (g.advance != 0 || cp < 0x20))) return g;
  if (cp < 0x20) {
    g.rendered = true;
    return g;
  }
  FT_Face face = fd.face;
  FT_UInt index = FT_Get_Char_Index(face, cp);
  if (index == 0 && cp >= 0x80) {
    // A character the face lacks is drawn from a font that has it.
    if (FT_Face other = FallbackFace(fd, cp)) {
      if (FT_UInt i = FT_Get_Char_Index(other, cp)) {
        face = other;
        index = i;
      }
    }
  }
  FT_Int32 flags = FT_LOAD_DEFAULT | (fd.antialias ? FT_LOAD_TARGET_NORMAL : FT_LOAD_TARGET_MONO);
  if (FT_Load_Glyph(face, index, flags) != 0) {
    g.rendered = true;
    return g;
  }
  FT_GlyphSlot slot = face->glyph;
  if (fd.synthBold) FT_GlyphSlot_Embolden(slot);
  g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
  if (!render) return g;
  if (FT_Render_Glyph(slot, fd.antialias ? FT_RENDER_MODE_NORMAL : FT_RENDER_MODE_MONO) == 0) {
    const FT_Bitmap& bm = slot->bitmap;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.height = static_cast<int>(bm.rows);
    g.coverage.assign(static_cast<std::size_t>(g.width) * g.height, 0);
    for (int y = 0; y < g.height; ++y) {
      const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
      for (int x = 0; x < g.width; ++x) {
        std::uint8_t c = bm.pixel_mode == FT_PIXEL_MODE_MONO ? (((row[x >> 3] >> (7 - (x & 7))) & 1) ? 255 : 0)
                                                             : row[x];
        g.coverage[static_cast<std::size_t>(y) * g.width + x] = c;
      }
    }
  }
  g.rendered = true;
  return g;
}

std::shared_ptr<FaceData> FaceOf(Font* f) {
  std::lock_guard<std::mutex> g(TextLock());
  if (!f->face) f->face = OpenFace(f->lf);
  return f->face;
}

Font* NewFont(const LOGFONTW& lf, bool stock) {
  auto* f = new Font();
  f->lf = lf;
  f->isStock = stock;
  RegisterLive(static_cast<GdiObject*>(f));
  return f;
}

LOGFONTW SystemLogfont(LONG weight) {
  LOGFONTW lf{};
  lf.lfHeight = -DefaultEm();
  lf.lfWeight = weight;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  const char16_t name[] = u"Tahoma";
  std::memcpy(lf.lfFaceName, name, sizeof(name));
  return lf;
}

Font* DcFont(Dc* dc) {
  Font* f = dc->st.font;
  if (!f || !IsLive(static_cast<GdiObject*>(f))) f = DefaultFont();
  return f;
}

// Code points of a UTF-16 text; each unit gets the index of its code point's
// first unit (so widths land on the first unit of a surrogate pair).
struct Decoded {
  char32_t cp;
  bool first;  // the unit that carries the width
};
std::vector<Decoded> Decode(const WCHAR* text, int count) {
  std::vector<Decoded> out(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    char16_t u = text[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      out[i] = {0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00), true};
      out[i + 1] = {0, false};
      ++i;
    } else {
      out[i] = {u, true};
    }
  }
  return out;
}

// Per-unit advances of a text in the DC's font.
bool Advances(Dc* dc, const WCHAR* text, int count, std::vector<int>& adv) {
  adv.assign(static_cast<std::size_t>(std::max(count, 0)), 0);
  if (count <= 0) return true;
  auto fd = FaceOf(DcFont(dc));
  if (!fd) return false;
  std::vector<Decoded> d = Decode(text, count);
  std::lock_guard<std::mutex> g(TextLock());
  for (int i = 0; i < count; ++i)
    if (d[i].first) adv[i] = GlyphOf(*fd, d[i].cp, false).advance;
  return true;
}

int Width(Dc* dc, const std::u16string& s) {
  std::vector<int> adv;
  Advances(dc, s.data(), static_cast<int>(s.size()), adv);
  int w = 0;
  for (int a : adv) w += a;
  return w;
}

// Draws a run with its baseline at (x, baseline), device coordinates, clipped.
void DrawRun(Dc* dc, int x, int baseline, const WCHAR* text, int count, const int* dx, const RECT& clip) {
  Bitmap* b = dc->Target();
  Font* font = DcFont(dc);
  auto fd = FaceOf(font);
  if (!b || !fd) return;
  std::vector<Decoded> d = Decode(text, count);
  DWORD colour = RgbOf(dc->st.textColour);
  const DWORD colourRaw = b->RgbToRaw(colour);  // the pixels a glyph covers whole
  int penX = x;
  std::lock_guard<std::mutex> g(TextLock());
  for (int i = 0; i < count; ++i) {
    if (!d[i].first) {
      if (dx) penX += dx[i];
      continue;
    }
    Glyph& gl = GlyphOf(*fd, d[i].cp, true);
    int gx = penX + gl.left, gy = baseline - gl.top;
    for (int yy = 0; yy < gl.height; ++yy) {
      int py = gy + yy;
      if (py < clip.top || py >= clip.bottom) continue;
      for (int xx = 0; xx < gl.width; ++xx) {
        int px = gx + xx;
        if (px < clip.left || px >= clip.right) continue;
        unsigned c = gl.coverage[static_cast<std::size_t>(yy) * gl.width + xx];
        if (c == 0) continue;
        if (c == 255) {
          b->PutRaw(px, py, colourRaw);
          continue;
        }
        DWORD o = b->GetRgb(px, py);
        DWORD out = 0;
        for (int sh = 0; sh <= 16; sh += 8) {
          unsigned tc = (colour >> sh) & 0xFF, oc = (o >> sh) & 0xFF;
          out |= ((tc * c + oc * (255 - c) + 127) / 255) << sh;
        }
        b->PutRgb(px, py, out);
      }
    }
    penX += dx ? dx[i] : gl.advance;
  }
  int total = penX - x;
  auto line = [&](int y, int thick) {
    for (int yy = y; yy < y + thick; ++yy)
      for (int xx = x; xx < x + total; ++xx)
        if (yy >= clip.top && yy < clip.bottom && xx >= clip.left && xx < clip.right) b->PutRaw(xx, yy, colourRaw);
  };
  if (font->lf.lfUnderline) line(baseline + fd->underlinePos, fd->underlineThickness);
  if (font->lf.lfStrikeOut) line(baseline - fd->ascent / 3, fd->underlineThickness);
}

void FillDeviceRect(Dc* dc, RECT r, COLORREF c, const RECT& clip) {
  Bitmap* b = dc->Target();
  RECT out;
  if (!b || !IntersectRect(&out, &r, &clip)) return;
  DWORD raw = b->RgbToRaw(RgbOf(c));
  for (int y = out.top; y < out.bottom; ++y)
    for (int x = out.left; x < out.right; ++x) b->PutRaw(x, y, raw);
}

}  // namespace

// One pair of stock fonts for each screen DPI the process has had (tests pose
// several), so text keeps its size in points.
Font* StockFont(int index) {
  static auto* lock = new std::mutex;
  static auto* fonts = new std::map<std::pair<int, int>, Font*>;
  std::lock_guard<std::mutex> g(*lock);
  Font*& f = (*fonts)[{index == SYSTEM_FONT ? 0 : 1, ScreenDpi()}];
  if (!f) f = NewFont(SystemLogfont(FW_NORMAL), true);
  return f;
}

Font* DefaultFont() { return StockFont(SYSTEM_FONT); }

}  // namespace gdi

using namespace gdi;

void PrepareFonts() {
  std::thread([] { FontConfigReady(); }).detach();
}

HFONT CreateFontIndirectW(const LOGFONTW* lf) {
  if (!lf) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  LOGFONTW copy = *lf;
  copy.lfFaceName[LF_FACESIZE - 1] = 0;
  Font* f = NewFont(copy, false);
  if (!FaceOf(f)) {
    DeleteObject(f);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return f;
}

BOOL GetTextMetricsW(HDC hdc, TEXTMETRICW* tm) {
  Dc* dc = AsDc(hdc);
  if (!dc || !tm) return FALSE;
  Font* font = DcFont(dc);
  auto fd = FaceOf(font);
  if (!fd) return FALSE;
  std::memset(tm, 0, sizeof(*tm));
  tm->tmHeight = fd->height;
  tm->tmAscent = fd->ascent;
  tm->tmDescent = fd->descent;
  tm->tmInternalLeading = fd->internalLeading;
  tm->tmExternalLeading = 0;
  {
    std::lock_guard<std::mutex> g(TextLock());
    tm->tmAveCharWidth = GlyphOf(*fd, U'x', false).advance;
  }
  tm->tmMaxCharWidth = fd->maxWidth;
  tm->tmWeight = font->lf.lfWeight ? font->lf.lfWeight : FW_NORMAL;
  tm->tmDigitizedAspectX = ScreenDpi();
  tm->tmDigitizedAspectY = ScreenDpi();
  tm->tmFirstChar = 0x20;
  tm->tmLastChar = 0xFFFC;
  tm->tmDefaultChar = 0x1F;
  tm->tmBreakChar = 0x20;
  tm->tmItalic = font->lf.lfItalic;
  tm->tmUnderlined = font->lf.lfUnderline;
  tm->tmStruckOut = font->lf.lfStrikeOut;
  tm->tmPitchAndFamily = 0x06 | FF_SWISS;  // variable pitch, vector font
  tm->tmCharSet = font->lf.lfCharSet;
  return TRUE;
}

int GetTextFaceW(HDC hdc, int count, WCHAR* face) {
  Dc* dc = AsDc(hdc);
  if (!dc) return 0;
  const LOGFONTW& lf = DcFont(dc)->lf;
  int n = static_cast<int>(std::find(lf.lfFaceName, lf.lfFaceName + LF_FACESIZE, u'\0') - lf.lfFaceName);
  if (!face) return n + 1;
  if (count <= 0) return 0;
  int c = std::min(n, count - 1);
  std::memcpy(face, lf.lfFaceName, static_cast<std::size_t>(c) * sizeof(WCHAR));
  face[c] = 0;
  return c;
}

BOOL GetTextExtentPoint32W(HDC hdc, const WCHAR* text, int count, SIZE* size) {
  Dc* dc = AsDc(hdc);
  if (!dc || !size || count < 0 || (count > 0 && !text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<int> adv;
  if (!Advances(dc, text, count, adv)) return FALSE;
  auto fd = FaceOf(DcFont(dc));
  int w = 0;
  for (int a : adv) w += a;
  size->cx = w;
  size->cy = fd->height;
  return TRUE;
}

BOOL GetTextExtentExPointW(HDC hdc, const WCHAR* text, int count, int maxExtent, int* fit, int* dx, SIZE* size) {
  Dc* dc = AsDc(hdc);
  if (!dc || count < 0 || (count > 0 && !text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<int> adv;
  if (!Advances(dc, text, count, adv)) return FALSE;
  int w = 0, n = 0;
  bool fitting = true;
  for (int i = 0; i < count; ++i) {
    w += adv[i];
    if (fitting && w <= maxExtent) n = i + 1;
    else fitting = false;
    if (dx) dx[i] = w;
  }
  if (fit) *fit = n;
  if (size) {
    size->cx = w;
    size->cy = FaceOf(DcFont(dc))->height;
  }
  return TRUE;
}

BOOL ExtTextOutW(HDC hdc, int x, int y, UINT options, const RECT* rect, const WCHAR* text, UINT count,
                 const int* dx) {
  Dc* dc = AsDc(hdc);
  if (!dc || (count > 0 && !text)) return FALSE;
  auto fd = FaceOf(DcFont(dc));
  if (!fd) return FALSE;
  POINT o = dc->st.origin;
  RECT clip = dc->DeviceClip();
  RECT devRect{};
  if (rect) {
    devRect = *rect;
    OffsetRect(&devRect, o.x, o.y);
  }
  if (rect && (options & ETO_OPAQUE)) FillDeviceRect(dc, devRect, dc->st.bkColour, clip);
  if (rect && (options & ETO_CLIPPED)) IntersectRect(&clip, &clip, &devRect);
  int n = static_cast<int>(count);
  int width = 0;
  if (dx) {
    for (int i = 0; i < n; ++i) width += dx[i];
  } else {
    std::vector<int> adv;
    Advances(dc, text, n, adv);
    for (int a : adv) width += a;
  }
  int px = x + o.x, py = y + o.y;
  UINT align = dc->st.textAlign;
  if ((align & TA_CENTER) == TA_CENTER) px -= width / 2;
  else if (align & TA_RIGHT) px -= width;
  int baseline;
  if ((align & TA_BASELINE) == TA_BASELINE) baseline = py;
  else if (align & TA_BOTTOM) baseline = py - fd->descent;
  else baseline = py + fd->ascent;
  if (dc->st.bkMode == OPAQUE && !(rect && (options & ETO_OPAQUE)))
    FillDeviceRect(dc, RECT{px, baseline - fd->ascent, px + width, baseline + fd->descent}, dc->st.bkColour, clip);
  if (n > 0) DrawRun(dc, px, baseline, text, n, dx, clip);
  return TRUE;
}

BOOL TextOutW(HDC hdc, int x, int y, const WCHAR* text, int count) {
  if (count < 0) return FALSE;
  return ExtTextOutW(hdc, x, y, 0, nullptr, text, static_cast<UINT>(count), nullptr);
}

COLORREF SetTextColor(HDC hdc, COLORREF c) {
  Dc* dc = AsDc(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->st.textColour;
  dc->st.textColour = c & 0xFFFFFFu;
  return old;
}
COLORREF GetTextColor(HDC hdc) {
  Dc* dc = AsDc(hdc);
  return dc ? dc->st.textColour : CLR_INVALID;
}
COLORREF SetBkColor(HDC hdc, COLORREF c) {
  Dc* dc = AsDc(hdc);
  if (!dc) return CLR_INVALID;
  COLORREF old = dc->st.bkColour;
  dc->st.bkColour = c & 0xFFFFFFu;
  return old;
}
COLORREF GetBkColor(HDC hdc) {
  Dc* dc = AsDc(hdc);
  return dc ? dc->st.bkColour : CLR_INVALID;
}
int SetBkMode(HDC hdc, int mode) {
  Dc* dc = AsDc(hdc);
  if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
  int old = dc->st.bkMode;
  dc->st.bkMode = mode;
  return old;
}
int GetBkMode(HDC hdc) {
  Dc* dc = AsDc(hdc);
  return dc ? dc->st.bkMode : 0;
}
UINT SetTextAlign(HDC hdc, UINT align) {
  Dc* dc = AsDc(hdc);
  if (!dc) return 0xFFFFFFFFu;
  UINT old = dc->st.textAlign;
  dc->st.textAlign = align;
  return old;
}
UINT GetTextAlign(HDC hdc) {
  Dc* dc = AsDc(hdc);
  return dc ? dc->st.textAlign : 0xFFFFFFFFu;
}

// ---------------------------------------------------------------------------
// DrawTextW

namespace {

std::u16string StripPrefixes(const std::u16string& s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == u'&') {
      if (i + 1 < s.size() && s[i + 1] == u'&') {
        out.push_back(u'&');
        ++i;
      }
      continue;
    }
    out.push_back(s[i]);
  }
  return out;
}

// Lines and cut texts lose their trailing spaces, and only those.
bool IsPlainSpace(char16_t c) { return c == u' '; }

// Cuts the text to fit with "..." after it; `force` adds the dots even when
// the whole text fits (it goes on past this line).
std::u16string Ellipsize(Dc* dc, const std::u16string& s, int width, bool force = false) {
  if (!force && Width(dc, s) <= width) return s;
  const std::u16string dots = u"...";
  int dotsW = Width(dc, dots);
  std::vector<int> adv;
  Advances(dc, s.data(), static_cast<int>(s.size()), adv);
  int w = 0;
  std::size_t n = 0;
  while (n < s.size() && w + adv[n] + dotsW <= width) w += adv[n++];
  // Keep surrogate pairs whole.
  if (n > 0 && n < s.size() && s[n] >= 0xDC00 && s[n] < 0xE000) --n;
  return TrimRight(s.substr(0, n), IsPlainSpace) + dots;
}

// Breaks one paragraph (no line feeds) into lines of at most `width`.
void BreakParagraph(Dc* dc, const std::u16string& p, int width, std::vector<std::u16string>& lines) {
  std::vector<int> adv;
  Advances(dc, p.data(), static_cast<int>(p.size()), adv);
  std::size_t pos = 0;
  if (p.empty()) {
    lines.emplace_back();
    return;
  }
  while (pos < p.size()) {
    int w = 0;
    std::size_t e = pos;
    while (e < p.size() && w + adv[e] <= width) w += adv[e++];
    if (e >= p.size()) {
      lines.push_back(TrimRight(p.substr(pos), IsPlainSpace));
      return;
    }
    std::size_t brk = std::u16string::npos;
    for (std::size_t k = e + 1; k-- > pos;) {
      if (p[k] == u' ') {
        brk = k;
        break;
      }
    }
    std::size_t end;
    if (brk != std::u16string::npos && brk > pos) {
      end = brk;
    } else {
      // A word longer than the line stays whole (it is clipped).
      end = p.find(u' ', std::max(e, pos + 1));
      if (end == std::u16string::npos) end = p.size();
    }
    lines.push_back(TrimRight(p.substr(pos, end - pos), IsPlainSpace));
    pos = end;
    while (pos < p.size() && p[pos] == u' ') ++pos;
  }
}

struct Layout {
  std::vector<std::u16string> lines;
  int lineHeight = 0;
};

Layout LayoutText(Dc* dc, std::u16string text, const RECT& rect, UINT format) {
  Layout out;
  auto fd = FaceOf(DcFont(dc));
  out.lineHeight = fd ? fd->height : 0;
  if (!(format & DT_NOPREFIX)) text = StripPrefixes(text);
  if (format & DT_EXPANDTABS) {
    std::u16string t;
    for (char16_t c : text) {
      if (c == u'\t') t.append(8, u' ');
      else t.push_back(c);
    }
    text = t;
  }
  int width = rect.right - rect.left;
  // Measuring gives the whole text's extent: no ellipsis then.
  if (format & DT_CALCRECT) format &= ~(DT_END_ELLIPSIS | DT_WORD_ELLIPSIS);
  if (format & DT_SINGLELINE) {
    std::u16string t;
    for (char16_t c : text)
      if (c != u'\r' && c != u'\n') t.push_back(c);
    if (format & (DT_END_ELLIPSIS | DT_WORD_ELLIPSIS)) t = Ellipsize(dc, t, width);
    out.lines.push_back(t);
    return out;
  }
  std::vector<std::u16string> paragraphs;
  std::u16string cur;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') continue;
    if (text[i] == u'\n' || text[i] == u'\r') {
      paragraphs.push_back(cur);
      cur.clear();
      continue;
    }
    cur.push_back(text[i]);
  }
  paragraphs.push_back(cur);
  std::vector<std::size_t> startParagraph;  // paragraph index of each line
  for (std::size_t k = 0; k < paragraphs.size(); ++k) {
    std::size_t before = out.lines.size();
    if (format & DT_WORDBREAK) BreakParagraph(dc, paragraphs[k], width, out.lines);
    else out.lines.push_back(paragraphs[k]);
    for (std::size_t i = before; i < out.lines.size(); ++i) startParagraph.push_back(k);
  }
  if (format & (DT_END_ELLIPSIS | DT_WORD_ELLIPSIS)) {
    int height = rect.bottom - rect.top;
    std::size_t visible = out.lineHeight > 0 ? static_cast<std::size_t>(std::max(1, height / out.lineHeight)) : 1;
    if ((format & DT_WORDBREAK) && out.lines.size() > visible) {
      // The last line that fits carries the rest of the text, cut with an ellipsis.
      std::u16string rest;
      for (std::size_t i = visible - 1; i < out.lines.size(); ++i) {
        if (!rest.empty()) rest.push_back(u' ');
        rest += out.lines[i];
      }
      out.lines.resize(visible);
      out.lines.back() = Ellipsize(dc, rest, width, true);
    }
    for (auto& l : out.lines) l = Ellipsize(dc, l, width);
  }
  return out;
}

}  // namespace

std::vector<std::u16string> LayoutTextLines(HDC hdc, const std::u16string& text, const RECT& rect, UINT format) {
  Dc* dc = AsDc(hdc);
  if (!dc) return {};
  return LayoutText(dc, text, rect, format).lines;
}

int DrawTextW(HDC hdc, const WCHAR* text, int count, RECT* rect, UINT format) {
  Dc* dc = AsDc(hdc);
  if (!dc || !rect || (!text && count != 0)) return 0;
  std::u16string s = count < 0 ? std::u16string(text) : std::u16string(text, static_cast<std::size_t>(count));
  Layout lay = LayoutText(dc, s, *rect, format);
  int lh = lay.lineHeight;
  int total = lh * static_cast<int>(lay.lines.size());
  if (format & DT_CALCRECT) {
    int maxW = 0;
    for (auto& l : lay.lines) maxW = std::max(maxW, Width(dc, l));
    rect->right = rect->left + maxW;
    rect->bottom = rect->top + total;
    return total;
  }
  int top = rect->top;
  if (format & DT_SINGLELINE) {
    if (format & DT_VCENTER) top = rect->top + (rect->bottom - rect->top - lh) / 2;
    else if (format & DT_BOTTOM) top = rect->bottom - lh;
  }
  POINT o = dc->st.origin;
  RECT clip = dc->DeviceClip();
  if (!(format & DT_NOCLIP)) {
    RECT r = *rect;
    OffsetRect(&r, o.x, o.y);
    IntersectRect(&clip, &clip, &r);
  }
  auto fd = FaceOf(DcFont(dc));
  if (!fd) return 0;
  int y = top;
  for (auto& l : lay.lines) {
    int w = Width(dc, l);
    int x = rect->left;
    if (format & DT_CENTER) x = rect->left + (rect->right - rect->left - w) / 2;
    else if (format & DT_RIGHT) x = rect->right - w;
    if (dc->st.bkMode == OPAQUE)
      FillDeviceRect(dc, RECT{x + o.x, y + o.y, x + o.x + w, y + o.y + lh}, dc->st.bkColour, clip);
    if (!l.empty()) DrawRun(dc, x + o.x, y + o.y + fd->ascent, l.data(), static_cast<int>(l.size()), nullptr, clip);
    y += lh;
  }
  if ((format & DT_SINGLELINE) && (format & (DT_VCENTER | DT_BOTTOM))) return top + lh - rect->top;
  return total;
}

}  // namespace plat
