#include "app/dialogs/AboutBox.h"

#include <string>

#include "app/dialogs/HelpViewer.h"
#include "core/FontStorage.h"
#include "core/Localizer.h"
#include "core/StringUtils.h"
#include "layout/DialogAutoFit.h"
#include "layout/DialogFontCache.h"
#include "layout/DialogTitle.h"
#include "layout/Fonts.h"
#include "layout/ScreenScale.h"
#include "platform/base/Text.h"
#include "platform/controls/StandardControls.h"
#include "platform/ipc/Ipc.h"
#include "platform/resources/Resources.h"

namespace {

constexpr plat::UINT kHelpMessage = 0x53;             // WM_HELP
constexpr plat::UINT kReflectedHelpMessage = 0x2053;  // its reflected form
constexpr plat::DWORD kTextStyle = plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_GROUP | plat::SS_CENTER;
constexpr int kIconSize = 32;  // at 96 dpi
constexpr int kSpacing = 8;    // between the rows, at 96 dpi

std::u16string Number(int value) { return plat::Utf8ToUtf16(std::to_string(value)); }

}  // namespace

std::u16string AboutBox::VersionText() {
  return Number(kVersionMajor) + u"." + Number(kVersionMinor) + u"." + Number(kVersionRevision);
}

std::u16string AboutBox::BuildText() { return Number(kBuild); }

AboutBox::AboutBox(const std::u16string& caption, const std::u16string& version, const std::u16string& build,
                   const std::u16string& helpLink)
    : caption_(caption), version_(version), build_(build), helpLink_(helpLink) {
  SetTitle(caption_);
}

AboutBox::~AboutBox() {
  if (icon_ != nullptr) plat::DestroyIcon(icon_);
}

plat::INT_PTR AboutBox::DoModal(plat::HWND owner) { return RunEmptyTemplateDialog(*this, owner); }

void AboutBox::OnInit() {
  scrollMessage_ = plat::RegisterWindowMessageW(u"PPCD_ScrollMessage");
  softKeys_.CreateDoneCancel(hwnd_);
  versionLine_ = FormatWithTexts(Localize(u"Version %s, Build %s"), {version_, build_});
  plat::SetWindowTextW(hwnd_, caption_.c_str());

  icon_ = static_cast<plat::HICON>(plat::LoadImageW(plat::GetModuleHandleW(nullptr), plat::MAKEINTRESOURCEW(kIconId),
                                                    plat::IMAGE_ICON, ScaleX(kIconSize), ScaleY(kIconSize), 0));
  iconControl_ = plat::CreateWindowExW(0, u"STATIC", u"", plat::WS_CHILD | plat::WS_VISIBLE | plat::SS_ICON |
                                                             plat::SS_CENTERIMAGE,
                                       0, 0, 0, 0, hwnd_, nullptr, nullptr, nullptr);
  if (iconControl_ != nullptr && icon_ != nullptr) {
    plat::SendMessageW(iconControl_, plat::STM_SETICON, reinterpret_cast<plat::WPARAM>(icon_), 0);
  }
  titleControl_ = plat::CreateWindowExW(0, u"STATIC", caption_.c_str(), kTextStyle, 0, 0, 0, 0, hwnd_, nullptr,
                                        nullptr, nullptr);
  versionControl_ = plat::CreateWindowExW(0, u"STATIC", versionLine_.c_str(), kTextStyle, 0, 0, 0, 0, hwnd_,
                                          nullptr, nullptr, nullptr);
  GetDialogFontCache().ApplyToDialog(hwnd_);
  // The title stands out in the bold dialog font.
  if (titleControl_ != nullptr) SetWindowFont(titleControl_, GetDialogFontCache().GetFont(true), false);
  GetLocalizer().LocalizeDialog(hwnd_);
  GetLocalizer().LocalizeMenuBar(hwnd_, false);
  Layout();
}

void AboutBox::Layout() {
  plat::RECT client{};
  plat::GetClientRect(hwnd_, &client);
  const int top = GetDialogHeaderHeight();
  const int margin = ScaleX(kSpacing);
  const int width = client.right - client.left - 2 * margin;
  if (width <= 0) return;
  const int iconHeight = ScaleY(kIconSize);
  const int titleHeight = titleControl_ ? DialogAutoFit::ClassHeight(titleControl_, width) : 0;
  const int versionHeight = versionControl_ ? DialogAutoFit::ClassHeight(versionControl_, width) : 0;
  const int spacing = ScaleY(kSpacing);
  const int block = iconHeight + spacing + titleHeight + spacing + versionHeight;
  const int area = client.bottom - top;
  int y = top + (area > block ? (area - block) / 2 : 0);
  const int iconX = client.left + (client.right - client.left - ScaleX(kIconSize)) / 2;
  if (iconControl_) plat::MoveWindow(iconControl_, iconX, y, ScaleX(kIconSize), iconHeight, plat::TRUE);
  y += iconHeight + spacing;
  if (titleControl_) plat::MoveWindow(titleControl_, margin, y, width, titleHeight, plat::TRUE);
  y += titleHeight + spacing;
  if (versionControl_) plat::MoveWindow(versionControl_, margin, y, width, versionHeight, plat::TRUE);
}

bool AboutBox::ProcessDerivedMessage(plat::HWND hwnd, plat::UINT msg, plat::WPARAM, plat::LPARAM,
                                     plat::LRESULT& result) {
  if (msg == plat::WM_VSCROLL || (msg != 0 && msg == scrollMessage_)) {
    // The part of the title header that scrolling brings into view is drawn again.
    const int now = plat::GetScrollPos(hwnd, plat::SB_VERT);
    InvalidateHeaderOnScroll(hwnd, scrollPos_, now);
    scrollPos_ = now;
    return false;
  }
  switch (msg) {
    case plat::WM_SIZE:
      if (titleControl_ != nullptr) Layout();
      return false;
    case kHelpMessage:
    case kReflectedHelpMessage: {
      // The topic is what follows "#" in the help link.
      const std::size_t hash = helpLink_.find(u'#');
      const std::u16string topic = hash == std::u16string::npos ? std::u16string() : helpLink_.substr(hash + 1);
      ShowHelpTopic(topic.c_str());
      result = 1;
      return true;
    }
    default:
      return false;
  }
}
