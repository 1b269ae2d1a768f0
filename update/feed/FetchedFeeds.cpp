#include "update/feed/FetchedFeeds.h"

#include <mutex>

#include "platform/base/Time.h"

namespace FetchedFeeds {
namespace {

struct Kept {
  std::mutex lock;
  std::u16string address;
  std::unique_ptr<Tidy::Document> document;
  plat::DWORD tick = 0;
};

Kept& Store() {
  static auto* kept = new Kept;
  return *kept;
}

}  // namespace

void Keep(const std::u16string& address, std::unique_ptr<Tidy::Document> document) {
  Kept& kept = Store();
  std::unique_ptr<Tidy::Document> old;
  std::lock_guard<std::mutex> g(kept.lock);
  old = std::move(kept.document);
  kept.address = document ? address : std::u16string();
  kept.document = std::move(document);
  kept.tick = plat::GetTickCount();
}

std::unique_ptr<Tidy::Document> Take(const std::u16string& address) {
  Kept& kept = Store();
  std::lock_guard<std::mutex> g(kept.lock);
  if (!kept.document || address.empty() || kept.address != address) return nullptr;
  std::unique_ptr<Tidy::Document> document = std::move(kept.document);
  kept.address.clear();
  if (plat::GetTickCount() - kept.tick >= kFreshMs) return nullptr;
  return document;
}

bool Holds(const std::u16string& address) {
  Kept& kept = Store();
  std::lock_guard<std::mutex> g(kept.lock);
  return kept.document && !address.empty() && kept.address == address &&
         plat::GetTickCount() - kept.tick < kFreshMs;
}

void Clear() { Keep(u"", nullptr); }

}  // namespace FetchedFeeds
