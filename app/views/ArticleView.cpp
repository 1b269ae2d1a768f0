#include "app/views/ArticleView.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

#include "app/dialogs/HelpViewer.h"
#include "core/DebugLog.h"
#include "core/ImageLoadingJob.h"
#include "core/JobManager.h"
#include "core/Localizer.h"
#include "core/RegisteredMessages.h"
#include "database/ArticleFilter.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "database/ViewState.h"
#include "layout/OwnControls.h"
#include "layout/WaitCursor.h"
#include "platform/base/LocalMemory.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/controls/Clipboard.h"
#include "platform/controls/ShellExecute.h"
#include "platform/gdi/Gdi.h"
#include "platform/htmlview/HtmlView.h"
#include "platform/windows/Menus.h"
#include "update/jobs/UpdateManager.h"

namespace {

using plat::DWORD;
using plat::HWND;
using plat::LPARAM;
using plat::LRESULT;
using plat::UINT;
using plat::WPARAM;

constexpr UINT kReflected = 0x2000;
constexpr UINT kStringLinkToArticle = 212;
constexpr UINT kStringWaitForDownload = 213;
constexpr UINT kStringDownloadWhole = 214;
constexpr UINT kStringSelectAll = 209;
constexpr UINT kStringCopy = 210;
constexpr UINT kStringOpenImage = 211;
constexpr const char16_t* kKeyHookProp = u"OrvArticleKeyHook";
constexpr const char16_t* kHostProp = u"OrvArticleViewHost";
constexpr std::size_t kMaxLinkLength = 4096;

// The page template.
constexpr const char16_t* kHead = u"\t\t\t<html>\t\t\t<head>\t\t\t\t<title>%HEADER%</title>\t\t\t</head>\t\t\t<body>";
constexpr const char16_t* kTitleLine = u"<h4 align=center>%HEADER%</h4>\n";
constexpr const char16_t* kDateLineOpen = u"<div style=\"font-size:80%; text-align:right\">";
constexpr const char16_t* kDateLineClose = u"</div>";
constexpr const char16_t* kTail = u"%BODY%\t\t\t</body>\t\t\t</html>\t\t\t";
constexpr const char16_t* kDownloadLinkOpen =
    u"<br /><br />\t\t\t\t\t\t<a href=\"__manual_update__\"><font color=0033cc>";
constexpr const char16_t* kDownloadLinkClose = u"</font></a>";
constexpr const char16_t* kWaitNoteOpen = u"<br /><br />\t\t\t\t\t\t<font color=cc3300>";
constexpr const char16_t* kWaitNoteClose = u"</font>";
constexpr const char16_t* kSourceLinkOpen = u"<br /><hr />\t\t\t\t\t\t<a href=\"";
constexpr const char16_t* kSourceLinkMiddle = u"\">";
constexpr const char16_t* kSourceLinkClose = u"</a>";

constexpr const char16_t* kManualUpdateLink = u"__manual_update__";
constexpr const char16_t* kArticleLinkPrefix = u"article://";

}  // namespace

void QueueArticleUpdate(IArticle* article) { CUpdateManager::GetInstance()->UpdateArticle(article); }

namespace {

ArticleView::ArticleUpdater g_updater = &QueueArticleUpdate;
ArticleView::LinkRefusedSink g_refusedSink = nullptr;

// Replaces every marker of the template in one left-to-right pass: text that
// a replacement brings in is never searched again.
std::u16string ReplaceMarkers(const std::u16string& page,
                              const std::vector<std::pair<std::u16string, const std::u16string*>>& markers) {
  std::u16string out;
  out.reserve(page.size());
  std::size_t at = 0;
  while (at < page.size()) {
    const std::size_t percent = page.find(u'%', at);
    if (percent == std::u16string::npos) break;
    out.append(page, at, percent - at);
    bool replaced = false;
    for (const auto& [marker, value] : markers) {
      if (page.compare(percent, marker.size(), marker) == 0) {
        out += *value;
        at = percent + marker.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) {
      out += u'%';
      at = percent + 1;
    }
  }
  if (at < page.size()) out.append(page, at, std::u16string::npos);
  return out;
}

bool OpenWithShell(const std::u16string& file) {
  plat::SHELLEXECUTEINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = plat::SEE_MASK_FLAG_NO_UI;
  info.lpVerb = u"open";
  info.lpFile = file.c_str();
  info.nShow = plat::SW_SHOW;
  return plat::ShellExecuteEx(&info) != plat::FALSE;
}

plat::SCROLLINFO HorizontalScroll(HWND window) {
  plat::SCROLLINFO si{sizeof(plat::SCROLLINFO), plat::SIF_ALL, 0, 0, 0, 0, 0};
  if (!window || !plat::GetScrollInfo(window, plat::SB_HORZ, &si)) si = plat::SCROLLINFO{sizeof(plat::SCROLLINFO), 0, 0, 0, 0, 0, 0};
  return si;
}

}  // namespace

// ---------------------------------------------------------------------------
// Links and the page

ArticleLinkAction ClassifyArticleLink(const std::u16string& target, std::u16string* id) {
  if (target == kManualUpdateLink) return ArticleLinkAction::kManualUpdate;
  if (target.empty() || target.size() > kMaxLinkLength) return ArticleLinkAction::kRefused;
  // Nothing unprintable: a control character could hide another address
  // from whoever reads the link.
  for (char16_t c : target)
    if (c < 0x20 || c == 0x7F) return ArticleLinkAction::kRefused;
  if (plat::StartsWithNoCase(target, kArticleLinkPrefix)) {
    const std::u16string rest = target.substr(std::char_traits<char16_t>::length(kArticleLinkPrefix));
    if (rest.empty()) return ArticleLinkAction::kRefused;
    if (id) *id = rest;
    return ArticleLinkAction::kOpenArticle;
  }
  // Only web addresses and mail go out of the program.
  if (plat::StartsWithNoCase(target, u"http://") || plat::StartsWithNoCase(target, u"https://")) {
    const std::size_t hostStart = target.find(u"//") + 2;
    if (hostStart < target.size() && target[hostStart] != u'/') return ArticleLinkAction::kBrowser;
    return ArticleLinkAction::kRefused;
  }
  if (plat::StartsWithNoCase(target, u"mailto:") && target.size() > 7) return ArticleLinkAction::kBrowser;
  return ArticleLinkAction::kRefused;
}

std::u16string EscapeHtml(const std::u16string& text, bool quotes) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"':
        if (quotes) out += u"&quot;";
        else out += c;
        break;
      default: out += c; break;
    }
  }
  return out;
}

bool ArticleHtmlBuilder(IArticle* article, std::u16string& page, bool showLocation) {
  if (!article) return false;
  CSyncLock db(GetChannelSet(), u"ArticleHtmlBuilder");
  IChannel* channel = article->GetChannel();
  CStringToStringMap properties;
  if (!channel || !channel->GetArticleProperties(article, properties)) return false;

  const auto headerFlag = properties.find(u"ShowHeaderInHTML");
  const bool showTitle = headerFlag == properties.end() || plat::EqualsNoCase(headerFlag->second, u"1");
  const auto bodyValue = properties.find(u"body");
  std::u16string body = bodyValue == properties.end() ? std::u16string() : bodyValue->second;
  std::u16string date;
  article->GetDateText(date);

  std::u16string layout = kHead;
  if (showTitle) layout += kTitleLine;
  if (!date.empty()) layout += kDateLineOpen + EscapeHtml(date, false) + kDateLineClose;
  layout += kTail;

  const std::uint32_t status = article->GetUpdateStatus();
  const auto url = properties.find(u"url");
  if (article->GetManualUpdate() != 0) {
    body += kDownloadLinkOpen + EscapeHtml(LocalizeResourceString(kStringDownloadWhole), false) + kDownloadLinkClose;
  } else if (status == US_UPDATING || status == US_WAITING) {
    body += kWaitNoteOpen + EscapeHtml(LocalizeResourceString(kStringWaitForDownload), false) + kWaitNoteClose;
  } else if (url != properties.end() && showLocation) {
    body += kSourceLinkOpen + EscapeHtml(url->second, true) + kSourceLinkMiddle +
            EscapeHtml(LocalizeResourceString(kStringLinkToArticle), false) + kSourceLinkClose;
  }

  const std::u16string header = EscapeHtml(article->GetTitle(), false);
  page = ReplaceMarkers(layout, {{u"%HEADER%", &header}, {u"%BODY%", &body}});
  return true;
}

// ---------------------------------------------------------------------------
// The view

void ArticleView::SetArticleUpdaterForTesting(ArticleUpdater updater) {
  g_updater = updater ? updater : &QueueArticleUpdate;
}
void ArticleView::SetLinkRefusedSinkForTesting(LinkRefusedSink sink) { g_refusedSink = sink; }

ArticleView::ArticleView() {
  CSyncLock db(GetChannelSet(), u"ArticleView::ArticleView");
  Subscribe(GetArticleFilter());
}

ArticleView::~ArticleView() {
  {
    CSyncLock db(GetChannelSet(), u"ArticleView::~ArticleView");
    CSyncLock view(&lock_, u"ArticleView::~ArticleView");
    DetachLocked();
    Unsubscribe(GetArticleFilter());
  }
  if (CJobManager* jobs = CJobManager::GetInstance()) jobs->CancelJobs(this);
  RemoveKeyHook();
}

bool ArticleView::Create(plat::HWND parent) {
  owner_ = parent;
  if (!HtmlView::Create(parent)) return false;
  if (textSize_ != 2) plat::SendMessageW(GetWindow(), plat::DTM_TEXTSIZE, static_cast<WPARAM>(textSize_), 0);
  // The key hook: arrows at the page's edges, the action key, the context
  // menu of the inner window.
  HWND inner = GetInnerWindow();
  plat::SetPropW(inner, kKeyHookProp, reinterpret_cast<plat::HANDLE>(this));
  innerProc_ = reinterpret_cast<plat::WNDPROC>(
      plat::SetWindowLongW(inner, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(&ArticleView::KeyHookProc)));
  hooked_ = inner;
  return true;
}

void ArticleView::RemoveKeyHook() {
  if (!hooked_) return;
  if (plat::IsWindow(hooked_)) {
    plat::RemovePropW(hooked_, kKeyHookProp);
    // Only when nobody hooked the window after us.
    if (reinterpret_cast<plat::WNDPROC>(plat::GetWindowLongW(hooked_, plat::GWL_WNDPROC)) == &ArticleView::KeyHookProc)
      plat::SetWindowLongW(hooked_, plat::GWL_WNDPROC, reinterpret_cast<plat::LONG_PTR>(innerProc_));
  }
  hooked_ = nullptr;
}

void ArticleView::OnViewerDestroyed() { RemoveKeyHook(); }

CDBViewState* ArticleView::ViewState() { return viewState_ ? viewState_ : GetDBViewState(); }

void ArticleView::SetArticle(IArticle* article) {
  CSyncLock db(GetChannelSet(), u"ArticleView::SetArticle");
  CSyncLock view(&lock_, u"ArticleView::SetArticle");
  if (article == article_) return;
  DetachLocked();
  article_ = article;
  if (!article) return;
  if (IChannel* channel = article->GetChannel()) channel->Acquire(this);
  Subscribe(GetChannelSet());
  Subscribe(article);
  PostRebuild();
}

IArticle* ArticleView::GetArticle() {
  CSyncLock view(&lock_, u"ArticleView::GetArticle");
  return article_;
}

void ArticleView::DetachLocked() {
  if (!article_) return;
  Unsubscribe(GetChannelSet());
  Unsubscribe(article_);
  if (IChannel* channel = article_->GetChannel()) channel->Release(this, false);
  article_ = nullptr;
  // The page goes on the UI thread (a detach may come from a database event).
  PostRebuild();
}

void ArticleView::PostRebuild() {
  HWND window = GetWindow();
  if (!window || rebuildPosted_.exchange(true)) return;
  plat::PostMessageW(window, GetRegisteredMessages().currentArticleChanged, 0, 0);
}

void ArticleView::OnRebuild() {
  rebuildPosted_ = false;
  CSyncLock db(GetChannelSet(), u"ArticleView::OnRebuild");
  if (!article_) {
    if (!GetText().empty()) ShowText(std::u16string());
    return;
  }
  std::u16string page;
  if (!ArticleHtmlBuilder(article_, page, showLocation_)) return;  // the old page stays
  ShowText(page);  // shown once the viewer is free
  if (IChannel* channel = article_->GetChannel()) channel->SetArticleRead(article_, true);
}

void ArticleView::SetTextSize(int size) {
  textSize_ = std::clamp(size, 0, 4);
  if (GetWindow()) plat::SendMessageW(GetWindow(), plat::DTM_TEXTSIZE, static_cast<WPARAM>(textSize_), 0);
}

void ArticleView::SetShowLocation(bool show) {
  if (show == showLocation_) return;
  showLocation_ = show;
  CSyncLock db(GetChannelSet(), u"ArticleView::SetShowLocation");
  if (article_) PostRebuild();
}

void ArticleView::ApplyOptions() {
  SetTextSize(static_cast<int>(GetGlobalOptions().GetHTMLTextSize()));
  SetShowLocation(GetGlobalOptions().GetShowArticleLocation() != 0);
}

// ---------------------------------------------------------------------------
// Images

void ArticleView::OnBeforeSetText() {
  ++pageGeneration_;
  if (CJobManager* jobs = CJobManager::GetInstance()) jobs->CancelJobs(this);
  CSyncLock view(&lock_, u"ArticleView::OnBeforeSetText");
  shownImages_.clear();
  for (const auto& [address, cookies] : pendingImages_)
    for (DWORD cookie : cookies) plat::SendMessageW(GetWindow(), plat::DTM_IMAGEFAIL, 0, static_cast<LPARAM>(cookie));
  pendingImages_.clear();
}

void ArticleView::OnAfterSetText() {
  CSyncLock db(GetChannelSet(), u"ArticleView::OnAfterSetText");
  CSyncLock view(&lock_, u"ArticleView::OnAfterSetText");
  for (const auto& entry : pendingImages_) RequestImageLocked(entry.first);
}

void ArticleView::RequestImageLocked(const std::u16string& address) {
  if (!article_ || !GetWindow()) return;
  IBinarySet* binaries = article_->GetBinaries();
  std::u16string path;
  if (!binaries || !binaries->GetDownloadedFile(address, path) || path.empty()) return;
  CJobManager* jobs = CJobManager::GetInstance();
  if (!jobs) return;
  // One job per address; its bitmap serves every cookie waiting for it.
  auto* job = new CImageLoadingJob(this, path);
  job->SetKey(address);
  job->SetCookie(static_cast<std::int32_t>(pageGeneration_.load()));
  job->SetTarget(GetWindow(), GetRegisteredMessages().imageLoaded);
  jobs->AddJob(job, true);
}

void ArticleView::OnImageLoaded(WPARAM wParam) {
  // The job stays the job manager's: it is only read here, during its
  // synchronous message, and its bitmap is taken over.
  auto* job = reinterpret_cast<CImageLoadingJob*>(wParam);
  if (!job || !job->GetBitmap()) return;
  if (static_cast<unsigned>(job->GetCookie()) != pageGeneration_.load()) return;
  std::vector<DWORD> cookies;
  {
    CSyncLock view(&lock_, u"ArticleView::OnImageLoaded");
    const auto it = pendingImages_.find(job->GetKey());
    if (it == pendingImages_.end()) return;
    cookies = std::move(it->second);
    pendingImages_.erase(it);
  }
  plat::HBITMAP bitmap = job->TakeBitmap();
  plat::BITMAP info{};
  plat::GetObjectW(bitmap, sizeof(info), &info);
  const std::u16string file = job->GetPath();
  // The viewer owns a bitmap it accepted (once, however many cookies show
  // it); one that no cookie accepted stays ours to delete.
  bool accepted = false;
  for (DWORD cookie : cookies) {
    plat::INLINEIMAGEINFO image{cookie, info.bmHeight, info.bmWidth, bitmap, plat::TRUE};
    if (plat::SendMessageW(GetWindow(), plat::DTM_SETIMAGE, plat::kSetImageLayoutLater,
                           reinterpret_cast<LPARAM>(&image))) {
      accepted = true;
      CSyncLock view(&lock_, u"ArticleView::OnImageLoaded");
      shownImages_[cookie] = file;
    }
  }
  if (!accepted) plat::DeleteObject(bitmap);
  // The page is laid out again and painted once the pictures arriving
  // together are in (the next paint).
  if (HWND inner = GetInnerWindow()) plat::InvalidateRect(inner, nullptr, plat::FALSE);
}

std::size_t ArticleView::GetPendingImageCount() {
  CSyncLock view(&lock_, u"ArticleView::GetPendingImageCount");
  std::size_t n = 0;
  for (const auto& entry : pendingImages_) n += entry.second.size();
  return n;
}

std::u16string ArticleView::GetShownImageFile(DWORD cookie) {
  CSyncLock view(&lock_, u"ArticleView::GetShownImageFile");
  const auto it = shownImages_.find(cookie);
  return it == shownImages_.end() ? std::u16string() : it->second;
}

void ArticleView::OnDBEvent(CDBEvent* record) {
  if (record) {
    CSyncLock db(GetChannelSet(), u"ArticleView::OnDBEvent");
    CSyncLock view(&lock_, u"ArticleView::OnDBEvent");
    if (article_) {
      switch (record->type) {
        case DBE_BINARY_STATE_CHANGED:
          if (record->article == article_ && record->binary && GetBusy() == 0) {
            const std::u16string& url = record->binary->GetUrl();
            if (pendingImages_.count(url)) RequestImageLocked(url);
          }
          break;
        case DBE_ARTICLE_TITLE_CHANGED:
        case DBE_ARTICLE_RESERVED:
        case DBE_ARTICLE_UPDATE_ENDED:
        case DBE_ARTICLE_MANUAL_UPDATE_CHANGED:
          if (record->article == article_) PostRebuild();
          break;
        case DBE_CHANNEL_REMOVED:
          if (record->channel && record->channel == article_->GetChannel()) DetachLocked();
          break;
        default:
          break;
      }
    }
  }
  CDBEventListener::OnDBEvent(record);
}

// ---------------------------------------------------------------------------
// Links, the context menu, the clipboard

void ArticleView::OnLink(const std::u16string& target) {
  CWaitCursor wait;
  CSyncLock db(GetChannelSet(), u"ArticleView::OnLink");
  if (!article_) return;
  std::u16string id;
  switch (ClassifyArticleLink(target, &id)) {
    case ArticleLinkAction::kManualUpdate:
      g_updater(article_);
      break;
    case ArticleLinkAction::kOpenArticle:
      // Only an article the list holds can be shown: a link to any other
      // leaves this page as it is.
      if (GetArticleFilter()->FindById(id))
        ViewState()->OpenArticle(id);
      else
        CDebugLog::GetInstance().WriteLine(u"** ArticleView: no article for link: " + target.substr(0, 256));
      break;
    case ArticleLinkAction::kBrowser:
      OpenWithShell(target);
      break;
    case ArticleLinkAction::kRefused:
      CDebugLog::GetInstance().WriteLine(u"** ArticleView: link refused: " + target.substr(0, 256));
      if (g_refusedSink) g_refusedSink(target);
      break;
  }
}

void ArticleView::SelectAll() {
  if (GetWindow()) plat::SendMessageW(GetWindow(), plat::DTM_SELECTALL, 0, 0);
}

namespace {

// Another program (a clipboard viewer, a paste in progress) may hold the
// clipboard for a moment: wait for it briefly instead of dropping the copy.
bool OpenClipboardWhenFree(plat::HWND owner) {
  constexpr int kTries = 100;  // 10 ms apart: one second in all
  for (int i = 0; i < kTries; ++i) {
    if (plat::OpenClipboard(owner)) return true;
    plat::Sleep(10);
  }
  return false;
}

}  // namespace

bool ArticleView::CopySelection() {
  HWND window = GetWindow();
  if (!window) return false;
  std::u16string text;
  plat::IStream* stream = nullptr;
  if (plat::SendMessageW(window, plat::DTM_COPYSELECTIONTONEWISTREAM, 0, reinterpret_cast<LPARAM>(&stream)) &&
      stream) {
    plat::STATSTG stat{};
    if (stream->Stat(&stat, 0) == plat::S_OK && stat.cbSize < 0xFFFFFFFFull) {
      const auto size = static_cast<plat::ULONG>(stat.cbSize);
      std::vector<char> buffer(static_cast<std::size_t>(size) + 2, 0);
      plat::ULONG read = 0;
      stream->Read(buffer.data(), size, &read);
      if (read == size) text.assign(reinterpret_cast<const char16_t*>(buffer.data()), size / sizeof(char16_t));
    }
    stream->Release();
  }
  if (!OpenClipboardWhenFree(owner_)) return false;
  bool put = false;
  plat::EmptyClipboard();
  const std::size_t bytes = (text.size() + 1) * sizeof(char16_t);
  if (plat::HLOCAL block = plat::LocalAlloc(plat::LMEM_MOVEABLE | plat::LMEM_ZEROINIT, bytes)) {
    if (void* p = plat::LocalLock(block)) {
      std::memcpy(p, text.c_str(), bytes);
      plat::LocalUnlock(block);
      put = plat::SetClipboardData(plat::CF_UNICODETEXT, block) != nullptr;
    }
    if (!put) plat::LocalFree(block);
  }
  plat::CloseClipboard();
  return put;
}

bool ArticleView::OpenImage(DWORD cookie) {
  const std::u16string file = GetShownImageFile(cookie);
  return !file.empty() && OpenWithShell(file);
}

plat::HMENU ArticleView::BuildContextMenu(bool overImage) {
  plat::HMENU menu = plat::CreatePopupMenu();
  if (!menu) return nullptr;
  const bool selection = GetBusy() == 0 && GetWindow() && plat::SendMessageW(GetWindow(), plat::DTM_ISSELECTION, 0, 0);
  plat::AppendMenuW(menu, plat::MF_STRING, kArticleSelectAll, LocalizeResourceString(kStringSelectAll).c_str());
  plat::AppendMenuW(menu, plat::MF_STRING | (selection ? 0 : plat::MF_GRAYED), kArticleCopy,
                    LocalizeResourceString(kStringCopy).c_str());
  if (overImage)
    plat::AppendMenuW(menu, plat::MF_STRING, kArticleOpenImage, LocalizeResourceString(kStringOpenImage).c_str());
  return menu;
}

void ArticleView::ShowContextMenu(plat::POINT screen, DWORD imageCookie, bool overImage) {
  const bool image = overImage && !GetShownImageFile(imageCookie).empty();
  plat::HMENU menu = BuildContextMenu(image);
  if (!menu) return;
  const int command = plat::TrackPopupMenuEx(menu, plat::TPM_RETURNCMD | plat::TPM_NONOTIFY, screen.x, screen.y,
                                             GetWindow(), nullptr);
  plat::DestroyMenu(menu);
  switch (command) {
    case kArticleSelectAll: SelectAll(); break;
    case kArticleCopy: CopySelection(); break;
    case kArticleOpenImage: OpenImage(imageCookie); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Previous and next

void ArticleView::ShowAdjacentArticle(bool previous) {
  std::u16string id;
  {
    CSyncLock db(GetChannelSet(), u"ArticleView::ShowAdjacentArticle");
    CSyncLock view(&lock_, u"ArticleView::ShowAdjacentArticle");
    if (GetBusy() != 0 || !article_) return;
    CArticleFilter* filter = GetArticleFilter();
    const int index = filter->IndexOf(article_);
    if (index < 0) return;
    const int target = previous ? index - 1 : index + 1;
    if (target < 0 || target >= filter->GetCount()) return;
    id = filter->GetAt(target)->GetId();
  }
  ViewState()->OpenArticle(id);
}

void ArticleView::OnHorizontalEdge(bool towardPrevious, const plat::SCROLLINFO& before) {
  const plat::SCROLLINFO now = HorizontalScroll(hooked_);
  if (now.nPos != before.nPos) return;  // the page moved: not at its edge
  const bool atEdge = towardPrevious ? before.nPos <= before.nMin
                                     : before.nPos + static_cast<int>(before.nPage) >= before.nMax;
  if (atEdge && GetWindow())
    plat::PostMessageW(GetWindow(), GetRegisteredMessages().prevNextArticle, towardPrevious ? 1 : 0, 0);
}

// ---------------------------------------------------------------------------
// Messages

void ArticleView::OnViewerNotify(const plat::NMHDR* header, LRESULT& result) {
  result = 1;
  switch (header->code) {
    case plat::NM_TITLE:
      EnterBusy();
      parseGeneration_ = pageGeneration_.load();
      break;
    case plat::NM_DOCUMENTCOMPLETE:
      LeaveBusy();
      break;
    case plat::NM_INLINE_IMAGE: {
      const auto* nm = reinterpret_cast<const plat::NM_HTMLVIEWW*>(header);
      CSyncLock view(&lock_, u"ArticleView::OnViewerNotify");
      if (parseGeneration_ == pageGeneration_ && article_ && nm->szTarget)
        pendingImages_[nm->szTarget].push_back(nm->dwCookie);
      break;
    }
    case plat::NM_HOTSPOT: {
      const auto* nm = reinterpret_cast<const plat::NM_HTMLVIEWW*>(header);
      if (nm->szTarget) OnLink(nm->szTarget);
      break;
    }
    case plat::NM_CONTEXTMENU: {
      const auto* nm = reinterpret_cast<const plat::NM_HTMLCONTEXTW*>(header);
      ShowContextMenu(nm->pt, nm->dwImageCookie, (nm->uTypeFlags & plat::HTMLCONTEXT_IMAGE) != 0);
      break;
    }
    default:
      result = 0;
      break;
  }
}

bool ArticleView::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  const OrvRegisteredMessages& messages = GetRegisteredMessages();
  if (msg == plat::WM_NOTIFY || msg == kReflected + plat::WM_NOTIFY) {
    const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
    if (!header) return false;
    OnViewerNotify(header, result);
    if (result == 1) return true;
    return HtmlView::ProcessWindowMessage(hwnd, msg, wParam, lParam, result);
  }
  if (msg == plat::WM_CONTEXTMENU) {
    if (wParam == kActionKeyContextMenu)
      ShowContextMenu(plat::POINT{static_cast<plat::LONG>(static_cast<std::int16_t>(lParam & 0xFFFF)),
                                  static_cast<plat::LONG>(static_cast<std::int16_t>((lParam >> 16) & 0xFFFF))},
                      0, false);
    result = 0;
    return true;
  }
  if (msg == plat::WM_HELP || msg == kArticleHelpMessage) {
    ShowHelpTopic(kArticleHelpTopic);
    result = plat::TRUE;
    return true;
  }
  if (msg != 0 && msg == messages.currentArticleChanged) {
    OnRebuild();
    result = 0;
    return true;
  }
  if (msg != 0 && msg == messages.imageLoaded) {
    OnImageLoaded(wParam);
    result = 0;
    return true;
  }
  if (msg != 0 && msg == messages.prevNextArticle) {
    ShowAdjacentArticle(wParam != 0);
    result = 0;
    return true;
  }
  if (msg == plat::WM_DESTROY) RemoveKeyHook();  // and on to the control
  return HtmlView::ProcessWindowMessage(hwnd, msg, wParam, lParam, result);
}

LRESULT ArticleView::KeyHookProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<ArticleView*>(plat::GetPropW(hwnd, kKeyHookProp));
  if (!self || self->hooked_ != hwnd) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  return self->OnInnerMessage(hwnd, msg, wParam, lParam);
}

LRESULT ArticleView::OnInnerMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  const plat::WNDPROC proc = innerProc_;
  auto passOn = [&] {
    return proc ? plat::CallWindowProcW(proc, hwnd, msg, wParam, lParam) : plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  };
  switch (msg) {
    case plat::WM_GETDLGCODE:
      return 0x85;  // every key, the arrows and characters
    case plat::WM_CHAR:
      return 4;
    case plat::WM_KEYDOWN:
      if (wParam == plat::VK_LEFT || wParam == plat::VK_RIGHT) {
        keyScroll_ = HorizontalScroll(hwnd);
        keyDown_ = static_cast<UINT>(wParam);
      } else if (wParam == kActionKey && GetWindow()) {
        plat::RECT client{};
        plat::GetClientRect(hwnd, &client);
        plat::POINT centre{(client.right - client.left) / 2, (client.bottom - client.top) / 2};
        plat::ClientToScreen(hwnd, &centre);
        plat::PostMessageW(GetWindow(), plat::WM_CONTEXTMENU, kActionKeyContextMenu,
                           plat::MAKELPARAM(static_cast<plat::WORD>(centre.x), static_cast<plat::WORD>(centre.y)));
        return 0;
      }
      return passOn();
    case plat::WM_KEYUP:
      if ((wParam == plat::VK_LEFT || wParam == plat::VK_RIGHT) && keyDown_ == wParam) {
        keyDown_ = 0;
        const plat::SCROLLINFO before = keyScroll_;
        const LRESULT answer = passOn();
        OnHorizontalEdge(wParam == plat::VK_LEFT, before);
        return answer;
      }
      return passOn();
    case plat::WM_NOTIFY: {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      if (header && header->hwndFrom == hwnd && header->code == plat::NM_CONTEXTMENU) {
        plat::SendMessageW(plat::GetParent(hwnd), plat::WM_NOTIFY, wParam, lParam);
        return 1;
      }
      return passOn();
    }
    case plat::WM_NCDESTROY: {
      RemoveKeyHook();
      return proc ? plat::CallWindowProcW(proc, hwnd, msg, wParam, lParam)
                  : plat::DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    default:
      return passOn();
  }
}

// ---------------------------------------------------------------------------
// The host window

const char16_t* const ArticleViewHost::kClassName = u"OrvArticleViewHost";

ArticleViewHost::~ArticleViewHost() {
  if (window_ && plat::IsWindow(window_)) plat::DestroyWindow(window_);
}

HWND ArticleViewHost::Create(HWND parent, const plat::RECT& rect, DWORD removeStyle) {
  if (window_) return nullptr;
  plat::WNDCLASSW wc{};
  if (!plat::GetClassInfoW(nullptr, kClassName, &wc)) {
    wc.lpfnWndProc = &ArticleViewHost::Proc;
    wc.lpszClassName = kClassName;
    wc.hbrBackground = static_cast<plat::HBRUSH>(plat::GetStockObject(plat::WHITE_BRUSH));
    plat::RegisterClassW(&wc);
  }
  HWND window = plat::CreateWindowExW(0, kClassName, u"", kDefaultChildStyle & ~removeStyle, rect.left, rect.top,
                                      rect.right - rect.left, rect.bottom - rect.top, parent, nullptr, nullptr, this);
  return window;
}

bool ArticleViewHost::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  HWND viewer = view_.GetWindow();
  switch (msg) {
    case plat::WM_CREATE:
      result = view_.Create(hwnd) ? 0 : -1;
      if (result == 0) {
        plat::RECT client{};
        plat::GetClientRect(hwnd, &client);
        plat::MoveWindow(view_.GetWindow(), 0, 0, client.right, client.bottom, plat::TRUE);
      }
      return true;
    case plat::WM_SIZE:
      if (viewer) {
        plat::RECT client{};
        plat::GetClientRect(hwnd, &client);
        plat::MoveWindow(viewer, 0, 0, client.right, client.bottom, plat::TRUE);
      }
      result = 0;
      return true;
    case plat::WM_SETFOCUS:
      if (viewer) plat::SetFocus(viewer);
      result = 0;
      return true;
    case plat::WM_HELP:
    case kArticleHelpMessage:  // the main window's help request for its visible view
      result = viewer ? plat::SendMessageW(viewer, plat::WM_HELP, wParam, lParam) : 0;
      return true;
    case plat::WM_NOTIFY: {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      if (!header || !header->hwndFrom) return false;
      switch (header->code) {
        case plat::NM_HOTSPOT:
        case plat::NM_INLINE_IMAGE:
        case plat::NM_TITLE:
        case plat::NM_DOCUMENTCOMPLETE: {
          // The page's notifications name the viewer's inner window; its
          // parent is the viewer. One that names a child of this window
          // directly is reflected to it instead, never sent back here.
          HWND target = plat::GetParent(header->hwndFrom);
          if (target && target != hwnd) plat::SendMessageW(target, plat::WM_NOTIFY, wParam, lParam);
          else plat::SendMessageW(header->hwndFrom, kReflected + plat::WM_NOTIFY, wParam, lParam);
          result = 0;
          return true;
        }
        default:
          result = plat::SendMessageW(header->hwndFrom, kReflected + plat::WM_NOTIFY, wParam, lParam);
          return true;
      }
    }
    case plat::WM_COMMAND:
      if (lParam) {
        result = plat::SendMessageW(reinterpret_cast<HWND>(lParam), kReflected + plat::WM_COMMAND, wParam, lParam);
        return true;
      }
      return false;
    default:
      return false;
  }
}

LRESULT ArticleViewHost::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == plat::WM_NCCREATE) {
    const auto* cs = reinterpret_cast<const plat::CREATESTRUCTW*>(lParam);
    auto* self = static_cast<ArticleViewHost*>(cs->lpCreateParams);
    self->window_ = hwnd;
    plat::SetPropW(hwnd, kHostProp, reinterpret_cast<plat::HANDLE>(self));
    return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  auto* self = reinterpret_cast<ArticleViewHost*>(plat::GetPropW(hwnd, kHostProp));
  if (!self) return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  LRESULT result = 0;
  if (msg == plat::WM_NCDESTROY) {
    plat::RemovePropW(hwnd, kHostProp);
    self->window_ = nullptr;
    return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  if (self->ProcessWindowMessage(hwnd, msg, wParam, lParam, result)) return result;
  return plat::DefWindowProcW(hwnd, msg, wParam, lParam);
}
