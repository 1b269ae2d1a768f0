// The request behind the catalogue page of the add-channels wizard: composes
// the address (an OPML document named by the user, or the online catalogue
// asked by language or by search text), downloads it in the download dialog,
// lists its "outline" elements in the page's tree view with check boxes, and
// creates a channel for every checked entry.
//
// Outlines are read without recursion and within fixed bounds (entries,
// depth), so that a hostile answer cannot exhaust the stack or the tree.
// Entries of a document must name http or https addresses; titles become
// channel names only through the channel set's name rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/controls/CommCtrl.h"
#include "platform/windows/Windows.h"

class CInetManager;

namespace Tidy {
class Document;
class Node;
}  // namespace Tidy

// What an outline is, which is also its image in the tree.
enum OpmlOutlineKind {
  kOutlineGroup = 1,       // no address: holds other outlines
  kOutlineOwnType = 2,     // a channel of the program's own type ("brevant")
  kOutlineFeed = 3,        // a plain RSS/Atom feed
  kOutlineNestedOpml = 4,  // another OPML document (listed and opened in place, never created as a channel)
};

// Values of the product key: the online catalogue's address, and what the
// add-channels wizard last searched the catalogue for and last opened as an
// OPML document on the web.
inline constexpr const char16_t* kOnlineCatalogUrlValue = u"OnlineCatalogUrl";
inline constexpr const char16_t* kLastSearchValue = u"LastSearch";
inline constexpr const char16_t* kLastWebOpmlUrlValue = u"LastWebOpmlUrl";

class CatalogRequest {
 public:
  // Titles are cut to this many characters.
  static constexpr std::size_t kMaxTitleLength = 100;
  // Longer addresses are no addresses a server answers: the entry is skipped.
  static constexpr std::size_t kMaxAddressLength = 2048;
  // Bounds of one document: entries listed, and outline levels read.
  static constexpr std::size_t kMaxEntries = 5000;
  static constexpr std::size_t kMaxDepth = 32;
  // String ids of the download's caption.
  static constexpr plat::UINT kCaptionOpml = 245;
  static constexpr plat::UINT kCaptionCatalog = 183;
  static constexpr plat::UINT kCaptionSearch = 207;
  // "No online catalogue is set up" (shown when none is configured).
  static constexpr plat::UINT kNoCatalogMessage = 335;

  CatalogRequest();
  virtual ~CatalogRequest();
  CatalogRequest(const CatalogRequest&) = delete;
  CatalogRequest& operator=(const CatalogRequest&) = delete;

  void SetOpmlAddress(const std::u16string& address) { opmlAddress_ = address; }
  void SetSearchText(const std::u16string& text) { searchText_ = text; }
  const std::u16string& GetOpmlAddress() const { return opmlAddress_; }
  const std::u16string& GetSearchText() const { return searchText_; }
  // The catalogue page's tree view (check boxes as state images).
  void SetTree(plat::HWND tree) { tree_ = tree; }
  plat::HWND GetTree() const { return tree_; }
  // Downloads run over this connection manager (null: the process's).
  void SetConnectionManager(CInetManager* manager) { manager_ = manager; }

  // Clears the tree, composes the address, downloads it (DownloadDialog over
  // owner) and lists its entries. False when no catalogue is configured (the
  // user is told), or the download, the parse or the document failed.
  bool Load(plat::HWND owner);
  // After a successful Load: no entry was added.
  bool IsEmpty() const { return empty_; }
  // Creates the channels of the checked entries, in the order of their
  // titles. False, creating nothing, when a checked item's data names no
  // entry (the tree was changed behind the request's back).
  bool AddChosenChannels();

  // Composes the address and the caption id and stores both; empty when the
  // request is for the online catalogue and none is configured.
  std::u16string BuildUrl();
  const std::u16string& GetLastAddress() const { return lastAddress_; }
  plat::UINT GetCaptionId() const { return captionId_; }

  // Lists the outlines under the document's first "body" element in the tree
  // (what Load does once the document is parsed). False without "body".
  bool ReadDocument(Tidy::Document* document);
  // Clears the tree and the entries.
  void Clear();
  // The placeholder child of a nested OPML document's entry: it gives the
  // entry its expand button until the document is read.
  static constexpr const char16_t* kPlaceholderText = u"Fake";
  // The user opens the entry of a nested OPML document: the document
  // (downloaded over owner) lists its outlines under the entry in place of
  // the placeholder. False when the item is no unread nested document, or
  // the document could not be read: the entry then keeps its placeholder,
  // and with it its expand button, to be opened again.
  bool ExpandNested(plat::HWND owner, plat::HTREEITEM item);
  // Whether the item is a nested document's entry not read yet (its one
  // child the placeholder).
  bool IsUnreadNested(plat::HTREEITEM item) const { return Placeholder(item) != nullptr; }

  // The entries listed (a tree item's data is its index here).
  std::size_t GetEntryCount() const { return entries_.size(); }
  const std::u16string& GetEntryAddress(std::size_t index) const { return entries_[index].address; }
  bool IsEntryFeed(std::size_t index) const { return entries_[index].kind == kOutlineFeed; }
  OpmlOutlineKind GetEntryKind(std::size_t index) const { return entries_[index].kind; }

  // The configured catalogue address ("OnlineCatalogUrl"), empty when none.
  static std::u16string GetCatalogAddress();
  // Every character of a language code outside letters, digits, "-", "_",
  // "." and "~" percent-encoded as UTF-8; the ";" after each code is kept.
  static std::u16string EncodeLanguageFilter(const std::u16string& filter);

 protected:
  // Downloads the address into the document while the download dialog shows
  // the caption; true when it was downloaded and parsed.
  virtual bool Download(plat::HWND owner, const std::u16string& address, const std::u16string& caption,
                        Tidy::Document* document);

 private:
  // The placeholder child of an unread nested document's entry, else null.
  plat::HTREEITEM Placeholder(plat::HTREEITEM item) const;
  struct Entry {
    std::u16string address;  // absolute, http or https
    std::u16string title;
    OpmlOutlineKind kind;
  };
  // The outlines under body, as children of parent; relative addresses are
  // resolved against base.
  void ReadOutlines(Tidy::Node* body, plat::HTREEITEM parent, const std::u16string& base);

  std::u16string lastAddress_;
  std::u16string opmlAddress_;
  std::u16string searchText_;
  plat::UINT captionId_ = kCaptionCatalog;
  bool empty_ = false;
  std::vector<Entry> entries_;
  plat::HWND tree_ = nullptr;
  CInetManager* manager_ = nullptr;
};
