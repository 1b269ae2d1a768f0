// The connection manager ("cellcore.dll", entry points by ordinal: 120
// establish, 121 status, 122 release). Connections come from a provider: the
// default one reports the host's network; tests install a scripted one. A
// connection handle is an auto-reset event, signalled at each status change.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/Guid.h"
#include "platform/base/Handle.h"
#include "platform/base/Types.h"

namespace plat {

struct CONNMGR_CONNECTIONINFO {
  DWORD cbSize;
  DWORD dwParams;
  DWORD dwFlags;
  DWORD dwPriority;
  BOOL bExclusive;
  BOOL bDisabled;
  GUID guidDestNet;
  void* hWnd;
  UINT uMsg;
  LPARAM lParam;
  ULONGLONG ulMaxCost;
  ULONGLONG ulMinRcvBw;
  ULONGLONG ulMaxConnLatency;
};

constexpr DWORD CONNMGR_PARAM_GUIDDESTNET = 0x1;
constexpr DWORD CONNMGR_PARAM_MAXCOST = 0x2;
constexpr DWORD CONNMGR_FLAG_PROXY_HTTP = 0x1;
constexpr DWORD CONNMGR_FLAG_PROXY_WAP = 0x2;
constexpr DWORD CONNMGR_FLAG_PROXY_SOCKS4 = 0x4;
constexpr DWORD CONNMGR_FLAG_PROXY_SOCKS5 = 0x8;
constexpr DWORD CONNMGR_PRIORITY_USERINTERACTIVE = 0x8000;
// The Internet destination network.
constexpr GUID IID_DestNetInternet = {0x436EF144, 0xB4FB, 0x4863, {0xA0, 0x41, 0x8F, 0x90, 0x5A, 0x62, 0xC5, 0x72}};

constexpr DWORD CONNMGR_STATUS_UNKNOWN = 0x00;
constexpr DWORD CONNMGR_STATUS_CONNECTED = 0x10;
constexpr DWORD CONNMGR_STATUS_DISCONNECTED = 0x20;
constexpr DWORD CONNMGR_STATUS_CONNECTIONFAILED = 0x21;
constexpr DWORD CONNMGR_STATUS_CONNECTIONCANCELED = 0x22;
constexpr DWORD CONNMGR_STATUS_CONNECTIONDISABLED = 0x23;
constexpr DWORD CONNMGR_STATUS_NOPATHTODESTINATION = 0x24;
constexpr DWORD CONNMGR_STATUS_WAITINGCONNECTION = 0x40;

constexpr HRESULT S_OK_CONN = 0;
constexpr HRESULT E_FAIL_CONN = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG_CONN = static_cast<HRESULT>(0x80070057u);

// The functions behind the ordinals.
HRESULT ConnMgrEstablishConnection(const CONNMGR_CONNECTIONINFO* info, HANDLE* connection);
HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status);
HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache);

// A source of connections. Establish returns false to refuse the request;
// otherwise the provider reports the connection's status through
// SetConnectionStatus (at once or later, from any thread).
class IConnectionProvider {
 public:
  virtual ~IConnectionProvider() = default;
  virtual bool Establish(std::uint64_t id, const CONNMGR_CONNECTIONINFO& info) = 0;
  virtual void Released(std::uint64_t id) {}
};

// Sets a live connection's status and signals its handle; unknown ids are ignored.
void SetConnectionStatus(std::uint64_t id, DWORD status);
// Installs the provider (null: the default provider again).
void SetConnectionProvider(std::shared_ptr<IConnectionProvider> provider);
// Live connections (not yet released).
std::size_t LiveConnectionCount();

// The default provider: a free connection, connected when the host has a
// default route (/proc/net/route) or when loopback use is allowed; else no path.
class HostNetworkProvider : public IConnectionProvider {
 public:
  explicit HostNetworkProvider(bool allowLoopbackOnly = true) : allowLoopbackOnly_(allowLoopbackOnly) {}
  bool Establish(std::uint64_t id, const CONNMGR_CONNECTIONINFO& info) override;
  static bool HostHasDefaultRoute();

 private:
  bool allowLoopbackOnly_;
};

// A provider for tests: each request is answered as scripted.
class ScriptedConnectionProvider : public IConnectionProvider {
 public:
  struct Script {
    bool refuse = false;        // establish fails
    bool paid = false;          // the only connection costs money (refused with max cost 0)
    bool roaming = false;       // writes the phone's roaming bit
    bool manual = false;        // the status stays "waiting" until the test sets it
    DWORD finalStatus = CONNMGR_STATUS_CONNECTED;
  };
  explicit ScriptedConnectionProvider(Script script) : script_(script) {}
  bool Establish(std::uint64_t id, const CONNMGR_CONNECTIONINFO& info) override;
  void Released(std::uint64_t id) override;

  struct RequestRecord {
    std::uint64_t id;
    CONNMGR_CONNECTIONINFO info;
  };
  std::vector<RequestRecord> Requests() const;
  std::size_t ReleaseCount() const;
  // The latest connection's id (0 when none).
  std::uint64_t LastId() const;
  void SetScript(Script script);

 private:
  mutable std::mutex lock_;
  Script script_;
  std::vector<RequestRecord> requests_;
  std::size_t releases_ = 0;
};

}  // namespace plat
