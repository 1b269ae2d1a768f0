// The renderer's document container over our GDI, and the page around it.
#include "platform/htmlview/HtmlPage.h"

#include <litehtml/litehtml.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "platform/base/Text.h"
#include "platform/htmlview/HtmlStyle.h"
#include "platform/htmlview/HtmlView.h"

namespace plat::htmlview {
namespace {

// Text sizes at 96 dpi, smallest to largest.
constexpr int kTextSizes[5] = {9, 10, 12, 14, 17};
constexpr const char* kCookieAttr = "data-viewer-cookie";
constexpr COLORREF kSelectionColour = RGB(0xB4, 0xD5, 0xFE);
constexpr COLORREF kPlaceholderColour = RGB(0xB0, 0xB0, 0xB0);

litehtml::context& Context() {
  static litehtml::context* context = [] {
    auto* c = new litehtml::context;
    c->load_master_stylesheet(DefaultStyleSheet());
    return c;
  }();
  return *context;
}

COLORREF ToColour(const litehtml::web_color& c) { return RGB(c.red, c.green, c.blue); }

std::u16string Wide(const char* utf8) { return utf8 ? Utf8ToUtf16(utf8) : std::u16string(); }

// The device face for a CSS family list: its first family decides.
std::u16string FaceFor(const char* families) {
  std::string first;
  if (families) {
    const char* p = families;
    while (*p == ' ' || *p == '"' || *p == '\'') ++p;
    while (*p && *p != ',' && *p != '"' && *p != '\'') first.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(*p++))));
  }
  if (first.find("mono") != std::string::npos || first.find("courier") != std::string::npos ||
      first.find("consol") != std::string::npos)
    return u"Courier New";
  if (first == "serif" || first.find("times") != std::string::npos || first.find("georgia") != std::string::npos)
    return u"Times New Roman";
  return u"Tahoma";
}

void FillSolid(HDC hdc, const RECT& r, COLORREF colour) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(hdc, &r, brush);
  DeleteObject(brush);
}

RECT RectOf(const litehtml::position& p) {
  return RECT{p.x, p.y, p.x + p.width, p.y + p.height};
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared bitmaps

namespace {
struct BitmapRegistry {
  std::mutex lock;
  std::unordered_map<HBITMAP, std::weak_ptr<SharedBitmap>> live;
};
BitmapRegistry& Registry() {
  static auto* r = new BitmapRegistry;
  return *r;
}
}  // namespace

std::shared_ptr<SharedBitmap> SharedBitmap::Of(HBITMAP bitmap, bool own) {
  BitmapRegistry& r = Registry();
  std::lock_guard<std::mutex> g(r.lock);
  std::shared_ptr<SharedBitmap> shared = r.live[bitmap].lock();
  if (!shared) {
    shared = std::make_shared<SharedBitmap>(bitmap);
    r.live[bitmap] = shared;
  }
  if (own) shared->own_ = true;
  return shared;
}

SharedBitmap::~SharedBitmap() {
  {
    BitmapRegistry& r = Registry();
    std::lock_guard<std::mutex> g(r.lock);
    auto it = r.live.find(bitmap_);
    if (it != r.live.end() && it->second.expired()) r.live.erase(it);
  }
  if (own_) DeleteObject(bitmap_);
}

// ---------------------------------------------------------------------------
// The container

class HtmlPage::Container final : public litehtml::document_container {
 public:
  struct Font {
    ~Font() {
      if (handle) DeleteObject(handle);
    }
    HFONT handle = nullptr;
    int ascent = 0;
    int descent = 0;
    int height = 0;
    int xHeight = 0;
    unsigned decoration = 0;
    // Looked up by the renderer's own text, without a copy.
    struct TextHash {
      using is_transparent = void;
      std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    std::unordered_map<std::string, int, TextHash, std::equal_to<>> widths;
  };
  struct Image {
    std::string src;
    std::shared_ptr<SharedBitmap> bitmap;
    int width = 0;
    int height = 0;
    bool failed = false;
    HBITMAP scaled = nullptr;  // the picture at the size last drawn
    int scaledWidth = 0;
    int scaledHeight = 0;
  };

  explicit Container(int dpi) : dpi_(dpi > 0 ? dpi : 96) {
    measure_ = CreateCompatibleDC(nullptr);
    blit_ = CreateCompatibleDC(nullptr);
  }
  ~Container() {
    doc.reset();
    ResetImages();
    fonts_.clear();
    DeleteDC(measure_);
    DeleteDC(blit_);
  }

  void SetFontPixels(int px) { fontPixels_ = px; }
  int Dpi() const { return dpi_; }

  void ResetImages() {
    for (auto& [cookie, image] : images) DropScaled(image);
    images.clear();
    cookiesBySrc.clear();
  }
  void DropScaled(Image& image) {
    if (image.scaled) DeleteObject(image.scaled);
    image.scaled = nullptr;
    image.scaledWidth = image.scaledHeight = 0;
  }

  // The image shown for an address: the first of its cookies with a picture.
  Image* Shown(const std::string& src, Image** anyOut = nullptr) {
    auto it = cookiesBySrc.find(src);
    if (it == cookiesBySrc.end()) return nullptr;
    Image* any = nullptr;
    for (DWORD cookie : it->second) {
      auto found = images.find(cookie);
      if (found == images.end()) continue;
      if (!any) any = &found->second;
      if (found->second.bitmap) return &found->second;
    }
    if (anyOut) *anyOut = any;
    return nullptr;
  }

  int Placeholder() const { return 20 * dpi_ / 96; }

  // --- document_container

  litehtml::uint_ptr create_font(const litehtml::tchar_t* faceName, int size, int weight, litehtml::font_style italic,
                                 unsigned int decoration, litehtml::font_metrics* fm) override {
    LOGFONTW lf{};
    lf.lfHeight = -std::clamp(size, 1, 400);
    lf.lfWeight = weight;
    lf.lfItalic = italic == litehtml::fontStyleItalic ? 1 : 0;
    lf.lfQuality = ANTIALIASED_QUALITY;
    const std::u16string face = FaceFor(faceName);
    std::copy_n(face.c_str(), std::min<std::size_t>(face.size() + 1, LF_FACESIZE), lf.lfFaceName);
    std::shared_ptr<Font> font = SharedFont(lf, decoration);
    if (!font) return 0;
    if (fm) {
      fm->ascent = font->ascent;
      fm->descent = font->descent;
      fm->height = font->height;
      fm->x_height = font->xHeight;
      // Spaces are drawn too, so that underlines and the selection run on
      // between words.
      fm->draw_spaces = true;
    }
    const litehtml::uint_ptr id = ++lastFont_;
    fonts_[id] = std::move(font);
    return id;
  }

  void delete_font(litehtml::uint_ptr id) override { fonts_.erase(id); }

  Font* FontOf(litehtml::uint_ptr id) {
    auto it = fonts_.find(id);
    return it == fonts_.end() ? nullptr : it->second.get();
  }

  int text_width(const litehtml::tchar_t* text, litehtml::uint_ptr id) override {
    Font* font = FontOf(id);
    if (!font || !text) return 0;
    auto cached = font->widths.find(std::string_view(text));
    if (cached != font->widths.end()) return cached->second;
    const std::u16string wide = Utf8ToUtf16(text);
    HGDIOBJ old = SelectObject(measure_, font->handle);
    SIZE size{};
    GetTextExtentPoint32W(measure_, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(measure_, old);
    if (font->widths.size() < 50000) font->widths.emplace(text, size.cx);
    return size.cx;
  }

  void draw_text(litehtml::uint_ptr hdc, const litehtml::tchar_t* text, litehtml::uint_ptr id,
                 litehtml::web_color color, const litehtml::position& pos) override {
    Font* font = FontOf(id);
    HDC dc = reinterpret_cast<HDC>(hdc);
    if (!font || !text || !dc) return;
    if (selected) FillSolid(dc, RectOf(pos), kSelectionColour);
    const bool blank = std::all_of(text, text + std::strlen(text), IsXmlSpace);
    if (blank && !(font->decoration & (litehtml::font_decoration_underline | litehtml::font_decoration_linethrough)))
      return;
    const std::u16string wide = Utf8ToUtf16(text);
    HGDIOBJ old = SelectObject(dc, font->handle);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ToColour(color));
    SetTextAlign(dc, TA_LEFT | TA_TOP);
    TextOutW(dc, pos.x, pos.y, wide.c_str(), static_cast<int>(wide.size()));
    SelectObject(dc, old);
    const int thick = std::max(1, font->height / 16);
    auto line = [&](int y) { FillSolid(dc, RECT{pos.x, y, pos.x + pos.width, y + thick}, ToColour(color)); };
    if (font->decoration & litehtml::font_decoration_underline) line(pos.y + font->ascent + std::max(1, font->descent / 3));
    if (font->decoration & litehtml::font_decoration_linethrough) line(pos.y + font->ascent - font->xHeight / 2 - thick);
    if (font->decoration & litehtml::font_decoration_overline) line(pos.y);
  }

  int pt_to_px(int pt) const override { return pt * dpi_ / 72; }
  int get_default_font_size() const override { return fontPixels_; }
  const litehtml::tchar_t* get_default_font_name() const override { return "Tahoma"; }

  void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override {
    HDC dc = reinterpret_cast<HDC>(hdc);
    const RECT r = RectOf(marker.pos);
    if (r.right <= r.left || r.bottom <= r.top) return;
    HBRUSH brush = CreateSolidBrush(ToColour(marker.color));
    HPEN pen = CreatePen(PS_SOLID, 1, ToColour(marker.color));
    HGDIOBJ oldPen = SelectObject(dc, pen);
    switch (marker.marker_type) {
      case litehtml::list_style_type_square:
        FillRect(dc, &r, brush);
        break;
      case litehtml::list_style_type_circle: {
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        Ellipse(dc, r.left, r.top, r.right, r.bottom);
        SelectObject(dc, oldBrush);
        break;
      }
      case litehtml::list_style_type_none:
        break;
      default: {
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        Ellipse(dc, r.left, r.top, r.right, r.bottom);
        SelectObject(dc, oldBrush);
        break;
      }
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    DeleteObject(brush);
  }

  // Nothing is fetched: pictures of img elements come by cookie. The
  // renderer asks once per img element and once per other use of an address
  // (backgrounds, list markers); the count tells the img-only addresses.
  void load_image(const litehtml::tchar_t* src, const litehtml::tchar_t*, bool) override {
    if (src) ++usesBySrc[src];
  }

  // The size the layout gets for an address: the picture's once shown, a
  // placeholder while an img waits for it.
  litehtml::size SizeFor(const std::string& src) {
    litehtml::size sz;
    if (Image* shown = Shown(src)) {
      sz.width = shown->width;
      sz.height = shown->height;
    } else if (cookiesBySrc.count(src)) {
      sz.width = sz.height = Placeholder();
    }
    return sz;
  }

  void get_image_size(const litehtml::tchar_t* src, const litehtml::tchar_t*, litehtml::size& sz) override {
    sz = src ? SizeFor(src) : litehtml::size();
  }

  void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override {
    HDC dc = reinterpret_cast<HDC>(hdc);
    if (bg.image.empty()) {
      if (bg.color.alpha) FillSolid(dc, RectOf(bg.clip_box), ToColour(bg.color));
      return;
    }
    Image* any = nullptr;
    Image* shown = Shown(bg.image, &any);
    const RECT target{bg.position_x, bg.position_y, bg.position_x + bg.image_size.width,
                      bg.position_y + bg.image_size.height};
    if (!shown) {
      if (!any) return;  // style-sheet pictures are never loaded
      // A placeholder until the picture comes (a frame; crossed when it will not).
      HBRUSH frame = CreateSolidBrush(kPlaceholderColour);
      FrameRect(dc, &target, frame);
      DeleteObject(frame);
      if (any->failed && target.right - target.left > 4 && target.bottom - target.top > 4) {
        HPEN pen = CreatePen(PS_SOLID, 1, kPlaceholderColour);
        HGDIOBJ old = SelectObject(dc, pen);
        MoveToEx(dc, target.left, target.top, nullptr);
        LineTo(dc, target.right - 1, target.bottom - 1);
        MoveToEx(dc, target.right - 1, target.top, nullptr);
        LineTo(dc, target.left, target.bottom - 1);
        SelectObject(dc, old);
        DeleteObject(pen);
      }
      return;
    }
    const int w = target.right - target.left;
    const int h = target.bottom - target.top;
    if (w <= 0 || h <= 0) return;
    if (!shown->scaled || shown->scaledWidth != w || shown->scaledHeight != h) {
      DropScaled(*shown);
      HBITMAP scaled = CreateCompatibleBitmap(nullptr, w, h);
      if (!scaled) return;
      HGDIOBJ oldDst = SelectObject(blit_, scaled);
      HDC src = CreateCompatibleDC(nullptr);
      HGDIOBJ oldSrc = SelectObject(src, shown->bitmap->Handle());
      SetStretchBltMode(blit_, (w == shown->width && h == shown->height) ? COLORONCOLOR : HALFTONE);
      StretchBlt(blit_, 0, 0, w, h, src, 0, 0, shown->width, shown->height, SRCCOPY);
      SelectObject(src, oldSrc);
      DeleteDC(src);
      SelectObject(blit_, oldDst);
      shown->scaled = scaled;
      shown->scaledWidth = w;
      shown->scaledHeight = h;
    }
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, bg.clip_box.x, bg.clip_box.y, bg.clip_box.right(), bg.clip_box.bottom());
    HGDIOBJ old = SelectObject(blit_, shown->scaled);
    BitBlt(dc, target.left, target.top, w, h, blit_, 0, 0, SRCCOPY);
    SelectObject(blit_, old);
    RestoreDC(dc, saved);
  }

  void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& b, const litehtml::position& pos, bool) override {
    HDC dc = reinterpret_cast<HDC>(hdc);
    auto visible = [](const litehtml::border& side) {
      return side.width > 0 && side.style != litehtml::border_style_none && side.style != litehtml::border_style_hidden &&
             side.color.alpha != 0;
    };
    if (visible(b.top)) FillSolid(dc, RECT{pos.x, pos.y, pos.right(), pos.y + b.top.width}, ToColour(b.top.color));
    if (visible(b.bottom))
      FillSolid(dc, RECT{pos.x, pos.bottom() - b.bottom.width, pos.right(), pos.bottom()}, ToColour(b.bottom.color));
    if (visible(b.left)) FillSolid(dc, RECT{pos.x, pos.y, pos.x + b.left.width, pos.bottom()}, ToColour(b.left.color));
    if (visible(b.right))
      FillSolid(dc, RECT{pos.right() - b.right.width, pos.y, pos.right(), pos.bottom()}, ToColour(b.right.color));
  }

  void set_caption(const litehtml::tchar_t* caption) override { title = Wide(caption); }
  void set_base_url(const litehtml::tchar_t*) override {}
  void link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) override {}
  void on_anchor_click(const litehtml::tchar_t*, const litehtml::element::ptr&) override {}
  void set_cursor(const litehtml::tchar_t*) override {}

  void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override {
    std::u16string wide = Utf8ToUtf16(text);
    if (tt == litehtml::text_transform_uppercase) wide = ToUpper(wide);
    else if (tt == litehtml::text_transform_lowercase) wide = ToLower(wide);
    else if (tt == litehtml::text_transform_capitalize && !wide.empty()) wide[0] = ToUpper(wide[0]);
    text = Utf16ToUtf8(wide);
  }

  // Style sheets of other addresses are never loaded.
  void import_css(litehtml::tstring& text, const litehtml::tstring&, litehtml::tstring&) override { text.clear(); }

  void set_clip(const litehtml::position& pos, const litehtml::border_radiuses&, bool, bool) override {
    if (!drawDc) return;
    clips_.push_back(SaveDC(drawDc));
    IntersectClipRect(drawDc, pos.x, pos.y, pos.right(), pos.bottom());
  }
  void del_clip() override {
    if (!drawDc || clips_.empty()) return;
    RestoreDC(drawDc, clips_.back());
    clips_.pop_back();
  }

  void get_client_rect(litehtml::position& client) const override {
    client = litehtml::position(0, 0, clientWidth, clientHeight);
  }

  std::shared_ptr<litehtml::element> create_element(const litehtml::tchar_t*, const litehtml::string_map&,
                                                    const std::shared_ptr<litehtml::document>&) override {
    return nullptr;
  }

  void get_media_features(litehtml::media_features& media) const override {
    media.type = litehtml::media_type_screen;
    media.width = clientWidth;
    media.height = clientHeight;
    media.device_width = ScreenWidth();
    media.device_height = ScreenHeight();
    media.color = 8;
    media.color_index = 0;
    media.monochrome = 0;
    media.resolution = dpi_;
  }

  void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override {
    language = "en";
    culture.clear();
  }

  void EndDraw() {
    while (drawDc && !clips_.empty()) del_clip();
    drawDc = nullptr;
  }

  // The img elements of an address, and whether the layout is the same
  // whatever picture comes for it: every one of them has its width and its
  // height set, and nothing else (a background, a list marker) uses it.
  struct Uses {
    std::vector<litehtml::element::ptr> elements;
    bool fixedSize = true;
  };

  std::shared_ptr<litehtml::document> doc;
  std::map<DWORD, Image> images;
  std::unordered_map<std::string, std::vector<DWORD>> cookiesBySrc;
  std::unordered_map<std::string, int> usesBySrc;  // load_image calls of the last parse
  std::unordered_map<std::string, Uses> imgUses;
  std::u16string title;
  HDC drawDc = nullptr;
  bool selected = false;
  int clientWidth = 0;
  int clientHeight = 0;

 private:
  // The font of a description with its metrics and the widths measured in it,
  // kept for the pages that follow on the same thread: every page asks for the
  // same few fonts, and their words are measured once.
  std::shared_ptr<Font> SharedFont(const LOGFONTW& lf, unsigned decoration) {
    struct Key {
      std::thread::id thread;
      LONG height;
      LONG weight;
      BYTE italic;
      std::u16string face;
      unsigned decoration;
      bool operator==(const Key& o) const {
        return thread == o.thread && height == o.height && weight == o.weight && italic == o.italic &&
               face == o.face && decoration == o.decoration;
      }
    };
    struct Cache {
      std::mutex lock;
      std::vector<std::pair<Key, std::shared_ptr<Font>>> fonts;
    };
    static auto* cache = new Cache;
    const Key key{std::this_thread::get_id(), lf.lfHeight, lf.lfWeight, lf.lfItalic, lf.lfFaceName, decoration};
    std::lock_guard<std::mutex> g(cache->lock);
    for (const auto& [k, font] : cache->fonts)
      if (k == key) return font;
    auto font = std::make_shared<Font>();
    font->handle = CreateFontIndirectW(&lf);
    if (!font->handle) return nullptr;
    font->decoration = decoration;
    HGDIOBJ old = SelectObject(measure_, font->handle);
    TEXTMETRICW tm{};
    GetTextMetricsW(measure_, &tm);
    SelectObject(measure_, old);
    font->ascent = tm.tmAscent;
    font->descent = tm.tmDescent;
    font->height = tm.tmHeight;
    font->xHeight = std::max<int>(1, tm.tmAscent / 2);
    // Fonts no page holds go first once the cache is full.
    constexpr std::size_t kKept = 48;
    if (cache->fonts.size() >= kKept) {
      for (auto it = cache->fonts.begin(); it != cache->fonts.end(); ++it)
        if (it->second.use_count() == 1) {
          cache->fonts.erase(it);
          break;
        }
    }
    if (cache->fonts.size() < kKept) cache->fonts.emplace_back(key, font);
    return font;
  }

  int dpi_;
  int fontPixels_ = 12;
  HDC measure_ = nullptr;
  HDC blit_ = nullptr;
  litehtml::uint_ptr lastFont_ = 0;
  std::unordered_map<litehtml::uint_ptr, std::shared_ptr<Font>> fonts_;
  std::vector<int> clips_;
};

// ---------------------------------------------------------------------------
// The page

HtmlPage::HtmlPage(int dpi) : container_(std::make_unique<Container>(dpi)) {
  container_->SetFontPixels((kTextSizes[textSize_] * container_->Dpi() + 48) / 96);
}

HtmlPage::~HtmlPage() = default;

bool HtmlPage::Loaded() const { return loaded_; }

void HtmlPage::Load(const std::string& utf8, DWORD* nextCookie, const SourceLimits& limits) {
  container_->doc.reset();
  container_->ResetImages();
  cookies_.clear();
  selected_ = false;
  markup_ = PrepareMarkup(RepairUtf8(utf8), limits);
  Parse();
  // Cookies for the img elements, in document order.
  if (container_->doc && container_->doc->root()) {
    for (const auto& el : container_->doc->root()->select_all("img")) {
      const char* src = el->get_attr("src");
      if (!src || !*src) continue;
      const DWORD cookie = (*nextCookie)++;
      if (*nextCookie == 0) *nextCookie = 1;
      cookies_.push_back(cookie);
      el->set_attr(kCookieAttr, std::to_string(cookie).c_str());
      Container::Image& image = container_->images[cookie];
      image.src = src;
      container_->cookiesBySrc[src].push_back(cookie);
    }
  }
  IndexImages();
  loaded_ = true;
  dirty_ = true;
}

void HtmlPage::Parse() {
  container_->title.clear();
  container_->usesBySrc.clear();
  container_->imgUses.clear();
  try {
    container_->doc = litehtml::document::createFromUTF8(markup_.c_str(), container_.get(), &Context());
  } catch (...) {
    container_->doc.reset();
  }
  title_ = container_->title;
  // The same markup gives the same img elements: they keep their cookies.
  if (container_->doc && container_->doc->root() && !cookies_.empty()) {
    std::size_t i = 0;
    for (const auto& el : container_->doc->root()->select_all("img")) {
      const char* src = el->get_attr("src");
      if (!src || !*src || i >= cookies_.size()) continue;
      el->set_attr(kCookieAttr, std::to_string(cookies_[i++]).c_str());
    }
  }
  IndexImages();
  dirty_ = true;
}

void HtmlPage::IndexImages() {
  container_->imgUses.clear();
  if (!container_->doc || !container_->doc->root()) return;
  for (const auto& el : container_->doc->root()->select_all("img")) {
    const char* src = el->get_attr("src");
    if (!src || !*src || !container_->cookiesBySrc.count(src)) continue;
    Container::Uses& uses = container_->imgUses[src];
    uses.elements.push_back(el);
    uses.fixedSize = uses.fixedSize && !el->get_css_width().is_predefined() && !el->get_css_height().is_predefined();
  }
  for (auto& [src, uses] : container_->imgUses) {
    const auto loads = container_->usesBySrc.find(src);
    if (loads != container_->usesBySrc.end() && loads->second > static_cast<int>(uses.elements.size()))
      uses.fixedSize = false;
  }
}

std::vector<PageImageRequest> HtmlPage::ImageRequests() const {
  std::vector<PageImageRequest> out;
  for (DWORD cookie : cookies_) {
    auto it = container_->images.find(cookie);
    if (it != container_->images.end()) out.push_back({Utf8ToUtf16(it->second.src), cookie});
  }
  return out;
}

void HtmlPage::SetTextSize(int step) {
  step = std::clamp(step, 0, 4);
  if (step == textSize_) return;
  textSize_ = step;
  container_->SetFontPixels((kTextSizes[textSize_] * container_->Dpi() + 48) / 96);
  if (loaded_) Parse();
}

void HtmlPage::Layout(int width) {
  width_ = std::max(1, width);
  container_->clientWidth = width_;
  if (container_->doc) {
    try {
      container_->doc->render(width_);
    } catch (...) {
      container_->doc.reset();
    }
  }
  dirty_ = false;
}

int HtmlPage::ContentWidth() const { return container_->doc ? container_->doc->width() : 0; }
int HtmlPage::ContentHeight() const { return container_->doc ? container_->doc->height() : 0; }

void HtmlPage::Draw(HDC hdc, int originX, int originY, const RECT& clip) {
  if (!container_->doc) return;
  if (dirty_) Layout(width_ ? width_ : 1);
  container_->drawDc = hdc;
  container_->selected = HasSelection();
  const litehtml::position where(clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top);
  container_->doc->draw(reinterpret_cast<litehtml::uint_ptr>(hdc), originX, originY, &where);
  container_->EndDraw();
}

bool HtmlPage::SetImage(DWORD cookie, HBITMAP bitmap, bool own, std::vector<RECT>* repaint) {
  auto it = container_->images.find(cookie);
  BITMAP info{};
  if (it == container_->images.end() || !bitmap || GetObjectW(bitmap, sizeof(info), &info) == 0 ||
      info.bmWidth <= 0 || info.bmHeight <= 0)
    return false;
  Container::Image& image = it->second;
  const litehtml::size before = container_->SizeFor(image.src);
  container_->DropScaled(image);
  image.bitmap = SharedBitmap::Of(bitmap, own);
  image.width = info.bmWidth;
  image.height = info.bmHeight;
  image.failed = false;
  // The layout takes nothing from a picture but its size, and that only where
  // the page does not fix it: when neither can change the layout, only the
  // boxes of the address's img elements need drawing again.
  const litehtml::size after = container_->SizeFor(image.src);
  const auto uses = container_->imgUses.find(image.src);
  const bool sameLayout = (before.width == after.width && before.height == after.height) ||
                          (uses != container_->imgUses.end() && uses->second.fixedSize);
  if (!sameLayout) {
    dirty_ = true;
  } else if (repaint && !dirty_ && uses != container_->imgUses.end()) {
    for (const auto& el : uses->second.elements) repaint->push_back(RectOf(el->get_placement()));
  }
  return true;
}

bool HtmlPage::FailImage(DWORD cookie) {
  auto it = container_->images.find(cookie);
  if (it == container_->images.end()) return false;
  it->second.failed = true;
  return true;
}

HitInfo HtmlPage::HitTest(int x, int y) {
  HitInfo hit;
  if (!container_->doc || !container_->doc->root()) return hit;
  if (dirty_) Layout(width_ ? width_ : 1);
  litehtml::element::ptr el = container_->doc->root()->get_element_by_point(x, y, x, y);
  for (int depth = 0; el && depth < 1000; ++depth, el = el->parent()) {
    const char* tag = el->get_tagName();
    if (!tag) continue;
    if (!(hit.flags & HTMLCONTEXT_IMAGE) && std::strcmp(tag, "img") == 0) {
      const char* cookie = el->get_attr(kCookieAttr);
      if (cookie) {
        hit.flags |= HTMLCONTEXT_IMAGE;
        hit.cookie = static_cast<DWORD>(std::strtoul(cookie, nullptr, 10));
      }
    } else if (!(hit.flags & HTMLCONTEXT_LINK) && std::strcmp(tag, "a") == 0 && el->get_attr("href")) {
      hit.flags |= HTMLCONTEXT_LINK;
      hit.href = Wide(el->get_attr("href"));
      litehtml::tstring text;
      el->get_text(text);
      hit.linkText = Utf8ToUtf16(text);
    }
  }
  return hit;
}

std::u16string HtmlPage::TapLink(int x, int y) {
  HitInfo hit = HitTest(x, y);
  return (hit.flags & HTMLCONTEXT_LINK) ? hit.href : std::u16string();
}

void HtmlPage::SelectAll() {
  if (loaded_) selected_ = true;
}

namespace {

bool IsBlock(litehtml::style_display d) {
  switch (d) {
    case litehtml::display_block:
    case litehtml::display_list_item:
    case litehtml::display_table:
    case litehtml::display_table_caption:
    case litehtml::display_table_row:
    case litehtml::display_table_row_group:
    case litehtml::display_table_header_group:
    case litehtml::display_table_footer_group:
      return true;
    default:
      return false;
  }
}

class TextCollector {
 public:
  void Walk(const litehtml::element::ptr& root) {
    // Depth-first without recursion: (element, entering) pairs.
    std::vector<std::pair<litehtml::element::ptr, bool>> stack{{root, true}};
    while (!stack.empty()) {
      auto [el, entering] = stack.back();
      stack.pop_back();
      const litehtml::style_display display = el->get_display();
      if (!entering) {
        if (IsBlock(display)) Break();
        if (el->get_white_space() == litehtml::white_space_pre) --pre_;
        continue;
      }
      if (display == litehtml::display_none) continue;
      const char* tag = el->get_tagName();
      const std::size_t children = el->get_children_count();
      if (el->is_break()) {
        Break(true);
        continue;
      }
      if (display == litehtml::display_table_cell && !line_.empty() && !AtLineStart()) line_.push_back(u'\t');
      if (children == 0 && (!tag || !*tag)) {
        litehtml::tstring text;
        el->get_text(text);
        Add(Utf8ToUtf16(text));
        continue;
      }
      if (IsBlock(display)) Break();
      if (el->get_white_space() == litehtml::white_space_pre) ++pre_;
      stack.push_back({el, false});
      for (std::size_t i = children; i-- > 0;) stack.push_back({el->get_child(static_cast<int>(i)), true});
    }
    Break();
    while (!out_.empty() && out_.back() == u'\n') out_.pop_back();
  }
  std::u16string Result() { return std::move(out_); }

 private:
  bool AtLineStart() const { return line_.empty() || line_.back() == u'\t'; }
  void Add(const std::u16string& text) {
    for (char16_t c : text) {
      const bool space = IsXmlSpaceOrNbsp(c);
      if (pre_ > 0) {
        if (c == u'\n') Break(true);
        else if (c != u'\r') line_.push_back(c);
        continue;
      }
      if (space && c != 0xA0) {
        if (!line_.empty() && line_.back() != u' ' && line_.back() != u'\t') line_.push_back(u' ');
        continue;
      }
      line_.push_back(c == 0xA0 ? u' ' : c);
    }
  }
  // Ends the current line; `always` makes an empty line too (br).
  void Break(bool always = false) {
    while (!line_.empty() && line_.back() == u' ') line_.pop_back();
    if (line_.empty() && !always) return;
    out_ += line_;
    out_.push_back(u'\n');
    line_.clear();
  }

  std::u16string out_;
  std::u16string line_;
  int pre_ = 0;
};

}  // namespace

std::u16string HtmlPage::SelectedText() const {
  if (!HasSelection() || !container_->doc || !container_->doc->root()) return {};
  TextCollector collector;
  collector.Walk(container_->doc->root());
  std::u16string text = collector.Result();
  // Lines end as on the device.
  std::u16string out;
  out.reserve(text.size() + text.size() / 16);
  for (char16_t c : text) {
    if (c == u'\n') out.push_back(u'\r');
    out.push_back(c);
  }
  return out;
}

}  // namespace plat::htmlview
