#include "update/script/JScriptInterpreter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <vector>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/VORegistry.h"
#include "platform/base/Text.h"
#include "platform/base/Time.h"
#include "platform/files/Files.h"
#include "platform/windows/Windows.h"
#include "tests/support/TempDevice.h"
#include "update/script/ScriptDocumentModel.h"

namespace {

// A clock whose tick count moves on by a step at every reading, so a script
// that never ends sees its time budget pass without the test waiting.
class SteppingClock : public plat::IClock {
 public:
  explicit SteppingClock(plat::DWORD step) : step_(step) {}
  plat::ULONGLONG NowUtcFileTime() override { return 129067776000000000ull; }
  plat::DWORD TickCount() override { return tick_.fetch_add(step_); }
  void Sleep(plat::DWORD) override {}

 private:
  plat::DWORD step_;
  std::atomic<plat::DWORD> tick_{1000};
};

class JScriptTest : public orvtest::DeviceTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateFolderTree(GetModuleFolder()));
    ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DeveloperMode", 1));
    plat::SetMessageBoxAnswerer([this](plat::HWND owner, const std::u16string& text, const std::u16string& caption,
                                       plat::UINT type) {
      boxes_.push_back({owner, plat::Utf16ToUtf8(text), plat::Utf16ToUtf8(caption), type});
      return plat::IDOK;
    });
  }
  void TearDown() override {
    plat::SetMessageBoxAnswerer(nullptr);
    plat::SetClock(nullptr);
  }

  // The log's lines from the first one written after `from` lines.
  static std::vector<std::string> LogLines(std::size_t from = 0) {
    std::string host = plat::HostPathFromDevicePath(CDebugLog::GetInstance().GetPath());
    std::istringstream in(orvtest::ReadHostFile(host));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    if (from >= lines.size()) return {};
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end());
  }
  static std::size_t LogSize() { return LogLines().size(); }

  // Runs a script and gives the log lines it wrote.
  std::vector<std::string> Run(const std::string& script, bool* result = nullptr) {
    std::size_t before = LogSize();
    bool ok = interpreter_.Execute(plat::Utf8ToUtf16(script));
    if (result) *result = ok;
    return LogLines(before);
  }

  struct Box {
    plat::HWND owner;
    std::string text;
    std::string caption;
    plat::UINT type;
  };
  std::vector<Box> boxes_;
  CJScriptInterpreter interpreter_;
};

// ---- alert and log ------------------------------------------------------------

struct JoinCase {
  const char* name;
  const char* arguments;
  const char* expected;
};

const JoinCase kJoinCases[] = {
    {"StringNumberBoolean", "'a', 1, true", "a1true"},
    {"NoArguments", "", ""},
    {"NullUndefinedAndObjects", "null, undefined, {toString: function () { return 'obj'; }}, [1, 2]",
     "nullundefinedobj1,2"},
    {"NonAsciiAndSurrogatePair", "'\\u00e9', String.fromCharCode(0xD83D, 0xDE00)", "\xC3\xA9\xF0\x9F\x98\x80"},
};

class JScriptJoin : public JScriptTest, public ::testing::WithParamInterface<JoinCase> {};

TEST_P(JScriptJoin, AlertLogsTheJoinedArgumentsAndNeverWaitsForABox) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  bool ok = false;
  std::vector<std::string> lines = Run(std::string("alert(") + GetParam().arguments + "); log('after');", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(lines, (std::vector<std::string>{std::string("alert: ") + GetParam().expected, "after"}));
  EXPECT_TRUE(boxes_.empty());
}

TEST_P(JScriptJoin, LogWritesTheJoinedArgumentsAsOneLine) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  bool ok = false;
  std::vector<std::string> lines = Run(std::string("log(") + GetParam().arguments + ");", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(lines, std::vector<std::string>{GetParam().expected});
  EXPECT_TRUE(boxes_.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, JScriptJoin, ::testing::ValuesIn(kJoinCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JScriptTest, GlobalsAreNotEnumeratedAndDeclareTheirLength) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  std::vector<std::string> lines = Run(
      "var names = [];\n"
      "for (var k in this) if (/^(alert|log|Document|Article)$/.test(k)) names.push(k);\n"
      "log(names.join(','));\n"
      "log(alert.length, log.length, typeof Document, typeof Article, typeof Duktape);");
  EXPECT_EQ(lines, (std::vector<std::string>{"", "11functionfunctionundefined"}));
}

TEST_F(JScriptTest, NativeFunctionGivenBadArgumentsThrowsAScriptError) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  // A symbol has no string value: the native function fails with a script
  // error that the script can catch.
  std::vector<std::string> lines = Run(
      "try { log(Symbol('s')); } catch (e) { log('caught ', e.name); }\n"
      "try { alert('x', Symbol('t')); } catch (e) { log('caught ', e.name); }");
  EXPECT_EQ(lines, (std::vector<std::string>{"caught TypeError", "caught TypeError"}));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(JScriptTest, ExecuteBeforeInitFails) {
  EXPECT_FALSE(interpreter_.Execute(u"log('x');"));
  EXPECT_EQ(interpreter_.GetLastFailure(), CJScriptInterpreter::RunFailure::NotInitialised);
  EXPECT_EQ(interpreter_.GetContext(), nullptr);
}

TEST_F(JScriptTest, StateLastsFromOneRunToTheNext) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));  // a second Init keeps the interpreter
  bool ok = false;
  Run("var counter = 41;", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(Run("counter++; log(counter);", &ok), std::vector<std::string>{"42"});
  EXPECT_TRUE(ok);
}

// ---- Exception report -----------------------------------------------------------

struct ReportCase {
  const char* name;
  const char* script;
  std::vector<std::string> expected;
};

const ReportCase kReportCases[] = {
    {"CommentLinesAreNotCounted",
     "// first line is a comment\nvar x = 1;\nthrow new Error('bad');\nvar y = 2;",
     {"exception:", "  Error: bad", "  code: var y = 2;", "traceback:", "  script:3: ?"}},
    {"LineCountedFromTheTop",
     "var x = 1;\n   throw 'plain';   \nx = 2;",
     {"exception:", "  plain", "  code: throw 'plain';", "traceback:", "  script:2: ?"}},
    {"LineBeyondTheCountedPiecesShowsNoCode",
     "// a\n// b\nvar x = 1;\nthrow 7;",
     {"exception:", "  7", "traceback:", "  script:4: ?"}},
    {"CallsInnermostFirst",
     "function inner() { throw new TypeError('t'); }\nfunction outer() { inner(); }\nouter();",
     {"exception:", "  TypeError: t", "  code: function inner() { throw new TypeError('t'); }", "traceback:",
      "  script:1: call inner()", "  script:2: call outer()", "  script:3: ?"}},
    {"Construction",
     "function Thing() { throw 1; }\nnew Thing();",
     {"exception:", "  1", "  code: function Thing() { throw 1; }", "traceback:", "  script:1: new Function",
      "  script:2: ?"}},
    {"AnonymousFunctionCalledByANative",
     "var v = 0;\n[1].map(function (v) {\n  throw 'in map';\n});",
     {"exception:", "  in map", "  code: throw 'in map';", "traceback:", "  script:3: call <anonymous function>",
      "  native: call map()", "  script:4: ?"}},
    {"ErrorOfANativeFunction",
     "var s = Symbol();\nlog(s);",
     {"exception:", "  TypeError: cannot string coerce Symbol", "  code: log(s);", "traceback:",
      "  native: call log()", "  script:2: ?"}},
    {"ExceptionCaughtAndAnotherThrown",
     "try { throw 'first'; } catch (e) {}\nthrow 'second';",
     {"exception:", "  second", "  code: throw 'second';", "traceback:", "  script:2: ?"}},
    {"ConversionThatThrowsAgain",
     "throw { toString: function () { throw 'again'; } };",
     {"exception:", "exception thrown while printing exception"}},
    {"FunctionNameThatThrows",
     "function f() { throw 'x'; }\n"
     "Object.defineProperty(f, 'name', { get: function () { throw 'no name'; } });\nf();",
     {"exception:", "  x", "  code: function f() { throw 'x'; }", "traceback:",
      "exception thrown while printing exception"}},
};

class JScriptReport : public JScriptTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(JScriptReport, UncaughtExceptionIsLoggedAndTheInterpreterStaysUsable) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  bool ok = true;
  EXPECT_EQ(Run(GetParam().script, &ok), GetParam().expected);
  EXPECT_FALSE(ok);
  EXPECT_EQ(interpreter_.GetLastFailure(), CJScriptInterpreter::RunFailure::Exception);
  EXPECT_EQ(Run("log('after');", &ok), std::vector<std::string>{"after"});
  EXPECT_TRUE(ok);
  EXPECT_EQ(interpreter_.GetLastFailure(), CJScriptInterpreter::RunFailure::None);
}

INSTANTIATE_TEST_SUITE_P(Cases, JScriptReport, ::testing::ValuesIn(kReportCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JScriptTest, SyntaxErrorIsReportedWithItsLine) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  bool ok = true;
  std::vector<std::string> lines = Run("var fine = 1;\nvar = 2;\nlog('never');", &ok);
  EXPECT_FALSE(ok);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "exception:");
  EXPECT_EQ(lines[1].rfind("  SyntaxError", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "  code: var = 2;");
  EXPECT_EQ(lines[3], "traceback:");
}

struct PieceCase {
  const char* name;
  std::u16string script;
  long line;
  bool found;
  std::u16string piece;
};

const PieceCase kPieceCases[] = {
    {"FirstLine", u"a();\nb();", 1, true, u"a();"},
    {"TrimmedBothEnds", u"a();\n\t  b();  \r\nc();", 2, true, u"b();"},
    {"CommentsSkipped", u"// x\n  // y\na();\n//z\nb();", 2, true, u"b();"},
    {"EmptyPiecesCount", u"a();\n\n\nb();", 4, true, u"b();"},
    {"CommentAfterCodeCounts", u"a(); // note\nb();", 1, true, u"a(); // note"},
    {"TooFewPieces", u"// x\na();", 2, false, u""},
    {"LineZero", u"a();", 0, false, u""},
};

class JScriptPiece : public ::testing::TestWithParam<PieceCase> {};

TEST_P(JScriptPiece, ReportedLineSkipsCommentPieces) {
  std::u16string piece;
  EXPECT_EQ(FindReportedScriptLine(GetParam().script, GetParam().line, piece), GetParam().found);
  if (GetParam().found) {
    EXPECT_EQ(piece, GetParam().piece);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, JScriptPiece, ::testing::ValuesIn(kPieceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JScriptTraceFrame, EachKindOfFrameIsDescribed) {
  using Kind = ScriptTraceFrame::Kind;
  ScriptTraceFrame frame;
  frame.location = u"script:4";
  frame.kind = Kind::NoCallee;
  EXPECT_EQ(FormatTraceFrame(frame), u"  script:4: ?");
  frame.kind = Kind::Construct;
  EXPECT_EQ(FormatTraceFrame(frame), u"  script:4: new ?");
  frame.className = u"Function";
  EXPECT_EQ(FormatTraceFrame(frame), u"  script:4: new Function");
  frame.kind = Kind::Call;
  EXPECT_EQ(FormatTraceFrame(frame), u"  script:4: call <anonymous function>");
  frame.name = u"parse";
  EXPECT_EQ(FormatTraceFrame(frame), u"  script:4: call parse()");

  int object = 0;
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<void*>(&object));
  std::u16string at = plat::Latin1ToUtf16(address);
  frame.kind = Kind::Other;
  frame.object = &object;
  frame.className = u"";
  EXPECT_EQ(FormatTraceFrame(frame), u"  script:4: <object " + at + u">");
  frame.className = u"Node";
  EXPECT_EQ(FormatTraceFrame(frame), u"  script:4: <object " + at + u" \"Node\">");
  frame.standardName = u"Math";
  EXPECT_EQ(FormatTraceFrame(frame), u"  script:4: <object " + at + u" (Math)>");
}

// ---- Budgets --------------------------------------------------------------------

struct EndlessCase {
  const char* name;
  const char* script;
};

const EndlessCase kEndlessCases[] = {
    {"PlainLoop", "for (;;) {}"},
    {"LoopThatCatchesEverything", "while (true) { try { for (;;) {} } catch (e) { log('caught'); } }"},
    {"LoopInFinally", "try { for (;;) {} } finally { for (;;) {} }"},
    {"LoopInsideANativeCallback", "[1, 2].forEach(function () { for (;;) {} });"},
    // One call of a built-in that runs for minutes without coming back to
    // the interpreter loop.
    {"JoinOfAHugeSparseArray", "var a = []; a.length = 4294967295; a.join(',');"},
    {"JoinInsideATry", "try { var a = []; a.length = 4294967295; a.join(','); } catch (e) { for (;;) {} }"},
};

class JScriptEndless : public JScriptTest, public ::testing::WithParamInterface<EndlessCase> {};

TEST_P(JScriptEndless, ScriptThatNeverEndsFailsOnItsTimeBudget) {
  SteppingClock clock(50);
  plat::SetClock(&clock);
  interpreter_.SetBudget(2000, CJScriptInterpreter::kDefaultMemoryBudget);
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  bool ok = true;
  std::vector<std::string> lines = Run(GetParam().script, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(interpreter_.GetLastFailure(), CJScriptInterpreter::RunFailure::OutOfTime);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Script stopped: it ran longer than 2000 ms.");
  for (const std::string& line : lines) EXPECT_NE(line, "caught");  // the stop cannot be caught
  // The next run has a budget of its own.
  EXPECT_EQ(Run("log('next');", &ok), std::vector<std::string>{"next"});
  EXPECT_TRUE(ok);
}

INSTANTIATE_TEST_SUITE_P(Cases, JScriptEndless, ::testing::ValuesIn(kEndlessCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct GreedyCase {
  const char* name;
  const char* script;
};

const GreedyCase kGreedyCases[] = {
    {"GrowingArray", "var a = []; for (var i = 0; ; ++i) a.push('item ' + i + new Array(64).join('x'));"},
    {"GrowingString", "var s = 'x'; for (;;) s = s + s;"},
    {"CatchingAndRetrying",
     "var keep = [];\n"
     "for (;;) { try { for (;;) keep.push(new Array(256).join('y') + keep.length); } catch (e) { log('caught'); } }"},
};

class JScriptGreedy : public JScriptTest, public ::testing::WithParamInterface<GreedyCase> {};

TEST_P(JScriptGreedy, ScriptThatAllocatesWithoutEndFailsOnItsMemoryBudget) {
  // The heap is under test: a time budget that a loaded machine cannot reach
  // first (filling the heap near its end collects garbage at every step).
  interpreter_.SetBudget(120000, 2 * 1024 * 1024);
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  bool ok = true;
  std::vector<std::string> lines = Run(GetParam().script, &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(interpreter_.GetLastFailure(), CJScriptInterpreter::RunFailure::OutOfMemory);
  EXPECT_TRUE(interpreter_.HasRunOutOfMemory());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Script stopped: its heap of 2097152 bytes ran out.");
  EXPECT_LE(interpreter_.GetHeap()->GetUsedSize(), 2u * 1024 * 1024);
  // Exhaustion is final: the interpreter runs nothing more, and its
  // destruction (end of the test) releases everything.
  EXPECT_EQ(Run("log('more');", &ok), std::vector<std::string>{"Script interpreter has run out of memory."});
  EXPECT_FALSE(ok);
}

INSTANTIATE_TEST_SUITE_P(Cases, JScriptGreedy, ::testing::ValuesIn(kGreedyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(JScriptTest, InterpreterTooSmallForItsOwnSetUpFailsInit) {
  interpreter_.SetBudget(1000, 4 * 1024);
  EXPECT_FALSE(interpreter_.Init(&RegisterScriptDocumentModel));
  EXPECT_EQ(interpreter_.GetContext(), nullptr);
  EXPECT_FALSE(interpreter_.Execute(u"log(1);"));
}

// ---- Article and protected calls ------------------------------------------------

TEST_F(JScriptTest, ArticleIsAnEmptyObjectOfClassArticle) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  std::vector<std::string> lines = Run(
      "var a = new Article(); var b = Article();\n"
      "var keys = []; for (var k in a) keys.push(k);\n"
      "log(Object.prototype.toString.call(a), ' ', Object.prototype.toString.call(b), ' ', keys.length, ' ',\n"
      "    Object.getPrototypeOf(a) === Object.prototype, ' ', a === b);\n"
      "a.header = 'Title'; article = a; plain = {};");
  EXPECT_EQ(lines, std::vector<std::string>{"[object Article] [object Article] 0 true false"});

  struct Probe {
    bool article = false;
    bool plain = true;
    std::string header;
  } probe;
  ASSERT_TRUE(interpreter_.RunProtected(
      [](duk_context* ctx, void* data) -> duk_ret_t {
        Probe* p = static_cast<Probe*>(data);
        duk_get_global_string(ctx, "article");
        p->article = IsArticleObject(ctx, -1);
        duk_get_prop_string(ctx, -1, "header");
        p->header = duk_safe_to_string(ctx, -1);
        duk_get_global_string(ctx, "plain");
        p->plain = IsArticleObject(ctx, -1);
        return 0;
      },
      &probe, "probe"));
  EXPECT_TRUE(probe.article);
  EXPECT_FALSE(probe.plain);
  EXPECT_EQ(probe.header, "Title");
}

TEST_F(JScriptTest, ProtectedCallThatThrowsIsLoggedAndLeavesTheStackAsItWas) {
  ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
  duk_context* ctx = interpreter_.GetContext();
  duk_idx_t top = duk_get_top(ctx);
  std::size_t before = LogSize();
  EXPECT_FALSE(interpreter_.RunProtected(
      [](duk_context* c, void*) -> duk_ret_t {
        duk_push_int(c, 1);
        return duk_error(c, DUK_ERR_TYPE_ERROR, "wrong %s", "thing");
      },
      nullptr, "Reading channel"));
  EXPECT_EQ(LogLines(before), std::vector<std::string>{"Reading channel: TypeError: wrong thing"});
  EXPECT_EQ(duk_get_top(ctx), top);
  EXPECT_EQ(CJScriptInterpreter::FromContext(ctx), &interpreter_);
}

// ---- Text conversion -------------------------------------------------------------

TEST(JScriptText, ConversionsKeepEveryCodeUnit) {
  const std::u16string samples[] = {u"", u"plain", u"\u00e9t\u00e9 \u20ac", u"\U0001F600 pair",
                                    std::u16string(1, u'\xD800') + u"lone"};
  for (const std::u16string& text : samples) {
    std::string script = ToScriptText(text);
    EXPECT_EQ(FromScriptText(script), text);
  }
  // Surrogates are encoded one by one, as the engine keeps them.
  EXPECT_EQ(ToScriptText(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
  // Four-byte UTF-8 is read as a pair; bad bytes become U+FFFD.
  EXPECT_EQ(FromScriptText("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(FromScriptText("a\xFF" "b\xC3"), u"a\uFFFDb\uFFFD");
  EXPECT_EQ(Utf8ToScriptText("\xF0\x9F\x98\x80"), "\xED\xA0\xBD\xED\xB8\x80");
  EXPECT_EQ(Utf8ToScriptText("ascii"), "ascii");
}

}  // namespace
