// The internet library ("wininet.dll"): internet, connection and request
// handles over libcurl. Requests stream their bodies as they arrive, honour
// per-handle time-outs, follow redirects, verify HTTPS certificates and host
// names against the host's CA store and use the host's proxy settings (the
// usual proxy environment variables). Bodies are handed over as received:
// the library never decodes a Content-Encoding. Closing a request handle from
// another thread ends a blocked send or read at once.
//
// The functions are reachable directly and, once RegisterInternetModules has
// run, by name through LoadLibraryW(u"wininet.dll") and GetProcAddressW.
#pragma once

#include <cstdint>

#include "platform/base/Types.h"

namespace plat {

struct InternetHandleTag;
using HINTERNET = InternetHandleTag*;
using INTERNET_PORT = WORD;
using INTERNET_STATUS_CALLBACK = void (*)(HINTERNET handle, std::uintptr_t context, DWORD status,
                                          void* info, DWORD infoLength);
inline INTERNET_STATUS_CALLBACK const INTERNET_INVALID_STATUS_CALLBACK =
    reinterpret_cast<INTERNET_STATUS_CALLBACK>(static_cast<std::intptr_t>(-1));

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;

constexpr DWORD INTERNET_SERVICE_HTTP = 3;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
constexpr INTERNET_PORT INTERNET_INVALID_PORT_NUMBER = 0;

enum INTERNET_SCHEME : int {
  INTERNET_SCHEME_PARTIAL = -2,
  INTERNET_SCHEME_UNKNOWN = -1,
  INTERNET_SCHEME_DEFAULT = 0,
  INTERNET_SCHEME_FTP = 1,
  INTERNET_SCHEME_GOPHER = 2,
  INTERNET_SCHEME_HTTP = 3,
  INTERNET_SCHEME_HTTPS = 4,
  INTERNET_SCHEME_FILE = 5,
};

// Request flags.
constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000u;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000u;
constexpr DWORD INTERNET_FLAG_SECURE = 0x00800000u;
constexpr DWORD INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000u;
constexpr DWORD INTERNET_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000u;
constexpr DWORD INTERNET_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000u;
constexpr DWORD INTERNET_FLAG_PRAGMA_NOCACHE = 0x00000100u;

// Security flags (INTERNET_OPTION_SECURITY_FLAGS).
constexpr DWORD SECURITY_FLAG_SECURE = 0x00000001u;
constexpr DWORD SECURITY_FLAG_IGNORE_UNKNOWN_CA = 0x00000100u;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_CN_INVALID = 0x00001000u;
constexpr DWORD SECURITY_FLAG_IGNORE_CERT_DATE_INVALID = 0x00002000u;

// Options (values in milliseconds or text as noted).
constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
constexpr DWORD INTERNET_OPTION_HANDLE_TYPE = 9;
constexpr DWORD INTERNET_OPTION_SECURITY_FLAGS = 31;
constexpr DWORD INTERNET_OPTION_URL = 34;               // text: the request's final URL
constexpr DWORD INTERNET_OPTION_PROXY_USERNAME = 43;    // text
constexpr DWORD INTERNET_OPTION_PROXY_PASSWORD = 44;    // text

constexpr DWORD INTERNET_HANDLE_TYPE_INTERNET = 1;
constexpr DWORD INTERNET_HANDLE_TYPE_CONNECT_HTTP = 4;
constexpr DWORD INTERNET_HANDLE_TYPE_HTTP_REQUEST = 13;

// HttpQueryInfoW levels and modifiers.
constexpr DWORD HTTP_QUERY_CONTENT_TYPE = 1;
constexpr DWORD HTTP_QUERY_CONTENT_LENGTH = 5;
constexpr DWORD HTTP_QUERY_LAST_MODIFIED = 11;
constexpr DWORD HTTP_QUERY_CONTENT_ENCODING = 29;
constexpr DWORD HTTP_QUERY_LOCATION = 33;
constexpr DWORD HTTP_QUERY_STATUS_CODE = 19;
constexpr DWORD HTTP_QUERY_STATUS_TEXT = 20;
constexpr DWORD HTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr DWORD HTTP_QUERY_ETAG = 54;
constexpr DWORD HTTP_QUERY_TRANSFER_ENCODING = 63;
constexpr DWORD HTTP_QUERY_FLAG_NUMBER = 0x20000000u;

// HttpAddRequestHeadersW modifiers.
constexpr DWORD HTTP_ADDREQ_FLAG_ADD = 0x20000000u;
constexpr DWORD HTTP_ADDREQ_FLAG_REPLACE = 0x80000000u;

// InternetCombineUrlW / InternetCanonicalizeUrlW flags.
constexpr DWORD ICU_NO_ENCODE = 0x20000000u;
constexpr DWORD ICU_DECODE = 0x10000000u;
constexpr DWORD ICU_NO_META = 0x08000000u;
constexpr DWORD ICU_ENCODE_SPACES_ONLY = 0x04000000u;
constexpr DWORD ICU_BROWSER_MODE = 0x02000000u;

// InternetErrorDlg.
constexpr DWORD FLAGS_ERROR_UI_FILTER_FOR_ERRORS = 0x01;
constexpr DWORD FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS = 0x02;
constexpr DWORD FLAGS_ERROR_UI_FLAGS_GENERATE_DATA = 0x04;
constexpr DWORD ERROR_CANCELLED = 1223;

// Errors (GetLastError after a failed call).
constexpr DWORD ERROR_INTERNET_OUT_OF_HANDLES = 12001;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_INTERNET_INVALID_URL = 12005;
constexpr DWORD ERROR_INTERNET_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_INTERNET_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_INTERNET_INVALID_OPTION = 12009;
constexpr DWORD ERROR_INTERNET_OPERATION_CANCELLED = 12017;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_INTERNET_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_INTERNET_CONNECTION_ABORTED = 12030;
constexpr DWORD ERROR_INTERNET_CONNECTION_RESET = 12031;
constexpr DWORD ERROR_INTERNET_FORCE_RETRY = 12032;
constexpr DWORD ERROR_INTERNET_SEC_CERT_DATE_INVALID = 12037;
constexpr DWORD ERROR_INTERNET_SEC_CERT_CN_INVALID = 12038;
constexpr DWORD ERROR_INTERNET_INVALID_CA = 12045;
constexpr DWORD ERROR_HTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_HTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_INTERNET_SECURE_FAILURE = 12175;

// Parts of a URL for InternetCrackUrlW and InternetCreateUrlW. For cracking:
// a part with a buffer receives a copy (its length in characters is the
// buffer's size on entry, the copied length without the null on return); a
// part with no buffer and a non-zero length receives a pointer into the URL
// and its length; a zero length skips the part.
struct URL_COMPONENTSW {
  DWORD dwStructSize = sizeof(URL_COMPONENTSW);
  char16_t* lpszScheme = nullptr;
  DWORD dwSchemeLength = 0;
  INTERNET_SCHEME nScheme = INTERNET_SCHEME_UNKNOWN;
  char16_t* lpszHostName = nullptr;
  DWORD dwHostNameLength = 0;
  INTERNET_PORT nPort = 0;
  char16_t* lpszUserName = nullptr;
  DWORD dwUserNameLength = 0;
  char16_t* lpszPassword = nullptr;
  DWORD dwPasswordLength = 0;
  char16_t* lpszUrlPath = nullptr;
  DWORD dwUrlPathLength = 0;
  char16_t* lpszExtraInfo = nullptr;  // query and fragment, from "?" or "#"
  DWORD dwExtraInfoLength = 0;
};

struct INTERNET_BUFFERSW {
  DWORD dwStructSize = sizeof(INTERNET_BUFFERSW);
  INTERNET_BUFFERSW* Next = nullptr;
  const char16_t* lpcszHeader = nullptr;
  DWORD dwHeadersLength = 0;
  DWORD dwHeadersTotal = 0;
  void* lpvBuffer = nullptr;
  DWORD dwBufferLength = 0;
  DWORD dwBufferTotal = 0;
  DWORD dwOffsetLow = 0;
  DWORD dwOffsetHigh = 0;
};

using HWND_INET = void*;  // owner window of InternetErrorDlg (none is ever shown)

// Handles. Every handle is closed with InternetCloseHandle; closing a parent
// does not invalidate its children. Handle values are never reused.
HINTERNET InternetOpenW(const char16_t* agent, DWORD accessType, const char16_t* proxy,
                        const char16_t* proxyBypass, DWORD flags);
BOOL InternetCloseHandle(HINTERNET handle);
HINTERNET InternetConnectW(HINTERNET internet, const char16_t* server, INTERNET_PORT port,
                           const char16_t* user, const char16_t* password, DWORD service,
                           DWORD flags, std::uintptr_t context);
// version "HTTP/1.0" or "HTTP/1.1" (null: 1.1); acceptTypes null-terminated, may be null.
HINTERNET HttpOpenRequestW(HINTERNET connect, const char16_t* verb, const char16_t* objectName,
                           const char16_t* version, const char16_t* referrer,
                           const char16_t** acceptTypes, DWORD flags, std::uintptr_t context);
// Headers: lines separated by "\r\n" or "\n"; length -1 (0xFFFFFFFF) for a null-terminated block.
BOOL HttpAddRequestHeadersW(HINTERNET request, const char16_t* headers, DWORD length, DWORD modifiers);
// Sends the request and returns once the final response's headers have
// arrived (redirects followed); the body is read with InternetReadFile.
BOOL HttpSendRequestW(HINTERNET request, const char16_t* headers, DWORD headersLength,
                      void* optional, DWORD optionalLength);
// Sending a body in pieces: HttpSendRequestExW, InternetWriteFile..., HttpEndRequestW.
BOOL HttpSendRequestExW(HINTERNET request, INTERNET_BUFFERSW* buffersIn, INTERNET_BUFFERSW* buffersOut,
                        DWORD flags, std::uintptr_t context);
BOOL InternetWriteFile(HINTERNET request, const void* buffer, DWORD toWrite, DWORD* written);
BOOL HttpEndRequestW(HINTERNET request, INTERNET_BUFFERSW* buffersOut, DWORD flags, std::uintptr_t context);
// Blocks until body bytes arrive (at most the receive time-out without any);
// *read is 0 at the end of the body. Fails at a transfer error, including a
// body that ends before its declared Content-Length.
BOOL InternetReadFile(HINTERNET request, void* buffer, DWORD toRead, DWORD* read);
// Sizes in bytes. Text answers are null-terminated; *length is the text's
// size without the null on success, the size needed (with it) after
// ERROR_INSUFFICIENT_BUFFER. index may be null.
BOOL HttpQueryInfoW(HINTERNET request, DWORD infoLevel, void* buffer, DWORD* length, DWORD* index);
BOOL InternetSetOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD length);
BOOL InternetQueryOptionW(HINTERNET handle, DWORD option, void* buffer, DWORD* length);
// Opens a URL in one call: connection, request and send.
HINTERNET InternetOpenUrlW(HINTERNET internet, const char16_t* url, const char16_t* headers,
                           DWORD headersLength, DWORD flags, std::uintptr_t context);
// No user interface here: answers ERROR_CANCELLED.
DWORD InternetErrorDlg(HWND_INET window, HINTERNET request, DWORD error, DWORD flags, void** data);
// Cookies of this process, sent with later requests to the URL's host.
BOOL InternetSetCookieW(const char16_t* url, const char16_t* name, const char16_t* data);
INTERNET_STATUS_CALLBACK InternetSetStatusCallbackW(HINTERNET handle, INTERNET_STATUS_CALLBACK callback);

// URLs. Lengths in characters: on entry the buffer's size, on return the
// text's length without the null (ERROR_INSUFFICIENT_BUFFER: the size needed with it).
BOOL InternetCrackUrlW(const char16_t* url, DWORD urlLength, DWORD flags, URL_COMPONENTSW* components);
// Resolves relative against base as RFC 3986 section 5 says.
BOOL InternetCombineUrlW(const char16_t* base, const char16_t* relative, char16_t* buffer,
                         DWORD* length, DWORD flags);
BOOL InternetCreateUrlW(const URL_COMPONENTSW* components, DWORD flags, char16_t* buffer, DWORD* length);
// Removes dot segments and encodes unsafe characters (space, controls,
// non-ASCII as UTF-8) unless ICU_NO_ENCODE; ICU_ENCODE_SPACES_ONLY encodes spaces alone.
BOOL InternetCanonicalizeUrlW(const char16_t* url, char16_t* buffer, DWORD* length, DWORD flags);

// Makes "wininet.dll" and "cellcore.dll" loadable by name; calling it again
// restores registrations that were replaced meanwhile.
void RegisterInternetModules();

}  // namespace plat
