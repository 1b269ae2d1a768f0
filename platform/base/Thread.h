// Threads: creation (optionally suspended), priorities, exit codes, timed join
// through WaitForSingleObject on the thread's handle. There is no way to kill a
// thread: threads stop cooperatively.
#pragma once

#include <cstddef>

#include "platform/base/Handle.h"
#include "platform/base/Types.h"

namespace plat {

using LPTHREAD_START_ROUTINE = DWORD (*)(void* param);

constexpr DWORD CREATE_SUSPENDED = 0x00000004;
constexpr DWORD STILL_ACTIVE = 259;
// Exit code of a thread whose start routine let an exception escape.
constexpr DWORD THREAD_EXIT_EXCEPTION = 0xE0000001u;

// Priorities as the device numbers them: lower is more urgent.
constexpr int THREAD_PRIORITY_TIME_CRITICAL = 0;
constexpr int THREAD_PRIORITY_HIGHEST = 1;
constexpr int THREAD_PRIORITY_ABOVE_NORMAL = 2;
constexpr int THREAD_PRIORITY_NORMAL = 3;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = 4;
constexpr int THREAD_PRIORITY_LOWEST = 5;
constexpr int THREAD_PRIORITY_ABOVE_IDLE = 6;
constexpr int THREAD_PRIORITY_IDLE = 7;
constexpr int THREAD_PRIORITY_ERROR_RETURN = 0x7FFFFFFF;

// Starts start(param) on a new thread. The handle is signalled when the thread
// ends; close it with CloseHandle (the thread runs on). security is ignored;
// stackSize 0 takes the default. Null with GetLastError on failure.
HANDLE CreateThread(void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE start,
                    void* param, DWORD flags, DWORD* threadId);

// Starts a thread created suspended. Returns the previous suspend count
// (1 for a suspended thread, 0 for a running one), 0xFFFFFFFF on a bad handle.
DWORD ResumeThread(HANDLE thread);

// A pseudo handle meaning "the calling thread" for the priority calls; it need
// not be closed.
HANDLE GetCurrentThread();
DWORD GetCurrentThreadId();  // unique among the host's live threads, never 0

// The priority is kept per thread and answered back; the host's scheduling is
// left as it is (a lowered host priority starves background threads on a busy
// host, raising one needs privileges).
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);

// STILL_ACTIVE while the thread runs, then its start routine's result.
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);

}  // namespace plat
