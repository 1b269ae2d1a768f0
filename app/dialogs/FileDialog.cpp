#include "app/dialogs/FileDialog.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "app/dialogs/FileTreeCtrl.h"
#include "core/FileUtils.h"
#include "core/Localizer.h"
#include "layout/DialogTitle.h"
#include "layout/OwnControls.h"
#include "layout/ScreenScale.h"
#include "layout/SoftKeyBar.h"
#include "layout/VekActionKey.h"
#include "layout/WaitCursor.h"
#include "layout/WindowHelpers.h"
#include "platform/base/Text.h"
#include "platform/controls/ComboBox.h"
#include "platform/controls/MenuBar.h"
#include "platform/controls/Shell.h"
#include "platform/controls/StandardControls.h"
#include "platform/gdi/Gdi.h"
#include "platform/ipc/Ipc.h"
#include "resources/app/resource.h"

namespace {

constexpr plat::DWORD kErrorOutOfMemory = 14;
// Popup, caption, system menu, set font.
constexpr plat::DWORD kDialogStyle = 0x80C80040;
constexpr plat::DWORD kStaticStyle = 0x50000200;
constexpr plat::DWORD kLabelStyle = plat::WS_CHILD | plat::WS_VISIBLE;
constexpr plat::DWORD kDropListStyle = 0x50210003;
constexpr plat::DWORD kNameBoxStyle = 0x50010080;
constexpr plat::DWORD kFileListStyle = 0x5001404D;
constexpr plat::WORD kStaticAtom = 0x82;
constexpr plat::WORD kComboAtom = 0x85;
constexpr int kNoId = 65535;

FileDialogObserver& Observer() {
  static FileDialogObserver observer;
  return observer;
}

void Notify(plat::HWND dialog) { NotifyFileDialogObserver(dialog); }

// An in-memory dialog template: the header, then DWORD-aligned items.
class DialogTemplate {
 public:
  DialogTemplate(plat::DWORD style, short cx, short cy, const char16_t* font, plat::WORD points) {
    Dword(style);
    Dword(0);
    countAt_ = words_.size();
    Word(0);
    Word(0), Word(0), Word(static_cast<plat::WORD>(cx)), Word(static_cast<plat::WORD>(cy));
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(u"");
    Word(points);
    Text(font);
  }

  void Add(plat::DWORD style, short x, short y, short cx, short cy, int id, plat::WORD atom, const char16_t* cls,
           const char16_t* text) {
    if (words_.size() % 2) Word(0);
    Dword(style);
    Dword(0);
    Word(static_cast<plat::WORD>(x)), Word(static_cast<plat::WORD>(y));
    Word(static_cast<plat::WORD>(cx)), Word(static_cast<plat::WORD>(cy));
    Word(static_cast<plat::WORD>(id));
    if (cls) {
      Text(cls);
    } else {
      Word(0xFFFF);
      Word(atom);
    }
    Text(text);
    Word(0);
    ++words_[countAt_];
  }

  const plat::DLGTEMPLATE* Get() {
    storage_.assign((words_.size() + 1) / 2, 0);
    std::memcpy(storage_.data(), words_.data(), words_.size() * sizeof(plat::WORD));
    return reinterpret_cast<const plat::DLGTEMPLATE*>(storage_.data());
  }

 private:
  void Word(plat::WORD w) { words_.push_back(w); }
  void Dword(plat::DWORD d) {
    Word(static_cast<plat::WORD>(d & 0xFFFF));
    Word(static_cast<plat::WORD>(d >> 16));
  }
  void Text(const char16_t* text) {
    for (; *text; ++text) Word(static_cast<plat::WORD>(*text));
    Word(0);
  }

  std::vector<plat::WORD> words_;
  std::vector<std::uint32_t> storage_;
  std::size_t countAt_ = 0;
};

const plat::DLGTEMPLATE* ListPickerTemplate() {
  static DialogTemplate t = [] {
    DialogTemplate d(kDialogStyle, 160, 160, u"MS Sans Serif", 8);
    d.Add(kStaticStyle, 32, 1, 10, 12, kPickerHeaderId, kStaticAtom, nullptr, u"");
    d.Add(kDropListStyle, 32, 14, 10, 60, kPickerTypeId, kComboAtom, nullptr, u"");
    d.Add(kFileListStyle, 1, 30, 10, 50, kPickerListId, 0, plat::WC_LISTVIEWW, u"");
    d.Add(kLabelStyle, 4, 3, 26, 11, kPickerFolderLabelId, kStaticAtom, nullptr, u"Folder:");
    d.Add(kLabelStyle, 4, 15, 26, 11, kPickerTypeLabelId, kStaticAtom, nullptr, u"Type:");
    return d;
  }();
  return t.Get();
}

const plat::DLGTEMPLATE* SaveDialogTemplate() {
  static DialogTemplate t = [] {
    DialogTemplate d(kDialogStyle, 150, 150, u"MS Shell Dlg", 8);
    d.Add(kLabelStyle, 7, 7, 89, 10, kNoId, kStaticAtom, nullptr, u"File Name:");
    d.Add(kNameBoxStyle, 7, 19, 130, 60, kSaveNameId, kComboAtom, nullptr, u"");
    d.Add(kLabelStyle, 7, 37, 67, 10, kNoId, kStaticAtom, nullptr, u"Folder:");
    d.Add(kDropListStyle, 7, 48, 130, 14, kSaveFolderId, kComboAtom, nullptr, u"");
    d.Add(kLabelStyle, 7, 67, 66, 10, kNoId, kStaticAtom, nullptr, u"Type:");
    d.Add(kDropListStyle, 7, 78, 130, 60, kSaveTypeId, kComboAtom, nullptr, u"");
    d.Add(plat::WS_CHILD, 46, 151, 14, 14, 104, 0, plat::kSipPrefClassName, u"");
    return d;
  }();
  return t.Get();
}

std::u16string Translated(const char16_t* text) { return LocalizeWithFallback(text, text); }

// Folder path with exactly one trailing backslash ("\" for the root).
std::u16string WithSlash(std::u16string folder) {
  while (!folder.empty() && folder.back() == u'\\') folder.pop_back();
  return folder + u"\\";
}

std::u16string WithoutSlash(std::u16string folder) {
  while (folder.size() > 1 && folder.back() == u'\\') folder.pop_back();
  return folder.empty() ? u"\\" : folder;
}

// The user's documents folder, made when missing.
std::u16string DocumentsFolder() {
  const std::u16string docs = GetMyDocumentsFolder();
  if (!DirectoryExists(docs)) CreateFolderTree(docs);
  return docs;
}

std::u16string WindowText(plat::HWND window) {
  std::vector<char16_t> text(static_cast<std::size_t>(std::max(0, plat::GetWindowTextLengthW(window))) + 1);
  plat::GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  return text.data();
}

// The file name of a path without its folder and extension.
std::u16string BareName(const std::u16string& path) {
  const std::size_t slash = path.find_last_of(u"\\/");
  std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string::npos && dot > 0) name.erase(dot);
  return name;
}

// The extension a pattern gives a saved file: the part after its last dot,
// unless that holds a wildcard ("*.*": the default extension).
std::u16string ExtensionOf(const std::u16string& pattern, const std::u16string& defaultExtension) {
  const std::size_t dot = pattern.rfind(u'.');
  std::u16string ext = dot == std::u16string::npos ? u"" : pattern.substr(dot + 1);
  if (ext.empty() || ext.find_first_of(u"*?") != std::u16string::npos) ext = defaultExtension;
  while (!ext.empty() && ext.front() == u'.') ext.erase(0, 1);
  return ext;
}

void FillTypes(plat::HWND combo, const std::vector<FileFilterEntry>& types, int index) {
  plat::SendMessageW(combo, plat::CB_RESETCONTENT, 0, 0);
  for (const FileFilterEntry& type : types)
    plat::SendMessageW(combo, plat::CB_ADDSTRING, 0, reinterpret_cast<plat::LPARAM>(type.description.c_str()));
  if (!types.empty())
    plat::SendMessageW(combo, plat::CB_SETCURSEL,
                       static_cast<plat::WPARAM>(std::clamp(index, 0, static_cast<int>(types.size()) - 1)), 0);
}

int ComboSelection(plat::HWND combo) {
  const auto index = static_cast<int>(plat::SendMessageW(combo, plat::CB_GETCURSEL, 0, 0));
  return index < 0 ? 0 : index;
}

// The combo box's edit child (the editable kind), else the combo itself.
plat::HWND EditOf(plat::HWND combo) {
  plat::HWND child = plat::GetWindow(combo, plat::GW_CHILD);
  return child ? child : combo;
}

void MoveKeepingHeight(plat::HWND window, int x, int y, int width) {
  plat::RECT r{};
  plat::GetWindowRect(window, &r);
  plat::MoveWindow(window, x, y, std::max(0, width), r.bottom - r.top, 1);
}

// The width of the window's text in its font.
int TextWidth(plat::HWND window) {
  const std::u16string text = WindowText(window);
  plat::HDC dc = plat::GetDC(window);
  if (!dc) return 0;
  auto font = reinterpret_cast<plat::HGDIOBJ>(plat::SendMessageW(window, plat::WM_GETFONT, 0, 0));
  plat::HGDIOBJ old = font ? plat::SelectObject(dc, font) : nullptr;
  plat::SIZE size{0, 0};
  plat::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  if (old) plat::SelectObject(dc, old);
  plat::ReleaseDC(window, dc);
  return size.cx;
}

plat::RECT Units(plat::HWND dialog, int x, int y, int cx, int cy) {
  plat::RECT r{x, y, x + cx, y + cy};
  plat::MapDialogRect(dialog, &r);
  return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Filters and names

std::vector<FileFilterEntry> ParseFileFilter(const std::u16string& filter) {
  std::vector<std::u16string> parts;
  std::size_t at = 0;
  while (at < filter.size()) {
    std::size_t end = at;
    while (end < filter.size() && filter[end] != u'|' && filter[end] != u'\0') ++end;
    if (end == at) break;  // "||" or a double zero ends the list
    parts.push_back(filter.substr(at, end - at));
    at = end + 1;
  }
  std::vector<FileFilterEntry> types;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    FileFilterEntry type{parts[i], {}};
    std::size_t from = 0;
    while (from <= parts[i + 1].size()) {
      std::size_t cut = parts[i + 1].find(u';', from);
      if (cut == std::u16string::npos) cut = parts[i + 1].size();
      std::u16string pattern = parts[i + 1].substr(from, cut - from);
      while (!pattern.empty() && pattern.front() == u' ') pattern.erase(0, 1);
      while (!pattern.empty() && pattern.back() == u' ') pattern.pop_back();
      if (!pattern.empty()) type.patterns.push_back(pattern);
      from = cut + 1;
    }
    if (!type.patterns.empty()) types.push_back(std::move(type));
  }
  return types;
}

bool IsFileNameChar(char16_t ch) {
  return ch > 128 || (ch >= u'0' && ch <= u'9') || (ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z') ||
         ch == u'_' || ch == u' ' || ch == 8;
}

std::u16string CleanFileName(const std::u16string& text) {
  std::u16string clean;
  for (char16_t ch : text)
    if (IsFileNameChar(ch)) clean.push_back(ch);
  return clean;
}

void SetFileDialogObserverForTesting(FileDialogObserver observer) { Observer() = std::move(observer); }

void NotifyFileDialogObserver(plat::HWND dialog) {
  if (Observer()) Observer()(dialog);
}

// ---------------------------------------------------------------------------
// The list picker

FileDialog::FileDialog(Mode mode, FileDialogRequest& request)
    : mode_(mode),
      request_(request),
      types_(ParseFileFilter(request.filter)),
      disableScrollBarMessage_(plat::RegisterWindowMessageW(u"OrvWTL_DisableScrollBarMessage")) {}

FileDialog::~FileDialog() {
  if (images_) plat::ImageList_Destroy(images_);
}

plat::INT_PTR FileDialog::DoModal(plat::HWND owner) {
  plat::InitCommonControls();
  const plat::INT_PTR result = CPPCDialogImpl::DoModal(owner, ListPickerTemplate());
  if (result == -1) plat::SetLastError(kErrorOutOfMemory);
  return result;
}

void FileDialog::OnInit() {
  static const char16_t* const kTitles[] = {u"Open", u"Save", u"Select File"};
  const std::u16string title = Translated(request_.title.empty() ? kTitles[mode_] : request_.title.c_str());
  plat::SetWindowTextW(GetHwnd(), title.c_str());

  const int icon = plat::GetSystemMetrics(plat::SM_CXSMICON);
  images_ = plat::ImageList_Create(icon, icon, plat::ILC_COLOR32 | plat::ILC_MASK, 0, 1);
  list_ = plat::GetDlgItem(GetHwnd(), kPickerListId);
  emptyText_ = Translated(u"No files");
  SubclassFileList(list_, emptyText_);
  plat::SendMessageW(list_, plat::LVM_SETIMAGELIST, plat::LVSIL_SMALL, reinterpret_cast<plat::LPARAM>(images_));
  plat::RECT client{};
  plat::GetClientRect(GetHwnd(), &client);
  std::u16string columnText = Translated(u"Files");
  plat::LVCOLUMNW column{};
  column.mask = plat::LVCF_WIDTH | plat::LVCF_TEXT;
  column.cx = client.right;
  column.pszText = columnText.data();
  plat::SendMessageW(list_, plat::LVM_INSERTCOLUMNW, 0, reinterpret_cast<plat::LPARAM>(&column));
  header_.SubclassWindow(plat::GetDlgItem(GetHwnd(), kPickerHeaderId));
  typeCombo_ = plat::GetDlgItem(GetHwnd(), kPickerTypeId);

  softKeys_.Create(GetHwnd(), mode_ == kSelectFile ? IDR_PICKER_SELECT_CANCEL : IDR_PICKER_UP_CANCEL, false);

  std::u16string folder = WithoutSlash(request_.file);
  if (!DirectoryExists(folder)) folder = DocumentsFolder();
  folder_ = WithSlash(folder);

  FillTypes(typeCombo_, types_, request_.filterIndex);
  GetLocalizer().LocalizeDialog(GetHwnd());
  Layout();
  FillList();
  plat::SetFocus(list_);
  Notify(GetHwnd());
}

int FileDialog::SelectedType() const { return ComboSelection(typeCombo_); }

int FileDialog::GetItemCount() const {
  return static_cast<int>(plat::SendMessageW(list_, plat::LVM_GETITEMCOUNT, 0, 0));
}

bool FileDialog::GetItem(int index, std::u16string& name, bool& isFolder) const {
  char16_t text[1024] = {};
  plat::LVITEMW item{};
  item.mask = plat::LVIF_TEXT | plat::LVIF_PARAM;
  item.iItem = index;
  item.pszText = text;
  item.cchTextMax = 1024;
  if (!plat::SendMessageW(list_, plat::LVM_GETITEMW, 0, reinterpret_cast<plat::LPARAM>(&item))) return false;
  name = text;
  isFolder = item.lParam == 0;
  return true;
}

void FileDialog::UpdateHeaderText() {
  plat::RECT r{};
  plat::GetClientRect(header_.GetWindow(), &r);
  header_.SetText(TreePane::FitTextToWidth(header_.GetWindow(), folder_, r.right - ScaleX(2)));
}

void FileDialog::FillList() {
  CWaitCursor wait;
  plat::SendMessageW(list_, plat::LVM_DELETEALLITEMS, 0, 0);
  plat::ImageList_RemoveAll(images_);
  UpdateHeaderText();

  auto append = [this](const std::u16string& name, bool isFolder) {
    plat::SHFILEINFO info{};
    int image = -1;
    if (plat::SHGetFileInfo((folder_ + name).c_str(), 0, &info, sizeof info, plat::SHGFI_ICON | plat::SHGFI_SMALLICON) &&
        info.hIcon) {
      image = plat::ImageList_AddIcon(images_, info.hIcon);
      plat::DestroyIcon(info.hIcon);
    }
    std::u16string text = name;
    plat::LVITEMW item{};
    item.mask = plat::LVIF_TEXT | plat::LVIF_PARAM | plat::LVIF_IMAGE;
    item.iItem = GetItemCount();
    item.pszText = text.data();
    item.iImage = image;
    item.lParam = isFolder ? 0 : 1;
    plat::SendMessageW(list_, plat::LVM_INSERTITEMW, 0, reinterpret_cast<plat::LPARAM>(&item));
  };

  // Folders, then the files of the selected type, each in the order of
  // their character codes.
  if (mode_ != kSelectFile) {
    std::vector<std::u16string> folders;
    TreePane::Enumerate(folder_, u"*.*", [&folders](const plat::WIN32_FIND_DATAW& data) {
      if (data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY) folders.push_back(data.cFileName);
    });
    std::sort(folders.begin(), folders.end());
    for (const std::u16string& name : folders) append(name, true);
  }
  // The files of each pattern in turn, each pattern's sorted by name.
  std::vector<std::u16string> files;
  if (!types_.empty()) {
    const int type = std::min(SelectedType(), static_cast<int>(types_.size()) - 1);
    for (const std::u16string& pattern : types_[static_cast<std::size_t>(type)].patterns) {
      const std::size_t first = files.size();
      TreePane::Enumerate(folder_, pattern, [&files](const plat::WIN32_FIND_DATAW& data) {
        if (data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY) return;
        // A file matching two patterns of the type is listed once.
        const std::u16string name = data.cFileName;
        if (std::none_of(files.begin(), files.end(), [&](const std::u16string& f) { return plat::EqualsNoCase(f, name); }))
          files.push_back(name);
      });
      std::sort(files.begin() + static_cast<std::ptrdiff_t>(first), files.end());
    }
  }
  for (const std::u16string& name : files) append(name, false);

  const int count = GetItemCount();
  if (count > 0) {
    const auto found = positions_.find(folder_);
    const int position = std::clamp(found == positions_.end() ? 0 : found->second, 0, count - 1);
    plat::LVITEMW state{};
    state.stateMask = plat::LVIS_FOCUSED | plat::LVIS_SELECTED;
    state.state = state.stateMask;
    plat::SendMessageW(list_, plat::LVM_SETITEMSTATE, static_cast<plat::WPARAM>(position),
                       reinterpret_cast<plat::LPARAM>(&state));
    plat::SendMessageW(list_, plat::LVM_ENSUREVISIBLE, static_cast<plat::WPARAM>(position), 0);
  }
  if (mode_ != kSelectFile) {
    const bool atRoot = folder_ == u"\\";
    softKeys_.SetButton(kPickerUpCommand, atRoot ? 0 : plat::TBSTATE_ENABLED, u"", kPickerUpCommand);
  }
  plat::InvalidateRect(list_, nullptr, 1);
}

void FileDialog::GoUp() {
  if (mode_ == kSelectFile || folder_ == u"\\") return;
  const std::size_t cut = folder_.rfind(u'\\', folder_.size() - 2);
  if (cut == std::u16string::npos) return;
  folder_.erase(cut + 1);
  FillList();
}

plat::LRESULT FileDialog::OnOK() {
  const auto index = static_cast<int>(
      plat::SendMessageW(list_, plat::LVM_GETNEXTITEM, static_cast<plat::WPARAM>(-1), plat::LVNI_SELECTED));
  std::u16string name;
  bool isFolder = false;
  if (index < 0 || !GetItem(index, name, isFolder)) return 0;
  if (isFolder) {
    positions_[folder_] = index;
    folder_ += name + u"\\";
    FillList();
    return 0;
  }
  // The whole path, however long.
  request_.file = folder_ + name;
  request_.filterIndex = SelectedType();
  EndWith(plat::IDOK);
  return 0;
}

bool FileDialog::ProcessDerivedMessage(plat::HWND, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                                       plat::LRESULT& result) {
  if (AnswerDisableScrollBar(GetHwnd(), disableScrollBarMessage_, msg, result)) return true;
  switch (msg) {
    case plat::WM_NOTIFY: {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      if (!header || header->hwndFrom != list_) return false;
      if (header->code == plat::NM_CLICK) {
        result = OnOK();
        return true;
      }
      if (header->code == plat::LVN_KEYDOWN && reinterpret_cast<const plat::NMLVKEYDOWN*>(lParam)->wVKey == plat::VK_LEFT) {
        plat::PostMessageW(GetHwnd(), plat::WM_COMMAND, kPickerUpCommand, 0);
        result = 0;
        return true;
      }
      return false;
    }
    case plat::WM_KEYDOWN:
      if (wParam != plat::VK_LEFT) return false;
      if (plat::LOWORD(static_cast<plat::DWORD>(plat::SendMessageW(GetHwnd(), plat::DM_GETDEFID, 0, 0))) == kPickerTypeId)
        return false;
      plat::PostMessageW(GetHwnd(), plat::WM_COMMAND, kPickerUpCommand, 0);
      result = 0;
      return true;
    case plat::WM_COMMAND:
      if (plat::LOWORD(wParam) == kPickerUpCommand) {
        GoUp();
        result = 0;
        return true;
      }
      if (plat::LOWORD(wParam) == kPickerTypeId && plat::HIWORD(wParam) == plat::CBN_SELCHANGE) {
        FillList();
        result = 0;
        return true;
      }
      return false;
    case plat::WM_SIZE:
      Layout();
      return false;
    case plat::WM_PAINT: {
      plat::PAINTSTRUCT ps{};
      plat::HDC dc = plat::BeginPaint(GetHwnd(), &ps);
      OnPaint(dc);
      if (lineY_ >= 0) {
        plat::RECT client{};
        plat::GetClientRect(GetHwnd(), &client);
        plat::RECT line{0, lineY_, client.right, lineY_ + (GetScreenDpiY() + 48) / 96};
        plat::FillRect(dc, &line, static_cast<plat::HBRUSH>(plat::GetStockObject(plat::BLACK_BRUSH)));
      }
      plat::EndPaint(GetHwnd(), &ps);
      result = 0;
      return true;
    }
    default: return false;
  }
}

void FileDialog::Layout() {
  if (!list_) return;
  const plat::HWND dialog = GetHwnd();
  plat::RECT client{};
  plat::GetClientRect(dialog, &client);
  const int top = GetDialogHeaderHeight();
  plat::RECT folderLabel = Units(dialog, 4, 3, 26, 11);
  plat::RECT typeLabel = Units(dialog, 4, 15, 26, 11);
  plat::RECT field = Units(dialog, 32, 1, 10, 12);
  plat::RECT combo = Units(dialog, 32, 14, 10, 12);
  // The labels as wide as their texts (translations differ), the fields after them.
  const int labelWidth = std::max({static_cast<int>(folderLabel.right - folderLabel.left),
                                   TextWidth(plat::GetDlgItem(dialog, kPickerFolderLabelId)),
                                   TextWidth(plat::GetDlgItem(dialog, kPickerTypeLabelId))});
  folderLabel.right = folderLabel.left + labelWidth;
  typeLabel.right = typeLabel.left + labelWidth;
  field.left = combo.left = folderLabel.right + ScaleX(4);
  const plat::RECT listArea = Units(dialog, 1, 30, 1, 1);
  const int right = client.right - listArea.left;
  plat::MoveWindow(plat::GetDlgItem(dialog, kPickerFolderLabelId), folderLabel.left, top + folderLabel.top,
                   folderLabel.right - folderLabel.left, folderLabel.bottom - folderLabel.top, 1);
  plat::MoveWindow(plat::GetDlgItem(dialog, kPickerTypeLabelId), typeLabel.left, top + typeLabel.top,
                   typeLabel.right - typeLabel.left, typeLabel.bottom - typeLabel.top, 1);
  plat::MoveWindow(header_.GetWindow(), field.left, top + field.top, right - field.left, field.bottom - field.top, 1);
  MoveKeepingHeight(typeCombo_, combo.left, top + combo.top, right - combo.left);
  plat::RECT comboRect{};
  plat::GetWindowRect(typeCombo_, &comboRect);
  const int comboBottom = top + combo.top + ScaleY(22);
  const int fieldBottom = std::min(comboBottom, top + combo.top + static_cast<int>(comboRect.bottom - comboRect.top));
  lineY_ = fieldBottom + ScaleY(2);
  const int listTop = lineY_ + (GetScreenDpiY() + 48) / 96 + ScaleY(2);
  plat::MoveWindow(list_, 0, listTop, client.right, std::max(0, static_cast<int>(client.bottom) - listTop), 1);
  plat::SendMessageW(list_, plat::LVM_SETCOLUMNWIDTH, 0, client.right);
  UpdateHeaderText();
  plat::InvalidateRect(dialog, nullptr, 1);
}

// ---------------------------------------------------------------------------
// The save dialog

FileSaveDialog::FileSaveDialog(FileDialogRequest& request)
    : request_(request), types_(ParseFileFilter(request.filter)) {}

plat::INT_PTR FileSaveDialog::DoModal(plat::HWND owner) {
  plat::InitCommonControls();
  plat::SHInitExtraControls();
  SetTitle(Translated(request_.title.empty() ? u"Save As" : request_.title.c_str()));
  const plat::INT_PTR result = CPPCDialogImpl::DoModal(owner, SaveDialogTemplate());
  if (result == -1) plat::SetLastError(kErrorOutOfMemory);
  return result;
}

void FileSaveDialog::OnInit() {
  softKeys_.Create(GetHwnd(), IDR_PICKER_DONE_CANCEL, false);
  nameBox_ = plat::GetDlgItem(GetHwnd(), kSaveNameId);
  typeCombo_ = plat::GetDlgItem(GetHwnd(), kSaveTypeId);
  folderCombo_ = plat::GetDlgItem(GetHwnd(), kSaveFolderId);
  const std::size_t slash = request_.file.rfind(u'\\');
  std::u16string folder = slash == std::u16string::npos ? u"" : request_.file.substr(0, slash);
  if (slash == 0) folder = u"\\";
  folder_ = !folder.empty() && DirectoryExists(folder) ? WithoutSlash(folder) : DocumentsFolder();
  FillTypes(typeCombo_, types_, request_.filterIndex);
  GetLocalizer().LocalizeDialog(GetHwnd());
  Layout();
  ShowFolder();
  const std::u16string name = CleanFileName(BareName(request_.file));
  plat::HWND edit = EditOf(nameBox_);
  cleaning_ = true;
  plat::SetWindowTextW(edit, name.c_str());
  cleaning_ = false;
  plat::SetFocus(edit);
  plat::SendMessageW(edit, plat::EM_SETSEL, 0, static_cast<plat::LPARAM>(-1));
  Notify(GetHwnd());
}

int FileSaveDialog::SelectedType() const { return ComboSelection(typeCombo_); }

void FileSaveDialog::Layout() {
  // The boxes reach across the dialog, keeping the template's margins.
  plat::RECT client{};
  plat::GetClientRect(GetHwnd(), &client);
  const plat::RECT margin = Units(GetHwnd(), 7, 0, 0, 0);
  for (plat::HWND box : {nameBox_, folderCombo_, typeCombo_}) {
    plat::RECT r{};
    plat::GetWindowRect(box, &r);
    plat::POINT at{r.left, r.top};
    plat::ScreenToClient(GetHwnd(), &at);
    MoveKeepingHeight(box, margin.left, at.y, client.right - 2 * margin.left);
  }
}

void FileSaveDialog::ShowFolder() {
  plat::RECT r{};
  plat::GetClientRect(folderCombo_, &r);
  const std::u16string shown = TreePane::FitTextToWidth(folderCombo_, folder_, r.right - ScaleX(24));
  plat::SendMessageW(folderCombo_, plat::CB_RESETCONTENT, 0, 0);
  plat::SendMessageW(folderCombo_, plat::CB_ADDSTRING, 0, reinterpret_cast<plat::LPARAM>(shown.c_str()));
  plat::SendMessageW(folderCombo_, plat::CB_SETCURSEL, 0, 0);
}

std::u16string FileSaveDialog::ReadName() const { return CleanFileName(WindowText(EditOf(nameBox_))); }

void FileSaveDialog::OnNameChanged() {
  if (cleaning_) return;
  plat::HWND edit = EditOf(nameBox_);
  const std::u16string text = WindowText(edit);
  const std::u16string clean = CleanFileName(text);
  if (clean == text) return;
  plat::DWORD start = 0, end = 0;
  plat::SendMessageW(edit, plat::EM_GETSEL, reinterpret_cast<plat::WPARAM>(&start), reinterpret_cast<plat::LPARAM>(&end));
  auto removedBefore = [&text](plat::DWORD at) {
    plat::DWORD removed = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(at, text.size()); ++i) removed += IsFileNameChar(text[i]) ? 0 : 1;
    return removed;
  };
  const plat::DWORD newStart = start - removedBefore(start), newEnd = end - removedBefore(end);
  cleaning_ = true;
  plat::SetWindowTextW(edit, clean.c_str());
  plat::SendMessageW(edit, plat::EM_SETSEL, newStart, static_cast<plat::LPARAM>(newEnd));
  cleaning_ = false;
}

void FileSaveDialog::OpenPicker() {
  FileDialogRequest pick = request_;
  pick.file = folder_;
  pick.filterIndex = SelectedType();
  pick.title.clear();
  FileDialog picker(FileDialog::kSelectFile, pick);
  if (picker.DoModal(GetHwnd()) != plat::IDOK) return;
  plat::SendMessageW(typeCombo_, plat::CB_SETCURSEL, static_cast<plat::WPARAM>(pick.filterIndex), 0);
  const std::u16string name = CleanFileName(BareName(pick.file));
  cleaning_ = true;
  plat::SetWindowTextW(EditOf(nameBox_), name.c_str());
  cleaning_ = false;
}

void FileSaveDialog::OpenFolderSelector() {
  std::u16string path = folder_;
  if (RunFolderSelector(GetHwnd(), u"", path) != plat::IDOK || path.empty()) return;
  folder_ = WithoutSlash(path);
  ShowFolder();
}

plat::LRESULT FileSaveDialog::OnOK() {
  const std::u16string name = ReadName();
  if (name.empty() || types_.empty()) return 0;
  const FileFilterEntry& type = types_[static_cast<std::size_t>(std::min<int>(SelectedType(), types_.size() - 1))];
  const std::u16string extension = ExtensionOf(type.patterns.front(), request_.defaultExtension);
  const std::u16string fileName = extension.empty() ? name : name + u"." + extension;
  const std::u16string folder = folder_ == u"\\" || folder_ == u"/" ? u"" : folder_;
  const std::u16string result = folder + u"\\" + fileName;
  // A file of this name under any pattern of the type is asked about.
  std::vector<std::u16string> asked;
  for (const std::u16string& pattern : type.patterns) {
    const std::u16string ext = ExtensionOf(pattern, request_.defaultExtension);
    const std::u16string existing = ext.empty() ? name : name + u"." + ext;
    if (std::any_of(asked.begin(), asked.end(), [&](const std::u16string& a) { return plat::EqualsNoCase(a, existing); }))
      continue;
    asked.push_back(existing);
    if (!FileExists(folder + u"\\" + existing)) continue;
    std::u16string question = Translated(u"%s already exists. Do you want to replace it?");
    const std::size_t mark = question.find(u"%s");
    if (mark != std::u16string::npos) question.replace(mark, 2, existing);
    const std::u16string caption = Translated(u"Save As");
    if (plat::MessageBoxW(GetHwnd(), question.c_str(), caption.c_str(), plat::MB_OKCANCEL | plat::MB_ICONEXCLAMATION) !=
        plat::IDOK)
      return 0;
  }
  request_.file = result;
  request_.filterIndex = SelectedType();
  EndWith(plat::IDOK);
  return 0;
}

bool FileSaveDialog::ProcessDerivedMessage(plat::HWND, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM,
                                           plat::LRESULT& result) {
  if (msg == kSaveOpenPicker) {
    OpenPicker();
    result = 0;
    return true;
  }
  if (msg == kSaveOpenFolderSelector) {
    OpenFolderSelector();
    result = 0;
    return true;
  }
  if (msg == plat::WM_SIZE && nameBox_) {
    Layout();
    ShowFolder();
    return false;
  }
  if (msg != plat::WM_COMMAND) return false;
  const int id = plat::LOWORD(wParam);
  const plat::WORD code = plat::HIWORD(wParam);
  if (id == kSaveNameId && (code == plat::CBN_EDITUPDATE || code == plat::CBN_EDITCHANGE)) {
    OnNameChanged();
  } else if (id == kSaveNameId && code == plat::CBN_DROPDOWN) {
    plat::SendMessageW(nameBox_, plat::CB_SHOWDROPDOWN, 0, 0);
    plat::PostMessageW(GetHwnd(), kSaveOpenPicker, 0, 0);
  } else if (id == kSaveFolderId && code == plat::CBN_DROPDOWN) {
    plat::SendMessageW(folderCombo_, plat::CB_SHOWDROPDOWN, 0, 0);
    plat::PostMessageW(GetHwnd(), kSaveOpenFolderSelector, 0, 0);
  } else {
    return false;
  }
  result = 0;
  return true;
}

// ---------------------------------------------------------------------------
// The folder selector

namespace {

class FolderSelector : public CPPCDialogImpl {
 public:
  FolderSelector(const std::u16string& title, std::u16string& path) : tree_(true), path_(path) {
    SetTitle(Translated(title.empty() ? u"Select Folder" : title.c_str()));
  }

 protected:
  void OnInit() override {
    const bool older = !IsModernPocketPC();
    if (older) {
      plat::SHINITDLGINFO info{plat::SHIDIM_FLAGS, GetHwnd(), 0x11};
      plat::SHInitDialog(&info);
    }
    softKeys_.CreateDoneCancel(GetHwnd());
    treeWindow_ = CreateFolderTree(GetHwnd(), nullptr, kFileTreeStyle, kFolderSelectorTreeId);
    if (!treeWindow_) return;
    tree_.SubclassWindow(treeWindow_);
    tree_.SelectPath(path_);
    CVekActionKey::Attach(treeWindow_);
    Layout();
    plat::SetFocus(treeWindow_);
    Notify(GetHwnd());
  }

  plat::LRESULT OnOK() override {
    path_ = tree_.GetItemPath(tree_.GetSelectedItem());
    EndWith(plat::IDOK);
    return 0;
  }

  bool ProcessDerivedMessage(plat::HWND, plat::UINT msg, plat::WPARAM wParam, plat::LPARAM lParam,
                             plat::LRESULT& result) override {
    if (msg == plat::WM_NOTIFY && treeWindow_) {
      const auto* header = reinterpret_cast<const plat::NMHDR*>(lParam);
      if (!header || header->hwndFrom != treeWindow_) return false;
      result = plat::SendMessageW(treeWindow_, kReflectedNotify, wParam, lParam);
      return true;
    }
    if (msg == plat::WM_SIZE && treeWindow_) Layout();
    return false;
  }

 private:
  void Layout() {
    plat::RECT client{};
    plat::GetClientRect(GetHwnd(), &client);
    plat::RECT header{0, 0, 15, 15};
    plat::MapDialogRect(GetHwnd(), &header);
    client.top += header.bottom + (GetScreenDpiY() + 48) / 96;
    if (!IsModernPocketPC()) {
      const int inset = (GetScreenDpiX() + 24) * 2 / 96;
      client.left += inset;
      client.right -= inset;
    }
    plat::MoveWindow(treeWindow_, client.left, client.top, client.right - client.left, client.bottom - client.top, 1);
    plat::HTREEITEM item = tree_.GetSelectedItem();
    if (!item)
      item = reinterpret_cast<plat::HTREEITEM>(plat::SendMessageW(treeWindow_, plat::TVM_GETNEXTITEM, plat::TVGN_ROOT, 0));
    if (item) plat::SendMessageW(treeWindow_, plat::TVM_ENSUREVISIBLE, 0, reinterpret_cast<plat::LPARAM>(item));
  }

  FileTreeCtrl tree_;
  std::u16string& path_;
  SoftKeyBar softKeys_;
  plat::HWND treeWindow_ = nullptr;
};

}  // namespace

plat::INT_PTR RunFolderSelector(plat::HWND owner, const std::u16string& title, std::u16string& path) {
  FolderSelector selector(title, path);
  return RunEmptyTemplateDialog(selector, owner);
}

// ---------------------------------------------------------------------------

plat::INT_PTR RunFileDialog(FileDialogRequest& request) {
  if (request.dialogSelector == 0) {
    FileSaveDialog dialog(request);
    return dialog.DoModal(request.owner);
  }
  FileDialog dialog(FileDialog::kOpen, request);
  return dialog.DoModal(request.owner);
}

plat::INT_PTR RunFileDialogKeepingInputPanel(FileDialogRequest& request) {
  return RunKeepingFocusAndInputPanel([&] {
    if (plat::HWND active = plat::GetActiveWindow()) request.owner = active;
    return RunFileDialog(request);
  });
}
