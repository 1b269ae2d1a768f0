// The program's own window classes, made by superclassing the platform's
// controls ("STATIC", "SysListView32", two of "SysTreeView32" and
// "DISPLAYCLASS"), the check list and option tree behaviour added to them,
// the edit box with a spin buddy, the file picker's subclassed list and the
// activation handling shared by pages and windows.
#pragma once

#include <string>

#include "platform/controls/CommCtrl.h"
#include "platform/windows/Windows.h"

// Style of a create call given 0: child, visible, clip siblings and children.
constexpr plat::DWORD kDefaultChildStyle = 0x56000000;
constexpr plat::DWORD kCheckListStyle = 0x5081400D;
constexpr plat::DWORD kOptionTreeStyle = 0x548100B7;
constexpr plat::DWORD kSpinEditStyle = 0x508100C0;
constexpr plat::DWORD kSpinUpDownStyle = 0x50000076;
// The handheld's action key (the centre of the navigation pad).
constexpr plat::UINT kActionKey = 0x86;

// The class names of the superclasses (registered on first use).
const char16_t* LabelClassName();
const char16_t* CheckListClassName();
const char16_t* OptionTreeClassName();
const char16_t* FolderTreeClassName();
const char16_t* HtmlViewerClassName();

// Create calls: parent, rectangle (null: empty), title, style (0: the
// default child style), extended style, control id.
plat::HWND CreateLabel(plat::HWND parent, const plat::RECT* rect, const std::u16string& text, plat::DWORD style,
                       plat::DWORD exStyle, int id);
plat::HWND CreatePushButton(plat::HWND parent, const plat::RECT* rect, const std::u16string& text, plat::DWORD style,
                            plat::DWORD exStyle, int id);
// A check list: report view, single selection, no header, one column as wide
// as the list, and state images 1 (not marked) and 2 (marked).
plat::HWND CreateCheckList(plat::HWND parent, const plat::RECT* rect, int id);
// An option tree with the image list of the bitmap resource (0: none).
plat::HWND CreateOptionTree(plat::HWND parent, const plat::RECT* rect, int id, plat::UINT bitmapId = 0,
                            int imageWidth = 16);
plat::HWND CreateFolderTree(plat::HWND parent, const plat::RECT* rect, plat::DWORD style, int id);
plat::HWND CreateHtmlViewer(plat::HWND parent, const plat::RECT* rect, plat::DWORD style, int id);

// Check lists. The parent hands the list's notifications here (the dialog
// bases do it for their children); true when consumed. A click toggles when
// its stylus-down hit a state image; a key toggles (on platforms before
// Pocket PC generation 4) when it is the process's remembered key, or, while
// none is remembered, Enter or the action key, which is then remembered.
bool IsCheckList(plat::HWND window);
bool HandleCheckListNotify(const plat::NMHDR* header);
// Toggles the selected item between state images 1 and 2.
void ToggleCheckListSelection(plat::HWND list);
// The remembered key (0: none yet); the reset is for tests.
plat::UINT GetCheckListKey();
void ResetCheckListKeyForTesting();

// Option trees: activating the selected item expands or collapses a parent
// item and toggles a check item's state image between 1 and 2.
void ActivateOptionTreeSelection(plat::HWND tree);

// An edit box with an up-down buddy; the owner's WM_ENABLE goes to
// EnableSpinEdit.
struct SpinEdit {
  plat::HWND edit = nullptr;
  plat::HWND upDown = nullptr;

  bool Create(plat::HWND parent, const plat::RECT& rect, int editId, int upDownId);
  void Enable(bool enable);
};

// The file picker's list view: an empty list shows its empty text centred
// from 40 % of its height; Enter posts IDOK to the parent, Up on the first
// and Down on the last item move to the parent's next control.
bool SubclassFileList(plat::HWND list, const std::u16string& emptyText);

// Activation shared by pages and windows: on WM_ACTIVATE with a non-zero
// state the window is asked for its preferred control (WM_USER + 118),
// which gets the focus. reentry keeps it from running inside itself.
constexpr plat::UINT WM_GETPREFERREDFOCUS = plat::WM_USER + 118;
void HandleActivateFocus(plat::HWND window, plat::WPARAM state, bool& reentry);
