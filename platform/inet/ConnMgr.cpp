// The connection manager stand-in: live connections with their status and
// waitable handles, answered by the installed provider.
#include "platform/inet/ConnMgr.h"

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/inet/DeviceNetwork.h"
#include "platform/registry/Registry.h"

namespace plat {

namespace {

struct Connection {
  std::uint64_t id;
  DWORD status;
  HANDLE event;  // auto-reset; the caller's handle is a second reference to it
};

std::mutex g_lock;
std::map<std::uint64_t, Connection> g_connections;
std::uint64_t g_nextId = 1;
std::shared_ptr<IConnectionProvider> g_provider;

std::shared_ptr<IConnectionProvider> Provider() {
  std::lock_guard<std::mutex> g(g_lock);
  if (!g_provider) g_provider = std::make_shared<HostNetworkProvider>();
  return g_provider;
}

Connection* FindByHandle(HANDLE h) {
  for (auto& [id, c] : g_connections) {
    if (c.event == h) return &c;
  }
  return nullptr;
}

}  // namespace

HRESULT ConnMgrEstablishConnection(const CONNMGR_CONNECTIONINFO* info, HANDLE* connection) {
  if (!info || !connection || info->cbSize < sizeof(CONNMGR_CONNECTIONINFO) - 16) return E_INVALIDARG_CONN;
  *connection = nullptr;
  std::shared_ptr<IConnectionProvider> provider = Provider();
  std::uint64_t id;
  HANDLE event = CreateLocalEvent(false, false);
  if (!event) return E_FAIL_CONN;
  {
    std::lock_guard<std::mutex> g(g_lock);
    id = g_nextId++;
    g_connections[id] = Connection{id, CONNMGR_STATUS_WAITINGCONNECTION, event};
  }
  if (!provider->Establish(id, *info)) {
    std::lock_guard<std::mutex> g(g_lock);
    g_connections.erase(id);
    CloseHandle(event);
    return E_FAIL_CONN;
  }
  *connection = DuplicateLocalHandle(event);
  return S_OK_CONN;
}

HRESULT ConnMgrConnectionStatus(HANDLE connection, DWORD* status) {
  if (!status) return E_INVALIDARG_CONN;
  std::lock_guard<std::mutex> g(g_lock);
  Connection* c = FindByHandle(connection);
  if (!c) return E_INVALIDARG_CONN;
  *status = c->status;
  return S_OK_CONN;
}

HRESULT ConnMgrReleaseConnection(HANDLE connection, LONG cache) {
  std::uint64_t id = 0;
  {
    std::lock_guard<std::mutex> g(g_lock);
    Connection* c = FindByHandle(connection);
    if (!c) return E_INVALIDARG_CONN;
    id = c->id;
    CloseHandle(c->event);
    g_connections.erase(id);
  }
  CloseHandle(connection);
  Provider()->Released(id);
  return S_OK_CONN;
}

void SetConnectionStatus(std::uint64_t id, DWORD status) {
  std::lock_guard<std::mutex> g(g_lock);
  auto it = g_connections.find(id);
  if (it == g_connections.end()) return;
  it->second.status = status;
  SetEvent(it->second.event);
}

void SetConnectionProvider(std::shared_ptr<IConnectionProvider> provider) {
  std::lock_guard<std::mutex> g(g_lock);
  g_provider = std::move(provider);
}

std::size_t LiveConnectionCount() {
  std::lock_guard<std::mutex> g(g_lock);
  return g_connections.size();
}

bool HostNetworkProvider::HostHasDefaultRoute() {
  std::ifstream in("/proc/net/route");
  std::string line;
  std::getline(in, line);  // column titles
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refcnt, use, metric, mask;
    if (!(fields >> iface >> destination >> gateway >> flags >> refcnt >> use >> metric >> mask)) continue;
    unsigned long f = std::stoul(flags, nullptr, 16);
    if (destination == "00000000" && mask == "00000000" && (f & 0x1)) return true;  // RTF_UP
  }
  return false;
}

bool HostNetworkProvider::Establish(std::uint64_t id, const CONNMGR_CONNECTIONINFO& info) {
  // The device's mode decides: "none" has no path; "paid" serves only a
  // request that accepts a cost; "free" (the host's connection) serves any.
  const ConnectionMode mode = GetConnectionMode();
  const bool costAllowed = mode != ConnectionMode::Paid || !(info.dwParams & CONNMGR_PARAM_MAXCOST) || info.ulMaxCost > 0;
  bool up = mode != ConnectionMode::None && costAllowed && (allowLoopbackOnly_ || HostHasDefaultRoute());
  SetConnectionStatus(id, up ? CONNMGR_STATUS_CONNECTED : CONNMGR_STATUS_NOPATHTODESTINATION);
  return true;
}

bool ScriptedConnectionProvider::Establish(std::uint64_t id, const CONNMGR_CONNECTIONINFO& info) {
  Script script;
  {
    std::lock_guard<std::mutex> g(lock_);
    requests_.push_back({id, info});
    script = script_;
  }
  SetPhoneRoaming(script.roaming);
  if (script.refuse) return false;
  bool costAllowed = !script.paid || !(info.dwParams & CONNMGR_PARAM_MAXCOST) || info.ulMaxCost > 0;
  if (!costAllowed) {
    SetConnectionStatus(id, CONNMGR_STATUS_NOPATHTODESTINATION);
  } else if (!script.manual) {
    SetConnectionStatus(id, script.finalStatus);
  }
  return true;
}

void ScriptedConnectionProvider::Released(std::uint64_t id) {
  std::lock_guard<std::mutex> g(lock_);
  ++releases_;
}

std::vector<ScriptedConnectionProvider::RequestRecord> ScriptedConnectionProvider::Requests() const {
  std::lock_guard<std::mutex> g(lock_);
  return requests_;
}

std::size_t ScriptedConnectionProvider::ReleaseCount() const {
  std::lock_guard<std::mutex> g(lock_);
  return releases_;
}

std::uint64_t ScriptedConnectionProvider::LastId() const {
  std::lock_guard<std::mutex> g(lock_);
  return requests_.empty() ? 0 : requests_.back().id;
}

void ScriptedConnectionProvider::SetScript(Script script) {
  std::lock_guard<std::mutex> g(lock_);
  script_ = script;
}

}  // namespace plat
