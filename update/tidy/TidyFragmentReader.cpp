#include "update/tidy/TidyFragmentReader.h"

#include <cstdint>

#include "platform/base/Text.h"

namespace Tidy {

namespace {

enum class Kind : std::uint8_t {
  Block,      // p, div, blockquote, h1..h6: flow content around them
  List,       // ul, ol: list items only
  Item,       // li: only in a list
  Inline,     // a, b, i, em, strong, span, small, sub, sup, code
  VoidBlock,  // hr
  VoidInline  // br, img
};

struct Element {
  std::u16string_view name;
  Kind kind;
  bool flowInside;  // may hold blocks (div, blockquote, li)
};

constexpr Element kElements[] = {
    {u"p", Kind::Block, false},          {u"div", Kind::Block, true},     {u"blockquote", Kind::Block, true},
    {u"h1", Kind::Block, false},         {u"h2", Kind::Block, false},     {u"h3", Kind::Block, false},
    {u"h4", Kind::Block, false},         {u"h5", Kind::Block, false},     {u"h6", Kind::Block, false},
    {u"ul", Kind::List, false},          {u"ol", Kind::List, false},      {u"li", Kind::Item, true},
    {u"a", Kind::Inline, false},         {u"b", Kind::Inline, false},     {u"i", Kind::Inline, false},
    {u"em", Kind::Inline, false},        {u"strong", Kind::Inline, false}, {u"span", Kind::Inline, false},
    {u"small", Kind::Inline, false},     {u"sub", Kind::Inline, false},   {u"sup", Kind::Inline, false},
    {u"code", Kind::Inline, false},      {u"hr", Kind::VoidBlock, false}, {u"br", Kind::VoidInline, false},
    {u"img", Kind::VoidInline, false},
};

const Element* FindElement(std::u16string_view name) {
  for (const Element& element : kElements) {
    if (element.name == name) return &element;
  }
  return nullptr;
}

constexpr std::size_t kMaxDepth = 64;
// Longer texts go to the library, which knows its own limits.
constexpr std::size_t kMaxLength = 4 * 1024 * 1024;

struct Open {
  const Element* element;
  bool hasContent;
};

// Printable ASCII other than the space and the markup characters.
bool IsOrdinary(char16_t c) { return c > u' ' && c < 0x7F && c != u'<' && c != u'>' && c != u'&'; }
bool IsLower(char16_t c) { return c >= u'a' && c <= u'z'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsHex(char16_t c) { return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'); }

// A code point the library takes as it stands in text.
bool IsPlainCodePoint(std::uint32_t c) {
  if (c < 0x20) return c == u'\t' || c == u'\n' || c == u'\r';
  if (c >= 0x7F && c <= 0x9F) return false;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  if (c >= 0xFDD0 && c <= 0xFDEF) return false;
  if ((c & 0xFFFE) == 0xFFFE) return false;
  return c <= 0x10FFFF && c != 0xFEFF;
}

// A character of an address the library does not question.
bool IsUriChar(char16_t c) {
  if (c <= 0x20 || c >= 0x7F) return false;
  switch (c) {
    case u'"': case u'<': case u'>': case u'\\': case u'^': case u'`': case u'{': case u'|': case u'}': case u'&':
    case u'[': case u']':  // the library escapes brackets in an address
      return false;
    default:
      return true;
  }
}

bool IsWordChar(char16_t c) { return IsLower(c) || IsDigit(c) || (c >= u'A' && c <= u'Z') || c == u'-' || c == u'_'; }

enum class Value {
  Uri,       // href, src
  Number,    // width, height
  Words,     // class, rel, target
  Text,      // alt, title
};

struct AttributeRule {
  std::u16string_view element;  // empty: every element
  std::u16string_view name;
  Value value;
};

constexpr AttributeRule kAttributes[] = {
    {u"", u"class", Value::Words},      {u"", u"title", Value::Text},      {u"a", u"href", Value::Uri},
    {u"a", u"rel", Value::Words},       {u"a", u"target", Value::Words},   {u"img", u"src", Value::Uri},
    {u"img", u"alt", Value::Text},      {u"img", u"width", Value::Number}, {u"img", u"height", Value::Number},
};

const AttributeRule* FindAttribute(std::u16string_view element, std::u16string_view name) {
  for (const AttributeRule& rule : kAttributes) {
    if ((rule.element.empty() || rule.element == element) && rule.name == name) return &rule;
  }
  return nullptr;
}

bool IsPlainValue(Value kind, std::u16string_view value) {
  switch (kind) {
    case Value::Uri:
      if (value.empty()) return false;
      for (char16_t c : value) {
        if (!IsUriChar(c)) return false;
      }
      return true;
    case Value::Number:
      if (value.empty() || value.size() > 5) return false;
      for (char16_t c : value) {
        if (!IsDigit(c)) return false;
      }
      return true;
    case Value::Words:
      if (value.empty()) return false;
      for (char16_t c : value) {
        if (!IsWordChar(c) && c != u' ') return false;
      }
      return true;
    case Value::Text:
      for (std::size_t i = 0; i < value.size(); ++i) {
        const char16_t c = value[i];
        if (c == u'<' || c == u'>' || c == u'&' || c == u'"' || c == u'\t' || c == u'\n' || c == u'\r') return false;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < value.size() && value[i + 1] >= 0xDC00 && value[i + 1] <= 0xDFFF) {
          ++i;
          continue;
        }
        if (!IsPlainCodePoint(c)) return false;
      }
      return true;
  }
  return false;
}

class Reader {
 public:
  Reader(std::u16string_view html, CStringList& images) : s_(html), images_(images) {}

  bool Read() {
    // An empty text is no fragment to the library either.
    if (s_.empty() || s_.size() > kMaxLength) return false;
    while (at_ < s_.size()) {
      const char16_t c = s_[at_];
      if (IsOrdinary(c)) {
        // Most of a body: a run of printable ASCII, text where it stands.
        if (!TextAllowed()) return false;
        MarkContent();
        do {
          ++at_;
        } while (at_ < s_.size() && IsOrdinary(s_[at_]));
      } else if (c == u'<') {
        if (!Tag()) return false;
      } else if (c == u'&') {
        if (!Reference() || !TextAllowed()) return false;
        MarkContent();
      } else if (c == u'>') {
        return false;
      } else if (c >= 0xD800 && c <= 0xDBFF) {
        if (at_ + 1 >= s_.size() || s_[at_ + 1] < 0xDC00 || s_[at_ + 1] > 0xDFFF) return false;
        const std::uint32_t code = 0x10000 + ((c - 0xD800u) << 10) + (s_[at_ + 1] - 0xDC00u);
        if (!IsPlainCodePoint(code) || !TextAllowed()) return false;
        at_ += 2;
        MarkContent();
      } else {
        if (!IsPlainCodePoint(c)) return false;
        ++at_;
        if (plat::IsXmlSpace(c)) continue;
        if (!TextAllowed()) return false;
        MarkContent();
      }
    }
    return depth_ == 0;
  }

 private:
  void MarkContent() {
    if (depth_ > 0) stack_[depth_ - 1].hasContent = true;
  }

  // A list holds items and white space only.
  bool TextAllowed() const { return depth_ == 0 || stack_[depth_ - 1].element->kind != Kind::List; }

  const Element* Parent() const { return depth_ > 0 ? stack_[depth_ - 1].element : nullptr; }

  bool Inside(const Element& element) const {
    for (std::size_t i = 0; i < depth_; ++i) {
      if (stack_[i].element == &element) return true;
    }
    return false;
  }

  // Whether the element may stand where it is.
  bool Allowed(const Element& element) const {
    const Element* parent = Parent();
    switch (element.kind) {
      case Kind::Block:
      case Kind::List:
      case Kind::VoidBlock:
        return parent == nullptr || parent->flowInside;
      case Kind::Item:
        return parent != nullptr && parent->kind == Kind::List;
      case Kind::Inline:
      case Kind::VoidInline:
        // No link inside a link, no emphasis inside the same emphasis.
        if (element.kind == Kind::Inline && Inside(element)) return false;
        return parent == nullptr || parent->kind != Kind::List;
    }
    return false;
  }

  std::u16string_view Name() {
    const std::size_t start = at_;
    if (at_ >= s_.size() || !IsLower(s_[at_])) return {};
    while (at_ < s_.size() && (IsLower(s_[at_]) || IsDigit(s_[at_]))) ++at_;
    return s_.substr(start, at_ - start);
  }

  bool Tag() {
    ++at_;  // '<'
    if (at_ < s_.size() && s_[at_] == u'/') {
      ++at_;
      const std::u16string_view name = Name();
      if (name.empty() || at_ >= s_.size() || s_[at_] != u'>') return false;
      ++at_;
      if (depth_ == 0 || stack_[depth_ - 1].element->name != name || !stack_[depth_ - 1].hasContent) return false;
      --depth_;
      MarkContent();
      return true;
    }
    const std::u16string_view name = Name();
    const Element* element = name.empty() ? nullptr : FindElement(name);
    if (element == nullptr || !Allowed(*element)) return false;
    std::u16string_view seen[8];
    std::size_t count = 0;
    std::u16string_view src;
    for (;;) {
      const std::size_t before = at_;
      while (at_ < s_.size() && plat::IsXmlSpace(s_[at_])) ++at_;
      if (at_ >= s_.size()) return false;
      if (s_[at_] == u'>') {
        ++at_;
        break;
      }
      if (s_[at_] == u'/') {
        if (at_ + 1 >= s_.size() || s_[at_ + 1] != u'>') return false;
        if (element->kind != Kind::VoidBlock && element->kind != Kind::VoidInline) return false;
        at_ += 2;
        break;
      }
      if (at_ == before) return false;  // attributes are set apart by white space
      const std::u16string_view attribute = Name();
      const AttributeRule* rule = attribute.empty() ? nullptr : FindAttribute(element->name, attribute);
      if (rule == nullptr || count == std::size(seen)) return false;
      for (std::size_t i = 0; i < count; ++i) {
        if (seen[i] == attribute) return false;
      }
      seen[count++] = attribute;
      if (at_ + 1 >= s_.size() || s_[at_] != u'=' || s_[at_ + 1] != u'"') return false;
      at_ += 2;
      const std::size_t end = s_.find(u'"', at_);
      if (end == std::u16string_view::npos) return false;
      const std::u16string_view value = s_.substr(at_, end - at_);
      if (!IsPlainValue(rule->value, value)) return false;
      if (element->name == u"img" && attribute == u"src") src = value;
      at_ = end + 1;
    }
    if (element->kind == Kind::VoidBlock || element->kind == Kind::VoidInline) {
      if (element->name == u"img" && src.empty()) return false;
      if (!src.empty()) images_.emplace_back(src);
      MarkContent();
      return true;
    }
    if (depth_ == kMaxDepth) return false;
    stack_[depth_++] = {element, false};
    return true;
  }

  bool Reference() {
    ++at_;  // '&'
    const std::size_t end = s_.find(u';', at_);
    if (end == std::u16string_view::npos || end - at_ > 10) return false;
    const std::u16string_view name = s_.substr(at_, end - at_);
    at_ = end + 1;
    if (name == u"amp" || name == u"lt" || name == u"gt" || name == u"quot" || name == u"nbsp") return true;
    if (name.size() < 2 || name[0] != u'#') return false;
    std::uint32_t code = 0;
    if (name[1] == u'x') {
      if (name.size() < 3 || name.size() > 8) return false;
      for (std::size_t i = 2; i < name.size(); ++i) {
        if (!IsHex(name[i])) return false;
        code = code * 16 + (IsDigit(name[i]) ? name[i] - u'0' : (name[i] | 0x20) - u'a' + 10);
      }
    } else {
      if (name.size() > 8) return false;
      for (std::size_t i = 1; i < name.size(); ++i) {
        if (!IsDigit(name[i])) return false;
        code = code * 10 + (name[i] - u'0');
      }
    }
    return code >= 0x20 && IsPlainCodePoint(code);
  }

  std::u16string_view s_;
  CStringList& images_;
  std::size_t at_ = 0;
  Open stack_[kMaxDepth]{};
  std::size_t depth_ = 0;
};

}  // namespace

bool ReadPlainFragmentImages(std::u16string_view html, CStringList& images) {
  CStringList found;
  Reader reader(html, found);
  if (!reader.Read()) return false;
  images.insert(images.end(), found.begin(), found.end());
  return true;
}

}  // namespace Tidy
