// The article view: one article shown as an HTML page in the viewer control.
// It builds the page from the article's stored properties, supplies the
// page's pictures from the article's downloaded binaries (decoded on the job
// threads, one job per address, every cookie of that address given the same
// bitmap), follows links (another article, the article's own update, the
// browser for http, https and mailto only), offers select all, copy and open
// image, moves to the previous or next article (arrow keys past the page's
// edge; the main window's finger scrolling turns sideways flings into the
// same steps) and rebuilds itself when the article changes
// in the feed database. It lives in ArticleViewHost, a child window of the
// main window, which tells it which article to show.
//
// Lock order: the channel set's lock (the database lock), then the view's.
// Database events may arrive on any thread; they only post messages or, under
// the locks, queue image jobs.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Synchronized.h"
#include "database/DBEventListener.h"
#include "layout/HtmlView.h"
#include "platform/windows/Windows.h"

class IArticle;
class CDBViewState;

// Commands of the article view's context menu and the private message by
// which the main window hands WM_HELP to a visible view.
constexpr plat::UINT kArticleSelectAll = 5001;
constexpr plat::UINT kArticleCopy = 5002;
constexpr plat::UINT kArticleOpenImage = 5003;
constexpr plat::UINT kArticleHelpMessage = 0x2000 + plat::WM_HELP;  // 8275
// WM_CONTEXTMENU with this wParam comes from the action key.
constexpr plat::WPARAM kActionKeyContextMenu = 0xDEADFACE;
// The help topic of the view.
inline constexpr const char16_t* kArticleHelpTopic = u"article";

// What a tap on a link does.
enum class ArticleLinkAction {
  kManualUpdate,  // "__manual_update__": update the article now
  kOpenArticle,   // "article://<id>": open that article
  kBrowser,       // http, https or mailto: the desktop's browser or mailer
  kRefused,       // anything else: nothing opens
};
// Classifies a link target; for kOpenArticle, id receives the article id.
ArticleLinkAction ClassifyArticleLink(const std::u16string& target, std::u16string* id);

// Text made safe inside an HTML element or a double-quoted attribute: &, <,
// > and (with quotes) " become entities.
std::u16string EscapeHtml(const std::u16string& text, bool quotes);

// Builds the page of an article under the database lock: header (the title
// line per the article's "ShowHeaderInHTML"), date line, body and a footer by
// the article's state (download link, waiting note, or, when showLocation,
// the link to the article's own address). False, and page untouched, when
// the article's properties cannot be read.
bool ArticleHtmlBuilder(IArticle* article, std::u16string& page, bool showLocation = true);

// Queues the article for an update now with the program's update manager.
void QueueArticleUpdate(IArticle* article);

class ArticleView : public HtmlView, public CDBEventListener {
 public:
  // What "__manual_update__" does with the article (the default queues it
  // with the program's update manager); tests record it instead.
  using ArticleUpdater = void (*)(IArticle* article);
  static void SetArticleUpdaterForTesting(ArticleUpdater updater);
  // Where refused links are reported besides the debug log (null: nowhere).
  using LinkRefusedSink = void (*)(const std::u16string& target);
  static void SetLinkRefusedSinkForTesting(LinkRefusedSink sink);

  ArticleView();
  ~ArticleView() override;

  bool Create(plat::HWND parent) override;

  // Shows the article (null: nothing). The channel of the shown article is
  // in use by the view until it shows another one or none.
  void SetArticle(IArticle* article);
  IArticle* GetArticle();
  // "HTMLTextSize": 0 smallest to 4 largest, handed to the viewer.
  void SetTextSize(int size);
  int GetTextSize() const { return textSize_; }
  // "ShowArticleLocation": whether the page ends with the link to the
  // article's own address. A change rebuilds the page.
  void SetShowLocation(bool show);
  bool GetShowLocation() const { return showLocation_; }
  // Reads both settings from the program options and applies them.
  void ApplyOptions();
  // Where opened articles are recorded (null: the program's view state).
  void SetViewState(CDBViewState* state) { viewState_ = state; }

  // The context-menu commands (also run from the menu itself).
  void SelectAll();
  // Copies the selected text to the clipboard; false when nothing was put there.
  bool CopySelection();
  // Opens the picture of a shown image cookie; false when none is known.
  bool OpenImage(plat::DWORD cookie);
  // The context menu for a point: select all, copy (greyed without a
  // selection), and open image when imageFile is not empty. Caller destroys it.
  plat::HMENU BuildContextMenu(bool overImage);

  // Previous (true) or next article in the article list; nothing at an end,
  // while busy or without an article.
  void ShowAdjacentArticle(bool previous);

  // What the view knows of the page's pictures.
  std::size_t GetPendingImageCount();
  std::u16string GetShownImageFile(plat::DWORD cookie);
  unsigned GetPageGeneration() const { return pageGeneration_; }

  bool ProcessWindowMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                            plat::LRESULT& result) override;
  void OnDBEvent(CDBEvent* record) override;

 protected:
  void OnBeforeSetText() override;
  void OnAfterSetText() override;
  void OnViewerDestroyed() override;

 private:
  static plat::LRESULT KeyHookProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  plat::LRESULT OnInnerMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  void RemoveKeyHook();
  // Both locks held by the caller.
  void DetachLocked();
  void RequestImageLocked(const std::u16string& address);
  void PostRebuild();
  void OnRebuild();
  void OnImageLoaded(plat::WPARAM job);
  void OnViewerNotify(const plat::NMHDR* header, plat::LRESULT& result);
  void OnLink(const std::u16string& target);
  void ShowContextMenu(plat::POINT screen, plat::DWORD imageCookie, bool overImage);
  // The end of a horizontal arrow key: at the page's edge in that direction
  // the adjacent article opens.
  void OnHorizontalEdge(bool towardPrevious, const plat::SCROLLINFO& before);

  CDBViewState* ViewState();

  CDBViewState* viewState_ = nullptr;
  CSynchronized lock_;  // the view lock, over the fields below
  plat::HWND owner_ = nullptr;
  IArticle* article_ = nullptr;
  std::atomic<unsigned> parseGeneration_{0};
  std::atomic<unsigned> pageGeneration_{0};
  std::unordered_map<std::u16string, std::vector<plat::DWORD>> pendingImages_;
  std::unordered_map<plat::DWORD, std::u16string> shownImages_;
  std::atomic<bool> rebuildPosted_{false};
  int textSize_ = 2;
  bool showLocation_ = true;

  // The key hook on the viewer's inner window.
  plat::HWND hooked_ = nullptr;
  plat::WNDPROC innerProc_ = nullptr;
  plat::SCROLLINFO keyScroll_{};
  plat::UINT keyDown_ = 0;  // the arrow whose key-down recorded keyScroll_
};

// The child window of the main window in which the article view lives. It
// hands the viewer's page notifications to the viewer control and reflects
// other control notifications and commands to their senders.
class ArticleViewHost {
 public:
  static const char16_t* const kClassName;

  ArticleViewHost() = default;
  ~ArticleViewHost();
  ArticleViewHost(const ArticleViewHost&) = delete;
  ArticleViewHost& operator=(const ArticleViewHost&) = delete;

  // A child of parent with the default child style (and the given extra
  // styles removed, e.g. WS_VISIBLE); null when the window or the viewer
  // inside it cannot be made.
  plat::HWND Create(plat::HWND parent, const plat::RECT& rect, plat::DWORD removeStyle = 0);
  plat::HWND GetWindow() const { return window_; }
  ArticleView& GetView() { return view_; }

  bool ProcessWindowMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                            plat::LRESULT& result);

 private:
  static plat::LRESULT Proc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);

  plat::HWND window_ = nullptr;
  ArticleView view_;
};
