#include "update/tidy/TidyNodesIterator.h"

#include "platform/base/Text.h"
#include "update/tidy/TidyNode.h"

void CTidyNodesIterator::WalkDescendants(Tidy::Node* node, Visitor visit, void* context) const {
  if (!node) return;
  for (Tidy::Node* n = node->FirstChild(); n; n = n->NextInSubtree(node)) Test(n, visit, context);
}

void CTidyNodesIterator::WalkChildren(Tidy::Node* node, Visitor visit, void* context) const {
  if (!node) return;
  for (Tidy::Node* n = node->FirstChild(); n; n = n->Next()) Test(n, visit, context);
}

bool CTidyNodesIterator::Passes(const Tidy::Node* node) const noexcept {
  if (!node) return false;
  if (tag_ && !node->NameIs(*tag_)) return false;
  if (attributeName_) {
    const Tidy::Attribute* attribute = node->FindAttribute(*attributeName_);
    if (!attribute) return false;
    if (attributeValue_ && attribute->Value() != *attributeValue_) return false;
  }
  if (content_) {
    try {
      if (!plat::EqualsNoCase(plat::Utf8ToUtf16(node->GetMarkupUtf8()), plat::Utf8ToUtf16(*content_))) return false;
    } catch (...) {
      return false;
    }
  }
  return true;
}
