// Open-addressing hash map of raw keys and values, with the hash and equality
// functions held as function pointers; CStringPtrMap fixes them for strings.
//
// Keys and values are stored as given (pointers or numbers): the map never
// copies, compares for ownership or frees them, so their owner keeps them alive
// as long as the map. There is no removal of single entries: an owner that
// reloads calls Clear and inserts again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace orvmap {

// Slots are kept in groups of 32 with one occupancy word per group, so that a
// probe reads the bits of 32 neighbouring slots from one word beside them.
constexpr std::uint32_t kGroupSlots = 32;
// The largest table has 2^24 slots; a map holds at most 2^23 entries.
constexpr std::uint32_t kMaxExponent = 24;
constexpr std::uint32_t kDefaultInitialExponent = 5;

// Top n bits of hash * 0x9E3779B9 (32-bit product). n is 1..24.
inline std::uint32_t SlotOfHash(std::uint32_t hash, std::uint32_t n) {
  return static_cast<std::uint32_t>(hash * 0x9E3779B9u) >> (32 - n);
}

}  // namespace orvmap

// MaxExponent is the largest table's exponent; other values serve only to
// reach a full largest table quickly in tests.
template <class K, class V, std::uint32_t MaxExponent = orvmap::kMaxExponent>
class CGenericMap {
  static_assert(MaxExponent >= 1 && MaxExponent <= 31);

 public:
  using HashFunction = std::uint32_t (*)(const K& key);
  using EqualFunction = int (*)(const K& a, const K& b);

  CGenericMap(HashFunction hash = nullptr, EqualFunction equal = nullptr) : hash_(hash), equal_(equal) {}
  virtual ~CGenericMap() { Clear(); }

  CGenericMap(const CGenericMap&) = delete;
  CGenericMap& operator=(const CGenericMap&) = delete;

  // Exponent of the first table (2^n slots); takes effect at the first insertion.
  void SetInitialExponent(std::uint32_t n) { initialExponent_ = n; }
  std::uint32_t GetInitialExponent() const { return initialExponent_; }

  std::uint32_t GetExponent() const { return exponent_; }  // 0 while there is no table
  std::uint32_t GetCount() const { return count_; }
  std::uint32_t GetSlotCount() const { return table_ ? (1u << exponent_) : 0; }
  bool HasTable() const { return table_ != nullptr; }

  // Inserts the pair, or replaces the value of an equal key already present (the
  // stored key stays the one first inserted). Non-zero on success; fails when a
  // function is missing, or when the table would have to grow past 2^24 slots
  // or cannot be allocated, and then leaves the map as it was.
  int SetAt(const K& key, const V& value) {
    if (!hash_ || !equal_) return 0;
    if (!table_ && !Resize(initialExponent_)) return 0;
    for (;;) {
      const std::uint32_t mask = (1u << exponent_) - 1;
      std::uint32_t s = orvmap::SlotOfHash(hash_(key), exponent_);
      while (IsOccupied(s)) {
        Slot& slot = SlotAt(s);
        if (equal_(slot.key, key)) {
          slot.value = value;
          return 1;
        }
        s = (s + 1) & mask;
      }
      if (count_ + 1 <= (1u << (exponent_ - 1))) {
        Slot& slot = SlotAt(s);
        slot.key = key;
        slot.value = value;
        table_[s / orvmap::kGroupSlots].occupied |= 1u << (s % orvmap::kGroupSlots);
        ++count_;
        return 1;
      }
      if (!Resize(exponent_ + 1)) return 0;
    }
  }

  // 1 and the value when an equal key is present, else 0 (value untouched).
  int Lookup(const K& key, V& value) const {
    if (!table_ || !hash_ || !equal_) return 0;
    const std::uint32_t mask = (1u << exponent_) - 1;
    std::uint32_t s = orvmap::SlotOfHash(hash_(key), exponent_);
    while (IsOccupied(s)) {
      const Slot& slot = SlotAt(s);
      if (equal_(slot.key, key)) {
        value = slot.value;
        return 1;
      }
      s = (s + 1) & mask;
    }
    return 0;
  }

  // Makes the table 2^m slots and re-inserts every entry, walking the old slots
  // in ascending order. Succeeds at once when m is the current exponent of an
  // existing table; fails without change when m is 0 or above the largest
  // exponent (24), or when the allocation fails.
  int Resize(std::uint32_t m) {
    if (table_ && m == exponent_) return 1;
    if (m == 0 || m > MaxExponent) return 0;
    const std::size_t groups = GroupsFor(m);
    Group* table = static_cast<Group*>(std::calloc(groups, sizeof(Group)));
    if (!table) return 0;
    Group* old = table_;
    const std::uint32_t oldSlots = old ? (1u << exponent_) : 0;
    table_ = table;
    exponent_ = m;
    count_ = 0;
    for (std::uint32_t s = 0; s < oldSlots; ++s) {
      const Group& g = old[s / orvmap::kGroupSlots];
      if (g.occupied & (1u << (s % orvmap::kGroupSlots))) {
        const Slot& slot = g.slots[s % orvmap::kGroupSlots];
        SetAt(slot.key, slot.value);
      }
    }
    std::free(old);
    return 1;
  }

  // Frees the table; the map is empty again and the next insertion starts over
  // with the initial exponent.
  void Clear() {
    std::free(table_);
    table_ = nullptr;
    exponent_ = 0;
    count_ = 0;
  }

  // The entry held in slot s, for walking the map in slot order; false when the
  // slot is empty or out of range.
  bool GetSlot(std::uint32_t s, K& key, V& value) const {
    if (!table_ || s >= (1u << exponent_) || !IsOccupied(s)) return false;
    key = SlotAt(s).key;
    value = SlotAt(s).value;
    return true;
  }

  // The slot from which a key's probe starts in the current table (0 when there
  // is no table).
  std::uint32_t HomeSlot(const K& key) const {
    if (!table_ || !hash_) return 0;
    return orvmap::SlotOfHash(hash_(key), exponent_);
  }

 protected:
  void SetFunctions(HashFunction hash, EqualFunction equal) {
    hash_ = hash;
    equal_ = equal;
  }

 private:
  struct Slot {
    K key;
    V value;
  };
  struct Group {
    std::uint32_t occupied;
    Slot slots[orvmap::kGroupSlots];
  };

  // Tables smaller than one group still take a whole group.
  static std::size_t GroupsFor(std::uint32_t m) {
    const std::size_t slots = std::size_t{1} << m;
    return (slots + orvmap::kGroupSlots - 1) / orvmap::kGroupSlots;
  }
  bool IsOccupied(std::uint32_t s) const {
    return (table_[s / orvmap::kGroupSlots].occupied >> (s % orvmap::kGroupSlots)) & 1u;
  }
  Slot& SlotAt(std::uint32_t s) { return table_[s / orvmap::kGroupSlots].slots[s % orvmap::kGroupSlots]; }
  const Slot& SlotAt(std::uint32_t s) const { return table_[s / orvmap::kGroupSlots].slots[s % orvmap::kGroupSlots]; }

  HashFunction hash_;
  EqualFunction equal_;
  std::uint32_t initialExponent_ = orvmap::kDefaultInitialExponent;
  std::uint32_t exponent_ = 0;
  std::uint32_t count_ = 0;
  Group* table_ = nullptr;
};
