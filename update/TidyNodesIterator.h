// CTidyNodesIterator: walks a document's node tree and appends the nodes that
// pass its filters, as script Node objects, to a script node list. It fills
// the lists of Node.all, Node.childNodes, the getElementsBy... methods and the
// list filters.
//
// Add puts script objects into the list and may throw a script error (out of
// memory): walks run inside a protected call, and the iterator itself lives
// outside it (its filters are C++ strings).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "duktape.h"

namespace Tidy {
class Document;
class Node;
}  // namespace Tidy

class CTidyNodesIterator {
 public:
  // Every node type passes by default.
  static constexpr std::uint32_t kAllTypes = 0xFFFFFFFFu;

  explicit CTidyNodesIterator(duk_context* ctx) : ctx_(ctx) {}
  virtual ~CTidyNodesIterator() = default;
  CTidyNodesIterator(const CTidyNodesIterator&) = delete;
  CTidyNodesIterator& operator=(const CTidyNodesIterator&) = delete;

  // The list that passing nodes are appended to (a value stack index).
  void SetResultList(duk_idx_t list) { list_ = list; }

  // Filters, as UTF-8 (the tree's texts). The tag name and the attribute name
  // compare ignoring case, the attribute value exactly, the content (the
  // node's markup) ignoring case. The type mask has bit n set for each
  // script node type number n that passes.
  void SetTagFilter(std::string_view name) { tag_ = std::string(name); }
  void SetAttributeFilter(std::string_view name) { attributeName_ = std::string(name); }
  void SetAttributeValueFilter(std::string_view value) { attributeValue_ = std::string(value); }
  void SetContentFilter(std::string_view markup) { content_ = std::string(markup); }
  void SetTypeMask(std::uint32_t mask) { typeMask_ = mask; }

  // Tests every descendant of node in document order (parent before its
  // children); node itself is not tested.
  virtual void WalkDescendants(Tidy::Node* node, Tidy::Document* document);
  // Tests each child of node, without descending.
  virtual void WalkChildren(Tidy::Node* node, Tidy::Document* document);
  // Hands node to Add when it passes every filter that is set.
  virtual void Test(Tidy::Node* node, Tidy::Document* document);
  // Appends the node's script object to the list.
  virtual void Add(Tidy::Node* node, Tidy::Document* document);

  // The filters alone (no engine call).
  bool Passes(const Tidy::Node* node) const noexcept;

 private:
  duk_context* ctx_;
  duk_idx_t list_ = 0;
  std::optional<std::string> tag_;
  std::optional<std::string> attributeName_;
  std::optional<std::string> attributeValue_;
  std::optional<std::string> content_;
  std::uint32_t typeMask_ = kAllTypes;
};
