// Named kernel objects shared by every process of the device: mutexes, events
// and registered window-message numbers.
//
// Names are any UTF-16 text and compare exactly (as on the device) for mutexes
// and events, ignoring case for registered messages. Objects of two devices
// never meet. The handles are ordinary kernel objects: WaitForSingleObject,
// WaitForMultipleObjects (mixing local and named objects), SetEvent, ResetEvent,
// PulseEvent, ReleaseMutex and CloseHandle work on them. An object lives while
// a live process has a handle to it: once the last one is closed (or its
// process has died) the name is free and a new object starts afresh. A name
// belongs to one kind: creating a mutex under an event's name, or the other
// way round, fails with ERROR_INVALID_HANDLE.
#pragma once

#include "platform/base/Handle.h"
#include "platform/base/Types.h"

namespace plat {

// Access rights (accepted, not checked).
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
constexpr DWORD EVENT_ALL_ACCESS = 0x001F0003;
constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001;

// Opens the named mutex, creating it when it does not exist. When it existed,
// GetLastError() is ERROR_ALREADY_EXISTS afterwards (else ERROR_SUCCESS);
// initialOwner is honoured only when the mutex is created.
// A null name gives an unnamed mutex of this process (CreateLocalMutex).
// The mutex is owned by a thread, recursive for it, released only by it; when
// its owner thread or process ends while holding it, the next waiter gets it
// with WAIT_ABANDONED and owns it. Null on failure.
HANDLE CreateMutexW(void* sa, BOOL initialOwner, const char16_t* name);

// Opens the named event, creating it when it does not exist (manualReset and
// initialState apply on creation only; GetLastError() is ERROR_ALREADY_EXISTS
// when it existed). A null name gives an unnamed event (CreateLocalEvent).
// Null on failure.
HANDLE CreateEventW(void* sa, BOOL manualReset, BOOL initialState, const char16_t* name);

// Opens an existing named event: null with ERROR_FILE_NOT_FOUND when no
// process of the device has created it.
HANDLE OpenEventW(DWORD access, BOOL inherit, const char16_t* name);

// The message number of name (0xC000..0xFFFF), the same in every process of
// the device for names that are equal ignoring case. 0 on failure.
UINT RegisterWindowMessageW(const char16_t* name);

}  // namespace plat
