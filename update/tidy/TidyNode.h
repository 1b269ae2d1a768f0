// The node tree of a parsed document: a copy of the tree HTML Tidy built,
// made once per parse and owned by the Tidy::Document. Names, attribute
// values and texts are UTF-8 with entities already resolved; each node keeps
// one user data word for its readers. Nodes live as long as their document
// (or until it parses again); none is freed singly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Tidy {

class Document;

enum class NodeType : std::uint8_t {
  Root,         // the document itself
  DocType,      // <!DOCTYPE ...>: name, attributes "PUBLIC" and "SYSTEM"
  Comment,      // <!-- text -->
  ProcIns,      // <?text?>
  Text,         // character data
  Element,      // a start tag with its content (or an empty element)
  CData,        // <![CDATA[text]]>
  Section,      // <![text]>
  Asp,          // <%text%>
  Jste,         // <#text#>
  Php,          // <?php text?>
  XmlDecl,      // <?xml ...?>: attributes "version", "encoding", "standalone"
};

class Attribute {
 public:
  std::string_view Name() const { return {name_, nameLength_}; }
  // The value; empty for an attribute without one (HasValue false).
  std::string_view Value() const { return value_ ? std::string_view(value_, valueLength_) : std::string_view(); }
  bool HasValue() const { return value_ != nullptr; }
  const char* ValueCStr() const { return value_; }  // zero-terminated, or null
  std::u16string GetName() const;
  std::u16string GetValue() const;
  Attribute* Next() const { return next_; }
  // The attribute holds an address (href, src, action, ...) by its name.
  bool IsUrl() const;
  bool NameIs(std::string_view name) const;  // ignoring ASCII case

 private:
  friend class Document;
  friend struct TreeBuilder;
  friend class PlainXmlReader;
  Attribute* next_ = nullptr;
  const char* name_ = "";
  const char* value_ = nullptr;
  std::uint32_t nameLength_ = 0;
  std::size_t valueLength_ = 0;
};

// True when an attribute of this name holds an address: the attributes that
// HTML Tidy's attribute table types as URLs.
bool IsUrlAttributeName(std::string_view name);

class Node {
 public:
  // Iterates over a node's children.
  class ChildIterator {
   public:
    explicit ChildIterator(Node* node) : node_(node) {}
    Node* operator*() const { return node_; }
    ChildIterator& operator++() {
      node_ = node_->Next();
      return *this;
    }
    bool operator!=(const ChildIterator& other) const { return node_ != other.node_; }

   private:
    Node* node_;
  };
  struct ChildRange {
    Node* first;
    ChildIterator begin() const { return ChildIterator(first); }
    ChildIterator end() const { return ChildIterator(nullptr); }
  };

  NodeType Type() const { return type_; }
  bool IsElement() const { return type_ == NodeType::Element; }
  // Text or CDATA: the nodes whose text is a document's plain text.
  bool IsText() const { return type_ == NodeType::Text || type_ == NodeType::CData; }
  // From an XML document (names keep their case, empty elements are "/>").
  bool IsXml() const { return xml_; }

  // The element's name ("item", "dc:date"), the doctype's root name, the
  // target of a processing instruction ("xml-stylesheet"); empty for other
  // nodes.
  std::string_view Name() const { return {name_, nameLength_}; }
  std::u16string GetName() const;
  bool NameIs(std::string_view name) const;  // ignoring ASCII case

  // The raw text of a text, CDATA, comment, processing instruction (after
  // its target) or section node: UTF-8, entities resolved. Empty for other
  // nodes.
  std::string_view Text() const { return {text_, textLength_}; }

  Node* Parent() const { return parent_; }
  Node* FirstChild() const { return firstChild_; }
  Node* LastChild() const { return lastChild_; }
  Node* Next() const { return next_; }
  Node* Previous() const { return previous_; }
  ChildRange Children() const { return {firstChild_}; }
  std::size_t ChildCount() const;

  Attribute* FirstAttribute() const { return firstAttribute_; }
  // The first attribute of that name (ignoring ASCII case), or null.
  Attribute* FindAttribute(std::string_view name) const;
  // Copies the value of the named attribute; false when there is none. An
  // attribute without a value gives empty text.
  bool GetAttribute(std::string_view name, std::u16string& value) const;

  // The first child element of that name (ignoring ASCII case), or null.
  Node* FindChildElement(std::string_view name) const;
  // The first element of that name in the subtree below, in document order.
  Node* FindDescendantElement(std::string_view name) const;
  // The next node after this one in document order within the subtree of
  // top (children first), or null when the walk is done.
  Node* NextInSubtree(const Node* top) const;

  // The plain text of the subtree: the text of each text and CDATA node,
  // one space between them.
  std::string GetTextUtf8() const;
  std::u16string GetText() const;
  // The node as markup (UTF-8): itself with its subtree.
  std::string GetMarkupUtf8() const;
  // The markup of each child, in order.
  std::string GetInnerMarkupUtf8() const;

  // One word for the node's readers; 0 in a new node.
  std::uintptr_t GetUserData() const { return userData_; }
  void SetUserData(std::uintptr_t value) { userData_ = value; }

  // An XML element inside which the document ended: its end tag never came
  // (the parser closed it at the end of the input).
  bool IsCut() const { return cut_; }

  // Where the node started in the source (1-based; 0 when not known).
  std::uint32_t Line() const { return line_; }
  std::uint32_t Column() const { return column_; }

 private:
  friend class Document;
  friend struct TreeBuilder;
  friend class PlainXmlReader;
  friend void MarkCutElements(std::string_view xml, Node* root);

  // Links a new node in as the last child (for the builders of a tree).
  void AppendChild(Node* child) {
    child->parent_ = this;
    child->previous_ = lastChild_;
    if (lastChild_) lastChild_->next_ = child; else firstChild_ = child;
    lastChild_ = child;
  }

  Node* parent_ = nullptr;
  Node* firstChild_ = nullptr;
  Node* lastChild_ = nullptr;
  Node* next_ = nullptr;
  Node* previous_ = nullptr;
  Attribute* firstAttribute_ = nullptr;
  Attribute* lastAttribute_ = nullptr;
  const char* name_ = "";
  const char* text_ = "";
  std::size_t textLength_ = 0;
  std::uintptr_t userData_ = 0;
  std::uint32_t nameLength_ = 0;
  std::uint32_t line_ = 0;
  std::uint32_t column_ = 0;
  NodeType type_ = NodeType::Root;
  bool xml_ = false;
  bool emptyTag_ = false;  // written as <name/> in the source
  bool cut_ = false;
};

// Appends the markup of node and its subtree to out. Elements are written
// with their attributes (values quoted, with &, <, > and " escaped), text
// with &, < and > escaped; in HTML the content of script and style stays
// raw and void elements (br, img, ...) have no end tag. The encoding of an
// XML declaration is left out: the markup is no longer in that encoding.
void AppendMarkup(const Node* node, std::string& out);

}  // namespace Tidy
