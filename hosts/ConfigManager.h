// The device's configuration manager (the shell's ordinal 2021): takes a
// provisioning document and carries it out. It knows one request: removing
// the installed product,
//
//   <wap-provisioningdoc><characteristic type="UnInstall">
//     <characteristic type="Orv Brevant"><parm name="uninstall" value="1"/>
//   </characteristic></characteristic></wap-provisioningdoc>
//
// which first has the hosts unload the product's libraries (a host that does
// not answer in time, or keeps the library loaded, removes nothing) and closes
// the main program and waits for it to end (hosts/HostRequests.h), then
// removes what the install manifest lists (a main program still running then
// removes nothing: it would write its settings again)
// (platform/files/InstallManifest.h: registry values and keys, the files the
// device owns, the mounts, the folders when empty, the manifest itself), then
// the product's registry keys and the Today item's entry. A mount onto the
// device's own folder that holds the user's data (the articles of "Content")
// stays, and with it that data. Success answers S_OK and the document itself;
// anything else (another document, a removal that left something behind)
// answers an error and a document naming it. Linking this file makes it the
// device's configuration manager.
#pragma once

#include <string>

#include "platform/base/Types.h"

namespace plat::hosts {

inline constexpr HRESULT kConfigBadDocument = static_cast<HRESULT>(0x80070057u);  // E_INVALIDARG
inline constexpr HRESULT HResultFromWin32(DWORD error) {
  return error == 0 ? 0 : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}
// The package named is not installed (ERROR_UNKNOWN_PRODUCT).
inline constexpr HRESULT kConfigNotInstalled = HResultFromWin32(1605);

// The main program did not end within the bound after it was asked to close:
// nothing was removed (ERROR_BUSY).
inline constexpr HRESULT kConfigProductRunning = HResultFromWin32(170);

// The install manifest is there but cannot be read whole: nothing was
// removed (ERROR_FILE_CORRUPT).
inline constexpr HRESULT kConfigManifestDamaged = HResultFromWin32(1392);

// A host did not answer the request to unload the product within the bound
// (or its window went away before it answered): nothing was removed. The
// Today screen host's (ERROR_TIMEOUT) and the service host's
// (ERROR_SERVICE_REQUEST_TIMEOUT).
inline constexpr HRESULT kConfigTodayHostNoAnswer = HResultFromWin32(1460);
inline constexpr HRESULT kConfigServiceHostNoAnswer = HResultFromWin32(1053);

// A host answered that it keeps the product's library loaded: nothing was
// removed. The Today screen host's (ERROR_SHARING_VIOLATION) and the service
// host's, whose service thread outlived its stop (ERROR_DEVICE_IN_USE).
inline constexpr HRESULT kConfigTodayHostKeptLibrary = HResultFromWin32(32);
inline constexpr HRESULT kConfigServiceHostKeptLibrary = HResultFromWin32(2404);

// How long the removal waits for the main program to end after asking it to
// close (20000 ms); tests shorten it.
void SetProgramEndBound(DWORD ms);

// How long the removal waits for each host to answer its request to unload
// the product (30000 ms); tests shorten it.
void SetHostAnswerBound(DWORD ms);

// What DMProcessConfigXML does; the answer document in *answer.
HRESULT ProcessConfiguration(const std::u16string& document, DWORD flags, std::u16string* answer);

// The installed product's name in the documents.
inline constexpr const char16_t* kInstalledPackage = u"Orv Brevant";

}  // namespace plat::hosts
