// A program with one dialog of the program's own dialog base: a title header,
// rows laid out by the auto-fit (a label, two check boxes, a drop-down list,
// an edit with a spin buddy, a check list filling the rest, a push button at
// the bottom) and the Done / Cancel soft keys. It logs the rows' rectangles,
// the check boxes' clicks and the dialog's result.
//
//   orv-dialogapp --log <host file>
#include <cstdarg>
#include <cstdio>
#include <string>

#include "layout/DialogAutoFit.h"
#include "layout/DialogFontCache.h"
#include "layout/OwnControls.h"
#include "layout/PPCDialog.h"
#include "layout/ScreenScale.h"
#include "layout/SoftKeyBar.h"
#include "layout/UiKitModule.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/CommCtrl.h"
#include "tests/apps/AppLog.h"

namespace {

FILE*& g_log = orvapp::LogFile();
using orvapp::Log;


constexpr int kWifiOnly = 301;
constexpr int kImages = 302;

class ChannelOptionsDialog : public CPPCDialogImpl {
 public:
  ChannelOptionsDialog() : fit_(nullptr, false, true, true) {}

 protected:
  void OnInit() override {
    using namespace plat;
    HWND h = GetHwnd();
    fit_ = DialogAutoFit(h, false, true, true);
    HWND label = CreateLabel(h, nullptr, u"Update this channel", 0, 0, 300);
    HWND wifi = CreateWindowExW(0, u"BUTTON", u"Only over Wi-Fi", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                                0, 0, 10, 10, h, reinterpret_cast<HMENU>(kWifiOnly), nullptr, nullptr);
    HWND images = CreateWindowExW(0, u"BUTTON", u"Download images", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                                  0, 0, 10, 10, h, reinterpret_cast<HMENU>(kImages), nullptr, nullptr);
    HWND combo = CreateComboChild(h, 303, {u"Every hour", u"Every 3 hours", u"Daily"});
    RECT editRect{0, 0, 100, 20};
    spin_.Create(h, editRect, 304, 305);
    SetWindowTextW(spin_.edit, u"50");
    RECT upDownRect{};
    GetWindowRect(spin_.upDown, &upDownRect);
    HWND list = CreateCheckList(h, nullptr, 306);
    for (int i = 0; i < 4; ++i) {
      std::u16string text = Utf8ToUtf16("Category " + std::to_string(i + 1));
      LVITEMW item{LVIF_TEXT | LVIF_STATE, i, 0, INDEXTOSTATEIMAGEMASK(i == 1 ? 2 : 1), LVIS_STATEIMAGEMASK,
                   text.data(), 0, 0, 0, 0};
      SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    HWND button = CreatePushButton(h, nullptr, u"Clear cache", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 307);
    GetDialogFontCache().ApplyToDialog(h);
    fit_.AddRow(label);
    fit_.AddRow(wifi);
    fit_.AddRow(images);
    fit_.AddRow(combo);
    fit_.AddRow(spin_.edit, DialogAutoFit::kTop, spin_.upDown);
    fit_.AddRow(list, DialogAutoFit::kFill);
    fit_.AddRow(button, DialogAutoFit::kBottom);
    fit_.Layout();
    bar_.CreateDoneCancel(h);
    SetFocus(wifi);
    for (int id : {300, kWifiOnly, kImages, 303, 304, 306, 307}) {
      RECT r{};
      GetWindowRect(GetDlgItem(h, id), &r);
      Log("row %d %d %d %d %d", id, r.left, r.top, r.right, r.bottom);
    }
    Log("ready");
  }

  plat::LRESULT OnOK() override {
    Log("ok");
    return PPCDialogBase::OnOK();
  }

  bool ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM,
                             plat::LRESULT& result) override {
    if (msg != plat::WM_COMMAND || plat::HIWORD(wParam) != plat::BN_CLICKED) return false;
    const int id = plat::LOWORD(wParam);
    if (id != kWifiOnly && id != kImages) return false;
    Log("check %d %d", id, static_cast<int>(plat::SendDlgItemMessageW(hwnd, id, plat::BM_GETCHECK, 0, 0)));
    result = 0;
    return true;
  }

 private:
  DialogAutoFit fit_;
  SpinEdit spin_;
  SoftKeyBar bar_;
};

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--log") g_log = std::fopen(argv[i + 1], "a");
    else return 2;
  }
  plat::InitCommonControls();
  InitScreenDpi();
  InitUiKit(nullptr);
  ChannelOptionsDialog dialog;
  dialog.SetTitle(u"Channel options");
  Log("result %d", static_cast<int>(RunEmptyTemplateDialog(dialog, nullptr)));
  return 0;
}
