// Fuzzes the XML reader with untrusted text: the tree must be built without a
// read past the text, every name and value must be terminated inside it, and
// lookups over any tree must finish.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/XmlDom.h"
#include "platform/base/Text.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Walks a string to its terminator, which must lie inside [begin, end].
void CheckText(const char16_t* s, const char16_t* begin, const char16_t* end) {
  if (!s) return;
  if (s >= begin && s <= end) {
    while (*s) ++s;
    Check(s <= end);
  } else {
    std::size_t n = 0;
    while (s[n]) ++n;  // a copy owned by the tree
  }
}

void Walk(const CXmlNode& root, const char16_t* begin, const char16_t* end) {
  std::vector<CXmlNode> stack{root};
  std::size_t visited = 0;
  while (!stack.empty()) {
    const CXmlNode node = stack.back();
    stack.pop_back();
    ++visited;
    CheckText(node.GetName(), begin, end);
    CheckText(node.GetValue(), begin, end);
    for (std::uint32_t i = 0; i < node.GetAttributeCount(); ++i) {
      const CXmlNode a = node.GetAttribute(i);
      CheckText(a.GetName(), begin, end);
      CheckText(a.GetAttributeValue(), begin, end);
    }
    Check(!node.GetChild(node.GetChildCount()).IsValid());
    for (std::uint32_t i = 0; i < node.GetChildCount(); ++i) {
      const CXmlNode child = node.GetChild(i);
      Check(child.GetParent().GetRecord() == node.GetRecord());
      stack.push_back(child);
    }
  }
  Check(visited >= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::int32_t options = static_cast<std::int32_t>(data[0] | (data[1] << 8));
  data += 2;
  size -= 2;
  // Odd option words take the input as UTF-16 units, even ones as UTF-8.
  std::u16string text;
  if (options & 1) {
    for (std::size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  } else {
    text = plat::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
  }
  // An exactly sized, terminated copy, so a read past it is caught.
  std::vector<char16_t> buffer(text.begin(), text.end());
  buffer.push_back(0);
  const char16_t* begin = buffer.data();
  const char16_t* end = buffer.data() + buffer.size() - 1;

  CXmlDocument doc;
  char16_t* stop = XmlDom::ParseDocument(doc, buffer.data(), options & 0xFFFF);
  Check(stop != nullptr && stop >= begin && stop <= end + 1);
  Walk(doc.GetRoot(), begin, end);

  // Patterns taken from the text: lookups and wildcard matches must finish.
  std::u16string pattern(text.substr(0, std::min<std::size_t>(text.size(), 12)));
  for (auto& c : pattern) {
    if (c == 0) c = u'*';
  }
  const CXmlNode found = doc.GetRoot().FindDescendant(pattern.c_str());
  if (found.IsValid()) Check(found.GetType() == XML_NODE_ELEMENT);
  CXmlNode first = doc.GetRoot().GetChild(0);
  first.FindAttribute(pattern.c_str());
  if (first.GetType() == XML_NODE_ELEMENT) {
    Check(first.GetOrAddAttribute(u"fuzz").IsValid());
  }
  std::u16string name(text.substr(std::min<std::size_t>(text.size(), 12)));
  for (auto& c : name) {
    if (c == 0) c = u'.';
  }
  MatchWildcard(pattern.c_str(), name.c_str());
  return 0;
}
