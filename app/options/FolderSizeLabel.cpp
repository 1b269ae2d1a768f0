#include "app/options/FolderSizeLabel.h"

#include "core/StringUtils.h"
#include "layout/OwnControls.h"

FolderSizeLabel::FolderSizeLabel() : scanner_(std::make_unique<CFolderSizeScanner>()) {}

FolderSizeLabel::~FolderSizeLabel() { Stop(); }

plat::HWND FolderSizeLabel::Create(plat::HWND page, int controlId) {
  page_ = page;
  label_ = CreateLabel(page, nullptr, text_, plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_GROUP, 0, controlId);
  return label_;
}

void FolderSizeLabel::Attach(plat::HWND page, plat::HWND label) {
  page_ = page;
  label_ = label;
  if (label_ != nullptr && !text_.empty()) plat::SetWindowTextW(label_, text_.c_str());
}

bool FolderSizeLabel::Start(const std::u16string& format, const std::u16string& firstText,
                            const std::vector<std::u16string>& paths) {
  format_ = format;
  Show(FillFormat(format_, firstText));
  if (!scanner_->Start(paths)) return false;
  if (page_ != nullptr && plat::SetTimer(page_, kTimerId, kTimerPeriodMs, nullptr) != 0) timerSet_ = true;
  return true;
}

void FolderSizeLabel::Stop() {
  KillTimer();
  scanner_->Stop();
}

bool FolderSizeLabel::OnTimer(plat::UINT_PTR id) {
  if (id != kTimerId) return false;
  if (scanner_->IsDone()) KillTimer();
  Show(FillFormat(format_, FormatFileSize(static_cast<std::int64_t>(scanner_->GetTotalSize()), false)));
  return true;
}

std::u16string FolderSizeLabel::FillFormat(const std::u16string& format, const std::u16string& value) {
  return FormatWithTexts(format, {value});
}

void FolderSizeLabel::Show(const std::u16string& text) {
  text_ = text;
  if (label_ != nullptr) plat::SetWindowTextW(label_, text_.c_str());
}

void FolderSizeLabel::KillTimer() {
  if (timerSet_ && page_ != nullptr) plat::KillTimer(page_, kTimerId);
  timerSet_ = false;
}
