// The demo's online catalogue: answers a catalogue request from an OPML
// document whose channel outlines each stand on a line of their own, with a
// "language" attribute. "q=" (percent-encoded UTF-8) keeps the outlines whose
// "text" holds the search text, ignoring ASCII case; otherwise "lang=" (codes
// each followed by ";") keeps those of the chosen languages and those without
// a language. Every other line stays as it is.
#pragma once

#include <string>

std::string AnswerDemoCatalog(const std::string& opml, const std::string& query);
