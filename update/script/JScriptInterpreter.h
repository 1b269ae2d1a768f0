// CJScriptInterpreter: the host of one script interpreter (duktape). It gives
// the interpreter a private heap of its own, installs the native globals that
// template scripts may call ("alert", "log") and whatever globals its owner
// adds (the channel job adds the script document model, ScriptDocumentModel.h),
// runs script texts and writes
// an uncaught script exception to the debug log. The script jobs derive from it;
// one interpreter lives as long as its job.
//
// Every run has a budget: a script that runs longer than the time budget, or
// whose heap runs out (the heap's size is the memory budget), is stopped with
// an uncatchable error and Execute answers false. Memory exhaustion is final:
// the heap keeps its failure, so later runs fail at once.
//
// The engine reports errors by a long jump. No C++ exception ever crosses the
// engine: native functions catch everything, and C++ code that holds objects
// with destructors calls the engine only through protected calls
// (RunProtected, or duk_safe_call with a body that holds none).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/PrivateHeap.h"
#include "core/Synchronized.h"
#include "platform/base/Types.h"

#include "duktape.h"

class CInetSession;
struct JScriptHostRecord;
namespace Tidy {
class Document;
}

class CJScriptInterpreter : public CSynchronized {
 public:
  // The compatibility word the interpreter is created with. duktape has no
  // such flags: the behaviours they chose (HTML comments in scripts, the
  // ECMAScript annex B functions) are part of the engine's standard build.
  static constexpr unsigned kCompatibilityFlags = 0x4A;
  // Default budget of one run of Execute: seconds, as a handheld's update can
  // bear (the channel jobs take theirs from the "ScriptTimeBudget" setting).
  static constexpr plat::DWORD kDefaultTimeBudgetMs = 15 * 1000;
  static constexpr std::size_t kDefaultMemoryBudget = 64 * 1024 * 1024;
  // Name the engine gives the script text in locations ("script:3").
  static constexpr const char* kScriptFileName = "script";

  // Why the last run failed.
  enum class RunFailure { None, NotInitialised, Exception, OutOfTime, OutOfMemory, Stopped };

  CJScriptInterpreter();
  ~CJScriptInterpreter() override;
  CJScriptInterpreter(const CJScriptInterpreter&) = delete;
  CJScriptInterpreter& operator=(const CJScriptInterpreter&) = delete;

  // Adds globals to the global object at index global; runs inside a
  // protected call and may throw script errors.
  using GlobalsInstaller = void (*)(duk_context* ctx, duk_idx_t global);

  // Creates the heap and the interpreter and installs the globals, then those
  // of installExtra. False when the heap or the interpreter could not be
  // created (logged); a second call on a live interpreter does nothing and
  // answers true.
  bool Init(GlobalsInstaller installExtra = nullptr);

  // Runs the text as global code. True when the evaluation finished (its value
  // is discarded); false when an exception escaped (reported to the debug log),
  // the run's budget ran out or the interpreter is not usable.
  virtual bool Execute(const std::u16string& script);

  // The budget of each later run: time in ms (by the platform's tick count)
  // and memory in bytes (the heap's size; takes effect at Init).
  void SetBudget(plat::DWORD timeMs, std::size_t memoryBytes);
  plat::DWORD GetTimeBudget() const { return timeBudgetMs_; }
  std::size_t GetMemoryBudget() const { return memoryBudget_; }

  RunFailure GetLastFailure() const { return lastFailure_; }

  // Asks the running script (and every later run) to stop, as an exhausted
  // budget does. May be called from any thread.
  void RequestStop() noexcept { stopRequested_.store(true, std::memory_order_relaxed); }
  bool IsStopRequested() const noexcept { return stopRequested_.load(std::memory_order_relaxed); }
  // The heap ran out at some time (the interpreter cannot run scripts again).
  bool HasRunOutOfMemory() const;

  // The HTTP session that "Document" downloads with (the job's); none by
  // default, and then every download fails.
  void SetInetSession(CInetSession* session) { session_ = session; }
  CInetSession* GetInetSession() const { return session_; }

  // Null before Init.
  duk_context* GetContext() const { return context_; }
  CPrivateHeap* GetHeap() const { return heap_.get(); }
  // The host of an interpreter (null for a context of no host).
  static CJScriptInterpreter* FromContext(duk_context* ctx);

  // Runs body(ctx, data) as a protected call, so C++ code can use the engine:
  // true when it returned; false when it threw (the error value is logged
  // with context as "<context>: <error>"). The body pushes nothing that
  // outlives it (the stack is restored) and must itself keep no object with a
  // destructor alive across engine calls.
  bool RunProtected(duk_ret_t (*body)(duk_context* ctx, void* data), void* data, const char* context);

  // Keeps a document made for a script until the interpreter goes (its nodes
  // are reachable from script objects). False when memory ran out; the
  // document is destroyed then.
  bool AdoptDocument(Tidy::Document* document) noexcept;

  // "alert" never waits on the user (scripts run on the update worker): it
  // writes its text to the debug log behind this prefix.
  static constexpr const char* kAlertPrefix = "alert: ";

 private:
  void Release() noexcept;
  void ReportException(const std::u16string& script) noexcept;

  std::unique_ptr<CPrivateHeap> heap_;
  std::unique_ptr<JScriptHostRecord> record_;
  duk_context* context_ = nullptr;
  CInetSession* session_ = nullptr;
  std::vector<Tidy::Document*> documents_;
  plat::DWORD timeBudgetMs_ = kDefaultTimeBudgetMs;
  std::size_t memoryBudget_ = kDefaultMemoryBudget;
  RunFailure lastFailure_ = RunFailure::None;
  std::atomic<bool> stopRequested_{false};
};

// ---- Native functions ------------------------------------------------------------

// Gives the native function at index function its "name" and "length".
void DefineNativeFunctionInfo(duk_context* ctx, duk_idx_t function, const char* name, duk_int_t length);
// Defines a native function (any number of arguments; "length" says length)
// as a writable, configurable, not enumerated property of the object at index
// target: the globals and constructors scripts call.
void DefineGlobalNative(duk_context* ctx, duk_idx_t target, const char* name, duk_c_function function,
                        duk_int_t length);

// ---- Text between the system and the engine ---------------------------------------
//
// The engine keeps strings in CESU-8: each UTF-16 code unit as one to three
// bytes, surrogates one by one. These convert without touching the engine.

// UTF-16 to the engine's form.
std::string ToScriptText(std::u16string_view text);
// UTF-8 (HTML Tidy, the network) to the engine's form; invalid bytes become U+FFFD.
std::string Utf8ToScriptText(std::string_view utf8);
// The engine's form (also four-byte UTF-8 sequences) to UTF-16; invalid bytes
// become U+FFFD.
std::u16string FromScriptText(std::string_view text);

// Pushes text (the engine's form) as a script string through a protected
// call, so that C++ code holding objects with destructors may call it. False
// when the push threw: the error value is then on the stack top, to be
// rethrown (duk_throw) by the native function once the C++ frames are gone.
bool SafePushScriptText(duk_context* ctx, std::string_view text) noexcept;

// One line of the traceback of an uncaught exception.
struct ScriptTraceFrame {
  enum class Kind { NoCallee, Construct, Call, Other };
  Kind kind = Kind::Call;
  std::u16string location;    // the engine's text for the place ("script:3")
  std::u16string name;        // call: the function's name (empty: anonymous)
  std::u16string className;   // construct, other: the callee's class (empty: none)
  const void* object = nullptr;  // other: the object
  std::u16string standardName;   // other: the standard object it is ("Math"), or empty
};
// "  <location>: " followed by the frame's description.
std::u16string FormatTraceFrame(const ScriptTraceFrame& frame);

// The piece of the script that the exception report shows for a line number:
// the text cut at line feeds, each piece trimmed, pieces that begin with "//"
// not counted. False when the text has fewer such pieces.
bool FindReportedScriptLine(const std::u16string& script, long line, std::u16string& piece);
