// A set of listeners guarded by its own critical section, shared by the
// services that tell screens about changes (fonts, thumbnails, filters).
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "platform/base/Sync.h"

// A set of listeners guarded by its own critical section; notifications call
// each listener under it.
template <typename Listener>
class CWithListeners {
 public:
  CWithListeners() { plat::InitializeCriticalSection(&section_); }
  virtual ~CWithListeners() { plat::DeleteCriticalSection(&section_); }
  CWithListeners(const CWithListeners&) = delete;
  CWithListeners& operator=(const CWithListeners&) = delete;

  // False when already registered.
  bool AddListener(Listener* listener) {
    Guard g(&section_);
    if (!listener) return false;
    for (Listener* l : listeners_)
      if (l == listener) return false;
    listeners_.push_back(listener);
    return true;
  }
  bool RemoveListener(Listener* listener) {
    Guard g(&section_);
    for (auto it = listeners_.begin(); it != listeners_.end(); ++it) {
      if (*it == listener) {
        listeners_.erase(it);
        return true;
      }
    }
    return false;
  }
  std::size_t ListenerCount() const {
    Guard g(&section_);
    return listeners_.size();
  }
  // Calls notify for each listener, in the order they were added.
  void ForEachListener(const std::function<void(Listener*)>& notify) {
    Guard g(&section_);
    std::vector<Listener*> copy = listeners_;
    for (Listener* l : copy) notify(l);
  }

 private:
  struct Guard {
    explicit Guard(plat::CRITICAL_SECTION* s) : s_(s) { plat::EnterCriticalSection(s_); }
    ~Guard() { plat::LeaveCriticalSection(s_); }
    plat::CRITICAL_SECTION* s_;
  };
  mutable plat::CRITICAL_SECTION section_;
  std::vector<Listener*> listeners_;
};
