#include "update/http/InetManager.h"

#include <algorithm>

#include "platform/base/Module.h"
#include "platform/base/Thread.h"
#include "platform/base/Time.h"

using namespace plat;

CInetManager& CInetManager::GetInstance() {
  static CInetManager instance;
  return instance;
}

CInetManager::CInetManager() {
  RegisterInternetModules();
  cellcore_ = LoadLibraryW(u"cellcore.dll");
  if (cellcore_) {
    establish_ = reinterpret_cast<EstablishProc>(GetProcAddress(cellcore_, reinterpret_cast<const char*>(120)));
    status_ = reinterpret_cast<StatusProc>(GetProcAddress(cellcore_, reinterpret_cast<const char*>(121)));
    release_ = reinterpret_cast<ReleaseProc>(GetProcAddress(cellcore_, reinterpret_cast<const char*>(122)));
  }
  connectEvent_ = CreateLocalEvent(false, false);
  disconnectEvent_ = CreateLocalEvent(false, false);
  quitEvent_ = CreateLocalEvent(false, false);
  settledEvent_ = CreateLocalEvent(true, true);
  thread_ = CreateThread(nullptr, 0, &CInetManager::ThreadMain, this, 0, nullptr);
}

CInetManager::~CInetManager() {
  SetEvent(quitEvent_);
  if (thread_) {
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
  }
  CloseHandle(connectEvent_);
  CloseHandle(disconnectEvent_);
  CloseHandle(quitEvent_);
  CloseHandle(settledEvent_);
  {
    CSyncLock hold(this, u"CInetManager::~CInetManager");
    Release();
  }
  winInet_.Unload();
  if (cellcore_) FreeLibrary(cellcore_);
}

int CInetManager::GetState() {
  CSyncLock hold(this, u"CInetManager::GetState");
  return state_;
}

bool CInetManager::IsFreeOnly() {
  CSyncLock hold(this, u"CInetManager::IsFreeOnly");
  return freeOnly_ != 0;
}

bool CInetManager::WaitSettled(DWORD timeoutMs) { return WaitForSingleObject(settledEvent_, timeoutMs) == WAIT_OBJECT_0; }

void CInetManager::Register(IInetManagerListener* listener, bool freeOnly) {
  CSyncLock hold(this, u"CInetManager::Register");
  if (!freeOnly) freeOnly_ = 0;
  if (freeOnly && listeners_.empty() && state_ != STATE_NONE && connectedFreeOnly_ == 0) {
    // The connection was asked for at a cost this listener refuses, and its
    // release is pending (its last listener left): it is released now, and
    // a free one asked for as for a first listener. Nobody is left to hear
    // the change.
    Release();
    state_ = STATE_NONE;
    lost_ = false;
  }
  listeners_.push_back({listener, nextSerial_++});
  if (state_ == STATE_NONE) SetEvent(connectEvent_);
}

void CInetManager::Unregister(IInetManagerListener* listener) {
  {
    CSyncLock hold(this, u"CInetManager::Unregister");
    auto it = std::find_if(listeners_.begin(), listeners_.end(),
                           [listener](const Registration& r) { return r.listener == listener; });
    if (it != listeners_.end()) listeners_.erase(it);
    if (state_ != STATE_NONE && listeners_.empty()) {
      freeOnly_ = 1;
      SetEvent(disconnectEvent_);
    }
  }
  // A call into this listener running on the connection thread ends first.
  std::unique_lock<std::mutex> g(notifyLock_);
  notifyDone_.wait(g, [&] { return notifying_ != listener || notifyingThread_ == GetCurrentThreadId(); });
}

bool CInetManager::IsRegistered(const Registration& r) {
  CSyncLock hold(this, u"CInetManager::IsRegistered");
  return std::any_of(listeners_.begin(), listeners_.end(), [&r](const Registration& other) {
    return other.listener == r.listener && other.serial == r.serial;
  });
}

DWORD CInetManager::ThreadMain(void* self) {
  static_cast<CInetManager*>(self)->Run();
  return 0;
}

void CInetManager::Run() {
  for (;;) {
    HANDLE handles[4] = {quitEvent_, connectEvent_, disconnectEvent_, nullptr};
    DWORD count = 3;
    DWORD timeout = INFINITE;
    {
      CSyncLock hold(this, u"CInetManager::Run");
      if (connection_) handles[count++] = connection_;
      if (state_ == STATE_CONNECTING) {
        DWORD elapsed = GetTickCount() - connectStartTick_;
        DWORD limit = connectTimeoutMs_;
        timeout = elapsed >= limit ? 0 : limit - elapsed;
      }
    }
    DWORD r = WaitForMultipleObjects(count, handles, FALSE, timeout);
    if (r == WAIT_OBJECT_0) break;
    if (r == WAIT_OBJECT_0 + 1) {
      Connect();
    } else if (r == WAIT_OBJECT_0 + 2) {
      // A release asked for when the last listener left is dropped when a
      // listener came meanwhile (it found the connection up and uses it),
      // unless the connection costs what the listeners now refuse.
      // The check and the release are one step under the lock: a listener
      // that comes after it finds no connection and asks for one.
      std::vector<Registration> released;
      bool changed = false;
      {
        CSyncLock hold(this, u"CInetManager::Run");
        const bool keep =
            !lost_ && !listeners_.empty() && state_ != STATE_NONE && (freeOnly_ == 0 || connectedFreeOnly_ != 0);
        lost_ = false;
        if (!keep && state_ != STATE_NONE) {
          state_ = STATE_NONE;
          released = listeners_;
          changed = true;
        }
      }
      if (changed) NotifyListeners(STATE_NONE, released);
    } else if (r == WAIT_OBJECT_0 + 3) {
      CheckStatus();
    } else if (r == WAIT_TIMEOUT) {
      // An unanswered request ends, so waiting sessions are not left hanging.
      SetState(STATE_NONE);
    } else {
      Sleep(10);
    }
  }
  SetState(STATE_NONE);
}

void CInetManager::Connect() {
  bool refused = false;
  {
    CSyncLock hold(this, u"CInetManager::Connect");
    if (listeners_.empty()) return;  // everyone left before the request was made
    Release();
    CONNMGR_CONNECTIONINFO info{};
    info.cbSize = sizeof info;
    info.dwParams = CONNMGR_PARAM_GUIDDESTNET | CONNMGR_PARAM_MAXCOST;
    info.dwFlags = CONNMGR_FLAG_PROXY_HTTP | CONNMGR_FLAG_PROXY_WAP | CONNMGR_FLAG_PROXY_SOCKS4 |
                   CONNMGR_FLAG_PROXY_SOCKS5;
    info.dwPriority = CONNMGR_PRIORITY_USERINTERACTIVE;
    info.guidDestNet = IID_DestNetInternet;
    info.ulMaxCost = freeOnly_ ? 0 : 10000;
    connectedFreeOnly_ = freeOnly_;
    HANDLE h = nullptr;
    if (!establish_ || establish_(&info, &h) != S_OK_CONN) h = nullptr;
    connection_ = h;
    refused = h == nullptr;
    connectStartTick_ = GetTickCount();
  }
  SetState(STATE_CONNECTING);
  if (refused) SetState(STATE_NONE);  // a refusal is final: nothing will answer
}

void CInetManager::CheckStatus() {
  int state;
  DWORD status = CONNMGR_STATUS_UNKNOWN;
  {
    CSyncLock hold(this, u"CInetManager::CheckStatus");
    if (!connection_ || !status_ || status_(connection_, &status) != S_OK_CONN) return;
    state = state_;
  }
  if (state != STATE_CONNECTED && status == CONNMGR_STATUS_CONNECTED) {
    SetState(STATE_CONNECTED);
  } else if (state == STATE_CONNECTED && status != CONNMGR_STATUS_CONNECTED) {
    {
      CSyncLock hold(this, u"CInetManager::CheckStatus");
      lost_ = true;
    }
    SetEvent(disconnectEvent_);
  } else if (state == STATE_CONNECTING &&
             (status == CONNMGR_STATUS_CONNECTIONFAILED || status == CONNMGR_STATUS_CONNECTIONCANCELED ||
              status == CONNMGR_STATUS_CONNECTIONDISABLED || status == CONNMGR_STATUS_NOPATHTODESTINATION)) {
    SetState(STATE_NONE);
  }
}

void CInetManager::SetState(int state) {
  std::vector<Registration> snapshot;
  {
    CSyncLock hold(this, u"CInetManager::SetState");
    if (state_ == state) return;
    state_ = state;
    if (state == STATE_CONNECTED) winInet_.OpenInternet();
    snapshot = listeners_;
  }
  NotifyListeners(state, snapshot);
}

void CInetManager::NotifyListeners(int state, const std::vector<Registration>& snapshot) {
  // Listeners are called without the manager lock, one after the other; one
  // that has left meanwhile is skipped.
  for (const Registration& r : snapshot) {
    IInetManagerListener* listener = r.listener;
    {
      std::lock_guard<std::mutex> g(notifyLock_);
      if (!IsRegistered(r)) continue;  // left meanwhile (or a new listener at its address)
      notifying_ = listener;
      notifyingThread_ = GetCurrentThreadId();
    }
    listener->OnConnectionStateChanged();
    {
      std::lock_guard<std::mutex> g(notifyLock_);
      notifying_ = nullptr;
      notifyingThread_ = 0;
    }
    notifyDone_.notify_all();
  }
  {
    CSyncLock hold(this, u"CInetManager::SetState");
    // Released after the sessions have cancelled their jobs, so no blocked
    // read holds the HTTP layer's lock meanwhile.
    if (state == STATE_NONE && state_ == STATE_NONE) Release();
  }
  if (state == STATE_NONE || state == STATE_CONNECTED) {
    SetEvent(settledEvent_);
  } else {
    ResetEvent(settledEvent_);
  }
}

void CInetManager::Release() {
  if (!connection_) return;
  winInet_.CloseAll();
  if (release_) release_(connection_, 1);
  connection_ = nullptr;
}
