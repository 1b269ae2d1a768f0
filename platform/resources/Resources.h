// Resources of a module: string tables, icons, bitmaps, menus, dialog
// templates and raw data, compiled from ".rc" text by the resource compiler
// (tools/) into a resource image linked into each deliverable.
//
// A module's resources are found by its HINSTANCE: null (or the program's own
// module) means the resources linked into the program; a loaded module finds
// the image linked into its own shared library; BindModuleResources ties an
// image to any handle (built-in modules, tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/Module.h"
#include "platform/base/Types.h"
#include "platform/gdi/Gdi.h"

namespace plat {

// Integer resource names and types travel as small "pointers".
inline const WCHAR* MAKEINTRESOURCEW(std::uintptr_t id) {
  return reinterpret_cast<const WCHAR*>(static_cast<std::uintptr_t>(static_cast<WORD>(id)));
}
inline bool IS_INTRESOURCE(const WCHAR* name) { return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0; }

inline const WCHAR* const RT_CURSOR = MAKEINTRESOURCEW(1);
inline const WCHAR* const RT_BITMAP = MAKEINTRESOURCEW(2);
inline const WCHAR* const RT_ICON = MAKEINTRESOURCEW(3);
inline const WCHAR* const RT_MENU = MAKEINTRESOURCEW(4);
inline const WCHAR* const RT_DIALOG = MAKEINTRESOURCEW(5);
inline const WCHAR* const RT_STRING = MAKEINTRESOURCEW(6);
inline const WCHAR* const RT_RCDATA = MAKEINTRESOURCEW(10);
inline const WCHAR* const RT_GROUP_ICON = MAKEINTRESOURCEW(14);

constexpr DWORD ERROR_RESOURCE_DATA_NOT_FOUND = 1812;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;

struct ResourceEntry;
using HRSRC = const ResourceEntry*;
using HGLOBAL = const void*;

// Finds a resource by name (text compared ignoring case, or MAKEINTRESOURCEW
// id) and type. Null with ERROR_RESOURCE_NAME_NOT_FOUND when missing.
HRSRC FindResourceW(HINSTANCE module, const WCHAR* name, const WCHAR* type);
// The resource's bytes stay valid for the life of the process.
HGLOBAL LoadResource(HINSTANCE module, HRSRC resource);
const void* LockResource(HGLOBAL data);
DWORD SizeofResource(HINSTANCE module, HRSRC resource);

// Copies string `id` into buf (at most cch - 1 characters and a null) and
// returns its length; 0 when there is no such string. cch 0: *buf receives a
// pointer to the read-only text (not null-terminated) and the result is its
// length.
int LoadStringW(HINSTANCE module, UINT id, WCHAR* buf, int cch);

constexpr UINT IMAGE_BITMAP = 0;
constexpr UINT IMAGE_ICON = 1;
constexpr UINT IMAGE_CURSOR = 2;
constexpr UINT LR_DEFAULTCOLOR = 0x0000;
constexpr UINT LR_MONOCHROME = 0x0001;
constexpr UINT LR_LOADFROMFILE = 0x0010;
constexpr UINT LR_DEFAULTSIZE = 0x0040;
constexpr UINT LR_CREATEDIBSECTION = 0x2000;
constexpr UINT LR_SHARED = 0x8000;

// Icons come from ICON resources (".ico" data): the image of exactly cx x cy,
// else the nearest larger one scaled down, else the largest one scaled up; cx
// or cy 0 takes the size of the first image (LR_DEFAULTSIZE: 32). Bitmaps come
// from BITMAP resources as DIB sections. LR_LOADFROMFILE reads a device path.
void* LoadImageW(HINSTANCE module, const WCHAR* name, UINT type, int cx, int cy, UINT flags);
HICON LoadIconW(HINSTANCE module, const WCHAR* name);
HBITMAP LoadBitmapW(HINSTANCE module, const WCHAR* name);

// Resource images. The compiler emits one per .rc file; its bytes register
// themselves with RegisterResourceImage when the program or library starts.
struct ResourceImageInfo {
  const unsigned char* data;
  std::size_t size;
};
// Registers an image that lives in the module containing `data` (static
// storage). Returns false for malformed bytes.
bool RegisterResourceImage(const char16_t* moduleName, const unsigned char* data, std::size_t size);
// Ties an image (kept by the caller, or owned when `owned` is given) to a
// module handle; null bytes undo the binding.
bool BindModuleResources(HINSTANCE module, const unsigned char* data, std::size_t size);
bool BindModuleResources(HINSTANCE module, std::vector<unsigned char> owned);

}  // namespace plat
