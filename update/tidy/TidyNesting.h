// A quick look at how deeply a document nests its elements, taken before HTML
// Tidy parses it: the library descends one level of its own stack per open
// element and overflows the stack on documents nested some thousands deep.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace Tidy {

// Elements nested deeper than this are dropped before parsing.
constexpr std::size_t kMaxNestingDepth = 1000;

// True when the markup (UTF-8) opens more than limit elements inside one
// another. The count follows the library's rules closely and errs on the
// high side: in HTML, void elements and raw-text content (script, style)
// open nothing, an element that closes its open namesake (p, li, td, ...)
// replaces it, and "/>" does not end a non-void element; in XML, "/>" ends
// the element. An end tag closes the nearest open element of its name.
bool ExceedsNestingDepth(std::string_view markup, bool xml, std::size_t limit = kMaxNestingDepth);

// Byte range [begin, end) of the markup.
struct TextRange {
  std::size_t begin;
  std::size_t end;
};

// The parts of the markup that lie past the limit, by the same count, in
// order and apart: each runs from the start tag of an element that opens at
// depth limit + 1 through its end tag (to the end of the markup when it never
// ends, up to the end tag of an enclosing element that closes it). The markup
// without them nests at most limit deep and keeps everything else.
std::vector<TextRange> FindDeepRanges(std::string_view markup, bool xml, std::size_t limit = kMaxNestingDepth);

// The text with the ranges (ordered, apart) left out.
std::string WithoutRanges(std::string_view text, const std::vector<TextRange>& ranges);

}  // namespace Tidy
