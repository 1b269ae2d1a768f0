// The page's text before the renderer sees it: decoding to UTF-8, and a pass
// over the markup that bounds what the renderer has to handle.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat::htmlview {

struct SourceLimits {
  // Markup beyond this many bytes is not shown (cut at a tag or text edge).
  std::size_t maxBytes = 1024u * 1024u;
  // Elements nested deeper than this lose their tags (their text stays).
  int maxDepth = 96;
};

// Bytes of a page (DTM_ADDTEXT): a UTF-8 or UTF-16 byte-order mark, else the
// charset its markup names in its first 2 KB, else UTF-8 (with Latin-1 as the
// fallback when the bytes are not UTF-8). Invalid sequences become U+FFFD.
std::string DecodePageBytes(std::string_view bytes);

// Valid UTF-8 with every invalid sequence replaced by U+FFFD and NUL
// characters by spaces.
std::string RepairUtf8(std::string_view text);

// The markup the renderer gets: scripts (with their content), comments,
// processing instructions, frames and embedded objects are dropped, as are
// event-handler attributes; colours written without '#' get it and the
// align attribute of headings and table rows becomes a text-align style;
// elements that show alike take one name (strong is b, article is div); tags nested deeper than maxDepth (counting the
// end tags HTML lets a page omit) are dropped with their end tags; the whole
// is cut after maxBytes. Input must be valid UTF-8 (RepairUtf8).
std::string PrepareMarkup(std::string_view utf8, const SourceLimits& limits = {});

}  // namespace plat::htmlview
