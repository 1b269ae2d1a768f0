#include "update/script/JScriptInterpreter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/DebugLog.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/windows/Windows.h"
#include "update/tidy/TidyDocument.h"

// What the engine's callbacks (allocation, budget check) find through the
// heap's user data. The allocation hooks read the heap record at its start.
struct JScriptHostRecord : ScriptHostHeapRecord {
  CJScriptInterpreter* host = nullptr;
  // Inside Execute or RunProtected: the budget counts.
  int runDepth = 0;
  plat::DWORD start = 0;
  plat::DWORD budgetMs = 0;
  CJScriptInterpreter::RunFailure exhausted = CJScriptInterpreter::RunFailure::None;
  // The compiled program of the current run: its frame has no callee.
  void* program = nullptr;
  // The native function that records tracebacks.
  void* traceHook = nullptr;
  // The engine's heap, and the allocation hooks of the private heap.
  duk_context* context = nullptr;
  ScriptHeapHooks hooks;
  // Globals the owner adds at set-up.
  CJScriptInterpreter::GlobalsInstaller installExtra = nullptr;
  // Allocations counted for the budget check of the allocation hooks, and
  // whether they fail until the interpreter loop has seen the budget spent.
  unsigned allocations = 0;
  bool allocationsBlocked = false;
};

// Defined in the engine's translation unit (duk_orv_extras.h).
extern "C" void OrvDuktapeRequestInterrupt(duk_context* ctx);

namespace {

// Stash keys of the host.
constexpr const char* kTraceKey = "trace";
constexpr const char* kTraceCompileLineKey = "compileLine";
// Bit of the engine's activation flags kept in tracebacks: a construction.
constexpr double kConstructFlag = 4;
constexpr double kTwoTo32 = 4294967296.0;

JScriptHostRecord* RecordOf(void* heapUserData) {
  if (!heapUserData) return nullptr;
  return static_cast<JScriptHostRecord*>(static_cast<ScriptHostHeapRecord*>(heapUserData));
}

JScriptHostRecord* RecordOf(duk_context* ctx) {
  duk_memory_functions functions{};
  duk_get_memory_functions(ctx, &functions);
  return RecordOf(functions.udata);
}

void LogLine(const std::u16string& text) noexcept {
  try {
    CDebugLog::GetInstance().WriteLine(text);
  } catch (...) {
  }
}

// A line made of an ASCII prefix and engine text.
void LogScriptLine(const char* prefix, const char* text, duk_size_t length) noexcept {
  try {
    std::u16string line = plat::Latin1ToUtf16(prefix);
    if (text) line += FromScriptText(std::string_view(text, length));
    CDebugLog::GetInstance().WriteLine(line);
  } catch (...) {
  }
}

// Keeps the budget counting while the engine runs for the host.
class BudgetScope {
 public:
  explicit BudgetScope(JScriptHostRecord* record, plat::DWORD budgetMs) : record_(record) {
    if (record_->runDepth++ == 0) {
      record_->start = plat::GetTickCount();
      record_->budgetMs = budgetMs;
      record_->exhausted = CJScriptInterpreter::RunFailure::None;
      record_->allocationsBlocked = false;
    }
  }
  ~BudgetScope() {
    if (--record_->runDepth == 0) record_->allocationsBlocked = false;
  }
  BudgetScope(const BudgetScope&) = delete;
  BudgetScope& operator=(const BudgetScope&) = delete;

 private:
  JScriptHostRecord* record_;
};

// The engine's allocation functions: the private heap's hooks. When one fails
// the running script is made to reach its budget check at once, which stops
// it, rather than after many more instructions whose allocations fail too.
void SignalExhaustion(void* heapUserData) {
  JScriptHostRecord* record = RecordOf(heapUserData);
  if (record && record->context) OrvDuktapeRequestInterrupt(record->context);
}

// A built-in function can run long inside one call (a join of a huge
// sparse array) without coming back to the interpreter loop, where the
// budget is checked. Such calls allocate as they go, so the allocation hooks
// check the time too (every 64th allocation): once the budget is spent,
// allocations fail, the engine throws out of the built-in, and the budget
// check stops the script at its next instruction.
bool AllocationOverBudget(JScriptHostRecord* record) {
  if (record->runDepth == 0) return false;
  if (record->allocationsBlocked) return true;
  if ((++record->allocations & 63u) != 0) return false;
  bool over = false;
  try {
    over = plat::GetTickCount() - record->start >= record->budgetMs;
  } catch (...) {
    over = true;
  }
  if (!over) return false;
  if (record->exhausted == CJScriptInterpreter::RunFailure::None) {
    record->exhausted = CJScriptInterpreter::RunFailure::OutOfTime;
  }
  record->allocationsBlocked = true;
  if (record->context) OrvDuktapeRequestInterrupt(record->context);
  return true;
}

void* EngineAlloc(void* heapUserData, duk_size_t size) {
  if (size && AllocationOverBudget(RecordOf(heapUserData))) return nullptr;
  void* block = RecordOf(heapUserData)->hooks.alloc(heapUserData, size);
  if (!block && size) SignalExhaustion(heapUserData);
  return block;
}

void* EngineRealloc(void* heapUserData, void* pointer, duk_size_t size) {
  if (size && AllocationOverBudget(RecordOf(heapUserData))) return nullptr;
  void* block = RecordOf(heapUserData)->hooks.realloc(heapUserData, pointer, size);
  if (!block && size) SignalExhaustion(heapUserData);
  return block;
}

void EngineFree(void* heapUserData, void* pointer) { RecordOf(heapUserData)->hooks.free(heapUserData, pointer); }

[[noreturn]] void FatalHandler(void* heapUserData, const char* message) {
  // Only reached when an error escapes every protected call: a fault of the
  // host. The engine cannot continue.
  std::fprintf(stderr, "script engine fatal error: %s\n", message ? message : "");
  LogScriptLine("Script engine fatal error: ", message, message ? std::char_traits<char>::length(message) : 0);
  std::abort();
}

// ---- Native globals ------------------------------------------------------------

// Replaces the arguments by the concatenation of their string values.
void JoinArguments(duk_context* ctx) {
  duk_idx_t count = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < count; ++i) duk_to_string(ctx, i);
  duk_concat(ctx, count);
}

// Scripts run on the update worker, which an automatic update drives with
// nobody at the device: a box waiting for its OK would hold the whole update.
// "alert" therefore writes its text to the debug log, marked as an alert, and
// the script goes on at once.
duk_ret_t NativeAlert(duk_context* ctx) {
  if (!CJScriptInterpreter::FromContext(ctx)) return 0;
  JoinArguments(ctx);
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, -1, &length);
  LogScriptLine(CJScriptInterpreter::kAlertPrefix, text, length);
  return 0;
}

duk_ret_t NativeLog(duk_context* ctx) {
  JoinArguments(ctx);
  duk_size_t length = 0;
  const char* text = duk_get_lstring(ctx, -1, &length);
  LogScriptLine("", text, length);
  return 0;
}

// Called by the engine with every value about to be thrown (argument 0): records where it
// was thrown (the frames of the call stack, innermost first), so the report
// of an uncaught exception can show them. Returns the value unchanged.
duk_ret_t NativeRecordThrow(duk_context* ctx) {
  JScriptHostRecord* record = RecordOf(ctx);
  // An error made here carries the engine's traceback of this moment, with
  // the activation flags of each frame.
  duk_push_error_object_raw(ctx, DUK_ERR_ERROR, nullptr, 0, "trace");
  duk_idx_t error = duk_get_top_index(ctx);
  duk_get_prop_string(ctx, error, DUK_INTERNAL_SYMBOL("Tracedata"));
  duk_idx_t data = duk_get_top_index(ctx);
  duk_idx_t frames = duk_push_array(ctx);
  duk_uarridx_t frameCount = 0;
  duk_int_t functionCount = 0;
  if (duk_is_object(ctx, data)) {
    for (duk_uarridx_t i = 0;; i += 2) {
      if (!duk_get_prop_index(ctx, data, i)) {
        duk_pop(ctx);
        break;
      }
      duk_get_prop_index(ctx, data, i + 1);
      double word = duk_to_number(ctx, -1);
      duk_pop(ctx);
      if (duk_is_string(ctx, -1)) {
        // A compilation entry: the line of a syntax error.
        duk_push_number(ctx, std::fmod(word, kTwoTo32));
        duk_put_prop_string(ctx, frames, kTraceCompileLineKey);
        duk_pop(ctx);
        continue;
      }
      // The k-th function of the traceback is the activation at level -(k+1);
      // the first is this function itself.
      duk_int_t level = -(functionCount + 1);
      ++functionCount;
      if (record && duk_get_heapptr(ctx, -1) == record->traceHook) {
        duk_pop(ctx);
        continue;
      }
      duk_idx_t frame = duk_push_array(ctx);
      duk_dup(ctx, -2);
      duk_put_prop_index(ctx, frame, 0);
      duk_inspect_callstack_entry(ctx, level);
      double line = 0;
      if (duk_is_object(ctx, -1)) {
        duk_get_prop_string(ctx, -1, "lineNumber");
        line = duk_get_number_default(ctx, -1, 0);
        duk_pop(ctx);
      }
      duk_pop(ctx);
      duk_push_number(ctx, line);
      duk_put_prop_index(ctx, frame, 1);
      double flags = std::floor(word / kTwoTo32);
      duk_push_boolean(ctx, std::fmod(std::floor(flags / kConstructFlag), 2) != 0);
      duk_put_prop_index(ctx, frame, 2);
      duk_put_prop_index(ctx, frames, frameCount++);
      duk_pop(ctx);  // the function
    }
  }
  duk_push_global_stash(ctx);
  duk_dup(ctx, frames);
  duk_put_prop_string(ctx, -2, kTraceKey);
  duk_dup(ctx, 0);
  return 1;
}

duk_ret_t InstallGlobals(duk_context* ctx, void* data) {
  JScriptHostRecord* record = static_cast<JScriptHostRecord*>(data);
  duk_push_global_object(ctx);
  duk_idx_t global = duk_get_top_index(ctx);
  DefineGlobalNative(ctx, global, "alert", NativeAlert, 1);
  DefineGlobalNative(ctx, global, "log", NativeLog, 1);
  if (record->installExtra) record->installExtra(ctx, global);

  // The throw hook lives in the engine's own object, which scripts do not
  // see: its global name is removed (scripts were written for an engine
  // without it).
  duk_get_prop_string(ctx, global, "Duktape");
  if (duk_is_object(ctx, -1)) {
    duk_push_c_function(ctx, NativeRecordThrow, 1);
    record->traceHook = duk_get_heapptr(ctx, -1);
    duk_put_prop_string(ctx, -2, "errThrow");
  }
  duk_pop(ctx);
  duk_del_prop_string(ctx, global, "Duktape");
  duk_pop(ctx);
  return 0;
}

struct RunData {
  const char* source;
  std::size_t length;
  JScriptHostRecord* record;
};

duk_ret_t RunBody(duk_context* ctx, void* data) {
  RunData* run = static_cast<RunData*>(data);
  duk_push_global_stash(ctx);
  duk_del_prop_string(ctx, -1, kTraceKey);
  duk_pop(ctx);
  duk_push_lstring(ctx, run->source, run->length);
  duk_push_string(ctx, CJScriptInterpreter::kScriptFileName);
  duk_compile(ctx, 0);
  run->record->program = duk_get_heapptr(ctx, -1);
  duk_call(ctx, 0);
  return 0;
}

// ---- Exception report ------------------------------------------------------------

struct ReportData {
  const std::u16string* script;
  JScriptHostRecord* record;
};

void LogCodeLine(const std::u16string* script, double line) noexcept {
  try {
    std::u16string piece;
    if (line >= 1 && line < 1e9 && FindReportedScriptLine(*script, static_cast<long>(line), piece)) {
      CDebugLog::GetInstance().WriteLine(u"  code: " + piece);
    }
  } catch (...) {
  }
}

void LogFrame(ScriptTraceFrame::Kind kind, const char* location, duk_size_t locationLength, const char* name,
              duk_size_t nameLength, const char* className, duk_size_t classLength) noexcept {
  try {
    ScriptTraceFrame frame;
    frame.kind = kind;
    frame.location = FromScriptText(std::string_view(location, locationLength));
    if (name) frame.name = FromScriptText(std::string_view(name, nameLength));
    if (className) frame.className = FromScriptText(std::string_view(className, classLength));
    CDebugLog::GetInstance().WriteLine(FormatTraceFrame(frame));
  } catch (...) {
  }
}

// The value thrown is on the stack top. Lines 2 to 4 of the report; any of it
// may throw again (the value's conversion to a string runs script code).
duk_ret_t ReportBody(duk_context* ctx, void* data) {
  ReportData* report = static_cast<ReportData*>(data);
  duk_idx_t value = duk_get_top_index(ctx);
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, kTraceKey);
  duk_idx_t frames = duk_get_top_index(ctx);
  bool haveFrames = duk_is_array(ctx, frames);

  duk_dup(ctx, value);
  duk_size_t length = 0;
  const char* text = duk_to_lstring(ctx, -1, &length);
  LogScriptLine("  ", text, length);
  duk_pop(ctx);

  // The line of the exception: where a syntax error was found, else the
  // innermost script frame, else what an error object says.
  double line = 0;
  if (haveFrames) {
    if (duk_get_prop_string(ctx, frames, kTraceCompileLineKey)) line = duk_get_number_default(ctx, -1, 0);
    duk_pop(ctx);
    duk_size_t count = duk_get_length(ctx, frames);
    for (duk_size_t i = 0; line <= 0 && i < count; ++i) {
      duk_get_prop_index(ctx, frames, static_cast<duk_uarridx_t>(i));
      duk_get_prop_index(ctx, -1, 0);
      bool script = duk_is_ecmascript_function(ctx, -1);
      duk_pop(ctx);
      if (script) {
        duk_get_prop_index(ctx, -1, 1);
        line = duk_get_number_default(ctx, -1, 0);
        duk_pop(ctx);
      }
      duk_pop(ctx);
    }
  }
  if (line <= 0 && duk_is_error(ctx, value)) {
    duk_get_prop_string(ctx, value, "lineNumber");
    line = duk_get_number_default(ctx, -1, 0);
    duk_pop(ctx);
  }
  LogCodeLine(report->script, line);

  LogScriptLine("traceback:", nullptr, 0);
  if (!haveFrames) return 0;
  duk_size_t count = duk_get_length(ctx, frames);
  for (duk_size_t i = 0; i < count; ++i) {
    duk_get_prop_index(ctx, frames, static_cast<duk_uarridx_t>(i));
    duk_idx_t frame = duk_get_top_index(ctx);
    duk_get_prop_index(ctx, frame, 0);
    duk_idx_t callee = duk_get_top_index(ctx);
    duk_get_prop_index(ctx, frame, 1);
    double frameLine = duk_get_number_default(ctx, -1, 0);
    duk_pop(ctx);
    duk_get_prop_index(ctx, frame, 2);
    bool construct = duk_get_boolean_default(ctx, -1, false);
    duk_pop(ctx);

    // Location: file and line of a script function; natives have none.
    if (duk_is_ecmascript_function(ctx, callee)) {
      duk_get_prop_string(ctx, callee, "fileName");
      if (!duk_is_string(ctx, -1)) {
        duk_pop(ctx);
        duk_push_string(ctx, "?");
      }
      duk_push_sprintf(ctx, "%s:%.0f", duk_get_string(ctx, -1), frameLine);
      duk_remove(ctx, -2);
    } else {
      duk_push_string(ctx, "native");
    }
    duk_size_t locationLength = 0;
    const char* location = duk_get_lstring(ctx, -1, &locationLength);

    void* function = duk_get_heapptr(ctx, callee);
    ScriptTraceFrame::Kind kind = ScriptTraceFrame::Kind::Call;
    if (!function || function == report->record->program) {
      kind = ScriptTraceFrame::Kind::NoCallee;
    } else if (construct) {
      kind = ScriptTraceFrame::Kind::Construct;
    } else if (!duk_is_function(ctx, callee)) {
      kind = ScriptTraceFrame::Kind::Other;
    }
    const char* name = nullptr;
    duk_size_t nameLength = 0;
    if (kind == ScriptTraceFrame::Kind::Call) {
      duk_get_prop_string(ctx, callee, "name");
      if (duk_is_string(ctx, -1)) name = duk_get_lstring(ctx, -1, &nameLength);
    } else {
      duk_push_undefined(ctx);
    }
    // Every callee the engine records is a function object.
    const char* className = duk_is_function(ctx, callee) ? "Function" : nullptr;
    LogFrame(kind, location, locationLength, name, nameLength, className,
             className ? std::char_traits<char>::length(className) : 0);
    duk_pop_n(ctx, 4);  // name, location, callee, frame
  }
  return 0;
}

duk_ret_t PushTextBody(duk_context* ctx, void* data) {
  const std::string_view* text = static_cast<const std::string_view*>(data);
  duk_push_lstring(ctx, text->data(), text->size());
  return 1;
}


void AppendCesu(std::string& out, char16_t unit) {
  if (unit < 0x80) {
    out += static_cast<char>(unit);
  } else if (unit < 0x800) {
    out += static_cast<char>(0xC0 | (unit >> 6));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  }
}

}  // namespace

// ---- The budget check the engine calls ------------------------------------------

extern "C" duk_bool_t OrvScriptBudgetExhausted(void* heapUserData) {
  JScriptHostRecord* record = RecordOf(heapUserData);
  if (!record || record->runDepth == 0) return 0;
  using RunFailure = CJScriptInterpreter::RunFailure;
  // The interpreter loop has seen it: the engine may allocate its error.
  record->allocationsBlocked = false;
  // Once exhausted, exhausted until the script has left the engine.
  if (record->exhausted != RunFailure::None) return 1;
  if (record->host && record->host->IsStopRequested()) {
    record->exhausted = RunFailure::Stopped;
    return 1;
  }
  if (record->heap && record->heap->HasFailed()) {
    record->exhausted = RunFailure::OutOfMemory;
    return 1;
  }
  try {
    if (plat::GetTickCount() - record->start >= record->budgetMs) {
      record->exhausted = RunFailure::OutOfTime;
      return 1;
    }
  } catch (...) {
    record->exhausted = RunFailure::OutOfTime;
    return 1;
  }
  return 0;
}

// ---- CJScriptInterpreter ------------------------------------------------------------

CJScriptInterpreter::CJScriptInterpreter() = default;

CJScriptInterpreter::~CJScriptInterpreter() { Release(); }

void CJScriptInterpreter::Release() noexcept {
  // The documents first: their memory is on the heap, but they hold C++
  // members that must be destroyed. Then the heap goes with everything the
  // engine made, without running the engine's own clean-up.
  for (Tidy::Document* document : documents_) Tidy::DestroyDocumentOnHeap(document);
  documents_.clear();
  context_ = nullptr;
  heap_.reset();
  record_.reset();
}

void CJScriptInterpreter::SetBudget(plat::DWORD timeMs, std::size_t memoryBytes) {
  timeBudgetMs_ = timeMs;
  memoryBudget_ = memoryBytes;
}

bool CJScriptInterpreter::HasRunOutOfMemory() const { return heap_ && heap_->HasFailed(); }

CJScriptInterpreter* CJScriptInterpreter::FromContext(duk_context* ctx) {
  if (!ctx) return nullptr;
  JScriptHostRecord* record = RecordOf(ctx);
  return record ? record->host : nullptr;
}

void DefineNativeFunctionInfo(duk_context* ctx, duk_idx_t function, const char* name, duk_int_t length) {
  function = duk_normalize_index(ctx, function);
  duk_push_string(ctx, "name");
  duk_push_string(ctx, name);
  duk_def_prop(ctx, function, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
  duk_push_string(ctx, "length");
  duk_push_int(ctx, length);
  duk_def_prop(ctx, function, DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_FORCE);
}

void DefineGlobalNative(duk_context* ctx, duk_idx_t target, const char* name, duk_c_function function,
                        duk_int_t length) {
  target = duk_normalize_index(ctx, target);
  duk_push_string(ctx, name);
  duk_push_c_function(ctx, function, DUK_VARARGS);
  DefineNativeFunctionInfo(ctx, -1, name, length);
  duk_def_prop(ctx, target,
               DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_HAVE_ENUMERABLE | DUK_DEFPROP_SET_WRITABLE |
                   DUK_DEFPROP_SET_CONFIGURABLE);
}

bool CJScriptInterpreter::Init(GlobalsInstaller installExtra) {
  if (context_) return true;
  try {
    heap_ = std::make_unique<CPrivateHeap>(memoryBudget_);
    record_ = std::make_unique<JScriptHostRecord>();
  } catch (...) {
    LogLine(u"Script interpreter: the heap could not be created.");
    Release();
    return false;
  }
  record_->heap = heap_.get();
  record_->host = this;
  record_->installExtra = installExtra;
  InstallScriptHeapHooks(record_->hooks);
  context_ = duk_create_heap(&EngineAlloc, &EngineRealloc, &EngineFree,
                             static_cast<ScriptHostHeapRecord*>(record_.get()), &FatalHandler);
  if (!context_) {
    LogLine(u"Script interpreter: the interpreter could not be created.");
    Release();
    return false;
  }
  record_->context = context_;
  if (!RunProtected(&InstallGlobals, record_.get(), "Script interpreter set-up")) {
    Release();
    return false;
  }
  return true;
}

bool CJScriptInterpreter::RunProtected(duk_ret_t (*body)(duk_context* ctx, void* data), void* data,
                                       const char* context) {
  if (!context_ || !duk_check_stack(context_, 4)) return false;
  BudgetScope budget(record_.get(), timeBudgetMs_);
  duk_idx_t top = duk_get_top(context_);
  duk_int_t rc = duk_safe_call(context_, body, data, 0, 1);
  if (rc != DUK_EXEC_SUCCESS) {
    duk_size_t length = 0;
    const char* text = duk_safe_to_lstring(context_, -1, &length);
    try {
      std::u16string line = plat::Latin1ToUtf16(context ? context : "script");
      line += u": ";
      line += FromScriptText(std::string_view(text ? text : "", text ? length : 0));
      CDebugLog::GetInstance().WriteLine(line);
    } catch (...) {
    }
  }
  duk_set_top(context_, top);
  return rc == DUK_EXEC_SUCCESS;
}

bool CJScriptInterpreter::Execute(const std::u16string& script) {
  lastFailure_ = RunFailure::None;
  if (!context_) {
    LogLine(u"Script interpreter is not initialised.");
    lastFailure_ = RunFailure::NotInitialised;
    return false;
  }
  if (IsStopRequested()) {
    LogLine(u"Script not run: its job was stopped.");
    lastFailure_ = RunFailure::Stopped;
    return false;
  }
  if (heap_->HasFailed()) {
    LogLine(u"Script interpreter has run out of memory.");
    lastFailure_ = RunFailure::OutOfMemory;
    return false;
  }
  std::string source;
  try {
    source = ToScriptText(script);
  } catch (...) {
    LogLine(u"Script interpreter: no memory for the script text.");
    lastFailure_ = RunFailure::OutOfMemory;
    return false;
  }
  if (!duk_check_stack(context_, 8)) {
    lastFailure_ = RunFailure::OutOfMemory;
    return false;
  }

  bool finished;
  RunFailure exhausted;
  {
    BudgetScope budget(record_.get(), timeBudgetMs_);
    duk_idx_t top = duk_get_top(context_);
    RunData run{source.data(), source.size(), record_.get()};
    finished = duk_safe_call(context_, &RunBody, &run, 0, 1) == DUK_EXEC_SUCCESS;
    if (!finished) ReportException(script);
    duk_set_top(context_, top);
    exhausted = record_->exhausted;
    record_->program = nullptr;
  }
  if (heap_->HasFailed()) exhausted = RunFailure::OutOfMemory;
  if (exhausted == RunFailure::OutOfTime) {
    CDebugLog::GetInstance().Printf(u"Script stopped: it ran longer than %u ms.", static_cast<unsigned>(timeBudgetMs_));
  } else if (exhausted == RunFailure::Stopped) {
    LogLine(u"Script stopped: its job was stopped.");
  } else if (exhausted == RunFailure::OutOfMemory) {
    CDebugLog::GetInstance().Printf(u"Script stopped: its heap of %u bytes ran out.",
                                    static_cast<unsigned>(memoryBudget_));
  }
  if (exhausted != RunFailure::None) {
    lastFailure_ = exhausted;
    return false;
  }
  if (!finished) lastFailure_ = RunFailure::Exception;
  return finished;
}

void CJScriptInterpreter::ReportException(const std::u16string& script) noexcept {
  // The thrown value is on the stack top.
  LogLine(u"exception:");
  ReportData report{&script, record_.get()};
  duk_dup_top(context_);
  if (duk_safe_call(context_, &ReportBody, &report, 1, 1) != DUK_EXEC_SUCCESS) {
    LogLine(u"exception thrown while printing exception");
  }
  duk_pop(context_);
}

bool CJScriptInterpreter::AdoptDocument(Tidy::Document* document) noexcept {
  if (!document) return false;
  try {
    documents_.push_back(document);
    return true;
  } catch (...) {
    Tidy::DestroyDocumentOnHeap(document);
    return false;
  }
}

// ---- Helpers ----------------------------------------------------------------------

bool SafePushScriptText(duk_context* ctx, std::string_view text) noexcept {
  if (!duk_check_stack(ctx, 2)) return false;
  return duk_safe_call(ctx, &PushTextBody, &text, 0, 1) == DUK_EXEC_SUCCESS;
}

std::string ToScriptText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) AppendCesu(out, unit);
  return out;
}

std::string Utf8ToScriptText(std::string_view utf8) {
  bool ascii = true;
  for (char c : utf8) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(utf8);
  return ToScriptText(plat::Utf8ToUtf16(utf8));
}

std::u16string FromScriptText(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  auto continuation = [&](std::size_t k) { return k < n && (byte(k) & 0xC0) == 0x80; };
  while (i < n) {
    unsigned char b = byte(i);
    if (b < 0x80) {
      out += static_cast<char16_t>(b);
      ++i;
    } else if (b >= 0xC2 && b < 0xE0 && continuation(i + 1)) {
      out += static_cast<char16_t>(((b & 0x1F) << 6) | (byte(i + 1) & 0x3F));
      i += 2;
    } else if (b >= 0xE0 && b < 0xF0 && continuation(i + 1) && continuation(i + 2)) {
      char32_t c = ((b & 0x0F) << 12) | ((byte(i + 1) & 0x3F) << 6) | (byte(i + 2) & 0x3F);
      out += c < 0x800 ? u'\xFFFD' : static_cast<char16_t>(c);  // surrogates pass one by one
      i += 3;
    } else if (b >= 0xF0 && b < 0xF5 && continuation(i + 1) && continuation(i + 2) && continuation(i + 3)) {
      char32_t c = ((b & 0x07) << 18) | ((byte(i + 1) & 0x3F) << 12) | ((byte(i + 2) & 0x3F) << 6) |
                   (byte(i + 3) & 0x3F);
      if (c < 0x10000 || c > 0x10FFFF) {
        out += u'\xFFFD';
      } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 | (c >> 10));
        out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
      }
      i += 4;
    } else {
      out += u'\xFFFD';
      ++i;
    }
  }
  return out;
}

std::u16string FormatTraceFrame(const ScriptTraceFrame& frame) {
  std::u16string line = u"  " + frame.location + u": ";
  switch (frame.kind) {
    case ScriptTraceFrame::Kind::NoCallee:
      line += u"?";
      break;
    case ScriptTraceFrame::Kind::Construct:
      line += u"new ";
      line += frame.className.empty() ? u"?" : frame.className;
      break;
    case ScriptTraceFrame::Kind::Call:
      line += u"call ";
      line += frame.name.empty() ? u"<anonymous function>" : frame.name + u"()";
      break;
    case ScriptTraceFrame::Kind::Other: {
      char address[32];
      std::snprintf(address, sizeof address, "%p", frame.object);
      line += u"<object ";
      line += plat::Latin1ToUtf16(address);
      if (!frame.standardName.empty()) {
        line += u" (" + frame.standardName + u")";
      } else if (!frame.className.empty()) {
        line += u" \"" + frame.className + u"\"";
      }
      line += u">";
      break;
    }
  }
  return line;
}

bool FindReportedScriptLine(const std::u16string& script, long line, std::u16string& piece) {
  long count = 0;
  std::size_t begin = 0;
  while (begin <= script.size()) {
    std::size_t end = script.find(u'\n', begin);
    if (end == std::u16string::npos) end = script.size();
    std::size_t first = begin;
    std::size_t last = end;
    while (first < last && plat::IsAsciiSpace(script[first])) ++first;
    while (last > first && plat::IsAsciiSpace(script[last - 1])) --last;
    std::u16string_view trimmed(script.data() + first, last - first);
    if (trimmed.substr(0, 2) != u"//" && ++count == line) {
      piece.assign(trimmed);
      return true;
    }
    if (end == script.size()) break;
    begin = end + 1;
  }
  return false;
}
