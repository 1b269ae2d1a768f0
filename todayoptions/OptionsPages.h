// The pages of the Today item's options program: which channels the item
// shows (CTabChannels), its font (CTabFont) and its view style
// (CTabViewStyle). Each page reads the Today settings when it is made and
// writes them when the sheet is done; the channels page tells the item which
// channels changed, the item reads the other values again by itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/StringMaps.h"
#include "layout/DialogAutoFit.h"
#include "layout/SoftKeyBar.h"
#include "platform/controls/CommCtrl.h"
#include "platform/windows/Windows.h"

class COptionsPage {
 public:
  virtual ~COptionsPage() = default;
  // The page's dialog procedure: pages keep their object in DWL_USER.
  static plat::INT_PTR DialogProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  virtual int TemplateId() const = 0;
  virtual const char16_t* HelpTopic() const = 0;
  virtual void OnInit(plat::HWND page) = 0;
  // False keeps the sheet open on this page.
  virtual bool OnApply() = 0;
  virtual void OnCommand(plat::WORD id, plat::WORD code) {}
  virtual void OnSetActive() {}
  virtual void OnKillActive() {}
  virtual void OnSize() {}
  plat::HWND Page() const { return page_; }
  bool WasShown() const { return page_ != nullptr; }
  // Lays the page's rows out for its size (after WM_SIZE too).
  void Fit();
  // Opens the page's topic in the help viewer.
  void ShowHelp() const;

 protected:
  // Rows of the page for the auto-fit; a label beside a combo shares its row.
  virtual void AddRows(DialogAutoFit& fit) = 0;
  // Puts the label at the left of the row (as wide as the page's widest
  // label) and the combo in the rest.
  void AddLabelledRow(DialogAutoFit& fit, int label, int combo);
  class LabelRow : public IRowHeightProvider {
   public:
    LabelRow(COptionsPage* page, plat::HWND combo) : page_(page), combo_(combo) {}
    int GetHeight(plat::HWND label, int width) override;
    bool PlaceRow(plat::HWND label, const plat::RECT& area) override;

   private:
    COptionsPage* page_;
    plat::HWND combo_;
  };
  int LabelWidth() const;
  plat::HWND Item(int id) const { return plat::GetDlgItem(page_, id); }
  bool Checked(int id) const;
  void Check(int id, bool on);
  int Selection(int id) const;
  void Select(int id, int index);
  void AddStrings(int id, const std::vector<std::u16string>& texts);
  plat::HWND page_ = nullptr;
  std::unique_ptr<DialogAutoFit> fit_;
  std::vector<std::unique_ptr<LabelRow>> labelRows_;
  std::vector<int> labels_;
};

class CTabChannels : public COptionsPage {
 public:
  int TemplateId() const override;
  const char16_t* HelpTopic() const override { return u"today_channels"; }
  void OnInit(plat::HWND page) override;
  bool OnApply() override;
  void OnSize() override;
  void OnSetActive() override;
  void OnKillActive() override;
  // "Select All" / "Select None".
  void CheckAll(bool on);
  // The rows: name and whether ticked.
  std::vector<std::pair<std::u16string, bool>> Rows() const;
  void SetRow(int index, bool on);
  // The channels the last apply reported as changed.
  const std::vector<std::u16string>& Reported() const { return reported_; }

 protected:
  void AddRows(DialogAutoFit& fit) override;

 private:
  CStringToStringMap initial_;
  std::vector<std::u16string> reported_;
};

class CTabFont : public COptionsPage {
 public:
  // The sizes offered, in points.
  static const std::vector<int>& Sizes();
  int TemplateId() const override;
  const char16_t* HelpTopic() const override { return u"today_font"; }
  void OnInit(plat::HWND page) override;
  bool OnApply() override;
  void OnCommand(plat::WORD id, plat::WORD code) override;
  // The shell's font size changed: the system values are read again.
  void OnMetricChange();

 protected:
  void AddRows(DialogAutoFit& fit) override;

 private:
  void ShowCurrent();
  void ReadChoices();

  bool useSystem_ = true;
  std::u16string name_;
  int height_ = 12;
  int clearType_ = 1;
  int initialClearTypeRow_ = -1;
  bool clearTypeRead_ = false;
  std::u16string savedName_;
  int savedHeight_ = 12;
};

class CTabViewStyle : public COptionsPage {
 public:
  int TemplateId() const override;
  const char16_t* HelpTopic() const override { return u"today_style"; }
  void OnInit(plat::HWND page) override;
  bool OnApply() override;
  void OnCommand(plat::WORD id, plat::WORD code) override;
  // Shows the controls of the chosen style (0 simple, 1 list).
  void ShowStyleControls(int style);

 protected:
  void AddRows(DialogAutoFit& fit) override;
};

// A list view whose double tap is a second press and release, so that a quick
// second tap on a check box toggles it again.
void SubclassWithoutDoubleClick(plat::HWND list);

// The full-screen sheet over the three pages (it does not own them). Its menu
// bar's "Cancel" closes without writing; done and Back apply every page that
// was shown and close; "Select All" and "Select None" go to the channels page.
class COptionsSheet {
 public:
  COptionsSheet(CTabChannels& channels, CTabFont& font, CTabViewStyle& style);
  ~COptionsSheet();
  COptionsSheet(const COptionsSheet&) = delete;
  COptionsSheet& operator=(const COptionsSheet&) = delete;
  // Runs the sheet modally with the owner; 1 when done.
  plat::INT_PTR DoModal(plat::HWND owner);
  // The sheet's window while it runs (null otherwise).
  plat::HWND GetHwnd() const { return hwnd_; }

 private:
  static constexpr int kPageCount = 3;
  static int SheetCallback(plat::HWND hwnd, plat::UINT msg, plat::LPARAM lParam);
  static plat::LRESULT SubclassProc(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  plat::LRESULT WindowProc(plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam);
  void OnInitDialog();

  std::u16string title_;
  CTabChannels& channels_;
  COptionsPage* pages_[kPageCount];
  plat::HWND hwnd_ = nullptr;
  plat::WNDPROC sheetProc_ = nullptr;
  SoftKeyBar softKeys_;
  // The sheet that ran on this thread when this one started.
  COptionsSheet* outer_ = nullptr;
};

// The program's entry: registers the hidden owner window's class, runs the
// sheet and ends with 0.
int OptionsMain(plat::HINSTANCE instance);
