#include "core/StringMaps.h"

void CopySet(const CStringToIntMap& a, CStringToIntMap& b) {
  if (&a == &b) return;  // emptying b first would lose a
  b.clear();
  for (const auto& entry : a) b[entry.first] = entry.second;
}

void MergeMap(const CStringToStringMap& a, CStringToStringMap& b) {
  if (&a == &b) return;
  for (const auto& entry : a) b[entry.first] = entry.second;
}

void CopyMap(const CStringToStringMap& a, CStringToStringMap& b) {
  if (&a == &b) return;
  b.clear();
  MergeMap(a, b);
}
