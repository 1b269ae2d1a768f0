#include "update/tidy/TidyNode.h"

#include "platform/base/Text.h"
#include "update/tidy/TidyNames.h"

namespace Tidy {

namespace {

bool IsRawTextElement(std::string_view name) { return OneOf(name, {"script", "style"}); }

void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char* entity = nullptr;
    switch (text[i]) {
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '"': entity = attribute ? "&quot;" : nullptr; break;
      default: break;
    }
    if (entity) {
      out.append(text.data() + run, i - run);
      out.append(entity);
      run = i + 1;
    }
  }
  out.append(text.data() + run, text.size() - run);
}

void AppendAttributes(const Node* node, std::string& out, bool skipEncoding) {
  for (const Attribute* a = node->FirstAttribute(); a; a = a->Next()) {
    if (skipEncoding && a->NameIs("encoding")) continue;
    out += ' ';
    out.append(a->Name());
    if (a->HasValue()) {
      out += "=\"";
      AppendEscaped(out, a->Value(), true);
      out += '"';
    } else if (node->IsXml()) {
      out += "=\"\"";
    }
  }
}

void AppendDocType(const Node* node, std::string& out) {
  out += "<!DOCTYPE ";
  out.append(node->Name());
  const Attribute* pub = node->FindAttribute("PUBLIC");
  const Attribute* sys = node->FindAttribute("SYSTEM");
  if (pub && pub->HasValue()) {
    out += " PUBLIC \"";
    out.append(pub->Value());
    out += '"';
    if (sys && sys->HasValue()) {
      out += " \"";
      out.append(sys->Value());
      out += '"';
    }
  } else if (sys && sys->HasValue()) {
    out += " SYSTEM \"";
    out.append(sys->Value());
    out += '"';
  }
  out += ">\n";
}

void AppendCData(std::string_view text, std::string& out) {
  out += "<![CDATA[";
  // A "]]>" inside the text is split over two sections.
  std::size_t from = 0;
  for (;;) {
    std::size_t at = text.find("]]>", from);
    if (at == std::string_view::npos) break;
    out.append(text.data() + from, at + 2 - from);
    out += "]]><![CDATA[";
    from = at + 2;
  }
  out.append(text.data() + from, text.size() - from);
  out += "]]>";
}

// Writes the node; true when its children are to be written next (its end
// follows them), false when the node was written whole.
bool AppendOpen(const Node* node, std::string& out) {
  switch (node->Type()) {
    case NodeType::Root:
      return node->FirstChild() != nullptr;
    case NodeType::DocType:
      AppendDocType(node, out);
      return false;
    case NodeType::Comment:
      out += "<!--";
      out.append(node->Text());
      out += "-->";
      return false;
    case NodeType::ProcIns:
    case NodeType::Php:
      out += "<?";
      out.append(node->Name());  // the target of a processing instruction
      out.append(node->Text());
      out += "?>";
      return false;
    case NodeType::Text:
      AppendEscaped(out, node->Text(), false);
      return false;
    case NodeType::CData:
      AppendCData(node->Text(), out);
      return false;
    case NodeType::Section:
      out += "<![";
      out.append(node->Text());
      out += "]>";
      return false;
    case NodeType::Asp:
      out += "<%";
      out.append(node->Text());
      out += "%>";
      return false;
    case NodeType::Jste:
      out += "<#";
      out.append(node->Text());
      out += "#>";
      return false;
    case NodeType::XmlDecl:
      out += "<?xml";
      AppendAttributes(node, out, true);
      out += "?>\n";
      return false;
    case NodeType::Element:
      break;
  }
  out += '<';
  out.append(node->Name());
  AppendAttributes(node, out, false);
  if (node->IsXml()) {
    if (!node->FirstChild()) {
      out += "/>";
      return false;
    }
    out += '>';
    return true;
  }
  if (IsVoidElement(node->Name())) {
    out += " />";
    return false;
  }
  out += '>';
  if (IsRawTextElement(node->Name())) {
    for (const Node* child = node->FirstChild(); child; child = child->Next()) out.append(child->Text());
    out += "</";
    out.append(node->Name());
    out += '>';
    return false;
  }
  if (!node->FirstChild()) {
    out += "</";
    out.append(node->Name());
    out += '>';
    return false;
  }
  return true;
}

void AppendClose(const Node* node, std::string& out) {
  if (node->Type() != NodeType::Element) return;
  out += "</";
  out.append(node->Name());
  out += '>';
}

}  // namespace

// ---- Attributes -------------------------------------------------------------

bool IsUrlAttributeName(std::string_view name) {
  return OneOf(name, {"action", "background", "cite", "classid", "codebase", "data", "datasrc", "dynsrc",
                      "formaction", "href", "icon", "longdesc", "lowsrc", "manifest", "poster", "profile",
                      "src", "usemap"});
}

std::u16string Attribute::GetName() const { return plat::Utf8ToUtf16(Name()); }
std::u16string Attribute::GetValue() const { return plat::Utf8ToUtf16(Value()); }
bool Attribute::IsUrl() const { return IsUrlAttributeName(Name()); }
bool Attribute::NameIs(std::string_view name) const { return EqualNoCase(Name(), name); }

// ---- Nodes --------------------------------------------------------------------

std::u16string Node::GetName() const { return plat::Utf8ToUtf16(Name()); }
bool Node::NameIs(std::string_view name) const { return EqualNoCase(Name(), name); }

std::size_t Node::ChildCount() const {
  std::size_t count = 0;
  for (const Node* child = firstChild_; child; child = child->next_) ++count;
  return count;
}

Attribute* Node::FindAttribute(std::string_view name) const {
  for (Attribute* a = firstAttribute_; a; a = a->Next()) {
    if (a->NameIs(name)) return a;
  }
  return nullptr;
}

bool Node::GetAttribute(std::string_view name, std::u16string& value) const {
  const Attribute* a = FindAttribute(name);
  if (!a) return false;
  value = a->GetValue();
  return true;
}

Node* Node::FindChildElement(std::string_view name) const {
  for (Node* child = firstChild_; child; child = child->next_) {
    if (child->IsElement() && child->NameIs(name)) return child;
  }
  return nullptr;
}

Node* Node::NextInSubtree(const Node* top) const {
  if (firstChild_) return firstChild_;
  const Node* n = this;
  while (n && n != top) {
    if (n->next_) return n->next_;
    n = n->parent_;
  }
  return nullptr;
}

Node* Node::FindDescendantElement(std::string_view name) const {
  for (Node* n = NextInSubtree(this); n; n = n->NextInSubtree(this)) {
    if (n->IsElement() && n->NameIs(name)) return n;
  }
  return nullptr;
}

std::string Node::GetTextUtf8() const {
  std::string text;
  for (const Node* n = this; n; n = n->NextInSubtree(this)) {
    if (n->IsText() && n->textLength_ > 0) {
      text.append(n->text_, n->textLength_);
      text += ' ';
    }
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::u16string Node::GetText() const { return plat::Utf8ToUtf16(GetTextUtf8()); }

std::string Node::GetMarkupUtf8() const {
  std::string out;
  AppendMarkup(this, out);
  return out;
}

std::string Node::GetInnerMarkupUtf8() const {
  std::string out;
  for (const Node* child = firstChild_; child; child = child->next_) AppendMarkup(child, out);
  return out;
}

void AppendMarkup(const Node* node, std::string& out) {
  if (!node) return;
  const Node* n = node;
  for (;;) {
    if (AppendOpen(n, out)) {
      n = n->FirstChild();
      continue;
    }
    for (;;) {
      if (n == node) return;
      if (n->Next()) {
        n = n->Next();
        break;
      }
      n = n->Parent();
      AppendClose(n, out);
    }
  }
}

}  // namespace Tidy
