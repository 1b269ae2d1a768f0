// Finds the image sources of a plain HTML fragment (an article's text)
// without HTML Tidy: the sources Tidy's HTML mode would collect from it, for
// fragments Tidy would take as they stand (nothing to repair). Most article
// texts are such fragments, and parsing each with the library is most of the
// cost of storing new articles.
//
// "Plain" is a safe subset: text in printable characters with the
// references &amp; &lt; &gt; &quot; &nbsp; and &#...; of printable
// characters; the elements p, div, blockquote, h1 to h6, ul, ol, li, a, b,
// i, em, strong, span, small, sub, sup, code, br, hr and img, each closed in
// order, none empty, placed where HTML allows them (no block inside a
// paragraph or an inline element, list items only in lists, no inline
// element inside another of its name); attributes in double quotes from a
// short list per element, with values the library does not question
// (addresses of plain characters, whole-number sizes). Whatever lies
// outside it (comments, other elements or entities, tags in capitals, other
// attributes, markup Tidy would repair or report) makes the reader give up,
// and the library parses the fragment.
#pragma once

#include <string_view>

#include "core/StringMaps.h"

namespace Tidy {

// True when html is a plain fragment: the "src" of each "img" is appended
// to images in document order. False: images is unchanged.
bool ReadPlainFragmentImages(std::u16string_view html, CStringList& images);

}  // namespace Tidy
