// Menus of the window manager: a table of this process's menus, each a list
// of items; handles are numbers into the table, never pointers.
#include "platform/windows/Menus.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/base/Text.h"
#include "platform/resources/Resources.h"

namespace plat {
namespace {

struct Item {
  UINT type = MFT_STRING;
  UINT state = 0;
  UINT id = 0;
  std::uintptr_t sub = 0;  // handle value of the sub-menu, 0: none
  HBITMAP checked = nullptr;
  HBITMAP unchecked = nullptr;
  ULONG_PTR data = 0;
  std::u16string text;        // string items
  WCHAR* typeValue = nullptr;  // bitmap and owner-drawn items
};

struct Menu {
  bool popup = false;
  std::vector<Item> items;
};

struct Table {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, Menu> menus;
  // Handles are never used twice, so a stale handle cannot name a newer menu.
  std::uintptr_t next = 0x10000;
  pid_t pid = 0;
};

// The menus of this process (a forked child starts with none: the parent's
// lock may have been held by a thread that does not exist there).
Table& T() {
  static std::mutex guard;
  static Table* table = nullptr;
  std::lock_guard<std::mutex> g(guard);
  if (!table || table->pid != getpid()) {
    table = new Table;  // a parent's table is left behind in a forked child
    table->pid = getpid();
  }
  return *table;
}

std::uintptr_t ValueOf(HMENU menu) { return reinterpret_cast<std::uintptr_t>(menu); }
HMENU HandleOf(std::uintptr_t value) { return reinterpret_cast<HMENU>(value); }

constexpr UINT kTypeFlags = MF_BITMAP | MF_OWNERDRAW | MF_SEPARATOR | MF_MENUBREAK | MF_MENUBARBREAK;
constexpr UINT kStateFlags = MF_GRAYED | MF_DISABLED | MF_CHECKED;
constexpr UINT kNotFound = 0xFFFFFFFFu;

bool IsStringType(UINT type) { return (type & (MFT_BITMAP | MFT_SEPARATOR | MFT_OWNERDRAW)) == 0; }

// With the table locked.
Menu* FindLocked(Table& t, std::uintptr_t value) {
  auto it = t.menus.find(value);
  return it == t.menus.end() ? nullptr : &it->second;
}

Menu* FindOrFail(Table& t, HMENU menu) {
  Menu* m = FindLocked(t, ValueOf(menu));
  if (!m) SetLastError(ERROR_INVALID_MENU_HANDLE);
  return m;
}

// True when target is menu or reachable through its sub-menus.
bool Reaches(Table& t, std::uintptr_t menu, std::uintptr_t target, std::unordered_set<std::uintptr_t>& seen) {
  if (menu == target) return true;
  if (!seen.insert(menu).second) return false;
  Menu* m = FindLocked(t, menu);
  if (!m) return false;
  for (const Item& i : m->items)
    if (i.sub && Reaches(t, i.sub, target, seen)) return true;
  return false;
}

// Whether sub may become a sub-menu of an item of owner.
bool CanAdopt(Table& t, std::uintptr_t owner, std::uintptr_t sub) {
  if (!FindLocked(t, sub)) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return false;
  }
  std::unordered_set<std::uintptr_t> seen;
  if (Reaches(t, sub, owner, seen)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

struct Where {
  Menu* menu = nullptr;
  std::uintptr_t value = 0;
  std::size_t index = 0;
};

bool FindByCommand(Table& t, std::uintptr_t value, UINT id, Where* out, std::unordered_set<std::uintptr_t>& seen) {
  if (!seen.insert(value).second) return false;
  Menu* m = FindLocked(t, value);
  if (!m) return false;
  for (std::size_t i = 0; i < m->items.size(); ++i) {
    const Item& item = m->items[i];
    if (item.sub) {
      if (FindByCommand(t, item.sub, id, out, seen)) return true;
    } else if (item.id == id) {
      *out = Where{m, value, i};
      return true;
    }
  }
  return false;
}

// The item named by a position or a command id.
bool Locate(Table& t, HMENU menu, UINT item, bool byPosition, Where* out) {
  Menu* m = FindOrFail(t, menu);
  if (!m) return false;
  if (byPosition) {
    if (item >= m->items.size()) {
      SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
      return false;
    }
    *out = Where{m, ValueOf(menu), item};
    return true;
  }
  std::unordered_set<std::uintptr_t> seen;
  if (FindByCommand(t, ValueOf(menu), item, out, seen)) return true;
  SetLastError(ERROR_MENU_ITEM_NOT_FOUND);
  return false;
}

// Where a new item goes: before the named item, or at the end for a position
// at or past the count.
bool LocateInsert(Table& t, HMENU menu, UINT item, bool byPosition, Where* out) {
  Menu* m = FindOrFail(t, menu);
  if (!m) return false;
  if (byPosition) {
    *out = Where{m, ValueOf(menu), std::min<std::size_t>(item, m->items.size())};
    return true;
  }
  return Locate(t, menu, item, false, out);
}

// Collects the menu and its sub-menus, each once.
void CollectTree(Table& t, std::uintptr_t value, std::vector<std::uintptr_t>& out,
                 std::unordered_set<std::uintptr_t>& seen) {
  if (!seen.insert(value).second) return;
  Menu* m = FindLocked(t, value);
  if (!m) return;
  out.push_back(value);
  for (const Item& i : m->items)
    if (i.sub) CollectTree(t, i.sub, out, seen);
}

void DestroyTreeLocked(Table& t, std::uintptr_t value) {
  std::vector<std::uintptr_t> all;
  std::unordered_set<std::uintptr_t> seen;
  CollectTree(t, value, all, seen);
  for (std::uintptr_t v : all) t.menus.erase(v);
}

HMENU NewMenu(bool popup) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  std::uintptr_t value = ++t.next;
  t.menus[value].popup = popup;
  return HandleOf(value);
}

// An item from the flags of AppendMenuW and its relatives.
bool ItemFromFlags(Table& t, std::uintptr_t owner, UINT flags, UINT_PTR idOrPopup, const WCHAR* text, Item* item) {
  item->type = flags & kTypeFlags;
  if (flags & MF_HELP) item->type |= MFT_RIGHTJUSTIFY;
  item->state = flags & kStateFlags;
  if (flags & MF_POPUP) {
    if (!CanAdopt(t, owner, idOrPopup)) return false;
    item->sub = idOrPopup;
    item->id = static_cast<UINT>(idOrPopup);
  } else {
    item->id = static_cast<UINT>(idOrPopup);
  }
  if (item->type & MFT_SEPARATOR) {
    item->type = MFT_SEPARATOR | (item->type & (MFT_MENUBREAK | MFT_MENUBARBREAK));
  } else if (IsStringType(item->type)) {
    item->text = text ? text : u"";
  } else {
    item->typeValue = const_cast<WCHAR*>(text);
  }
  return true;
}

// Copies an item's text into a MENUITEMINFOW.
void CopyText(const Item& item, MENUITEMINFOW* info) {
  const std::u16string empty;
  const std::u16string& text = IsStringType(item.type) ? item.text : empty;
  if (!info->dwTypeData) {
    info->cch = static_cast<UINT>(text.size());
    return;
  }
  if (info->cch == 0) {
    info->cch = static_cast<UINT>(text.size());
    return;
  }
  std::size_t n = std::min<std::size_t>(text.size(), info->cch - 1);
  std::memcpy(info->dwTypeData, text.data(), n * sizeof(WCHAR));
  info->dwTypeData[n] = 0;
  info->cch = static_cast<UINT>(n);
}

// Applies the fields of info named by its mask to item (the sub-menu is
// checked first, so a refused one changes nothing).
bool ApplyInfo(Table& t, std::uintptr_t owner, const MENUITEMINFOW* info, Item* item) {
  if (!info || info->cbSize != sizeof(MENUITEMINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const UINT mask = info->fMask;
  if ((mask & MIIM_SUBMENU) && info->hSubMenu && ValueOf(info->hSubMenu) != item->sub &&
      !CanAdopt(t, owner, ValueOf(info->hSubMenu)))
    return false;
  if (mask & MIIM_STATE) item->state = info->fState;
  if (mask & MIIM_ID) item->id = info->wID;
  if (mask & MIIM_SUBMENU) item->sub = ValueOf(info->hSubMenu);
  if (mask & MIIM_CHECKMARKS) {
    item->checked = info->hbmpChecked;
    item->unchecked = info->hbmpUnchecked;
  }
  if (mask & MIIM_DATA) item->data = info->dwItemData;
  if (mask & (MIIM_TYPE | MIIM_FTYPE)) item->type = info->fType;
  if (mask & MIIM_TYPE) {
    if (IsStringType(item->type)) {
      item->text = info->dwTypeData ? info->dwTypeData : u"";
      item->typeValue = nullptr;
    } else {
      item->text.clear();
      item->typeValue = (item->type & MFT_SEPARATOR) ? nullptr : info->dwTypeData;
    }
  } else if (mask & MIIM_STRING) {
    item->text = info->dwTypeData ? info->dwTypeData : u"";
  }
  return true;
}

UINT ChangeState(HMENU menu, UINT item, UINT flags, UINT bits) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (!Locate(t, menu, item, (flags & MF_BYPOSITION) != 0, &w)) return kNotFound;
  Item& it = w.menu->items[w.index];
  UINT old = it.state & bits;
  it.state = (it.state & ~bits) | (flags & bits);
  return old;
}

BOOL Remove(HMENU menu, UINT position, UINT flags, bool destroySub) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (!Locate(t, menu, position, (flags & MF_BYPOSITION) != 0, &w)) return FALSE;
  std::uintptr_t sub = w.menu->items[w.index].sub;
  w.menu->items.erase(w.menu->items.begin() + static_cast<std::ptrdiff_t>(w.index));
  if (destroySub && sub) DestroyTreeLocked(t, sub);
  return TRUE;
}

// MENU templates.
class TemplateReader {
 public:
  TemplateReader(const BYTE* p, std::size_t size) : p_(p), end_(size) {}
  bool Word(WORD* v) {
    if (end_ - pos_ < 2) return false;
    std::memcpy(v, p_ + pos_, 2);
    pos_ += 2;
    return true;
  }
  bool Text(std::u16string* s) {
    s->clear();
    for (WORD c;;) {
      if (!Word(&c)) return false;
      if (c == 0) return true;
      s->push_back(static_cast<char16_t>(c));
    }
  }
  bool Skip(std::size_t n) {
    if (end_ - pos_ < n) return false;
    pos_ += n;
    return true;
  }

 private:
  const BYTE* p_;
  std::size_t end_;
  std::size_t pos_ = 0;
};

constexpr int kMaxTemplateDepth = 32;

bool ReadLevel(TemplateReader& r, HMENU menu, int depth) {
  if (depth > kMaxTemplateDepth) return false;
  for (;;) {
    WORD flags = 0, id = 0;
    std::u16string text;
    if (!r.Word(&flags)) return false;
    if (!(flags & MF_POPUP) && !r.Word(&id)) return false;
    if (!r.Text(&text)) return false;
    const UINT itemFlags = flags & ~static_cast<UINT>(MF_END);
    if (flags & MF_POPUP) {
      HMENU sub = CreatePopupMenu();
      if (!ReadLevel(r, sub, depth + 1) ||
          !AppendMenuW(menu, itemFlags, reinterpret_cast<UINT_PTR>(sub), text.c_str())) {
        DestroyMenu(sub);
        return false;
      }
    } else if (itemFlags == 0 && id == 0 && text.empty()) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(menu, itemFlags, id, text.c_str());
    }
    if (flags & MF_END) return true;
  }
}

HMENU LoadTemplate(const void* data, std::size_t size) {
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  TemplateReader r(static_cast<const BYTE*>(data), size);
  WORD version = 0, offset = 0;
  // Only the standard template (version 0) is understood.
  if (!r.Word(&version) || !r.Word(&offset) || version != 0 || !r.Skip(offset)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HMENU menu = CreateMenu();
  if (!ReadLevel(r, menu, 0)) {
    DestroyMenu(menu);
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return menu;
}

}  // namespace

HMENU CreateMenu() { return NewMenu(false); }
HMENU CreatePopupMenu() { return NewMenu(true); }

BOOL DestroyMenu(HMENU menu) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  if (!FindOrFail(t, menu)) return FALSE;
  DestroyTreeLocked(t, ValueOf(menu));
  return TRUE;
}

BOOL IsMenu(HMENU menu) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  return FindLocked(t, ValueOf(menu)) ? TRUE : FALSE;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrPopup, const WCHAR* text) {
  return InsertMenuW(menu, kNotFound, flags | MF_BYPOSITION, idOrPopup, text);
}

BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, const WCHAR* text) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (!LocateInsert(t, menu, position, (flags & MF_BYPOSITION) != 0, &w)) return FALSE;
  Item item;
  if (!ItemFromFlags(t, w.value, flags, idOrPopup, text, &item)) return FALSE;
  w.menu->items.insert(w.menu->items.begin() + static_cast<std::ptrdiff_t>(w.index), std::move(item));
  return TRUE;
}

BOOL ModifyMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrPopup, const WCHAR* text) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (!Locate(t, menu, position, (flags & MF_BYPOSITION) != 0, &w)) return FALSE;
  Item item;
  std::uintptr_t old = w.menu->items[w.index].sub;
  // The item's own sub-menu may be given again.
  if ((flags & MF_POPUP) && idOrPopup == old) {
    if (!FindLocked(t, old)) {
      SetLastError(ERROR_INVALID_MENU_HANDLE);
      return FALSE;
    }
    ItemFromFlags(t, w.value, flags & ~MF_POPUP, idOrPopup, text, &item);
    item.sub = old;
  } else if (!ItemFromFlags(t, w.value, flags, idOrPopup, text, &item)) {
    return FALSE;
  }
  w.menu->items[w.index] = std::move(item);
  if (old && old != w.menu->items[w.index].sub) DestroyTreeLocked(t, old);
  return TRUE;
}

BOOL RemoveMenu(HMENU menu, UINT position, UINT flags) { return Remove(menu, position, flags, false); }
BOOL DeleteMenu(HMENU menu, UINT position, UINT flags) { return Remove(menu, position, flags, true); }

BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (!LocateInsert(t, menu, item, byPosition != FALSE, &w)) return FALSE;
  Item fresh;
  if (!ApplyInfo(t, w.value, info, &fresh)) return FALSE;
  w.menu->items.insert(w.menu->items.begin() + static_cast<std::ptrdiff_t>(w.index), std::move(fresh));
  return TRUE;
}

BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, MENUITEMINFOW* info) {
  if (!info || info->cbSize != sizeof(MENUITEMINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (!Locate(t, menu, item, byPosition != FALSE, &w)) return FALSE;
  const Item& it = w.menu->items[w.index];
  const UINT mask = info->fMask;
  if (mask & MIIM_STATE) info->fState = it.state;
  if (mask & MIIM_ID) info->wID = it.id;
  if (mask & MIIM_SUBMENU) info->hSubMenu = FindLocked(t, it.sub) ? HandleOf(it.sub) : nullptr;
  if (mask & MIIM_CHECKMARKS) {
    info->hbmpChecked = it.checked;
    info->hbmpUnchecked = it.unchecked;
  }
  if (mask & MIIM_DATA) info->dwItemData = it.data;
  if (mask & (MIIM_TYPE | MIIM_FTYPE)) info->fType = it.type;
  if ((mask & MIIM_TYPE) && !IsStringType(it.type)) {
    info->dwTypeData = it.typeValue;
    info->cch = 0;
  } else if (mask & (MIIM_TYPE | MIIM_STRING)) {
    CopyText(it, info);
  }
  return TRUE;
}

BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, const MENUITEMINFOW* info) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (!Locate(t, menu, item, byPosition != FALSE, &w)) return FALSE;
  Item changed = w.menu->items[w.index];
  if (!ApplyInfo(t, w.value, info, &changed)) return FALSE;
  w.menu->items[w.index] = std::move(changed);
  return TRUE;
}

int GetMenuItemCount(HMENU menu) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Menu* m = FindOrFail(t, menu);
  return m ? static_cast<int>(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (position < 0 || !Locate(t, menu, static_cast<UINT>(position), true, &w)) return kNotFound;
  const Item& it = w.menu->items[w.index];
  return it.sub ? kNotFound : it.id;
}

HMENU GetSubMenu(HMENU menu, int position) {
  Table& t = T();
  std::lock_guard<std::mutex> g(t.lock);
  Where w;
  if (position < 0 || !Locate(t, menu, static_cast<UINT>(position), true, &w)) return nullptr;
  std::uintptr_t sub = w.menu->items[w.index].sub;
  return sub && FindLocked(t, sub) ? HandleOf(sub) : nullptr;
}

UINT EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  return ChangeState(menu, item, flags, MF_GRAYED | MF_DISABLED);
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) { return ChangeState(menu, item, flags, MF_CHECKED); }

HMENU LoadMenuIndirectW(const void* menuTemplate) {
  // No size is given: the template is trusted to end where its last level does.
  return LoadTemplate(menuTemplate, static_cast<std::size_t>(-1) / 2);
}

HMENU LoadMenuW(HINSTANCE instance, const WCHAR* name) {
  HRSRC res = FindResourceW(instance, name, RT_MENU);
  if (!res) return nullptr;
  const void* data = LockResource(LoadResource(instance, res));
  if (!data) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return LoadTemplate(data, SizeofResource(instance, res));
}

}  // namespace plat
