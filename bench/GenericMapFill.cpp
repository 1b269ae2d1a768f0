// Fills a numeric CGenericMap up to its largest table (2^23 entries in 2^24
// slots) and prints insertion and lookup rates, and whether the entry past
// the limit is refused.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "core/GenericMap.h"

namespace {
std::uint32_t Hash(const std::uint32_t& k) { return k; }
int Equal(const std::uint32_t& a, const std::uint32_t& b) { return a == b; }
double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
}  // namespace

int main() {
  CGenericMap<std::uint32_t, std::uint32_t> map(&Hash, &Equal);
  const std::uint32_t limit = 1u << 23;
  auto start = std::chrono::steady_clock::now();
  for (std::uint32_t k = 0; k < limit; ++k) {
    if (!map.SetAt(k, k)) {
      std::printf("insertion %u failed\n", k);
      return 1;
    }
  }
  const double fill = Seconds(start);
  start = std::chrono::steady_clock::now();
  std::uint64_t sum = 0;
  std::uint32_t value = 0;
  for (std::uint32_t k = 0; k < limit; ++k) {
    if (map.Lookup(k, value)) sum += value;
  }
  const double look = Seconds(start);
  const bool refused = map.SetAt(limit, 0) == 0;
  std::printf("entries %u, slots %u\n", map.GetCount(), map.GetSlotCount());
  std::printf("fill (growing from 32 slots): %.3f s, %.1f ns/insert\n", fill, fill * 1e9 / limit);
  std::printf("lookups: %.3f s, %.1f ns/lookup (checksum %llu)\n", look, look * 1e9 / limit,
              static_cast<unsigned long long>(sum));
  std::printf("entry past the limit refused: %s\n", refused ? "yes" : "NO");
  return refused ? 0 : 1;
}
