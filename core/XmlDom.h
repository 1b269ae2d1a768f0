// A small, forgiving XML reader for UTF-16 text. The text is parsed in place
// (terminators are written into it) into a tree of node records whose names
// and values point into the text, so the text must live as long as the tree.
// No syntax error is ever reported: the parser builds what it recognises and
// stops at the end of the text. Character and entity references are kept as
// written, never expanded.
#pragma once

#include <cstddef>
#include <cstdint>

// Node types.
enum XmlNodeType : std::int32_t {
  XML_NODE_NONE = 0,
  XML_NODE_DOCUMENT = 1,
  XML_NODE_ELEMENT = 2,
  XML_NODE_TEXT = 3,
  XML_NODE_CDATA = 4,
  XML_NODE_COMMENT = 5,
  XML_NODE_PI = 6,
  XML_NODE_INCLUDE = 7,
  XML_NODE_DOCTYPE = 8,
  XML_NODE_ENTITY = 9,
  XML_NODE_ATTLIST = 10,
  XML_NODE_ELEMENT_DECL = 11,
  XML_NODE_NOTATION = 12,
};

// Option bits of the parser (all set by default).
constexpr std::int32_t XML_OPT_PI = 0x0002;                // processing instructions become nodes
constexpr std::int32_t XML_OPT_DOCTYPE = 0x0004;           // DOCTYPE and INCLUDE sections become nodes
constexpr std::int32_t XML_OPT_COMMENTS = 0x0008;          // comments become nodes
constexpr std::int32_t XML_OPT_CDATA = 0x0010;             // CDATA sections become nodes
constexpr std::int32_t XML_OPT_TRIM_TEXT = 0x0040;         // text values are trimmed
constexpr std::int32_t XML_OPT_TRIM_ATTRIBUTES = 0x0080;   // attribute values are trimmed
constexpr std::int32_t XML_OPT_TRIM_CDATA = 0x0100;        // CDATA values are trimmed
constexpr std::int32_t XML_OPT_TRIM_DECLARATIONS = 0x0200; // declaration values are trimmed
constexpr std::int32_t XML_OPT_TRIM_SUBSET = 0x0400;       // an unparsed internal subset is trimmed
constexpr std::int32_t XML_OPT_TRIM_COMMENTS = 0x0800;     // comment values are trimmed
constexpr std::int32_t XML_OPT_NORMALIZE = 0x1000;         // every trimming normalises instead
constexpr std::int32_t XML_OPT_PARSE_SUBSET = 0x2000;      // internal subset parsed into declarations
constexpr std::int32_t XML_OPT_STOP_AFTER_SUBSET = 0x4000; // parsing ends after the internal subset
constexpr std::int32_t XML_OPT_DEFAULT = 0xFFFF;
constexpr std::int32_t XML_OPT_KEEP = static_cast<std::int32_t>(0x80000000u);  // keep the document's options

// Elements open deeper than this end the parse (the tree built so far stays):
// untrusted text cannot make the tree arbitrarily deep.
constexpr std::uint32_t kXmlMaxDepth = 1024;

struct XmlAttribute {
  const char16_t* name = nullptr;
  bool nameInPlace = true;
  const char16_t* value = nullptr;  // null when the attribute has no value
  bool valueInPlace = true;
};

struct XmlNodeRecord {
  XmlNodeRecord* parent = nullptr;
  const char16_t* name = nullptr;
  bool nameInPlace = true;
  std::int32_t type = XML_NODE_NONE;
  std::uint32_t attributeCount = 0;
  std::uint32_t attributeCapacity = 0;
  XmlAttribute** attributes = nullptr;
  std::uint32_t childCount = 0;
  std::uint32_t childCapacity = 0;
  XmlNodeRecord** children = nullptr;
  const char16_t* value = nullptr;
  bool valueInPlace = true;
};

// Case-sensitive match of a whole name against a pattern with "*", "?" and
// bracketed sets ("[!...]" negates, "a-z" ranges).
bool MatchWildcard(const char16_t* pattern, const char16_t* name);

// Appends text to a heap wide string (malloc'd, free with std::free), creating
// an empty one first when buffer is null. False when memory runs out (buffer
// is then left as it was).
bool AppendWideString(char16_t*& buffer, const char16_t* text);

// A handle to one node record, one attribute record, or nothing. Handles are
// small values that own nothing; an empty handle answers as an empty node.
class CXmlNode {
 public:
  CXmlNode() = default;
  explicit CXmlNode(XmlNodeRecord* node) : node_(node) {}
  CXmlNode(XmlNodeRecord* owner, XmlAttribute* attribute) : node_(owner), attribute_(attribute) {}

  bool IsEmpty() const { return !node_ && !attribute_; }
  bool IsAttribute() const { return attribute_ != nullptr; }
  // A node whose type is not 0 and which has a name (or a named attribute).
  bool IsValid() const;

  std::int32_t GetType() const;
  const char16_t* GetName() const;
  const char16_t* GetValue() const;
  CXmlNode GetParent() const;

  std::uint32_t GetChildCount() const;
  // Empty when index is not below the child count.
  CXmlNode GetChild(std::uint32_t index) const;

  std::uint32_t GetAttributeCount() const;
  CXmlNode GetAttribute(std::uint32_t index) const;
  // Index of the first attribute whose name matches the pattern; -1 when none
  // does, the node has none or the pattern is null.
  std::int32_t FindAttribute(const char16_t* pattern) const;
  XmlAttribute* FindAttributeRecord(const char16_t* pattern) const;
  // First element below this node, depth first in document order, whose name
  // matches the pattern.
  CXmlNode FindDescendant(const char16_t* pattern) const;

  // Adds an attribute holding copies of name and value (owned by the tree).
  // Empty when either is null or memory runs out.
  CXmlNode AppendAttribute(const char16_t* name, const char16_t* value);
  // The first attribute that matches name, else a new one with the empty value.
  CXmlNode GetOrAddAttribute(const char16_t* name);
  // The value of the attribute the handle refers to, or null.
  const char16_t* GetAttributeValue() const;

  XmlNodeRecord* GetRecord() const { return attribute_ ? nullptr : node_; }
  XmlAttribute* GetAttributeRecord() const { return attribute_; }

 private:
  XmlNodeRecord* node_ = nullptr;
  XmlAttribute* attribute_ = nullptr;
};

class CXmlDocument {
 public:
  CXmlDocument() = default;
  virtual ~CXmlDocument();
  CXmlDocument(const CXmlDocument&) = delete;
  CXmlDocument& operator=(const CXmlDocument&) = delete;

  CXmlNode GetRoot() const { return CXmlNode(root_); }
  // Frees the tree and the text buffer.
  void Clear();

  std::int32_t GetOptions() const { return options_; }
  void SetOptions(std::int32_t options) { options_ = options; }
  std::int32_t GetGrowthStep() const { return growthStep_; }
  // A text buffer for the document to free with the tree (new[]), or null.
  void SetTextBuffer(char16_t* text);

 private:
  friend struct XmlDomAccess;
  XmlNodeRecord* root_ = nullptr;
  std::int32_t growthStep_ = 4;
  bool ownsTree_ = true;
  char16_t* textBuffer_ = nullptr;
  std::int32_t options_ = XML_OPT_DEFAULT;
};

namespace XmlDom {

// Clears the document, makes a new root (type 1, its own parent), takes the
// options unless they are XML_OPT_KEEP, and parses the NUL-terminated text in
// place. Returns where parsing stopped, or null when text is null.
char16_t* ParseDocument(CXmlDocument& document, char16_t* text, std::int32_t options = XML_OPT_DEFAULT);

// Parses text (up to its terminating NUL) into children of node.
char16_t* Parse(XmlNodeRecord* node, char16_t* text, std::int32_t options, std::int32_t growthStep);

// Frees a tree without recursion.
void FreeTree(XmlNodeRecord* root);

}  // namespace XmlDom
