#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/GenericMap.h"
#include "core/StringMaps.h"
#include "core/StringPtrMap.h"
#include "tests/support/TempDevice.h"

namespace {

class GenericMapTest : public orvtest::DeviceTest {};

using NumberMap = CGenericMap<std::uint32_t, std::uint32_t>;

std::uint32_t IdentityHash(const std::uint32_t& key) { return key; }
int NumbersEqual(const std::uint32_t& a, const std::uint32_t& b) { return a == b; }

// Keys the test keeps alive as long as the map, as an owner does.
std::vector<std::u16string> MakeKeys(const std::u16string& prefix, int count) {
  std::vector<std::u16string> keys;
  for (int i = 0; i < count; ++i) keys.push_back(prefix + std::u16string(1, u'A' + i % 26) + std::u16string(1, u'a' + i / 26));
  return keys;
}

// First key of the form prefix + number whose home slot at exponent n is slot.
std::u16string FindKeyWithSlot(const std::u16string& prefix, std::uint32_t n, std::uint32_t slot, int skip = 0) {
  for (int i = 0; i < 1000000; ++i) {
    std::u16string key = prefix;
    for (char c : std::to_string(i)) key.push_back(static_cast<char16_t>(c));
    if (orvmap::SlotOfHash(HashStringCase(key.c_str()), n) == slot && skip-- == 0) return key;
  }
  ADD_FAILURE() << "no key found for slot " << slot;
  return prefix;
}

TEST_F(GenericMapTest, WideHashFollowsTheRecurrence) {
  struct Case {
    const char16_t* key;
    std::uint32_t caseHash;
    std::uint32_t noCaseHash;
  } cases[] = {
      {nullptr, 0, 0},
      {u"", 0, 0},
      {u"a", 3589, 3589},        // 'a' * 37
      {u"ab", 21571, 21571},     // 3589 * 5 + 'b' * 37
      {u"AB", 14467, 21571},     // folded to "ab"
      {u"Orv News", 309129820u, 401777820u},
      {u"HeLLo", 2220592u, 2996112u},
      {u"été", 245606, 245606},  // only A..Z fold
      {u"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", 4227748464u, 4227748464u},  // wraps
  };
  for (const auto& c : cases) {
    const std::u16string shown = c.key ? c.key : u"(null)";
    EXPECT_EQ(HashStringCase(c.key), c.caseHash) << std::string(shown.begin(), shown.end());
    EXPECT_EQ(HashStringNoCase(c.key), c.noCaseHash) << std::string(shown.begin(), shown.end());
  }
  EXPECT_EQ(HashStringNoCase(u"HELLO"), HashStringCase(u"hello"));
}

TEST_F(GenericMapTest, NarrowHashTakesBytesAsSigned) {
  struct Case {
    const char* key;
    std::uint32_t hash;
  } cases[] = {
      {nullptr, 0},
      {"", 0},
      {"a", 3589},
      {"\xFF", 4294967259u},   // -1 * 37
      {"\x80", 4294962560u},   // -128 * 37
      {"a\xE9", 17094},        // 3589 * 5 - 23 * 37
      {"readme.txt", 1461600700u},
  };
  for (const auto& c : cases) EXPECT_EQ(HashStringCase(c.key), c.hash) << (c.key ? c.key : "null");
}

TEST_F(GenericMapTest, SlotIsTopBitsOfGoldenProduct) {
  struct Case {
    std::uint32_t hash, n, slot;
  } cases[] = {
      {3589, 5, 3}, {3589, 10, 126}, {0, 5, 0}, {21571, 24, 10253711}, {0xFFFFFFFFu, 5, 12}, {1, 1, 1},
  };
  for (const auto& c : cases) EXPECT_EQ(orvmap::SlotOfHash(c.hash, c.n), c.slot) << c.hash << " " << c.n;

  CWideStringPtrMap map(true);
  ASSERT_TRUE(map.SetAt(u"a", u"x"));
  EXPECT_EQ(map.HomeSlot(u"a"), 3u);
  const char16_t* key = nullptr;
  const char16_t* value = nullptr;
  ASSERT_TRUE(map.GetSlot(3, key, value));
  EXPECT_EQ(std::u16string(key), u"a");
}

TEST_F(GenericMapTest, LookupInEmptyMapAllocatesNothing) {
  CWideStringPtrMap map(true);
  const char16_t* value = u"untouched";
  EXPECT_EQ(map.Lookup(u"key", value), 0);
  EXPECT_EQ(std::u16string(value), u"untouched");
  EXPECT_FALSE(map.HasTable());
  EXPECT_EQ(map.GetExponent(), 0u);
  EXPECT_EQ(map.GetCount(), 0u);
}

TEST_F(GenericMapTest, SeventeenthEntryDoublesTheTable) {
  const auto keys = MakeKeys(u"key", 17);
  CWideStringPtrMap map(true);
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(map.SetAt(keys[i].c_str(), keys[i].c_str()));
  EXPECT_EQ(map.GetExponent(), 5u);
  EXPECT_EQ(map.GetSlotCount(), 32u);
  EXPECT_EQ(map.GetCount(), 16u);

  ASSERT_TRUE(map.SetAt(keys[16].c_str(), keys[16].c_str()));
  EXPECT_EQ(map.GetExponent(), 6u);
  EXPECT_EQ(map.GetSlotCount(), 64u);
  EXPECT_EQ(map.GetCount(), 17u);
  for (const auto& k : keys) {
    const char16_t* value = nullptr;
    ASSERT_TRUE(map.Lookup(k.c_str(), value));
    EXPECT_EQ(value, k.c_str());
  }
}

TEST_F(GenericMapTest, ReplacingKeepsCountAndFirstKey) {
  const std::u16string first = u"name";
  const std::u16string second = u"name";  // equal text, another pointer
  CWideStringPtrMap map(true);
  ASSERT_TRUE(map.SetAt(first.c_str(), u"one"));
  ASSERT_TRUE(map.SetAt(second.c_str(), u"two"));
  EXPECT_EQ(map.GetCount(), 1u);
  const char16_t* value = nullptr;
  ASSERT_TRUE(map.Lookup(u"name", value));
  EXPECT_EQ(std::u16string(value), u"two");

  const char16_t* stored = nullptr;
  ASSERT_TRUE(map.GetSlot(map.HomeSlot(u"name"), stored, value));
  EXPECT_EQ(stored, first.c_str());
}

TEST_F(GenericMapTest, CaseSensitivityOfWideInstances) {
  struct Case {
    bool caseSensitive;
    std::uint32_t count;
    const char16_t* valueOfMixed;  // value found for "KeY" after both insertions
  } cases[] = {
      {true, 2, u"first"},
      {false, 1, u"second"},
  };
  for (const auto& c : cases) {
    CWideStringPtrMap map(c.caseSensitive);
    ASSERT_TRUE(map.SetAt(u"KeY", u"first"));
    ASSERT_TRUE(map.SetAt(u"key", u"second"));
    EXPECT_EQ(map.GetCount(), c.count) << c.caseSensitive;
    const char16_t* value = nullptr;
    ASSERT_TRUE(map.Lookup(u"KeY", value));
    EXPECT_EQ(std::u16string(value), c.valueOfMixed);
    EXPECT_EQ(map.Lookup(u"KEY", value) != 0, !c.caseSensitive);
  }
}

TEST_F(GenericMapTest, NarrowInstanceStoresNumbers) {
  CNarrowStringPtrMap map(true);
  ASSERT_TRUE(map.SetAt("dir/a.txt", 10));
  ASSERT_TRUE(map.SetAt("dir/b.txt", 20));
  ASSERT_TRUE(map.SetAt("DIR/A.TXT", 30));
  EXPECT_EQ(map.GetCount(), 3u);
  unsigned long value = 0;
  ASSERT_TRUE(map.Lookup("dir/a.txt", value));
  EXPECT_EQ(value, 10u);
  EXPECT_FALSE(map.Lookup("dir/c.txt", value));

  // Ignoring case, keys of equal case (as the zip reader lower-cases them) match.
  CNarrowStringPtrMap noCase(false);
  ASSERT_TRUE(noCase.SetAt("dir/a.txt", 1));
  ASSERT_TRUE(noCase.SetAt("dir/a.txt", 2));
  EXPECT_EQ(noCase.GetCount(), 1u);
  ASSERT_TRUE(noCase.Lookup("dir/a.txt", value));
  EXPECT_EQ(value, 2u);
  EXPECT_TRUE(StringKeysEqualNoCase("Dir/A.TXT", "dir/a.txt"));
  EXPECT_FALSE(StringKeysEqualNoCase("dir/a.txt", "dir/a.txtx"));
}

TEST_F(GenericMapTest, ProbingWrapsFromLastSlotToFirst) {
  const std::u16string last1 = FindKeyWithSlot(u"w", 5, 31);
  const std::u16string last2 = FindKeyWithSlot(u"w", 5, 31, 1);
  const std::u16string first = FindKeyWithSlot(u"f", 5, 0);

  CWideStringPtrMap map(true);
  ASSERT_TRUE(map.SetAt(last1.c_str(), u"1"));
  ASSERT_TRUE(map.SetAt(last2.c_str(), u"2"));
  ASSERT_TRUE(map.SetAt(first.c_str(), u"3"));
  ASSERT_EQ(map.GetExponent(), 5u);

  const char16_t* key = nullptr;
  const char16_t* value = nullptr;
  ASSERT_TRUE(map.GetSlot(31, key, value));
  EXPECT_EQ(std::u16string(key), last1);
  ASSERT_TRUE(map.GetSlot(0, key, value));
  EXPECT_EQ(std::u16string(key), last2);
  ASSERT_TRUE(map.GetSlot(1, key, value));
  EXPECT_EQ(std::u16string(key), first);

  struct Case {
    const std::u16string* key;
    const char16_t* value;
  } cases[] = {{&last1, u"1"}, {&last2, u"2"}, {&first, u"3"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(map.Lookup(c.key->c_str(), value));
    EXPECT_EQ(std::u16string(value), c.value);
  }
  // A missing key whose probe starts at the last slot ends at the first empty one.
  EXPECT_FALSE(map.Lookup(FindKeyWithSlot(u"w", 5, 31, 2).c_str(), value));
}

TEST_F(GenericMapTest, GrowthReinsertsInAscendingSlotOrder) {
  // p and q share their home slot 63 in a 64-slot table, so in 32 slots too
  // (31). Inserted p first, q wraps to slot 0; walking the old slots upwards
  // re-inserts q before p, so q gets slot 63 of the grown table.
  std::u16string p, q;
  for (int skip = 0;; ++skip) {
    const std::u16string k = FindKeyWithSlot(u"g", 5, 31, skip);
    if (orvmap::SlotOfHash(HashStringCase(k.c_str()), 6) != 63) continue;
    if (p.empty()) {
      p = k;
    } else {
      q = k;
      break;
    }
  }
  const auto fillers = MakeKeys(u"fill", 15);
  CWideStringPtrMap map(true);
  ASSERT_TRUE(map.SetAt(p.c_str(), u"p"));
  ASSERT_TRUE(map.SetAt(q.c_str(), u"q"));
  for (int i = 0; i < 14; ++i) ASSERT_TRUE(map.SetAt(fillers[i].c_str(), u"f"));
  ASSERT_EQ(map.GetExponent(), 5u);
  ASSERT_TRUE(map.SetAt(fillers[14].c_str(), u"f"));
  ASSERT_EQ(map.GetExponent(), 6u);

  const char16_t* key = nullptr;
  const char16_t* value = nullptr;
  ASSERT_TRUE(map.GetSlot(63, key, value));
  EXPECT_EQ(std::u16string(key), q);
  ASSERT_TRUE(map.Lookup(p.c_str(), value));
  EXPECT_EQ(std::u16string(value), u"p");
}

TEST_F(GenericMapTest, InitialExponentSetsFirstTable) {
  struct Case {
    std::uint32_t initial;
    bool inserts;
    std::uint32_t slotsAfterFirst;
  } cases[] = {
      {10, true, 1024},  // the localizer's choice
      {5, true, 32},
      {1, true, 2},      // smaller than one group
      {24, true, 1u << 24},
      {0, false, 0},
      {25, false, 0},
  };
  for (const auto& c : cases) {
    NumberMap map(&IdentityHash, &NumbersEqual);
    map.SetInitialExponent(c.initial);
    EXPECT_EQ(map.SetAt(7, 70) != 0, c.inserts) << c.initial;
    EXPECT_EQ(map.GetSlotCount(), c.slotsAfterFirst) << c.initial;
    if (!c.inserts) continue;
    // Small tables grow like any other and keep every entry.
    for (std::uint32_t k = 100; k < 140; ++k) ASSERT_TRUE(map.SetAt(k, k * 2));
    std::uint32_t value = 0;
    for (std::uint32_t k = 100; k < 140; ++k) {
      ASSERT_TRUE(map.Lookup(k, value));
      EXPECT_EQ(value, k * 2);
    }
    ASSERT_TRUE(map.Lookup(7, value));
    EXPECT_EQ(value, 70u);
    EXPECT_EQ(map.GetCount(), 41u);
    EXPECT_LE(map.GetCount() * 2, map.GetSlotCount());
  }
}

TEST_F(GenericMapTest, MissingFunctionsFail) {
  NumberMap map(nullptr, nullptr);
  std::uint32_t value = 5;
  EXPECT_EQ(map.SetAt(1, 2), 0);
  EXPECT_EQ(map.Lookup(1, value), 0);
  EXPECT_EQ(value, 5u);
  EXPECT_FALSE(map.HasTable());
}

TEST_F(GenericMapTest, ResizeKeepsEntriesAndRefusesPastLimit) {
  NumberMap map(&IdentityHash, &NumbersEqual);
  for (std::uint32_t k = 0; k < 100; ++k) ASSERT_TRUE(map.SetAt(k, k + 1));
  const std::uint32_t exponent = map.GetExponent();
  EXPECT_EQ(map.Resize(25), 0);
  EXPECT_EQ(map.Resize(0), 0);
  EXPECT_EQ(map.GetExponent(), exponent);
  EXPECT_EQ(map.Resize(exponent), 1);
  ASSERT_EQ(map.Resize(12), 1);
  EXPECT_EQ(map.GetSlotCount(), 4096u);
  EXPECT_EQ(map.GetCount(), 100u);
  std::uint32_t value = 0;
  for (std::uint32_t k = 0; k < 100; ++k) {
    ASSERT_TRUE(map.Lookup(k, value));
    EXPECT_EQ(value, k + 1);
  }
  map.Clear();
  EXPECT_FALSE(map.HasTable());
  EXPECT_EQ(map.GetCount(), 0u);
  EXPECT_FALSE(map.Lookup(1, value));
}

TEST_F(GenericMapTest, LargestTableHasTwoToTheTwentyFourSlots) {
  NumberMap map(&IdentityHash, &NumbersEqual);
  for (std::uint32_t k = 0; k < 20; ++k) ASSERT_TRUE(map.SetAt(k, k));
  ASSERT_EQ(map.Resize(24), 1);
  EXPECT_EQ(map.GetSlotCount(), 1u << 24);
  EXPECT_EQ(map.Resize(25), 0);
  EXPECT_EQ(map.GetExponent(), 24u);
  EXPECT_EQ(map.GetCount(), 20u);
  std::uint32_t value = 99;
  for (std::uint32_t k = 0; k < 20; ++k) {
    ASSERT_TRUE(map.Lookup(k, value));
    EXPECT_EQ(value, k);
  }
}

TEST_F(GenericMapTest, FullLargestTableRefusesOneMore) {
  // A map whose largest table has 2^8 slots fills up after 2^7 entries, just
  // as the real one does after 2^23.
  CGenericMap<std::uint32_t, std::uint32_t, 8> map(&IdentityHash, &NumbersEqual);
  const std::uint32_t limit = 1u << 7;
  for (std::uint32_t k = 0; k < limit; ++k) ASSERT_TRUE(map.SetAt(k * 3, k)) << k;
  EXPECT_EQ(map.GetExponent(), 8u);
  EXPECT_EQ(map.GetCount(), limit);
  EXPECT_EQ(map.SetAt(limit * 3, 1), 0);
  EXPECT_EQ(map.GetCount(), limit);
  EXPECT_EQ(map.GetExponent(), 8u);
  // Replacing a present key needs no room and still works.
  EXPECT_EQ(map.SetAt(15, 55), 1);
  std::uint32_t value = 0;
  EXPECT_FALSE(map.Lookup(limit * 3, value));
  for (std::uint32_t k = 0; k < limit; ++k) {
    ASSERT_TRUE(map.Lookup(k * 3, value)) << k;
    EXPECT_EQ(value, k == 5 ? 55u : k);
  }
}

// The helpers over the data model's string maps.

TEST_F(GenericMapTest, SetDifferenceKeepsKeysMissingFromSecond) {
  const CStringToIntMap a{{u"x", 1}, {u"y", 2}, {u"z", 3}};
  const CStringToStringMap b{{u"y", u"anything"}};
  CStringToIntMap c{{u"stale", 9}};
  SetDifference(a, b, c);
  EXPECT_EQ(c, (CStringToIntMap{{u"x", 0}, {u"z", 0}}));

  CStringToIntMap self{{u"x", 1}};
  SetDifference(self, CStringToIntMap{}, self);
  EXPECT_EQ(self, (CStringToIntMap{{u"x", 0}}));
}

TEST_F(GenericMapTest, CopyAndMergeMaps) {
  const CStringToIntMap set{{u"a", 0}, {u"b", 5}};
  CStringToIntMap target{{u"old", 0}};
  CopySet(set, target);
  EXPECT_EQ(target, set);
  CopySet(target, target);
  EXPECT_EQ(target, set);

  const CStringToStringMap a{{u"k1", u"new"}, {u"k2", u"v2"}};
  CStringToStringMap merged{{u"k1", u"old"}, {u"k3", u"v3"}};
  MergeMap(a, merged);
  EXPECT_EQ(merged, (CStringToStringMap{{u"k1", u"new"}, {u"k2", u"v2"}, {u"k3", u"v3"}}));

  CStringToStringMap copied{{u"k3", u"v3"}};
  CopyMap(a, copied);
  EXPECT_EQ(copied, a);
  CopyMap(copied, copied);
  EXPECT_EQ(copied, a);
}

}  // namespace
