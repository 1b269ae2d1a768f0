// CTidyNodesIterator: walks a document's node tree and hands each node that
// passes its filters to a visitor. The script document model fills the lists
// of Node.all, Node.childNodes, the getElementsBy... methods and the list
// filters with it; the iterator itself knows nothing of the script engine.
//
// The walk calls the visitor from plain frames that hold no object with a
// destructor, so a visitor may leave by the script engine's error jump.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Tidy {
class Node;
}  // namespace Tidy

class CTidyNodesIterator {
 public:
  // Receives each passing node; context is the caller's.
  using Visitor = void (*)(Tidy::Node* node, void* context);

  // Filters, as UTF-8 (the tree's texts). The tag name and the attribute name
  // compare ignoring case, the attribute value exactly, the content (the
  // node's markup) ignoring case.
  void SetTagFilter(std::string_view name) { tag_ = std::string(name); }
  void SetAttributeFilter(std::string_view name) { attributeName_ = std::string(name); }
  void SetAttributeValueFilter(std::string_view value) { attributeValue_ = std::string(value); }
  void SetContentFilter(std::string_view markup) { content_ = std::string(markup); }

  // Tests every descendant of node in document order (parent before its
  // children); node itself is not tested.
  void WalkDescendants(Tidy::Node* node, Visitor visit, void* context) const;
  // Tests each child of node, without descending.
  void WalkChildren(Tidy::Node* node, Visitor visit, void* context) const;
  // Hands node to visit when it passes every filter that is set.
  void Test(Tidy::Node* node, Visitor visit, void* context) const {
    if (Passes(node)) visit(node, context);
  }

  // The filters alone.
  bool Passes(const Tidy::Node* node) const noexcept;

 private:
  std::optional<std::string> tag_;
  std::optional<std::string> attributeName_;
  std::optional<std::string> attributeValue_;
  std::optional<std::string> content_;
};
