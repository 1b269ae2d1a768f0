// Tidy::Document: one document parsed by HTML Tidy (feeds, channel templates,
// pages that scripts open, article bodies), and the operations around it:
// parsing a buffer in the right character encoding, parsing a local file,
// making relative addresses absolute, serialising nodes, plain text, finding
// children and attributes, a site's icon address, cleaning an HTML fragment.
//
// A parse converts the input to UTF-8, checks its size, leaves out what is
// nested too deep, lets the library parse it (XML mode for documents that
// look like XML, HTML mode otherwise; plain, well-formed XML is read directly into the same tree,
// see TidyXmlReader.h) and copies the library's tree into the document's own node
// tree (Tidy::Node), which the document keeps; the library's document is
// released right after. Every allocation of the document, the library's and
// the tree's, goes through the document's allocation callbacks.
//
// Untrusted input: the library loads no DTD and no external entity; input
// larger than kMaxDocumentSize is refused and elements nested deeper than
// kMaxNestingDepth are left out (with their content) before the library or
// the plain reader sees the text; running out of memory abandons the
// parse and leaves the document empty. A failed parse leaves no tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include <string_view>

#include "core/StringMaps.h"
#include "update/tidy/TidyMemory.h"
#include "update/tidy/TidyNesting.h"
#include "update/tidy/TidyNode.h"

class CPrivateHeap;

namespace Tidy {

// Largest input a parse accepts, in bytes.
constexpr std::size_t kMaxDocumentSize = 32 * 1024 * 1024;

// Why the last parse of a document left no tree.
enum class ParseFailure {
  None,
  NoInput,          // no bytes, no length or no document
  TooLarge,         // more than kMaxDocumentSize bytes
  UnknownEncoding,  // the platform could not decode the bytes in the chosen encoding
  OutOfMemory,      // an allocation failed; the parse was abandoned
  NotInitialised,   // the library document could not be created
};

// Levels of the library's reports.
enum ReportLevel {
  kReportInfo = 0,
  kReportWarning = 1,
  kReportConfig = 2,
  kReportAccess = 3,
  kReportError = 4,
  kReportBadDocument = 5,
  kReportFatal = 6,
};

class Document {
 public:
  Document();
  virtual ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Releases any old library document and tree and creates a library
  // document whose memory comes from the C heap. 0, or -1 when creation failed.
  int Init();
  // The same with the three allocation callbacks and their data word (the
  // heap they allocate on).
  int InitEx(AllocProc alloc, ReallocProc realloc, FreeProc free, CPrivateHeap* data);

  // Report hook: receives each library report during a parse (level, line,
  // column, message text) and returns true, so the library reports as usual.
  virtual bool OnReport(int level, int line, int column, const std::u16string& message);

  // The root of the tree the last parse built; null before a parse, after a
  // failed one and after Init.
  Node* GetRoot() const { return root_; }
  // The last parse took the document as XML.
  bool IsXml() const { return xml_; }
  ParseFailure GetFailure() const { return failure_; }
  // The library's status of the last parse: 0 clean, 1 warnings, 2 errors,
  // negative for a severe failure.
  int GetLibraryStatus() const { return status_; }
  // Reports of the last parse that show the library had to repair the
  // markup itself: errors, and warnings other than those every fragment gets
  // for the document around it (missing doctype and title, implied html,
  // head and body, unquoted values, missing alt texts).
  int GetRepairCount() const { return repairs_; }
  std::size_t GetReportCount() const { return reports_; }
  // Name of the encoding the last parse decoded with ("utf-8" when none was
  // named), as the input named it.
  const std::u16string& GetInputEncoding() const { return inputEncoding_; }

  // The input encoding the next parse starts from (step by step overridden
  // by the transport, declared and forced encodings); true when the name is
  // known. An empty name changes nothing.
  bool SetInputEncoding(const std::u16string& name);

  // Replaces the value of the node's attribute of that name (ignoring case)
  // or adds the attribute when the node has none; a null value leaves the
  // attribute without a value. Returns the attribute, or null when the
  // document holds no tree or memory ran out.
  Attribute* SetAttributeValue(Node* node, std::string_view name, const char* value);

  // Blocks from the document's allocator, released with the document at the
  // latest (and by a parse that runs out of memory). MemFree of null does
  // nothing.
  void* MemAlloc(std::size_t size);
  void* MemRealloc(void* pointer, std::size_t size);
  void MemFree(void* pointer);
  // The data word given to InitEx; null for a document of the C heap.
  CPrivateHeap* GetMemAppData() const;
  // Bytes the document holds now (library blocks and tree).
  std::size_t GetMemoryUsed() const;

  // Parses UTF-8 markup as it stands (no encoding rules, no sniffing): HTML
  // unless xml. True when a tree was built.
  bool ParseUtf8(std::string_view utf8, bool xml);

  // XML that is plain and well formed is read without the library
  // (Tidy::ReadPlainXml), into the same tree; on by default. Off: the library
  // parses every document (to compare the two).
  void SetPlainXmlReading(bool on) { plainXml_ = on; }
  // The last parse built its tree without the library.
  bool WasReadPlain() const { return readPlain_; }

 private:
  friend int ParseBuffer(const char*, std::size_t, Document*, const std::u16string&, const std::u16string&,
                         std::vector<char>*);
  friend bool ParseLocalFile(const std::u16string&, Document*, const std::u16string&);
  friend struct ParseRun;
  friend struct ReportSink;

  void Release() noexcept;
  void ClearTree() noexcept;
  bool CreateLibraryDocument() noexcept;
  bool ParseText(std::string_view utf8, bool xml);
  // Drops every block after memory ran out during a parse; false.
  bool AbandonOutOfMemory() noexcept;

  CTidyMemory memory_;
  CTidyArena arena_{memory_};
  const void* tidy_ = nullptr;  // the library document (TidyDoc), between Init and a parse
  Node* root_ = nullptr;
  bool xml_ = false;
  bool plainXml_ = true;
  bool readPlain_ = false;
  ParseFailure failure_ = ParseFailure::None;
  int status_ = 0;
  int repairs_ = 0;
  std::size_t reports_ = 0;
  std::u16string inputEncoding_;
  std::u16string nextEncoding_;
};

// ---- Documents on a private heap ------------------------------------------------

// A document allocated, with all its memory, on the heap (through the heap's
// allocation callbacks). Null when the heap is exhausted or the library
// document cannot be created. Destroy it with DestroyDocumentOnHeap before the
// heap goes.
Document* CreateDocumentOnHeap(CPrivateHeap& heap);
void DestroyDocumentOnHeap(Document* document);
struct HeapDocumentDeleter {
  void operator()(Document* document) const { DestroyDocumentOnHeap(document); }
};
using HeapDocumentPtr = std::unique_ptr<Document, HeapDocumentDeleter>;

// ---- Input ----------------------------------------------------------------------

// Marks the elements of the tree parsed from xml inside which the input
// ended (Node::IsCut); the parser closes them silently.
void MarkCutElements(std::string_view xml, Node* root);

// Document::SetInputEncoding; false for a null document.
bool SetInputEncoding(Document* document, const std::u16string& name);

// Parses the bytes into the document. The encoding: UTF-8, overridden in turn
// by the transport encoding (the HTTP charset), for XML by the declaration's
// encoding, and by the forced encoding; the last of these that names
// anything decides, and an unknown name there fails the parse. A byte order
// mark (or UTF-16 "<?" without one) overrides them all. 1 when a tree was
// built; 0 when bytes, length or document is missing or the parse failed
// (Document::GetFailure tells why). Library warnings and errors do not fail
// a parse: the library repairs the markup and the tree stands.
// owner, when given, is the caller's buffer that holds bytes: it is emptied
// as soon as the bytes have been converted to UTF-8 (any other encoding), so
// that a large document's raw bytes and their conversion do not stay side by side.
int ParseBuffer(const char* bytes, std::size_t length, Document* document, const std::u16string& transportEncoding,
                const std::u16string& forcedEncoding, std::vector<char>* owner = nullptr);
// Reads the whole device file and parses it with no transport encoding.
bool ParseLocalFile(const std::u16string& path, Document* document, const std::u16string& forcedEncoding);

// ---- Addresses --------------------------------------------------------------------

// Combines the value of every URL attribute (Attribute::IsUrl) of the node
// and its subtree with the base address; a value that does not combine stays.
// 1, or 0 when the document or node is missing.
int MakeUrlsAbsolute(Document* document, Node* node, const std::u16string& base);
// Scheme, host and port of the page address followed by "/favicon.ico"
// ("http://" is assumed without "://"); empty when the address does not parse.
std::u16string GetFaviconUrl(const std::u16string& pageAddress);
// Every byte of the text's UTF-8 form as "%XX" (upper-case hex).
std::u16string PercentEncodeUtf8(const std::u16string& text);

// ---- Reading the tree ---------------------------------------------------------------

// The first child element of parent whose name equals name ignoring case.
Node* FindChildElement(Document* document, Node* parent, const std::u16string& name);
// The value of the node's first attribute of that name (ignoring case).
bool GetNodeAttribute(const Node* node, const std::u16string& name, std::u16string& value);
// The node's markup; empty for a null node.
std::u16string GetNodeMarkup(Document* document, const Node* node);
// The markup of each child of the node, in order.
std::u16string GetInnerMarkup(Document* document, const Node* node);
// The node's plain text (Node::GetText); empty for a null node.
std::u16string GetNodeText(Document* document, const Node* node);
// Appends the "src" of every "img" element of the subtree, in document order.
void CollectImageSources(const Node* node, CStringList& list);
// Empties the map, then stores each named child's plain text under its name
// (a later child of the same name wins).
void ReadChildTexts(Document* document, const Node* node, CStringToStringMap& map);

// Parses an HTML fragment (article text). Without an image list nothing is
// done. When the library had nothing to repair (GetRepairCount 0): with a
// base address the fragment's addresses are made absolute; the "src" of
// every image is appended to the list; with a base address the text is
// replaced by the fragment's markup (the content of its body). A fragment
// the library had to repair is left as it is and adds no images. Without a
// base address a plain fragment (Tidy::ReadPlainFragmentImages) is read
// without the library, unless plainReading is off (to compare the two).
void ProcessHtmlFragment(std::u16string& html, CStringList* images, const std::u16string& base,
                         bool plainReading = true);

}  // namespace Tidy
