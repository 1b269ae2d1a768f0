// Thread message queues: posted and sent messages, WM_QUIT, WM_PAINT and
// WM_TIMER generation, sends between threads and processes.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <chrono>
#include <cstring>

#include "platform/base/Thread.h"
#include "platform/base/Time.h"
#include "platform/windows/WindowsInternal.h"

namespace plat::wm {

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ThreadQueue::ThreadQueue() {
  efd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  threadId = GetCurrentThreadId();
  pid = getpid();
  MarkPumped();
}

void ThreadQueue::MarkPumped() {
  IClock& clock = CurrentClock();
  lastPumpTick = clock.TickCount();
  lastPumpClock = &clock;
}

bool ThreadQueue::IsHung() const {
  if (waitingForMessages.load()) return false;
  IClock& clock = CurrentClock();
  if (lastPumpClock.load() != &clock) return false;
  return static_cast<DWORD>(clock.TickCount() - lastPumpTick.load()) > kHungMs;
}

ThreadQueue::~ThreadQueue() {
  if (efd >= 0) ::close(efd);
}

void ThreadQueue::Wake() {
  std::uint64_t one = 1;
  ssize_t r = ::write(efd, &one, sizeof one);
  (void)r;
}

bool ThreadQueue::Wait(DWORD timeoutMs, int extraFd) {
  pollfd fds[2] = {{efd, POLLIN, 0}, {extraFd, POLLIN, 0}};
  int n = extraFd >= 0 ? 2 : 1;
  int t = timeoutMs == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(timeoutMs, 0x7FFFFFFF));
  // A thread waiting for its messages is not hung, however long it waits:
  // a message sent to it wakes it at once.
  waitingForMessages = true;
  int r = ::poll(fds, n, t);
  MarkPumped();
  waitingForMessages = false;
  std::uint64_t v;
  ssize_t rd = ::read(efd, &v, sizeof v);
  (void)rd;
  return r > 0 && n == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

namespace {

// Ends the thread's windows and fails what waits on it when the thread ends.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> q;
  ~QueueHolder() {
    if (!q || q->pid != getpid()) return;
    std::deque<std::shared_ptr<SentMessage>> pending;
    {
      std::lock_guard<std::mutex> g(q->m);
      q->alive = false;
      pending.swap(q->sent);
    }
    for (auto& sm : pending) {
      sm->state = kFailed;
      if (sm->waiter) sm->waiter->Wake();
    }
    ForgetThreadWindows(q);
    std::lock_guard<std::mutex> g(W().queuesLock);
    W().queues.erase(q->threadId);
  }
};
thread_local QueueHolder t_queue;

bool InRange(UINT msg, UINT min, UINT max) {
  if (min == 0 && max == 0) return true;
  if (max == 0) max = 0xFFFFFFFFu;
  return msg >= min && msg <= max;
}

bool MatchesWindow(HWND filter, DWORD target) {
  if (!filter) return true;
  if (filter == reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1))) return target == 0;
  if (HandleToValue(filter) == target) return true;
  std::lock_guard<std::recursive_mutex> g(W().lock);
  Window* f = Find(filter);
  Window* t = FindValue(target);
  return f && t && IsAncestor(f, t);
}

void Deliver(const std::shared_ptr<ThreadQueue>& q, const std::shared_ptr<SentMessage>& sm) {
  bool ok;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = FindValue(sm->hwnd);
    ok = w && !w->destroying && w->queue == q;
  }
  if (!ok) {
    sm->state = kFailed;
    if (sm->waiter) sm->waiter->Wake();
    return;
  }
  q->receiving.push_back(sm);
  LRESULT r = sm->remote && sm->msg == kRemoteWindowPosMessage
                  ? ApplyRemoteWindowPos(ValueToHandle(sm->hwnd), sm->wParam, sm->lParam)
                  : CallProc(ValueToHandle(sm->hwnd), sm->msg, sm->wParam, sm->lParam);
  q->receiving.pop_back();
  if (sm->state == kPending) {
    sm->result = r;
    sm->state = kDone;
    if (sm->waiter) sm->waiter->Wake();
  }
}

// The first paint of the thread's windows: parents before children, the
// bottom of the z-order before the top.
Window* FindPaint(Window* w, const std::shared_ptr<ThreadQueue>& q, HWND filter) {
  if (!(w->style & WS_VISIBLE)) return nullptr;
  if (w->hasUpdate && w->queue == q && MatchesWindow(filter, w->handle)) return w;
  for (auto it = w->children.rbegin(); it != w->children.rend(); ++it)
    if (Window* p = FindPaint(*it, q, filter)) return p;
  return nullptr;
}

bool FetchPaint(const std::shared_ptr<ThreadQueue>& q, MSG* out, HWND filter) {
  std::lock_guard<std::recursive_mutex> g(W().lock);
  std::vector<Window*> tops;
  for (auto& [h, w] : W().windows)
    if (!w->parent) tops.push_back(w.get());
  std::sort(tops.begin(), tops.end(), [](Window* a, Window* b) { return a->handle < b->handle; });
  for (Window* t : tops) {
    if (Window* p = FindPaint(t, q, filter)) {
      *out = MSG{ValueToHandle(p->handle), WM_PAINT, 0, 0, GetTickCount(), {0, 0}};
      return true;
    }
  }
  return false;
}

// The time until the next timer is due (INFINITE without timers).
DWORD NextTimerWait(const std::shared_ptr<ThreadQueue>& q) {
  std::lock_guard<std::mutex> g(q->m);
  if (q->timers.empty()) return INFINITE;
  DWORD now = GetTickCount();
  DWORD best = INFINITE;
  for (const Timer& t : q->timers) {
    auto left = static_cast<std::int32_t>(t.due - now);
    DWORD wait = left <= 0 ? 0 : static_cast<DWORD>(left);
    best = std::min(best, wait);
  }
  return best;
}

// The kinds of message waiting in the queue (QS_* bits).
DWORD QueueStatus(const std::shared_ptr<ThreadQueue>& q) {
  DWORD status = 0;
  {
    std::lock_guard<std::mutex> g(q->m);
    for (const auto& p : q->posted) {
      UINT m = p.m.message;
      if (m >= WM_KEYFIRST && m <= WM_KEYLAST) status |= QS_KEY;
      else if (m == WM_MOUSEMOVE) status |= QS_MOUSEMOVE;
      else if (m >= WM_MOUSEFIRST && m <= WM_MOUSELAST) status |= QS_MOUSEBUTTON;
      else status |= QS_POSTMESSAGE;
    }
    if (q->quit) status |= QS_POSTMESSAGE;
    DWORD now = GetTickCount();
    for (const Timer& t : q->timers)
      if (static_cast<std::int32_t>(now - t.due) >= 0) status |= QS_TIMER;
  }
  MSG m;
  if (FetchPaint(q, &m, nullptr)) status |= QS_PAINT;
  return status;
}

bool Fetch(const std::shared_ptr<ThreadQueue>& q, MSG* out, HWND filter, UINT min, UINT max, bool remove) {
  q->MarkPumped();
  ProcessSentMessages(q);
  {
    std::vector<ThreadQueue::Posted> snapshot;
    {
      std::lock_guard<std::mutex> g(q->m);
      snapshot.assign(q->posted.begin(), q->posted.end());
    }
    for (const auto& p : snapshot) {
      if (!InRange(p.m.message, min, max) || !MatchesWindow(filter, HandleToValue(p.m.hwnd))) continue;
      std::lock_guard<std::mutex> g(q->m);
      auto it = std::find_if(q->posted.begin(), q->posted.end(), [&](const auto& x) { return x.seq == p.seq; });
      if (it == q->posted.end()) continue;  // taken meanwhile
      *out = it->m;
      if (remove) q->posted.erase(it);
      q->last = *out;
      return true;
    }
    std::lock_guard<std::mutex> g(q->m);
    if (q->quit && InRange(WM_QUIT, min, max)) {
      *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(q->quitCode), 0, GetTickCount(), {0, 0}};
      if (remove) q->quit = false;
      return true;
    }
  }
  if (InRange(WM_PAINT, min, max) && FetchPaint(q, out, filter)) return true;
  if (InRange(WM_TIMER, min, max)) {
    std::vector<Timer> timers;
    {
      std::lock_guard<std::mutex> g(q->m);
      timers = q->timers;
    }
    DWORD now = GetTickCount();
    for (const Timer& c : timers) {
      if (static_cast<std::int32_t>(now - c.due) < 0 || !MatchesWindow(filter, c.hwnd)) continue;
      std::lock_guard<std::mutex> g(q->m);
      for (Timer& t : q->timers) {
        if (t.hwnd != c.hwnd || t.id != c.id || static_cast<std::int32_t>(now - t.due) < 0) continue;
        *out = MSG{ValueToHandle(t.hwnd), WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.proc), now, {0, 0}};
        if (remove) t.due = now + t.period;
        q->last = *out;
        return true;
      }
    }
  }
  return false;
}

bool ValidFilter(HWND filter) {
  if (!filter || filter == reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1))) return true;
  std::lock_guard<std::recursive_mutex> g(W().lock);
  return Find(filter) != nullptr;
}

}  // namespace

std::shared_ptr<ThreadQueue> CurrentQueue() {
  if (t_queue.q && t_queue.q->pid == getpid()) return t_queue.q;
  auto q = std::make_shared<ThreadQueue>();
  t_queue.q = q;
  std::lock_guard<std::mutex> g(W().queuesLock);
  W().queues[q->threadId] = q;
  return q;
}

std::shared_ptr<ThreadQueue> QueueOfThread(DWORD threadId) {
  std::lock_guard<std::mutex> g(W().queuesLock);
  auto it = W().queues.find(threadId);
  if (it == W().queues.end()) return nullptr;
  return it->second.lock();
}

void ProcessSentMessages(const std::shared_ptr<ThreadQueue>& q) {
  for (;;) {
    std::shared_ptr<SentMessage> sm;
    {
      std::lock_guard<std::mutex> g(q->m);
      if (q->sent.empty()) return;
      sm = q->sent.front();
      q->sent.pop_front();
    }
    Deliver(q, sm);
  }
}

bool QueueSent(const std::shared_ptr<SentMessage>& sm) {
  std::shared_ptr<ThreadQueue> target;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = FindValue(sm->hwnd);
    if (!w || w->destroying) return false;
    target = w->queue;
  }
  {
    std::lock_guard<std::mutex> g(target->m);
    if (!target->alive) return false;
    target->sent.push_back(sm);
  }
  target->Wake();
  return true;
}

bool PostToWindowLocal(Window* w, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto q = w->queue;
  {
    std::lock_guard<std::mutex> g(q->m);
    if (!q->alive) return false;
    q->PushPosted(MSG{ValueToHandle(w->handle), msg, wParam, lParam, GetTickCount(), {0, 0}});
  }
  q->Wake();
  return true;
}

void WakeQueueOfWindow(Window* w) {
  if (w && w->queue) w->queue->Wake();
}

void RemoveTimersOf(DWORD hwnd) {
  std::vector<std::shared_ptr<ThreadQueue>> queues;
  {
    std::lock_guard<std::mutex> g(W().queuesLock);
    for (auto& [id, wq] : W().queues)
      if (auto q = wq.lock()) queues.push_back(q);
  }
  for (auto& q : queues) {
    std::lock_guard<std::mutex> g(q->m);
    q->timers.erase(std::remove_if(q->timers.begin(), q->timers.end(), [&](const Timer& t) { return t.hwnd == hwnd; }),
                    q->timers.end());
    q->posted.erase(std::remove_if(q->posted.begin(), q->posted.end(),
                                   [&](const ThreadQueue::Posted& p) { return HandleToValue(p.m.hwnd) == hwnd; }),
                    q->posted.end());
  }
}

void FailPendingSends(DWORD hwnd) {
  std::vector<std::shared_ptr<ThreadQueue>> queues;
  {
    std::lock_guard<std::mutex> g(W().queuesLock);
    for (auto& [id, wq] : W().queues)
      if (auto q = wq.lock()) queues.push_back(q);
  }
  for (auto& q : queues) {
    std::vector<std::shared_ptr<SentMessage>> failed;
    {
      std::lock_guard<std::mutex> g(q->m);
      for (auto it = q->sent.begin(); it != q->sent.end();) {
        if ((*it)->hwnd == hwnd) {
          failed.push_back(*it);
          it = q->sent.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (auto& sm : failed) {
      sm->state = kFailed;
      if (sm->waiter) sm->waiter->Wake();
    }
  }
}

namespace {

// Waits for a message sent to another thread of this process.
int WaitSent(const std::shared_ptr<SentMessage>& sm, UINT flags, DWORD timeoutMs) {
  auto me = CurrentQueue();
  std::int64_t deadline = timeoutMs == INFINITE ? -1 : SteadyMs() + timeoutMs;
  for (;;) {
    if (sm->state != kPending) return sm->state;
    if (!(flags & SMTO_BLOCK)) ProcessSentMessages(me);
    if (sm->state != kPending) return sm->state;
    DWORD wait = INFINITE;
    if (deadline >= 0) {
      std::int64_t left = deadline - SteadyMs();
      if (left <= 0) return -1;
      wait = static_cast<DWORD>(left);
    }
    me->Wait(wait);
  }
}

// 1: answered, 0: failed (last error set).
int SendCore(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, DWORD timeoutMs, LRESULT* result,
             bool notify) {
  *result = 0;
  if (hwnd == HWND_BROADCAST) {
    for (const TableEntry& e : table::Snapshot()) {
      if (e.flags & kMessageOnly) continue;
      LRESULT ignored;
      SendCore(ValueToHandle(e.hwnd), msg, wParam, lParam, flags | SMTO_ABORTIFHUNG,
               notify ? 0 : std::min<DWORD>(timeoutMs, 5000), &ignored, notify);
    }
    return 1;
  }
  std::shared_ptr<ThreadQueue> target;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (w) {
      if (w->destroying && !w->queue) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
      }
      target = w->queue;
    }
  }
  if (target) {
    if (target == CurrentQueue()) {
      *result = CallProc(hwnd, msg, wParam, lParam);
      return 1;
    }
    if ((flags & SMTO_ABORTIFHUNG) && target->IsHung()) {
      SetLastError(ERROR_TIMEOUT);
      return 0;
    }
    auto sm = std::make_shared<SentMessage>();
    sm->hwnd = HandleToValue(hwnd);
    sm->msg = msg;
    sm->wParam = wParam;
    sm->lParam = lParam;
    if (!notify) sm->waiter = CurrentQueue();
    if (!QueueSent(sm)) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (notify) return 1;
    int st = WaitSent(sm, flags, timeoutMs);
    if (st == kDone) {
      *result = sm->result;
      return 1;
    }
    SetLastError(st < 0 ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  auto e = table::Get(HandleToValue(hwnd));
  if (!e || e->pid == getpid()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  int st = RemoteCall(*e, notify ? WireKind::Notify : WireKind::Send, msg, wParam, lParam, flags, timeoutMs, result);
  if (st == kWireOk) return 1;
  SetLastError(st < 0 || st == kWireHung ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

}  // namespace

}  // namespace plat::wm

namespace plat {
using namespace plat::wm;

BOOL GetMessageW(MSG* msg, HWND hwnd, UINT min, UINT max) {
  if (!msg || !ValidFilter(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  auto q = CurrentQueue();
  while (!Fetch(q, msg, hwnd, min, max, true)) q->Wait(NextTimerWait(q));
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL PeekMessageW(MSG* msg, HWND hwnd, UINT min, UINT max, UINT flags) {
  if (!msg || !ValidFilter(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return Fetch(CurrentQueue(), msg, hwnd, min, max, (flags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

BOOL WaitMessage() {
  auto q = CurrentQueue();
  MSG m;
  while (!Fetch(q, &m, nullptr, 0, 0, false)) q->Wait(NextTimerWait(q));
  return TRUE;
}

DWORD GetQueueStatus(UINT flags) {
  const std::shared_ptr<ThreadQueue> q = CurrentQueue();
  DWORD status = QueueStatus(q);
  {
    std::lock_guard<std::mutex> g(q->m);
    if (!q->sent.empty()) status |= QS_SENDMESSAGE;
  }
  status &= flags & 0xFFFF;
  return (status << 16) | status;
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD timeoutMs, DWORD wakeMask) {
  return MsgWaitForMultipleObjectsEx(count, handles, timeoutMs, wakeMask, waitAll ? MWMO_WAITALL : 0);
}

DWORD MsgWaitForMultipleObjectsEx(DWORD count, const HANDLE* handles, DWORD timeoutMs, DWORD wakeMask, DWORD flags) {
  if (count > MAXIMUM_WAIT_OBJECTS || (count && !handles) || (flags & MWMO_WAITALL)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  auto q = CurrentQueue();
  // On the platform clock, so that tests with a ManualClock decide when it passes.
  DWORD deadline = GetTickCount() + timeoutMs;
  for (;;) {
    if (count) {
      DWORD r = WaitForMultipleObjects(count, handles, FALSE, 0);
      if (r != WAIT_TIMEOUT) return r;
    }
    q->MarkPumped();
    ProcessSentMessages(q);
    if (QueueStatus(q) & wakeMask) return WAIT_OBJECT_0 + count;
    DWORD wait = NextTimerWait(q);
    if (count) wait = std::min<DWORD>(wait, 10);  // kernel objects are looked at again
    if (timeoutMs != INFINITE) {
      auto left = static_cast<std::int32_t>(deadline - GetTickCount());
      if (left <= 0) return WAIT_TIMEOUT;
      wait = std::min<DWORD>(wait, static_cast<DWORD>(left));
    }
    q->Wait(wait);
  }
}

BOOL GetMouseMovePoints(POINT*, UINT, UINT* retrieved) {
  if (retrieved) *retrieved = 0;
  return FALSE;
}

void WakeMessageQueues() {
  std::vector<std::shared_ptr<ThreadQueue>> queues;
  {
    std::lock_guard<std::mutex> g(W().queuesLock);
    for (auto& [id, wq] : W().queues)
      if (auto q = wq.lock()) queues.push_back(q);
  }
  for (auto& q : queues) q->Wake();
}

LRESULT DispatchMessageW(const MSG* msg) {
  if (!msg) return 0;
  if (msg->message == WM_TIMER && msg->lParam) {
    auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
    // Only a timer that still exists runs its callback.
    auto q = CurrentQueue();
    bool live = false;
    {
      std::lock_guard<std::mutex> g(q->m);
      for (const Timer& t : q->timers)
        if (t.hwnd == HandleToValue(msg->hwnd) && t.id == msg->wParam && t.proc == proc) live = true;
    }
    if (live) proc(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (!msg->hwnd) return 0;
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(msg->hwnd);
    if (!w || w->queue != CurrentQueue()) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
  }
  if (ScrollBarInput(msg)) return 0;
  return CallProc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!hwnd) return PostThreadMessageW(GetCurrentThreadId(), msg, wParam, lParam);
  if (hwnd == HWND_BROADCAST) {
    for (const TableEntry& e : table::Snapshot())
      if (!(e.flags & kMessageOnly)) PostMessageW(ValueToHandle(e.hwnd), msg, wParam, lParam);
    return TRUE;
  }
  {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    if (Window* w = Find(hwnd)) {
      if (w->destroying) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
      }
      return PostToWindowLocal(w, msg, wParam, lParam) ? TRUE : FALSE;
    }
  }
  auto e = table::Get(HandleToValue(hwnd));
  if (!e || e->pid == getpid()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  LRESULT ignored;
  if (RemoteCall(*e, WireKind::Post, msg, wParam, lParam, 0, 5000, &ignored) != kWireOk) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto q = QueueOfThread(threadId);
  if (!q) {
    SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> g(q->m);
    if (!q->alive) {
      SetLastError(ERROR_INVALID_THREAD_ID);
      return FALSE;
    }
    q->PushPosted(MSG{nullptr, msg, wParam, lParam, GetTickCount(), {0, 0}});
  }
  q->Wake();
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  auto q = CurrentQueue();
  std::lock_guard<std::mutex> g(q->m);
  q->quit = true;
  q->quitCode = exitCode;
}

LRESULT SendMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r;
  SendCore(hwnd, msg, wParam, lParam, SMTO_NORMAL, kRemoteSendTimeoutMs, &r, false);
  return r;
}

BOOL SendNotifyMessageW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  LRESULT r;
  return SendCore(hwnd, msg, wParam, lParam, SMTO_NORMAL, 5000, &r, true);
}

LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                            DWORD_PTR* result) {
  LRESULT r;
  DWORD t = (flags & SMTO_NOTIMEOUTIFNOTHUNG) ? INFINITE : timeoutMs;
  int ok = SendCore(hwnd, msg, wParam, lParam, flags, t, &r, false);
  if (result) *result = ok ? static_cast<DWORD_PTR>(r) : 0;
  return ok;
}

BOOL InSendMessage() {
  auto q = CurrentQueue();
  return q->receiving.empty() ? FALSE : TRUE;
}

BOOL ReplyMessage(LRESULT result) {
  auto q = CurrentQueue();
  if (q->receiving.empty()) return FALSE;
  auto& sm = q->receiving.back();
  if (sm->state != kPending) return FALSE;
  sm->result = result;
  sm->state = kDone;
  if (sm->waiter) sm->waiter->Wake();
  return TRUE;
}

DWORD GetMessagePos() {
  const MSG& m = CurrentQueue()->last;
  return static_cast<DWORD>(MAKELPARAM(static_cast<WORD>(m.pt.x), static_cast<WORD>(m.pt.y)));
}

LONG GetMessageTime() { return static_cast<LONG>(CurrentQueue()->last.time); }

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
  auto q = CurrentQueue();
  DWORD h = 0;
  if (hwnd) {
    std::lock_guard<std::recursive_mutex> g(W().lock);
    Window* w = Find(hwnd);
    if (!w || w->destroying) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    if (w->queue != q) {
      SetLastError(ERROR_ACCESS_DENIED);
      return 0;
    }
    h = w->handle;
  }
  UINT period = std::max<UINT>(elapseMs, 1);
  if (!h) {
    std::lock_guard<std::recursive_mutex> wg(W().lock);
    id = ++W().nextThreadTimer;
  }
  std::lock_guard<std::mutex> g(q->m);
  DWORD due = GetTickCount() + period;
  for (Timer& t : q->timers) {
    if (t.hwnd == h && t.id == id) {
      t.period = period;
      t.due = due;
      t.proc = proc;
      return h ? (id ? id : 1) : id;
    }
  }
  q->timers.push_back(Timer{h, id, period, due, proc});
  return h ? (id ? id : 1) : id;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
  auto q = CurrentQueue();
  DWORD h = HandleToValue(hwnd);
  std::lock_guard<std::mutex> g(q->m);
  auto it = std::find_if(q->timers.begin(), q->timers.end(), [&](const Timer& t) { return t.hwnd == h && t.id == id; });
  if (it == q->timers.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  q->timers.erase(it);
  // A WM_TIMER already taken by PeekMessage(PM_NOREMOVE) is not dispatched to a callback.
  return TRUE;
}

BOOL IsWaitingForMessagesForTesting(HWND hwnd) {
  std::shared_ptr<wm::ThreadQueue> q;
  {
    std::lock_guard<std::recursive_mutex> g(wm::W().lock);
    wm::Window* w = wm::Find(hwnd);
    if (w) q = w->queue;
  }
  return q && q->waitingForMessages.load() ? TRUE : FALSE;
}

}  // namespace plat
