#include "update/TidyNodesIterator.h"

#include "platform/base/Text.h"
#include "update/ScriptDocumentModel.h"
#include "update/TidyNode.h"

void CTidyNodesIterator::WalkDescendants(Tidy::Node* node, Tidy::Document* document) {
  if (!node) return;
  for (Tidy::Node* n = node->FirstChild(); n; n = n->NextInSubtree(node)) Test(n, document);
}

void CTidyNodesIterator::WalkChildren(Tidy::Node* node, Tidy::Document* document) {
  if (!node) return;
  for (Tidy::Node* n = node->FirstChild(); n; n = n->Next()) Test(n, document);
}

bool CTidyNodesIterator::Passes(const Tidy::Node* node) const noexcept {
  if (!node) return false;
  if (tag_ && !node->NameIs(*tag_)) return false;
  int type = GetScriptNodeType(node);
  if (type >= 32 || !(typeMask_ & (1u << type))) return false;
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

void CTidyNodesIterator::Test(Tidy::Node* node, Tidy::Document* document) {
  if (Passes(node)) Add(node, document);
}

void CTidyNodesIterator::Add(Tidy::Node* node, Tidy::Document* document) {
  PushScriptNode(ctx_, document, node);
  duk_put_prop_index(ctx_, list_, static_cast<duk_uarridx_t>(duk_get_length(ctx_, list_)));
}
