#include "service/CradleWatcher.h"

#include <vector>

#include "platform/base/SysInfo.h"
#include "platform/base/Thread.h"
#include "platform/inet/DeviceNetwork.h"
#include "platform/ipc/Ipc.h"
#include "service/AddressWatch.h"

namespace {

using FindFirstRegChangeFn = plat::HANDLE (*)(plat::HKEY, plat::BOOL, plat::DWORD);
using FindNextRegChangeFn = plat::BOOL (*)(plat::HANDLE);
using FindCloseRegChangeFn = plat::BOOL (*)(plat::HANDLE);

constexpr const char16_t* kHardwareKey = u"System\\State\\Hardware";
constexpr std::size_t kMaxAddresses = 10;

bool NewerSystem() {
  plat::OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  return plat::GetVersionExW(&v) && v.dwMajorVersion >= 5;
}

}  // namespace

plat::DWORD GetConnectionState() {
  char name[256] = {};
  std::vector<std::uint32_t> addresses;
  if (plat::gethostname(name, sizeof name) != 0 || !plat::GetHostAddresses(name, &addresses))
    return kStateNoNetwork;
  if (addresses.size() > kMaxAddresses) addresses.resize(kMaxAddresses);
  const std::uint32_t loopback = plat::ParseIPv4(plat::kLoopbackAddress);
  bool onlyLoopback = true;
  for (std::uint32_t a : addresses) onlyLoopback = onlyLoopback && a == loopback;
  if (addresses.empty() || onlyLoopback) return kStateNoNetwork;
  if (!NewerSystem()) {
    const std::uint32_t desktop = plat::ParseIPv4("192.168.55.101");
    for (std::uint32_t a : addresses)
      if (a == desktop) return kStateCradled;
    return kStateOtherNetwork;
  }
  if (plat::IsCradled()) return kStateCradled;
  if (addresses.size() == 1 && addresses[0] == plat::ParseIPv4("169.254.2.1")) return kStateNoNetwork;
  return kStateOtherNetwork;
}

// What the thread uses; it holds a share, so a thread that outlives the
// watcher's bound still finds everything in place.
struct CradleWatcher::Shared {
  ~Shared() {
    hostAddresses.reset();  // its thread sets addressEvent: it ends first
    if (notification && closeChange) closeChange(notification);
    if (key) plat::RegCloseKey(key);
    if (coredll) plat::FreeLibrary(coredll);
    if (addressEvent) plat::CloseHandle(addressEvent);
    if (stop) plat::CloseHandle(stop);
    if (change) plat::CloseHandle(change);
  }
  plat::HMODULE coredll = nullptr;
  FindFirstRegChangeFn firstChange = nullptr;
  FindNextRegChangeFn nextChange = nullptr;
  FindCloseRegChangeFn closeChange = nullptr;
  plat::HKEY key = nullptr;
  plat::HANDLE notification = nullptr;  // registry change notification (newer systems)
  plat::HANDLE addressEvent = nullptr;  // address-list-change notice (older systems)
  std::unique_ptr<CAddressWatch> hostAddresses;  // the host's own address changes set addressEvent
  plat::HANDLE stop = nullptr;          // auto-reset
  plat::HANDLE change = nullptr;        // auto-reset
  std::atomic<plat::DWORD> state{0};
  std::atomic<plat::DWORD> previous{0};
  std::atomic<unsigned> looks{0};
};

CradleWatcher::CradleWatcher() : shared_(std::make_shared<Shared>()) {
  Shared& s = *shared_;
  if (NewerSystem()) {
    s.coredll = plat::LoadLibraryW(u"coredll.dll");
    if (s.coredll) {
      s.firstChange = reinterpret_cast<FindFirstRegChangeFn>(plat::GetProcAddress(s.coredll, "CeFindFirstRegChange"));
      s.nextChange = reinterpret_cast<FindNextRegChangeFn>(plat::GetProcAddress(s.coredll, "CeFindNextRegChange"));
      s.closeChange = reinterpret_cast<FindCloseRegChangeFn>(plat::GetProcAddress(s.coredll, "CeFindCloseRegChange"));
    }
    if (s.firstChange && s.nextChange && s.closeChange &&
        plat::RegCreateKeyExW(plat::HKEY_LOCAL_MACHINE, kHardwareKey, 0, nullptr, 0, plat::KEY_READ | plat::KEY_NOTIFY,
                              nullptr, &s.key, nullptr) == plat::ERROR_SUCCESS) {
      plat::HANDLE n = s.firstChange(s.key, plat::FALSE, plat::REG_NOTIFY_CHANGE_LAST_SET);
      if (n != plat::INVALID_HANDLE_VALUE) s.notification = n;
    }
  } else {
    // The device's address-list-change notice, and the request for it: the
    // host's own address list, whose changes set the same event.
    s.addressEvent = plat::OpenAddressListChangeEvent();
    if (s.addressEvent) {
      s.hostAddresses = std::make_unique<CAddressWatch>();
      plat::HANDLE event = s.addressEvent;
      if (!s.hostAddresses->Start([event] { plat::SetEvent(event); })) s.hostAddresses.reset();
    }
  }
  if (!s.notification && !s.addressEvent) return;  // no source: nothing watches
  s.stop = plat::CreateLocalEvent(false, false);
  s.change = plat::CreateLocalEvent(false, false);
  if (!s.stop || !s.change) return;
  auto* param = new std::shared_ptr<Shared>(shared_);
  thread_ = plat::CreateThread(nullptr, 0, &CradleWatcher::ThreadMain, param, 0, nullptr);
  if (!thread_) delete param;
}

CradleWatcher::~CradleWatcher() {
  if (!thread_) return;
  plat::SetEvent(shared_->stop);
  plat::WaitForSingleObject(thread_, kStopBoundMs);
  plat::CloseHandle(thread_);
}

plat::DWORD CradleWatcher::ThreadMain(void* param) {
  std::shared_ptr<Shared> shared = std::move(*static_cast<std::shared_ptr<Shared>*>(param));
  delete static_cast<std::shared_ptr<Shared>*>(param);
  Shared& s = *shared;
  for (;;) {
    const plat::DWORD now = GetConnectionState();
    ++s.looks;
    if (now != s.state.load()) {
      s.previous = s.state.load();
      s.state = now;
      plat::SetEvent(s.change);
    }
    plat::HANDLE waits[2] = {s.stop, s.notification ? s.notification : s.addressEvent};
    const plat::DWORD r = plat::WaitForMultipleObjects(2, waits, plat::FALSE, plat::INFINITE);
    if (r != plat::WAIT_OBJECT_0 + 1) return 0;  // stopped, or the wait failed
    if (s.notification) {
      if (!s.nextChange(s.notification)) return 0;
    } else {
      plat::ResetEvent(s.addressEvent);
    }
  }
}

plat::DWORD CradleWatcher::GetState() {
  if (!thread_) return GetConnectionState();
  const plat::DWORD state = shared_->state.load();
  return state ? state : GetConnectionState();
}

plat::HANDLE CradleWatcher::ChangeEvent() const { return thread_ ? shared_->change : nullptr; }

bool CradleWatcher::Running() const { return thread_ != nullptr; }

unsigned CradleWatcher::Looks() const { return shared_->looks.load(); }

bool CradleWatcher::WatchesHostAddresses() const { return shared_->hostAddresses != nullptr; }
