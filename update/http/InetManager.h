// The process's data connection: requested from the connection manager when
// the first root HTTP session registers, watched on a thread of its own,
// released when it fails, drops or the last session leaves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "core/Synchronized.h"
#include "platform/base/Handle.h"
#include "platform/inet/ConnMgr.h"
#include "update/http/WinInet.h"

class IInetManagerListener {
 public:
  virtual ~IInetManagerListener() = default;
  virtual void OnConnectionStateChanged() = 0;
};

class CInetManager : public CSynchronized {
 public:
  enum State { STATE_NONE = 0, STATE_CONNECTING = 1, STATE_CONNECTED = 3 };
  // How long a connection request may stay unanswered.
  static constexpr plat::DWORD kDefaultConnectTimeoutMs = 60000;

  static CInetManager& GetInstance();

  CInetManager();
  ~CInetManager() override;

  int GetState();
  void Register(IInetManagerListener* listener, bool freeOnly);
  void Unregister(IInetManagerListener* listener);
  CWinInet& GetWinInet() { return winInet_; }

  bool IsFreeOnly();
  void SetConnectTimeout(plat::DWORD ms) { connectTimeoutMs_ = ms; }
  // Waits until the state is 0 or 3.
  bool WaitSettled(plat::DWORD timeoutMs);

 private:
  using EstablishProc = plat::HRESULT (*)(const plat::CONNMGR_CONNECTIONINFO*, plat::HANDLE*);
  using StatusProc = plat::HRESULT (*)(plat::HANDLE, plat::DWORD*);
  using ReleaseProc = plat::HRESULT (*)(plat::HANDLE, plat::LONG);

  static plat::DWORD ThreadMain(void* self);
  void Run();
  void Connect();
  void CheckStatus();
  void SetState(int state);
  void Release();
  struct Registration {
    IInetManagerListener* listener;
    std::uint64_t serial;  // tells a new listener from an old one at the same address
  };
  // After the state became state: tells each listener of the snapshot still
  // registered, then releases the connection or settles as SetState does.
  void NotifyListeners(int state, const std::vector<Registration>& snapshot);
  bool IsRegistered(const Registration& r);

  std::vector<Registration> listeners_;
  std::uint64_t nextSerial_ = 1;
  int state_ = STATE_NONE;
  plat::HANDLE thread_ = nullptr;
  plat::HANDLE connectEvent_ = nullptr;
  plat::HANDLE disconnectEvent_ = nullptr;
  plat::HANDLE quitEvent_ = nullptr;
  plat::HANDLE settledEvent_ = nullptr;
  plat::HANDLE connection_ = nullptr;
  plat::DWORD freeOnly_ = 1;
  // The free-only flag the connection was asked for with.
  plat::DWORD connectedFreeOnly_ = 1;
  // The pending disconnect is for a lost connection (not only because the
  // last listener left, which a new listener cancels).
  bool lost_ = false;
  plat::DWORD connectStartTick_ = 0;
  std::atomic<plat::DWORD> connectTimeoutMs_{kDefaultConnectTimeoutMs};
  plat::HMODULE cellcore_ = nullptr;
  EstablishProc establish_ = nullptr;
  StatusProc status_ = nullptr;
  ReleaseProc release_ = nullptr;

  // The listener being called now (outside the manager lock), so that
  // Unregister from another thread waits for that call to end.
  std::mutex notifyLock_;
  std::condition_variable notifyDone_;
  IInetManagerListener* notifying_ = nullptr;
  plat::DWORD notifyingThread_ = 0;

  CWinInet winInet_;
};
