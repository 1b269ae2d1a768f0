#include "update/tidy/TidyDocument.h"

#include "update/tidy/TidyFragmentReader.h"

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "core/DebugLog.h"
#include "core/PrivateHeap.h"
#include "platform/base/Handle.h"
#include "platform/base/PercentEscape.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "platform/inet/Inet.h"
#include "update/tidy/TidyEncoding.h"
#include "update/tidy/TidyXmlReader.h"

namespace Tidy {

namespace {

// Creating a library document sets up process-wide tables of the library
// (its language); documents are created one at a time.
std::mutex& CreationMutex() {
  static std::mutex mutex;
  return mutex;
}

void LogLine(const char16_t* text) { CDebugLog::GetInstance().WriteLine(text); }

// The library's report output goes nowhere: reports reach the document's
// report hook instead.
void TIDY_CALL DiscardByte(void*, byte) {}
TidyOutputSink g_discardSink = {nullptr, DiscardByte};

int OwnLevel(TidyReportLevel level) {
  switch (level) {
    case TidyWarning: return kReportWarning;
    case TidyConfig: return kReportConfig;
    case TidyAccess: return kReportAccess;
    case TidyError: return kReportError;
    case TidyBadDocument: return kReportBadDocument;
    case TidyFatal: return kReportFatal;
    default: return kReportInfo;
  }
}

// The string arguments of a report, in order (at most two are needed).
void MessageStrings(TidyMessage message, std::string_view* first, std::string_view* second) {
  *first = *second = std::string_view();
  int index = 0;
  TidyIterator it = tidyGetMessageArguments(message);
  while (it && index < 2) {
    TidyMessageArgument argument = tidyGetNextMessageArgument(message, &it);
    if (tidyGetArgType(message, &argument) != tidyFormatType_STRING) continue;
    ctmbstr value = tidyGetArgValueString(message, &argument);
    (index == 0 ? *first : *second) = value ? std::string_view(value) : std::string_view();
    ++index;
  }
}

// Reports that every fragment gets for the document the library builds
// around it, and for markup that is valid HTML the library merely frowns on.
bool IsWrapperReport(TidyMessage message) {
  std::string_view first, second;
  switch (tidyGetMessageCode(message)) {
    case MISSING_DOCTYPE:
    case MISSING_TITLE_ELEMENT:
    case MISSING_QUOTEMARK_OPEN:
    case MISSING_ATTRIBUTE:
    case PREVIOUS_LOCATION:
      return true;
    case INSERTING_TAG:
      MessageStrings(message, &first, &second);
      return first == "html" || first == "head" || first == "body";
    case TAG_NOT_ALLOWED_IN:
      MessageStrings(message, &first, &second);
      return first == "plain text" && second == "head";
    default:
      return false;
  }
}

}  // namespace

// Reports of the library during a parse.
struct ReportSink {
  static Bool TIDY_CALL Callback(TidyMessage message) {
    TidyDoc tdoc = tidyGetMessageDoc(message);
    Document* document = tdoc ? static_cast<Document*>(tidyGetAppData(tdoc)) : nullptr;
    if (!document) return no;
    try {
      ++document->reports_;
      TidyReportLevel level = tidyGetMessageLevel(message);
      if ((level == TidyWarning || level == TidyError || level == TidyBadDocument || level == TidyFatal) &&
          !IsWrapperReport(message))
        ++document->repairs_;
      ctmbstr text = tidyGetMessage(message);
      return document->OnReport(OwnLevel(level), tidyGetMessageLine(message), tidyGetMessageColumn(message),
                                text ? plat::Utf8ToUtf16(text) : std::u16string())
                 ? yes
                 : no;
    } catch (...) {
      return no;  // nothing may unwind through the library
    }
  }
};

// Copies the library's tree into the document's arena. Runs under the
// memory guard: it keeps no object with a destructor, and every allocation
// that fails jumps back to the guard.
struct TreeBuilder {
  CTidyArena* arena;
  TidyDoc tdoc;
  TidyBuffer* value;
  bool xml;

  const char* Copy(const char* text, std::size_t length) { return arena->CopyString(text, length, true); }

  static NodeType TypeOf(TidyNodeType type) {
    switch (type) {
      case TidyNode_Root: return NodeType::Root;
      case TidyNode_DocType: return NodeType::DocType;
      case TidyNode_Comment: return NodeType::Comment;
      case TidyNode_ProcIns: return NodeType::ProcIns;
      case TidyNode_Text: return NodeType::Text;
      case TidyNode_CDATA: return NodeType::CData;
      case TidyNode_Section: return NodeType::Section;
      case TidyNode_Asp: return NodeType::Asp;
      case TidyNode_Jste: return NodeType::Jste;
      case TidyNode_Php: return NodeType::Php;
      case TidyNode_XmlDecl: return NodeType::XmlDecl;
      default: return NodeType::Element;
    }
  }

  static bool HasText(NodeType type) {
    switch (type) {
      case NodeType::Comment:
      case NodeType::ProcIns:
      case NodeType::Text:
      case NodeType::CData:
      case NodeType::Section:
      case NodeType::Asp:
      case NodeType::Jste:
      case NodeType::Php:
        return true;
      default:
        return false;
    }
  }

  Node* NewNode(NodeType type, Node* parent) {
    Node* node = new (arena->AllocOrJump(sizeof(Node))) Node();
    node->type_ = type;
    node->xml_ = xml;
    if (parent) parent->AppendChild(node);
    return node;
  }

  // The library's value of a processing instruction without text after its
  // target ("<?name?>") reads from one byte before its start to the end of
  // its buffer. Such an instruction has no text; its printed form tells it
  // ("<?" and the target, then "?>" at once).
  bool IsEmptyInstruction(TidyNode source, TidyNodeType sourceType) {
    if (sourceType != TidyNode_ProcIns) return false;
    ctmbstr name = tidyNodeGetName(source);
    tidyBufClear(value);
    if (!tidyNodeGetText(tdoc, source, value)) return false;
    const std::string_view printed(reinterpret_cast<const char*>(value->bp), value->size);
    const std::string head = std::string("<?") + (name ? name : "");
    const bool empty = printed.substr(0, head.size()) == head && printed.substr(head.size(), 2) == "?>";
    tidyBufClear(value);
    return empty;
  }

  Node* CopyNode(TidyNode source, Node* parent) {
    TidyNodeType sourceType = tidyNodeGetType(source);
    Node* node = NewNode(TypeOf(sourceType), parent);
    node->emptyTag_ = sourceType == TidyNode_StartEnd;
    node->line_ = tidyNodeLine(source);
    node->column_ = tidyNodeColumn(source);
    if (node->type_ == NodeType::Element || node->type_ == NodeType::DocType || node->type_ == NodeType::ProcIns) {
      ctmbstr name = tidyNodeGetName(source);
      if (name) {
        std::size_t length = std::strlen(name);
        node->name_ = Copy(name, length);
        node->nameLength_ = static_cast<std::uint32_t>(length);
      }
    }
    for (TidyAttr a = tidyAttrFirst(source); a; a = tidyAttrNext(a)) {
      ctmbstr name = tidyAttrName(a);
      if (!name) continue;
      Attribute* attribute = new (arena->AllocOrJump(sizeof(Attribute))) Attribute();
      std::size_t nameLength = std::strlen(name);
      attribute->name_ = Copy(name, nameLength);
      attribute->nameLength_ = static_cast<std::uint32_t>(nameLength);
      if (ctmbstr v = tidyAttrValue(a)) {
        attribute->valueLength_ = std::strlen(v);
        attribute->value_ = Copy(v, attribute->valueLength_);
      }
      if (node->lastAttribute_) node->lastAttribute_->next_ = attribute; else node->firstAttribute_ = attribute;
      node->lastAttribute_ = attribute;
    }
    if (HasText(node->type_) && !IsEmptyInstruction(source, sourceType) && tidyNodeGetValue(tdoc, source, value) &&
        value->size > 0) {
      node->text_ = Copy(reinterpret_cast<const char*>(value->bp), value->size);
      node->textLength_ = value->size;
    }
    return node;
  }

  Node* Build() {
    TidyNode top = tidyGetRoot(tdoc);
    Node* root = NewNode(NodeType::Root, nullptr);
    if (!top) return root;
    Node* parent = root;
    TidyNode t = tidyGetChild(top);
    while (t) {
      Node* node = CopyNode(t, parent);
      if (TidyNode child = tidyGetChild(t)) {
        parent = node;
        t = child;
        continue;
      }
      for (;;) {
        if (TidyNode next = tidyGetNext(t)) {
          t = next;
          break;
        }
        t = tidyGetParent(t);
        if (!t || t == top) {
          t = nullptr;
          break;
        }
        parent = parent->parent_;
      }
    }
    return root;
  }
};

// One parse of UTF-8 text by the library, under the memory guard.
struct ParseRun {
  Document* document;
  const char* text;
  std::size_t length;
  bool xml;
  int status;
  Node* root;

  static void Body(void* context) {
    ParseRun* run = static_cast<ParseRun*>(context);
    Document* document = run->document;
    TidyDoc tdoc = static_cast<TidyDoc>(document->tidy_);
    TidyAllocator* allocator = document->memory_.GetAllocator();
    tidyOptSetBool(tdoc, TidyXmlTags, run->xml ? yes : no);

    TidyBuffer input;
    tidyBufInitWithAllocator(&input, allocator);
    tidyBufAttach(&input, reinterpret_cast<byte*>(const_cast<char*>(run->text)), static_cast<uint>(run->length));
    run->status = tidyParseBuffer(tdoc, &input);
    tidyBufDetach(&input);

    TidyBuffer value;
    tidyBufInitWithAllocator(&value, allocator);
    TreeBuilder builder{&document->arena_, tdoc, &value, run->xml};
    run->root = builder.Build();
    tidyBufFree(&value);

    tidyRelease(tdoc);
    document->tidy_ = nullptr;
  }
};

namespace {

struct CreateRun {
  Document* document;
  TidyAllocator* allocator;
  TidyDoc tdoc;

  static void Body(void* context) {
    CreateRun* run = static_cast<CreateRun*>(context);
    TidyDoc tdoc = tidyCreateWithAllocator(run->allocator);
    run->tdoc = tdoc;
    tidySetAppData(tdoc, run->document);
    tidySetMessageCallback(tdoc, ReportSink::Callback);
    tidySetErrorSink(tdoc, &g_discardSink);
    tidyOptSetBool(tdoc, TidyQuiet, yes);
    tidyOptSetBool(tdoc, TidyMark, no);
    tidyOptSetBool(tdoc, TidyDropEmptyElems, no);
    tidyOptSetBool(tdoc, TidyDropEmptyParas, no);
    tidySetInCharEncoding(tdoc, "utf8");
    tidySetOutCharEncoding(tdoc, "utf8");
  }
};

}  // namespace

namespace {

// The end of the construct that starts at i with open and ends with close,
// just past close; npos when the input ends first.
std::size_t SkipPast(std::string_view text, std::size_t i, std::string_view close) {
  const std::size_t end = text.find(close, i);
  return end == std::string_view::npos ? end : end + close.size();
}

// The names of the XML elements still open where the input ends, outermost
// first: the elements the parser had to close itself.
std::vector<std::string_view> OpenElementsAtEnd(std::string_view text) {
  std::vector<std::string_view> open;
  std::size_t i = 0;
  while ((i = text.find('<', i)) != std::string_view::npos) {
    const std::string_view rest = text.substr(i);
    std::size_t next;
    if (rest.substr(0, 4) == "<!--") {
      next = SkipPast(text, i + 4, "-->");
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      next = SkipPast(text, i + 9, "]]>");
    } else if (rest.substr(0, 2) == "<?") {
      next = SkipPast(text, i + 2, "?>");
    } else if (rest.substr(0, 2) == "<!") {
      const std::size_t subset = text.find_first_of("[>", i + 2);
      next = subset != std::string_view::npos && text[subset] == '['
                 ? SkipPast(text, subset, "]")
                 : subset;
      if (next != std::string_view::npos) next = SkipPast(text, next, ">");
    } else {
      // A start or end tag: its name, then up to its '>' (quoted values may
      // hold one).
      const bool end = rest.size() > 1 && rest[1] == '/';
      std::size_t nameStart = i + (end ? 2 : 1);
      std::size_t nameEnd = nameStart;
      while (nameEnd < text.size() && std::strchr(" \t\r\n/>", text[nameEnd]) == nullptr) ++nameEnd;
      char quote = 0;
      next = std::string_view::npos;
      for (std::size_t k = nameEnd; k < text.size(); ++k) {
        const char c = text[k];
        if (quote != 0) {
          if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
          quote = c;
        } else if (c == '>') {
          next = k + 1;
          break;
        }
      }
      if (next == std::string_view::npos || nameEnd == nameStart) {
        if (next == std::string_view::npos) break;  // a tag cut short: no element
        i = next;
        continue;
      }
      const std::string_view name = text.substr(nameStart, nameEnd - nameStart);
      if (end) {
        // Closes the innermost open element of that name and those inside it.
        for (std::size_t k = open.size(); k-- > 0;) {
          if (open[k] == name) {
            open.resize(k);
            break;
          }
        }
      } else if (text[next - 2] != '/') {
        open.push_back(name);
      }
    }
    if (next == std::string_view::npos) break;
    i = next;
  }
  return open;
}

}  // namespace

void MarkCutElements(std::string_view xml, Node* root) {
  const std::vector<std::string_view> open = OpenElementsAtEnd(xml);
  // The elements left open form the chain of last child elements from the
  // root down.
  Node* node = root;
  for (const std::string_view name : open) {
    Node* child = node->LastChild();
    while (child != nullptr && !child->IsElement()) child = child->Previous();
    if (child == nullptr || child->Name() != name) break;
    child->cut_ = true;
    node = child;
  }
}

// ---- Document -------------------------------------------------------------------

Document::Document() = default;

Document::~Document() { Release(); }

void Document::ClearTree() noexcept {
  root_ = nullptr;
  arena_.Clear();
}

void Document::Release() noexcept {
  root_ = nullptr;
  if (tidy_) {
    tidyRelease(static_cast<TidyDoc>(tidy_));
    tidy_ = nullptr;
  }
  arena_.Clear();
  memory_.FreeAll();
}

bool Document::CreateLibraryDocument() noexcept {
  if (tidy_) return true;
  CreateRun run{this, memory_.GetAllocator(), nullptr};
  bool done;
  {
    std::lock_guard<std::mutex> lock(CreationMutex());
    done = memory_.RunGuarded(CreateRun::Body, &run);
  }
  if (!done) {
    // The half-made library document is abandoned with all its blocks.
    root_ = nullptr;
    arena_.Forget();
    memory_.FreeAll();
    return false;
  }
  tidy_ = run.tdoc;
  return tidy_ != nullptr;
}

int Document::Init() { return InitEx(nullptr, nullptr, nullptr, nullptr); }

int Document::InitEx(AllocProc alloc, ReallocProc realloc, FreeProc free, CPrivateHeap* data) {
  Release();
  memory_.Configure(alloc, realloc, free, data);
  failure_ = ParseFailure::None;
  return CreateLibraryDocument() ? 0 : -1;
}

bool Document::OnReport(int, int, int, const std::u16string&) { return true; }

bool Document::SetInputEncoding(const std::u16string& name) {
  if (name.empty()) return false;
  if (LookupCodePage(name) == 0) return false;
  nextEncoding_ = name;
  return true;
}

bool Document::AbandonOutOfMemory() noexcept {
  // Out of memory inside the library, the copy or the plain reader: the
  // library document is abandoned and every block of the document goes at
  // once.
  tidy_ = nullptr;
  root_ = nullptr;
  arena_.Forget();
  memory_.FreeAll();
  failure_ = ParseFailure::OutOfMemory;
  LogLine(u"Exception while parsing document.");
  return false;
}

bool Document::ParseText(std::string_view utf8, bool xml) {
  ClearTree();
  readPlain_ = false;
  status_ = 0;
  repairs_ = 0;
  reports_ = 0;
  xml_ = xml;
  if (utf8.size() > kMaxDocumentSize) {
    failure_ = ParseFailure::TooLarge;
    CDebugLog::GetInstance().Printf(u"Document too large (%d bytes).", static_cast<int>(utf8.size()));
    return false;
  }
  // Elements nested past the limit are left out, with everything inside
  // them; the rest of the document (a feed's other items) is read as usual.
  std::string kept;
  const std::vector<TextRange> deep = FindDeepRanges(utf8, xml);
  if (!deep.empty()) {
    kept = WithoutRanges(utf8, deep);
    CDebugLog::GetInstance().Printf(u"Document nested deeper than %d levels: %d bytes left out.",
                                    static_cast<int>(kMaxNestingDepth), static_cast<int>(utf8.size() - kept.size()));
    utf8 = kept;
  }
  if (xml && plainXml_) {
    // Most feeds need no repair: read them without the library.
    Node* root = nullptr;
    const PlainXmlResult result = ReadPlainXml(utf8, arena_, &root);
    if (result == PlainXmlResult::Built) {
      if (tidy_) {
        tidyRelease(static_cast<TidyDoc>(tidy_));
        tidy_ = nullptr;
      }
      root_ = root;
      readPlain_ = true;
      failure_ = ParseFailure::None;
      return true;
    }
    if (result == PlainXmlResult::OutOfMemory) return AbandonOutOfMemory();
    arena_.Clear();
  }
  if (!CreateLibraryDocument()) {
    failure_ = memory_.HasFailed() ? ParseFailure::OutOfMemory : ParseFailure::NotInitialised;
    LogLine(u"Exception while parsing document.");
    return false;
  }
  ParseRun run{this, utf8.data(), utf8.size(), xml, 0, nullptr};
  if (!memory_.RunGuarded(ParseRun::Body, &run)) return AbandonOutOfMemory();
  status_ = run.status;
  if (status_ != 0) LogLine(u"Error parsing.");
  root_ = run.root;
  if (xml && root_ != nullptr) MarkCutElements(std::string_view(utf8.data(), utf8.size()), root_);
  failure_ = ParseFailure::None;
  return true;
}

bool Document::ParseUtf8(std::string_view utf8, bool xml) {
  if (utf8.empty()) {
    ClearTree();
    failure_ = ParseFailure::NoInput;
    return false;
  }
  inputEncoding_ = u"utf-8";
  return ParseText(utf8, xml);
}

Attribute* Document::SetAttributeValue(Node* node, std::string_view name, const char* value) {
  if (!node || !root_ || name.empty()) return nullptr;
  const char* copy = nullptr;
  std::size_t length = 0;
  if (value) {
    length = std::strlen(value);
    copy = arena_.CopyString(value, length, false);
    if (!copy) return nullptr;
  }
  Attribute* attribute = node->FindAttribute(name);
  if (!attribute) {
    void* place = arena_.Alloc(sizeof(Attribute));
    const char* nameCopy = arena_.CopyString(name.data(), name.size(), false);
    if (!place || !nameCopy) return nullptr;
    attribute = new (place) Attribute();
    attribute->name_ = nameCopy;
    attribute->nameLength_ = static_cast<std::uint32_t>(name.size());
    if (node->lastAttribute_) node->lastAttribute_->next_ = attribute; else node->firstAttribute_ = attribute;
    node->lastAttribute_ = attribute;
  }
  attribute->value_ = copy;
  attribute->valueLength_ = length;
  return attribute;
}

void* Document::MemAlloc(std::size_t size) { return memory_.Alloc(size); }
void* Document::MemRealloc(void* pointer, std::size_t size) { return memory_.Realloc(pointer, size); }
void Document::MemFree(void* pointer) { memory_.Free(pointer); }
CPrivateHeap* Document::GetMemAppData() const { return memory_.GetData(); }
std::size_t Document::GetMemoryUsed() const { return memory_.GetUsedSize(); }

// ---- Documents on a private heap -------------------------------------------------

Document* CreateDocumentOnHeap(CPrivateHeap& heap) {
  void* place = heap.TryAlloc(sizeof(Document));
  if (!place) return nullptr;
  Document* document = new (place) Document();
  if (document->InitEx(TidyAllocCallback, TidyReallocCallback, TidyFreeCallback, &heap) != 0) {
    document->~Document();
    heap.Free(place);
    return nullptr;
  }
  return document;
}

void DestroyDocumentOnHeap(Document* document) {
  if (!document) return;
  CPrivateHeap* heap = document->GetMemAppData();
  document->~Document();
  if (heap) heap->Free(document);
}

// ---- Input ------------------------------------------------------------------------

bool SetInputEncoding(Document* document, const std::u16string& name) {
  return document && document->SetInputEncoding(name);
}

int ParseBuffer(const char* bytes, std::size_t length, Document* document, const std::u16string& transportEncoding,
                const std::u16string& forcedEncoding, std::vector<char>* owner) {
  std::u16string label = u"ParseBuffer(" + plat::Utf8ToUtf16(std::to_string(length)) + u")";
  CProfileScope profile(label.c_str());
  if (!bytes || length == 0 || !document) {
    if (document) {
      document->ClearTree();
      document->failure_ = ParseFailure::NoInput;
    }
    return 0;
  }
  document->ClearTree();
  if (length > kMaxDocumentSize) {
    document->failure_ = ParseFailure::TooLarge;
    CDebugLog::GetInstance().Printf(u"Document too large (%d bytes).", static_cast<int>(length));
    return 0;
  }

  const InputEncoding input =
      SniffInputEncoding(bytes, length, document->nextEncoding_, transportEncoding, forcedEncoding);
  const std::u16string& encodingName = input.name;
  const plat::UINT codePage = input.codePage;
  const std::size_t markLength = input.markLength;
  document->inputEncoding_ = encodingName;

  std::string decoded;
  std::string_view text(bytes + markLength, length - markLength);
  if (codePage != kCodePageUtf8) {
    if (!DecodeToUtf8(text.data(), text.size(), codePage, decoded)) {
      document->failure_ = ParseFailure::UnknownEncoding;
      CDebugLog::GetInstance().Printf(u"Unknown encoding \"%s\".", encodingName.c_str());
      return 0;
    }
    text = decoded;
    if (owner) std::vector<char>().swap(*owner);  // the raw bytes are no longer read
  }
  if (text.empty()) {
    document->failure_ = ParseFailure::NoInput;
    return 0;
  }
  bool xml = LooksLikeXml(text.data(), text.size());
  if (xml) LogLine(u"Working with XML Document.");
  return document->ParseText(text, xml) ? 1 : 0;
}

bool ParseLocalFile(const std::u16string& path, Document* document, const std::u16string& forcedEncoding) {
  if (!document) return false;
  plat::HANDLE file = plat::CreateFileW(path.c_str(), plat::GENERIC_READ, plat::FILE_SHARE_READ, nullptr,
                                        plat::OPEN_EXISTING, 0, nullptr);
  if (file == plat::INVALID_HANDLE_VALUE) return false;
  bool parsed = false;
  try {
    plat::DWORD high = 0;
    plat::DWORD size = plat::GetFileSize(file, &high);
    if (size != plat::INVALID_FILE_SIZE && high == 0) {
      if (size > kMaxDocumentSize) {
        document->ClearTree();
        document->failure_ = ParseFailure::TooLarge;
      } else {
        std::vector<char> buffer(size ? size : 1);
        plat::DWORD read = 0;
        if (plat::ReadFile(file, buffer.data(), size, &read, nullptr) && read == size) {
          parsed = ParseBuffer(buffer.data(), size, document, std::u16string(), forcedEncoding) == 1;
        }
      }
    }
  } catch (...) {
    LogLine(u"Exception while parsing document.");
  }
  plat::CloseHandle(file);
  return parsed;
}

// ---- Addresses ----------------------------------------------------------------------

int MakeUrlsAbsolute(Document* document, Node* node, const std::u16string& base) {
  if (!document || !node) return 0;
  constexpr plat::DWORD kBufferLength = 1024;
  char16_t buffer[kBufferLength];
  for (Node* n = node; n; n = n->NextInSubtree(node)) {
    for (Attribute* a = n->FirstAttribute(); a; a = a->Next()) {
      if (a->Name().empty() || !a->HasValue() || !a->IsUrl()) continue;
      std::u16string relative = a->GetValue();
      plat::DWORD length = kBufferLength;
      if (!plat::InternetCombineUrlW(base.c_str(), relative.c_str(), buffer, &length, 0)) continue;
      std::string combined = plat::Utf16ToUtf8(std::u16string_view(buffer, length));
      document->SetAttributeValue(n, a->Name(), combined.c_str());
    }
  }
  return 1;
}

std::u16string GetFaviconUrl(const std::u16string& pageAddress) {
  std::u16string url = pageAddress;
  if (url.find(u"://") == std::u16string::npos) url = u"http://" + url;
  char16_t scheme[32];
  char16_t host[256];
  plat::URL_COMPONENTSW parts;
  parts.lpszScheme = scheme;
  parts.dwSchemeLength = 32;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 256;
  if (!plat::InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return std::u16string();
  plat::URL_COMPONENTSW icon;
  icon.lpszScheme = scheme;
  icon.dwSchemeLength = parts.dwSchemeLength;
  icon.nScheme = parts.nScheme;
  icon.lpszHostName = host;
  icon.dwHostNameLength = parts.dwHostNameLength;
  icon.nPort = parts.nPort;
  char16_t path[] = u"/favicon.ico";
  icon.lpszUrlPath = path;
  icon.dwUrlPathLength = 12;
  char16_t buffer[256];
  plat::DWORD length = 256;
  if (!plat::InternetCreateUrlW(&icon, 0, buffer, &length)) return std::u16string();
  return std::u16string(buffer, length);
}

std::u16string PercentEncodeUtf8(const std::u16string& text) {
  std::string utf8 = plat::Utf16ToUtf8(text);
  std::u16string out;
  out.reserve(utf8.size() * 3);
  for (unsigned char c : utf8) plat::AppendPercentByte(out, c);
  return out;
}

// ---- Reading the tree -----------------------------------------------------------------

Node* FindChildElement(Document* document, Node* parent, const std::u16string& name) {
  if (!parent) return nullptr;
  return parent->FindChildElement(plat::Utf16ToUtf8(name));
}

bool GetNodeAttribute(const Node* node, const std::u16string& name, std::u16string& value) {
  return node && node->GetAttribute(plat::Utf16ToUtf8(name), value);
}

std::u16string GetNodeMarkup(Document*, const Node* node) {
  if (!node) return std::u16string();
  return plat::Utf8ToUtf16(node->GetMarkupUtf8());
}

std::u16string GetInnerMarkup(Document*, const Node* node) {
  if (!node) return std::u16string();
  return plat::Utf8ToUtf16(node->GetInnerMarkupUtf8());
}

std::u16string GetNodeText(Document*, const Node* node) {
  if (!node) return std::u16string();
  return node->GetText();
}

void CollectImageSources(const Node* node, CStringList& list) {
  if (!node) return;
  for (const Node* n = node; n; n = n->NextInSubtree(node)) {
    if (!n->IsElement() || !n->NameIs("img")) continue;
    const Attribute* src = n->FindAttribute("src");
    if (src && !src->Value().empty()) list.push_back(src->GetValue());
  }
}

void ReadChildTexts(Document*, const Node* node, CStringToStringMap& map) {
  map.clear();
  if (!node) return;
  for (const Node* child = node->FirstChild(); child; child = child->Next()) {
    if (child->Name().empty()) continue;
    map[child->GetName()] = child->GetText();
  }
}

void ProcessHtmlFragment(std::u16string& html, CStringList* images, const std::u16string& base, bool plainReading) {
  if (!images) return;
  // Only the images wanted, and the fragment plain: the library would find
  // the same sources and repair nothing.
  if (base.empty() && plainReading && ReadPlainFragmentImages(html, *images)) {
    LogLine(u"Error parsing.");  // what the library's parse notes for every fragment
    return;
  }
  Document document;
  if (document.Init() != 0) return;
  std::string utf8 = plat::Utf16ToUtf8(html);
  if (!document.ParseUtf8(utf8, false)) return;
  if (document.GetRepairCount() != 0) return;
  Node* root = document.GetRoot();
  if (!base.empty() && !MakeUrlsAbsolute(&document, root, base)) return;
  CollectImageSources(root, *images);
  if (base.empty()) return;
  Node* body = nullptr;
  if (Node* htmlElement = root->FindChildElement("html")) body = htmlElement->FindChildElement("body");
  html = body ? GetInnerMarkup(&document, body) : GetNodeMarkup(&document, root);
}

}  // namespace Tidy
