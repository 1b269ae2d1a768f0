// Where XML text stops being well formed, for messages that must name a line
// even when the document parser only says "no".
#pragma once

#include <string>

// The 1-based line of the first syntax error of the text: an attribute value
// that runs into a tag, an unexpected character inside a tag, a comment,
// processing instruction or section left open, an end tag that closes
// another element, or elements still open at the end (the last line then).
// 0 when the text is well formed as far as this scan sees.
int FirstXmlSyntaxErrorLine(const std::u16string& text);
