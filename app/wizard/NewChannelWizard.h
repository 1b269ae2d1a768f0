// The add-channels wizard: the modal full-screen dialog behind the main
// window's New Channel command. Its first page chooses the source of the new
// channels (the online catalogue by language, a feed address, a catalogue
// search, an OPML document on the web or in a file, a local channel
// template); the pages are objects embedded in the wizard, each creating its
// controls on the dialog once, and only the current page's controls show,
// laid out by the dialog auto-fit. The wizard ends with 1 when channels were
// added and with 2 when the user cancelled.
//
// UI thread only. Channels are created under the channel set's lock.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/dialogs/FileDialog.h"
#include "app/wizard/CatalogRequest.h"
#include "layout/DialogAutoFit.h"
#include "layout/PPCDialog.h"
#include "layout/SoftKeyBar.h"
#include "platform/windows/Windows.h"

namespace Tidy {
class Document;
}
class NewChannelWizard;

namespace AddChannelsWizard {

enum PageKind { kFirstPage = 0, kMiddlePage = 1, kLastPage = 2 };

// Control ids of the pages (the start page's radio buttons are 10000..10004).
enum ControlId {
  kStartLabelId = 9999,
  kFirstChoiceId = 10000,
  kFeedAddressLabelId = 10010,
  kFeedAddressId,
  kFeedNameLabelId,
  kFeedNameId,
  kCheckAndGetNameId,
  kSearchLabelId = 10020,
  kSearchTextId,
  kOpmlLabelId = 10030,
  kOpmlAddressId,
  kOpmlBrowseId,
  kLanguagesLabelId = 10040,
  kLanguagesListId,
  kCatalogTreeId = 10050,
  kTemplateListId = 10060,
  kTemplateOpenId,
};

// One page of the wizard. A page belongs to one wizard, set when the wizard
// registers it; its controls are made once and shown while it is current.
class Page {
 public:
  virtual ~Page() = default;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  void SetWizard(NewChannelWizard* wizard) { wizard_ = wizard; }
  NewChannelWizard* GetWizard() const { return wizard_; }

  // The page's own messages, tried by the wizard before the dialog base.
  virtual bool ProcessMessage(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM, plat::LRESULT&) { return false; }
  virtual int GetKind() const = 0;
  // Whether the soft-key bar shows the input-panel button on this page.
  virtual bool WantsInputPanelButton() const { return false; }
  virtual void CreateControls() = 0;
  // Per-page settings of the page's auto-fit rows, once the rows exist.
  virtual void AdjustLayout(DialogAutoFit&) {}
  const std::vector<plat::HWND>& GetControls() const { return controls_; }
  // The auto-fit's switches while the page shows: the gap around rows and
  // the page margins.
  virtual bool GetGapSwitch() const { return true; }
  virtual bool GetMarginsSwitch() const { return true; }
  // Each time the page becomes current, after the layout.
  virtual void Activate() {}
  // The control that takes the focus when the page shows or the wizard is
  // activated again (null: none).
  virtual plat::HWND GetFocusControl() const { return nullptr; }
  // A command of a child control (notification code 0); true when handled.
  virtual bool OnCommand(int, plat::HWND) { return false; }
  virtual void Next() {}
  virtual void Done() {}
  // Enter or the dialog's OK: next on first and middle pages, done on last.
  void DefaultAction();
  // The page's layout, also its help topic.
  virtual const char16_t* GetLayoutName() const = 0;

 protected:
  Page() = default;
  // Adds the control to the page's list; the control itself is returned.
  plat::HWND AddControl(plat::HWND control);
  plat::HWND Dialog() const;
  int ShowMessage(plat::UINT stringId, plat::UINT style) const;

  NewChannelWizard* wizard_ = nullptr;
  std::vector<plat::HWND> controls_;
};

class CatalogPage;

// The choice of source: five radio buttons.
class StartPage : public Page {
 public:
  explicit StartPage(CatalogPage& catalog) : catalog_(catalog) {}
  int GetKind() const override { return kFirstPage; }
  void CreateControls() override;
  void Activate() override;
  plat::HWND GetFocusControl() const override;
  void Next() override;
  const char16_t* GetLayoutName() const override { return u"new_channel_general"; }

  const std::vector<plat::HWND>& GetRadioButtons() const { return radios_; }
  // Checks the radio button of the choice (0..4) and clears the others.
  void Choose(int choice);

 private:
  CatalogPage& catalog_;
  std::vector<std::u16string> choices_;
  std::vector<plat::HWND> radios_;
};

// A channel by feed address, named by the user or by the feed's title.
class FeedAddressPage : public Page {
 public:
  int GetKind() const override { return kLastPage; }
  bool WantsInputPanelButton() const override { return true; }
  void CreateControls() override;
  void Activate() override;
  plat::HWND GetFocusControl() const override { return address_; }
  bool OnCommand(int id, plat::HWND control) override;
  void Done() override;
  const char16_t* GetLayoutName() const override { return u"new_channel_rss_atom"; }

  plat::HWND GetAddressBox() const { return address_; }
  plat::HWND GetNameBox() const { return name_; }
  // "Check and Get Name": downloads the feed and puts its title in the name box.
  void CheckAndGetName();

 private:
  // Adds the feed channel under the channel set's lock; false (after telling
  // the user why) when the name is taken or cannot be a channel name.
  bool AddFeedChannel(const std::u16string& name, const std::u16string& address);
  // The feed of the address, parsed: what Check fetched for this very address
  // a moment ago, else downloaded now; null when the download failed.
  std::unique_ptr<Tidy::Document> Fetch(const std::u16string& address);

  plat::HWND address_ = nullptr;
  plat::HWND name_ = nullptr;
  std::u16string fetchedAddress_;
  std::unique_ptr<Tidy::Document> fetched_;
  plat::DWORD fetchedTick_ = 0;
};

// The tree of catalogue entries; filled by the catalogue request on every
// activation.
class CatalogPage : public Page {
 public:
  CatalogPage() = default;
  // Releases the tree's image list (the tree does not own it).
  ~CatalogPage() override;
  int GetKind() const override { return kLastPage; }
  void CreateControls() override;
  void AdjustLayout(DialogAutoFit& fit) override;
  bool GetGapSwitch() const override { return false; }
  bool GetMarginsSwitch() const override { return false; }
  void Activate() override;
  plat::HWND GetFocusControl() const override { return tree_; }
  void Done() override;
  const char16_t* GetLayoutName() const override { return u"new_channel_catalog"; }
  // Opening a nested OPML document's entry reads that document into it.
  bool ProcessMessage(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM, plat::LRESULT&) override;

  CatalogRequest& GetRequest() { return request_; }
  plat::HWND GetTree() const { return tree_; }

 private:
  CatalogRequest request_;
  plat::HWND tree_ = nullptr;
  std::vector<plat::HIMAGELIST> images_;
};

// A search text for the catalogue ("LastSearch").
class SearchPage : public Page {
 public:
  explicit SearchPage(CatalogPage& catalog) : catalog_(catalog) {}
  int GetKind() const override { return kMiddlePage; }
  bool WantsInputPanelButton() const override { return true; }
  void CreateControls() override;
  void Activate() override;
  plat::HWND GetFocusControl() const override { return text_; }
  void Next() override;
  const char16_t* GetLayoutName() const override { return u"new_channel_search"; }

  plat::HWND GetTextBox() const { return text_; }

 private:
  CatalogPage& catalog_;
  plat::HWND text_ = nullptr;
};

// An OPML document by web address or file path ("LastWebOpmlUrl").
class WebOpmlPage : public Page {
 public:
  explicit WebOpmlPage(CatalogPage& catalog) : catalog_(catalog) {}
  int GetKind() const override { return kMiddlePage; }
  bool WantsInputPanelButton() const override { return true; }
  void CreateControls() override;
  void AdjustLayout(DialogAutoFit& fit) override;
  void Activate() override;
  plat::HWND GetFocusControl() const override { return address_; }
  bool OnCommand(int id, plat::HWND control) override;
  void Next() override;
  const char16_t* GetLayoutName() const override { return u"new_channel_opml"; }

  plat::HWND GetAddressBox() const { return address_; }
  // "Browse...": a picked file's path replaces the address.
  void Browse();

 private:
  CatalogPage& catalog_;
  plat::HWND address_ = nullptr;
  plat::HWND browse_ = nullptr;
};

// The catalogue languages to ask for, as a check list.
class LanguagesPage : public Page {
 public:
  explicit LanguagesPage(CatalogPage& catalog) : catalog_(catalog) {}
  int GetKind() const override { return kMiddlePage; }
  void CreateControls() override;
  void AdjustLayout(DialogAutoFit& fit) override;
  void Activate() override;
  plat::HWND GetFocusControl() const override { return list_; }
  void Next() override;
  // Shares the catalogue's layout.
  const char16_t* GetLayoutName() const override { return u"new_channel_catalog"; }

  plat::HWND GetList() const { return list_; }
  const std::vector<std::u16string>& GetCodes() const { return codes_; }

 private:
  void Fill();

  CatalogPage& catalog_;
  plat::HWND list_ = nullptr;
  std::vector<std::u16string> codes_;
  std::vector<std::u16string> names_;
};

// The channels of a local template file, copied into the program's
// "Templates" folder at Done.
class TemplatePage : public Page {
 public:
  int GetKind() const override { return kLastPage; }
  void CreateControls() override;
  void AdjustLayout(DialogAutoFit& fit) override;
  void Activate() override;
  plat::HWND GetFocusControl() const override { return list_; }
  bool OnCommand(int id, plat::HWND control) override;
  void Done() override;
  const char16_t* GetLayoutName() const override { return u"new_channel_template"; }

  plat::HWND GetList() const { return list_; }
  const std::u16string& GetPath() const { return path_; }
  // "Open channel XML": picks a template file and lists its channels.
  void OpenTemplate();
  // Lists the channels of the template at path (every item checked); false
  // (after the message) when it has none.
  bool ShowTemplate(const std::u16string& path);

 private:
  // Copies the template into the "Templates" folder as target: written
  // beside it and renamed over it. A different template of that name that
  // channels use is replaced only when the user agrees. False when the user
  // refused (nothing said) or the copy failed (message shown).
  bool CopyIntoTemplates(const std::u16string& target, bool& refused);
  // Lists, unchecked, the channels of the templates the "Templates" folder
  // holds (those installed with the program and those added before).
  void ShowInstalledTemplates();
  // Done on the installed templates: the checked channels read them where they are.
  void AddInstalledChannels();

  plat::HWND list_ = nullptr;
  plat::HWND open_ = nullptr;
  bool listedInstalled_ = false;  // the list shows the installed templates
  std::u16string path_;
  std::vector<std::u16string> names_;
  std::vector<std::u16string> addresses_;
};

}  // namespace AddChannelsWizard

class NewChannelWizard : public CPPCDialogImpl {
 public:
  // Soft-key commands of the wizard.
  static constexpr int kCmdCancel = 2007;
  static constexpr int kCmdBack = 2008;
  static constexpr int kCmdNext = 2009;
  static constexpr int kCmdDone = 2010;

  NewChannelWizard();
  ~NewChannelWizard() override;

  // Runs the wizard modally over owner: 1 when channels were added, 2 when
  // the user cancelled, -1 when the dialog could not be made.
  plat::INT_PTR Run(plat::HWND owner);

  // Pushes the page registered under its member name and shows it; false
  // when there is no such page.
  bool GoToPage(const std::u16string& memberName);
  AddChannelsWizard::Page* GetCurrentPage() const { return stack_.empty() ? nullptr : stack_.back(); }
  std::size_t GetStackDepth() const { return stack_.size(); }

  void Cancel();
  void Back();
  void Next();
  void Done();
  void DefaultAction();

  const SoftKeyBar& GetSoftKeyBar() const { return softKeys_; }
  bool IsInputPanelButtonShown() const { return sipButton_; }
  DialogAutoFit* GetAutoFit() { return autoFit_.get(); }

  AddChannelsWizard::StartPage& GetStartPage() { return start_; }
  AddChannelsWizard::FeedAddressPage& GetFeedAddressPage() { return fromRss_; }
  AddChannelsWizard::CatalogPage& GetCatalogPage() { return catalog_; }
  AddChannelsWizard::SearchPage& GetSearchPage() { return search_; }
  AddChannelsWizard::WebOpmlPage& GetWebOpmlPage() { return webOpml_; }
  AddChannelsWizard::LanguagesPage& GetLanguagesPage() { return languages_; }
  AddChannelsWizard::TemplatePage& GetTemplatePage() { return template_; }

  // What the pages reach outside the wizard, overridable so that the pages
  // can be exercised without the nested dialogs:
  // downloads and parses address into document in the download dialog
  // (title "New Channel", caption the string captionId); true on success.
  virtual bool DownloadDocument(const std::u16string& address, plat::UINT captionId, Tidy::Document* document);
  // Runs the file picker; keepInputPanel: the picker owned by the active
  // window, the focus and input panel restored afterwards. 1 when picked.
  virtual plat::INT_PTR PickFile(FileDialogRequest& request, bool keepInputPanel);
  // Loads the catalogue request into its tree; true on success.
  virtual bool LoadCatalog(CatalogRequest& request);

 protected:
  void OnInit() override;
  plat::LRESULT OnOK() override;
  plat::LRESULT OnCancel() override;
  bool ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                             plat::LRESULT& result) override;

 private:
  void RegisterPage(const char16_t* memberName, AddChannelsWizard::Page& page);
  void Refresh();
  void CreateSoftKeys(bool withSipButton);
  void TakeBackActivation();

  std::unique_ptr<DialogAutoFit> autoFit_;
  std::vector<AddChannelsWizard::Page*> stack_;
  std::unordered_map<std::u16string, AddChannelsWizard::Page*> pages_;
  SoftKeyBar softKeys_;
  bool sipButton_ = false;
  std::vector<plat::HWND> shown_;

  // The catalogue page comes first: the pages that fill its request hold it.
  AddChannelsWizard::CatalogPage catalog_;
  AddChannelsWizard::StartPage start_{catalog_};
  AddChannelsWizard::FeedAddressPage fromRss_;
  AddChannelsWizard::SearchPage search_{catalog_};
  AddChannelsWizard::WebOpmlPage webOpml_{catalog_};
  AddChannelsWizard::LanguagesPage languages_{catalog_};
  AddChannelsWizard::TemplatePage template_;
};
