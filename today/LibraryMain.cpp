// The shared library's load and unload: the item window class is registered
// when the host loads the library (a stale registration of an earlier load
// first removed) and removed when it unloads it, after the views, the data
// thread and the starter's thread have stopped.
#include "today/MainProgramStarter.h"
#include "today/TodayItem.h"

namespace {

struct LibraryLifetime {
  LibraryLifetime() {
    UnregisterTodayItemClass();
    RegisterTodayItemClass();
  }
  // The holder and the starter, made after this object, are gone by now:
  // their destructors stopped the data thread and the starter's thread.
  ~LibraryLifetime() { UnregisterTodayItemClass(); }
};

LibraryLifetime g_library;

}  // namespace
