// One page of the HTML viewer: the renderer's document over our GDI (fonts,
// text, rectangles, pictures), its inline images by cookie, hit tests, the
// selection and the page's plain text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi/Gdi.h"
#include "platform/htmlview/HtmlSource.h"

namespace plat::htmlview {

// A bitmap given to the viewer, shared by every cookie it was given for and
// deleted once, when the last of them lets it go (if the viewer owns it).
class SharedBitmap {
 public:
  // The shared record of a handle (one per live handle in the process).
  static std::shared_ptr<SharedBitmap> Of(HBITMAP bitmap, bool own);
  ~SharedBitmap();
  HBITMAP Handle() const { return bitmap_; }

  explicit SharedBitmap(HBITMAP bitmap) : bitmap_(bitmap) {}

 private:
  HBITMAP bitmap_;
  bool own_ = false;
};

struct PageImageRequest {
  std::u16string address;
  DWORD cookie;
};

struct HitInfo {
  UINT flags = 0;  // HTMLCONTEXT_LINK, HTMLCONTEXT_IMAGE
  std::u16string href;
  std::u16string linkText;
  DWORD cookie = 0;
};

class HtmlPage {
 public:
  // dpi: the screen's; firstCookie: the first image cookie this page hands out.
  explicit HtmlPage(int dpi);
  ~HtmlPage();
  HtmlPage(const HtmlPage&) = delete;
  HtmlPage& operator=(const HtmlPage&) = delete;

  // Parses the page (UTF-8, any markup); images get cookies from *nextCookie on.
  void Load(const std::string& utf8, DWORD* nextCookie, const SourceLimits& limits = {});
  bool Loaded() const;
  const std::u16string& Title() const { return title_; }
  std::vector<PageImageRequest> ImageRequests() const;

  // 0 (smallest) to 4 (largest); the page is parsed again (same cookies).
  void SetTextSize(int step);
  int TextSize() const { return textSize_; }

  // Lays the page out for a width in pixels.
  void Layout(int width);
  int ContentWidth() const;
  int ContentHeight() const;
  bool NeedsLayout() const { return dirty_; }

  // Draws the part of the page seen through `clip` (device coordinates of the
  // DC) with the page's origin at (originX, originY).
  void Draw(HDC hdc, int originX, int originY, const RECT& clip);

  // Pictures. FALSE for a cookie of no image of this page. A picture that
  // leaves the layout as it is does not ask for a new one; then `repaint`
  // (when given and the page is laid out) gets the page rectangles where it
  // shows.
  bool SetImage(DWORD cookie, HBITMAP bitmap, bool own, std::vector<RECT>* repaint = nullptr);
  bool FailImage(DWORD cookie);

  // Page coordinates.
  HitInfo HitTest(int x, int y);
  // The target of the link tapped at a point (empty: none).
  std::u16string TapLink(int x, int y);

  void SelectAll();
  void ClearSelection() { selected_ = false; }
  bool HasSelection() const { return selected_ && loaded_; }
  // The text of the selection (empty when none): blocks on lines of their own,
  // table cells separated by tabs, white space collapsed outside pre.
  std::u16string SelectedText() const;

  class Container;

 private:
  void Parse();
  void IndexImages();

  std::unique_ptr<Container> container_;
  std::string markup_;
  std::u16string title_;
  std::vector<DWORD> cookies_;  // of the page's img elements, in document order
  int textSize_ = 2;
  int width_ = 0;
  bool loaded_ = false;
  bool dirty_ = true;
  bool selected_ = false;
};

}  // namespace plat::htmlview
