// The device's network as programs of the device see it: the connection
// stand-in's mode, the cradle, the phone's roaming bit, the device's host name
// and its addresses, and the notice that the address list changed.
//
// All of it is device state kept in the registry (HKEY_LOCAL_MACHINE), so any
// process of the device sees what the device-state tool (hosts/) set:
//   "System\State\Connection" "Mode"  REG_SZ "free" (also when missing), "paid" or "none"
//   "System\State\Hardware"   "Cradled" DWORD, non-zero while in the cradle
//   "System\State\Phone"      "Status"  DWORD, bit 0x200 while roaming
// No address is looked up on the host's network: the device's host name
// resolves to stand-in addresses that follow the state above.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/base/Handle.h"
#include "platform/base/Types.h"

namespace plat {

enum class ConnectionMode { Free, Paid, None };

ConnectionMode GetConnectionMode();
bool SetConnectionMode(ConnectionMode mode);
// "free", "paid", "none"; false for another text.
bool ParseConnectionMode(const char* text, ConnectionMode* mode);
const char* ConnectionModeName(ConnectionMode mode);

bool IsCradled();
bool SetCradled(bool cradled);
bool SetPhoneRoaming(bool roaming);

// The stand-in addresses, as dotted IPv4 text.
inline constexpr const char* kLoopbackAddress = "127.0.0.1";
inline constexpr const char* kCradleAddress = "169.254.2.2";   // the desktop pass-through
inline constexpr const char* kFreeNetworkAddress = "192.168.1.20";
inline constexpr const char* kPaidNetworkAddress = "10.64.0.20";

// The device's host name ("OrvDevice"). 0 on success, -1 when it does not fit.
int gethostname(char* name, int length);
// IPv4 addresses (network byte order) of a name: the device's own name gives
// 127.0.0.1 alone in mode "none", else the cradle's address while cradled and
// the network's address of the mode; "localhost" gives 127.0.0.1. False for
// any other name.
bool GetHostAddresses(const char* name, std::vector<std::uint32_t>* addresses);
// Dotted text of an address in network byte order.
std::uint32_t ParseIPv4(const char* dotted);

// The address-list-change notice: a named manual-reset event of the device,
// set whenever the device state above changes the address list. A watcher
// opens it (creating it), waits on it and resets it before looking again.
inline constexpr const char16_t* kAddressListChangeEventName = u"plat/AddressListChange";
HANDLE OpenAddressListChangeEvent();
// Sets the event when some process holds it.
void NotifyAddressListChange();

}  // namespace plat
