#include "app/wizard/CatalogRequest.h"

#include <algorithm>

#include "app/dialogs/DownloadDialog.h"
#include "core/DebugLog.h"
#include "core/Localizer.h"
#include "core/StringUtils.h"
#include "core/Synchronized.h"
#include "core/VORegistry.h"
#include "database/ChannelLanguages.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "layout/WaitCursor.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/inet/Inet.h"
#include "update/script/PluginChannels.h"
#include "update/tidy/TidyDocument.h"

namespace {

constexpr plat::UINT kTitleNewChannel = 135;
// The state images of the tree: no check box, unchecked, checked.
constexpr plat::UINT kStateNone = 0;
constexpr plat::UINT kStateUnchecked = 1;
constexpr plat::UINT kStateChecked = 2;

plat::UINT StateImageBits(plat::UINT image) { return image << 12; }


// A title as the tree shows it and a channel name starts from it: control
// characters become spaces, outer spaces go, at most kMaxTitleLength
// characters (never half a surrogate pair).
std::u16string CleanTitle(std::u16string title) {
  for (char16_t& c : title) {
    if (c < 0x20 || c == 0x7F) c = u' ';
  }
  title = plat::Trim(title, plat::IsXmlSpaceOrNbsp);
  if (title.size() > CatalogRequest::kMaxTitleLength) {
    std::size_t cut = CatalogRequest::kMaxTitleLength;
    if (title[cut - 1] >= 0xD800 && title[cut - 1] <= 0xDBFF) --cut;
    title = plat::Trim(title.substr(0, cut), plat::IsXmlSpaceOrNbsp);
  }
  return title;
}


bool IsWebAddress(const std::u16string& address) {
  return plat::StartsWithNoCase(address, u"http://") || plat::StartsWithNoCase(address, u"https://");
}

// The entry's address made absolute against the requested address; empty
// when it is no http or https address then.
std::u16string ResolveEntryAddress(const std::u16string& base, const std::u16string& address) {
  if (IsWebAddress(address)) return address;
  if (!IsWebAddress(base)) return {};
  std::u16string buffer(base.size() + address.size() + 64, u'\0');
  plat::DWORD length = static_cast<plat::DWORD>(buffer.size());
  if (!plat::InternetCombineUrlW(base.c_str(), address.c_str(), buffer.data(), &length, 0)) {
    buffer.assign(length + 1, u'\0');
    length = static_cast<plat::DWORD>(buffer.size());
    if (!plat::InternetCombineUrlW(base.c_str(), address.c_str(), buffer.data(), &length, 0)) return {};
  }
  buffer.resize(length);
  return IsWebAddress(buffer) ? buffer : std::u16string();
}

bool Attribute(const Tidy::Node* node, const char16_t* name, std::u16string& value) {
  return Tidy::GetNodeAttribute(node, name, value);
}

bool EndsWith(const std::u16string& text, std::u16string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The first element named "body" (ignoring ASCII case), depth first in
// document order, walked without recursion.
Tidy::Node* FindBody(Tidy::Node* root) {
  Tidy::Node* node = root;
  while (node) {
    if (node->IsElement() && node->NameIs("body")) return node;
    if (node->FirstChild()) {
      node = node->FirstChild();
      continue;
    }
    while (node && node != root && !node->Next()) node = node->Parent();
    if (!node || node == root) return nullptr;
    node = node->Next();
  }
  return nullptr;
}

plat::HTREEITEM InsertItem(plat::HWND tree, plat::HTREEITEM parent, const std::u16string& text, int image,
                           plat::UINT stateImage, plat::LPARAM data) {
  std::u16string buffer = text;
  plat::TVINSERTSTRUCTW insert{};
  insert.hParent = parent;
  insert.hInsertAfter = plat::TVI_LAST;
  insert.item.mask = plat::TVIF_TEXT | plat::TVIF_IMAGE | plat::TVIF_SELECTEDIMAGE | plat::TVIF_STATE | plat::TVIF_PARAM;
  insert.item.pszText = buffer.data();
  insert.item.iImage = image;
  insert.item.iSelectedImage = image;
  insert.item.state = StateImageBits(stateImage);
  insert.item.stateMask = plat::TVIS_STATEIMAGEMASK;
  insert.item.lParam = data;
  auto item = reinterpret_cast<plat::HTREEITEM>(
      plat::SendMessageW(tree, plat::TVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&insert)));
  if (item && stateImage == 0) {
    // A tree with check boxes gives every new item one; groups have none.
    plat::TVITEMW change{};
    change.mask = plat::TVIF_HANDLE | plat::TVIF_STATE;
    change.hItem = item;
    change.state = 0;
    change.stateMask = plat::TVIS_STATEIMAGEMASK;
    plat::SendMessageW(tree, plat::TVM_SETITEMW, 0, reinterpret_cast<plat::LPARAM>(&change));
  }
  return item;
}

plat::HTREEITEM NextItem(plat::HWND tree, plat::HTREEITEM item, plat::WPARAM how) {
  return reinterpret_cast<plat::HTREEITEM>(
      plat::SendMessageW(tree, plat::TVM_GETNEXTITEM, how, reinterpret_cast<plat::LPARAM>(item)));
}

}  // namespace

CatalogRequest::CatalogRequest() = default;
CatalogRequest::~CatalogRequest() = default;

// ---- The address -----------------------------------------------------------------

std::u16string CatalogRequest::GetCatalogAddress() {
  CVORegistry key = OpenSettingsKey();
  // Read only: nothing is written in place of a missing value.
  return plat::Trim(key.GetString(kOnlineCatalogUrlValue, nullptr), plat::IsXmlSpaceOrNbsp);
}

std::u16string CatalogRequest::EncodeLanguageFilter(const std::u16string& filter) {
  std::u16string encoded;
  std::u16string code;
  auto flush = [&] {
    for (char16_t c : code) {
      const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                         c == u'-' || c == u'_' || c == u'.' || c == u'~';
      if (plain) {
        encoded += c;
      } else {
        encoded += Tidy::PercentEncodeUtf8(std::u16string(1, c));
      }
    }
    code.clear();
  };
  for (std::size_t i = 0; i < filter.size(); ++i) {
    const char16_t c = filter[i];
    if (c == u';') {
      flush();
      encoded += u';';
    } else if (c >= 0xD800 && c <= 0xDBFF && i + 1 < filter.size()) {
      // A surrogate pair is one character of UTF-8.
      flush();
      encoded += Tidy::PercentEncodeUtf8(filter.substr(i, 2));
      ++i;
    } else {
      code += c;
    }
  }
  flush();
  return encoded;
}

std::u16string CatalogRequest::BuildUrl() {
  std::u16string address;
  if (!opmlAddress_.empty()) {
    address = plat::Trim(opmlAddress_, plat::IsXmlSpaceOrNbsp);
    captionId_ = kCaptionOpml;
  } else {
    captionId_ = searchText_.empty() ? kCaptionCatalog : kCaptionSearch;
    address = GetCatalogAddress();
    if (!address.empty()) {
      if (GetGlobalOptions().GetDeveloperMode() != 0) AppendUrlParameter(address, u"developer=1");
      if (searchText_.empty()) {
        CChannelLanguages languages;
        AppendUrlParameter(address, u"lang=" + EncodeLanguageFilter(languages.GetLanguageFilter()));
      } else {
        AppendUrlParameter(address, u"q=" + Tidy::PercentEncodeUtf8(searchText_));
      }
    }
  }
  lastAddress_ = address;
  return address;
}

// ---- Loading ------------------------------------------------------------------------

void CatalogRequest::Clear() {
  if (tree_) plat::SendMessageW(tree_, plat::TVM_DELETEITEM, 0, reinterpret_cast<plat::LPARAM>(plat::TVI_ROOT));
  empty_ = true;
  entries_.clear();
  entries_.shrink_to_fit();
}

bool CatalogRequest::Download(plat::HWND owner, const std::u16string& address, const std::u16string& caption,
                              Tidy::Document* document) {
  return DownloadDialog::Run(owner, address, LocalizeResourceString(kTitleNewChannel), caption, document, manager_);
}

bool CatalogRequest::Load(plat::HWND owner) {
  Clear();
  const std::u16string address = BuildUrl();
  if (address.empty()) {
    // No catalogue is configured: said plainly, and the wizard goes back.
    ShowMessageBox(owner, kNoCatalogMessage, plat::MB_OK | plat::MB_ICONEXCLAMATION);
    return false;
  }
  Tidy::Document document;
  if (document.Init() != 0) return false;
  if (!Download(owner, address, LocalizeResourceString(captionId_), &document)) return false;
  CWaitCursor wait;
  return ReadDocument(&document);
}

bool CatalogRequest::ReadDocument(Tidy::Document* document) {
  Clear();
  if (!document || !document->GetRoot()) return false;
  Tidy::Node* body = FindBody(document->GetRoot());
  if (!body) return false;
  ReadOutlines(body, plat::TVI_ROOT, lastAddress_);
  return true;
}

plat::HTREEITEM CatalogRequest::Placeholder(plat::HTREEITEM item) const {
  if (!tree_ || !item) return nullptr;
  plat::TVITEMW info{};
  info.mask = plat::TVIF_HANDLE | plat::TVIF_PARAM;
  info.hItem = item;
  if (!plat::SendMessageW(tree_, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&info))) return nullptr;
  if (info.lParam < 0 || static_cast<std::size_t>(info.lParam) >= entries_.size()) return nullptr;
  if (entries_[static_cast<std::size_t>(info.lParam)].kind != kOutlineNestedOpml) return nullptr;
  // Only the placeholder under it: not read yet.
  plat::HTREEITEM child = NextItem(tree_, item, plat::TVGN_CHILD);
  if (!child || NextItem(tree_, child, plat::TVGN_NEXT)) return nullptr;
  char16_t text[8] = {};
  plat::TVITEMW placeholder{};
  placeholder.mask = plat::TVIF_HANDLE | plat::TVIF_TEXT;
  placeholder.hItem = child;
  placeholder.pszText = text;
  placeholder.cchTextMax = 8;
  if (!plat::SendMessageW(tree_, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&placeholder)) ||
      std::u16string(text) != kPlaceholderText)
    return nullptr;
  return child;
}

bool CatalogRequest::ExpandNested(plat::HWND owner, plat::HTREEITEM item) {
  if (!Placeholder(item)) return false;
  plat::TVITEMW info{};
  info.mask = plat::TVIF_HANDLE | plat::TVIF_PARAM;
  info.hItem = item;
  plat::SendMessageW(tree_, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&info));
  const std::u16string address = entries_[static_cast<std::size_t>(info.lParam)].address;
  Tidy::Document document;
  if (document.Init() != 0) return false;
  if (!Download(owner, address, LocalizeResourceString(kCaptionOpml), &document)) return false;
  CWaitCursor wait;
  Tidy::Node* body = document.GetRoot() ? FindBody(document.GetRoot()) : nullptr;
  if (!body) return false;
  // The document is read: its outlines take the placeholder's place. (The
  // download ran a dialog: the placeholder is looked up again.)
  if (plat::HTREEITEM placeholder = Placeholder(item))
    plat::SendMessageW(tree_, plat::TVM_DELETEITEM, 0, reinterpret_cast<plat::LPARAM>(placeholder));
  ReadOutlines(body, item, address);
  return true;
}

void CatalogRequest::ReadOutlines(Tidy::Node* body, plat::HTREEITEM root, const std::u16string& base) {
  IChannelSet* channels = GetChannelSet();
  CSyncLock lock(channels, u"CatalogRequest::ReadOutlines");
  // One level per open group: the next sibling to read and the tree parent.
  struct Level {
    Tidy::Node* next;
    plat::HTREEITEM parent;
  };
  std::vector<Level> levels{{body->FirstChild(), root}};
  std::size_t listed = 0;
  std::u16string title, address, type;
  while (!levels.empty()) {
    Tidy::Node* node = levels.back().next;
    if (!node) {
      levels.pop_back();
      continue;
    }
    levels.back().next = node->Next();
    const plat::HTREEITEM parent = levels.back().parent;
    if (!node->IsElement() || !node->NameIs("outline")) continue;
    if (listed >= kMaxEntries) {
      CDebugLog::GetInstance().Printf(u"Catalog: more than %d entries, the rest is left out",
                                      static_cast<int>(kMaxEntries));
      break;
    }

    if (!Attribute(node, u"text", title) && !Attribute(node, u"title", title)) continue;
    title = CleanTitle(title);
    if (title.empty()) continue;  // no channel could carry its name
    if (!Attribute(node, u"Url", address) && !Attribute(node, u"xmlUrl", address)) address.clear();
    address = plat::Trim(address, plat::IsXmlSpaceOrNbsp);
    const bool hasAddress = !address.empty();
    if (hasAddress) {
      // Whole or not at all: an address is never cut.
      if (address.size() > kMaxAddressLength) continue;
      address = ResolveEntryAddress(base, address);
      if (address.empty()) continue;
      if (channels->FindByName(title) != nullptr) continue;
    }

    OpmlOutlineKind kind = kOutlineGroup;
    if (hasAddress) {
      if (EndsWith(address, u".opml")) {
        kind = kOutlineNestedOpml;
      } else if (Attribute(node, u"type", type) && plat::EqualsNoCase(type, u"brevant")) {
        kind = kOutlineOwnType;
      } else {
        kind = kOutlineFeed;
      }
    }
    plat::LPARAM data = -1;
    plat::UINT state = kStateNone;
    if (kind != kOutlineGroup) {
      data = static_cast<plat::LPARAM>(entries_.size());
      // Another OPML document is listed for what it is, but not offered as
      // a channel: it holds channels, it is none.
      if (kind != kOutlineNestedOpml) state = kStateUnchecked;
    }
    plat::HTREEITEM item = tree_ ? InsertItem(tree_, parent, title, kind, state, data) : nullptr;
    if (tree_ && !item) break;  // the tree is full
    ++listed;
    empty_ = false;
    if (kind == kOutlineGroup) {
      if (levels.size() < kMaxDepth) levels.push_back({node->FirstChild(), item ? item : parent});
      continue;
    }
    // The nested document is read when the user opens its entry.
    if (kind == kOutlineNestedOpml && item) InsertItem(tree_, item, kPlaceholderText, 0, kStateNone, -1);
    entries_.push_back({address, title, kind});
  }
}

// ---- Done ------------------------------------------------------------------------------

bool CatalogRequest::AddChosenChannels() {
  if (!tree_) return false;
  struct Chosen {
    std::u16string title;
    std::u16string address;
    bool feed;
  };
  std::vector<Chosen> chosen;
  // Depth first: a checked item is taken without its children; an unchecked
  // one's children are looked at.
  std::vector<plat::HTREEITEM> pending;
  if (plat::HTREEITEM first = NextItem(tree_, nullptr, plat::TVGN_ROOT)) pending.push_back(first);
  while (!pending.empty()) {
    plat::HTREEITEM item = pending.back();
    pending.pop_back();
    if (plat::HTREEITEM next = NextItem(tree_, item, plat::TVGN_NEXT)) pending.push_back(next);
    plat::TVITEMW info{};
    info.mask = plat::TVIF_HANDLE | plat::TVIF_STATE | plat::TVIF_PARAM;
    info.hItem = item;
    info.stateMask = plat::TVIS_STATEIMAGEMASK;
    if (!plat::SendMessageW(tree_, plat::TVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&info))) continue;
    const plat::UINT state = (info.state & plat::TVIS_STATEIMAGEMASK) >> 12;
    if (state == kStateChecked) {
      if (info.lParam == -1) continue;  // a group (its box set by force) is no channel
      if (info.lParam < 0 || static_cast<std::size_t>(info.lParam) >= entries_.size()) {
        CDebugLog::GetInstance().Printf(u"Catalog: a checked item names no entry (%d)", static_cast<int>(info.lParam));
        return false;
      }
      const Entry& entry = entries_[static_cast<std::size_t>(info.lParam)];
      if (entry.kind == kOutlineFeed || entry.kind == kOutlineOwnType) {
        chosen.push_back({entry.title, entry.address, entry.kind == kOutlineFeed});
      }
      continue;
    }
    if (plat::HTREEITEM child = NextItem(tree_, item, plat::TVGN_CHILD)) pending.push_back(child);
  }
  std::stable_sort(chosen.begin(), chosen.end(),
                   [](const Chosen& a, const Chosen& b) { return plat::CompareNoCase(a.title, b.title) < 0; });

  IChannelSet* channels = GetChannelSet();
  CSyncLock lock(channels, u"CatalogRequest::AddChosenChannels");
  CWaitCursor wait;
  for (const Chosen& c : chosen) {
    // The channel set refuses names its rules do not allow and names in use.
    CPluginChannels::GetInstance().CreateChannel(c.title, c.address, c.feed);
  }
  return true;
}
