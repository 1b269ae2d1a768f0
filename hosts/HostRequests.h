// What the configuration manager asks of the device's hosts before it removes
// the installed product, as a device's uninstall does: each host lets go of
// the product's library it loaded (the Today item, the service), so nothing of
// the product runs on and writes its settings again after they are removed.
#pragma once

#include "platform/base/Types.h"

namespace plat::hosts {

// Registered message sent to each host's window; the host unloads the
// product's library (the service's NEW_Deinit, the Today item's window) and
// answers with one of the values below. It loads none again.
inline constexpr const char16_t* kUnloadProductMessage = u"plat.hosts.UnloadProduct";
// The host held none of the product's libraries.
inline constexpr LRESULT kUnloadHeldNone = 0;
// The host held the library and it is gone from the host now.
inline constexpr LRESULT kUnloadDone = 1;
// The host stopped the library but keeps it loaded (a thread of it still
// runs); it stays loaded for the rest of the host's life, and every later
// request answers this too.
inline constexpr LRESULT kUnloadKept = 2;

// What a service library's "<prefix>_Deinit" answers when a thread of its
// own still runs in it after its stop: the host keeps the library loaded
// (it is never freed while that thread may run in it). 0 is a clean stop.
inline constexpr BOOL kServiceThreadStillRuns = 1;

// The Today screen host's window that takes the request (the shell's desktop).
inline constexpr const char16_t* kTodayHostWindowClass = u"DesktopExplorerWindow";
// The service host's hidden window that takes the request.
inline constexpr const char16_t* kServiceHostWindowClass = u"plat.hosts.ServiceHost";

}  // namespace plat::hosts
