// The resource compiler: ".rc" text to a resource image (see ResourceImage.h).
#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "platform/base/Text.h"
#include "platform/resources/ResourceImage.h"
#include "platform/resources/Resources.h"
#include "tools/rc/ResourceCompiler.h"

namespace plat {

namespace {

// Thrown inside the compiler only; CompileResourceScript turns it into an error result.
struct CompileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

bool ReadHost(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  out = ss.str();
  return true;
}

std::string DirOf(const std::string& path) {
  std::size_t s = path.rfind('/');
  return s == std::string::npos ? std::string(".") : path.substr(0, s);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  std::string n = name;
  std::replace(n.begin(), n.end(), '\\', '/');
  return dir.empty() ? n : dir + "/" + n;
}

// Text in UTF-8, or UTF-16 LE with its byte-order mark.
std::string ToUtf8Text(const std::string& raw) {
  if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF && static_cast<unsigned char>(raw[1]) == 0xFE) {
    std::u16string u;
    for (std::size_t i = 2; i + 1 < raw.size(); i += 2)
      u.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) | (static_cast<unsigned char>(raw[i + 1]) << 8)));
    return Utf16ToUtf8(u);
  }
  if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) return raw.substr(3);
  return raw;
}

// Constants of the platform that resource scripts name in styles.
const std::map<std::string, long long>& BuiltInConstants() {
  static const std::map<std::string, long long> table = {
      {"WS_OVERLAPPED", 0x00000000}, {"WS_POPUP", 0x80000000LL}, {"WS_CHILD", 0x40000000}, {"WS_MINIMIZE", 0x20000000},
      {"WS_VISIBLE", 0x10000000},    {"WS_DISABLED", 0x08000000}, {"WS_CLIPSIBLINGS", 0x04000000},
      {"WS_CLIPCHILDREN", 0x02000000}, {"WS_MAXIMIZE", 0x01000000}, {"WS_CAPTION", 0x00C00000},
      {"WS_BORDER", 0x00800000},     {"WS_DLGFRAME", 0x00400000}, {"WS_VSCROLL", 0x00200000}, {"WS_HSCROLL", 0x00100000},
      {"WS_SYSMENU", 0x00080000},    {"WS_THICKFRAME", 0x00040000}, {"WS_GROUP", 0x00020000}, {"WS_TABSTOP", 0x00010000},
      {"WS_MINIMIZEBOX", 0x00020000}, {"WS_MAXIMIZEBOX", 0x00010000},
      {"WS_EX_DLGMODALFRAME", 0x00000001}, {"WS_EX_TOPMOST", 0x00000008}, {"WS_EX_TRANSPARENT", 0x00000020},
      {"WS_EX_TOOLWINDOW", 0x00000080}, {"WS_EX_WINDOWEDGE", 0x00000100}, {"WS_EX_CLIENTEDGE", 0x00000200},
      {"WS_EX_CONTEXTHELP", 0x00000400}, {"WS_EX_STATICEDGE", 0x00020000}, {"WS_EX_CONTROLPARENT", 0x00010000},
      {"WS_EX_NOANIMATION", 0x04000000}, {"WS_EX_CAPTIONOKBTN", 0x80000000LL},
      {"DS_ABSALIGN", 0x01}, {"DS_SYSMODAL", 0x02}, {"DS_3DLOOK", 0x04}, {"DS_FIXEDSYS", 0x08}, {"DS_NOFAILCREATE", 0x10},
      {"DS_LOCALEDIT", 0x20}, {"DS_SETFONT", 0x40}, {"DS_MODALFRAME", 0x80}, {"DS_NOIDLEMSG", 0x100},
      {"DS_SETFOREGROUND", 0x200}, {"DS_CONTROL", 0x400}, {"DS_CENTER", 0x800}, {"DS_CENTERMOUSE", 0x1000},
      {"DS_CONTEXTHELP", 0x2000}, {"DS_SHELLFONT", 0x48},
      {"BS_PUSHBUTTON", 0x0}, {"BS_DEFPUSHBUTTON", 0x1}, {"BS_CHECKBOX", 0x2}, {"BS_AUTOCHECKBOX", 0x3},
      {"BS_RADIOBUTTON", 0x4}, {"BS_3STATE", 0x5}, {"BS_AUTO3STATE", 0x6}, {"BS_GROUPBOX", 0x7},
      {"BS_USERBUTTON", 0x8}, {"BS_AUTORADIOBUTTON", 0x9}, {"BS_OWNERDRAW", 0xB}, {"BS_LEFTTEXT", 0x20},
      {"BS_TEXT", 0x0}, {"BS_ICON", 0x40}, {"BS_BITMAP", 0x80}, {"BS_LEFT", 0x100}, {"BS_RIGHT", 0x200},
      {"BS_CENTER", 0x300}, {"BS_TOP", 0x400}, {"BS_BOTTOM", 0x800}, {"BS_VCENTER", 0xC00}, {"BS_PUSHLIKE", 0x1000},
      {"BS_MULTILINE", 0x2000}, {"BS_NOTIFY", 0x4000}, {"BS_FLAT", 0x8000},
      {"ES_LEFT", 0x0}, {"ES_CENTER", 0x1}, {"ES_RIGHT", 0x2}, {"ES_MULTILINE", 0x4}, {"ES_UPPERCASE", 0x8},
      {"ES_LOWERCASE", 0x10}, {"ES_PASSWORD", 0x20}, {"ES_AUTOVSCROLL", 0x40}, {"ES_AUTOHSCROLL", 0x80},
      {"ES_NOHIDESEL", 0x100}, {"ES_COMBOBOX", 0x200}, {"ES_OEMCONVERT", 0x400}, {"ES_READONLY", 0x800},
      {"ES_WANTRETURN", 0x1000}, {"ES_NUMBER", 0x2000},
      {"SS_LEFT", 0x0}, {"SS_CENTER", 0x1}, {"SS_RIGHT", 0x2}, {"SS_ICON", 0x3}, {"SS_BLACKRECT", 0x4},
      {"SS_GRAYRECT", 0x5}, {"SS_WHITERECT", 0x6}, {"SS_BLACKFRAME", 0x7}, {"SS_GRAYFRAME", 0x8},
      {"SS_WHITEFRAME", 0x9}, {"SS_LEFTNOWORDWRAP", 0xC}, {"SS_BITMAP", 0xE}, {"SS_OWNERDRAW", 0xD},
      {"SS_NOPREFIX", 0x80}, {"SS_NOTIFY", 0x100}, {"SS_CENTERIMAGE", 0x200}, {"SS_REALSIZEIMAGE", 0x800},
      {"SS_SUNKEN", 0x1000}, {"SS_ENDELLIPSIS", 0x4000},
      {"LBS_NOTIFY", 0x1}, {"LBS_SORT", 0x2}, {"LBS_NOREDRAW", 0x4}, {"LBS_MULTIPLESEL", 0x8},
      {"LBS_OWNERDRAWFIXED", 0x10}, {"LBS_OWNERDRAWVARIABLE", 0x20}, {"LBS_HASSTRINGS", 0x40},
      {"LBS_USETABSTOPS", 0x80}, {"LBS_NOINTEGRALHEIGHT", 0x100}, {"LBS_MULTICOLUMN", 0x200},
      {"LBS_WANTKEYBOARDINPUT", 0x400}, {"LBS_EXTENDEDSEL", 0x800}, {"LBS_DISABLENOSCROLL", 0x1000},
      {"LBS_NOSEL", 0x4000}, {"LBS_STANDARD", 0xA00003},
      {"CBS_SIMPLE", 0x1}, {"CBS_DROPDOWN", 0x2}, {"CBS_DROPDOWNLIST", 0x3}, {"CBS_OWNERDRAWFIXED", 0x10},
      {"CBS_OWNERDRAWVARIABLE", 0x20}, {"CBS_AUTOHSCROLL", 0x40}, {"CBS_OEMCONVERT", 0x80}, {"CBS_SORT", 0x100},
      {"CBS_HASSTRINGS", 0x200}, {"CBS_NOINTEGRALHEIGHT", 0x400}, {"CBS_DISABLENOSCROLL", 0x800},
      {"CBS_UPPERCASE", 0x2000}, {"CBS_LOWERCASE", 0x4000},
      {"SBS_HORZ", 0x0}, {"SBS_VERT", 0x1},
      {"IDOK", 1}, {"IDCANCEL", 2}, {"IDABORT", 3}, {"IDRETRY", 4}, {"IDIGNORE", 5}, {"IDYES", 6}, {"IDNO", 7},
      {"IDC_STATIC", -1},
  };
  return table;
}

enum class Tok { End, Word, String, Punct };

struct Token {
  Tok kind = Tok::End;
  std::string text;     // word or punctuation
  std::u16string str;   // string literal
  int line = 0;
};

class Compiler {
 public:
  Compiler(std::string baseDir, std::string fileName) : baseDir_(std::move(baseDir)), fileName_(std::move(fileName)) {}

  void Run(const std::string& text) {
    Preprocess(text, fileName_, 0);
    pos_ = 0;
    while (Peek().kind != Tok::End) Statement();
  }

  ResourceImageBuilder builder;
  std::vector<std::string> inputs;

 private:
  // ---- preprocessing and tokens -------------------------------------------

  [[noreturn]] void Error(const std::string& msg, int line = -1) {
    if (line < 0) line = Peek().line;
    throw CompileError(fileName_ + ":" + std::to_string(line) + ": " + msg);
  }

  void Preprocess(const std::string& raw, const std::string& file, int depth) {
    if (depth > 8) Error("includes nested too deeply");
    std::string text = ToUtf8Text(raw);
    std::vector<bool> active{true};
    std::size_t i = 0;
    int line = 1;
    bool atLineStart = true;
    bool header = file.size() > 2 && (file.compare(file.size() - 2, 2, ".h") == 0);
    while (i < text.size()) {
      char c = text[i];
      if (c == '\n') {
        ++line;
        ++i;
        atLineStart = true;
        continue;
      }
      if (c == ' ' || c == '\t' || c == '\r') {
        ++i;
        continue;
      }
      if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
        while (i < text.size() && text[i] != '\n') ++i;
        continue;
      }
      if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
        std::size_t e = text.find("*/", i + 2);
        if (e == std::string::npos) e = text.size();
        line += static_cast<int>(std::count(text.begin() + static_cast<std::ptrdiff_t>(i), text.begin() + static_cast<std::ptrdiff_t>(e), '\n'));
        i = std::min(text.size(), e + 2);
        continue;
      }
      if (c == '#' && atLineStart) {
        std::size_t e = i;
        std::string directive;
        while (e < text.size() && text[e] != '\n') {
          // Line continuations.
          if (text[e] == '\\' && e + 1 < text.size() && text[e + 1] == '\n') {
            e += 2;
            ++line;
            continue;
          }
          directive.push_back(text[e]);
          ++e;
        }
        Directive(directive, file, depth, active, line);
        i = e;
        continue;
      }
      atLineStart = false;
      if (!active.back() || header) {
        // Inactive text and the body of headers are skipped (headers give #defines only).
        while (i < text.size() && text[i] != '\n') ++i;
        continue;
      }
      Token t;
      t.line = line;
      if (c == '"' || ((c == 'L' || c == 'u') && i + 1 < text.size() && text[i + 1] == '"')) {
        if (c != '"') ++i;
        t.kind = Tok::String;
        t.str = ReadString(text, i, line);
      } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' ) {
        t.kind = Tok::Word;
        while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_' ||
                                   text[i] == '.' || text[i] == '\\' || text[i] == '/'))
          t.text.push_back(text[i++]);
      } else {
        t.kind = Tok::Punct;
        t.text = std::string(1, c);
        ++i;
      }
      tokens_.push_back(t);
    }
    if (active.size() != 1) Error("#if without #endif", line);
  }

  std::u16string ReadString(const std::string& text, std::size_t& i, int line) {
    ++i;  // opening quote
    std::string bytes;
    for (;;) {
      if (i >= text.size() || text[i] == '\n') Error("unterminated string", line);
      char c = text[i++];
      if (c == '"') {
        if (i < text.size() && text[i] == '"') {  // "" is a quote
          bytes.push_back('"');
          ++i;
          continue;
        }
        break;
      }
      if (c != '\\') {
        bytes.push_back(c);
        continue;
      }
      if (i >= text.size()) Error("unterminated string", line);
      char e = text[i++];
      switch (e) {
        case 'n': bytes.push_back('\n'); break;
        case 'r': bytes.push_back('\r'); break;
        case 't': bytes.push_back('\t'); break;
        case 'a': bytes.push_back('\a'); break;
        case '0': bytes.push_back('\0'); break;
        case '\\': bytes.push_back('\\'); break;
        case '"': bytes.push_back('"'); break;
        case 'x': {
          unsigned v = 0;
          int n = 0;
          while (i < text.size() && n < 4 && std::isxdigit(static_cast<unsigned char>(text[i]))) {
            v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : (std::tolower(text[i]) - 'a' + 10));
            ++i;
            ++n;
          }
          std::u16string u(1, static_cast<char16_t>(v));
          bytes += Utf16ToUtf8(u);
          break;
        }
        default: bytes.push_back('\\'); bytes.push_back(e);
      }
    }
    return Utf8ToUtf16(bytes);
  }

  void Directive(const std::string& d, const std::string& file, int depth, std::vector<bool>& active, int line) {
    std::istringstream in(d.substr(1));
    std::string word;
    in >> word;
    if (word == "ifdef" || word == "ifndef") {
      std::string name;
      in >> name;
      bool def = defines_.count(name) || BuiltInConstants().count(name);
      active.push_back(active.back() && (word == "ifdef" ? def : !def));
    } else if (word == "if") {
      std::string rest;
      std::getline(in, rest);
      rest.erase(0, rest.find_first_not_of(" \t"));
      bool value = true;
      if (rest == "0") value = false;
      else if (rest.rfind("defined", 0) == 0) {
        std::string name = rest.substr(7);
        name.erase(std::remove_if(name.begin(), name.end(), [](char ch) { return ch == '(' || ch == ')' || ch == ' '; }), name.end());
        value = defines_.count(name) != 0;
      }
      active.push_back(active.back() && value);
    } else if (word == "else") {
      if (active.size() < 2) Error("#else without #if", line);
      bool outer = active[active.size() - 2];
      active.back() = outer && !active.back();
    } else if (word == "endif") {
      if (active.size() < 2) Error("#endif without #if", line);
      active.pop_back();
    } else if (!active.back()) {
      return;
    } else if (word == "define") {
      std::string name, value;
      in >> name;
      std::getline(in, value);
      std::size_t cmt = value.find("//");
      if (cmt != std::string::npos) value.erase(cmt);
      value.erase(0, value.find_first_not_of(" \t"));
      while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) value.pop_back();
      if (name.find('(') == std::string::npos) defines_[name] = value;
    } else if (word == "undef") {
      std::string name;
      in >> name;
      defines_.erase(name);
    } else if (word == "include") {
      std::string rest;
      std::getline(in, rest);
      std::size_t a = rest.find_first_of("\"<"), b = rest.find_last_of("\">");
      if (a == std::string::npos || b == std::string::npos || b <= a) Error("bad #include", line);
      std::string name = rest.substr(a + 1, b - a - 1);
      std::string path = JoinPath(DirOf(file == fileName_ ? JoinPath(baseDir_, fileName_) : file), name);
      std::string content;
      if (!ReadHost(path, content)) {
        // System headers of the platform are not needed: their names are built in.
        if (rest[a] == '<') return;
        Error("cannot read " + name, line);
      }
      inputs.push_back(path);
      Preprocess(content, path, depth + 1);
    }
    // #pragma and the rest are ignored.
  }

  const Token& Peek(std::size_t ahead = 0) {
    static const Token end;
    return pos_ + ahead < tokens_.size() ? tokens_[pos_ + ahead] : end;
  }
  Token Next() {
    Token t = Peek();
    if (pos_ < tokens_.size()) ++pos_;
    return t;
  }
  bool IsWord(const Token& t, const char* w) { return t.kind == Tok::Word && EqualsNoCaseAscii(t.text, w); }
  bool IsPunct(const Token& t, const char* p) { return t.kind == Tok::Punct && t.text == p; }
  static bool EqualsNoCaseAscii(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
    return true;
  }
  bool IsBegin(const Token& t) { return IsWord(t, "BEGIN") || IsPunct(t, "{"); }
  bool IsEnd(const Token& t) { return IsWord(t, "END") || IsPunct(t, "}"); }
  void ExpectBegin() {
    if (!IsBegin(Next())) Error("BEGIN expected");
  }
  void SkipComma() {
    if (IsPunct(Peek(), ",")) Next();
  }

  // ---- expressions ----------------------------------------------------------

  bool LooksNumeric(const std::string& w) { return !w.empty() && std::isdigit(static_cast<unsigned char>(w[0])); }

  long long ParseNumber(const std::string& w, int line) {
    std::string s = w;
    while (!s.empty() && (s.back() == 'L' || s.back() == 'l' || s.back() == 'U' || s.back() == 'u')) s.pop_back();
    try {
      std::size_t used = 0;
      long long v = std::stoll(s, &used, 0);
      if (used != s.size()) throw std::invalid_argument(s);
      return v;
    } catch (const std::exception&) {
      Error("bad number " + w, line);
    }
  }

  long long ValueOfName(const std::string& name, int line, int depth = 0) {
    if (depth > 16) Error("#define loop at " + name, line);
    auto it = defines_.find(name);
    if (it != defines_.end()) return EvalText(it->second, line, depth + 1);
    auto b = BuiltInConstants().find(name);
    if (b != BuiltInConstants().end()) return b->second;
    Error("unknown name " + name, line);
  }

  bool IsKnownName(const std::string& name) { return defines_.count(name) || BuiltInConstants().count(name); }

  // Evaluates a #define's text with the same grammar.
  long long EvalText(const std::string& text, int line, int depth) {
    std::vector<Token> saved;
    saved.swap(tokens_);
    std::size_t savedPos = pos_;
    pos_ = 0;
    // Tokenize the replacement text.
    std::size_t i = 0;
    while (i < text.size()) {
      char c = text[i];
      if (c == ' ' || c == '\t') {
        ++i;
        continue;
      }
      Token t;
      t.line = line;
      if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
        t.kind = Tok::Word;
        while (i < text.size() && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_')) t.text.push_back(text[i++]);
      } else {
        t.kind = Tok::Punct;
        t.text = std::string(1, c);
        ++i;
      }
      tokens_.push_back(t);
    }
    long long v = 0;
    try {
      v = Expr(depth);
    } catch (...) {
      tokens_.swap(saved);
      pos_ = savedPos;
      throw;
    }
    tokens_.swap(saved);
    pos_ = savedPos;
    return v;
  }

  long long Primary(int depth) {
    Token t = Next();
    if (IsPunct(t, "(")) {
      long long v = Expr(depth);
      if (!IsPunct(Next(), ")")) Error(") expected", t.line);
      return v;
    }
    if (IsPunct(t, "-")) return -Primary(depth);
    if (IsPunct(t, "~")) return ~Primary(depth);
    if (IsWord(t, "NOT")) return ~Primary(depth);
    if (t.kind != Tok::Word) Error("number expected", t.line);
    if (LooksNumeric(t.text)) return ParseNumber(t.text, t.line);
    return ValueOfName(t.text, t.line, depth);
  }

  // a | b, a + b, a - b, a & b, and "NOT x" (which clears bits when or-ed in).
  long long Expr(int depth = 0) {
    long long v = Primary(depth);
    for (;;) {
      const Token& t = Peek();
      if (IsPunct(t, "|")) {
        Next();
        if (IsWord(Peek(), "NOT")) {
          Next();
          v &= ~Primary(depth);
        } else {
          v |= Primary(depth);
        }
      } else if (IsPunct(t, "+")) {
        Next();
        v += Primary(depth);
      } else if (IsPunct(t, "-")) {
        Next();
        v -= Primary(depth);
      } else if (IsPunct(t, "&")) {
        Next();
        v &= Primary(depth);
      } else {
        return v;
      }
    }
  }

  // A resource name: a number or #define'd name gives an id, any other word a
  // name (upper-cased, as names match ignoring case), a string a name.
  ResName Name() {
    Token t = Peek();
    if (t.kind == Tok::String) {
      Next();
      return ResName::Named(ToUpper(t.str));
    }
    if (t.kind != Tok::Word) Error("resource name expected");
    if (LooksNumeric(t.text) || IsKnownName(t.text)) return ResName::Id(static_cast<WORD>(Expr()));
    Next();
    return ResName::Named(ToUpper(Utf8ToUtf16(t.text)));
  }

  std::u16string StringArg() {
    Token t = Next();
    if (t.kind != Tok::String) Error("string expected", t.line);
    return t.str;
  }

  std::string FileArg() {
    Token t = Next();
    std::string name;
    if (t.kind == Tok::String) name = Utf16ToUtf8(t.str);
    else if (t.kind == Tok::Word) name = t.text;
    else Error("file name expected", t.line);
    return name;
  }

  std::string ReadInput(const std::string& name, int line) {
    std::string path = JoinPath(baseDir_, name);
    std::string data;
    if (!ReadHost(path, data)) Error("cannot read " + name, line);
    inputs.push_back(path);
    return data;
  }

  // Memory and load options that may follow a resource type.
  void SkipOptions() {
    static const char* opts[] = {"DISCARDABLE", "MOVEABLE", "FIXED", "PURE", "IMPURE", "PRELOAD", "LOADONCALL", "SHARED", "NONSHARED"};
    while (Peek().kind == Tok::Word) {
      bool any = false;
      for (const char* o : opts)
        if (IsWord(Peek(), o)) any = true;
      if (!any) return;
      Next();
    }
  }

  // ---- statements -----------------------------------------------------------

  void Statement() {
    const Token& t = Peek();
    if (IsWord(t, "STRINGTABLE")) {
      Next();
      StringTable();
      return;
    }
    if (IsWord(t, "LANGUAGE")) {
      Next();
      Expr();
      SkipComma();
      Expr();
      return;
    }
    if (t.kind != Tok::Word && t.kind != Tok::String) Error("resource statement expected");
    int line = t.line;
    ResName name = Name();
    Token type = Next();
    if (type.kind != Tok::Word) Error("resource type expected", line);
    if (IsWord(type, "ICON")) {
      SkipOptions();
      std::string data = ReadInput(FileArg(), line);
      if (data.size() < 6 || data[0] != 0 || data[1] != 0 || data[2] != 1) Error("not an icon file", line);
      builder.Add(ResName::Id(14), name, data);
    } else if (IsWord(type, "BITMAP")) {
      SkipOptions();
      std::string data = ReadInput(FileArg(), line);
      if (data.size() < 14 + 40 || data[0] != 'B' || data[1] != 'M') Error("not a BMP file", line);
      builder.Add(ResName::Id(2), name, data.substr(14));  // stored as a packed DIB
    } else if (IsWord(type, "RCDATA")) {
      SkipOptions();
      builder.Add(ResName::Id(10), name, IsBegin(Peek()) ? DataBlock() : ReadInput(FileArg(), line));
    } else if (IsWord(type, "MENU")) {
      SkipOptions();
      builder.Add(ResName::Id(4), name, Menu());
    } else if (IsWord(type, "DIALOG") || IsWord(type, "DIALOGEX")) {
      SkipOptions();
      builder.Add(ResName::Id(5), name, Dialog(IsWord(type, "DIALOGEX")));
    } else if (IsWord(type, "ACCELERATORS") || IsWord(type, "VERSIONINFO") || IsWord(type, "TOOLBAR")) {
      // Not used by the device: skipped whole.
      while (Peek().kind != Tok::End && !IsBegin(Peek())) Next();
      SkipBlock();
    } else {
      // A resource of the script's own type, from a file.
      SkipOptions();
      ResName userType = LooksNumeric(type.text) ? ResName::Id(static_cast<WORD>(ParseNumber(type.text, line)))
                                                 : ResName::Named(ToUpper(Utf8ToUtf16(type.text)));
      builder.Add(userType, name, ReadInput(FileArg(), line));
    }
  }

  void SkipBlock() {
    ExpectBegin();
    int depth = 1;
    while (depth > 0) {
      Token t = Next();
      if (t.kind == Tok::End) Error("END expected");
      if (IsBegin(t)) ++depth;
      else if (IsEnd(t)) --depth;
    }
  }

  void StringTable() {
    while (Peek().kind == Tok::Word && !IsBegin(Peek())) {
      if (IsWord(Peek(), "LANGUAGE")) {
        Next();
        Expr();
        SkipComma();
        Expr();
      } else {
        Next();  // memory options
      }
    }
    ExpectBegin();
    while (!IsEnd(Peek())) {
      if (Peek().kind == Tok::End) Error("END expected");
      int line = Peek().line;
      long long id = Expr();
      SkipComma();
      std::u16string text = StringArg();
      if (id < 0 || id > 0xFFFF) Error("string id out of range", line);
      if (strings_.count(static_cast<WORD>(id))) Error("string " + std::to_string(id) + " defined twice", line);
      strings_[static_cast<WORD>(id)] = text;
    }
    Next();
    builder.SetStrings(strings_);
  }

  std::string DataBlock() {
    ExpectBegin();
    std::string out;
    while (!IsEnd(Peek())) {
      if (Peek().kind == Tok::End) Error("END expected");
      if (Peek().kind == Tok::String) {
        out += Utf16ToUtf8(Next().str);
      } else {
        long long v = Expr();
        out.push_back(static_cast<char>(v & 0xFF));
        out.push_back(static_cast<char>((v >> 8) & 0xFF));
      }
      SkipComma();
    }
    Next();
    return out;
  }

  // ---- menus -----------------------------------------------------------------

  static void PutWord(std::string& s, unsigned v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>((v >> 8) & 0xFF));
  }
  static void PutDword(std::string& s, std::uint32_t v) {
    PutWord(s, v & 0xFFFF);
    PutWord(s, v >> 16);
  }
  static void PutText(std::string& s, const std::u16string& t) {
    for (char16_t c : t) PutWord(s, c);
    PutWord(s, 0);
  }
  static void Align4(std::string& s) {
    while (s.size() % 4) s.push_back('\0');
  }

  struct MenuItem {
    bool popup = false;
    unsigned flags = 0;
    unsigned id = 0;
    std::u16string text;
    std::vector<MenuItem> children;
  };

  unsigned MenuOptions() {
    unsigned flags = 0;
    for (;;) {
      SkipComma();
      const Token& t = Peek();
      if (IsWord(t, "GRAYED")) flags |= 0x0001;
      else if (IsWord(t, "INACTIVE")) flags |= 0x0002;
      else if (IsWord(t, "CHECKED")) flags |= 0x0008;
      else if (IsWord(t, "MENUBARBREAK")) flags |= 0x0020;
      else if (IsWord(t, "MENUBREAK")) flags |= 0x0040;
      else if (IsWord(t, "HELP")) flags |= 0x4000;
      else return flags;
      Next();
    }
  }

  std::vector<MenuItem> MenuItems() {
    ExpectBegin();
    std::vector<MenuItem> items;
    while (!IsEnd(Peek())) {
      if (Peek().kind == Tok::End) Error("END expected");
      Token t = Next();
      MenuItem item;
      if (IsWord(t, "POPUP")) {
        item.popup = true;
        item.text = StringArg();
        item.flags = MenuOptions();
        item.children = MenuItems();
      } else if (IsWord(t, "MENUITEM")) {
        if (IsWord(Peek(), "SEPARATOR")) {
          Next();
        } else {
          item.text = StringArg();
          SkipComma();
          item.id = static_cast<unsigned>(Expr()) & 0xFFFF;
          item.flags = MenuOptions();
        }
      } else {
        Error("POPUP or MENUITEM expected", t.line);
      }
      items.push_back(std::move(item));
    }
    Next();
    return items;
  }

  static void EmitMenu(std::string& out, const std::vector<MenuItem>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
      const MenuItem& m = items[i];
      unsigned flags = m.flags | (m.popup ? 0x0010 : 0) | (i + 1 == items.size() ? 0x0080 : 0);
      PutWord(out, flags);
      if (!m.popup) PutWord(out, m.id);
      PutText(out, m.text);
      if (m.popup) EmitMenu(out, m.children);
    }
  }

  std::string Menu() {
    std::vector<MenuItem> items = MenuItems();
    std::string out;
    PutWord(out, 0);  // version
    PutWord(out, 0);  // header size
    EmitMenu(out, items);
    return out;
  }

  // ---- dialogs ---------------------------------------------------------------

  struct Control {
    std::uint32_t style = 0, exStyle = 0, helpId = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::uint32_t id = 0;
    unsigned classAtom = 0;  // 0: className
    std::u16string className;
    bool textIsId = false;
    unsigned textId = 0;
    std::u16string text;
  };

  static constexpr std::uint32_t kChildVisible = 0x40000000 | 0x10000000;
  static constexpr std::uint32_t kTabStop = 0x00010000;
  static constexpr std::uint32_t kGroup = 0x00020000;
  static constexpr std::uint32_t kBorder = 0x00800000;

  std::uint32_t OptionalStyle(std::uint32_t base, bool* given = nullptr) {
    if (!IsPunct(Peek(), ",")) return base;
    Next();
    if (given) *given = true;
    long long v = Expr();
    return base | static_cast<std::uint32_t>(v);
  }

  // Control text: a string, or a number / name for icons.
  void ControlText(Control& c) {
    if (Peek().kind == Tok::String) {
      c.text = Next().str;
    } else {
      c.textIsId = true;
      c.textId = static_cast<unsigned>(Expr()) & 0xFFFF;
    }
    SkipComma();
  }

  void Rect4(Control& c) {
    c.x = static_cast<int>(Expr());
    SkipComma();
    c.y = static_cast<int>(Expr());
    SkipComma();
    c.cx = static_cast<int>(Expr());
    SkipComma();
    c.cy = static_cast<int>(Expr());
  }

  Control ParseControl(const Token& kw) {
    Control c;
    struct Std {
      const char* name;
      unsigned atom;
      std::uint32_t style;
      bool hasText;
    };
    static const Std stds[] = {
        {"LTEXT", 0x82, kGroup | 0x0, true},          {"RTEXT", 0x82, kGroup | 0x2, true},
        {"CTEXT", 0x82, kGroup | 0x1, true},          {"PUSHBUTTON", 0x80, kTabStop | 0x0, true},
        {"DEFPUSHBUTTON", 0x80, kTabStop | 0x1, true}, {"CHECKBOX", 0x80, kTabStop | 0x2, true},
        {"AUTOCHECKBOX", 0x80, kTabStop | 0x3, true},  {"RADIOBUTTON", 0x80, 0x4, true},
        {"AUTORADIOBUTTON", 0x80, 0x9, true},          {"GROUPBOX", 0x80, 0x7, true},
        {"EDITTEXT", 0x81, kTabStop | kBorder, false}, {"LISTBOX", 0x83, kBorder | 0x1, false},
        {"COMBOBOX", 0x85, kTabStop | 0x1, false},     {"SCROLLBAR", 0x84, 0x0, false},
        {"ICON", 0x82, 0x3, true},
    };
    if (IsWord(kw, "CONTROL")) {
      ControlText(c);
      c.id = static_cast<std::uint32_t>(Expr());
      SkipComma();
      Token cls = Next();
      std::u16string name = cls.kind == Tok::String ? cls.str : Utf8ToUtf16(cls.text);
      static const std::pair<const char16_t*, unsigned> atoms[] = {
          {u"BUTTON", 0x80}, {u"EDIT", 0x81}, {u"STATIC", 0x82}, {u"LISTBOX", 0x83}, {u"SCROLLBAR", 0x84}, {u"COMBOBOX", 0x85}};
      for (const auto& [n, atom] : atoms)
        if (EqualsNoCase(name, n)) c.classAtom = atom;
      if (!c.classAtom) c.className = name;
      SkipComma();
      c.style = kChildVisible | static_cast<std::uint32_t>(Expr());
      SkipComma();
      Rect4(c);
      if (IsPunct(Peek(), ",")) {
        Next();
        c.exStyle = static_cast<std::uint32_t>(Expr());
      }
      return c;
    }
    for (const Std& s : stds) {
      if (!IsWord(kw, s.name)) continue;
      c.classAtom = s.atom;
      if (s.hasText) ControlText(c);
      c.id = static_cast<std::uint32_t>(Expr());
      SkipComma();
      if (IsWord(kw, "ICON")) {
        c.x = static_cast<int>(Expr());
        SkipComma();
        c.y = static_cast<int>(Expr());
        if (IsPunct(Peek(), ",")) {
          Next();
          c.cx = static_cast<int>(Expr());
          SkipComma();
          c.cy = static_cast<int>(Expr());
        }
      } else {
        Rect4(c);
      }
      c.style = OptionalStyle(kChildVisible | s.style);
      if (IsPunct(Peek(), ",")) {
        Next();
        c.exStyle = static_cast<std::uint32_t>(Expr());
      }
      return c;
    }
    Error("control expected", kw.line);
  }

  std::string Dialog(bool ex) {
    int x = static_cast<int>(Expr());
    SkipComma();
    int y = static_cast<int>(Expr());
    SkipComma();
    int cx = static_cast<int>(Expr());
    SkipComma();
    int cy = static_cast<int>(Expr());
    std::uint32_t helpId = 0;
    if (ex && IsPunct(Peek(), ",")) {
      Next();
      helpId = static_cast<std::uint32_t>(Expr());
    }
    std::uint32_t style = 0x80000000u | 0x00C00000u | 0x00080000u | 0x80u;  // popup, caption, system menu, modal frame
    std::uint32_t exStyle = 0;
    bool styleGiven = false;
    std::u16string caption, fontFace, menuName, className;
    unsigned menuId = 0, fontSize = 0, fontWeight = 0, fontItalic = 0, fontCharset = 1;
    bool hasFont = false, menuIsId = false;
    for (;;) {
      const Token& t = Peek();
      if (IsWord(t, "STYLE")) {
        Next();
        style = static_cast<std::uint32_t>(Expr());
        styleGiven = true;
      } else if (IsWord(t, "EXSTYLE")) {
        Next();
        exStyle = static_cast<std::uint32_t>(Expr());
      } else if (IsWord(t, "CAPTION")) {
        Next();
        caption = StringArg();
        if (!styleGiven) style |= 0x00C00000u;
      } else if (IsWord(t, "FONT")) {
        Next();
        hasFont = true;
        fontSize = static_cast<unsigned>(Expr());
        SkipComma();
        fontFace = StringArg();
        if (IsPunct(Peek(), ",")) {
          Next();
          fontWeight = static_cast<unsigned>(Expr());
          SkipComma();
          fontItalic = static_cast<unsigned>(Expr());
          if (IsPunct(Peek(), ",")) {
            Next();
            fontCharset = static_cast<unsigned>(Expr());
          }
        }
      } else if (IsWord(t, "MENU")) {
        Next();
        if (LooksNumeric(Peek().text) || IsKnownName(Peek().text)) {
          menuIsId = true;
          menuId = static_cast<unsigned>(Expr());
        } else {
          Token n = Next();
          menuName = n.kind == Tok::String ? n.str : ToUpper(Utf8ToUtf16(n.text));
        }
      } else if (IsWord(t, "CLASS")) {
        Next();
        className = StringArg();
      } else if (IsWord(t, "LANGUAGE")) {
        Next();
        Expr();
        SkipComma();
        Expr();
      } else if (IsWord(t, "CHARACTERISTICS") || IsWord(t, "VERSION")) {
        Next();
        Expr();
      } else {
        break;
      }
    }
    if (hasFont) style |= 0x40;  // DS_SETFONT
    ExpectBegin();
    std::vector<Control> controls;
    while (!IsEnd(Peek())) {
      if (Peek().kind == Tok::End) Error("END expected");
      Token kw = Next();
      controls.push_back(ParseControl(kw));
    }
    Next();

    std::string out;
    auto putMenuOrClass = [&](bool isId, unsigned id, const std::u16string& name) {
      if (isId) {
        PutWord(out, 0xFFFF);
        PutWord(out, id);
      } else {
        PutText(out, name);
      }
    };
    if (ex) {
      PutWord(out, 1);
      PutWord(out, 0xFFFF);
      PutDword(out, helpId);
      PutDword(out, exStyle);
      PutDword(out, style);
    } else {
      PutDword(out, style);
      PutDword(out, exStyle);
    }
    PutWord(out, static_cast<unsigned>(controls.size()));
    PutWord(out, static_cast<unsigned>(x) & 0xFFFF);
    PutWord(out, static_cast<unsigned>(y) & 0xFFFF);
    PutWord(out, static_cast<unsigned>(cx) & 0xFFFF);
    PutWord(out, static_cast<unsigned>(cy) & 0xFFFF);
    putMenuOrClass(menuIsId, menuId, menuName);
    PutText(out, className);
    PutText(out, caption);
    if (hasFont) {
      PutWord(out, fontSize);
      if (ex) {
        PutWord(out, fontWeight);
        out.push_back(static_cast<char>(fontItalic));
        out.push_back(static_cast<char>(fontCharset));
      }
      PutText(out, fontFace);
    }
    for (const Control& c : controls) {
      Align4(out);
      if (ex) {
        PutDword(out, c.helpId);
        PutDword(out, c.exStyle);
        PutDword(out, c.style);
      } else {
        PutDword(out, c.style);
        PutDword(out, c.exStyle);
      }
      PutWord(out, static_cast<unsigned>(c.x) & 0xFFFF);
      PutWord(out, static_cast<unsigned>(c.y) & 0xFFFF);
      PutWord(out, static_cast<unsigned>(c.cx) & 0xFFFF);
      PutWord(out, static_cast<unsigned>(c.cy) & 0xFFFF);
      if (ex) PutDword(out, c.id);
      else PutWord(out, c.id & 0xFFFF);
      if (c.classAtom) {
        PutWord(out, 0xFFFF);
        PutWord(out, c.classAtom);
      } else {
        PutText(out, c.className);
      }
      if (c.textIsId) {
        PutWord(out, 0xFFFF);
        PutWord(out, c.textId);
      } else {
        PutText(out, c.text);
      }
      PutWord(out, 0);  // no creation data
    }
    return out;
  }

  std::string baseDir_;
  std::string fileName_;
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  std::map<std::string, std::string> defines_;
  std::map<WORD, std::u16string> strings_;
};

}  // namespace

ResourceCompileResult CompileResourceScript(const std::string& text, const std::string& baseDir,
                                            const std::string& fileName) {
  ResourceCompileResult result;
  try {
    Compiler c(baseDir, fileName);
    c.Run(text);
    if (!c.builder.Build(result.image, &result.error)) {
      result.image.clear();
      return result;
    }
    result.inputs = c.inputs;
    result.ok = true;
  } catch (const CompileError& e) {
    result.error = e.what();
  } catch (const std::exception& e) {
    result.error = fileName + ": " + e.what();
  }
  return result;
}

}  // namespace plat
