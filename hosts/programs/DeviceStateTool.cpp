// orv-devicestate: sets and shows the device's state for people and tests.
//
//   orv-devicestate [--device <folder>] <command> ...
//     cradle on|off           puts the device into its cradle or takes it out
//     activity on|off         the user is using the device / has stopped
//                             (the named event "PowerManager/UserActivity_Active")
//     roaming on|off          the phone's roaming bit
//     connection free|paid|none
//                             the connection stand-in's mode; "none" leaves
//                             the device's host name with 127.0.0.1 only
//     address-change          raises the address-list-change notice
//     show                    prints the state
// Several commands may follow one another. Exit code 0, or 2 for a bad command.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/base/Device.h"
#include "platform/inet/DeviceNetwork.h"
#include "platform/ipc/Ipc.h"
#include "platform/registry/Registry.h"

namespace {

constexpr const char16_t* kUserActivityEvent = u"PowerManager/UserActivity_Active";

bool OnOff(const std::string& v, bool* on) {
  if (v == "on") *on = true;
  else if (v == "off") *on = false;
  else return false;
  return true;
}

std::string Dotted(std::uint32_t a) {
  const auto* b = reinterpret_cast<const unsigned char*>(&a);
  char buf[20];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return buf;
}

bool Roaming() {
  plat::HKEY key = nullptr;
  if (plat::RegOpenKeyExW(plat::HKEY_LOCAL_MACHINE, u"System\\State\\Phone", 0, plat::KEY_READ, &key) !=
      plat::ERROR_SUCCESS)
    return false;
  plat::DWORD status = 0, type = 0, size = sizeof status;
  plat::RegQueryValueExW(key, u"Status", nullptr, &type, reinterpret_cast<plat::BYTE*>(&status), &size);
  plat::RegCloseKey(key);
  return (status & 0x200u) != 0;
}

void Show() {
  char host[64] = {};
  plat::gethostname(host, sizeof host);
  std::vector<std::uint32_t> addresses;
  plat::GetHostAddresses(host, &addresses);
  std::string list;
  for (auto a : addresses) list += (list.empty() ? "" : " ") + Dotted(a);
  std::string activity = "no listener";
  if (plat::HANDLE e = plat::OpenEventW(plat::SYNCHRONIZE, plat::FALSE, kUserActivityEvent)) {
    activity = plat::WaitForSingleObject(e, 0) == plat::WAIT_OBJECT_0 ? "on" : "off";
    plat::CloseHandle(e);
  }
  std::printf("cradled %s\nconnection %s\nroaming %s\nactivity %s\nhost %s\naddresses %s\n",
              plat::IsCradled() ? "on" : "off", plat::ConnectionModeName(plat::GetConnectionMode()),
              Roaming() ? "on" : "off", activity.c_str(), host, list.c_str());
}

int Usage(const std::string& why) {
  std::fprintf(stderr, "orv-devicestate: %s\n", why.c_str());
  std::fprintf(stderr,
               "usage: orv-devicestate [--device <folder>] cradle on|off | activity on|off | roaming on|off |\n"
               "       connection free|paid|none | address-change | show ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::size_t i = 0;
  if (args.size() >= 2 && args[0] == "--device") {
    plat::SetDeviceRoot(args[1]);
    i = 2;
  }
  if (i >= args.size()) return Usage("no command");
  while (i < args.size()) {
    const std::string cmd = args[i++];
    if (cmd == "show") {
      Show();
      continue;
    }
    if (cmd == "address-change") {
      plat::NotifyAddressListChange();
      continue;
    }
    if (i >= args.size()) return Usage(cmd + " needs a value");
    const std::string value = args[i++];
    bool on = false;
    if (cmd == "connection") {
      plat::ConnectionMode mode;
      if (!plat::ParseConnectionMode(value.c_str(), &mode)) return Usage("connection is free, paid or none");
      if (!plat::SetConnectionMode(mode)) return Usage("the registry cannot be written");
    } else if (!OnOff(value, &on)) {
      return Usage(cmd + " is on or off");
    } else if (cmd == "cradle") {
      if (!plat::SetCradled(on)) return Usage("the registry cannot be written");
    } else if (cmd == "roaming") {
      if (!plat::SetPhoneRoaming(on)) return Usage("the registry cannot be written");
    } else if (cmd == "activity") {
      // The event lives while a listener (the service) holds it.
      plat::HANDLE e = plat::OpenEventW(plat::EVENT_MODIFY_STATE, plat::FALSE, kUserActivityEvent);
      if (!e) {
        std::fprintf(stderr, "orv-devicestate: nobody listens for user activity; nothing to set\n");
        continue;
      }
      on ? plat::SetEvent(e) : plat::ResetEvent(e);
      plat::CloseHandle(e);
    } else {
      return Usage("unknown command " + cmd);
    }
  }
  return 0;
}
