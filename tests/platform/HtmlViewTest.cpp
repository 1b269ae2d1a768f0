// The HTML viewer control: its notifications, links, images, selection, text
// size, scrolling, and what it refuses to do (scripts, fetching, deep markup).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "platform/base/Module.h"
#include "platform/base/Text.h"
#include "platform/htmlview/HtmlPage.h"
#include "platform/htmlview/HtmlSource.h"
#include "platform/htmlview/HtmlView.h"
#include "platform/windows/SystemMetrics.h"
#include "tests/support/GdiTestSupport.h"
#include "tests/support/TempDevice.h"

#ifndef ORV_TEST_OUTPUT_DIR
#define ORV_TEST_OUTPUT_DIR "."
#endif

namespace {

using namespace plat;

struct Note {
  UINT code;
  HWND from;
  std::u16string target;
  DWORD cookie;
  UINT flags;
};
std::vector<Note> g_notes;
// What the parent does on a notification (replace the page, destroy the control).
std::function<void(UINT code)> g_onNote;

LRESULT ParentProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
    Note note{hdr->code, hdr->hwndFrom, u"", 0, 0};
    if (hdr->code == NM_CONTEXTMENU) {
      const auto* nm = reinterpret_cast<const NM_HTMLCONTEXTW*>(lParam);
      note.flags = nm->uTypeFlags;
      note.cookie = nm->dwImageCookie;
      if (nm->szLinkHREF) note.target = nm->szLinkHREF;
    } else {
      const auto* nm = reinterpret_cast<const NM_HTMLVIEWW*>(lParam);
      if (nm->szTarget) note.target = nm->szTarget;
      note.cookie = nm->dwCookie;
    }
    g_notes.push_back(note);
    if (g_onNote) g_onNote(hdr->code);
    return 1;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A subclass of the inner window that counts the context menus it sees.
WNDPROC g_innerProc = nullptr;
int g_innerMenus = 0;
LRESULT InnerHook(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == NM_CONTEXTMENU) ++g_innerMenus;
  return CallWindowProcW(g_innerProc, hwnd, msg, wParam, lParam);
}

HBITMAP SolidBitmap(int w, int h, COLORREF colour) {
  void* bits = nullptr;
  HBITMAP b = gditest::MakeDib(w, h, 32, true, &bits);
  auto* p = static_cast<DWORD*>(bits);
  const DWORD px = (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
  std::fill(p, p + w * h, px);
  return b;
}

class HtmlViewTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    g_notes.clear();
    g_onNote = nullptr;
    g_innerMenus = 0;
    HMODULE module = LoadLibraryW(u"htmlview.dll");
    ASSERT_NE(module, nullptr);
    auto init = reinterpret_cast<BOOL (*)(HINSTANCE)>(GetProcAddress(module, reinterpret_cast<const char*>(1)));
    ASSERT_NE(init, nullptr);
    ASSERT_TRUE(init(nullptr));
    WNDCLASSW wc{};
    if (!GetClassInfoW(nullptr, u"HtmlViewTestParent", &wc)) {
      wc.lpfnWndProc = &ParentProc;
      wc.lpszClassName = u"HtmlViewTestParent";
      ASSERT_TRUE(RegisterClassW(&wc));
    }
    parent_ = CreateWindowExW(0, u"HtmlViewTestParent", u"", WS_POPUP | WS_VISIBLE, 0, 0, ScreenWidth(),
                              ScreenHeight(), nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent_, nullptr);
    view_ = CreateWindowExW(0, kHtmlViewClassName, u"", 0x54000002, 0, 0, ScreenWidth(), ScreenHeight(), parent_,
                            reinterpret_cast<HMENU>(12321), nullptr, nullptr);
    ASSERT_NE(view_, nullptr);
    inner_ = GetWindow(view_, GW_CHILD);
    ASSERT_NE(inner_, nullptr);
  }
  void TearDown() override {
    g_onNote = nullptr;
    if (parent_) DestroyWindow(parent_);
    FreeLibrary(GetModuleHandleW(u"htmlview.dll"));
  }

  // What the article view does to show a page.
  void Show(const std::u16string& html) {
    SendMessageW(view_, DTM_CLEAR, 0, 0);
    SendMessageW(view_, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(html.c_str()));
    SendMessageW(view_, DTM_ENDOFSOURCE, 0, 0);
  }
  void Show(const std::string& utf8) { Show(Utf8ToUtf16(utf8)); }

  std::vector<UINT> Codes() const {
    std::vector<UINT> out;
    for (const Note& n : g_notes) out.push_back(n.code);
    return out;
  }
  std::vector<Note> Notes(UINT code) const {
    std::vector<Note> out;
    for (const Note& n : g_notes)
      if (n.code == code) out.push_back(n);
    return out;
  }

  SCROLLINFO Vertical() const {
    SCROLLINFO si{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    EXPECT_TRUE(GetScrollInfo(inner_, SB_VERT, &si));
    return si;
  }

  std::u16string SelectedText() {
    IStream* stream = nullptr;
    EXPECT_TRUE(SendMessageW(view_, DTM_COPYSELECTIONTONEWISTREAM, 0, reinterpret_cast<LPARAM>(&stream)));
    if (!stream) return u"<no stream>";
    STATSTG stat{};
    EXPECT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    std::u16string text(stat.cbSize / 2, u'\0');
    ULONG read = 0;
    stream->Read(text.data(), static_cast<ULONG>(stat.cbSize), &read);
    EXPECT_EQ(read, stat.cbSize);
    stream->Release();
    return text;
  }

  // Paints the viewer and returns the window's surface.
  PixelImage Screenshot(const std::string& name) {
    InvalidateRect(inner_, nullptr, FALSE);
    UpdateWindow(inner_);
    HBITMAP surface = GetWindowSurfaceForTesting(parent_);
    SaveBitmapPng(surface, std::string(ORV_TEST_OUTPUT_DIR) + "/" + name + ".png");
    return ReadBitmapPixels(surface);
  }

  void Tap(int x, int y) {
    SendMessageW(inner_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
    SendMessageW(inner_, WM_LBUTTONUP, 0, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
  }

  HWND parent_ = nullptr;
  HWND view_ = nullptr;
  HWND inner_ = nullptr;
};

int CountNear(const PixelImage& img, DWORD rgb, int tolerance = 24) {
  int n = 0;
  for (DWORD p : img.pixels) {
    const int dr = static_cast<int>((p >> 16) & 0xFF) - static_cast<int>((rgb >> 16) & 0xFF);
    const int dg = static_cast<int>((p >> 8) & 0xFF) - static_cast<int>((rgb >> 8) & 0xFF);
    const int db = static_cast<int>(p & 0xFF) - static_cast<int>(rgb & 0xFF);
    if (std::abs(dr) <= tolerance && std::abs(dg) <= tolerance && std::abs(db) <= tolerance) ++n;
  }
  return n;
}

TEST_F(HtmlViewTest, InnerWindowIsMadeAtOnceWithPixelScrollBarsAndTheFocus) {
  WCHAR cls[32] = {};
  GetClassNameW(inner_, cls, 32);
  EXPECT_EQ(std::u16string(cls), u"PIEHTML");
  EXPECT_TRUE(GetWindowLongW(inner_, GWL_STYLE) & WS_VSCROLL);
  SetFocus(view_);
  EXPECT_EQ(GetFocus(), inner_);
  // The two set-up messages are accepted.
  EXPECT_TRUE(SendMessageW(view_, DTM_ENABLECONTEXTMENU, 0, 1));
  EXPECT_TRUE(SendMessageW(view_, DTM_ENABLESCRIPTING, 0, 0));
  EXPECT_TRUE(SendMessageW(view_, WM_HELP, 0, 0));
  // A long page: the range is its height in pixels, the page the client height.
  std::string html;
  for (int i = 0; i < 200; ++i) html += "<p>Paragraph " + std::to_string(i) + "</p>";
  Show(html);
  const SCROLLINFO si = Vertical();
  EXPECT_EQ(si.nMin, 0);
  EXPECT_EQ(static_cast<int>(si.nPage), ScreenHeight());
  EXPECT_GT(si.nMax, 5 * ScreenHeight());
}

TEST_F(HtmlViewTest, EveryPageBeginsAndCompletesOnceWithItsImagesBetween) {
  Show(std::u16string(u"<html><head><title>A &amp; B</title></head><body><img src=\"a.png\"><img src=\"b.png\"></body></html>"));
  Show(std::u16string(u""));
  SendMessageW(view_, DTM_CLEAR, 0, 0);
  SendMessageW(view_, DTM_ENDOFSOURCE, 0, 0);
  Show(std::string("<p>third</p>"));
  const std::vector<UINT> expected{NM_TITLE, NM_INLINE_IMAGE, NM_INLINE_IMAGE, NM_DOCUMENTCOMPLETE,
                                   NM_TITLE, NM_DOCUMENTCOMPLETE, NM_TITLE, NM_DOCUMENTCOMPLETE,
                                   NM_TITLE, NM_DOCUMENTCOMPLETE};
  EXPECT_EQ(Codes(), expected);
  EXPECT_EQ(g_notes[0].target, u"A & B");
  EXPECT_EQ(g_notes[1].target, u"a.png");
  EXPECT_EQ(g_notes[2].target, u"b.png");
  EXPECT_NE(g_notes[1].cookie, g_notes[2].cookie);
  // Named as sent by the inner window: its parent is the control.
  for (const Note& n : g_notes) EXPECT_EQ(n.from, inner_);
}

TEST_F(HtmlViewTest, APageReplacedOrTheControlDestroyedInsideANotificationEndsCleanly) {
  // Cleared while the images are asked for: the rest of that page's requests
  // are dropped, the pair still closes.
  g_onNote = [this](UINT code) {
    if (code == NM_INLINE_IMAGE) SendMessageW(view_, DTM_CLEAR, 0, 0);
  };
  Show(std::string("<img src=\"a.png\"><img src=\"b.png\"><img src=\"c.png\">"));
  EXPECT_EQ(Codes(), (std::vector<UINT>{NM_TITLE, NM_INLINE_IMAGE, NM_DOCUMENTCOMPLETE}));
  // Destroyed as the page begins: nothing more is sent, nothing is touched.
  g_notes.clear();
  g_onNote = [this](UINT code) {
    if (code == NM_TITLE) DestroyWindow(view_);
  };
  Show(std::string("<img src=\"a.png\"><p>x</p>"));
  EXPECT_FALSE(IsWindow(view_));
  EXPECT_EQ(Codes(), (std::vector<UINT>{NM_TITLE}));
}

TEST_F(HtmlViewTest, ATapOnALinkReportsItsTargetAndATapBesideItNothing) {
  Show(std::string("<div style=\"font-size:300%\"><a href=\"http://example.com/story?id=1&amp;x=2\">Read more</a></div>"
                   "<p>plain text here</p>"));
  g_notes.clear();
  Tap(20, 30);
  ASSERT_EQ(Notes(NM_HOTSPOT).size(), 1u);
  EXPECT_EQ(Notes(NM_HOTSPOT)[0].target, u"http://example.com/story?id=1&x=2");
  g_notes.clear();
  Tap(ScreenWidth() - 5, ScreenHeight() - 5);
  EXPECT_TRUE(Notes(NM_HOTSPOT).empty());
  // A drag is no tap.
  SendMessageW(inner_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(20, 30));
  SendMessageW(inner_, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(20, 200));
  SendMessageW(inner_, WM_LBUTTONUP, 0, MAKELPARAM(20, 200));
  EXPECT_TRUE(Notes(NM_HOTSPOT).empty());
}

TEST_F(HtmlViewTest, AnImageSentForItsCookieIsShownAndTheLayoutMakesRoomForIt) {
  Show(std::string("<p>Before</p><img src=\"http://host/pic.png\"><p>After</p>"));
  const auto requests = Notes(NM_INLINE_IMAGE);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, u"http://host/pic.png");
  const int heightBefore = Vertical().nMax;
  PixelImage before = Screenshot("htmlview-image-placeholder");
  EXPECT_EQ(CountNear(before, 0xFF0000), 0);

  HBITMAP red = SolidBitmap(200, 300, RGB(255, 0, 0));
  INLINEIMAGEINFO info{requests[0].cookie, 300, 200, red, TRUE};
  EXPECT_TRUE(SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info)));
  EXPECT_GT(Vertical().nMax, heightBefore + 200);
  PixelImage after = Screenshot("htmlview-image-shown");
  EXPECT_GE(CountNear(after, 0xFF0000), 200 * 300 * 9 / 10);
  // A cookie of no image is refused and its bitmap left alone.
  HBITMAP other = SolidBitmap(4, 4, RGB(0, 0, 255));
  INLINEIMAGEINFO unknown{requests[0].cookie + 1000, 4, 4, other, TRUE};
  EXPECT_FALSE(SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&unknown)));
  BITMAP bm{};
  EXPECT_NE(GetObjectW(other, sizeof bm, &bm), 0);
  DeleteObject(other);
  // A failed image keeps its placeholder; nothing else happens.
  EXPECT_EQ(SendMessageW(view_, DTM_IMAGEFAIL, 0, static_cast<LPARAM>(requests[0].cookie)), 0);
}

TEST_F(HtmlViewTest, PicturesGivenForLaterLayoutAreLaidOutByTheNextPaint) {
  Show(std::string("<p>Before</p><img src=\"a.png\"><img src=\"b.png\"><p>After</p>"));
  const auto requests = Notes(NM_INLINE_IMAGE);
  ASSERT_EQ(requests.size(), 2u);
  const int heightBefore = Vertical().nMax;
  for (const Note& request : requests) {
    INLINEIMAGEINFO info{request.cookie, 150, 100, SolidBitmap(100, 150, RGB(255, 0, 0)), TRUE};
    EXPECT_TRUE(SendMessageW(view_, DTM_SETIMAGE, kSetImageLayoutLater, reinterpret_cast<LPARAM>(&info)));
  }
  EXPECT_EQ(Vertical().nMax, heightBefore);  // not laid out yet
  const PixelImage shot = Screenshot("htmlview-images-later");
  EXPECT_GT(Vertical().nMax, heightBefore + 100);  // side by side: one picture taller
  EXPECT_GE(CountNear(shot, 0xFF0000), 2 * 100 * 150 * 9 / 10);
}

// A new page takes the vertical bar exactly when it is taller than the window
// laid out at the full width, and is then laid out beside the bar: a short
// page, a long one, and pages on the edge (as tall as the window at the full
// width, taller beside the bar), shown after a long page or a short one.
TEST_F(HtmlViewTest, ANewPageIsLaidOutBesideTheBarOnlyWhenItOverflowsAtTheFullWidth) {
  const int full = ScreenWidth();
  const int beside = full - GetSystemMetrics(SM_CXVSCROLL);
  const int window = ScreenHeight();
  struct Heights {
    int full, beside;
  };
  auto heights = [&](const std::string& html) {
    htmlview::HtmlPage page(ScreenDpi());
    DWORD cookie = 1;
    page.Load(html, &cookie);
    page.Layout(full);
    const int atFull = page.ContentHeight();
    page.Layout(beside);
    return Heights{atFull, page.ContentHeight()};
  };
  // A paragraph that takes a line more beside the bar than at the full width
  // (its first word grows until the words after it wrap sooner), then a spacer
  // that makes the page as tall as the window at the full width.
  std::string edge;
  for (int length = 1; length < 400 && edge.empty(); ++length) {
    const std::string text = "<p>" + std::string(static_cast<std::size_t>(length), 'm') +
                             " the words after it wrap at the edge of the window</p>";
    const Heights h = heights(text + "<div style=\"height:1px\"></div>");
    if (h.beside <= h.full || h.full >= window) continue;
    const std::string page = text + "<div style=\"height:" + std::to_string(window - h.full + 1) + "px\"></div>";
    const Heights onEdge = heights(page);
    if (onEdge.full == window && onEdge.beside > window) edge = page;
  }
  ASSERT_FALSE(edge.empty()) << "no paragraph wraps one line more beside the bar";
  std::string longPage;
  for (int i = 0; i < 120; ++i) longPage += "<p>A long page that wraps at the edge of the window, line " + std::to_string(i) + ".</p>";
  const std::string shortPage = "<p>A short page.</p>";
  struct Case {
    const char* name;
    std::string before;  // the page shown first
    std::string page;
    bool bar;
  };
  const Case cases[] = {
      {"short", shortPage, shortPage, false},      {"short after a long page", longPage, shortPage, false},
      {"long", shortPage, longPage, true},         {"long after a long page", longPage, longPage, true},
      {"on the edge", shortPage, edge, false},     {"on the edge after a long page", longPage, edge, false},
      {"on the edge after itself", edge, edge, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Show(c.before);
    Show(c.page);
    const Heights h = heights(c.page);
    RECT client{};
    GetClientRect(inner_, &client);
    const SCROLLINFO si = Vertical();
    EXPECT_EQ(client.right - client.left, c.bar ? beside : full);
    // The range is the height of the page at the width it was laid out for.
    const int height = c.bar ? h.beside : h.full;
    EXPECT_EQ(si.nMax, height - 1);
    EXPECT_EQ(static_cast<int>(si.nPage), std::min(window, height));
  }
}

// A picture that comes leaves the page as a fresh layout of the page with the
// picture in it would show it (the same scroll range, position and pixels),
// whether the page fixes the picture's size or not, scrolled or not, laid
// out at once or at the next paint.
TEST_F(HtmlViewTest, APictureThatComesLeavesThePageAsAFreshLayoutWouldShowIt) {
  struct Case {
    const char* name;
    std::string images;  // the address is always "p.png"
    int width;           // of the picture that comes
    int height;
  };
  const int placeholder = (20 * ScreenDpi()) / 96;
  const Case cases[] = {
      {"size in the tag, a picture of that size", "<img src=\"p.png\" width=\"120\" height=\"80\">", 120, 80},
      {"size in the tag, a picture of another size", "<img src=\"p.png\" width=\"120\" height=\"80\">", 60, 200},
      {"size in the style", "<img src=\"p.png\" style=\"width:90px;height:70px\">", 30, 30},
      {"size wider than the page", "<img src=\"p.png\" width=\"5000\" height=\"50\">", 100, 100},
      {"percentage width and a height", "<img src=\"p.png\" width=\"50%\" height=\"60\">", 40, 90},
      {"width only", "<img src=\"p.png\" width=\"120\">", 60, 90},
      {"height only", "<img src=\"p.png\" height=\"50\">", 200, 40},
      {"no size", "<img src=\"p.png\">", 100, 150},
      {"no size, a picture as large as the placeholder", "<img src=\"p.png\">", placeholder, placeholder},
      {"the address also a background",
       "<div style=\"background-image:url(p.png);width:200px;height:60px\"></div>"
       "<img src=\"p.png\" width=\"120\" height=\"80\">",
       300, 30},
      {"the address twice, one of them without a size",
       "<img src=\"p.png\" width=\"120\" height=\"80\"> <img src=\"p.png\">", 70, 110},
      {"the address in a table cell", "<table><tr><td><img src=\"p.png\"></td><td>beside</td></tr></table>", 90, 60},
  };
  std::string before;
  for (int i = 0; i < 3; ++i) before += "<p>Words before the picture, line " + std::to_string(i) + ".</p>";
  std::string after;
  for (int i = 0; i < 40; ++i) after += "<p>Words after the picture that wrap at the edge, line " + std::to_string(i) + ".</p>";
  for (const Case& c : cases) {
    for (const bool scrolled : {false, true}) {
      for (const WPARAM mode : {kSetImageLayoutLater, WPARAM{0}}) {
        SCOPED_TRACE(std::string(c.name) + (scrolled ? ", scrolled" : ", at the top") +
                     (mode ? ", laid out by the paint" : ", laid out at once"));
        g_notes.clear();
        Show(before + c.images + after);
        const auto requests = Notes(NM_INLINE_IMAGE);
        ASSERT_FALSE(requests.empty());
        Screenshot("htmlview-arrival-before");
        if (scrolled) {
          SCROLLINFO si{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, 37, 0};
          SetScrollInfo(inner_, SB_VERT, &si, TRUE);
          SendMessageW(inner_, WM_VSCROLL, SB_THUMBPOSITION, 0);
          UpdateWindow(inner_);
          ASSERT_EQ(Vertical().nPos, 37);
        }
        // One bitmap for every cookie of the address, as the article view gives it.
        HBITMAP picture = SolidBitmap(c.width, c.height, RGB(200, 0, 200));
        for (const Note& request : requests) {
          INLINEIMAGEINFO info{request.cookie, c.height, c.width, picture, TRUE};
          EXPECT_TRUE(SendMessageW(view_, DTM_SETIMAGE, mode, reinterpret_cast<LPARAM>(&info)));
        }
        const PixelImage arrived = Screenshot("htmlview-arrival-after");
        const SCROLLINFO arrivedBar = Vertical();
        EXPECT_GT(CountNear(arrived, 0xC800C8, 8), 0) << "the picture is in view";
        // A fresh layout of the page as it is now.
        const SIZE client{ScreenWidth(), ScreenHeight()};
        SendMessageW(inner_, WM_SIZE, 0, MAKELPARAM(static_cast<WORD>(client.cx), static_cast<WORD>(client.cy)));
        const PixelImage fresh = Screenshot("htmlview-arrival-fresh");
        const SCROLLINFO freshBar = Vertical();
        EXPECT_EQ(arrivedBar.nMax, freshBar.nMax);
        EXPECT_EQ(arrivedBar.nPos, freshBar.nPos);
        ASSERT_EQ(arrived.pixels.size(), fresh.pixels.size());
        EXPECT_TRUE(arrived.pixels == fresh.pixels) << "the screen differs from a fresh layout";
      }
    }
  }
}

TEST_F(HtmlViewTest, AWidePictureShrinksToTheWidthKeepingItsShape) {
  Show(std::string("<img src=\"wide.png\">"));
  HBITMAP wide = SolidBitmap(ScreenWidth() * 2, 400, RGB(0, 200, 0));
  INLINEIMAGEINFO info{Notes(NM_INLINE_IMAGE).at(0).cookie, 400, ScreenWidth() * 2, wide, TRUE};
  ASSERT_TRUE(SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info)));
  EXPECT_FALSE(GetWindowLongW(inner_, GWL_STYLE) & WS_HSCROLL);
  const PixelImage shot = Screenshot("htmlview-wide");
  const int green = CountNear(shot, 0x00C800);
  const int width = ScreenWidth() - 2 * 10;  // the body's margins at most
  EXPECT_GT(green, width * 190);
  EXPECT_LT(green, ScreenWidth() * 210);
}

TEST_F(HtmlViewTest, APageTallerThanTheWindowIsLaidOutBesideItsScrollBar) {
  // Text enough for the vertical bar, and then a picture as wide as the
  // screen: both fit the width that the bar leaves, so nothing runs under it
  // and the page does not scroll sideways.
  std::string page = "<img src=\"screen.png\">";
  for (int i = 0; i < 60; ++i) page += "<p>Words of a line long enough to wrap at the right edge of the window.</p>";
  const auto besideTheBar = [&](const char* shotName) {
    SCOPED_TRACE(shotName);
    RECT client{};
    GetClientRect(inner_, &client);
    ASSERT_LT(client.right, ScreenWidth()) << "the vertical bar is shown";
    EXPECT_FALSE(GetWindowLongW(inner_, GWL_STYLE) & WS_HSCROLL);
    SCROLLINFO sh{sizeof(SCROLLINFO), SIF_ALL, 0, 0, 0, 0, 0};
    ASSERT_TRUE(GetScrollInfo(inner_, SB_HORZ, &sh));
    EXPECT_LE(sh.nMax + 1, client.right);
    // Nothing but the (white) background is drawn in the last columns beside the bar.
    const PixelImage shot = Screenshot(shotName);
    int inked = 0;
    for (int y = 0; y < client.bottom; ++y)
      for (int x = client.right - 2; x < client.right; ++x) {
        const DWORD p = shot.pixels[static_cast<std::size_t>(y) * shot.width + x];
        inked += ((p >> 16) & 0xFF) < 0xF0 || ((p >> 8) & 0xFF) < 0xF0 || (p & 0xFF) < 0xF0;
      }
    EXPECT_GT(CountNear(shot, 0xFFFFFF, 8), 0);
    EXPECT_EQ(inked, 0);
  };
  Show(page);
  besideTheBar("htmlview-beside-bar-text");
  HBITMAP picture = SolidBitmap(ScreenWidth(), 40, RGB(0, 200, 0));
  INLINEIMAGEINFO info{Notes(NM_INLINE_IMAGE).at(0).cookie, 40, ScreenWidth(), picture, TRUE};
  ASSERT_TRUE(SendMessageW(view_, DTM_SETIMAGE, kSetImageLayoutLater, reinterpret_cast<LPARAM>(&info)));
  besideTheBar("htmlview-beside-bar-picture");
}

TEST_F(HtmlViewTest, OneBitmapGivenForSeveralCookiesIsDeletedOnceWhenTheLastLetsItGo) {
  Show(std::string("<img src=\"same.png\"><p>x</p><img src=\"same.png\">"));
  const auto requests = Notes(NM_INLINE_IMAGE);
  ASSERT_EQ(requests.size(), 2u);
  ASSERT_NE(requests[0].cookie, requests[1].cookie);
  HBITMAP shared = SolidBitmap(10, 10, RGB(0, 255, 0));
  for (const Note& r : requests) {
    INLINEIMAGEINFO info{r.cookie, 10, 10, shared, TRUE};
    EXPECT_TRUE(SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info)));
  }
  // The first cookie gets another picture: the shared one still serves the second.
  HBITMAP replacement = SolidBitmap(10, 10, RGB(0, 0, 255));
  INLINEIMAGEINFO again{requests[0].cookie, 10, 10, replacement, TRUE};
  EXPECT_TRUE(SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&again)));
  BITMAP bm{};
  EXPECT_NE(GetObjectW(shared, sizeof bm, &bm), 0);
  Screenshot("htmlview-shared");
  SendMessageW(view_, DTM_CLEAR, 0, 0);
  EXPECT_EQ(GetObjectW(shared, sizeof bm, &bm), 0) << "deleted with the page";
  EXPECT_EQ(GetObjectW(replacement, sizeof bm, &bm), 0);
}

TEST_F(HtmlViewTest, SelectAllGivesThePagesPlainTextAsAStream) {
  Show(std::string("<html><head><title>T</title><style>p{color:red}</style></head><body>"
                   "<h4 align=center>Caf&eacute; &amp; Bar</h4>\n<p>First   line\nwraps <b>bold</b> 100%</p>"
                   "<ul><li>one<li>two</ul><table><tr><td>a<td>b</tr><tr><td>c<td>d</tr></table>"
                   "<pre>x  y\nz</pre>line<br>break \xE2\x82\xAC</body></html>"));
  EXPECT_EQ(SendMessageW(view_, DTM_ISSELECTION, 0, 0), 0);
  EXPECT_EQ(SelectedText(), u"");
  SendMessageW(view_, DTM_SELECTALL, 0, 0);
  EXPECT_NE(SendMessageW(view_, DTM_ISSELECTION, 0, 0), 0);
  EXPECT_EQ(SelectedText(),
            u"Caf\u00e9 & Bar\r\nFirst line wraps bold 100%\r\none\r\ntwo\r\na\tb\r\nc\td\r\nx  y\r\nz\r\nline\r\n"
            u"break \u20ac");
  Screenshot("htmlview-selected");
  // The tap and hold that opens the menu (to copy it) keeps the selection.
  SendMessageW(inner_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(inner_, WM_TIMER, 1, 0);  // the hold timer
  SendMessageW(inner_, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  ASSERT_EQ(Notes(NM_CONTEXTMENU).size(), 1u);
  EXPECT_NE(SendMessageW(view_, DTM_ISSELECTION, 0, 0), 0);
  // A tap ends the selection; a new page has none.
  Tap(5, 5);
  EXPECT_EQ(SendMessageW(view_, DTM_ISSELECTION, 0, 0), 0);
}

TEST_F(HtmlViewTest, BytesOfAPageAreReadInTheCharsetItNames) {
  const char* page = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">"
                     "</head><body><p>\xCF\xF0\xE8\xE2\xE5\xF2</p></body></html>";
  SendMessageW(view_, DTM_CLEAR, 0, 0);
  EXPECT_TRUE(SendMessageW(view_, DTM_ADDTEXT, 0, reinterpret_cast<LPARAM>(page)));
  SendMessageW(view_, DTM_ENDOFSOURCE, 0, 0);
  SendMessageW(view_, DTM_SELECTALL, 0, 0);
  EXPECT_EQ(SelectedText(), u"\u041f\u0440\u0438\u0432\u0435\u0442");
}

TEST_F(HtmlViewTest, TextSizeStepsChangeTheLayoutHeight) {
  std::string html;
  for (int i = 0; i < 30; ++i) html += "<p>Some words that wrap over the width of the screen, line " + std::to_string(i) + ".</p>";
  Show(html);
  EXPECT_EQ(SendMessageW(view_, DTM_TEXTSIZE, 0, 0), 2);
  const int smallest = Vertical().nMax;
  EXPECT_EQ(SendMessageW(view_, DTM_TEXTSIZE, 2, 0), 0);
  const int medium = Vertical().nMax;
  EXPECT_EQ(SendMessageW(view_, DTM_TEXTSIZE, 9, 0), 2);  // beyond the largest: the largest
  const int largest = Vertical().nMax;
  EXPECT_LT(smallest, medium);
  EXPECT_LT(medium, largest);
  EXPECT_EQ(SendMessageW(view_, DTM_TEXTSIZE, 2, 0), 4);
  EXPECT_EQ(Vertical().nMax, medium);
  // No new page and no new image requests.
  EXPECT_EQ(Notes(NM_TITLE).size(), 1u);
}

TEST_F(HtmlViewTest, ScrollTakesTheThirtyTwoBitPositionAndArrowKeys) {
  std::string html;
  for (int i = 0; i < 3000; ++i) html += "<p>Row " + std::to_string(i) + "</p>";
  Show(html);
  ASSERT_GT(Vertical().nMax, 70000);
  // Painted at the top; then the bar is set by its owner before
  // SB_THUMBPOSITION (as finger scrolling does): the page repaints there.
  UpdateWindow(inner_);
  ASSERT_FALSE(GetUpdateRect(inner_, nullptr, FALSE));
  SCROLLINFO si{sizeof(SCROLLINFO), SIF_POS, 0, 0, 0, 70000, 0};
  SetScrollInfo(inner_, SB_VERT, &si, TRUE);
  SendMessageW(inner_, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, static_cast<WORD>(70000)), 0);
  EXPECT_EQ(GetScrollPos(inner_, SB_VERT), 70000);
  EXPECT_TRUE(GetUpdateRect(inner_, nullptr, FALSE));
  const PixelImage far = Screenshot("htmlview-scrolled");
  SendMessageW(inner_, WM_KEYDOWN, VK_DOWN, 0);
  EXPECT_GT(GetScrollPos(inner_, SB_VERT), 70000);
  SendMessageW(inner_, WM_KEYDOWN, VK_HOME, 0);
  EXPECT_EQ(GetScrollPos(inner_, SB_VERT), 0);
  const PixelImage top = Screenshot("htmlview-top");
  EXPECT_NE(far.pixels, top.pixels);
  // Scrolling by the back buffer draws what a full redraw draws.
  SendMessageW(inner_, WM_KEYDOWN, VK_DOWN, 0);
  UpdateWindow(inner_);
  const PixelImage shifted = ReadBitmapPixels(GetWindowSurfaceForTesting(parent_));
  const PixelImage full = Screenshot("htmlview-line-down");
  EXPECT_EQ(shifted.pixels, full.pixels);
}

TEST_F(HtmlViewTest, TapAndHoldReportsTheContextMenuThroughTheInnerWindowWithTheImageCookie) {
  g_innerProc = reinterpret_cast<WNDPROC>(SetWindowLongW(inner_, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&InnerHook)));
  Show(std::string("<img src=\"p.png\" width=\"200\" height=\"200\"><p>text</p>"));
  const DWORD cookie = Notes(NM_INLINE_IMAGE).at(0).cookie;
  SendMessageW(inner_, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 40));
  SendMessageW(inner_, WM_TIMER, 1, 0);  // the hold timer
  SendMessageW(inner_, WM_LBUTTONUP, 0, MAKELPARAM(40, 40));
  EXPECT_EQ(g_innerMenus, 1);
  const auto menus = Notes(NM_CONTEXTMENU);
  ASSERT_EQ(menus.size(), 1u);
  EXPECT_EQ(menus[0].from, view_);
  EXPECT_TRUE(menus[0].flags & HTMLCONTEXT_IMAGE);
  EXPECT_EQ(menus[0].cookie, cookie);
  EXPECT_TRUE(Notes(NM_HOTSPOT).empty());
}

TEST_F(HtmlViewTest, ScriptsAndHandlersNeverRun) {
  Show(std::string("<html><head><title>Before</title><script>document.title='After';"
                   "document.write('<p>MARKER</p>');</script></head>"
                   "<body onload=\"document.write('MARKER')\"><p onclick=\"x()\">Text</p>"
                   "<script src=\"http://evil/x.js\"></script><noscript>No scripts</noscript></body></html>"));
  EXPECT_EQ(Notes(NM_TITLE).at(0).target, u"Before");
  EXPECT_TRUE(Notes(NM_INLINE_IMAGE).empty());
  SendMessageW(view_, DTM_SELECTALL, 0, 0);
  const std::u16string text = SelectedText();
  EXPECT_EQ(text.find(u"MARKER"), std::u16string::npos) << Utf16ToUtf8(text);
  EXPECT_EQ(text.find(u"document"), std::u16string::npos);
  EXPECT_NE(text.find(u"Text"), std::u16string::npos);
}

TEST_F(HtmlViewTest, AFormIsShownButATapOnItsButtonSendsNothing) {
  Show(std::string("<form action=\"http://example.com/post\" method=post>"
                   "<button type=submit style=\"font-size:400%\">Send</button></form>"));
  const PixelImage shot = Screenshot("htmlview-form");
  EXPECT_GT(CountNear(shot, 0xE0E0E0, 8), 1000) << "the button is drawn";
  g_notes.clear();
  Tap(30, 30);
  EXPECT_TRUE(g_notes.empty());
}

TEST_F(HtmlViewTest, AFeedArticleRenders) {
  const std::string page =
      "\t\t\t<html>\t\t\t<head>\t\t\t\t<title>Storm &amp; rain</title>\t\t\t</head>\t\t\t<body>"
      "<h4 align=center>Storm &amp; rain</h4>\n"
      "<div style=\"font-size:80%; text-align:right\">10 Dec 2026 06:00</div>"
      "<p>Heavy <b>rain</b> and <i>wind</i> hit the coast &mdash; caf&eacute;s closed. "
      "<a href=\"http://example.com/more\">More</a></p>"
      "<img src=\"pic.png\" align=left width=\"64\" height=\"48\">"
      "<p>Second paragraph with an image beside it. \xC3\xA9t\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D</p>"
      "<ul><li>First point</li><li>Second point</li></ul><ol><li>One</li><li>Two</li></ol>"
      "<table border=1><tr><th>City</th><th>mm</th></tr><tr><td>Oslo</td><td>42</td></tr></table>"
      "<pre>code  block</pre><blockquote>Quoted words</blockquote>"
      "<form action=\"http://x/\"><input type=text value=\"q\"><button>Go</button></form>"
      "<br /><br />\t\t\t\t\t\t<font color=cc3300>Please wait for article to download.</font>"
      "<br /><hr />\t\t\t\t\t\t<a href=\"http://example.com/a\">Link to the article</a>"
      "\t\t\t</body>\t\t\t</html>\t\t\t";
  Show(page);
  const DWORD cookie = Notes(NM_INLINE_IMAGE).at(0).cookie;
  HBITMAP blue = SolidBitmap(64, 48, RGB(0, 0, 255));
  INLINEIMAGEINFO info{cookie, 48, 64, blue, TRUE};
  SendMessageW(view_, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info));
  const PixelImage shot = Screenshot("htmlview-article");
  EXPECT_GT(CountNear(shot, 0x0000FF, 16), 64 * 48 * 9 / 10) << "the picture";
  EXPECT_GT(CountNear(shot, 0x0033CC, 40), 20) << "link colour";
  SendMessageW(inner_, WM_KEYDOWN, VK_END, 0);
  const PixelImage end = Screenshot("htmlview-article-end");
  EXPECT_GT(CountNear(end, 0xCC3300, 40), 20) << "the red footer text";
  // Everything fits the width: no horizontal bar.
  EXPECT_FALSE(GetWindowLongW(inner_, GWL_STYLE) & WS_HSCROLL);
}

TEST_F(HtmlViewTest, BadMarkupShowsSomethingOrNothing) {
  const std::vector<std::string> pages = {
      std::string(100000, '<') + "div>",
      [] {
        std::string s;
        for (int i = 0; i < 100000; ++i) s += "<div><b>";
        return s + "deep";
      }(),
      "<p>broken \xC3\x28 \xF0\x28\x8C\xBC utf-8 \xFF</p>",
      "<table><tr><td><table><td></tr></td><p></table><<>>< / >&#xFFFFFFFF;&#0;<a href=",
      "<div style=\"width:-5px; font-size:99999px; color: rgb(999,-1\">x</div><style>@import url(x.css); "
      "p { margin: calc(}</style><p>y",
      "<img src=\"\"><img><img src=x width=-10 height=100000>",
  };
  for (const std::string& p : pages) {
    g_notes.clear();
    Show(p);
    EXPECT_EQ(Codes().front(), NM_TITLE);
    EXPECT_EQ(Codes().back(), NM_DOCUMENTCOMPLETE);
    Screenshot("htmlview-bad");
  }
}

TEST(HtmlSourceTest, NestingIsCappedBeforeTheRenderer) {
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<div>";
  deep += "text";
  for (int i = 0; i < 100000; ++i) deep += "</div>";
  const std::string out = htmlview::PrepareMarkup(deep, htmlview::SourceLimits{1u << 20, 50});
  int depth = 0, most = 0;
  for (std::size_t i = 0; (i = out.find('<', i)) != std::string::npos; ++i) {
    depth += out[i + 1] == '/' ? -1 : 1;
    most = std::max(most, depth);
  }
  EXPECT_EQ(most, 50);
  EXPECT_EQ(depth, 0);
  EXPECT_NE(out.find("text"), std::string::npos);
  // Omitted end tags do not count as nesting.
  std::string list = "<ul>";
  for (int i = 0; i < 500; ++i) list += "<li><p>item " + std::to_string(i);
  const std::string kept = htmlview::PrepareMarkup(list, htmlview::SourceLimits{1u << 20, 50});
  EXPECT_NE(kept.find("<li><p>item 499"), std::string::npos);
}

TEST(HtmlSourceTest, ScriptsCommentsAndHandlersAreDroppedTheRestKept) {
  EXPECT_EQ(htmlview::PrepareMarkup("<p onload=\"x()\" class=a>a<!-- c --><script>x</script>b<iframe src=y></iframe>"
                                    "<style>p{}</style></p><br/>"),
            "<p class=\"a\">ab<style>p{}</style></p><br />");
  EXPECT_EQ(htmlview::PrepareMarkup("a < b <3 <a href='q\"x'>"), "a &lt; b &lt;3 <a href=\"q&quot;x\">");
  EXPECT_EQ(htmlview::PrepareMarkup("<font color=cc3300 size=2><td bgcolor=\"fff\"><font color=red>"),
            "<font color=\"#cc3300\" size=\"2\"><td bgcolor=\"#fff\"><font color=\"red\">");
  EXPECT_EQ(htmlview::PrepareMarkup("<h4 align=center>a</h4><th style='color:red' ALIGN=Right>"),
            "<h4 align=\"center\" style=\"text-align:center;\">a</h4><th style=\"text-align:right;color:red\" align=\"Right\">");
  EXPECT_EQ(htmlview::PrepareMarkup("<Article><STRONG>a</strong><em>b</EM></article>"),
            "<div><b>a</b><i>b</i></div>");
  EXPECT_EQ(htmlview::PrepareMarkup(std::string(100, 'x'), htmlview::SourceLimits{10, 10}), std::string(10, 'x'));
}

TEST(HtmlSourceTest, PageBytesAreDecodedByTheirCharset) {
  EXPECT_EQ(htmlview::DecodePageBytes("<meta charset=\"windows-1251\"><p>\xCF\xF0\xE8</p>"),
            "<meta charset=\"windows-1251\"><p>\xD0\x9F\xD1\x80\xD0\xB8</p>");
  EXPECT_EQ(htmlview::DecodePageBytes("<p>caf\xE9</p>"), "<p>caf\xC3\xA9</p>") << "not UTF-8: Latin-1";
  EXPECT_EQ(htmlview::DecodePageBytes("\xEF\xBB\xBF<p>\xC3\xA9</p>"), "<p>\xC3\xA9</p>");
  EXPECT_EQ(htmlview::RepairUtf8(std::string("a\xC3\x28z\0y", 6)), "a\xEF\xBF\xBD(z y");
}

}  // namespace
