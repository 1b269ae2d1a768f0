// Atomic operations on 32-bit counters and pointers.
#pragma once

#include <atomic>

#include "platform/base/Types.h"

namespace plat {

namespace detail {
inline std::atomic_ref<LONG> AtomicLong(LONG volatile* p) { return std::atomic_ref<LONG>(*const_cast<LONG*>(p)); }
}  // namespace detail

// Returns the new value.
inline LONG InterlockedIncrement(LONG volatile* p) { return detail::AtomicLong(p).fetch_add(1) + 1; }
inline LONG InterlockedDecrement(LONG volatile* p) { return detail::AtomicLong(p).fetch_sub(1) - 1; }
// Returns the previous value.
inline LONG InterlockedExchange(LONG volatile* p, LONG value) { return detail::AtomicLong(p).exchange(value); }
inline LONG InterlockedExchangeAdd(LONG volatile* p, LONG value) { return detail::AtomicLong(p).fetch_add(value); }
// Stores exchange when *p equals comparand; returns the previous value either way.
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
  detail::AtomicLong(p).compare_exchange_strong(comparand, exchange);
  return comparand;
}

inline void* InterlockedExchangePointer(void* volatile* p, void* value) {
  return std::atomic_ref<void*>(*const_cast<void**>(p)).exchange(value);
}
inline void* InterlockedCompareExchangePointer(void* volatile* p, void* exchange, void* comparand) {
  std::atomic_ref<void*>(*const_cast<void**>(p)).compare_exchange_strong(comparand, exchange);
  return comparand;
}

}  // namespace plat
