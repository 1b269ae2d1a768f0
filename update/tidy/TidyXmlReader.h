// Reads plain, well-formed XML straight into a document's node tree, giving
// the very tree (texts, attributes, positions) that HTML Tidy's XML mode
// builds for it, several times faster and without the library's copies of
// the text. Feeds are nearly always such documents.
//
// "Plain" is a safe subset: an optional XML declaration, then one root
// element holding elements, attributes in quotes, text, CDATA sections and
// the references &amp; &lt; &gt; &quot; &apos; and &#...; of printable
// characters, in valid UTF-8. Whatever lies outside it (comments, processing
// instructions, a document type, other entities, markup the library would
// repair or report, white space that must be kept, control characters) makes
// the reader give up, and the library parses the document as before.
#pragma once

#include <string_view>

namespace Tidy {

class CTidyArena;
class Node;

enum class PlainXmlResult {
  Built,        // *root is the tree
  NotPlain,     // outside the subset: nothing kept, parse with the library
  OutOfMemory,  // the arena ran out
};

// Builds the tree of utf8 in arena. On anything but Built the blocks taken
// from the arena stay there until it is cleared.
PlainXmlResult ReadPlainXml(std::string_view utf8, CTidyArena& arena, Node** root);

}  // namespace Tidy
