// The clipboard: one text shared by every program of the device (kept by the
// device, see SetClipboardTextOfDevice), and the desktop's clipboard while the
// display program runs. Text only: CF_UNICODETEXT.
#pragma once

#include "platform/base/LocalMemory.h"
#include "platform/windows/Windows.h"

namespace plat {

constexpr UINT CF_TEXT = 1;
constexpr UINT CF_UNICODETEXT = 13;
constexpr DWORD ERROR_CLIPBOARD_NOT_OPEN = 1418;

// One thread of the device has the clipboard open at a time: FALSE with
// ERROR_ACCESS_DENIED while another thread or program has it (the opener's
// thread may open it again). owner may be null.
BOOL OpenClipboard(HWND owner);
// FALSE with ERROR_CLIPBOARD_NOT_OPEN when this thread has not opened it.
BOOL CloseClipboard();
// Removes the text; the opener's window becomes the owner.
BOOL EmptyClipboard();
// CF_UNICODETEXT: data is a LocalAlloc block holding the text up to its first
// null (or its end); the clipboard takes the block (frees it) and the text
// becomes the device's. Null with ERROR_CLIPBOARD_NOT_OPEN, or with
// ERROR_NOT_SUPPORTED for another format or no data.
HLOCAL SetClipboardData(UINT format, HLOCAL data);
// The text in a block the clipboard keeps until it is closed or emptied; null
// when there is none or it is not open.
HLOCAL GetClipboardData(UINT format);
BOOL IsClipboardFormatAvailable(UINT format);
// The window given to OpenClipboard by the last EmptyClipboard of this process.
HWND GetClipboardOwner();

}  // namespace plat
