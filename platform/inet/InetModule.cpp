// "wininet.dll" and "cellcore.dll" as modules built into the program.
#include <cstring>
#include <mutex>

#include "platform/base/Module.h"
#include "platform/inet/ConnMgr.h"
#include "platform/inet/Inet.h"

namespace plat {

namespace {

template <class F>
FARPROC Proc(F f) {
  return reinterpret_cast<FARPROC>(f);
}

FARPROC ResolveWinInet(const char* name) {
  struct Entry {
    const char* name;
    FARPROC proc;
  };
  static const Entry kEntries[] = {
      {"InternetOpenW", Proc(&InternetOpenW)},
      {"InternetCloseHandle", Proc(&InternetCloseHandle)},
      {"InternetReadFile", Proc(&InternetReadFile)},
      {"InternetWriteFile", Proc(&InternetWriteFile)},
      {"HttpQueryInfoW", Proc(&HttpQueryInfoW)},
      {"HttpSendRequestW", Proc(&HttpSendRequestW)},
      {"HttpSendRequestExW", Proc(&HttpSendRequestExW)},
      {"HttpOpenRequestW", Proc(&HttpOpenRequestW)},
      {"InternetConnectW", Proc(&InternetConnectW)},
      {"HttpEndRequestW", Proc(&HttpEndRequestW)},
      {"HttpAddRequestHeadersW", Proc(&HttpAddRequestHeadersW)},
      {"InternetCrackUrlW", Proc(&InternetCrackUrlW)},
      {"InternetOpenUrlW", Proc(&InternetOpenUrlW)},
      {"InternetSetOptionW", Proc(&InternetSetOptionW)},
      {"InternetErrorDlg", Proc(&InternetErrorDlg)},
      {"InternetQueryOptionW", Proc(&InternetQueryOptionW)},
      {"InternetSetCookieW", Proc(&InternetSetCookieW)},
      {"InternetCombineUrlW", Proc(&InternetCombineUrlW)},
      {"InternetCreateUrlW", Proc(&InternetCreateUrlW)},
      {"InternetCanonicalizeUrlW", Proc(&InternetCanonicalizeUrlW)},
      {"InternetSetStatusCallbackW", Proc(&InternetSetStatusCallbackW)},
  };
  for (const Entry& e : kEntries) {
    if (std::strcmp(e.name, name) == 0) return e.proc;
  }
  return nullptr;
}

FARPROC ResolveCellCore(const char* name) {
  if (std::strcmp(name, "#120") == 0) return Proc(&ConnMgrEstablishConnection);
  if (std::strcmp(name, "#121") == 0) return Proc(&ConnMgrConnectionStatus);
  if (std::strcmp(name, "#122") == 0) return Proc(&ConnMgrReleaseConnection);
  return nullptr;
}

}  // namespace

void RegisterInternetModules() {
  RegisterBuiltInModule(u"wininet.dll", &ResolveWinInet);
  RegisterBuiltInModule(u"cellcore.dll", &ResolveCellCore);
}

}  // namespace plat
