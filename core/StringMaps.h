// The string-keyed maps and lists of the data model (property maps, URL sets,
// name tables), and the helpers that copy and compare them. Sorted maps, so a
// map's iteration order (and so its stored text form) is deterministic.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

using CStringToStringMap = std::map<std::u16string, std::u16string>;
using CStringToIntMap = std::map<std::u16string, int>;  // also a set: every value 0
using CStringList = std::vector<std::u16string>;
using CStringSet = std::set<std::u16string>;

// Empties c, then sets c[key] = 0 for every key of a that b does not hold.
// a and b may be maps of any value type keyed by text.
template <class MapA, class MapB>
void SetDifference(const MapA& a, const MapB& b, CStringToIntMap& c) {
  CStringToIntMap result;
  for (const auto& entry : a) {
    if (b.find(entry.first) == b.end()) result[entry.first] = 0;
  }
  c.swap(result);  // c may be a or b itself
}

// Empties b, then sets b[key] = a[key] for every entry of a.
void CopySet(const CStringToIntMap& a, CStringToIntMap& b);

// Sets b[key] = a[key] for every entry of a, overwriting what b held.
void MergeMap(const CStringToStringMap& a, CStringToStringMap& b);

// Empties b and then merges a into it.
void CopyMap(const CStringToStringMap& a, CStringToStringMap& b);
