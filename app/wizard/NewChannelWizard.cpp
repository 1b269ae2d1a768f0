#include "app/wizard/NewChannelWizard.h"

#include <algorithm>

#include "app/dialogs/DownloadDialog.h"
#include "app/dialogs/FileTreeCtrl.h"
#include "app/dialogs/HelpViewer.h"
#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "core/Streams.h"
#include "core/Synchronized.h"
#include "core/VORegistry.h"
#include "database/Channel.h"
#include "database/ChannelLanguages.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "layout/DialogFontCache.h"
#include "layout/ImageLists.h"
#include "layout/OwnControls.h"
#include "layout/ScreenScale.h"
#include "layout/WaitCursor.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/StandardControls.h"
#include "platform/files/Files.h"
#include "resources/app/resource.h"
#include "update/feed/FetchedFeeds.h"
#include "update/feed/RSSChannelJob.h"
#include "update/script/PluginChannels.h"
#include "update/tidy/TidyDocument.h"

namespace AddChannelsWizard {
namespace {

constexpr plat::DWORD kRadioStyle = 0x50010009;
constexpr plat::DWORD kPushButtonStyle = 0x54000000;
constexpr plat::DWORD kLabelStyle = plat::WS_CHILD | plat::WS_VISIBLE;
// Message styles: stop, exclamation, Yes/No with the question mark.
constexpr plat::UINT kStop = 0x10;
constexpr plat::UINT kExclamation = 0x30;
constexpr plat::UINT kQuestion = 0x24;
constexpr std::size_t kMaxSearchChars = 200;
// WM_HELP as a control reflects it to its dialog.
constexpr plat::UINT kReflectedHelp = 0x2000 + plat::WM_HELP;
// A template larger than this is no channel template.
constexpr std::int64_t kMaxTemplateBytes = 8 * 1024 * 1024;
// Strings of this wizard beyond the shared table.
constexpr plat::UINT kTemplateInUseQuestion = 346;
constexpr plat::UINT kUnusableNameMessage = 347;
constexpr plat::UINT kNotAFeedMessage = 382;
constexpr plat::UINT kNotAFeedQuestion = 383;

std::u16string TextOf(plat::HWND window) {
  const int length = plat::GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
  const int got = plat::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(std::max(got, 0)));
  return text;
}


// A feed's title as a channel name: line breaks, tabs and other control
// characters become spaces, runs of blanks one space, the ends trimmed.
std::u16string NameFromTitle(const std::u16string& title) {
  std::u16string name;
  name.reserve(title.size());
  bool blank = false;
  for (char16_t c : title) {
    if (c < 0x20 || c == 0x7F || plat::IsXmlSpaceNbspOrIdeographic(c)) {
      blank = !name.empty();
      continue;
    }
    if (blank) name += u' ';
    blank = false;
    name += c;
  }
  return name;
}

// RSS, RDF or Atom at the top of the document.
bool IsFeedDocument(Tidy::Document* document) {
  Tidy::Node* root = document ? document->GetRoot() : nullptr;
  if (!root) return false;
  for (const char16_t* name : {u"rss", u"rdf:RDF", u"feed"})
    if (Tidy::FindChildElement(document, root, name)) return true;
  return false;
}

// The longest start of the name that the channel set takes as a channel's
// name (a file name of the device), cut at a word's end when one is near.
std::u16string FitChannelName(const std::u16string& name) {
  if (name.empty() || CChannel::IsValidName(name)) return name;
  std::size_t good = 0, bad = name.size();
  while (bad - good > 1) {
    const std::size_t mid = good + (bad - good) / 2;
    if (CChannel::IsValidName(plat::Trim(name.substr(0, mid), plat::IsXmlSpaceNbspOrIdeographic))) good = mid;
    else bad = mid;
  }
  std::u16string fitted = name.substr(0, good);
  // A surrogate pair is not split.
  if (!fitted.empty() && fitted.back() >= 0xD800 && fitted.back() <= 0xDBFF) fitted.pop_back();
  const std::size_t space = fitted.rfind(u' ');
  if (good < name.size() && name[good] != u' ' && space != std::u16string::npos && space > 0 &&
      fitted.size() - space <= 24)
    fitted.resize(space);
  return plat::Trim(fitted, plat::IsXmlSpaceNbspOrIdeographic);
}

plat::HWND CreateEdit(plat::HWND parent, int id, const std::u16string& text) {
  plat::HWND edit = CreateEditChild(parent, text);
  if (edit) plat::SetWindowLongW(edit, plat::GWL_ID, id);
  return edit;
}

void FocusEnd(plat::HWND edit) {
  plat::SetFocus(edit);
  plat::SendMessageW(edit, plat::EM_SETSEL, static_cast<plat::WPARAM>(-1), -1);
  const int length = plat::GetWindowTextLengthW(edit);
  plat::SendMessageW(edit, plat::EM_SETSEL, static_cast<plat::WPARAM>(length), length);
  plat::SendMessageW(edit, plat::EM_SCROLLCARET, 0, 0);
}

// Check lists: state image 1 not marked, 2 marked.
int AppendCheckItem(plat::HWND list, const std::u16string& text, bool checked) {
  std::u16string buffer = text;
  plat::LVITEMW item{};
  item.mask = plat::LVIF_TEXT | plat::LVIF_STATE;
  item.iItem = static_cast<int>(plat::SendMessageW(list, plat::LVM_GETITEMCOUNT, 0, 0));
  item.pszText = buffer.data();
  item.state = plat::INDEXTOSTATEIMAGEMASK(checked ? 2 : 1);
  item.stateMask = plat::LVIS_STATEIMAGEMASK;
  return static_cast<int>(plat::SendMessageW(list, plat::LVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&item)));
}

bool IsItemChecked(plat::HWND list, int index) {
  const auto state = static_cast<plat::UINT>(
      plat::SendMessageW(list, plat::LVM_GETITEMSTATE, static_cast<plat::WPARAM>(index), plat::LVIS_STATEIMAGEMASK));
  return ((state & plat::LVIS_STATEIMAGEMASK) >> 12) != 1;
}

int ItemCount(plat::HWND list) { return static_cast<int>(plat::SendMessageW(list, plat::LVM_GETITEMCOUNT, 0, 0)); }

void SelectFirstItem(plat::HWND list) {
  if (ItemCount(list) == 0) return;
  plat::LVITEMW item{};
  item.state = plat::LVIS_SELECTED | plat::LVIS_FOCUSED;
  item.stateMask = plat::LVIS_SELECTED | plat::LVIS_FOCUSED;
  plat::SendMessageW(list, plat::LVM_SETITEMSTATE, 0, reinterpret_cast<plat::LPARAM>(&item));
  plat::SendMessageW(list, plat::LVM_ENSUREVISIBLE, 0, 0);
}

// The template a channel's address reads, when it is a local template.
std::u16string LocalTemplateOf(IChannel* channel) {
  std::u16string scheme, templatePart, name;
  if (!CPluginChannels::SplitChannelAddress(CPluginChannels::GetChannelUrl(channel), scheme, templatePart, name))
    return {};
  return plat::EqualsNoCase(scheme, u"file") ? templatePart : std::u16string();
}

}  // namespace

// ---------------------------------------------------------------------------
// Page

void Page::DefaultAction() {
  if (GetKind() != kLastPage) Next();
  else Done();
}

plat::HWND Page::AddControl(plat::HWND control) {
  if (control) controls_.push_back(control);
  return control;
}

plat::HWND Page::Dialog() const { return wizard_ ? wizard_->GetHwnd() : nullptr; }

int Page::ShowMessage(plat::UINT stringId, plat::UINT style) const { return ShowMessageBox(Dialog(), stringId, style); }

// ---------------------------------------------------------------------------
// Start page

void StartPage::CreateControls() {
  for (plat::UINT id : {254u, 255u, 256u, 156u, 319u}) choices_.push_back(LocalizeResourceString(id));
  AddControl(CreateLabel(Dialog(), nullptr, LocalizeResourceString(252), kLabelStyle, 0, kStartLabelId));
  for (std::size_t i = 0; i < choices_.size(); ++i) {
    plat::HWND radio = plat::CreateWindowExW(0, u"BUTTON", choices_[i].c_str(), kRadioStyle, 0, 0, 0, 0, Dialog(),
                                             reinterpret_cast<plat::HMENU>(kFirstChoiceId + i), nullptr, nullptr);
    if (!radio) continue;
    radios_.push_back(radio);
    AddControl(radio);
  }
  Choose(0);
}

void StartPage::Choose(int choice) {
  for (std::size_t i = 0; i < radios_.size(); ++i) {
    plat::SendMessageW(radios_[i], plat::BM_SETCHECK,
                       static_cast<int>(i) == choice ? plat::BST_CHECKED : plat::BST_UNCHECKED, 0);
  }
}

void StartPage::Activate() {
  if (!radios_.empty()) plat::SetFocus(radios_.front());
}

plat::HWND StartPage::GetFocusControl() const {
  for (plat::HWND radio : radios_)
    if (plat::SendMessageW(radio, plat::BM_GETCHECK, 0, 0) == static_cast<plat::LRESULT>(plat::BST_CHECKED)) return radio;
  return radios_.empty() ? nullptr : radios_.front();
}

void StartPage::Next() {
  static constexpr const char16_t* kTargets[] = {u"m_pageLanguages", u"m_pageFromRss", u"m_pageSearch",
                                                 u"m_pageWebOpml", u"m_pageTemplate"};
  for (std::size_t i = 0; i < radios_.size() && i < std::size(kTargets); ++i) {
    if (plat::SendMessageW(radios_[i], plat::BM_GETCHECK, 0, 0) != static_cast<plat::LRESULT>(plat::BST_CHECKED))
      continue;
    if (i == 0) {
      // The catalogue by language: no search, no OPML document.
      catalog_.GetRequest().SetOpmlAddress(u"");
      catalog_.GetRequest().SetSearchText(u"");
    }
    wizard_->GoToPage(kTargets[i]);
    return;
  }
}

// ---------------------------------------------------------------------------
// Feed-address page

void FeedAddressPage::CreateControls() {
  AddControl(CreateLabel(Dialog(), nullptr, LocalizeResourceString(246), kLabelStyle, 0, kFeedAddressLabelId));
  address_ = AddControl(CreateEdit(Dialog(), kFeedAddressId, u"http://"));
  AddControl(CreateLabel(Dialog(), nullptr, LocalizeResourceString(265), kLabelStyle, 0, kFeedNameLabelId));
  name_ = AddControl(CreateEdit(Dialog(), kFeedNameId, u""));
  AddControl(CreatePushButton(Dialog(), nullptr, LocalizeResourceString(287), kPushButtonStyle, 0, kCheckAndGetNameId));
}

void FeedAddressPage::Activate() {
  if (address_) FocusEnd(address_);
}

bool FeedAddressPage::OnCommand(int id, plat::HWND) {
  if (id != kCheckAndGetNameId) return false;
  CheckAndGetName();
  return true;
}

std::unique_ptr<Tidy::Document> FeedAddressPage::Fetch(const std::u16string& address) {
  std::unique_ptr<Tidy::Document> document = std::move(fetched_);
  const bool fresh = document && fetchedAddress_ == address && plat::GetTickCount() - fetchedTick_ < FetchedFeeds::kFreshMs;
  fetchedAddress_.clear();
  if (fresh) return document;
  document = std::make_unique<Tidy::Document>();
  if (document->Init() != 0) return nullptr;
  if (!wizard_->DownloadDocument(address, 182, document.get())) return nullptr;
  return document;
}

void FeedAddressPage::CheckAndGetName() {
  const std::u16string address = plat::Trim(TextOf(address_), plat::IsXmlSpaceNbspOrIdeographic);
  if (address.empty()) {
    ShowMessage(161, kStop);
    return;
  }
  std::unique_ptr<Tidy::Document> document = Fetch(address);
  if (!document) return;
  if (!IsFeedDocument(document.get())) {
    ShowMessage(kNotAFeedMessage, kStop);
    return;
  }
  std::u16string title;
  const std::u16string name =
      CRSSChannelJob::GetFeedTitle(document.get(), title) ? FitChannelName(NameFromTitle(title)) : u"";
  // Done on the same address uses this download.
  fetched_ = std::move(document);
  fetchedAddress_ = address;
  fetchedTick_ = plat::GetTickCount();
  if (name.empty()) {
    ShowMessage(164, kStop);
    return;
  }
  plat::SetWindowTextW(name_, name.c_str());
}

void FeedAddressPage::Done() {
  const std::u16string address = plat::Trim(TextOf(address_), plat::IsXmlSpaceNbspOrIdeographic);
  std::u16string name = plat::Trim(TextOf(name_), plat::IsXmlSpaceNbspOrIdeographic);
  if (address.empty()) {
    ShowMessage(161, kStop);
    return;
  }
  std::unique_ptr<Tidy::Document> document = Fetch(address);
  if (!document) {
    if (name.empty() || ShowMessage(277, kQuestion) != plat::IDYES) return;
  } else if (!IsFeedDocument(document.get())) {
    // A page, not a feed: added only on the user's word, and only by name.
    if (name.empty()) {
      ShowMessage(kNotAFeedMessage, kStop);
      return;
    }
    if (ShowMessage(kNotAFeedQuestion, kQuestion) != plat::IDYES) return;
    document.reset();
  } else if (name.empty()) {
    std::u16string title;
    if (CRSSChannelJob::GetFeedTitle(document.get(), title)) name = FitChannelName(NameFromTitle(title));
    if (name.empty()) {
      ShowMessage(164, kStop);
      return;
    }
  }
  // The channel's first update stores this body instead of fetching it again.
  if (document) FetchedFeeds::Keep(address, std::move(document));
  if (AddFeedChannel(name, address)) {
    wizard_->EndWith(1);
    return;
  }
  // Nothing was added: the download stays with the page for the next Done.
  if ((fetched_ = FetchedFeeds::Take(address))) {
    fetchedAddress_ = address;
    fetchedTick_ = plat::GetTickCount();
  }
}

bool FeedAddressPage::AddFeedChannel(const std::u16string& name, const std::u16string& address) {
  CSyncLock lock(GetChannelSet());
  // Names that differ only in case are one channel on the device.
  if (GetChannelSet()->FindByNameNoCase(name) != nullptr) {
    ShowMessage(163, kStop);
    return false;
  }
  if (!CChannel::IsValidName(name)) {
    ShowMessage(kUnusableNameMessage, kStop);
    return false;
  }
  if (CPluginChannels::GetInstance().CreateChannel(name, address, true) != nullptr) return true;
  ShowMessage(kUnusableNameMessage, kStop);
  return false;
}

// ---------------------------------------------------------------------------
// Catalogue page

void CatalogPage::CreateControls() {
  constexpr plat::DWORD kTreeStyle = plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_BORDER | plat::WS_TABSTOP |
                                     plat::TVS_HASBUTTONS | plat::TVS_HASLINES | plat::TVS_LINESATROOT |
                                     plat::TVS_SHOWSELALWAYS | plat::TVS_CHECKBOXES;
  tree_ = plat::CreateWindowExW(0, u"SysTreeView32", u"", kTreeStyle, 0, 0, 0, 0, Dialog(),
                                reinterpret_cast<plat::HMENU>(kCatalogTreeId), nullptr, nullptr);
  if (!tree_) return;
  AddControl(tree_);
  plat::HIMAGELIST images = nullptr;
  if (LoadSmallIconImageList(images)) {
    images_.push_back(images);
    plat::SendMessageW(tree_, plat::TVM_SETIMAGELIST, plat::TVSIL_NORMAL, reinterpret_cast<plat::LPARAM>(images));
  }
  request_.SetTree(tree_);
}

CatalogPage::~CatalogPage() { DestroyImageLists(images_); }

void CatalogPage::AdjustLayout(DialogAutoFit& fit) {
  if (!tree_) return;
  fit.SetControlAnchor(tree_, DialogAutoFit::kFill);
  const int onePixelX = (GetScreenDpiX() + 48) / 96;
  const int onePixelY = (GetScreenDpiY() + 48) / 96;
  fit.SetControlSpacing(tree_, onePixelX, onePixelY, onePixelX, onePixelY);
}

void CatalogPage::Activate() {
  // The tree holds the focus while the download runs, so that it gets it back.
  plat::SetFocus(tree_);
  if (!wizard_->LoadCatalog(request_)) {
    wizard_->Back();
    return;
  }
  if (request_.IsEmpty()) {
    const bool byLanguage = request_.GetOpmlAddress().empty() && request_.GetSearchText().empty();
    if (byLanguage) ShowMessage(168, kStop);
    else ShowMessage(204, kExclamation);
    wizard_->Back();
    return;
  }
  plat::SetFocus(tree_);
}

bool CatalogPage::ProcessMessage(plat::HWND, plat::UINT msg, plat::WPARAM, plat::LPARAM lParam, plat::LRESULT& result) {
  if (msg != plat::WM_NOTIFY || !lParam) return false;
  const auto* notice = reinterpret_cast<const plat::NMTREEVIEWW*>(lParam);
  if (notice->hdr.hwndFrom != tree_ || notice->hdr.code != plat::TVN_ITEMEXPANDINGW) return false;
  if (notice->action & plat::TVE_EXPAND) request_.ExpandNested(Dialog(), notice->itemNew.hItem);
  // The item opens with what it holds now; a nested document that could not
  // be read stays closed, its expand button kept for another try.
  result = request_.IsUnreadNested(notice->itemNew.hItem) ? 1 : 0;
  return true;
}

void CatalogPage::Done() {
  if (request_.AddChosenChannels()) wizard_->EndWith(1);
}

// ---------------------------------------------------------------------------
// Search page

void SearchPage::CreateControls() {
  AddControl(CreateLabel(Dialog(), nullptr, LocalizeResourceString(250), kLabelStyle, 0, kSearchLabelId));
  text_ = AddControl(CreateEdit(Dialog(), kSearchTextId, OpenSettingsKey().GetString(kLastSearchValue, u"")));
}

void SearchPage::Activate() {
  if (text_) FocusEnd(text_);
}

void SearchPage::Next() {
  const std::u16string text = TextOf(text_);
  if (text.empty()) {
    ShowMessage(203, kExclamation);
    return;
  }
  if (text.size() > kMaxSearchChars) {
    ShowMessage(222, kExclamation);
    return;
  }
  OpenSettingsKey().SetString(kLastSearchValue, text);
  catalog_.GetRequest().SetOpmlAddress(u"");
  catalog_.GetRequest().SetSearchText(text);
  wizard_->GoToPage(u"m_pageOnlineCatalog");
}

// ---------------------------------------------------------------------------
// Web-OPML page

void WebOpmlPage::CreateControls() {
  AddControl(CreateLabel(Dialog(), nullptr, LocalizeResourceString(285), kLabelStyle, 0, kOpmlLabelId));
  address_ =
      AddControl(CreateEdit(Dialog(), kOpmlAddressId, OpenSettingsKey().GetString(kLastWebOpmlUrlValue, u"http://")));
  browse_ = AddControl(CreatePushButton(Dialog(), nullptr, LocalizeResourceString(286), kPushButtonStyle, 0,
                                        kOpmlBrowseId));
}

void WebOpmlPage::AdjustLayout(DialogAutoFit& fit) {
  // The button stands at the foot of the page.
  if (browse_) fit.SetControlAnchor(browse_, DialogAutoFit::kBottom);
}

void WebOpmlPage::Activate() {
  // Typing goes on after the address shown ("http://" or the last one).
  if (address_) FocusEnd(address_);
}

bool WebOpmlPage::OnCommand(int id, plat::HWND) {
  if (id != kOpmlBrowseId) return false;
  Browse();
  return true;
}

void WebOpmlPage::Browse() {
  FileDialogRequest request;
  request.owner = Dialog();
  request.filter = u"OPML (*.opml)|*.opml|All Files (*.*)|*.*||";
  request.defaultExtension = u"opml";
  request.flags = 0x1800;
  if (wizard_->PickFile(request, false) != 1) return;
  plat::SetWindowTextW(address_, request.file.c_str());
}

void WebOpmlPage::Next() {
  const std::u16string text = plat::Trim(TextOf(address_), plat::IsXmlSpaceNbspOrIdeographic);
  if (text.empty()) {
    ShowMessage(188, kExclamation);
    return;
  }
  OpenSettingsKey().SetString(kLastWebOpmlUrlValue, text);
  catalog_.GetRequest().SetOpmlAddress(text);
  catalog_.GetRequest().SetSearchText(u"");
  wizard_->GoToPage(u"m_pageOnlineCatalog");
}

// ---------------------------------------------------------------------------
// Languages page

void LanguagesPage::CreateControls() {
  AddControl(CreateLabel(Dialog(), nullptr, LocalizeResourceString(283), kLabelStyle, 0, kLanguagesLabelId));
  list_ = AddControl(CreateCheckList(Dialog(), nullptr, kLanguagesListId));
  Fill();
}

void LanguagesPage::Fill() {
  if (!list_) return;
  plat::SendMessageW(list_, plat::LVM_DELETEALLITEMS, 0, 0);
  codes_.clear();
  names_.clear();
  CChannelLanguages* languages = GetChannelLanguages();
  languages->GetLanguages(codes_, names_);
  for (std::size_t i = 0; i < codes_.size() && i < names_.size(); ++i)
    AppendCheckItem(list_, names_[i], languages->IsLanguageSelected(codes_[i]));
  SelectFirstItem(list_);
}

void LanguagesPage::AdjustLayout(DialogAutoFit& fit) {
  if (list_) fit.SetControlAnchor(list_, DialogAutoFit::kFill);
}

void LanguagesPage::Activate() {
  if (list_) plat::SetFocus(list_);
}

void LanguagesPage::Next() {
  std::vector<std::u16string> chosen;
  const int count = ItemCount(list_);
  for (int i = 0; i < count && i < static_cast<int>(codes_.size()); ++i) {
    if (IsItemChecked(list_, i)) chosen.push_back(codes_[static_cast<std::size_t>(i)]);
  }
  if (chosen.empty()) {
    ShowMessage(185, kExclamation);
    return;
  }
  GetChannelLanguages()->SetSelectedLanguages(chosen);
  wizard_->GoToPage(u"m_pageOnlineCatalog");
}

// ---------------------------------------------------------------------------
// Template page

void TemplatePage::CreateControls() {
  list_ = AddControl(CreateCheckList(Dialog(), nullptr, kTemplateListId));
  open_ = AddControl(CreatePushButton(Dialog(), nullptr, LocalizeResourceString(314), kPushButtonStyle, 0,
                                      kTemplateOpenId));
}

void TemplatePage::AdjustLayout(DialogAutoFit& fit) {
  // The list takes the page, its button stands at the foot.
  if (list_) fit.SetControlAnchor(list_, DialogAutoFit::kFill);
  if (open_) fit.SetControlAnchor(open_, DialogAutoFit::kBottom);
}

void TemplatePage::Activate() {
  if (path_.empty() && ItemCount(list_) == 0) ShowInstalledTemplates();
  if (list_) plat::SetFocus(list_);
}

void TemplatePage::ShowInstalledTemplates() {
  std::vector<std::u16string> files;
  const std::u16string folder = GetGlobalOptions().GetTemplatesFolder();
  TreePane::Enumerate(folder, u"*.xml", [&files](const plat::WIN32_FIND_DATAW& data) {
    if (!(data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY)) files.push_back(data.cFileName);
  });
  std::sort(files.begin(), files.end(),
            [](const std::u16string& a, const std::u16string& b) { return plat::CompareNoCase(a, b) < 0; });
  names_.clear();
  addresses_.clear();
  for (const std::u16string& file : files) {
    CStringList names, addresses;
    CPluginChannels::GetInstance().EnumTemplateChannels(CombinePath(folder, file), addresses, names);
    for (auto n = names.begin(), a = addresses.begin(); n != names.end() && a != addresses.end(); ++n, ++a) {
      names_.push_back(*n);
      addresses_.push_back(*a);
    }
  }
  for (const std::u16string& name : names_) AppendCheckItem(list_, name, false);
  listedInstalled_ = !names_.empty();
  SelectFirstItem(list_);
}

void TemplatePage::AddInstalledChannels() {
  CSyncLock lock(GetChannelSet());
  for (int i = 0; i < ItemCount(list_) && i < static_cast<int>(names_.size()) && i < static_cast<int>(addresses_.size());
       ++i) {
    if (IsItemChecked(list_, i))
      CPluginChannels::GetInstance().CreateChannel(names_[static_cast<std::size_t>(i)],
                                                   addresses_[static_cast<std::size_t>(i)], false);
  }
}

bool TemplatePage::OnCommand(int id, plat::HWND) {
  if (id != kTemplateOpenId) return false;
  OpenTemplate();
  return true;
}

void TemplatePage::OpenTemplate() {
  FileDialogRequest request;
  request.owner = plat::GetActiveWindow();
  request.filter = u"XML Files(*.xml)|*.xml||";
  request.defaultExtension = u"xml";
  request.file = u"\\";
  request.flags = 0x1800;
  if (wizard_->PickFile(request, true) != 1) return;
  ShowTemplate(request.file);
}

bool TemplatePage::ShowTemplate(const std::u16string& path) {
  plat::SendMessageW(list_, plat::LVM_DELETEALLITEMS, 0, 0);
  listedInstalled_ = false;
  names_.clear();
  addresses_.clear();
  path_ = path;
  CStringList names, addresses;
  CPluginChannels::GetInstance().EnumTemplateChannels(path_, addresses, names);
  names_.assign(names.begin(), names.end());
  addresses_.assign(addresses.begin(), addresses.end());
  if (names_.empty()) {
    ShowMessage(193, kStop);
    return false;
  }
  for (const std::u16string& name : names_) AppendCheckItem(list_, name, true);
  SelectFirstItem(list_);
  return true;
}

bool TemplatePage::CopyIntoTemplates(const std::u16string& target, bool& refused) {
  refused = false;
  if (plat::EqualsNoCase(path_, target)) return true;  // picked from the "Templates" folder itself
  std::string bytes;
  if (!ReadWholeFile(path_, bytes, kMaxTemplateBytes, 0)) return false;
  if (FileExists(target)) {
    std::string old;
    if (ReadWholeFile(target, old, kMaxTemplateBytes, 0) && old == bytes) return true;
    bool used = false;
    {
      CSyncLock lock(GetChannelSet());
      for (int i = 0; i < GetChannelSet()->GetCount() && !used; ++i)
        used = plat::EqualsNoCase(LocalTemplateOf(GetChannelSet()->GetAt(i)), target);
    }
    if (used && ShowMessage(kTemplateInUseQuestion, kQuestion) != plat::IDYES) {
      refused = true;
      return false;
    }
  }
  const std::u16string folder = GetGlobalOptions().GetTemplatesFolder();
  if (!DirectoryExists(folder) && !CreateFolderTree(folder)) return false;
  return plat::ReplaceFileContents(target, bytes.data(), bytes.size());
}

void TemplatePage::Done() {
  if (ItemCount(list_) == 0 || names_.empty()) {
    ShowMessage(193, kStop);
    return;
  }
  if (listedInstalled_) {
    AddInstalledChannels();
    wizard_->EndWith(1);
    return;
  }
  std::u16string folder, name, extension;
  if (!SplitPath(path_, &folder, &name, &extension) || name.empty()) {
    ShowMessage(193, kStop);
    return;
  }
  const std::u16string target =
      CombinePath(GetGlobalOptions().GetTemplatesFolder(), extension.empty() ? name : name + u"." + extension);
  bool refused = false;
  if (!CopyIntoTemplates(target, refused)) {
    if (!refused) ShowMessage(193, kStop);
    return;
  }
  // The channels read the copy from now on.
  std::vector<bool> checked;
  for (int i = 0; i < ItemCount(list_); ++i) checked.push_back(IsItemChecked(list_, i));
  CStringList names, addresses;
  CPluginChannels::GetInstance().EnumTemplateChannels(target, addresses, names);
  names_.assign(names.begin(), names.end());
  addresses_.assign(addresses.begin(), addresses.end());
  {
    CSyncLock lock(GetChannelSet());
    for (std::size_t i = 0; i < checked.size() && i < names_.size() && i < addresses_.size(); ++i) {
      if (checked[i]) CPluginChannels::GetInstance().CreateChannel(names_[i], addresses_[i], false);
    }
  }
  wizard_->EndWith(1);
}

}  // namespace AddChannelsWizard

// ---------------------------------------------------------------------------
// The wizard

using namespace AddChannelsWizard;

NewChannelWizard::NewChannelWizard() { SetTitle(LocalizeResourceString(135)); }

NewChannelWizard::~NewChannelWizard() = default;

plat::INT_PTR NewChannelWizard::Run(plat::HWND owner) { return RunModalEmptyDialog(*this, owner, 0); }

void NewChannelWizard::RegisterPage(const char16_t* memberName, Page& page) {
  page.SetWizard(this);
  page.CreateControls();
  pages_[memberName] = &page;
}

void NewChannelWizard::OnInit() {
  RegisterPage(u"m_pageStart", start_);
  RegisterPage(u"m_pageFromRss", fromRss_);
  RegisterPage(u"m_pageOnlineCatalog", catalog_);
  RegisterPage(u"m_pageSearch", search_);
  RegisterPage(u"m_pageWebOpml", webOpml_);
  RegisterPage(u"m_pageLanguages", languages_);
  RegisterPage(u"m_pageTemplate", template_);

  GetDialogFontCache().ApplyToDialog(hwnd_);

  ModifyStyle(hwnd_, 0, plat::WS_TABSTOP, 0);
  CreateSoftKeys(false);
  autoFit_ = std::make_unique<DialogAutoFit>(hwnd_, true, true, true);
  for (plat::HWND child = plat::GetWindow(hwnd_, plat::GW_CHILD); child;
       child = plat::GetWindow(child, plat::GW_HWNDNEXT)) {
    if (child != softKeys_.GetBar()) autoFit_->AddRow(child);
  }
  for (Page* page : {static_cast<Page*>(&start_), static_cast<Page*>(&fromRss_), static_cast<Page*>(&catalog_),
                     static_cast<Page*>(&search_), static_cast<Page*>(&webOpml_), static_cast<Page*>(&languages_),
                     static_cast<Page*>(&template_)}) {
    page->AdjustLayout(*autoFit_);
  }
  GoToPage(u"m_pageStart");
}

void NewChannelWizard::CreateSoftKeys(bool withSipButton) {
  softKeys_.Create(hwnd_, IDR_MENU_WIZARD, withSipButton);
  sipButton_ = withSipButton;
}

bool NewChannelWizard::GoToPage(const std::u16string& memberName) {
  const auto found = pages_.find(memberName);
  if (found == pages_.end()) return false;
  stack_.push_back(found->second);
  Refresh();
  return true;
}

void NewChannelWizard::Refresh() {
  Page* page = GetCurrentPage();
  if (!page || !hwnd_) return;
  if (page->WantsInputPanelButton() != sipButton_) CreateSoftKeys(page->WantsInputPanelButton());
  const int left = page->GetKind() == kFirstPage ? kCmdCancel : kCmdBack;
  const int right = page->GetKind() == kLastPage ? kCmdDone : kCmdNext;
  softKeys_.SetButton(softKeys_.GetLeftCommand(), plat::TBSTATE_ENABLED,
                      Localize(left == kCmdCancel ? u"Cancel" : u"Back"), left);
  softKeys_.SetButton(softKeys_.GetRightCommand(), plat::TBSTATE_ENABLED,
                      Localize(right == kCmdDone ? u"Done" : u"Next"), right);
  if (autoFit_) {
    autoFit_->SetVisibleControls(page->GetControls());
    autoFit_->SetSwitches(page->GetGapSwitch(), page->GetMarginsSwitch());
    autoFit_->Layout();
  }
  plat::InvalidateRect(hwnd_, nullptr, plat::TRUE);
  page->Activate();
}

void NewChannelWizard::Cancel() { EndWith(2); }

void NewChannelWizard::Back() {
  if (stack_.size() <= 1) {
    EndWith(2);
    return;
  }
  stack_.pop_back();
  Refresh();
}

void NewChannelWizard::Next() {
  if (Page* page = GetCurrentPage()) page->Next();
}

void NewChannelWizard::Done() {
  if (Page* page = GetCurrentPage()) page->Done();
}

void NewChannelWizard::DefaultAction() {
  if (Page* page = GetCurrentPage()) page->DefaultAction();
}

plat::LRESULT NewChannelWizard::OnOK() {
  DefaultAction();
  return 0;
}

plat::LRESULT NewChannelWizard::OnCancel() {
  Cancel();
  return 0;
}

bool NewChannelWizard::ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam,
                                             plat::LPARAM lParam, plat::LRESULT& result) {
  // The base fits the dialog to the input panel; the rows follow its size.
  if (msg == plat::WM_SIZE && autoFit_) autoFit_->Layout();
  if (msg == plat::WM_COMMAND) {
    const int id = plat::LOWORD(wParam);
    result = 0;
    switch (id) {
      case kCmdCancel: Cancel(); return true;
      case kCmdBack: Back(); return true;
      case kCmdNext: Next(); return true;
      case kCmdDone: Done(); return true;
      default: break;
    }
    if (plat::HIWORD(wParam) == 0) {
      if (Page* page = GetCurrentPage();
          page && page->OnCommand(id, reinterpret_cast<plat::HWND>(lParam))) {
        return true;
      }
    }
  }
  // Coming back from a nested dialog (a download, the file picker), the
  // focus goes to the page unless one of its controls holds it already.
  if (msg == plat::WM_ACTIVATE && plat::LOWORD(wParam) != plat::WA_INACTIVE) {
    if (Page* page = GetCurrentPage()) {
      const std::vector<plat::HWND>& controls = page->GetControls();
      const plat::HWND focus = plat::GetFocus();
      if (std::find(controls.begin(), controls.end(), focus) == controls.end() && page->GetFocusControl())
        plat::SetFocus(page->GetFocusControl());
    }
    result = 0;
    return true;
  }
  // The device's Back key (its press; the release comes as well) steps back.
  if (msg == plat::WM_HOTKEY && plat::HIWORD(lParam) == plat::VK_TBACK) {
    if (!(plat::LOWORD(lParam) & plat::MOD_KEYUP)) Back();
    result = 0;
    return true;
  }
  // Help reaches the wizard itself or reflected from one of its controls.
  if (msg == plat::WM_HELP || msg == kReflectedHelp) {
    if (Page* page = GetCurrentPage()) ShowHelpTopic(page->GetLayoutName());
    result = 1;
    return true;
  }
  if (Page* page = GetCurrentPage(); page && page->ProcessMessage(hwnd, msg, wParam, lParam, result)) return true;
  return false;
}

bool NewChannelWizard::DownloadDocument(const std::u16string& address, plat::UINT captionId,
                                        Tidy::Document* document) {
  const bool done =
      DownloadDialog::Run(hwnd_, address, LocalizeResourceString(135), LocalizeResourceString(captionId), document);
  TakeBackActivation();
  return done;
}

plat::INT_PTR NewChannelWizard::PickFile(FileDialogRequest& request, bool keepInputPanel) {
  const plat::INT_PTR result = keepInputPanel ? RunFileDialogKeepingInputPanel(request) : RunFileDialog(request);
  TakeBackActivation();
  return result;
}

bool NewChannelWizard::LoadCatalog(CatalogRequest& request) {
  const bool loaded = request.Load(hwnd_);
  TakeBackActivation();
  return loaded;
}

void NewChannelWizard::TakeBackActivation() {
  // A nested dialog that closes may hand the activation elsewhere (to the
  // program's hidden window); the keys belong to the wizard again.
  if (hwnd_ && plat::IsWindowVisible(hwnd_) && plat::GetForegroundWindow() != hwnd_) plat::SetForegroundWindow(hwnd_);
}
