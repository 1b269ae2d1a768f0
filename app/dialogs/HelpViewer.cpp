#include "app/dialogs/HelpViewer.h"

#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/Streams.h"
#include "database/GlobalOptions.h"
#include "layout/DialogTitle.h"
#include "platform/controls/ShellExecute.h"
#include "platform/htmlview/HtmlView.h"

namespace {
// A help file larger than this is not shown.
constexpr std::int64_t kMaxHelpBytes = 4 * 1024 * 1024;
}  // namespace

HelpViewer::HelpViewer(const std::u16string& path) : path_(path) { SetTitle(Localize(u"Help")); }

bool HelpViewer::Show(plat::HWND owner) {
  CFileReader reader(path_);
  if (!reader.IsOpen()) return false;
  const std::int64_t size = reader.Remaining();
  if (size <= 0 || size > kMaxHelpBytes) return false;
  page_.resize(static_cast<std::size_t>(size));
  if (!reader.Read(page_.data(), page_.size())) return false;
  return RunEmptyTemplateDialog(*this, owner) >= 0;
}

void HelpViewer::OnInit() {
  softKeys_.CreateDoneCancel(hwnd_);
  plat::SetWindowTextW(hwnd_, GetTitle().c_str());
  plat::InitHTMLControl(nullptr);
  viewer_ = plat::CreateWindowExW(0, plat::kHtmlViewClassName, u"",
                                  plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_TABSTOP | plat::WS_VSCROLL, 0, 0, 0, 0,
                                  hwnd_, nullptr, nullptr, nullptr);
  if (viewer_) {
    plat::SendMessageW(viewer_, plat::DTM_ADDTEXT, 0, reinterpret_cast<plat::LPARAM>(page_.c_str()));
    plat::SendMessageW(viewer_, plat::DTM_ENDOFSOURCE, 0, 0);
  }
  GetLocalizer().LocalizeMenuBar(hwnd_, false);
  Layout();
  if (viewer_) plat::SetFocus(viewer_);
}

void HelpViewer::Layout() {
  if (!viewer_) return;
  plat::RECT client{};
  plat::GetClientRect(hwnd_, &client);
  const int top = GetDialogHeaderHeight();
  plat::MoveWindow(viewer_, 0, top, client.right - client.left, std::max(0, static_cast<int>(client.bottom) - top),
                   plat::TRUE);
}

bool HelpViewer::ProcessDerivedMessage(plat::HWND, plat::UINT msg, plat::WPARAM, plat::LPARAM, plat::LRESULT&) {
  if (msg == plat::WM_SIZE) Layout();
  return false;
}

void ShowHelpTopic(const char16_t* topic) {
  const std::u16string line =
      GetHelpFileUrl() + u"#" + (topic && *topic ? std::u16string(topic) : std::u16string(u"Main_Contents"));
  plat::PROCESS_INFORMATION info{};
  if (plat::CreateProcessW(u"PegHelp.exe", line.c_str(), nullptr, nullptr, plat::FALSE, 0, nullptr, nullptr, nullptr,
                           &info))
    return;
  // No help viewer opens it: the file is shown here, from its start.
  std::u16string file = GetHelpFileUrl();
  if (file.rfind(u"file:", 0) == 0) file.erase(0, 5);
  HelpViewer viewer(CombinePath(GetGlobalOptions().GetProgramFolder(), file));
  viewer.Show(plat::GetActiveWindow());
}
