// Counts live objects of a kind in a process-wide counter.
#pragma once
#include <atomic>

extern std::atomic<long> g_nCountBinaries;
extern std::atomic<long> g_nCountBinarySets;

template <std::atomic<long>& Counter>
class CAccountedObject {
 public:
  CAccountedObject() { Counter.fetch_add(1); }
  CAccountedObject(const CAccountedObject&) { Counter.fetch_add(1); }
  ~CAccountedObject() { Counter.fetch_sub(1); }
  CAccountedObject& operator=(const CAccountedObject&) = default;
};
