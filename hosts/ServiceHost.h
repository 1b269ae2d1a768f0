// The service host's side of a service library: the stream-interface entry
// points it looks up by name, with the library's prefix ("NEW_").
#pragma once

#include <string>

#include "platform/base/Module.h"
#include "platform/base/Types.h"

namespace plat::hosts {

struct ServiceEntryPoints {
  DWORD (*init)(DWORD context) = nullptr;
  BOOL (*deinit)(DWORD device) = nullptr;
  DWORD (*open)(DWORD device, DWORD access, DWORD share) = nullptr;
  BOOL (*close)(DWORD open) = nullptr;
  DWORD (*read)(DWORD open, void* buffer, DWORD count) = nullptr;
  DWORD (*write)(DWORD open, const void* buffer, DWORD count) = nullptr;
  DWORD (*seek)(DWORD open, long amount, DWORD type) = nullptr;
  BOOL (*ioControl)(DWORD open, DWORD code, BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
                    DWORD* actualOut) = nullptr;
};

// Binds the eight entry points "<prefix>_Init" ... "<prefix>_IOControl";
// false (and *missing names the first absent one) unless all are there.
bool BindServiceEntryPoints(HMODULE module, const std::string& prefix, ServiceEntryPoints* out,
                            std::string* missing);

}  // namespace plat::hosts
