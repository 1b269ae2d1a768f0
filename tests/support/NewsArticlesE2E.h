// What the whole-program tests of the article page share: the channel "News"
// made on the device with articles an hour apart (newest first), a picture
// stored as an article's downloaded binary and the clipboard's text.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "core/RegisteredMessages.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "database/ViewState.h"
#include "platform/base/LocalMemory.h"
#include "platform/controls/Clipboard.h"
#include "platform/windows/Windows.h"
#include "tests/support/MainProgramE2E.h"

namespace orvtest {

// The id of the article made for a name.
inline std::u16string NewsArticleId(const std::u16string& name) { return GetMd5Hex(name); }

// Stores bytes as the article's downloaded binary for the address; false
// when it cannot be written.
inline bool StoreArticlePicture(IArticle* article, const std::u16string& address, const std::string& bytes) {
  article->GetBinaries()->AddUrl(address);
  IBinary* binary = article->GetBinaries()->Lookup(address);
  if (!binary) return false;
  std::u16string file;
  binary->GetFileName(file, true);
  if (!CreateFolderTree(file.substr(0, file.rfind(u'\\')))) return false;
  plat::HANDLE h = plat::CreateFileW(file.c_str(), plat::GENERIC_WRITE, 0, nullptr, plat::CREATE_ALWAYS,
                                     plat::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == plat::INVALID_HANDLE_VALUE) return false;
  plat::DWORD written = 0;
  plat::WriteFile(h, bytes.data(), static_cast<plat::DWORD>(bytes.size()), &written, nullptr);
  plat::CloseHandle(h);
  binary->SetUpdateState(US_UP_TO_DATE);
  return written == bytes.size();
}

// Makes the channel "News" with one article per name, titled "Story <name>",
// whose body is body(index, article) (which may store pictures); the view
// state then shows its article list. False when something cannot be made.
inline bool MakeNewsArticles(const std::vector<std::u16string>& names,
                             const std::function<std::u16string(int, IArticle*)>& body) {
  CChannelSet set;
  if (!set.Open()) return false;
  IChannel* channel = set.Add(u"News");
  if (!channel) return false;
  int user = 0;
  channel->Acquire(&user);
  const plat::ULONGLONG now = plat::CurrentClock().NowUtcFileTime();
  bool ok = true;
  for (std::size_t i = 0; i < names.size() && ok; ++i) {
    IArticle* a = channel->CreateArticle(NewsArticleId(names[i]), US_UP_TO_DATE,
                                         plat::ULLToFileTime(now - static_cast<plat::ULONGLONG>(i + 1) * 36000000000ull));
    ok = a != nullptr;
    if (!ok) break;
    a->SetTitle(u"Story " + names[i]);
    const std::u16string text = body(static_cast<int>(i), a);
    ok = !text.empty() && channel->SetArticleProperties(a, {{u"body", text}, {u"ShowHeaderInHTML", u"1"}});
  }
  channel->Release(&user, true);
  CDBViewState state(&set);
  state.SetCurrentChannelName(u"News");
  state.SetCurrentView(DBV_ARTICLE_LIST);
  return ok;
}

// The clipboard's text (empty when none).
inline std::u16string ClipboardText() {
  std::u16string text;
  if (!plat::OpenClipboard(nullptr)) return text;
  if (plat::HLOCAL block = plat::GetClipboardData(plat::CF_UNICODETEXT)) {
    if (const auto* p = static_cast<const char16_t*>(plat::LocalLock(block))) text = p;
    plat::LocalUnlock(block);
  }
  plat::CloseClipboard();
  return text;
}

}  // namespace orvtest
