// The article list: the data side of the "news_articles" layout. One row per
// article of the program's article filter (the current channel's articles)
// with thumbnail, title and state. It keeps the current article, remembers
// per channel which article was current, opens articles, and offers a
// pop-up menu per row. The main window embeds it beside the channel list.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "app/views/ListItemMetrics.h"
#include "app/views/ListViewBase.h"
#include "core/FontStorage.h"
#include "database/ArticleFilter.h"
#include "database/DBEventListener.h"
#include "database/ThumbnailsManager.h"

class IArticle;

// One row, copied by value.
struct ArticleInfo {
  std::u16string id;
  std::u16string title;
  ListItemPicture picture;
  // 1 when the article's own update state is 6, else its status in the
  // update queue.
  std::int32_t status = 0;
  bool read = false;
  // The article and its binaries are done (combined status 6).
  bool complete = false;
  std::uint32_t ownState = 7;
};

class ArticleListViewBase : public RowListViewBase<ArticleInfo> {};

// Pop-up menu ids of an article row.
enum ArticlePopupId : plat::UINT {
  kArticleMenuFinishDownload = 5001,
  kArticleMenuCancelDownload = 5002,
  kArticleMenuMarkRead = 5003,
  kArticleMenuMarkUnread = 5004,
  kArticleMenuRedownload = 5006,
  kArticleMenuDelete = 5050,
};

class ArticlesView : public ArticleListViewBase,
                     public CDBEventListener,
                     private IThumbnailsListener,
                     private IUIFontsListener {
 public:
  // filter: the article filter whose rows are shown (null: the process's).
  explicit ArticlesView(CArticleFilter* filter = nullptr);
  ~ArticlesView() override;

  // The current row and its article; false when the current index is
  // outside the filter. Call under the channel set's lock to use the article.
  bool GetCurrent(int* index, IArticle** article);
  // The view state's current article in the filter, else the article
  // remembered for the current channel; never below 0.
  int FindCurrentIndex();
  // Makes the row the current article (view state and per-channel memory).
  void SelectRow(int index);
  // Makes the row current and opens it in the article view.
  void OpenRow(int index);
  // Marks the current article read (true) or unread (commands 2076, 2079).
  void SetCurrentRead(bool read);
  // Deletes the current article; the one at its place (or before it) becomes
  // current (command 2078).
  void DeleteCurrent();
  // "The channel has no articles" while the list is empty.
  std::u16string GetEmptyText();
  void ShowPopupMenu(int index, plat::POINT point);
  int GetProgress();

  // RefreshRow (index), RefreshAll and RefreshRows come from the list base.
  void SetUi(ListViewUi ui);
  void SetUpdateManager(CUpdateManager* manager) { updateManager_ = manager; }

  // The article id remembered for a channel, empty when none.
  std::u16string GetRememberedArticle(const std::u16string& channelName);

  bool DrawRow(int index, CBitmapBuffer& target, int state, const plat::RECT& rect);

  void OnDBEvent(CDBEvent* record) override;

 protected:
  int SourceCount() override;
  bool FillRow(int index, ArticleInfo& row) override;
  int RowCount() override;
  int InitialSelection() override { return FindCurrentIndex(); }
  int RowHeight(int row, int width) override;
  int PaintRow(int row, CBitmapBuffer& target, int state, const plat::RECT& rect) override;
  void OnSelectionChanged(int row) override { SelectRow(row); }
  void OnActivate(int row) override { OpenRow(row); }
  void OnContextGesture(int row, plat::POINT screenPoint) override { ShowPopupMenu(row, screenPoint); }
  int Progress() override { return GetProgress(); }
  std::u16string EmptyText() override { return GetEmptyText(); }
  // The article's status in the update queue (2 queued, 3 updating).
  virtual int QueueStatus(IArticle* article);

 private:
  void OnThumbnailsChanged(const std::u16string&) override { RefreshAll(); }
  void OnUIFontsChanged() override {}
  // Marks the article at index read or unread and refreshes its row.
  void SetReadAt(int index, bool read);
  void DeleteAt(int index);
  void RunPopupAction(plat::UINT id, const std::u16string& articleId);

  CUpdateManager* Updates();

  CArticleFilter* filter_;
  CUpdateManager* updateManager_ = nullptr;
  ListViewUi ui_;
  std::unordered_map<std::u16string, std::u16string> currentByChannel_;
  bool attachedFilter_ = false;
};
