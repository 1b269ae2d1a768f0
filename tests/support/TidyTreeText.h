// Everything a parsed tree tells (type, name, position, attributes, text, the
// markup of empty elements), one line per node: two trees are the same tree
// when their texts are equal.
#pragma once

#include <string>

#include "update/tidy/TidyDocument.h"
#include "update/tidy/TidyNode.h"

namespace orvtest {

inline void DescribeTidyTree(const Tidy::Node* node, int depth, std::string& out) {
  out += std::string(depth * 2, ' ') + std::to_string(static_cast<int>(node->Type())) + " [" +
         std::string(node->Name()) + "] " + std::to_string(node->Line()) + ":" + std::to_string(node->Column()) +
         (node->IsXml() ? " xml" : "") + (node->IsCut() ? " cut" : "");
  for (const Tidy::Attribute* a = node->FirstAttribute(); a; a = a->Next()) {
    out += " @" + std::string(a->Name()) + (a->HasValue() ? "=[" + std::string(a->Value()) + "]" : "");
  }
  if (node->Text().data() != nullptr) out += " text=[" + std::string(node->Text()) + "]";
  out += "\n";
  if (node->IsElement() && node->FirstChild() == nullptr) out += std::string(depth * 2 + 2, ' ') + node->GetMarkupUtf8() + "\n";
  for (const Tidy::Node* child = node->FirstChild(); child; child = child->Next()) DescribeTidyTree(child, depth + 1, out);
}

// The document's parse result and counts, then its tree.
inline std::string DescribeTidyDocument(const Tidy::Document& document) {
  std::string out = "status " + std::to_string(document.GetLibraryStatus()) + " repairs " +
                    std::to_string(document.GetRepairCount()) + " reports " +
                    std::to_string(document.GetReportCount()) + " xml " + std::to_string(document.IsXml()) + "\n";
  if (document.GetRoot() != nullptr) DescribeTidyTree(document.GetRoot(), 0, out);
  return out;
}

}  // namespace orvtest
