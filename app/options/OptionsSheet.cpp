#include "app/options/OptionsSheet.h"

#include <climits>
#include <cstdint>
#include <string>

#include "app/options/ContentLocationPage.h"
#include "core/Localizer.h"
#include "core/ProductStrings.h"
#include "core/StringUtils.h"
#include "core/Synchronized.h"
#include "database/ChannelDefaultOptions.h"
#include "database/ChannelSet.h"
#include "database/GlobalOptions.h"
#include "layout/ScreenScale.h"
#include "platform/base/Locale.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/StandardControls.h"

namespace {

// String resources of the pages.
constexpr plat::UINT kOptionsCaption = 243;
constexpr plat::UINT kChannelPropertiesCaption = 186;
constexpr plat::UINT kEnterIntegerBetween = 244;

std::u16string Text(plat::UINT id) { return ApplyProductName(LocalizeResourceString(id)); }

std::u16string Number(int value) { return plat::Utf8ToUtf16(std::to_string(value)); }

// String 244 with its two "%d" places filled; a translated text with other
// conversions shows them as written instead of misreading the numbers.
std::u16string RangeMessage(int minimum, int maximum) {
  const std::u16string format = Text(kEnterIntegerBetween);
  std::u16string asTexts;
  for (std::size_t i = 0; i < format.size(); ++i) {
    asTexts.push_back(format[i]);
    if (format[i] != u'%' || i + 1 >= format.size()) continue;
    const char16_t next = format[++i];
    asTexts.push_back(next == u'd' ? u's' : next);
  }
  return FormatWithTexts(asTexts, {Number(minimum), Number(maximum)});
}

bool IsComboNotification(int code) {
  return code == plat::CBN_SELCHANGE || code == plat::CBN_CLOSEUP || code == plat::CBN_EDITCHANGE ||
         code == plat::CBN_SELENDOK;
}

// The time picker is 32 px high at 96 dpi, whatever its font.
constexpr int kTimePickerHeight = 32;

}  // namespace

// ---- NetworkOptionsPage -----------------------------------------------------------

NetworkOptionsPage::NetworkOptionsPage() : SheetPage(288, kOptionsCaption, u"options_general") {}

void NetworkOptionsPage::OnInitPage() {
  CGlobalOptions& options = GetGlobalOptions();
  SetChecked(AddCheckBox(Text(274), kIdFreeConnectionsOnly), options.GetUseFreeConnectionsOnly() != 0);
  SetChecked(AddCheckBox(Text(276), kIdReporting), options.GetRSSReportingAllowed() != 0);
  SetChecked(AddCheckBox(Text(232), kIdUpdateWhenCradled), options.GetAutoUpdateWhenCradled() != 0);
}

bool NetworkOptionsPage::OnApply() {
  CGlobalOptions& options = GetGlobalOptions();
  options.SetUseFreeConnectionsOnly(IsChecked(Item(kIdFreeConnectionsOnly)) ? 1 : 0);
  options.SetRSSReportingAllowed(IsChecked(Item(kIdReporting)) ? 1 : 0);
  options.SetAutoUpdateWhenCradled(IsChecked(Item(kIdUpdateWhenCradled)) ? 1 : 0);
  return true;
}

// ---- ChannelOptionsPageBase -----------------------------------------------------------

ChannelOptionsPageBase::ChannelOptionsPageBase(const std::u16string& channelName, plat::UINT defaultTitle,
                                               plat::UINT channelTitle, const char16_t* defaultHelp,
                                               const char16_t* channelHelp)
    : SheetPage(channelName.empty() ? defaultTitle : channelTitle,
                channelName.empty() ? kOptionsCaption : kChannelPropertiesCaption,
                channelName.empty() ? defaultHelp : channelHelp),
      channelName_(channelName) {}

void ChannelOptionsPageBase::LoadRecords() {
  CSyncLock lock(GetChannelSet());
  GetChannelDefaultOptions().GetAll(defaults_);
  own_ = defaults_;
  useDefaults_ = true;
  if (IsDefaultMode()) return;
  IChannel* channel = GetChannelSet()->FindByName(channelName_);
  if (!channel) return;
  IChannelOptions* options = channel->GetOptions();
  options->GetAll(own_);
  useDefaults_ = ReadSwitch(*options);
}

// ---- ChannelUpdatingPage ----------------------------------------------------------------

class ChannelUpdatingPage::PickerHeight : public IRowHeightProvider {
 public:
  int GetHeight(plat::HWND, int) override { return ScaleY(kTimePickerHeight); }
};

ChannelUpdatingPage::ChannelUpdatingPage(const std::u16string& channelName)
    : ChannelOptionsPageBase(channelName, 292, 293, u"options_default_channel_update", u"channel_properties_update"),
      pickerHeight_(std::make_unique<PickerHeight>()) {}

ChannelUpdatingPage::~ChannelUpdatingPage() = default;

int ChannelUpdatingPage::ScheduleIndex(std::uint32_t autoUpdate) {
  if (autoUpdate == 0) return -1;
  for (int i = 0; i < 5; ++i)
    if (static_cast<std::uint32_t>(kScheduleValues[i]) == autoUpdate) return i;
  return 0;
}

std::u16string ChannelUpdatingPage::TimeFormat() {
  char16_t clock[4] = {};
  plat::GetLocaleInfoW(plat::LOCALE_USER_DEFAULT, plat::LOCALE_ITIME, clock, 4);
  return std::u16string(clock) == u"0" ? u"hh':'mm' 'tt" : u"HH':'mm";
}

bool ChannelUpdatingPage::ReadSwitch(IChannelOptions& options) { return options.GetUseDefaultDownloadOptions() != 0; }

void ChannelUpdatingPage::OnInitPage() {
  LoadRecords();
  if (!IsDefaultMode()) AddCheckBox(Text(259), kIdUseDefaults);
  AddCheckBox(Text(260), kIdManualUpdate);
  AddCheckBox(Text(261), kIdNoImages);
  if (IsDefaultMode()) {
    CGlobalOptions& options = GetGlobalOptions();
    const std::uint32_t autoUpdate = options.GetAutoUpdate();
    // "Update channels every:" [period]; "Update channels at" [time]: the
    // label reads with the time picker below it.
    AddCheckBox(Text(303), kIdSchedule);
    plat::HWND combo = AddComboBox(kIdScheduleCombo, {Text(304), Text(305), Text(306), Text(310), Text(308)});
    AddLabel(Text(309), kIdScheduleLabel);
    // The picker's date classes are registered first.
    plat::INITCOMMONCONTROLSEX init{sizeof(plat::INITCOMMONCONTROLSEX), plat::ICC_DATE_CLASSES};
    plat::InitCommonControlsEx(&init);
    plat::HWND picker = plat::CreateWindowExW(
        0, plat::DATETIMEPICK_CLASSW, u"", plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_TABSTOP | plat::DTS_TIMEFORMAT,
        0, 0, 0, ScaleY(kTimePickerHeight), hwnd_, reinterpret_cast<plat::HMENU>(static_cast<std::intptr_t>(kIdTime)),
        nullptr, nullptr);
    const std::u16string format = TimeFormat();
    plat::SendMessageW(picker, plat::DTM_SETFORMATW, 0, reinterpret_cast<plat::LPARAM>(format.c_str()));
    const plat::FILETIME time = options.GetAutoUpdateTime();
    plat::SYSTEMTIME shown{};
    if (plat::FileTimeToSystemTime(&time, &shown))
      plat::SendMessageW(picker, plat::DTM_SETSYSTEMTIME, plat::GDT_VALID, reinterpret_cast<plat::LPARAM>(&shown));

    SetChecked(Item(kIdSchedule), autoUpdate != 0);
    plat::SendMessageW(combo, plat::CB_SETCURSEL, static_cast<plat::WPARAM>(ScheduleIndex(autoUpdate)), 0);
    Enable(combo, autoUpdate != 0);
    UpdateTimeEnabled();
  }
  BindRows();
  if (IsDefaultMode()) {
    for (int id : {kIdScheduleLabel, kIdScheduleCombo, kIdTime}) SetRowIndent(Item(id), IndentStep());
    GetRows()->SetRowProvider(Item(kIdTime), pickerHeight_.get());
  } else {
    SetChecked(Item(kIdUseDefaults), useDefaults_);
    for (int id : {kIdManualUpdate, kIdNoImages}) SetRowIndent(Item(id), IndentStep());
  }
  LayoutRows();
  ShowRecord();
}

void ChannelUpdatingPage::ShowRecord() {
  const ChannelOptionsRecord& record = ShownRecord();
  SetChecked(Item(kIdManualUpdate), record.manualArticlesUpdate != 0);
  SetChecked(Item(kIdNoImages), record.disableImagesInArticles != 0);
  Enable(Item(kIdManualUpdate), Editable());
  Enable(Item(kIdNoImages), Editable());
}

void ChannelUpdatingPage::StoreShown() {
  ChannelOptionsRecord& record = ShownRecord();
  record.manualArticlesUpdate = IsChecked(Item(kIdManualUpdate)) ? 1 : 0;
  record.disableImagesInArticles = IsChecked(Item(kIdNoImages)) ? 1 : 0;
}

void ChannelUpdatingPage::UpdateTimeEnabled() {
  plat::HWND combo = Item(kIdScheduleCombo);
  const int last = static_cast<int>(plat::SendMessageW(combo, plat::CB_GETCOUNT, 0, 0)) - 1;
  const bool scheduled = IsChecked(Item(kIdSchedule)) && plat::IsWindowEnabled(Item(kIdSchedule));
  const int selected = static_cast<int>(plat::SendMessageW(combo, plat::CB_GETCURSEL, 0, 0));
  Enable(Item(kIdTime), scheduled && last >= 0 && selected == last);
}

bool ChannelUpdatingPage::OnCommand(int id, int code, plat::HWND) {
  if (id == kIdUseDefaults && code == plat::BN_CLICKED && !IsDefaultMode()) {
    // The shown states belong to the record of the switch's old state.
    StoreShown();
    useDefaults_ = IsChecked(Item(kIdUseDefaults));
    ShowRecord();
    return true;
  }
  if (id == kIdSchedule && code == plat::BN_CLICKED && IsDefaultMode()) {
    plat::HWND combo = Item(kIdScheduleCombo);
    // A schedule just switched on shows a period, not an empty box.
    if (IsChecked(Item(kIdSchedule)) && plat::SendMessageW(combo, plat::CB_GETCURSEL, 0, 0) < 0)
      plat::SendMessageW(combo, plat::CB_SETCURSEL, 0, 0);
    Enable(combo, IsChecked(Item(kIdSchedule)));
    UpdateTimeEnabled();
    return true;
  }
  if (id == kIdScheduleCombo && IsComboNotification(code)) {
    UpdateTimeEnabled();
    return true;
  }
  return false;
}

bool ChannelUpdatingPage::OnApply() {
  StoreShown();
  CSyncLock lock(GetChannelSet());
  if (!IsDefaultMode()) {
    if (IChannel* channel = GetChannelSet()->FindByName(channelName_)) {
      IChannelOptions* options = channel->GetOptions();
      options->SetUseDefaultDownloadOptions(useDefaults_ ? 1 : 0);
      options->SetManualArticlesUpdate(own_.manualArticlesUpdate);
      options->SetDisableImagesInArticles(own_.disableImagesInArticles);
      options->OnChanged();
    }
    return true;
  }
  CChannelDefaultOptions& defaults = GetChannelDefaultOptions();
  defaults.SetManualArticlesUpdate(defaults_.manualArticlesUpdate);
  defaults.SetDisableImagesInArticles(defaults_.disableImagesInArticles);
  defaults.OnChanged();

  CGlobalOptions& options = GetGlobalOptions();
  plat::HWND schedule = Item(kIdSchedule);
  if (!plat::IsWindowEnabled(schedule) || !IsChecked(schedule)) {
    options.SetAutoUpdate(0);
    return true;
  }
  const int selected = static_cast<int>(plat::SendMessageW(Item(kIdScheduleCombo), plat::CB_GETCURSEL, 0, 0));
  if (selected < 0 || selected >= 5) return true;
  const int value = kScheduleValues[selected];
  options.SetAutoUpdate(static_cast<std::uint32_t>(value));
  if (value == 24) {
    plat::SYSTEMTIME time{};
    if (plat::SendMessageW(Item(kIdTime), plat::DTM_GETSYSTEMTIME, 0, reinterpret_cast<plat::LPARAM>(&time)) ==
        static_cast<plat::LRESULT>(plat::GDT_VALID)) {
      plat::FILETIME stored{};
      if (plat::SystemTimeToFileTime(&time, &stored)) options.SetAutoUpdateTime(&stored);
    }
  }
  return true;
}

// ---- ChannelCleaningPage -------------------------------------------------------------------

ChannelCleaningPage::ChannelCleaningPage(const std::u16string& channelName)
    : ChannelOptionsPageBase(channelName, 291, 290, u"options_default_channel_cleaning",
                             u"channel_properties_cleaning") {}

bool ChannelCleaningPage::ReadSwitch(IChannelOptions& options) { return options.GetUseDefaultLimits() != 0; }

bool ChannelCleaningPage::ParseNumber(const std::u16string& text, int& value) {
  const std::u16string number = TrimSpace(text);
  std::size_t begin = 0;
  bool negative = false;
  if (!number.empty() && (number[0] == u'-' || number[0] == u'+')) negative = number[begin++] == u'-';
  if (begin == number.size()) return false;
  long long magnitude = 0;
  for (std::size_t i = begin; i < number.size(); ++i) {
    if (number[i] < u'0' || number[i] > u'9') return false;
    if (magnitude <= INT_MAX) magnitude = magnitude * 10 + (number[i] - u'0');
  }
  if (magnitude > INT_MAX) magnitude = static_cast<long long>(INT_MAX) + 1;
  const long long signedValue = negative ? -magnitude : magnitude;
  value = static_cast<int>(std::clamp<long long>(signedValue, INT_MIN, INT_MAX));
  return true;
}

void ChannelCleaningPage::OnInitPage() {
  LoadRecords();
  if (!IsDefaultMode()) AddCheckBox(Text(259), kIdUseDefaults);
  AddCheckBox(Text(262), kIdAgeEnabled);
  AddNumberField(kIdAgeLimit, kMinArticlesAgeLimit, kMaxArticlesAgeLimit, 0);
  AddCheckBox(Text(263), kIdCountEnabled);
  AddNumberField(kIdCountLimit, kMinArticlesCountLimit, kMaxArticlesCountLimit, 0);
  BindRows();
  const int step = IndentStep();
  const int fieldIndent = IsDefaultMode() ? step : 2 * step;
  if (!IsDefaultMode()) {
    SetChecked(Item(kIdUseDefaults), useDefaults_);
    SetRowIndent(Item(kIdAgeEnabled), step);
    SetRowIndent(Item(kIdCountEnabled), step);
  }
  SetRowIndent(Item(kIdAgeLimit), fieldIndent);
  SetRowIndent(Item(kIdCountLimit), fieldIndent);
  LayoutRows();
  ShowRecord();
}

void ChannelCleaningPage::ShowRecord() {
  const ChannelOptionsRecord& record = ShownRecord();
  SetChecked(Item(kIdAgeEnabled), record.articlesAgeLimitEnabled != 0);
  SetText(Item(kIdAgeLimit), Number(static_cast<int>(record.articlesAgeLimit)));
  SetChecked(Item(kIdCountEnabled), record.articlesCountLimitEnabled != 0);
  SetText(Item(kIdCountLimit), Number(static_cast<int>(record.articlesCountLimit)));
  const bool editable = Editable();
  Enable(Item(kIdAgeEnabled), editable);
  Enable(Item(kIdCountEnabled), editable);
  Enable(Item(kIdAgeLimit), editable && record.articlesAgeLimitEnabled != 0);
  Enable(Item(kIdCountLimit), editable && record.articlesCountLimitEnabled != 0);
}

bool ChannelCleaningPage::ValidateAndStore() {
  struct Field {
    int id;
    int minimum;
    int maximum;
    std::uint32_t ChannelOptionsRecord::*value;
  };
  const Field fields[2] = {
      {kIdAgeLimit, kMinArticlesAgeLimit, kMaxArticlesAgeLimit, &ChannelOptionsRecord::articlesAgeLimit},
      {kIdCountLimit, kMinArticlesCountLimit, kMaxArticlesCountLimit, &ChannelOptionsRecord::articlesCountLimit},
  };
  bool valid = true;
  for (const Field& field : fields) {
    // Both fields are read, also while disabled; the first invalid one speaks.
    plat::HWND edit = Item(field.id);
    int value = 0;
    const bool inRange = ParseNumber(GetText(edit), value) && value >= field.minimum && value <= field.maximum;
    if (inRange) {
      ShownRecord().*field.value = static_cast<std::uint32_t>(value);
      continue;
    }
    if (valid) {
      const std::u16string message = RangeMessage(field.minimum, field.maximum);
      const std::u16string caption = GetApplicationTitle();
      plat::MessageBoxW(hwnd_, message.c_str(), caption.c_str(), plat::MB_OK | plat::MB_ICONEXCLAMATION);
      plat::SetFocus(edit);
    }
    valid = false;
  }
  return valid;
}

void ChannelCleaningPage::StoreChecks() {
  ChannelOptionsRecord& record = ShownRecord();
  record.articlesAgeLimitEnabled = IsChecked(Item(kIdAgeEnabled)) ? 1 : 0;
  record.articlesCountLimitEnabled = IsChecked(Item(kIdCountEnabled)) ? 1 : 0;
}

bool ChannelCleaningPage::OnCommand(int id, int code, plat::HWND) {
  if (code != plat::BN_CLICKED) return false;
  if (id == kIdUseDefaults && !IsDefaultMode()) {
    const bool wanted = IsChecked(Item(kIdUseDefaults));
    if (!ValidateAndStore()) {
      SetChecked(Item(kIdUseDefaults), !wanted);
      return true;
    }
    StoreChecks();
    useDefaults_ = wanted;
    ShowRecord();
    return true;
  }
  if (id == kIdAgeEnabled || id == kIdCountEnabled) {
    Enable(Item(id == kIdAgeEnabled ? kIdAgeLimit : kIdCountLimit), IsChecked(Item(id)) && Editable());
    return true;
  }
  return false;
}

bool ChannelCleaningPage::OnApply() {
  if (!ValidateAndStore()) return false;
  StoreChecks();
  CSyncLock lock(GetChannelSet());
  // The defaults are written in both modes, unchanged values included.
  CChannelDefaultOptions& defaults = GetChannelDefaultOptions();
  defaults.SetArticlesAgeLimitEnabled(defaults_.articlesAgeLimitEnabled);
  defaults.SetArticlesAgeLimit(static_cast<std::int32_t>(defaults_.articlesAgeLimit));
  defaults.SetArticlesCountLimitEnabled(defaults_.articlesCountLimitEnabled);
  defaults.SetArticlesCountLimit(static_cast<std::int32_t>(defaults_.articlesCountLimit));
  defaults.OnChanged();
  if (IsDefaultMode()) return true;
  if (IChannel* channel = GetChannelSet()->FindByName(channelName_)) {
    IChannelOptions* options = channel->GetOptions();
    options->SetUseDefaultLimits(useDefaults_ ? 1 : 0);
    options->SetArticlesAgeLimitEnabled(own_.articlesAgeLimitEnabled);
    options->SetArticlesAgeLimit(static_cast<std::int32_t>(own_.articlesAgeLimit));
    options->SetArticlesCountLimitEnabled(own_.articlesCountLimitEnabled);
    options->SetArticlesCountLimit(static_cast<std::int32_t>(own_.articlesCountLimit));
    options->OnChanged();
  }
  return true;
}

// ---- OptionsSheet ---------------------------------------------------------------------------

namespace {
// The Content page, the sheet's second page.
std::unique_ptr<SheetPage> MakeContentPage() { return std::make_unique<ContentLocationPage>(); }
}  // namespace

OptionsSheet::OptionsSheet()
    : PropertySheet(kOptionsCaption), content_(MakeContentPage()), updating_(u""), cleaning_(u"") {
  AddPage(network_);
  if (content_) AddPage(*content_);
  AddPage(updating_);
  AddPage(cleaning_);
}

OptionsSheet::~OptionsSheet() = default;
