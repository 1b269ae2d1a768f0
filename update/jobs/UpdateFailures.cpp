#include "update/jobs/UpdateFailures.h"

#include <map>
#include <mutex>

#include "platform/base/Text.h"

namespace {

struct Failures {
  std::mutex lock;
  // Channel names compare without case, as the channel set's do.
  std::map<std::u16string, std::u16string> byName;
};

Failures& All() {
  static auto* failures = new Failures;
  return *failures;
}

std::u16string Key(const std::u16string& name) { return plat::ToUpper(name); }

}  // namespace

void RecordUpdateFailure(const std::u16string& channelName, const std::u16string& reason) {
  Failures& f = All();
  std::lock_guard<std::mutex> g(f.lock);
  f.byName[Key(channelName)] = reason;
}

std::u16string TakeUpdateFailure(const std::u16string& channelName) {
  Failures& f = All();
  std::lock_guard<std::mutex> g(f.lock);
  auto it = f.byName.find(Key(channelName));
  if (it == f.byName.end()) return {};
  std::u16string reason = std::move(it->second);
  f.byName.erase(it);
  return reason;
}

void ForgetUpdateFailure(const std::u16string& channelName) {
  Failures& f = All();
  std::lock_guard<std::mutex> g(f.lock);
  f.byName.erase(Key(channelName));
}
