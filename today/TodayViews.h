// The Today item's views: CViewSimple shows one article at a time (thumbnail,
// time, channel name and wrapped title, with previous/next arrows and an
// automatic advance), CViewList a list of titles with a drawn scroll bar. Both
// derive from CViewBase: the item window, the fonts, the icon strip with its
// taps, the host's colours and the status texts. Everything runs on the host's
// UI thread; the status and the articles are read from the data thread's
// snapshot, never under the channel set's lock, so a channel whose files
// another program holds never holds up a paint or a key.
#pragma once

#include <memory>
#include <string>

#include "core/STScreenBuffer.h"
#include "database/ThumbnailsManager.h"
#include "platform/controls/TodayItems.h"
#include "platform/gdi/Gdi.h"
#include "platform/windows/Windows.h"

class CHDBThread;
struct TodayArticle;
struct TodaySnapshot;

// Timer ids.
constexpr plat::UINT_PTR kTimerAdvance = 1001;
constexpr plat::UINT_PTR kTimerArrowRepeat = 1003;
constexpr plat::UINT_PTR kTimerStatus = 1008;
constexpr plat::UINT_PTR kTimerScrollRepeat = 6003;

// What the views ask of the item around them (the item's launch operations;
// tests record them).
class ITodayItemActions {
 public:
  virtual ~ITodayItemActions() = default;
  virtual void RequestShow() = 0;
  virtual void RequestShowArticle(const std::u16string& channel, const std::u16string& articleId) = 0;
  virtual void StartOptions() = 0;
  // The tap-and-hold gesture at a client point of the window: true when held.
  virtual bool IsHeld(plat::HWND window, plat::POINT point) = 0;
  virtual void ShowContextMenu(plat::HWND window, plat::POINT point) = 0;
};
// The item's own actions (the starter, the options program, the shell's gesture).
ITodayItemActions* GetDefaultTodayActions();

class CViewBase {
 public:
  CViewBase(plat::HWND window, CHDBThread* data, ITodayItemActions* actions);
  virtual ~CViewBase();
  CViewBase(const CViewBase&) = delete;
  CViewBase& operator=(const CViewBase&) = delete;

  virtual int GetStyle() = 0;
  virtual int GetHeight();
  virtual void OnUIMetricChange();
  virtual void OnSize();
  virtual void OnTimer(plat::UINT_PTR id);
  virtual void OnReceivedSelection(plat::WPARAM key);
  virtual void OnLostSelection();
  virtual int OnUserNavigation(plat::WPARAM key) = 0;
  virtual void OnAction() = 0;
  virtual void OnButtonDown(plat::POINT point);
  virtual void OnMouseMove(plat::POINT point) {}
  virtual void OnButtonUp(plat::POINT point);
  // 1 when the view's height differs from the record's (the record takes it).
  virtual int OnQueryRefreshCache(plat::TODAYLISTITEM* item);
  // Paints into dc (the client rectangle at rect).
  virtual void Paint(plat::HDC dc, const plat::RECT& rect);
  virtual void CreateFonts(plat::HDC dc);
  virtual void DeleteFonts();

  plat::HWND GetWindow() const { return window_; }
  bool IsSelected() const { return selected_; }
  // The icon strip: 0 none, 1 with the options icon, else without it.
  void SetIconMode(int mode) { iconMode_ = mode; }
  int GetIconMode() const { return iconMode_; }
  void SetEmbedded(bool embedded) { embedded_ = embedded; }
  bool IsEmbedded() const { return embedded_; }
  const plat::RECT& GetIconRect() const { return iconRect_; }
  // True (and the time noted) when the view's placement was last read at
  // least a second before now, or never.
  bool PlacementDue(plat::DWORD now) {
    if (placementRead_ && now - lastPlacementTick_ < 1000) return false;
    placementRead_ = true;
    lastPlacementTick_ = now;
    return true;
  }

  int HeaderHeight();
  int LineHeight();
  // Where the text area begins: right of the icon strip.
  int TextLeft() const;
  // Asks the host (the parent) for a colour.
  plat::COLORREF HostColour(plat::DWORD index, plat::COLORREF fallback);
  plat::COLORREF TextColour();
  plat::COLORREF HighlightColour();
  plat::COLORREF HighlightTextColour();
  // The host's watermark (white without a host that draws one).
  void PaintBackground(plat::HDC dc, const plat::RECT& rect, bool selectedArea);

 protected:
  // The header line: background, icon strip and the status text.
  void PaintStatus(plat::HDC dc, const plat::RECT& rect, int status);
  void PaintIconStrip(plat::HDC dc);
  bool FontsNeedRenewal();
  // The switches of the options program that change what a paint draws
  // (the shown parts of both views), packed into one number.
  std::uint32_t DrawnSwitches();
  // Before a paint: the fonts made (again after a change) and the filter followed.
  void PreparePaint(plat::HDC dc);
  // True when the press was taken by the icon strip.
  bool IconStripDown(plat::POINT point);
  bool IconStripUp(plat::POINT point);
  // The view's window follows the data thread's snapshot (repainted when it
  // changes).
  void SubscribeFilter();
  void UnsubscribeFilter();
  // What the view shows: the data thread's latest snapshot, read without
  // waiting for the channel set.
  std::shared_ptr<const TodaySnapshot> Snapshot();
  // The debug log (with "DeveloperMode") notes what the item shows, once per change.
  void NoteShown(const std::u16string& what);

  plat::HWND window_;
  CHDBThread* data_;
  ITodayItemActions* actions_;
  plat::HFONT font_ = nullptr;
  bool fontsChanged_ = false;
  bool selected_ = false;
  bool tracking_ = false;
  bool optionsPress_ = false;
  bool embedded_ = false;
  int iconMode_ = 1;
  plat::RECT iconRect_{};
  plat::HICON icon_ = nullptr;
  bool subscribed_ = false;
  std::u16string lastNoted_;
  bool placementRead_ = false;
  plat::DWORD lastPlacementTick_ = 0;
  plat::DWORD lastCheckTick_ = 0;
  // DrawnSwitches() of the last paint.
  std::uint32_t paintedSwitches_ = 0;
};

class CScrollBar {
 public:
  explicit CScrollBar(plat::HWND window) : window_(window) {}
  ~CScrollBar();

  // A negative count, a page of 0 or less or a selection not below the count
  // change nothing; -1 keeps the selection.
  void SetCounts(int count, int page, int selection);
  void SetListRect(const plat::RECT& rect) { list_ = rect; }
  bool IsShown() const { return count_ > page_; }
  // The width the bar takes at the right of the list when shown.
  static int Width();
  // Clamped into 0 .. count - 1; the old and new rows repainted; the first
  // visible row moved as little as needed to show the selection.
  void Select(int index);
  void Next() { Select(selected_ + 1); }
  void Previous() { Select(selected_ - 1); }
  int PageStep() const { return page_ - 1 > 1 ? page_ - 1 : 1; }
  void PageDown() { Select(selected_ + PageStep()); }
  void PageUp() { Select(selected_ - PageStep()); }
  // Moves the first visible row (clamped); repaints when it changed.
  bool SetFirst(int first);

  bool HitTest(plat::POINT point) const;
  void OnButtonDown(plat::POINT point);
  void OnMouseMove(plat::POINT point);
  void OnButtonUp();
  // Timer 6003: repeats the held step; false once the list stops moving.
  bool OnRepeat();
  bool IsDragging() const { return dragging_; }

  void Paint(plat::HDC dc);

  int GetCount() const { return count_; }
  int GetPage() const { return page_; }
  int GetSelected() const { return selected_; }
  int GetFirst() const { return first_; }

  // The geometry of the bar for the list rectangle (bar coordinates: x from
  // the bar's left edge, y as in the list).
  struct Geometry {
    int barLeft, barWidth;
    int trackLength, thumbLength, thumbTop, thumbBottom;
    plat::RECT up, down;
  };
  Geometry Measure() const;

 private:
  void InvalidateRow(int index);
  bool Step(int step);

  plat::HWND window_;
  plat::RECT list_{};
  int count_ = 0;
  int page_ = 1;
  int selected_ = 0;
  int first_ = 0;
  int maxFirst_ = 0;
  bool dragging_ = false;
  int dragOffset_ = 0;
  int step_ = 0;
  CSTScreenBuffer skin_;
  bool skinLoaded_ = false;
};

class CViewList : public CViewBase {
 public:
  CViewList(plat::HWND window, CHDBThread* data, ITodayItemActions* actions);
  ~CViewList() override;

  int GetStyle() override { return 1; }
  int GetHeight() override;
  void OnUIMetricChange() override;
  void OnTimer(plat::UINT_PTR id) override;
  void OnReceivedSelection(plat::WPARAM key) override;
  int OnUserNavigation(plat::WPARAM key) override;
  void OnAction() override;
  void OnButtonDown(plat::POINT point) override;
  void OnMouseMove(plat::POINT point) override;
  void OnButtonUp(plat::POINT point) override;
  void Paint(plat::HDC dc, const plat::RECT& rect) override;
  void CreateFonts(plat::HDC dc) override;
  void DeleteFonts() override;

  CScrollBar& GetScrollBar() { return bar_; }
  const std::u16string& GetSelectedChannel() const { return selChannel_; }
  const std::u16string& GetSelectedId() const { return selId_; }
  int RowHeight();

 private:
  // Stores the article at index of the snapshot as the selection.
  void StoreSelection(const TodaySnapshot& shown, int index);
  void Layout();
  void PaintRow(plat::HDC dc, const TodayArticle& article, const plat::RECT& row, bool selected);
  // The stored selection's index in the snapshot, or -1.
  int SelectionIndex(const TodaySnapshot& shown);

  CScrollBar bar_;
  plat::RECT listRect_{};
  int tapped_ = -1;
  bool barPressed_ = false;
  std::u16string selChannel_;
  std::u16string selId_;
  plat::HFONT titleFont_ = nullptr;
  plat::HFONT timeFont_ = nullptr;
  plat::HBITMAP icons_ = nullptr;
  int iconCell_ = 14;
};

class CViewSimple : public CViewBase {
 public:
  CViewSimple(plat::HWND window, CHDBThread* data, ITodayItemActions* actions);
  ~CViewSimple() override;

  int GetStyle() override { return 0; }
  int GetHeight() override;
  void OnUIMetricChange() override;
  void OnTimer(plat::UINT_PTR id) override;
  int OnUserNavigation(plat::WPARAM key) override;
  void OnAction() override;
  void OnButtonDown(plat::POINT point) override;
  void OnButtonUp(plat::POINT point) override;
  void Paint(plat::HDC dc, const plat::RECT& rect) override;
  void CreateFonts(plat::HDC dc) override;
  void DeleteFonts() override;

  int GetCurrentIndex() const { return current_; }
  int GetCountdown() const { return countdown_; }
  // 0 outside, 1 next arrow, 2 previous arrow, 3 the article.
  int HitRegion(plat::POINT point);
  const plat::RECT& GetNextRect() const { return nextRect_; }
  const plat::RECT& GetPreviousRect() const { return previousRect_; }
  void Step(int delta);

 private:
  void PaintArrows(plat::HDC dc, plat::RECT& line);
  // A thumbnail made after the article was painted (the item's own
  // preparation job, on another thread) repaints the view.
  class ThumbnailListener : public IThumbnailsListener {
   public:
    explicit ThumbnailListener(plat::HWND window) : window_(window) {}
    void OnThumbnailsChanged(const std::u16string&) override {
      if (window_) plat::InvalidateRect(window_, nullptr, plat::FALSE);
    }

   private:
    plat::HWND window_;
  };

  ThumbnailListener thumbnails_;
  int current_ = -1;
  int pressed_ = 0;
  int countdown_ = 1;
  int lastStatus_ = 0;
  plat::RECT nextRect_{};
  plat::RECT previousRect_{};
  plat::RECT thumbRect_{};
  CSTScreenBuffer skin_;
  bool skinLoaded_ = false;
  plat::HFONT boldFont_ = nullptr;
  plat::HFONT smallFont_ = nullptr;
};
