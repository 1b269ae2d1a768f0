#include "update/tidy/TidyNesting.h"

#include "update/tidy/TidyNames.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace Tidy {

namespace {

// End tags look this far down the open elements for their namesake; one
// that matches nothing there closes nothing (counting high, never low).
constexpr std::size_t kEndTagSearch = 64;


bool IsRawTextElement(std::string_view name) {
  return OneOf(name, {"script", "style", "xmp", "textarea", "title", "plaintext"});
}

// Elements an open one of the same group is closed by.
int SiblingGroup(std::string_view name) {
  if (OneOf(name, {"p"})) return 1;
  if (OneOf(name, {"li"})) return 2;
  if (OneOf(name, {"dt", "dd"})) return 3;
  if (OneOf(name, {"td", "th"})) return 4;
  if (OneOf(name, {"tr"})) return 5;
  if (OneOf(name, {"option", "optgroup"})) return 6;
  if (OneOf(name, {"thead", "tbody", "tfoot"})) return 7;
  return 0;
}

// Block elements whose start closes an open paragraph.
bool ClosesParagraph(std::string_view name) {
  return OneOf(name, {"address", "blockquote", "center", "dir", "div", "dl", "fieldset", "form", "h1", "h2",
                      "h3", "h4", "h5", "h6", "hr", "menu", "ol", "p", "pre", "table", "ul", "article",
                      "aside", "footer", "header", "nav", "section", "figure", "main"});
}

bool IsNameStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}

bool IsNameChar(unsigned char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

std::size_t Find(std::string_view text, std::size_t from, const char* what) {
  std::size_t at = text.find(what, from);
  return at == std::string_view::npos ? text.size() : at;
}

}  // namespace

std::vector<TextRange> FindDeepRanges(std::string_view text, bool xml, std::size_t limit) {
  std::vector<TextRange> ranges;
  std::vector<std::string_view> open;
  open.reserve(64);
  const std::size_t n = text.size();
  // Where the element that went past the limit starts; npos outside one.
  std::size_t cutStart = std::string_view::npos;
  auto endCut = [&](std::size_t at) {
    if (!ranges.empty() && ranges.back().end == cutStart) {
      ranges.back().end = at;  // a sibling that replaced the cut element goes on the same range
    } else {
      ranges.push_back({cutStart, at});
    }
    cutStart = std::string_view::npos;
  };
  std::size_t i = 0;
  while (i < n) {
    const void* lt = std::memchr(text.data() + i, '<', n - i);
    if (!lt) break;
    i = static_cast<std::size_t>(static_cast<const char*>(lt) - text.data());
    const std::size_t tagStart = i;
    if (i + 1 >= n) break;
    unsigned char next = static_cast<unsigned char>(text[i + 1]);
    if (next == '!') {
      if (text.compare(i, 4, "<!--") == 0) {
        i = Find(text, i + 4, "-->") + 3;
      } else if (text.compare(i, 9, "<![CDATA[") == 0) {
        i = Find(text, i + 9, "]]>") + 3;
      } else {
        i = Find(text, i + 2, ">") + 1;
      }
      continue;
    }
    if (next == '?') {
      i = Find(text, i + 2, ">") + 1;
      continue;
    }
    if (next == '/') {
      std::size_t start = i + 2, end = start;
      while (end < n && IsNameChar(static_cast<unsigned char>(text[end]))) ++end;
      std::string_view name = text.substr(start, end - start);
      i = Find(text, end, ">") + 1;
      std::size_t reach = open.size() < kEndTagSearch ? open.size() : kEndTagSearch;
      for (std::size_t k = 1; k <= reach; ++k) {
        std::string_view candidate = open[open.size() - k];
        if (xml ? candidate == name : EqualNoCase(candidate, name)) {
          open.resize(open.size() - k);
          break;
        }
      }
      if (cutStart != std::string_view::npos && open.size() <= limit) {
        // The end tag of the element past the limit goes with it; one that
        // closes an element above it stays, so that element still ends.
        endCut(open.size() == limit ? std::min(i, n) : tagStart);
      }
      continue;
    }
    if (!IsNameStart(next)) {
      ++i;
      continue;
    }
    std::size_t start = i + 1, end = start;
    while (end < n && IsNameChar(static_cast<unsigned char>(text[end]))) ++end;
    std::string_view name = text.substr(start, end - start);
    // The rest of the tag, with quoted values; a "<" ends it in any case, so
    // a quote left open never hides markup from the count.
    std::size_t j = end;
    char quote = 0;
    bool selfClosing = false;
    while (j < n) {
      char c = text[j];
      if (c == '<') break;
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        selfClosing = j > end && text[j - 1] == '/';
        ++j;
        break;
      }
      ++j;
    }
    i = j;
    if (xml) {
      if (selfClosing) continue;
    } else {
      if (IsVoidElement(name)) continue;
      if (IsRawTextElement(name)) {
        // Skip to the matching end tag.
        std::size_t k = i;
        while (k < n) {
          const void* at = std::memchr(text.data() + k, '<', n - k);
          if (!at) {
            k = n;
            break;
          }
          k = static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
          if (k + 1 < n && text[k + 1] == '/' && k + 2 + name.size() <= n &&
              EqualNoCase(text.substr(k + 2, name.size()), name))
            break;
          ++k;
        }
        i = k;
        continue;
      }
      int group = SiblingGroup(name);
      if (!open.empty()) {
        std::string_view top = open.back();
        if ((group != 0 && SiblingGroup(top) == group) || (EqualNoCase(top, "p") && ClosesParagraph(name)))
          open.pop_back();
      }
      if (cutStart != std::string_view::npos && open.size() <= limit) endCut(tagStart);
    }
    open.push_back(name);
    if (open.size() == limit + 1 && cutStart == std::string_view::npos) cutStart = tagStart;
  }
  if (cutStart != std::string_view::npos) endCut(n);
  return ranges;
}

bool ExceedsNestingDepth(std::string_view text, bool xml, std::size_t limit) {
  return !FindDeepRanges(text, xml, limit).empty();
}

std::string WithoutRanges(std::string_view text, const std::vector<TextRange>& ranges) {
  std::string kept;
  std::size_t removed = 0;
  for (const TextRange& r : ranges) removed += r.end - r.begin;
  kept.reserve(text.size() - removed);
  std::size_t from = 0;
  for (const TextRange& r : ranges) {
    kept.append(text.substr(from, r.begin - from));
    from = r.end;
  }
  kept.append(text.substr(from));
  return kept;
}

}  // namespace Tidy
