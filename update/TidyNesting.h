// A quick look at how deeply a document nests its elements, taken before HTML
// Tidy parses it: the library descends one level of its own stack per open
// element and overflows the stack on documents nested some thousands deep.
#pragma once

#include <cstddef>
#include <string_view>

namespace Tidy {

// Documents nested deeper than this are refused.
constexpr std::size_t kMaxNestingDepth = 1000;

// True when the markup (UTF-8) opens more than limit elements inside one
// another. The count follows the library's rules closely and errs on the
// high side: in HTML, void elements and raw-text content (script, style)
// open nothing, an element that closes its open namesake (p, li, td, ...)
// replaces it, and "/>" does not end a non-void element; in XML, "/>" ends
// the element. An end tag closes the nearest open element of its name.
bool ExceedsNestingDepth(std::string_view markup, bool xml, std::size_t limit = kMaxNestingDepth);

}  // namespace Tidy
