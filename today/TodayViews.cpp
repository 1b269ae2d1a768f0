#include "today/TodayViews.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/BitmapBuffer.h"
#include "core/DateUtils.h"
#include "core/DebugLog.h"
#include "core/DeviceInfo.h"
#include "core/Synchronized.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/DataModel.h"
#include "database/ThumbnailsManager.h"
#include "database/TodayViewOptions.h"
#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"
#include "platform/resources/Resources.h"
#include "resources/today/resource.h"
#include "today/HDBThread.h"
#include "today/TodayCommon.h"
#include "today/TodayDraw.h"

namespace {

CTodayViewOptions* Options() { return CTodayViewOptions::GetInstance(); }

bool Meets(const plat::RECT& a, const plat::RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool Inside(const plat::RECT& r, plat::POINT p) { return p.x >= r.left && p.x < r.right && p.y >= r.top && p.y < r.bottom; }

plat::HFONT MakeFont(const std::u16string& face, int height, int weight) {
  plat::LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfQuality = Options()->GetFontClearType() ? plat::CLEARTYPE_QUALITY : plat::ANTIALIASED_QUALITY;
  const std::size_t n = std::min<std::size_t>(face.size(), plat::LF_FACESIZE - 1);
  std::memcpy(lf.lfFaceName, face.data(), n * sizeof(char16_t));
  return plat::CreateFontIndirectW(&lf);
}

// The font height of the Today views: the line height on a newer platform,
// else 8 points.
int FontHeight() {
  if (IsPocketPC() && GetPlatformGeneration() > 2) return Options()->GetLineHeight();
  return -static_cast<int>(TodayDpiY() / 9.0 + 0.5);
}

// A time of today alone, else the short date: the item has little room.
std::u16string DateText(const TodayArticle& article) {
  if (!article.hasDate) return {};
  const plat::FILETIME date = article.date;
  std::u16string text = FormatDateTime(date, false);
  if (text.find(u' ') != std::u16string::npos && text.find(u'/') != std::u16string::npos)
    text = FormatDateTime(date, true);
  return text;
}

void FillColour(plat::HDC dc, const plat::RECT& rect, plat::COLORREF colour) {
  plat::HBRUSH brush = plat::CreateSolidBrush(colour);
  plat::FillRect(dc, &rect, brush);
  plat::DeleteObject(brush);
}

// Draws the article's stored thumbnail of the given size; false when there
// is none (the text then starts at the left edge).
bool DrawThumbnail(plat::HDC dc, const TodayArticle& article, const plat::RECT& rect) {
  const int size = rect.right - rect.left;
  if (size < kMinThumbnailSize || rect.bottom - rect.top != size) return false;
  const std::u16string& file = article.imageFile;
  if (file.empty()) return false;
  CThumbnailsPool* pool = nullptr;
  if (!CThumbnailsManager::GetInstance()->GetThumbnail(file, size, &pool) || pool == nullptr) return false;
  int slot = -1;
  if (!pool->Lookup(file, &slot)) return false;
  CBitmapBuffer buffer;
  if (!buffer.Create(size, size, CBitmapBuffer::kRgb565)) return false;
  const plat::RECT cell{0, 0, size, size};
  if (!pool->DrawThumbnail(buffer, cell, slot, false)) return false;
  return plat::BitBlt(dc, rect.left, rect.top, size, size, buffer.GetDC(), 0, 0, plat::SRCCOPY) != plat::FALSE;
}


}  // namespace

// ---- CViewBase ------------------------------------------------------------------

CViewBase::CViewBase(plat::HWND window, CHDBThread* data, ITodayItemActions* actions)
    : window_(window), data_(data), actions_(actions ? actions : GetDefaultTodayActions()) {
  OnSize();
}

CViewBase::~CViewBase() {
  UnsubscribeFilter();
  if (font_) plat::DeleteObject(font_);
  if (icon_) plat::DestroyIcon(icon_);
}

void CViewBase::SubscribeFilter() {
  if (!data_ || subscribed_) return;
  data_->AddWatcher(window_);
  subscribed_ = true;
}

void CViewBase::UnsubscribeFilter() {
  if (!data_ || !subscribed_) return;
  data_->RemoveWatcher(window_);
  subscribed_ = false;
}

std::shared_ptr<const TodaySnapshot> CViewBase::Snapshot() {
  if (data_) return data_->GetSnapshot();
  return std::make_shared<TodaySnapshot>();
}

void CViewBase::NoteShown(const std::u16string& what) {
  if (what == lastNoted_) return;
  lastNoted_ = what;
  CDebugLog& log = CDebugLog::GetInstance();
  if (log.IsEnabled()) log.WriteLine(u"** Today " + what);
}

int CViewBase::LineHeight() { return Options()->GetLineHeight(); }

int CViewBase::HeaderHeight() { return std::max(Dy(18), LineHeight() + 1); }

int CViewBase::GetHeight() { return HeaderHeight(); }

int CViewBase::TextLeft() const { return iconMode_ != 0 ? Dx(26) : 0; }

void CViewBase::OnUIMetricChange() { fontsChanged_ = true; }

void CViewBase::OnSize() {
  iconRect_ = plat::RECT{Dx(2), Dy(2), Dx(2) + Dx(16), Dy(2) + Dy(16)};
}

void CViewBase::OnTimer(plat::UINT_PTR) {
  // Once a second at most: a font chosen in the options program (or a
  // changed font size) shows without waiting for another paint.
  const plat::DWORD now = plat::GetTickCount();
  if (lastCheckTick_ != 0 && now - lastCheckTick_ < 1000) return;
  lastCheckTick_ = now;
  // A switch turned in the options program (a thumbnail, the time, the
  // channel name or the icon shown or not) shows as soon as it is read too:
  // it changes no height, so the host asks for no paint.
  const bool renew = FontsNeedRenewal();
  if ((renew || DrawnSwitches() != paintedSwitches_) && window_) plat::InvalidateRect(window_, nullptr, plat::FALSE);
}

std::uint32_t CViewBase::DrawnSwitches() {
  CTodayViewOptions* options = Options();
  const bool switches[] = {options->GetSimpleShowThumbnail(), options->GetSimpleShowArticleTime(),
                           options->GetSimpleShowChannelName(), options->GetListShowArticleIcon(),
                           options->GetListShowArticleTime()};
  std::uint32_t packed = 0;
  for (bool on : switches) packed = packed << 1 | (on ? 1u : 0u);
  return packed;
}

void CViewBase::OnReceivedSelection(plat::WPARAM) {
  selected_ = true;
  plat::InvalidateRect(window_, nullptr, plat::FALSE);
}

void CViewBase::OnLostSelection() {
  selected_ = false;
  plat::InvalidateRect(window_, nullptr, plat::FALSE);
}

int CViewBase::OnQueryRefreshCache(plat::TODAYLISTITEM* item) {
  const int height = GetHeight();
  // The host asks every view in turn (the list has no timer of its own).
  if (DrawnSwitches() != paintedSwitches_ && window_) plat::InvalidateRect(window_, nullptr, plat::FALSE);
  if (item == nullptr || static_cast<int>(item->cyp) == height) return 0;
  item->cyp = static_cast<plat::DWORD>(height);
  return 1;
}

plat::COLORREF CViewBase::HostColour(plat::DWORD index, plat::COLORREF fallback) {
  plat::HWND parent = window_ ? plat::GetParent(window_) : nullptr;
  if (!parent) return fallback;
  return static_cast<plat::COLORREF>(plat::SendMessageW(parent, plat::TODAYM_GETCOLOR, index, 0));
}

plat::COLORREF CViewBase::TextColour() { return HostColour(plat::TODAYCOLOR_TEXT, plat::RGB(0, 0, 0)); }

plat::COLORREF CViewBase::HighlightColour() {
  if (IsPocketPC() && GetPlatformGeneration() > 2)
    return HostColour(plat::TODAYCOLOR_HIGHLIGHT, plat::GetSysColor(plat::COLOR_HIGHLIGHT));
  return plat::GetSysColor(plat::COLOR_HIGHLIGHT);
}

plat::COLORREF CViewBase::HighlightTextColour() {
  if (IsPocketPC() && GetPlatformGeneration() > 2)
    return HostColour(plat::TODAYCOLOR_HIGHLIGHTEDTEXT, plat::GetSysColor(plat::COLOR_HIGHLIGHTTEXT));
  return plat::GetSysColor(plat::COLOR_HIGHLIGHTTEXT);
}

void CViewBase::PaintBackground(plat::HDC dc, const plat::RECT& rect, bool selectedArea) {
  if (selectedArea) {
    FillColour(dc, rect, HighlightColour());
    return;
  }
  plat::HWND parent = window_ ? plat::GetParent(window_) : nullptr;
  plat::TODAYDRAWWATERMARKINFO info{dc, rect, window_};
  if (parent && plat::SendMessageW(parent, plat::TODAYM_DRAWWATERMARK, 0, reinterpret_cast<plat::LPARAM>(&info)) != 0)
    return;
  FillColour(dc, rect, plat::RGB(255, 255, 255));
}

void CViewBase::PreparePaint(plat::HDC dc) {
  if (!font_ || FontsNeedRenewal()) {
    DeleteFonts();
    CreateFonts(dc);
    fontsChanged_ = false;
    Options()->SetFontsChanged(false);
  }
  paintedSwitches_ = DrawnSwitches();
  SubscribeFilter();
}

bool CViewBase::FontsNeedRenewal() {
  Options()->Reload();
  return fontsChanged_ || Options()->GetFontsChanged();
}

void CViewBase::CreateFonts(plat::HDC) {
  font_ = MakeFont(Options()->GetFaceName(), FontHeight(), plat::FW_NORMAL);
}

void CViewBase::DeleteFonts() {
  if (font_) plat::DeleteObject(font_);
  font_ = nullptr;
}

void CViewBase::PaintIconStrip(plat::HDC dc) {
  if (iconMode_ != 1) return;
  if (!icon_) {
    icon_ = static_cast<plat::HICON>(plat::LoadImageW(GetTodayModule(), plat::MAKEINTRESOURCEW(IDI_TODAY),
                                                      plat::IMAGE_ICON, Dx(16), Dy(16), 0));
  }
  if (icon_) plat::DrawIconEx(dc, iconRect_.left, iconRect_.top, icon_, Dx(16), Dy(16), 0, nullptr, plat::DI_NORMAL);
}

void CViewBase::PaintStatus(plat::HDC dc, const plat::RECT& rect, int status) {
  NoteShown(std::u16string(GetStyle() == 0 ? u"simple" : u"list") + u" status " + static_cast<char16_t>(u'0' + status));
  PaintBackground(dc, rect, selected_);
  PaintIconStrip(dc);
  int id = 102;
  if (status == kTodayNoStorage) id = 105;
  else if (status == kTodayNoArticles || status == kTodayReady) id = 103;
  const std::u16string text = LoadLocalizedString(static_cast<plat::UINT>(id));
  plat::HGDIOBJ old = plat::SelectObject(dc, font_);
  plat::SetTextColor(dc, selected_ ? HighlightTextColour() : TextColour());
  plat::RECT line{rect.left + TextLeft() + Dx(2), rect.top, rect.right, rect.top + HeaderHeight()};
  plat::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &line,
                  plat::DT_VCENTER | plat::DT_SINGLELINE | plat::DT_NOPREFIX);
  plat::SelectObject(dc, old);
}

void CViewBase::Paint(plat::HDC dc, const plat::RECT& rect) {
  PreparePaint(dc);
  PaintStatus(dc, rect, data_ ? data_->GetStatus() : kTodayLoading);
}

bool CViewBase::IconStripDown(plat::POINT point) {
  if (iconMode_ == 0 || point.x >= Dx(26)) return false;
  tracking_ = true;
  optionsPress_ = iconMode_ == 1 && Inside(iconRect_, point);
  if (!optionsPress_ && actions_->IsHeld(window_, point)) {
    tracking_ = false;
    actions_->ShowContextMenu(window_, point);
    return true;
  }
  plat::SetCapture(window_);
  return true;
}

bool CViewBase::IconStripUp(plat::POINT point) {
  if (!tracking_) return false;
  plat::RECT client{};
  plat::GetClientRect(window_, &client);
  if (optionsPress_) {
    if (Inside(iconRect_, point)) actions_->StartOptions();
  } else if (point.x < Dx(26) && Inside(client, point)) {
    actions_->RequestShow();
  }
  plat::ReleaseCapture();
  tracking_ = false;
  optionsPress_ = false;
  return true;
}

void CViewBase::OnButtonDown(plat::POINT point) { IconStripDown(point); }
void CViewBase::OnButtonUp(plat::POINT point) { IconStripUp(point); }

// ---- CScrollBar ------------------------------------------------------------------

CScrollBar::~CScrollBar() = default;

int CScrollBar::Width() { return Dx(13) + 2; }

void CScrollBar::SetCounts(int count, int page, int selection) {
  if (count < 0 || page <= 0 || (selection >= 0 && selection >= count)) return;
  if (count == count_ && page == page_ && (selection == -1 || selection == selected_)) return;
  count_ = count;
  page_ = page;
  if (selection != -1) selected_ = selection;
  if (selected_ >= count_) selected_ = std::max(0, count_ - 1);
  maxFirst_ = std::max(0, count_ - page_);
  first_ = std::clamp(first_, 0, maxFirst_);
  if (window_) plat::InvalidateRect(window_, nullptr, plat::FALSE);
}

void CScrollBar::InvalidateRow(int index) {
  if (!window_ || page_ <= 0) return;
  const int rowHeight = (list_.bottom - list_.top) / page_;
  const int row = index - first_;
  if (row < 0 || row >= page_) return;
  plat::RECT r{list_.left, list_.top + row * rowHeight, list_.right, list_.top + (row + 1) * rowHeight};
  plat::InvalidateRect(window_, &r, plat::FALSE);
}

bool CScrollBar::SetFirst(int first) {
  first = std::clamp(first, 0, maxFirst_);
  if (first == first_) return false;
  first_ = first;
  if (window_) plat::InvalidateRect(window_, nullptr, plat::FALSE);
  return true;
}

void CScrollBar::Select(int index) {
  if (count_ <= 0) return;
  index = std::clamp(index, 0, count_ - 1);
  if (index != selected_) {
    InvalidateRow(selected_);
    selected_ = index;
    InvalidateRow(selected_);
  }
  if (selected_ < first_) SetFirst(selected_);
  else if (selected_ >= first_ + page_) SetFirst(selected_ - page_ + 1);
}

CScrollBar::Geometry CScrollBar::Measure() const {
  Geometry g{};
  const int T = list_.top, B = list_.bottom;
  g.barLeft = list_.right - Dx(13) - 2;
  g.barWidth = Dx(13) + 2;
  // A list shorter than both arrow boxes leaves no track: the length is
  // clamped at 0 rather than going negative.
  g.trackLength = std::max(0, B - T - Dy(24) - 2);
  g.thumbLength = count_ > 0 ? g.trackLength * page_ / count_ : 0;
  g.thumbLength = std::min(std::max(g.thumbLength, Dy(10)), std::max(g.trackLength, 0));
  const int range = std::max(1, count_ - page_);
  g.thumbTop = first_ * std::max(0, g.trackLength - g.thumbLength) / range + Dy(12) + T + 1;
  g.thumbBottom = g.thumbTop + g.thumbLength;
  g.up = plat::RECT{1, T + 1, g.barWidth - 1, T + 1 + Dy(12)};
  g.down = plat::RECT{1, B - Dy(12) - 1, g.barWidth - 1, B - 1};
  return g;
}

bool CScrollBar::HitTest(plat::POINT point) const {
  if (!IsShown()) return false;
  const Geometry g = Measure();
  return point.x >= g.barLeft && point.x < list_.right && point.y >= list_.top && point.y < list_.bottom;
}

bool CScrollBar::Step(int step) {
  if (step == 1 || step == -1) {
    const int before = first_;
    SetFirst(first_ + step);
    return first_ != before;
  }
  return SetFirst(first_ + step);
}

void CScrollBar::OnButtonDown(plat::POINT point) {
  const Geometry g = Measure();
  const int y = point.y;
  if (y >= g.thumbTop && y < g.thumbBottom) {
    dragging_ = true;
    dragOffset_ = y - g.thumbTop;
    step_ = 0;
  } else if (y < g.up.bottom) {
    step_ = -1;
  } else if (y >= g.down.top) {
    step_ = 1;
  } else if (y < g.thumbTop) {
    step_ = -page_;
  } else {
    step_ = page_;
  }
  if (step_ != 0 && Step(step_) && window_) plat::SetTimer(window_, kTimerScrollRepeat, 100, nullptr);
  if (window_) plat::SetCapture(window_);
}

bool CScrollBar::OnRepeat() {
  if (step_ != 0 && Step(step_)) return true;
  if (window_) plat::KillTimer(window_, kTimerScrollRepeat);
  return false;
}

void CScrollBar::OnMouseMove(plat::POINT point) {
  if (!dragging_) return;
  const Geometry g = Measure();
  const int span = g.trackLength - g.thumbLength;
  if (span <= 0) return;
  const int top = point.y - dragOffset_ - (Dy(12) + list_.top + 1);
  SetFirst((std::clamp(top, 0, span) * maxFirst_ + span / 2) / span);
}

void CScrollBar::OnButtonUp() {
  dragging_ = false;
  step_ = 0;
  if (window_) {
    plat::KillTimer(window_, kTimerScrollRepeat);
    plat::ReleaseCapture();
  }
}

void CScrollBar::Paint(plat::HDC dc) {
  if (page_ >= count_) return;
  if (!skinLoaded_) {
    skinLoaded_ = true;
    LoadSkin(skin_, (TodayDpiX() + 48) / 96 == 1 ? IDB_TODAY_SCROLL_96 : IDB_TODAY_SCROLL_192);
  }
  const Geometry g = Measure();
  const int T = list_.top, B = list_.bottom;
  CSTScreenBuffer buffer;
  if (!buffer.CreateFromDC(dc, g.barLeft, T, g.barWidth, B - T)) return;
  const SkinTone tone = GetAverageTone(buffer, plat::RECT{0, 0, g.barWidth, B - T});
  const plat::COLORREF theme = GetThemeColor(kSkinThemeIndex, kSkinThemeDefault);
  auto local = [T](plat::RECT r) {
    r.top -= T;
    r.bottom -= T;
    return r;
  };
  // The cells are taken from the skin's own rows (scaled with the skin), and
  // reads past a cell's skin count as transparent.
  const int s = std::max(1, skin_.GetWidth() / 26);
  const int col = 13 * s;
  const plat::RECT fill{1 + Dx(2), g.thumbTop + Dy(2) - T, g.barWidth - Dx(2), g.thumbBottom - Dy(2) + 1 - T};
  if (fill.right > fill.left && fill.bottom > fill.top) {
    plat::HDC bdc = buffer.GetDC();
    FillColour(bdc, fill, tone.Colour());
  }
  if (skin_.GetWidth() > 0) {
    DrawSkinCell(buffer, local(g.up), skin_, plat::POINT{col, 0}, &tone);
    DrawSkinCell(buffer, local(g.down), skin_, plat::POINT{col, 13 * s}, &tone);
    const plat::RECT topCap{1, g.thumbTop - T, g.barWidth - 1, g.thumbTop + Dy(2) - T};
    const plat::RECT bottomCap{1, g.thumbBottom - Dy(2) - T, g.barWidth - 1, g.thumbBottom - T};
    for (const auto& [cap, row] : {std::pair{topCap, 26 * s}, std::pair{bottomCap, 31 * s}}) {
      ReplaceKeyColour(buffer, cap, skin_, plat::POINT{col, row}, plat::RGB(255, 0, 0), theme);
      ReplaceKeyColour(buffer, cap, skin_, plat::POINT{col, row}, plat::RGB(255, 255, 255), tone.Colour());
    }
  }
  plat::HDC bdc = buffer.GetDC();
  const int w1 = Dx(1);
  const int top = g.thumbTop + Dy(2) - T, bottom = g.thumbBottom - Dy(2) - T;
  if (bottom > top) {
    FillColour(bdc, plat::RECT{w1 + 1, top, w1 + 1 + w1, bottom}, theme);
    FillColour(bdc, plat::RECT{g.barWidth - Dx(2) - 1, top, g.barWidth - Dx(2) - 1 + w1, bottom}, theme);
  }
  const int trackX = Dx(6) + 1;
  if (g.thumbTop > Dy(12) + T + 1) FillColour(bdc, plat::RECT{trackX, Dy(12) + 1, trackX + w1, g.thumbTop - T}, theme);
  if (B - Dy(12) - 1 > g.thumbBottom)
    FillColour(bdc, plat::RECT{trackX, g.thumbBottom - T, trackX + w1, B - Dy(12) - 1 - T}, theme);
  buffer.BlitTo(dc, g.barLeft, T);
}

// ---- CViewList ------------------------------------------------------------------

CViewList::CViewList(plat::HWND window, CHDBThread* data, ITodayItemActions* actions)
    : CViewBase(window, data, actions), bar_(window) {
  SubscribeFilter();
}

CViewList::~CViewList() {
  if (window_) {
    plat::KillTimer(window_, kTimerStatus);
    plat::KillTimer(window_, kTimerScrollRepeat);
  }
  UnsubscribeFilter();
  DeleteFonts();
  if (icons_) plat::DeleteObject(icons_);
}

int CViewList::RowHeight() { return LineHeight() + 1; }

int CViewList::GetHeight() {
  Options()->Reload();
  return std::max(HeaderHeight(), static_cast<int>(Options()->GetListRowsCount()) * RowHeight());
}

void CViewList::OnUIMetricChange() {
  CViewBase::OnUIMetricChange();
  DeleteFonts();
}

void CViewList::CreateFonts(plat::HDC dc) {
  CViewBase::CreateFonts(dc);
  titleFont_ = MakeFont(Options()->GetFaceName(), FontHeight(), plat::FW_NORMAL);
  timeFont_ = MakeFont(Options()->GetFaceName(), FontHeight(), plat::FW_NORMAL);
}

void CViewList::DeleteFonts() {
  CViewBase::DeleteFonts();
  for (plat::HFONT* f : {&titleFont_, &timeFont_}) {
    if (*f) plat::DeleteObject(*f);
    *f = nullptr;
  }
}

void CViewList::Layout() {
  plat::RECT client{};
  if (window_) plat::GetClientRect(window_, &client);
  listRect_ = client;
  listRect_.left += TextLeft();
  const int page = std::max(1, static_cast<int>(Options()->GetListRowsCount()));
  listRect_.bottom = std::min(static_cast<int>(client.bottom), listRect_.top + page * RowHeight());
  bar_.SetListRect(listRect_);
}

int CViewList::SelectionIndex(const TodaySnapshot& shown) {
  if (selId_.empty()) return -1;
  for (std::size_t i = 0; i < shown.articles.size(); ++i) {
    const TodayArticle& a = shown.articles[i];
    if (a.id == selId_ && !a.channel.empty() && a.channel == selChannel_) return static_cast<int>(i);
  }
  return -1;
}

void CViewList::StoreSelection(const TodaySnapshot& shown, int index) {
  if (index < 0 || index >= static_cast<int>(shown.articles.size())) {
    selChannel_.clear();
    selId_.clear();
    return;
  }
  const TodayArticle& a = shown.articles[static_cast<std::size_t>(index)];
  selId_ = a.id;
  selChannel_ = a.channel;
}

void CViewList::PaintRow(plat::HDC dc, const TodayArticle& article, const plat::RECT& rowRect, bool selected) {
  plat::RECT row = rowRect;
  if (bar_.IsShown()) row.right -= Dx(15);
  PaintBackground(dc, row, selected);
  int left = row.left;
  if (Options()->GetListShowArticleIcon()) {
    if (!icons_) {
      const bool small = TodayDpiX() <= 96;
      icons_ = plat::LoadBitmapW(GetTodayModule(),
                                 plat::MAKEINTRESOURCEW(small ? IDB_TODAY_ARTICLES_96 : IDB_TODAY_ARTICLES_192));
      iconCell_ = small ? 14 : 28;
    }
    if (icons_) {
      plat::HDC src = plat::CreateCompatibleDC(dc);
      plat::HGDIOBJ old = plat::SelectObject(src, icons_);
      const int size = iconCell_;
      const int y = row.top + (row.bottom - row.top - size) / 2;
      // Cell 0: an unread article (the list shows only those).
      plat::TransparentBlt(dc, left + Dx(1), y, size, size, src, 0, 0, size, size, plat::RGB(255, 0, 255));
      plat::SelectObject(src, old);
      plat::DeleteDC(src);
    }
    left += Dx(1) + Dx(14) + Dx(1);
  } else {
    left += Dx(2);
  }
  plat::SetTextColor(dc, selected ? HighlightTextColour() : TextColour());
  int right = row.right - Dx(2);
  if (Options()->GetListShowArticleTime()) {
    const std::u16string date = DateText(article);
    if (!date.empty()) {
      plat::HGDIOBJ old = plat::SelectObject(dc, timeFont_);
      plat::SIZE size{};
      plat::GetTextExtentPoint32W(dc, date.c_str(), static_cast<int>(date.size()), &size);
      plat::RECT r{std::max(left, right - size.cx), row.top, right, row.bottom};
      plat::DrawTextW(dc, date.c_str(), static_cast<int>(date.size()), &r,
                      plat::DT_RIGHT | plat::DT_VCENTER | plat::DT_SINGLELINE | plat::DT_NOPREFIX);
      plat::SelectObject(dc, old);
      right = r.left - Dx(2);
    }
  }
  plat::HGDIOBJ old = plat::SelectObject(dc, titleFont_);
  DrawTextFitted(dc, plat::Trim(article.title, plat::IsXmlSpace), plat::RECT{left, row.top, right, row.bottom}, 1);
  plat::SelectObject(dc, old);
}

void CViewList::Paint(plat::HDC dc, const plat::RECT& rect) {
  PreparePaint(dc);
  Layout();
  const std::shared_ptr<const TodaySnapshot> shown = Snapshot();
  const int status = shown->status;
  if (status != kTodayReady) {
    PaintStatus(dc, rect, status);
    if ((status == kTodayLoading || status == kTodayNoStorage) && window_)
      plat::SetTimer(window_, kTimerStatus, 1000, nullptr);
    return;
  }
  plat::RECT clip{};
  if (plat::GetClipBox(dc, &clip) == 0) clip = rect;
  // The strip left of the list.
  PaintBackground(dc, plat::RECT{rect.left, rect.top, listRect_.left, rect.bottom}, false);
  PaintIconStrip(dc);
  if (listRect_.bottom < rect.bottom) PaintBackground(dc, plat::RECT{listRect_.left, listRect_.bottom, rect.right, rect.bottom}, false);

  const int count = static_cast<int>(shown->articles.size());
  const int page = std::max(1, static_cast<int>(Options()->GetListRowsCount()));
  const int selection = SelectionIndex(*shown);
  if (selection < 0 && !selId_.empty()) {
    selId_.clear();  // the article left the list
    selChannel_.clear();
  }
  bar_.SetCounts(count, page, -1);
  if (bar_.GetFirst() > std::max(0, count - page)) bar_.SetFirst(0);
  // The column of the bar takes the watermark first: the bar's tone comes from it.
  if (bar_.IsShown())
    PaintBackground(dc, plat::RECT{listRect_.right - Dx(15), listRect_.top, listRect_.right, listRect_.bottom}, false);
  const int rowHeight = RowHeight();
  for (int i = 0; i < page; ++i) {
    plat::RECT row{listRect_.left, listRect_.top + i * rowHeight, listRect_.right, listRect_.top + (i + 1) * rowHeight};
    const int index = bar_.GetFirst() + i;
    if (index >= count) {
      if (Meets(row, clip)) PaintBackground(dc, row, false);
      continue;
    }
    if (!Meets(row, clip)) continue;
    PaintRow(dc, shown->articles[static_cast<std::size_t>(index)], row, selected_ && index == selection);
  }
  bar_.Paint(dc);
  if (count > 0 && bar_.GetFirst() < count) {
    const TodayArticle& first = shown->articles[static_cast<std::size_t>(bar_.GetFirst())];
    const std::string number = std::to_string(count);
    NoteShown(u"list " + std::u16string(number.begin(), number.end()) + u" " + first.channel + u": " + first.title);
  }
}

void CViewList::OnTimer(plat::UINT_PTR id) {
  CViewBase::OnTimer(id);
  if (id == kTimerScrollRepeat) {
    bar_.OnRepeat();
  } else if (id == kTimerStatus) {
    plat::KillTimer(window_, kTimerStatus);
    plat::InvalidateRect(window_, nullptr, plat::FALSE);
  }
}

void CViewList::OnReceivedSelection(plat::WPARAM key) {
  selected_ = true;
  const std::shared_ptr<const TodaySnapshot> shown = Snapshot();
  if (shown->status == kTodayReady) {
    const int count = static_cast<int>(shown->articles.size());
    const int page = std::max(1, static_cast<int>(Options()->GetListRowsCount()));
    bar_.SetCounts(count, page, -1);
    if (selId_.empty()) {
      int index = bar_.GetSelected();
      if (key == plat::VK_UP) index = std::min(count - 1, bar_.GetFirst() + page - 1);
      else if (key == plat::VK_DOWN) index = bar_.GetFirst();
      bar_.Select(index);
      StoreSelection(*shown, bar_.GetSelected());
    } else {
      const int index = SelectionIndex(*shown);
      if (index >= 0) bar_.Select(index);
    }
  }
  plat::InvalidateRect(window_, nullptr, plat::FALSE);
}

int CViewList::OnUserNavigation(plat::WPARAM key) {
  const std::shared_ptr<const TodaySnapshot> shown = Snapshot();
  if (shown->status != kTodayReady) return 0;
  const int count = static_cast<int>(shown->articles.size());
  const int page = std::max(1, static_cast<int>(Options()->GetListRowsCount()));
  bar_.SetCounts(count, page, -1);
  const int selection = SelectionIndex(*shown);
  const int current = selection >= 0 ? selection : bar_.GetSelected();
  bar_.Select(current);
  switch (key) {
    case plat::VK_UP:
      if (current <= 0) return 0;
      bar_.Previous();
      break;
    case plat::VK_DOWN:
      if (current >= count - 1) return 0;
      bar_.Next();
      break;
    case plat::VK_LEFT:
      bar_.PageUp();
      break;
    case plat::VK_RIGHT:
      bar_.PageDown();
      break;
    default:
      return 0;
  }
  StoreSelection(*shown, bar_.GetSelected());
  plat::InvalidateRect(window_, nullptr, plat::FALSE);
  return 1;
}

void CViewList::OnAction() {
  // A held action key opens the item's menu at the selected row.
  const std::shared_ptr<const TodaySnapshot> shown = Snapshot();
  const int selection = selId_.empty() ? -1 : SelectionIndex(*shown);
  if (selection >= bar_.GetFirst() && selection < bar_.GetFirst() + bar_.GetPage()) {
    const int top = listRect_.top + (selection - bar_.GetFirst()) * RowHeight();
    const plat::POINT centre{(listRect_.left + listRect_.right) / 2, top + RowHeight() / 2};
    if (actions_->IsHeld(window_, centre)) {
      actions_->ShowContextMenu(window_, centre);
      return;
    }
  }
  if (!selId_.empty()) {
    actions_->RequestShowArticle(selChannel_, selId_);
    return;
  }
  if (data_ && !shown->articles.empty()) return;
  actions_->RequestShow();
}

void CViewList::OnButtonDown(plat::POINT point) {
  Layout();
  if (IconStripDown(point)) return;
  tapped_ = -1;
  if (bar_.HitTest(point)) {
    barPressed_ = true;
    bar_.OnButtonDown(point);
    return;
  }
  selId_.clear();
  selChannel_.clear();
  const std::shared_ptr<const TodaySnapshot> shown = Snapshot();
  if (shown->status == kTodayReady && point.y >= listRect_.top) {
    const int index = bar_.GetFirst() + (point.y - listRect_.top) / RowHeight();
    if (index < static_cast<int>(shown->articles.size())) {
      bar_.Select(index);
      StoreSelection(*shown, index);
      tapped_ = index;
    }
  }
  selected_ = true;
  plat::InvalidateRect(window_, nullptr, plat::FALSE);
  if (actions_->IsHeld(window_, point)) {
    tapped_ = -1;
    actions_->ShowContextMenu(window_, point);
    return;
  }
  plat::SetCapture(window_);
}

void CViewList::OnMouseMove(plat::POINT point) { bar_.OnMouseMove(point); }

void CViewList::OnButtonUp(plat::POINT point) {
  if (IconStripUp(point)) return;
  // A press on the bar (an arrow, the track or the thumb) ends on the bar.
  if (barPressed_ || bar_.IsDragging()) {
    barPressed_ = false;
    bar_.OnButtonUp();
    tapped_ = -1;
    return;
  }
  plat::ReleaseCapture();
  if (tapped_ < 0 || !Inside(listRect_, point)) return;
  const int row = bar_.GetFirst() + (point.y - listRect_.top) / RowHeight();
  if (row == tapped_) OnAction();
  tapped_ = -1;
}

// ---- CViewSimple ----------------------------------------------------------------

CViewSimple::CViewSimple(plat::HWND window, CHDBThread* data, ITodayItemActions* actions)
    : CViewBase(window, data, actions), thumbnails_(window) {
  CThumbnailsManager::GetInstance()->AddListener(&thumbnails_);
  SubscribeFilter();
  if (window_) plat::SetTimer(window_, kTimerAdvance, 1000, nullptr);
}

CViewSimple::~CViewSimple() {
  CThumbnailsManager::GetInstance()->RemoveListener(&thumbnails_);
  if (window_) {
    plat::KillTimer(window_, kTimerAdvance);
    plat::KillTimer(window_, kTimerArrowRepeat);
  }
  UnsubscribeFilter();
  DeleteFonts();
}

int CViewSimple::GetHeight() {
  Options()->Reload();
  return std::max(HeaderHeight(), static_cast<int>(Options()->GetSimpleLinesCount()) * (LineHeight() + 1));
}

void CViewSimple::OnUIMetricChange() {
  CViewBase::OnUIMetricChange();
  DeleteFonts();
}

void CViewSimple::CreateFonts(plat::HDC dc) {
  CViewBase::CreateFonts(dc);
  const std::u16string face = Options()->GetFaceName();
  const int height = FontHeight();
  boldFont_ = MakeFont(face, height, plat::FW_BOLD);
  smallFont_ = MakeFont(face, height * 9 / 10, plat::FW_NORMAL);
}

void CViewSimple::DeleteFonts() {
  CViewBase::DeleteFonts();
  for (plat::HFONT* f : {&boldFont_, &smallFont_}) {
    if (*f) plat::DeleteObject(*f);
    *f = nullptr;
  }
}

void CViewSimple::PaintArrows(plat::HDC dc, plat::RECT& line) {
  if (!skinLoaded_) {
    skinLoaded_ = true;
    LoadSkin(skin_, (TodayDpiX() + 48) / 96 == 1 ? IDB_TODAY_ARROWS_96 : IDB_TODAY_ARROWS_192);
  }
  const int w = skin_.GetWidth() > 0 ? skin_.GetWidth() / 2 : Dx(13);
  const int h = skin_.GetHeight() > 0 ? skin_.GetHeight() / 2 : Dy(13);
  const int R = line.right;
  const int lineHeight = line.bottom - line.top;
  const int bottom = h >= lineHeight ? line.bottom - Dy(1) : line.bottom - Dy(1) - (lineHeight - h) / 2;
  nextRect_ = plat::RECT{R - w, bottom - h, R, bottom};
  previousRect_ = plat::RECT{R - 2 * w - Dx(1), bottom - h, R - w - Dx(1), bottom};
  CSTScreenBuffer buffer;
  const int left = previousRect_.left;
  if (skin_.GetWidth() > 0 && buffer.CreateFromDC(dc, left, bottom - h, R - left, h)) {
    DrawSkinCell(buffer, plat::RECT{0, 0, w, h}, skin_, plat::POINT{w, 0}, nullptr);
    DrawSkinCell(buffer, plat::RECT{nextRect_.left - left, 0, nextRect_.left - left + w, h}, skin_, plat::POINT{w, h},
                 nullptr);
    buffer.BlitTo(dc, left, bottom - h);
  }
  line.right = previousRect_.left - Dx(1);
}

void CViewSimple::Paint(plat::HDC dc, const plat::RECT& rect) {
  PreparePaint(dc);
  const std::shared_ptr<const TodaySnapshot> shown = Snapshot();
  const int status = shown->status;
  lastStatus_ = status;
  if (status != kTodayReady) {
    nextRect_ = previousRect_ = plat::RECT{};
    PaintStatus(dc, rect, status);
    return;
  }
  PaintBackground(dc, rect, selected_);
  PaintIconStrip(dc);

  const int count = static_cast<int>(shown->articles.size());
  current_ = count == 0 ? 0 : std::clamp(current_, 0, count - 1);
  if (count == 0) return;
  const TodayArticle& article = shown->articles[static_cast<std::size_t>(current_)];
  NoteShown(u"simple " + article.channel + u": " + article.title);

  const int lineHeight = LineHeight() + 1;
  const int left = rect.left + TextLeft() + Dx(2);
  const int lines = std::max(1, static_cast<int>(Options()->GetSimpleLinesCount()));
  std::vector<plat::RECT> rows;
  for (int i = 0; i < lines; ++i)
    rows.push_back(plat::RECT{left, rect.top + i * lineHeight, rect.right - Dx(2), rect.top + (i + 1) * lineHeight});

  plat::SetTextColor(dc, selected_ ? HighlightTextColour() : TextColour());
  if (Options()->GetSimpleShowThumbnail()) {
    const int side = Options()->GetRowHeight();
    thumbRect_ = plat::RECT{left, rect.top + Dy(1), left + side, rect.top + Dy(1) + side};
    if (DrawThumbnail(dc, article, thumbRect_)) {
      for (int i = 0; i < 2 && i < lines; ++i) rows[static_cast<std::size_t>(i)].left += side + Dx(2);
    }
  }
  std::size_t firstTitleLine = 0;
  if (Options()->GetSimpleShowArticleTime()) {
    const std::u16string date = DateText(article);
    if (!date.empty()) {
      plat::HGDIOBJ old = plat::SelectObject(dc, smallFont_);
      plat::SIZE size{};
      plat::GetTextExtentPoint32W(dc, date.c_str(), static_cast<int>(date.size()), &size);
      plat::RECT r = rows[0];
      r.left = std::max(r.left, r.right - size.cx);
      plat::DrawTextW(dc, date.c_str(), static_cast<int>(date.size()), &r,
                      plat::DT_RIGHT | plat::DT_VCENTER | plat::DT_SINGLELINE | plat::DT_NOPREFIX);
      plat::SelectObject(dc, old);
      rows[0].right = r.left - Dx(4);
    }
  }
  if (Options()->GetSimpleShowChannelName() && lines > 1 && !article.channel.empty()) {
    plat::HGDIOBJ old = plat::SelectObject(dc, boldFont_);
    DrawTextFitted(dc, article.channel, rows[0], 1);
    plat::SelectObject(dc, old);
    firstTitleLine = 1;
  }
  // The arrows and the position in the last line.
  plat::RECT& last = rows.back();
  PaintArrows(dc, last);
  {
    const std::string position = std::to_string(current_ + 1) + "/" + std::to_string(count);
    const std::u16string text(position.begin(), position.end());
    plat::HGDIOBJ old = plat::SelectObject(dc, smallFont_);
    plat::SIZE size{};
    plat::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    plat::RECT r{std::max(last.left, last.right - size.cx), last.top, last.right, last.bottom};
    plat::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
                    plat::DT_RIGHT | plat::DT_VCENTER | plat::DT_SINGLELINE | plat::DT_NOPREFIX);
    plat::SelectObject(dc, old);
    last.right = r.left - Dx(4);
  }
  plat::HGDIOBJ old = plat::SelectObject(dc, font_);
  std::vector<plat::RECT> titleLines(rows.begin() + static_cast<std::ptrdiff_t>(firstTitleLine), rows.end());
  if (!titleLines.empty()) DrawTextLinesFitted(dc, plat::Trim(article.title, plat::IsXmlSpace), titleLines);
  plat::SelectObject(dc, old);
}

int CViewSimple::HitRegion(plat::POINT point) {
  plat::RECT client{};
  if (window_) plat::GetClientRect(window_, &client);
  if (!Inside(client, point)) return 0;
  if (lastStatus_ != kTodayReady) return 3;
  if (Inside(previousRect_, point)) return 2;
  if (Inside(nextRect_, point)) return 1;
  plat::RECT bar{previousRect_.left - 1, previousRect_.top - 1, nextRect_.right + 1, nextRect_.bottom + 1};
  if (Inside(bar, point)) return 0;
  return 3;
}

void CViewSimple::Step(int delta) {
  const std::shared_ptr<const TodaySnapshot> shown = Snapshot();
  if (shown->status != kTodayReady) return;
  {
    const int count = static_cast<int>(shown->articles.size());
    if (count == 0) return;
    current_ = std::max(0, current_);
    current_ = ((count + current_ + delta) % count + count) % count;
  }
  if (window_) plat::InvalidateRect(window_, nullptr, plat::FALSE);
}

int CViewSimple::OnUserNavigation(plat::WPARAM key) {
  if (key == plat::VK_LEFT || key == plat::VK_RIGHT) {
    if (data_ && data_->GetStatus() == kTodayReady) {
      Step(key == plat::VK_LEFT ? -1 : 1);
      countdown_ = 10;
    }
    return 1;
  }
  return 0;
}

void CViewSimple::OnTimer(plat::UINT_PTR id) {
  CViewBase::OnTimer(id);
  if (id == kTimerArrowRepeat) {
    Step(pressed_ == 1 ? 1 : -1);
    return;
  }
  if (id != kTimerAdvance || pressed_ == 1 || pressed_ == 2) return;
  if (--countdown_ > 0) return;
  const int status = data_ ? data_->GetStatus() : kTodayLoading;
  if (status != lastStatus_ && window_) plat::InvalidateRect(window_, nullptr, plat::FALSE);
  const std::uint32_t speed = Options()->GetSimpleAutoScrollSpeed();
  if (speed != 0) Step(1);
  if (status == kTodayReady) countdown_ = speed == 1 ? 4 : speed == 2 ? 2 : speed == 3 ? 1 : 4;
  else countdown_ = 1;
}

void CViewSimple::OnAction() {
  // A held action key opens the item's menu at the article.
  plat::RECT client{};
  if (window_) plat::GetClientRect(window_, &client);
  const plat::POINT centre{(client.left + TextLeft() + client.right) / 2, (client.top + client.bottom) / 2};
  if (window_ && actions_->IsHeld(window_, centre)) {
    actions_->ShowContextMenu(window_, centre);
    return;
  }
  const std::shared_ptr<const TodaySnapshot> shown = Snapshot();
  if (shown->status == kTodayReady) {
    std::u16string channel, id;
    if (!shown->articles.empty()) {
      const int count = static_cast<int>(shown->articles.size());
      const TodayArticle& article = shown->articles[static_cast<std::size_t>(std::clamp(current_, 0, count - 1))];
      id = article.id;
      channel = article.channel;
    }
    if (!id.empty()) {
      actions_->RequestShowArticle(channel, id);
      return;
    }
  }
  actions_->RequestShow();
}

void CViewSimple::OnButtonDown(plat::POINT point) {
  if (IconStripDown(point)) return;
  pressed_ = HitRegion(point);
  if (pressed_ == 1 || pressed_ == 2) {
    plat::SetTimer(window_, kTimerArrowRepeat, 300, nullptr);
  } else if (pressed_ == 3 && actions_->IsHeld(window_, point)) {
    pressed_ = 0;
    actions_->ShowContextMenu(window_, point);
    return;
  }
  plat::SetCapture(window_);
}

void CViewSimple::OnButtonUp(plat::POINT point) {
  if (window_) plat::KillTimer(window_, kTimerArrowRepeat);
  if (IconStripUp(point)) return;
  plat::ReleaseCapture();
  const int pressed = pressed_;
  pressed_ = 0;
  if (pressed == 0 || HitRegion(point) != pressed) return;
  if (pressed == 1) OnUserNavigation(plat::VK_RIGHT);
  else if (pressed == 2) OnUserNavigation(plat::VK_LEFT);
  else OnAction();
}
