#include "update/script/ScriptDocumentModel.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/DebugLog.h"
#include "core/FileUtils.h"
#include "core/VORegistry.h"
#include "platform/base/Text.h"
#include "platform/files/Files.h"
#include "tools/loopback/HttpTestServer.h"
#include "tests/update/InetTestSupport.h"
#include "update/script/JScriptInterpreter.h"

namespace {

const char kPage[] =
    "<html><head><title>Fixture</title></head><body>"
    "<div id=\"main\" class=\"box\"><p class=\"a\">One <b>bold</b></p><p class=\"a b\">Two</p>"
    "<a href=\"x.html\">link</a><ul><li>i1</li><li>i2</li><li>i3</li></ul></div>"
    "</body></html>";

class ScriptDocumentTest : public orvtest::InetTest {
 protected:
  void SetUp() override {
    orvtest::InetTest::SetUp();
    ASSERT_TRUE(CreateFolderTree(GetModuleFolder()));
    ASSERT_TRUE(OpenSettingsKey().SetDWORD(u"DeveloperMode", 1));
    server_.Serve("/page.html", kPage, "text/html; charset=utf-8");
    manager_->GetWinInet().SetTimeout(3000);
    session_ = std::make_unique<CInetSession>(&listener_, true, manager_.get());
    ASSERT_TRUE(session_->WaitForConnection());
    ASSERT_TRUE(interpreter_.Init(&RegisterScriptDocumentModel));
    interpreter_.SetInetSession(session_.get());
  }
  void TearDown() override {
    interpreter_.SetInetSession(nullptr);
    orvtest::InetTest::TearDown();
  }

  static std::vector<std::string> LogLines() {
    std::string host = plat::HostPathFromDevicePath(CDebugLog::GetInstance().GetPath());
    std::istringstream in(orvtest::ReadHostFile(host));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  // Runs the script with URL replaced by the page's address; the last log line.
  std::string Run(std::string script, bool* ok = nullptr) {
    std::string url = server_.Url("/page.html");
    for (std::size_t at; (at = script.find("URL")) != std::string::npos;) script.replace(at, 3, url);
    bool result = interpreter_.Execute(plat::Utf8ToUtf16(script));
    if (ok) *ok = result;
    std::vector<std::string> lines = LogLines();
    return lines.empty() ? std::string() : lines.back();
  }

  orvtest::HttpTestServer server_;
  CJScriptInterpreter interpreter_;
};

struct NodeCase {
  const char* name;
  const char* expression;
  const char* expected;
};

const NodeCase kNodeCases[] = {
    {"OneObjectPerNode", "d.firstChild === d.firstChild && d.all[3] === d.all[3]", "true"},
    {"AllIsCachedAndKeepsChanges", "(d.all.mark = 7, d.all === d.all && d.all.mark)", "7"},
    {"RootIsTheDocument", "d.nodeType + ',' + d.nodeName + ',' + d.parentNode + ',' + d.DOCUMENT_NODE", "0,,undefined,0"},
    {"TypeConstants", "d.ELEMENT_NODE + ',' + d.TEXT_NODE + ',' + d.XML_DECLARATION_NODE", "5,4,13"},
    {"TagNameIgnoresCase", "d.getElementsByTagName('P').length + ',' + d.getElementsByTagName('p')[1].innerText", "2,Two"},
    {"ClassMatchesExactly", "d.getElementsByClassName('a').length + ',' + d.getElementsByClassName('a b').length", "1,1"},
    {"ById", "d.getElementsById('main')[0].nodeName", "div"},
    {"ByAttrWithoutTagOrValue", "d.getElementsByAttr(undefined, 'href', null).length", "1"},
    {"ByAttrAllFilters", "d.getElementsByAttr('P', 'class', 'a b')[0].innerText", "Two"},
    {"ByAttrNeedsThreeArguments", "d.getElementsByAttr('p', 'class')", "undefined"},
    {"TextNode", "(function (t) { return t.nodeName + '|' + t.nodeType + '|' + t.innerText; })"
                 "(d.getElementsByTagName('b')[0].firstChild)", "|4|bold"},
    {"ToStringWithoutAttributes", "String(d.getElementsByTagName('b')[0])", "<b >"},
    {"ToStringWithAttributes", "String(d.getElementsById('main')[0])", "<div id=\"main\", class=\"box\">"},
    {"Attributes", "(function (m) { var at = m.attributes; at.id = 'changed'; return at.id + ',' + at['class'] + ',' +"
                   " (at === m.attributes); })(d.getElementsById('main')[0])", "main,box,true"},
    {"GetAttribute", "(function (m) { return m.getAttribute('ID') + ',' + m.getAttribute('none') + ',' +"
                     " m.getAttribute(); })(d.getElementsById('main')[0])", "main,undefined,undefined"},
    {"AddressesMadeAbsolute", "d.getElementsByTagName('a')[0].getAttribute('href') === 'URL'.replace('page.html', 'x.html')",
     "true"},
    {"PropertiesAreReadOnly", "(function (f) { d.firstChild = 5; delete d.firstChild; return (d.firstChild === f) +"
                              " ',' + ('innerHTML' in d); })(d.firstChild)", "true,true"},
    {"PropertiesCannotBeDeleted", "[delete d.firstChild, delete d.nodeName, delete d.all, delete d.getAttribute,"
                                  " delete d.toString, delete d.ELEMENT_NODE, typeof d.getAttribute, d.ELEMENT_NODE,"
                                  " d.hasOwnProperty('innerHTML')].join()",
     "false,false,false,false,false,false,function,5,true"},
    {"StrictDeleteThrows", "(function () { 'use strict'; try { delete d.parentNode; return 'deleted'; }"
                           " catch (e) { return e.name; } })()", "TypeError"},
    {"NoPropertyEnumerated", "(function () { var n = []; for (var k in d) n.push(k); return n.length; })()", "0"},
    {"MethodsMadeAnew", "d.getAttribute !== d.getAttribute", "true"},
    {"Markup", "d.getElementsByTagName('b')[0].outerHTML + '|' + d.getElementsByTagName('p')[0].innerHTML",
     "<b>bold</b>|One <b>bold</b>"},
    {"Siblings", "(function (l) { return l[0].nextSibling.innerText + ',' + l[2].nextSibling + ',' +"
                 " l[1].previousSibling.innerText + ',' + l[0].parentNode.nodeName; })(d.getElementsByTagName('li'))",
     "i2,undefined,i1,ul"},
    {"ListFilters", "d.all.filterTag('LI').length + ',' + d.all.filterClass('a b')[0].innerText + ',' +"
                    " d.all.filterId('main').length + ',' + d.all.filterContent('<LI>I2</LI>').length", "3,Two,1,1"},
    {"ListMethodsNotEnumerated", "(function () { var n = 0; for (var k in d.childNodes) if (isNaN(k)) ++n; return n; })()",
     "0"},
    {"RangeWhole", "(function (u) { return u.childNodes.filterRange(u, undefined, undefined).length; })"
                   "(d.getElementsByTagName('ul')[0])", "3"},
    {"RangeFromStart", "(function (u) { var l = u.childNodes; var r = l.filterRange(u, l[1], null);"
                       " return r.length + r[0].innerText; })(d.getElementsByTagName('ul')[0])", "2i2"},
    {"RangeStopBeforeStart", "(function (u) { var l = u.childNodes; return l.filterRange(u, l[2], l[0]).length; })"
                             "(d.getElementsByTagName('ul')[0])", "0"},
    {"RangeToStop", "(function (u) { var l = u.childNodes; return l.filterRange(u, undefined, l[1]).length; })"
                    "(d.getElementsByTagName('ul')[0])", "2"},
    {"RangeStartNotAChild", "(function (u) { try { u.childNodes.filterRange(u, d.getElementsByTagName('p')[0], null); }"
                            " catch (e) { return e.message; } })(d.getElementsByTagName('ul')[0])",
     "filterRange: start node is not a child"},
    {"RangeStopNotAChild", "(function (u) { try { u.childNodes.filterRange(u, null, d.firstChild); }"
                           " catch (e) { return e.message; } })(d.getElementsByTagName('ul')[0])",
     "filterRange: stop node is not a child"},
    {"RangeParentNotANode", "d.childNodes.filterRange({}, null, null)", "undefined"},
    {"RangeOfAnEmptyList", "d.getElementsByTagName('none').filterRange({}, null, null).length", "0"},
    {"RangeNeedsThreeArguments", "d.childNodes.filterRange(d, null)", "undefined"},
    {"MethodOnANonNodeThrows", "(function () { try { d.getAttribute.call({}, 'id'); } catch (e) { return e.name; } })()",
     "TypeError"},
    {"GetterOnThePrototypeThrows", "(function () { try { return Object.getPrototypeOf(d).firstChild; }"
                                   " catch (e) { return e.name; } })()", "TypeError"},
    {"ListFilterOnANonListThrows", "(function () { try { d.all.filterTag.call(5, 'p'); } catch (e) { return e.name; } })()",
     "TypeError"},
    {"ClassOfNodes", "Object.prototype.toString.call(d)", "[object Node]"},
};

class ScriptDocumentNode : public ScriptDocumentTest, public ::testing::WithParamInterface<NodeCase> {};

TEST_P(ScriptDocumentNode, OperationGivesItsValue) {
  bool ok = false;
  std::string line = Run(std::string("var d = new Document('URL');\nlog(") + GetParam().expression + ");", &ok);
  EXPECT_TRUE(ok) << ::testing::PrintToString(LogLines());
  EXPECT_EQ(line, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScriptDocumentNode, ::testing::ValuesIn(kNodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ScriptDocumentTest, DocumentWithoutAPageGivesUndefined) {
  EXPECT_EQ(Run("log(Document(), ',', Document(5), ',', Document('   '), ',', Document('URL'.replace('page', 'missing')),"
                " ',', typeof Document(' URL '));"),
            "undefined,undefined,undefined,undefined,object");
}

TEST_F(ScriptDocumentTest, NewDocumentWithoutAPageGivesUndefined) {
  // Called with new as templates do: a page that cannot be opened gives
  // undefined, which a script tests as false; a page that opens gives its root.
  EXPECT_EQ(Run("var missing = new Document('URL'.replace('page', 'missing'));\n"
                "log(typeof new Document(), ',', new Document(5), ',', new Document('   '), ',', typeof missing, ',',"
                " !missing, ',', new Document('URL').nodeType, ',', typeof new Article());"),
            "undefined,undefined,undefined,undefined,true,0,object");
}

TEST_F(ScriptDocumentTest, NodesHeldByTheScriptOutliveTheWalk) {
  bool ok = false;
  Run("var kept = new Document('URL').getElementsByTagName('li');\n"
      "var marked = kept[0]; marked.custom = 'mark'; marked = null;",
      &ok);
  ASSERT_TRUE(ok);
  // Collect garbage between the runs: only the script's references remain.
  ASSERT_TRUE(interpreter_.RunProtected(
      [](duk_context* ctx, void*) -> duk_ret_t {
        duk_gc(ctx, 0);
        duk_gc(ctx, 0);
        return 0;
      },
      nullptr, "gc"));
  EXPECT_EQ(Run("log(kept[1].innerText, kept[1].parentNode.nodeName, kept[0].custom,"
                " kept[2].parentNode.childNodes[0] === kept[0]);", &ok),
            "i2ulmarktrue");
  EXPECT_TRUE(ok);
}

}  // namespace
