// The named character references of HTML 4.01 with their code points, and
// "apos" (39), as one process-wide table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct HtmlEntity {
  const char16_t* name;
  std::int32_t character;
};

// 253 named references followed by one entry with the empty name and 0.
constexpr std::size_t kHtmlEntityCount = 253;
extern const HtmlEntity g_HtmlEntities[kHtmlEntityCount + 1];

// Code point of the reference named exactly (case-sensitively) name; 0 when the
// table has no such name.
std::int32_t LookupHtmlEntity(std::u16string_view name);
