#include "update/script/ScriptDocumentModel.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/DebugLog.h"
#include "platform/base/Text.h"
#include "update/script/JScriptInterpreter.h"
#include "update/tidy/TidyDocument.h"
#include "update/http/TidyDownload.h"
#include "update/tidy/TidyNode.h"
#include "update/tidy/TidyNodesIterator.h"

namespace {

// Stash keys.
constexpr const char* kNodesKey = "nodes";          // every Node object made (keeps them alive)
constexpr const char* kNodePrototypeKey = "nodeProto";
constexpr const char* kListMethodsKey = "listMethods";
constexpr const char* kNodeGettersKey = "nodeGetters";  // the getter of each kNodeProperties entry, in order

// Hidden fields of Node objects and marks of Article objects.
#define ORV_NODE_FIELD DUK_HIDDEN_SYMBOL("node")
#define ORV_DOCUMENT_FIELD DUK_HIDDEN_SYMBOL("document")
#define ORV_ALL_CACHE DUK_HIDDEN_SYMBOL("all")
#define ORV_CHILDREN_CACHE DUK_HIDDEN_SYMBOL("childNodes")
#define ORV_ATTRIBUTES_CACHE DUK_HIDDEN_SYMBOL("attributes")
#define ORV_ARTICLE_MARK DUK_HIDDEN_SYMBOL("article")

// The engine's key of the well-known symbol Symbol.toStringTag.
constexpr char kToStringTagKey[] = "\x81Symbol.toStringTag\xff";

// Results of the C++ helpers of native functions.
enum Status { kOk, kThrown, kNoMemory };

// Ends a native function after a helper: rethrows its error, or returns the
// value it pushed.
duk_ret_t Finish(duk_context* ctx, int status) {
  if (status == kThrown) return duk_throw(ctx);
  if (status == kNoMemory) return duk_error(ctx, DUK_ERR_RANGE_ERROR, "out of memory");
  return 1;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

int PushConvertedUtf8(duk_context* ctx, std::string_view utf8) noexcept {
  try {
    return SafePushScriptText(ctx, Utf8ToScriptText(utf8)) ? kOk : kThrown;
  } catch (...) {
    return kNoMemory;
  }
}

// Pushes UTF-8 text of the tree as a script string.
void PushUtf8(duk_context* ctx, std::string_view utf8) {
  if (IsAscii(utf8)) {
    duk_push_lstring(ctx, utf8.data(), utf8.size());
    return;
  }
  Finish(ctx, PushConvertedUtf8(ctx, utf8));
}


void PushStashValue(duk_context* ctx, const char* key) {
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, key);
  duk_remove(ctx, -2);
}

// The tree node of this (a TypeError when this is no Node object).
Tidy::Node* ThisNode(duk_context* ctx, Tidy::Document** document) {
  duk_push_this(ctx);
  Tidy::Node* node = GetScriptNode(ctx, -1, document);
  duk_pop(ctx);
  if (!node) duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a Node object");
  return node;
}

// ---- Texts of nodes ------------------------------------------------------------

enum class NodeText { InnerText, InnerHtml, OuterHtml, Description };

std::string DescribeNode(const Tidy::Node* node) {
  std::string text = "<";
  text += node->Name();
  text += ' ';
  bool first = true;
  for (const Tidy::Attribute* a = node->FirstAttribute(); a; a = a->Next()) {
    if (!first) text += ", ";
    first = false;
    text += a->Name();
    text += "=\"";
    text += a->Value();
    text += '"';
  }
  text += '>';
  return text;
}

int PushNodeText(duk_context* ctx, const Tidy::Node* node, NodeText which) noexcept {
  try {
    std::string text;
    switch (which) {
      case NodeText::InnerText:
        text = node->GetTextUtf8();
        text = std::string(plat::TrimView(text, plat::IsAsciiSpace));
        break;
      case NodeText::InnerHtml:
        text = node->GetInnerMarkupUtf8();
        break;
      case NodeText::OuterHtml:
        text = node->GetMarkupUtf8();
        break;
      case NodeText::Description:
        text = DescribeNode(node);
        break;
    }
    return SafePushScriptText(ctx, Utf8ToScriptText(text)) ? kOk : kThrown;
  } catch (...) {
    return kNoMemory;
  }
}

// ---- Walks -----------------------------------------------------------------------

enum class WalkMode { Descendants, Children, ListElements };

struct WalkJob {
  const CTidyNodesIterator* iterator;
  Tidy::Node* node;
  Tidy::Document* document;
  WalkMode mode;
  duk_idx_t args;
  duk_context* ctx;
  duk_idx_t result;
};

// Appends the node's script object to the result list.
void AppendWalkedNode(Tidy::Node* node, void* data) {
  WalkJob* job = static_cast<WalkJob*>(data);
  PushScriptNode(job->ctx, job->document, node);
  duk_put_prop_index(job->ctx, job->result, static_cast<duk_uarridx_t>(duk_get_length(job->ctx, job->result)));
}

// The arguments on the stack top: the result list and, for a list filter,
// the source list. (A protected call sees the caller's whole stack.)
duk_ret_t WalkBody(duk_context* ctx, void* data) {
  WalkJob* job = static_cast<WalkJob*>(data);
  job->ctx = ctx;
  job->result = duk_get_top(ctx) - job->args;
  duk_idx_t source = job->result + 1;
  switch (job->mode) {
    case WalkMode::Descendants:
      job->iterator->WalkDescendants(job->node, &AppendWalkedNode, job);
      break;
    case WalkMode::Children:
      job->iterator->WalkChildren(job->node, &AppendWalkedNode, job);
      break;
    case WalkMode::ListElements: {
      duk_size_t count = duk_get_length(ctx, source);
      for (duk_size_t i = 0; i < count; ++i) {
        duk_get_prop_index(ctx, source, static_cast<duk_uarridx_t>(i));
        Tidy::Document* document = nullptr;
        Tidy::Node* node = GetScriptNode(ctx, -1, &document);
        duk_pop(ctx);
        if (!node) continue;
        job->document = document;
        job->iterator->Test(node, &AppendWalkedNode, job);
      }
      break;
    }
  }
  return 0;
}

// Filters in the engine's form; null: not set.
struct ScriptFilters {
  const char* tag = nullptr;
  duk_size_t tagLength = 0;
  const char* attribute = nullptr;
  duk_size_t attributeLength = 0;
  const char* value = nullptr;
  duk_size_t valueLength = 0;
  const char* content = nullptr;
  duk_size_t contentLength = 0;
};

std::string FilterText(const char* text, duk_size_t length) {
  return plat::Utf16ToUtf8(FromScriptText(std::string_view(text, length)));
}

// Fills the list at index list (and for ListElements reads the list at index
// source) with a walk of the filtered iterator.
int RunWalk(duk_context* ctx, duk_idx_t list, duk_idx_t source, Tidy::Node* node, Tidy::Document* document,
            WalkMode mode, const ScriptFilters& filters) noexcept {
  try {
    CTidyNodesIterator iterator;
    if (filters.tag) iterator.SetTagFilter(FilterText(filters.tag, filters.tagLength));
    if (filters.attribute) iterator.SetAttributeFilter(FilterText(filters.attribute, filters.attributeLength));
    if (filters.value) iterator.SetAttributeValueFilter(FilterText(filters.value, filters.valueLength));
    if (filters.content) iterator.SetContentFilter(FilterText(filters.content, filters.contentLength));
    if (!duk_check_stack(ctx, 8)) return kNoMemory;
    duk_dup(ctx, list);
    duk_idx_t args = 1;
    if (mode == WalkMode::ListElements) {
      duk_dup(ctx, source);
      ++args;
    }
    WalkJob job{&iterator, node, document, mode, args, ctx, 0};
    if (duk_safe_call(ctx, &WalkBody, &job, args, 1) != DUK_EXEC_SUCCESS) return kThrown;
    duk_pop(ctx);
    return kOk;
  } catch (...) {
    return kNoMemory;
  }
}

// Pushes a new list filled by a walk.
void PushWalk(duk_context* ctx, Tidy::Node* node, Tidy::Document* document, WalkMode mode,
              const ScriptFilters& filters, duk_idx_t source = 0) {
  PushNodeList(ctx);
  duk_idx_t list = duk_get_top_index(ctx);
  if (source) source = duk_normalize_index(ctx, source);
  int status = RunWalk(ctx, list, source, node, document, mode, filters);
  if (status != kOk) Finish(ctx, status);
}

// ---- Node properties -------------------------------------------------------------

enum NodeProperty {
  kFirstChild,
  kLastChild,
  kNextSibling,
  kPreviousSibling,
  kParentNode,
  kNodeName,
  kInnerText,
  kOuterText,
  kInnerHtml,
  kOuterHtml,
  kAll,
  kChildNodes,
  kAttributes,
  kNodeType,
  kGetAttribute,
  kGetElementsByClassName,
  kGetElementsById,
  kGetElementsByTagName,
  kGetElementsByAttr,
  kToString,
};

struct PropertyInfo {
  const char* name;
  NodeProperty id;
};

constexpr PropertyInfo kNodeProperties[] = {
    {"firstChild", kFirstChild},
    {"lastChild", kLastChild},
    {"nextSibling", kNextSibling},
    {"previousSibling", kPreviousSibling},
    {"parentNode", kParentNode},
    {"nodeName", kNodeName},
    {"innerText", kInnerText},
    {"outerText", kOuterText},
    {"innerHTML", kInnerHtml},
    {"outerHTML", kOuterHtml},
    {"all", kAll},
    {"childNodes", kChildNodes},
    {"attributes", kAttributes},
    {"nodeType", kNodeType},
    {"getAttribute", kGetAttribute},
    {"getElementsByClassName", kGetElementsByClassName},
    {"getElementsById", kGetElementsById},
    {"getElementsByTagName", kGetElementsByTagName},
    {"getElementsByAttr", kGetElementsByAttr},
    {"toString", kToString},
};

struct ConstantInfo {
  const char* name;
  int value;
};

constexpr ConstantInfo kNodeConstants[] = {
    {"DOCUMENT_NODE", kScriptDocumentNode},
    {"DOCUMENT_TYPE_NODE", kScriptDocumentTypeNode},
    {"COMMENT_NODE", kScriptCommentNode},
    {"PROCESSING_INSTRUCTION_NODE", kScriptProcessingInstructionNode},
    {"TEXT_NODE", kScriptTextNode},
    {"ELEMENT_NODE", kScriptElementNode},
    {"ELEMENT_END_NODE", kScriptElementEndNode},
    {"ELEMENT_START_END_NODE", kScriptElementStartEndNode},
    {"CDATA_SECTION_NODE", kScriptCDataSectionNode},
    {"SECTION_NODE", kScriptSectionNode},
    {"XML_DECLARATION_NODE", kScriptXmlDeclarationNode},
};

// A cached list of the node object (this at index thisIndex), made once.
void PushCachedList(duk_context* ctx, duk_idx_t thisIndex, const char* key, Tidy::Node* node,
                    Tidy::Document* document, WalkMode mode) {
  if (duk_get_prop_string(ctx, thisIndex, key) && duk_is_object(ctx, -1)) return;
  duk_pop(ctx);
  PushWalk(ctx, node, document, mode, ScriptFilters{});
  duk_dup_top(ctx);
  duk_put_prop_string(ctx, thisIndex, key);
}

void PushAttributes(duk_context* ctx, duk_idx_t thisIndex, Tidy::Node* node) {
  if (duk_get_prop_string(ctx, thisIndex, ORV_ATTRIBUTES_CACHE) && duk_is_object(ctx, -1)) return;
  duk_pop(ctx);
  duk_idx_t object = duk_push_object(ctx);
  for (const Tidy::Attribute* a = node->FirstAttribute(); a; a = a->Next()) {
    if (a->Name().empty()) continue;
    PushUtf8(ctx, a->Name());
    if (duk_has_prop(ctx, object)) continue;  // pops the name; the first of a name wins
    PushUtf8(ctx, a->Name());
    PushUtf8(ctx, a->Value());
    duk_def_prop(ctx, object,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_WRITABLE | DUK_DEFPROP_SET_ENUMERABLE |
                     DUK_DEFPROP_HAVE_CONFIGURABLE);
  }
  duk_dup_top(ctx);
  duk_put_prop_string(ctx, thisIndex, ORV_ATTRIBUTES_CACHE);
}

duk_ret_t NodeMethod(duk_context* ctx);

duk_ret_t NodeGetter(duk_context* ctx) {
  Tidy::Document* document = nullptr;
  Tidy::Node* node = ThisNode(ctx, &document);
  duk_push_this(ctx);
  duk_idx_t self = duk_get_top_index(ctx);
  NodeProperty id = static_cast<NodeProperty>(duk_get_current_magic(ctx));
  switch (id) {
    case kFirstChild:
      PushScriptNode(ctx, document, node->FirstChild());
      return 1;
    case kLastChild:
      PushScriptNode(ctx, document, node->LastChild());
      return 1;
    case kNextSibling:
      PushScriptNode(ctx, document, node->Next());
      return 1;
    case kPreviousSibling:
      PushScriptNode(ctx, document, node->Previous());
      return 1;
    case kParentNode:
      PushScriptNode(ctx, document, node->Parent());
      return 1;
    case kNodeName:
      PushUtf8(ctx, node->Name());
      return 1;
    case kInnerText:
    case kOuterText:
      return Finish(ctx, PushNodeText(ctx, node, NodeText::InnerText));
    case kInnerHtml:
      return Finish(ctx, PushNodeText(ctx, node, NodeText::InnerHtml));
    case kOuterHtml:
      return Finish(ctx, PushNodeText(ctx, node, NodeText::OuterHtml));
    case kAll:
      PushCachedList(ctx, self, ORV_ALL_CACHE, node, document, WalkMode::Descendants);
      return 1;
    case kChildNodes:
      PushCachedList(ctx, self, ORV_CHILDREN_CACHE, node, document, WalkMode::Children);
      return 1;
    case kAttributes:
      PushAttributes(ctx, self, node);
      return 1;
    case kNodeType:
      duk_push_int(ctx, GetScriptNodeType(node));
      return 1;
    default:
      break;
  }
  // A method: a new function object at each read.
  for (const PropertyInfo& info : kNodeProperties) {
    if (info.id != id) continue;
    duk_push_c_function(ctx, NodeMethod, DUK_VARARGS);
    duk_set_magic(ctx, -1, id);
    duk_int_t length = id == kGetElementsByAttr ? 3 : id == kToString ? 0 : 1;
    DefineNativeFunctionInfo(ctx, -1, info.name, length);
    return 1;
  }
  return 0;
}

// The string value of the argument, or null for undefined and null when
// those mean "no filter".
const char* FilterArgument(duk_context* ctx, duk_idx_t idx, duk_size_t* length, bool nullIsNone) {
  if (nullIsNone && duk_is_null_or_undefined(ctx, idx)) return nullptr;
  return duk_to_lstring(ctx, idx, length);
}

Tidy::Attribute* FindAttributeByScriptName(const Tidy::Node* node, const char* name, duk_size_t length) noexcept {
  try {
    return node->FindAttribute(FilterText(name, length));
  } catch (...) {
    return nullptr;
  }
}

duk_ret_t NodeMethod(duk_context* ctx) {
  Tidy::Document* document = nullptr;
  Tidy::Node* node = ThisNode(ctx, &document);
  duk_idx_t count = duk_get_top(ctx);
  NodeProperty id = static_cast<NodeProperty>(duk_get_current_magic(ctx));
  ScriptFilters filters;
  switch (id) {
    case kGetAttribute: {
      if (count != 1) return 0;
      duk_size_t length = 0;
      const char* name = duk_to_lstring(ctx, 0, &length);
      const Tidy::Attribute* attribute = FindAttributeByScriptName(node, name, length);
      if (!attribute) return 0;
      PushUtf8(ctx, attribute->Value());
      return 1;
    }
    case kGetElementsByClassName:
    case kGetElementsById:
      if (count != 1) return 0;
      filters.attribute = id == kGetElementsByClassName ? "class" : "id";
      filters.attributeLength = id == kGetElementsByClassName ? 5 : 2;
      filters.value = duk_to_lstring(ctx, 0, &filters.valueLength);
      PushWalk(ctx, node, document, WalkMode::Descendants, filters);
      return 1;
    case kGetElementsByTagName:
      if (count != 1) return 0;
      filters.tag = duk_to_lstring(ctx, 0, &filters.tagLength);
      PushWalk(ctx, node, document, WalkMode::Descendants, filters);
      return 1;
    case kGetElementsByAttr:
      if (count != 3) return 0;
      filters.tag = FilterArgument(ctx, 0, &filters.tagLength, true);
      filters.attribute = FilterArgument(ctx, 1, &filters.attributeLength, true);
      filters.value = FilterArgument(ctx, 2, &filters.valueLength, true);
      PushWalk(ctx, node, document, WalkMode::Descendants, filters);
      return 1;
    case kToString:
      return Finish(ctx, PushNodeText(ctx, node, NodeText::Description));
    default:
      return 0;
  }
}

// ---- Node list methods ------------------------------------------------------------

enum ListMethod { kFilterId, kFilterClass, kFilterTag, kFilterContent, kFilterRange };

constexpr PropertyInfo kListMethods[] = {
    {"filterId", static_cast<NodeProperty>(kFilterId)},
    {"filterClass", static_cast<NodeProperty>(kFilterClass)},
    {"filterTag", static_cast<NodeProperty>(kFilterTag)},
    {"filterContent", static_cast<NodeProperty>(kFilterContent)},
    {"filterRange", static_cast<NodeProperty>(kFilterRange)},
};

// this, as an object (a TypeError otherwise), pushed.
duk_idx_t PushThisList(duk_context* ctx) {
  duk_push_this(ctx);
  if (!duk_is_object(ctx, -1)) duk_error(ctx, DUK_ERR_TYPE_ERROR, "not a node list");
  return duk_get_top_index(ctx);
}

duk_ret_t FilterRange(duk_context* ctx) {
  duk_idx_t list = PushThisList(ctx);
  duk_size_t count = duk_get_length(ctx, list);
  // The first and last Node of the list.
  void* firstNode = nullptr;
  void* lastNode = nullptr;
  for (duk_size_t i = 0; i < count; ++i) {
    duk_get_prop_index(ctx, list, static_cast<duk_uarridx_t>(i));
    if (GetScriptNode(ctx, -1)) {
      if (!firstNode) firstNode = duk_get_heapptr(ctx, -1);
      lastNode = duk_get_heapptr(ctx, -1);
    }
    duk_pop(ctx);
  }
  if (!firstNode) {
    PushNodeList(ctx);
    return 1;
  }
  Tidy::Node* parent = GetScriptNode(ctx, 0);
  if (!parent) return 0;
  void* start = firstNode;
  if (Tidy::Node* node = GetScriptNode(ctx, 1)) {
    if (node->Parent() != parent) return duk_error(ctx, DUK_ERR_ERROR, "filterRange: start node is not a child");
    start = duk_get_heapptr(ctx, 1);
  }
  void* stop = lastNode;
  if (Tidy::Node* node = GetScriptNode(ctx, 2)) {
    if (node->Parent() != parent) return duk_error(ctx, DUK_ERR_ERROR, "filterRange: stop node is not a child");
    stop = duk_get_heapptr(ctx, 2);
  }
  PushNodeList(ctx);
  duk_idx_t result = duk_get_top_index(ctx);
  duk_uarridx_t added = 0;
  bool started = false;
  for (duk_size_t i = 0; i < count; ++i) {
    duk_get_prop_index(ctx, list, static_cast<duk_uarridx_t>(i));
    bool isNode = GetScriptNode(ctx, -1) != nullptr;
    void* element = duk_get_heapptr(ctx, -1);
    if (isNode && element == start) started = true;
    if (started && isNode) {
      duk_put_prop_index(ctx, result, added++);
    } else {
      duk_pop(ctx);
    }
    if (isNode && element == stop) break;
  }
  return 1;
}

duk_ret_t ListMethodNative(duk_context* ctx) {
  duk_idx_t count = duk_get_top(ctx);
  ListMethod id = static_cast<ListMethod>(duk_get_current_magic(ctx));
  if (id == kFilterRange) {
    if (count != 3) return 0;
    return FilterRange(ctx);
  }
  if (count != 1) return 0;
  ScriptFilters filters;
  switch (id) {
    case kFilterId:
    case kFilterClass:
      filters.attribute = id == kFilterClass ? "class" : "id";
      filters.attributeLength = id == kFilterClass ? 5 : 2;
      filters.value = duk_to_lstring(ctx, 0, &filters.valueLength);
      break;
    case kFilterTag:
      filters.tag = duk_to_lstring(ctx, 0, &filters.tagLength);
      break;
    default:
      filters.content = duk_to_lstring(ctx, 0, &filters.contentLength);
      break;
  }
  duk_idx_t list = PushThisList(ctx);
  PushWalk(ctx, nullptr, nullptr, WalkMode::ListElements, filters, list);
  return 1;
}

// ---- Constructors ------------------------------------------------------------------

Tidy::Node* OpenPage(CJScriptInterpreter* host, const char* address, duk_size_t addressLength, const char* encoding,
                     duk_size_t encodingLength, Tidy::Document** opened) noexcept {
  Tidy::Document* document = nullptr;
  try {
    std::u16string url = FromScriptText(std::string_view(address, addressLength));
    std::size_t first = url.find_first_not_of(u" \t\r\n\f\v");
    if (first == std::u16string::npos) return nullptr;
    url = url.substr(first, url.find_last_not_of(u" \t\r\n\f\v") - first + 1);
    std::u16string forced;
    if (encoding) forced = FromScriptText(std::string_view(encoding, encodingLength));
    if (!host->GetHeap()) return nullptr;
    document = Tidy::CreateDocumentOnHeap(*host->GetHeap());
    if (!document) {
      CDebugLog::GetInstance().WriteLine(u"Document: no memory for the document.");
      return nullptr;
    }
    int result = Tidy::DownloadDocument(host->GetInetSession(), url, document, forced, nullptr);
    Tidy::Node* root = document->GetRoot();
    if (result != 1 || !root) {
      Tidy::DestroyDocumentOnHeap(document);
      return nullptr;
    }
    Tidy::Document* kept = document;
    document = nullptr;
    if (!host->AdoptDocument(kept)) return nullptr;
    *opened = kept;
    return root;
  } catch (...) {
    if (document) Tidy::DestroyDocumentOnHeap(document);
    return nullptr;
  }
}

duk_ret_t NativeDocument(duk_context* ctx) {
  CJScriptInterpreter* host = CJScriptInterpreter::FromContext(ctx);
  duk_idx_t count = duk_get_top(ctx);
  if (!host || count < 1 || !duk_is_string(ctx, 0)) return 0;
  duk_size_t addressLength = 0;
  const char* address = duk_get_lstring(ctx, 0, &addressLength);
  duk_size_t encodingLength = 0;
  const char* encoding = count >= 2 && duk_is_string(ctx, 1) ? duk_get_lstring(ctx, 1, &encodingLength) : nullptr;
  Tidy::Document* document = nullptr;
  Tidy::Node* root = OpenPage(host, address, addressLength, encoding, encodingLength, &document);
  if (!root) return 0;
  PushScriptNode(ctx, document, root);
  return 1;
}

duk_ret_t NativeArticle(duk_context* ctx) {
  PushArticleObject(ctx);
  return 1;
}

void DefineToStringTag(duk_context* ctx, duk_idx_t object, const char* tag) {
  duk_push_lstring(ctx, kToStringTagKey, sizeof kToStringTagKey - 1);
  duk_push_string(ctx, tag);
  duk_def_prop(ctx, object,
               DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_WRITABLE | DUK_DEFPROP_HAVE_ENUMERABLE |
                   DUK_DEFPROP_HAVE_CONFIGURABLE);
}

const char* const kVoidElements[] = {"area", "base", "basefont", "bgsound", "br",     "col",   "embed",
                                     "frame", "hr",  "img",      "input",   "isindex", "keygen", "link",
                                     "meta",  "param", "source",  "spacer",  "track",  "wbr"};

}  // namespace

int GetScriptNodeType(const Tidy::Node* node) noexcept {
  if (!node) return kScriptDocumentNode;
  switch (node->Type()) {
    case Tidy::NodeType::Root:
      return kScriptDocumentNode;
    case Tidy::NodeType::DocType:
      return kScriptDocumentTypeNode;
    case Tidy::NodeType::Comment:
      return kScriptCommentNode;
    case Tidy::NodeType::ProcIns:
      return kScriptProcessingInstructionNode;
    case Tidy::NodeType::Text:
      return kScriptTextNode;
    case Tidy::NodeType::Element:
      if (node->IsXml()) return node->FirstChild() ? kScriptElementNode : kScriptElementStartEndNode;
      for (const char* name : kVoidElements) {
        if (node->NameIs(name)) return kScriptElementStartEndNode;
      }
      return kScriptElementNode;
    case Tidy::NodeType::CData:
      return kScriptCDataSectionNode;
    case Tidy::NodeType::Section:
      return kScriptSectionNode;
    case Tidy::NodeType::Asp:
      return kScriptAspNode;
    case Tidy::NodeType::Jste:
      return kScriptJsteNode;
    case Tidy::NodeType::Php:
      return kScriptPhpNode;
    case Tidy::NodeType::XmlDecl:
      return kScriptXmlDeclarationNode;
  }
  return kScriptElementNode;
}

void RegisterScriptDocumentModel(duk_context* ctx, duk_idx_t global) {
  global = duk_normalize_index(ctx, global);
  // "Document" gives undefined for a page it cannot open, also to new: the
  // engine then keeps that undefined (ORV_DUK_MAGIC_NEW_MAY_GIVE_UNDEFINED)
  // instead of an empty object, so that a script's if (!doc) sees the failure.
  duk_push_string(ctx, "Document");
  duk_push_c_function(ctx, NativeDocument, DUK_VARARGS);
  duk_set_magic(ctx, -1, ORV_DUK_MAGIC_NEW_MAY_GIVE_UNDEFINED);
  DefineNativeFunctionInfo(ctx, -1, "Document", 1);
  duk_def_prop(ctx, global,
               DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_SET_WRITABLE |
                   DUK_DEFPROP_SET_CONFIGURABLE);
  DefineGlobalNative(ctx, global, "Article", NativeArticle, 0);

  duk_push_global_stash(ctx);
  duk_idx_t stash = duk_get_top_index(ctx);
  duk_push_array(ctx);
  duk_put_prop_string(ctx, stash, kNodesKey);

  // The prototype of Node objects: the properties as getters (read-only,
  // not enumerated, not deletable), the type constants as read-only values.
  // Each Node object gets the same properties as its own (PushScriptNode),
  // so that deleting one from a node fails too; the getters are shared.
  duk_idx_t getters = duk_push_array(ctx);
  duk_idx_t prototype = duk_push_object(ctx);
  duk_uarridx_t index = 0;
  for (const PropertyInfo& info : kNodeProperties) {
    duk_push_string(ctx, info.name);
    duk_push_c_function(ctx, NodeGetter, 0);
    duk_set_magic(ctx, -1, info.id);
    duk_dup_top(ctx);
    duk_put_prop_index(ctx, getters, index++);
    duk_def_prop(ctx, prototype,
                 DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_HAVE_CONFIGURABLE);
  }
  for (const ConstantInfo& constant : kNodeConstants) {
    duk_push_string(ctx, constant.name);
    duk_push_int(ctx, constant.value);
    duk_def_prop(ctx, prototype,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_WRITABLE | DUK_DEFPROP_HAVE_ENUMERABLE |
                     DUK_DEFPROP_HAVE_CONFIGURABLE);
  }
  DefineToStringTag(ctx, prototype, "Node");
  duk_put_prop_string(ctx, stash, kNodePrototypeKey);
  duk_put_prop_string(ctx, stash, kNodeGettersKey);

  // The list methods, shared by every list.
  duk_idx_t methods = duk_push_object(ctx);
  for (const PropertyInfo& info : kListMethods) {
    duk_push_c_function(ctx, ListMethodNative, DUK_VARARGS);
    duk_set_magic(ctx, -1, info.id);
    DefineNativeFunctionInfo(ctx, -1, info.name, info.id == static_cast<NodeProperty>(kFilterRange) ? 3 : 1);
    duk_put_prop_string(ctx, methods, info.name);
  }
  duk_put_prop_string(ctx, stash, kListMethodsKey);
  duk_pop(ctx);  // stash
}

void PushScriptNode(duk_context* ctx, Tidy::Document* document, Tidy::Node* node) {
  if (!node) {
    duk_push_undefined(ctx);
    return;
  }
  if (std::uintptr_t known = node->GetUserData()) {
    duk_push_heapptr(ctx, reinterpret_cast<void*>(known));
    return;
  }
  duk_idx_t object = duk_push_object(ctx);
  PushStashValue(ctx, kNodePrototypeKey);
  duk_set_prototype(ctx, object);
  // The properties as the node's own: read-only, not enumerated, and not
  // configurable, so that delete fails.
  PushStashValue(ctx, kNodeGettersKey);
  duk_uarridx_t index = 0;
  for (const PropertyInfo& info : kNodeProperties) {
    duk_push_string(ctx, info.name);
    duk_get_prop_index(ctx, -2, index++);
    duk_def_prop(ctx, object, DUK_DEFPROP_HAVE_GETTER | DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_HAVE_CONFIGURABLE);
  }
  duk_pop(ctx);  // the getters
  for (const ConstantInfo& constant : kNodeConstants) {
    duk_push_string(ctx, constant.name);
    duk_push_int(ctx, constant.value);
    duk_def_prop(ctx, object,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_WRITABLE | DUK_DEFPROP_HAVE_ENUMERABLE |
                     DUK_DEFPROP_HAVE_CONFIGURABLE);
  }
  duk_push_pointer(ctx, node);
  duk_put_prop_string(ctx, object, ORV_NODE_FIELD);
  duk_push_pointer(ctx, document);
  duk_put_prop_string(ctx, object, ORV_DOCUMENT_FIELD);
  // Kept reachable for the interpreter's life: the node remembers it by address.
  PushStashValue(ctx, kNodesKey);
  duk_dup(ctx, object);
  duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(duk_get_length(ctx, -2)));
  duk_pop(ctx);
  node->SetUserData(reinterpret_cast<std::uintptr_t>(duk_get_heapptr(ctx, object)));
}

Tidy::Node* GetScriptNode(duk_context* ctx, duk_idx_t idx, Tidy::Document** document) {
  if (!duk_is_object(ctx, idx)) return nullptr;
  idx = duk_normalize_index(ctx, idx);
  duk_get_prop_string(ctx, idx, ORV_NODE_FIELD);
  Tidy::Node* node = static_cast<Tidy::Node*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  if (node && document) {
    duk_get_prop_string(ctx, idx, ORV_DOCUMENT_FIELD);
    *document = static_cast<Tidy::Document*>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
  }
  return node;
}

void PushNodeList(duk_context* ctx) {
  duk_idx_t list = duk_push_array(ctx);
  PushStashValue(ctx, kListMethodsKey);
  for (const PropertyInfo& info : kListMethods) {
    duk_push_string(ctx, info.name);
    duk_get_prop_string(ctx, -2, info.name);
    duk_def_prop(ctx, list,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_SET_WRITABLE |
                     DUK_DEFPROP_SET_CONFIGURABLE);
  }
  duk_pop(ctx);
}

void PushArticleObject(duk_context* ctx) {
  duk_idx_t article = duk_push_object(ctx);
  DefineToStringTag(ctx, article, "Article");
  duk_push_true(ctx);
  duk_put_prop_string(ctx, article, ORV_ARTICLE_MARK);
}

bool IsArticleObject(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_object(ctx, idx)) return false;
  idx = duk_normalize_index(ctx, idx);
  duk_get_prop_string(ctx, idx, ORV_ARTICLE_MARK);
  bool mark = duk_get_boolean_default(ctx, -1, false);
  duk_pop(ctx);
  return mark;
}
