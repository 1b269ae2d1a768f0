// Decoding of page bytes and the bounding pass over the markup.
#include "platform/htmlview/HtmlSource.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/base/CodePage.h"
#include "platform/base/Text.h"

namespace plat::htmlview {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool StartsNoCase(std::string_view s, std::size_t at, std::string_view word) {
  if (s.size() - at < word.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (Lower(s[at + i]) != word[i]) return false;
  return true;
}

// Position of word (lower case) in s from `from`, ignoring case; npos when none.
std::size_t FindNoCase(std::string_view s, std::size_t from, std::string_view word) {
  if (word.empty()) return from;
  for (std::size_t i = from; i + word.size() <= s.size(); ++i) {
    if (Lower(s[i]) == word[0] && StartsNoCase(s, i, word)) return i;
  }
  return std::string_view::npos;
}

bool ValidUtf8(std::string_view s) {
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len = 0;
    std::uint32_t cp = 0;
    if (c >= 0xC2 && c <= 0xDF) len = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) len = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) len = 4, cp = c & 0x07;
    else return false;
    if (i + static_cast<std::size_t>(len) > n) return false;
    for (int k = 1; k < len; ++k) {
      const unsigned char d = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += static_cast<std::size_t>(len);
  }
  return true;
}

struct Charset {
  const char* name;
  UINT codePage;
};
constexpr Charset kCharsets[] = {
    {"utf-8", CP_UTF8},          {"utf8", CP_UTF8},           {"iso-8859-1", 28591},  {"latin1", 28591},
    {"us-ascii", 1252},          {"windows-1252", 1252},      {"windows-1251", 1251}, {"windows-1250", 1250},
    {"windows-1253", 1253},      {"windows-1254", 1254},      {"windows-1255", 1255}, {"windows-1256", 1256},
    {"windows-1257", 1257},      {"iso-8859-2", 28592},       {"iso-8859-5", 28595},  {"iso-8859-7", 28597},
    {"iso-8859-9", 28599},       {"iso-8859-15", 28605},      {"koi8-r", 20866},      {"koi8-u", 21866},
    {"shift_jis", 932},          {"shift-jis", 932},          {"euc-jp", 20932},      {"gb2312", 936},
    {"gbk", 936},                {"big5", 950},               {"euc-kr", 949},        {"ks_c_5601-1987", 949},
};

// The code page named by a charset="..." in the first 2 KB, or 0.
UINT DeclaredCodePage(std::string_view bytes) {
  std::string_view head = bytes.substr(0, std::min<std::size_t>(bytes.size(), 2048));
  std::size_t at = FindNoCase(head, 0, "charset");
  while (at != std::string_view::npos) {
    std::size_t i = at + 7;
    while (i < head.size() && plat::IsHtmlSpace(head[i])) ++i;
    if (i < head.size() && head[i] == '=') {
      ++i;
      while (i < head.size() && (plat::IsHtmlSpace(head[i]) || head[i] == '"' || head[i] == '\'')) ++i;
      std::string name;
      while (i < head.size() && name.size() < 32 && !plat::IsHtmlSpace(head[i]) && head[i] != '"' && head[i] != '\'' &&
             head[i] != ';' && head[i] != '>' && head[i] != '/')
        name.push_back(Lower(head[i++]));
      for (const Charset& c : kCharsets)
        if (name == c.name) return IsValidCodePage(c.codePage) ? c.codePage : 0;
      return 0;
    }
    at = FindNoCase(head, at + 7, "charset");
  }
  return 0;
}

std::string Decode(UINT codePage, std::string_view bytes) {
  if (bytes.empty()) return {};
  const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
  const int units = MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
  if (units <= 0) return RepairUtf8(bytes);
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(codePage, 0, bytes.data(), size, wide.data(), units);
  return RepairUtf8(Utf16ToUtf8(wide));
}

// ---------------------------------------------------------------------------
// The bounding pass.

bool In(std::string_view name, std::initializer_list<std::string_view> set) {
  return std::find(set.begin(), set.end(), name) != set.end();
}

bool IsVoid(std::string_view n) {
  return In(n, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source",
                "track", "wbr", "keygen", "basefont", "bgsound", "frame", "isindex", "spacer"});
}

// Elements dropped with their tags (their fallback content stays).
bool IsDroppedTag(std::string_view n) {
  return In(n, {"iframe", "object", "embed", "applet", "frameset", "frame", "noframes", "param", "base", "link",
                "meta", "html", "head", "body"});
}

// Elements whose content is raw text up to their end tag.
bool IsRawText(std::string_view n) { return In(n, {"style", "textarea", "title", "xmp", "noembed"}); }

bool ClosesParagraph(std::string_view n) {
  return In(n, {"address", "article", "aside", "blockquote", "center", "details", "dir", "div", "dl", "fieldset",
                "figcaption", "figure", "footer", "form", "h1", "h2", "h3", "h4", "h5", "h6", "header", "hr",
                "main", "menu", "nav", "ol", "p", "pre", "section", "table", "ul", "li", "dd", "dt", "listing",
                "plaintext"});
}

// Elements shown exactly as another one: renamed here, so that the default
// style sheet (tried selector by selector on every element) stays short.
std::string_view Canonical(std::string_view n) {
  struct Alias {
    std::string_view from;
    std::string_view to;
  };
  static constexpr Alias kAliases[] = {
      {"strong", "b"},    {"em", "i"},         {"cite", "i"},    {"var", "i"},       {"dfn", "i"},
      {"ins", "u"},       {"strike", "s"},     {"del", "s"},     {"tt", "code"},     {"kbd", "code"},
      {"samp", "code"},   {"listing", "pre"},  {"menu", "ul"},   {"dir", "ul"},      {"article", "div"},
      {"aside", "div"},   {"footer", "div"},   {"header", "div"}, {"hgroup", "div"}, {"nav", "div"},
      {"section", "div"}, {"main", "div"},     {"figure", "div"}, {"figcaption", "div"}, {"details", "div"},
      {"summary", "div"}, {"fieldset", "div"}, {"legend", "div"}, {"address", "div"},
  };
  for (const Alias& a : kAliases)
    if (a.from == n) return a.to;
  return n;
}

bool EqualsLower(std::string_view a, std::string_view lower) {
  if (a.size() != lower.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != lower[i]) return false;
  return true;
}

// Blocks whose align attribute the renderer does not take itself.
bool IsAlignedBlock(std::string_view n) { return In(n, {"h1", "h2", "h3", "h4", "h5", "h6", "th", "tr", "caption"}); }

bool IsAlignment(std::string_view v) {
  return EqualsLower(v, "left") || EqualsLower(v, "right") || EqualsLower(v, "center") || EqualsLower(v, "justify");
}

bool IsColourAttribute(std::string_view name) {
  std::string lower;
  for (char c : name) lower.push_back(Lower(c));
  return lower == "color" || lower == "bgcolor";
}

bool IsBareHexColour(std::string_view v) {
  if (v.size() != 6 && v.size() != 3) return false;
  return std::all_of(v.begin(), v.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  });
}

class Bounder {
 public:
  Bounder(std::string_view in, const SourceLimits& limits) : in_(in), limits_(limits) {
    out_.reserve(std::min(in.size(), limits.maxBytes) + 64);
  }

  std::string Run() {
    std::size_t i = 0;
    while (i < in_.size() && out_.size() < limits_.maxBytes) {
      const std::size_t lt = in_.find('<', i);
      if (lt == std::string_view::npos) {
        Text(in_.substr(i));
        break;
      }
      Text(in_.substr(i, lt - i));
      i = Markup(lt);
    }
    return std::move(out_);
  }

 private:
  void Text(std::string_view t) {
    if (t.empty()) return;
    const std::size_t room = limits_.maxBytes > out_.size() ? limits_.maxBytes - out_.size() : 0;
    if (t.size() > room) {
      // Cut at a character's start.
      std::size_t cut = room;
      while (cut > 0 && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80) --cut;
      t = t.substr(0, cut);
    }
    out_.append(t);
  }

  // Handles the markup at `lt` (a '<'); returns where scanning goes on.
  std::size_t Markup(std::size_t lt) {
    const std::size_t n = in_.size();
    if (in_.compare(lt, 4, "<!--") == 0) {
      const std::size_t end = in_.find("-->", lt + 4);
      return end == std::string_view::npos ? n : end + 3;
    }
    if (lt + 1 < n && (in_[lt + 1] == '!' || in_[lt + 1] == '?')) {
      const std::size_t end = in_.find('>', lt + 2);
      return end == std::string_view::npos ? n : end + 1;
    }
    const bool closing = lt + 1 < n && in_[lt + 1] == '/';
    std::size_t p = lt + (closing ? 2 : 1);
    if (p >= n || !IsAlpha(in_[p])) {
      out_.append("&lt;");
      return lt + 1;
    }
    std::string name;
    while (p < n && !plat::IsHtmlSpace(in_[p]) && in_[p] != '>' && in_[p] != '/') name.push_back(Lower(in_[p++]));
    name = std::string(Canonical(name));
    // Attributes, up to the tag's '>' (quotes respected).
    std::vector<std::pair<std::string_view, std::string_view>> attrs;
    bool selfClosing = false;
    while (true) {
      while (p < n && (plat::IsHtmlSpace(in_[p]) || in_[p] == '/')) {
        if (in_[p] == '/') selfClosing = true;
        ++p;
      }
      if (p >= n) return n;  // an unfinished tag ends the page
      if (in_[p] == '>') {
        ++p;
        break;
      }
      selfClosing = false;
      const std::size_t nameStart = p;
      while (p < n && !plat::IsHtmlSpace(in_[p]) && in_[p] != '>' && in_[p] != '=' && (in_[p] != '/' || p == nameStart)) ++p;
      std::string_view attrName = in_.substr(nameStart, p - nameStart);
      std::string_view value;
      std::size_t q = p;
      while (q < n && plat::IsHtmlSpace(in_[q])) ++q;
      if (q < n && in_[q] == '=') {
        ++q;
        while (q < n && plat::IsHtmlSpace(in_[q])) ++q;
        if (q < n && (in_[q] == '"' || in_[q] == '\'')) {
          const char quote = in_[q];
          const std::size_t end = in_.find(quote, q + 1);
          if (end == std::string_view::npos) return n;
          value = in_.substr(q + 1, end - q - 1);
          p = end + 1;
        } else {
          const std::size_t start = q;
          while (q < n && !plat::IsHtmlSpace(in_[q]) && in_[q] != '>') ++q;
          value = in_.substr(start, q - start);
          p = q;
        }
      }
      if (!attrName.empty() && attrs.size() < 64) attrs.emplace_back(attrName, value);
    }
    if (closing) {
      EndTag(name);
      return p;
    }
    return StartTag(name, attrs, selfClosing, p);
  }

  void EndTag(const std::string& name) {
    for (std::size_t k = stack_.size(); k-- > 0;) {
      if (stack_[k] == name) {
        stack_.resize(k);
        AppendTag("</", name);
        return;
      }
    }
    // Not open (dropped, stray or beyond the limit): the renderer never sees it.
  }

  std::size_t StartTag(const std::string& name, const std::vector<std::pair<std::string_view, std::string_view>>& attrs,
                       bool selfClosing, std::size_t after) {
    if (name == "script") {
      const std::size_t end = FindNoCase(in_, after, "</script");
      if (end == std::string_view::npos) return in_.size();
      const std::size_t gt = in_.find('>', end);
      return gt == std::string_view::npos ? in_.size() : gt + 1;
    }
    if (IsDroppedTag(name)) return after;
    ImpliedEnds(name);
    const bool isVoid = IsVoid(name);
    if (!isVoid && static_cast<int>(stack_.size()) >= limits_.maxDepth) return SkipRaw(name, after);
    std::string tag = "<" + name;
    std::string alignStyle;
    for (const auto& [attrName, value] : attrs) {
      if (IsAlignedBlock(name) && EqualsLower(attrName, "align") && IsAlignment(value)) {
        alignStyle = "text-align:";
        for (char c : value) alignStyle.push_back(Lower(c));
        alignStyle.push_back(';');
      }
    }
    for (const auto& [attrName, value] : attrs) {
      if (attrName.size() > 2 && Lower(attrName[0]) == 'o' && Lower(attrName[1]) == 'n') continue;  // handlers
      tag.push_back(' ');
      for (char c : attrName)
        if (c != '"' && c != '\'' && c != '<') tag.push_back(Lower(c));
      tag.append("=\"");
      if (!alignStyle.empty() && EqualsLower(attrName, "style")) {
        tag.append(alignStyle);
        alignStyle.clear();
      }
      // Colours written without their '#' (as old pages do) get it.
      if (IsColourAttribute(attrName) && IsBareHexColour(value)) tag.push_back('#');
      for (char c : value) {
        if (c == '"') tag.append("&quot;");
        else tag.push_back(c);
      }
      tag.push_back('"');
    }
    if (!alignStyle.empty()) tag.append(" style=\"" + alignStyle + "\"");
    tag.append(selfClosing && isVoid ? " />" : ">");
    out_.append(tag);
    if (isVoid) return after;
    stack_.push_back(name);
    if (IsRawText(name) || name == "plaintext") {
      // Copied as it is up to its end tag (or the end of the page).
      const std::size_t end = name == "plaintext" ? std::string_view::npos : FindNoCase(in_, after, "</" + name);
      const std::size_t stop = end == std::string_view::npos ? in_.size() : end;
      Text(in_.substr(after, stop - after));
      return stop;
    }
    return after;
  }

  // A tag beyond the depth limit is dropped; raw-text content is skipped so
  // that it never shows as markup.
  std::size_t SkipRaw(const std::string& name, std::size_t after) {
    if (!IsRawText(name)) return after;
    const std::size_t end = FindNoCase(in_, after, "</" + name);
    return end == std::string_view::npos ? in_.size() : end;
  }

  // Pops the elements that the new one closes by HTML's rules (end tags a
  // page may omit), so that counted depth follows the renderer's tree.
  void ImpliedEnds(const std::string& name) {
    if (ClosesParagraph(name)) CloseNearest({"p"}, {"table", "td", "th", "caption", "button", "li", "dd", "dt"});
    if (name == "li") CloseNearest({"li"}, {"ul", "ol", "menu", "dir", "table"});
    else if (name == "dd" || name == "dt") CloseNearest({"dd", "dt"}, {"dl", "table"});
    else if (name == "td" || name == "th") CloseNearest({"td", "th"}, {"tr", "table"});
    else if (name == "tr") CloseNearest({"tr"}, {"table", "tbody", "thead", "tfoot"});
    else if (name == "tbody" || name == "thead" || name == "tfoot") CloseNearest({"tbody", "thead", "tfoot"}, {"table"});
    else if (name == "option") CloseNearest({"option"}, {"select", "datalist"});
    if (name == "tr" || name == "tbody" || name == "thead" || name == "tfoot") CloseNearest({"td", "th"}, {"table"});
  }

  void CloseNearest(std::initializer_list<std::string_view> names, std::initializer_list<std::string_view> bounds) {
    for (std::size_t k = stack_.size(); k-- > 0;) {
      if (In(stack_[k], names)) {
        stack_.resize(k);
        return;
      }
      if (In(stack_[k], bounds)) return;
    }
  }

  void AppendTag(const char* open, const std::string& name) {
    out_.append(open);
    out_.append(name);
    out_.push_back('>');
  }

  std::string_view in_;
  const SourceLimits& limits_;
  std::string out_;
  std::vector<std::string> stack_;
};

}  // namespace

std::string RepairUtf8(std::string_view text) {
  std::string out;
  if (ValidUtf8(text)) {
    out.assign(text);
  } else {
    out = Utf16ToUtf8(Utf8ToUtf16(text));
  }
  std::replace(out.begin(), out.end(), '\0', ' ');
  return out;
}

std::string DecodePageBytes(std::string_view bytes) {
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return RepairUtf8(bytes.substr(3));
  if (bytes.size() >= 2 && (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0)) {
    const bool little = bytes[0] == '\xFF';
    std::u16string wide;
    wide.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto a = static_cast<unsigned char>(bytes[i]);
      const auto b = static_cast<unsigned char>(bytes[i + 1]);
      wide.push_back(static_cast<char16_t>(little ? (a | (b << 8)) : ((a << 8) | b)));
    }
    return RepairUtf8(Utf16ToUtf8(wide));
  }
  const UINT declared = DeclaredCodePage(bytes);
  if (declared && declared != CP_UTF8) return Decode(declared, bytes);
  if (declared == CP_UTF8 || ValidUtf8(bytes)) return RepairUtf8(bytes);
  return RepairUtf8(Utf16ToUtf8(Latin1ToUtf16(bytes)));
}

std::string PrepareMarkup(std::string_view utf8, const SourceLimits& limits) { return Bounder(utf8, limits).Run(); }

}  // namespace plat::htmlview
