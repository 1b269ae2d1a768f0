#include "core/XmlDom.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

const char16_t kEmptyText[] = u"";

bool IsWs(char16_t c) { return c < 33; }

bool IsNameChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_' ||
         c == u':' || c == u'-' || c == u'.' || c >= 0x80;
}

std::size_t WideLength(const char16_t* s) {
  std::size_t n = 0;
  while (s[n]) ++n;
  return n;
}

char16_t* CopyWide(const char16_t* s) {
  const std::size_t n = WideLength(s);
  auto* copy = static_cast<char16_t*>(std::malloc((n + 1) * sizeof(char16_t)));
  if (copy) std::memcpy(copy, s, (n + 1) * sizeof(char16_t));
  return copy;
}

bool StartsWith(const char16_t* p, const char16_t* end, const char16_t* literal) {
  for (; *literal; ++literal, ++p) {
    if (p >= end || *p != *literal) return false;
  }
  return true;
}

// Grows an array of pointers by step entries when it is full.
template <class T>
bool Reserve(T**& array, std::uint32_t count, std::uint32_t& capacity, std::int32_t step) {
  if (count < capacity) return true;
  const std::uint32_t grow = step > 0 ? static_cast<std::uint32_t>(step) : 4u;
  if (capacity > 0x3FFFFFFFu - grow) return false;
  auto** grown = static_cast<T**>(std::realloc(array, (capacity + grow) * sizeof(T*)));
  if (!grown) return false;
  array = grown;
  capacity += grow;
  return true;
}

XmlNodeRecord* NewNode(XmlNodeRecord* parent, std::int32_t type) {
  auto* node = new (std::nothrow) XmlNodeRecord;
  if (!node) return nullptr;
  node->parent = parent ? parent : node;
  node->type = type;
  const bool noAttributes = type == XML_NODE_DOCUMENT || type == XML_NODE_TEXT || type == XML_NODE_CDATA ||
                            type == XML_NODE_COMMENT || type == XML_NODE_INCLUDE;
  const bool hasChildren = type == XML_NODE_DOCUMENT || type == XML_NODE_ELEMENT || type == XML_NODE_DOCTYPE;
  if (!noAttributes) {
    node->attributes = static_cast<XmlAttribute**>(std::malloc(sizeof(XmlAttribute*)));
    node->attributeCapacity = node->attributes ? 1 : 0;
  }
  if (hasChildren) {
    node->children = static_cast<XmlNodeRecord**>(std::malloc(sizeof(XmlNodeRecord*)));
    node->childCapacity = node->children ? 1 : 0;
  }
  return node;
}

void FreeNodeFields(XmlNodeRecord* node) {
  for (std::uint32_t i = 0; i < node->attributeCount; ++i) {
    XmlAttribute* a = node->attributes[i];
    if (!a->nameInPlace) std::free(const_cast<char16_t*>(a->name));
    if (!a->valueInPlace) std::free(const_cast<char16_t*>(a->value));
    delete a;
  }
  std::free(node->attributes);
  std::free(node->children);
  if (!node->nameInPlace) std::free(const_cast<char16_t*>(node->name));
  if (!node->valueInPlace) std::free(const_cast<char16_t*>(node->value));
}

XmlNodeRecord* AppendChild(XmlNodeRecord* parent, std::int32_t type, std::int32_t step) {
  if (!Reserve(parent->children, parent->childCount, parent->childCapacity, step)) return nullptr;
  XmlNodeRecord* node = NewNode(parent, type);
  if (!node) return nullptr;
  parent->children[parent->childCount++] = node;
  return node;
}

XmlAttribute* AppendAttributeRecord(XmlNodeRecord* node, std::int32_t step) {
  if (!Reserve(node->attributes, node->attributeCount, node->attributeCapacity, step)) return nullptr;
  auto* attribute = new (std::nothrow) XmlAttribute;
  if (!attribute) return nullptr;
  node->attributes[node->attributeCount++] = attribute;
  return attribute;
}

class CParser {
 public:
  CParser(XmlNodeRecord* base, char16_t* text, char16_t* end, std::int32_t options, std::int32_t step,
          std::uint32_t depth, bool inSubset)
      : base_(base), cur_(base), p_(text), end_(end), options_(options), step_(step), depth_(depth),
        inSubset_(inSubset) {}

  char16_t* Run();

 private:
  bool Opt(std::int32_t bit) const { return (options_ & bit) != 0; }

  // Trims (or normalises) [s, e) when asked and terminates it; e is at most
  // the end of the text, where the terminating NUL already stands.
  const char16_t* Finish(char16_t* s, char16_t* e, bool trim) const;
  char16_t* Find(char16_t* from, char16_t c) const {
    while (from < end_ && *from != c) ++from;
    return from;
  }
  char16_t* FindLiteral(char16_t* from, const char16_t* literal) const {
    for (; from < end_; ++from) {
      if (StartsWith(from, end_, literal)) return from;
    }
    return end_;
  }
  char16_t* SkipWs(char16_t* from) const {
    while (from < end_ && IsWs(*from)) ++from;
    return from;
  }
  void Close() {
    if (cur_ != base_) {
      cur_ = cur_->parent;
      if (depth_ > 0) --depth_;
    }
  }

  // Each returns false when parsing ends; p_ is then where it stopped.
  bool Tag(std::int32_t type, char16_t* nameStart);
  bool Section(std::int32_t type, bool makeNode, bool trim);
  bool Doctype();
  bool Declaration();
  bool SkipPast(char16_t c) {
    char16_t* q = Find(p_, c);
    if (q >= end_) {
      p_ = end_;
      return false;
    }
    p_ = q + 1;
    return true;
  }

  XmlNodeRecord* const base_;
  XmlNodeRecord* cur_;
  char16_t* p_;
  char16_t* const end_;
  const std::int32_t options_;
  const std::int32_t step_;
  std::uint32_t depth_;
  const bool inSubset_;
  bool keepText_ = false;
};

const char16_t* CParser::Finish(char16_t* s, char16_t* e, bool trim) const {
  if (trim) {
    while (s < e && IsWs(*s)) ++s;
    while (e > s && IsWs(e[-1])) --e;
    if (Opt(XML_OPT_NORMALIZE)) {
      char16_t* out = s;
      for (char16_t* in = s; in < e;) {
        if (IsWs(*in)) {
          while (in < e && IsWs(*in)) ++in;
          *out++ = u' ';
        } else {
          *out++ = *in++;
        }
      }
      e = out;
    }
  }
  *e = 0;
  return s;
}

char16_t* CParser::Run() {
  for (;;) {
    char16_t* lt = Find(p_, u'<');
    const bool afterText = keepText_;
    if (keepText_) {
      keepText_ = false;
      bool blank = true;
      for (char16_t* q = p_; q < lt; ++q) {
        if (!IsWs(*q)) {
          blank = false;
          break;
        }
      }
      if (!blank) {
        XmlNodeRecord* text = AppendChild(cur_, XML_NODE_TEXT, step_);
        if (!text) return p_;
        text->value = Finish(p_, lt, Opt(XML_OPT_TRIM_TEXT));
      }
    }
    if (lt + 1 >= end_) return end_;
    p_ = lt + 1;
    const char16_t c = *p_;
    bool go = true;
    if (c == u'?') {
      if (p_ + 1 < end_ && IsNameChar(p_[1]) && Opt(XML_OPT_PI)) {
        go = Tag(XML_NODE_PI, p_ + 1);
      } else {
        go = SkipPast(u'>');
      }
    } else if (c == u'!') {
      if (StartsWith(p_, end_, u"!--")) {
        p_ += 3;
        go = Section(XML_NODE_COMMENT, Opt(XML_OPT_COMMENTS), Opt(XML_OPT_TRIM_COMMENTS));
      } else if (StartsWith(p_, end_, u"![CDATA[")) {
        p_ += 8;
        go = Section(XML_NODE_CDATA, Opt(XML_OPT_CDATA), Opt(XML_OPT_TRIM_CDATA));
      } else if (StartsWith(p_, end_, u"![INCLUDE[")) {
        p_ += 10;
        go = Section(XML_NODE_INCLUDE, Opt(XML_OPT_DOCTYPE), Opt(XML_OPT_TRIM_CDATA));
      } else if (StartsWith(p_, end_, u"!DOCTYPE") && p_ + 8 < end_ && IsWs(p_[8])) {
        p_ += 9;
        go = Doctype();
      } else if (p_ + 1 < end_ && IsNameChar(p_[1])) {
        ++p_;
        go = Declaration();
      } else {
        go = SkipPast(u'>');
      }
    } else if (c == u'/') {
      go = SkipPast(u'>');
      Close();
      keepText_ = afterText;
    } else if (IsNameChar(c)) {
      go = Tag(XML_NODE_ELEMENT, p_);
    }
    // Any other character after "<" is no markup: scanning goes on from it.
    if (!go) return p_;
  }
}

bool CParser::Tag(std::int32_t type, char16_t* nameStart) {
  if (type == XML_NODE_ELEMENT && depth_ >= kXmlMaxDepth) {
    p_ = nameStart;
    return false;
  }
  char16_t* q = nameStart;
  while (q < end_ && IsNameChar(*q)) ++q;
  XmlNodeRecord* node = AppendChild(cur_, type, step_);
  if (!node) {
    p_ = nameStart;
    return false;
  }
  node->name = nameStart;
  const char16_t closer = type == XML_NODE_PI ? u'?' : u'/';
  cur_ = node;
  ++depth_;
  if (q >= end_) {
    p_ = end_;
    return false;
  }
  const char16_t consumed = *q;
  *q = 0;
  p_ = q + 1;

  bool hasAttributes = false;
  // What a character that ends the tag does: ">" ends the start tag (an
  // instruction closes there too), the closer closes the element.
  auto endTag = [&](char16_t c) {
    if (c == u'>') {
      if (type == XML_NODE_PI) {
        Close();
        keepText_ = hasAttributes;
      } else {
        keepText_ = true;
      }
      return true;
    }
    Close();
    keepText_ = hasAttributes;
    return SkipPast(u'>');
  };
  if (consumed == u'>' || consumed == closer || consumed == u'/') {
    if (consumed != u'>') hasAttributes = false;
    return endTag(consumed);
  }

  for (;;) {
    p_ = SkipWs(p_);
    if (p_ >= end_) return false;
    const char16_t d = *p_;
    if (d == u'>') {
      ++p_;
      return endTag(d);
    }
    if (d == closer || d == u'/') {
      ++p_;
      return endTag(d);
    }
    if (!IsNameChar(d)) {
      ++p_;  // stray character between attributes
      continue;
    }
    char16_t* s = p_;
    char16_t* e = s;
    while (e < end_ && IsNameChar(*e)) ++e;
    XmlAttribute* attribute = AppendAttributeRecord(node, step_);
    if (!attribute) return false;
    attribute->name = s;
    hasAttributes = true;
    if (e >= end_) {
      p_ = end_;
      return false;
    }
    const char16_t after = *e;
    *e = 0;
    p_ = e + 1;
    bool hasValue = false;
    if (after == u'=') {
      hasValue = true;
    } else if (IsWs(after)) {
      char16_t* r = SkipWs(p_);
      if (r < end_ && *r == u'=') {
        hasValue = true;
        p_ = r + 1;
      }
    } else if (after == u'>' || after == closer || after == u'/') {
      return endTag(after);
    } else if (p_ < end_ && *p_ == u'=') {
      hasValue = true;
      ++p_;
    }
    if (!hasValue) continue;
    p_ = SkipWs(p_);
    if (p_ >= end_) return false;
    const char16_t quote = *p_;
    if (quote == u'"' || quote == u'\'') {
      char16_t* vs = p_ + 1;
      char16_t* ve = Find(vs, quote);
      attribute->value = Finish(vs, ve, Opt(XML_OPT_TRIM_ATTRIBUTES));
      if (ve >= end_) {
        p_ = end_;
        return false;
      }
      p_ = ve + 1;
      continue;
    }
    // An unquoted value runs to whitespace or ">"; "/>" right after it closes.
    char16_t* vs = p_;
    char16_t* ve = vs;
    while (ve < end_ && !IsWs(*ve) && *ve != u'>') ++ve;
    const char16_t stop = ve < end_ ? *ve : 0;
    const bool selfClose = stop == u'>' && ve > vs && ve[-1] == u'/';
    attribute->value = Finish(vs, selfClose ? ve - 1 : ve, Opt(XML_OPT_TRIM_ATTRIBUTES));
    if (ve >= end_) {
      p_ = end_;
      return false;
    }
    p_ = ve + 1;
    if (stop == u'>') {
      if (selfClose) {
        Close();
        keepText_ = true;
        return true;
      }
      return endTag(u'>');
    }
  }
}

bool CParser::Section(std::int32_t type, bool makeNode, bool trim) {
  const char16_t* terminator = type == XML_NODE_COMMENT ? u"-->" : u"]]>";
  char16_t* q = FindLiteral(p_, terminator);
  if (q >= end_) {
    p_ = end_;
    return false;
  }
  if (makeNode) {
    XmlNodeRecord* node = AppendChild(cur_, type, step_);
    if (!node) return false;
    node->value = Finish(p_, q, trim);
  }
  p_ = q + 3;
  keepText_ = true;
  return true;
}

bool CParser::Doctype() {
  XmlNodeRecord* node = nullptr;
  if (Opt(XML_OPT_DOCTYPE)) {
    node = AppendChild(cur_, XML_NODE_DOCTYPE, step_);
    if (!node) return false;
    node->name = u"DOCTYPE";
  }
  auto addAttribute = [&](const char16_t* name, const char16_t* value) {
    if (!node) return true;
    XmlAttribute* a = AppendAttributeRecord(node, step_);
    if (!a) return false;
    a->name = name;
    a->value = value;
    return true;
  };
  char16_t pending = 0;  // a character that ended a word and was overwritten
  for (;;) {
    char16_t d;
    if (pending) {
      d = pending;
      pending = 0;
      --p_;  // p_ is just past the overwritten character
    } else {
      p_ = SkipWs(p_);
      if (p_ >= end_) return false;
      d = *p_;
    }
    if (d == u'>') {
      ++p_;
      break;
    }
    if (d == u'[') {
      int nesting = 1;
      char16_t* e = p_ + 1;
      for (; e < end_; ++e) {
        if (*e == u'[') ++nesting;
        if (*e == u']' && --nesting == 0) break;
      }
      if (e >= end_) {
        p_ = end_;
        return false;
      }
      char16_t* s = p_ + 1;
      if (node) {
        if (Opt(XML_OPT_PARSE_SUBSET) && !inSubset_) {
          *e = 0;
          node->value = s;
          CParser subset(node, s, e, options_, step_, depth_ + 1, true);
          subset.Run();
        } else {
          node->value = Finish(s, e, Opt(XML_OPT_TRIM_SUBSET));
        }
      }
      p_ = e + 1;
      if (Opt(XML_OPT_STOP_AFTER_SUBSET)) return false;
      // Whatever follows the subset up to ">" is skipped.
      if (!SkipPast(u'>')) return false;
      break;
    }
    if (d == u'"' || d == u'\'') {
      char16_t* s = p_ + 1;
      char16_t* e = Find(s, d);
      if (e >= end_) {
        p_ = end_;
        return false;
      }
      *e = 0;
      if (!addAttribute(nullptr, s)) return false;
      p_ = e + 1;
      continue;
    }
    char16_t* s = p_;
    char16_t* e = s;
    while (e < end_ && !IsWs(*e) && *e != u'[' && *e != u'>' && *e != u'"' && *e != u'\'') ++e;
    if (e == s) {
      ++p_;
      continue;
    }
    if (e >= end_) {
      addAttribute(s, s);
      p_ = end_;
      return false;
    }
    const char16_t c = *e;
    *e = 0;
    if (!addAttribute(s, s)) return false;
    p_ = e + 1;
    if (!IsWs(c)) pending = c;
  }
  keepText_ = false;
  return true;
}

bool CParser::Declaration() {
  char16_t* word = p_;
  char16_t* we = word;
  while (we < end_ && IsNameChar(*we)) ++we;
  const std::size_t length = static_cast<std::size_t>(we - word);
  auto is = [&](const char16_t* w) {
    return WideLength(w) == length && std::memcmp(w, word, length * sizeof(char16_t)) == 0;
  };
  const std::int32_t type =
      is(u"ATTLIST") ? XML_NODE_ATTLIST : is(u"ELEMENT") ? XML_NODE_ELEMENT_DECL
                                        : is(u"NOTATION") ? XML_NODE_NOTATION
                                                          : XML_NODE_ENTITY;
  XmlNodeRecord* node = AppendChild(cur_, type, step_);
  if (!node) return false;
  keepText_ = false;
  p_ = SkipWs(we);
  if (p_ >= end_) return false;
  if (*p_ != u'>') {
    char16_t* nameStart = p_;
    char16_t* q = p_;
    if (*q == u'%') q = SkipWs(q + 1);
    while (q < end_ && !IsWs(*q) && *q != u'>') ++q;
    node->name = nameStart;
    if (q >= end_) {
      p_ = end_;
      return false;
    }
    const char16_t c = *q;
    *q = 0;
    p_ = q + 1;
    if (c == u'>') return true;
    p_ = SkipWs(p_);
    char16_t* vs = p_;
    char16_t* ve = vs;
    char16_t quote = 0;
    for (; ve < end_; ++ve) {
      if (quote) {
        if (*ve == quote) quote = 0;
      } else if (*ve == u'>') {
        break;
      } else if (type == XML_NODE_ENTITY && (*ve == u'"' || *ve == u'\'')) {
        quote = *ve;
      }
    }
    node->value = Finish(vs, ve, Opt(XML_OPT_TRIM_DECLARATIONS));
    if (ve >= end_) {
      p_ = end_;
      return false;
    }
    p_ = ve + 1;
    return true;
  }
  ++p_;
  return true;
}

// Set at pattern (pointing at "["): true when it is well formed, with inSet
// telling whether c belongs to it and next pointing past its "]".
bool MatchSet(const char16_t* pattern, char16_t c, bool& inSet, const char16_t*& next) {
  const char16_t* q = pattern + 1;
  bool negate = false;
  if (*q == u'!') {
    negate = true;
    ++q;
  }
  const char16_t* first = q;
  bool found = false;
  for (;;) {
    if (*q == 0) return false;
    if (*q == u']' && q != first) break;
    if (q[1] == u'-' && q[2] != u']' && q[2] != 0 && q[0] <= q[2]) {
      if (c >= q[0] && c <= q[2]) found = true;
      q += 3;
      continue;
    }
    if (*q == c) found = true;
    ++q;
  }
  inSet = negate ? !found : found;
  next = q + 1;
  return true;
}

}  // namespace

bool MatchWildcard(const char16_t* pattern, const char16_t* name) {
  if (!pattern || !name) return false;
  const char16_t* p = pattern;
  const char16_t* n = name;
  const char16_t* starP = nullptr;
  const char16_t* starN = nullptr;
  while (*n) {
    if (*p == u'*') {
      while (*p == u'*') ++p;
      if (!*p) return true;
      starP = p;
      starN = n;
      continue;
    }
    bool matched = false;
    const char16_t* next = p + 1;
    if (*p == u'?') {
      matched = true;
    } else if (*p == u'[') {
      bool inSet = false;
      if (MatchSet(p, *n, inSet, next)) {
        matched = inSet;
      } else {
        matched = *n == u'[';
        next = p + 1;
      }
    } else if (*p) {
      matched = *p == *n;
    }
    if (matched) {
      p = next;
      ++n;
      continue;
    }
    if (!starP) return false;
    p = starP;
    n = ++starN;
  }
  while (*p == u'*') ++p;
  return *p == 0;
}

bool AppendWideString(char16_t*& buffer, const char16_t* text) {
  const std::size_t old = buffer ? WideLength(buffer) : 0;
  const std::size_t add = text ? WideLength(text) : 0;
  auto* grown = static_cast<char16_t*>(std::realloc(buffer, (old + add + 1) * sizeof(char16_t)));
  if (!grown) return false;
  if (add) std::memcpy(grown + old, text, add * sizeof(char16_t));
  grown[old + add] = 0;
  buffer = grown;
  return true;
}

// ---- CXmlNode -------------------------------------------------------------------

bool CXmlNode::IsValid() const {
  if (attribute_) return attribute_->name != nullptr;
  return node_ && node_->type != XML_NODE_NONE && node_->name != nullptr;
}

std::int32_t CXmlNode::GetType() const { return (node_ && !attribute_) ? node_->type : XML_NODE_NONE; }

const char16_t* CXmlNode::GetName() const {
  if (attribute_) return attribute_->name;
  return node_ ? node_->name : nullptr;
}

const char16_t* CXmlNode::GetValue() const {
  if (attribute_) return attribute_->value;
  return node_ ? node_->value : nullptr;
}

CXmlNode CXmlNode::GetParent() const {
  if (attribute_) return CXmlNode(node_);
  return node_ ? CXmlNode(node_->parent) : CXmlNode();
}

std::uint32_t CXmlNode::GetChildCount() const { return (node_ && !attribute_) ? node_->childCount : 0; }

CXmlNode CXmlNode::GetChild(std::uint32_t index) const {
  if (!node_ || attribute_ || index >= node_->childCount) return {};
  return CXmlNode(node_->children[index]);
}

std::uint32_t CXmlNode::GetAttributeCount() const {
  return (node_ && !attribute_) ? node_->attributeCount : 0;
}

CXmlNode CXmlNode::GetAttribute(std::uint32_t index) const {
  if (!node_ || attribute_ || index >= node_->attributeCount) return {};
  return CXmlNode(node_, node_->attributes[index]);
}

std::int32_t CXmlNode::FindAttribute(const char16_t* pattern) const {
  if (!pattern || !node_ || attribute_) return -1;
  for (std::uint32_t i = 0; i < node_->attributeCount; ++i) {
    if (MatchWildcard(pattern, node_->attributes[i]->name)) return static_cast<std::int32_t>(i);
  }
  return -1;
}

XmlAttribute* CXmlNode::FindAttributeRecord(const char16_t* pattern) const {
  const std::int32_t i = FindAttribute(pattern);
  return i < 0 ? nullptr : node_->attributes[i];
}

CXmlNode CXmlNode::FindDescendant(const char16_t* pattern) const {
  if (!pattern || !node_ || attribute_) return {};
  // Depth first, a node before its children, without recursion.
  struct Frame {
    XmlNodeRecord* node;
    std::uint32_t next;
  };
  std::vector<Frame> stack;
  try {
    stack.push_back({node_, 0});
    while (!stack.empty()) {
      Frame& top = stack.back();
      if (top.next >= top.node->childCount) {
        stack.pop_back();
        continue;
      }
      XmlNodeRecord* child = top.node->children[top.next++];
      if (child->type == XML_NODE_ELEMENT && MatchWildcard(pattern, child->name)) return CXmlNode(child);
      if (child->childCount) stack.push_back({child, 0});
    }
  } catch (const std::bad_alloc&) {
  }
  return {};
}

CXmlNode CXmlNode::AppendAttribute(const char16_t* name, const char16_t* value) {
  if (!name || !value || !node_ || attribute_) return {};
  char16_t* nameCopy = CopyWide(name);
  char16_t* valueCopy = nameCopy ? CopyWide(value) : nullptr;
  XmlAttribute* attribute = valueCopy ? AppendAttributeRecord(node_, 4) : nullptr;
  if (!attribute) {
    std::free(nameCopy);
    std::free(valueCopy);
    return {};
  }
  attribute->name = nameCopy;
  attribute->nameInPlace = false;
  attribute->value = valueCopy;
  attribute->valueInPlace = false;
  return CXmlNode(node_, attribute);
}

CXmlNode CXmlNode::GetOrAddAttribute(const char16_t* name) {
  if (XmlAttribute* found = FindAttributeRecord(name)) return CXmlNode(node_, found);
  return AppendAttribute(name, kEmptyText);
}

const char16_t* CXmlNode::GetAttributeValue() const { return attribute_ ? attribute_->value : nullptr; }

// ---- CXmlDocument and the parse entry -----------------------------------------

CXmlDocument::~CXmlDocument() {
  if (ownsTree_) XmlDom::FreeTree(root_);
  root_ = nullptr;
  delete[] textBuffer_;
}

void CXmlDocument::Clear() {
  XmlDom::FreeTree(root_);
  root_ = nullptr;
  delete[] textBuffer_;
  textBuffer_ = nullptr;
}

void CXmlDocument::SetTextBuffer(char16_t* text) {
  if (textBuffer_ != text) delete[] textBuffer_;
  textBuffer_ = text;
}

struct XmlDomAccess {
  static XmlNodeRecord*& Root(CXmlDocument& d) { return d.root_; }
};

namespace XmlDom {

void FreeTree(XmlNodeRecord* root) {
  if (!root) return;
  // Walks down to a leaf, frees it and climbs back, using each node's child
  // count as the cursor of what is left to free.
  XmlNodeRecord* node = root;
  for (;;) {
    if (node->childCount > 0) {
      node = node->children[--node->childCount];
      continue;
    }
    XmlNodeRecord* parent = node->parent;
    FreeNodeFields(node);
    const bool done = node == root;
    delete node;
    if (done) return;
    node = parent;
  }
}

char16_t* Parse(XmlNodeRecord* node, char16_t* text, std::int32_t options, std::int32_t growthStep) {
  if (!text || !node) return nullptr;
  char16_t* end = text + WideLength(text);
  CParser parser(node, text, end, options, growthStep, 0, false);
  return parser.Run();
}

char16_t* ParseDocument(CXmlDocument& document, char16_t* text, std::int32_t options) {
  if (!text) return nullptr;
  document.Clear();
  XmlNodeRecord* root = NewNode(nullptr, XML_NODE_DOCUMENT);
  if (!root) return text;
  root->name = kEmptyText;
  XmlDomAccess::Root(document) = root;
  if (options != XML_OPT_KEEP) document.SetOptions(options);
  return Parse(root, text, document.GetOptions(), document.GetGrowthStep());
}

}  // namespace XmlDom
