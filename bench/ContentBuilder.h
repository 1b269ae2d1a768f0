// A content folder of generated channels for the benchmarks: the first
// channel is filled article by article, the others get copies of its data
// files (every change of read states is saved at once, so filling tens of
// thousands of articles one by one would take minutes).
#pragma once

#include <string>

#include "core/FileUtils.h"
#include "core/Md5.h"
#include "database/Channel.h"
#include "database/ChannelSet.h"
#include "platform/base/Text.h"

namespace bench {

inline std::u16string Num(int n) { return plat::Utf8ToUtf16(std::to_string(n)); }

// Builds the channels in the content folder of this process's device: 0 on
// success, else the step that failed.
inline int BuildContentFolder(int channels, int articles) {
  CChannelSet set;
  if (!set.Open()) return 2;
  const std::u16string body(600, u'x');
  IChannel* first = nullptr;
  for (int c = 0; c < channels; ++c) {
    IChannel* channel = set.Add(u"Channel number " + Num(c));
    if (channel == nullptr) return 3;
    channel->SetProperties({{kPropUrl, u"http://feeds.example.com/" + Num(c) + u".xml"},
                            {kPropType, kChannelTypeRss},
                            {kPropThumbnail, u"http://images.example.com/logo.png"}});
    channel->GetOptions()->SetUseDefaultLimits(0);
    channel->GetOptions()->SetArticlesAgeLimitEnabled(0);
    channel->GetOptions()->SetArticlesCountLimitEnabled(0);
    channel->GetOptions()->OnChanged();
    if (first != nullptr) {
      for (const char16_t* file : {u"headers.bin", u"unread.bin", u"data.bin", u"dataidx.bin"}) {
        if (!CopyFileReplacing(CombinePath(first->GetDataFolder(), file), CombinePath(channel->GetDataFolder(), file))) {
          return 5;
        }
      }
      continue;
    }
    first = channel;
    channel->Acquire(&set);
    channel->SetUpdateState(US_UPDATING);
    for (int a = 0; a < articles; ++a) {
      const std::u16string n = Num(c) + u"." + Num(a);
      IArticle* article = channel->CreateArticle(
          GetMd5Hex(u"article " + n), US_UP_TO_DATE,
          plat::ULLToFileTime(plat::CurrentClock().NowUtcFileTime() - static_cast<std::uint64_t>(a) * 600000000ull));
      if (article == nullptr) return 4;
      article->SetTitle(u"A headline of moderate length, number " + n);
      article->SetImageUrl(u"http://images.example.com/pictures/" + n + u".jpg");
      channel->SetArticleProperties(article, {{u"link", u"http://news.example.com/" + n}, {u"text", body}});
    }
    channel->SetUpdateState(US_UP_TO_DATE);
    channel->Release(&set, false);
  }
  return 0;
}

}  // namespace bench
