// Picks an image for each article whose download has finished and asks the
// thumbnails manager to prepare its thumbnails: the article's own image when
// it was downloaded, else its largest downloaded binary above 700 bytes.
#pragma once

#include <string>

#include "database/DBEventListener.h"

class CChannelSet;
class CThumbnailsManager;
class IArticle;

// Binaries of this many bytes or fewer are never chosen as an article's image.
constexpr unsigned kMinImageBytes = 700;

class CChannelImageListener : public CDBEventListener {
 public:
  // The process's listener on the process's channel set, made on first use.
  static CChannelImageListener* GetInstance();

  // Subscribes to set (under its lock); thumbnails go to manager.
  CChannelImageListener(CChannelSet* set, CThumbnailsManager* manager);
  // Unsubscribes under the set's lock.
  ~CChannelImageListener() override;

  void OnDBEvent(CDBEvent* record) override;

  // The image URL and downloaded file of a finished article; false when it
  // has none. Does not change the article.
  static bool ChooseImage(IArticle* article, std::u16string& url, std::u16string& file);

 private:
  CChannelSet* set_;
  CThumbnailsManager* manager_;
};

// The process's listener (CChannelImageListener::GetInstance), made on first call.
CChannelImageListener* GetChannelImageListener();
