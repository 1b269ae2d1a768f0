#include "update/tidy/TidyXmlReader.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "platform/base/Text.h"
#include "platform/base/Utf8.h"
#include "update/tidy/TidyMemory.h"
#include "update/tidy/TidyNode.h"

namespace Tidy {

namespace {

// The library reads a tab as spaces up to the next multiple of 8 columns.
constexpr std::uint32_t kTabSize = 8;
// Elements with more attributes are left to the library.
constexpr std::size_t kMaxAttributes = 64;

struct GiveUp {};
struct NoMemory {};

bool IsNameStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':'; }
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }
// Printable ASCII: one column each, passed on as it is in a CDATA section.
bool IsPrintableAscii(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 0x20 && u < 0x80;
}
// The same in character data, but for the space, '<' and '&' (read apart).
bool IsOrdinary(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u > 0x20 && u < 0x80 && c != '<' && c != '&';
}

// Characters the library passes through unchanged and without a report:
// printable ones (no C0 or C1 controls), no surrogates or non-characters.
bool IsPlainCodePoint(std::uint32_t c) {
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
  if (c >= 0x80 && c < 0xA0) return false;
  if (c >= 0xD800 && c <= 0xDFFF) return false;
  if (c >= 0xFDD0 && c <= 0xFDEF) return false;
  if ((c & 0xFFFE) == 0xFFFE || c == 0xFEFF) return false;
  return c <= 0x10FFFF;
}

}  // namespace

class PlainXmlReader {
 public:
  PlainXmlReader(std::string_view text, CTidyArena& arena) : t_(text), arena_(arena) {}

  Node* Read() {
    Node* root = NewNode(NodeType::Root, nullptr, 0, 0);
    root->line_ = root->column_ = 0;
    SkipWhite();
    if (t_.compare(p_, 5, "<?xml") == 0 && p_ + 5 < t_.size() && plat::IsXmlSpace(t_[p_ + 5])) ReadDeclaration(root);
    SkipWhite();
    if (!At('<') || p_ + 1 >= t_.size() || !IsNameStart(t_[p_ + 1])) throw GiveUp();
    Node* current = ReadStartTag(root);
    while (current != nullptr) current = ReadContent(current);
    SkipWhite();
    if (p_ != t_.size()) throw GiveUp();
    return root;
  }

 private:
  bool At(char c) const { return p_ < t_.size() && t_[p_] == c; }

  // Consumes one character as the library reads it: CR LF and CR are one
  // line break, a tab moves to the next tab stop (appended as that many
  // spaces). Appends the character's UTF-8 to out when given.
  void Take(std::string* out) {
    const unsigned char c = static_cast<unsigned char>(t_[p_]);
    if (c < 0x80) {
      ++p_;
      if (c == '\n' || c == '\r') {
        if (c == '\r' && At('\n')) ++p_;
        ++line_;
        column_ = 1;
        if (out) out->push_back('\n');
        return;
      }
      if (c == '\t') {
        const std::uint32_t width = kTabSize - ((column_ - 1) % kTabSize);
        column_ += width;
        if (out) out->append(width, ' ');
        return;
      }
      if (c < 0x20) throw GiveUp();
      ++column_;
      if (out) out->push_back(static_cast<char>(c));
      return;
    }
    // A multi-byte sequence, strictly valid (no overlong forms).
    std::size_t length;
    std::uint32_t code;
    if ((c & 0xE0) == 0xC0) {
      length = 2;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      code = c & 0x07;
    } else {
      throw GiveUp();
    }
    if (p_ + length > t_.size()) throw GiveUp();
    for (std::size_t i = 1; i < length; ++i) {
      const unsigned char next = static_cast<unsigned char>(t_[p_ + i]);
      if ((next & 0xC0) != 0x80) throw GiveUp();
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || !IsPlainCodePoint(code)) throw GiveUp();
    if (out) out->append(t_.data() + p_, length);
    p_ += length;
    ++column_;
  }

  // Consumes the characters from here up to end for which Plain holds as
  // Take would, a run at a time (most of a feed's text).
  // In a CDATA section the space, '<' and '&' are such characters too.
  template <bool (*Plain)(char)>
  void TakeRun(std::string& out, std::size_t end) {
    const std::size_t start = p_;
    while (p_ < end && Plain(t_[p_])) ++p_;
    out.append(t_.data() + start, p_ - start);
    column_ += static_cast<std::uint32_t>(p_ - start);
  }

  // Skips white space, as the library does before a token.
  void SkipWhite() {
    while (p_ < t_.size() && plat::IsXmlSpace(t_[p_])) Take(nullptr);
  }

  // Consumes ASCII text known to be there.
  void Skip(std::size_t n) {
    p_ += n;
    column_ += static_cast<std::uint32_t>(n);
  }

  std::string_view ReadName() {
    const std::size_t start = p_;
    if (p_ >= t_.size() || !IsNameStart(t_[p_])) throw GiveUp();
    while (p_ < t_.size() && IsNameChar(t_[p_])) ++p_;
    column_ += static_cast<std::uint32_t>(p_ - start);
    return t_.substr(start, p_ - start);
  }

  // A reference at '&': the predefined entities and character references
  // of printable characters other than the space (which the library would
  // treat apart from the white space around it).
  void ReadReference(std::string& out) {
    const std::size_t semicolon = t_.substr(p_ + 1, 12).find(';');
    if (semicolon == std::string_view::npos) throw GiveUp();
    const std::size_t end = p_ + 1 + semicolon;
    const std::string_view name = t_.substr(p_ + 1, end - p_ - 1);
    std::uint32_t code = 0;
    if (name == "amp") {
      code = '&';
    } else if (name == "lt") {
      code = '<';
    } else if (name == "gt") {
      code = '>';
    } else if (name == "quot") {
      code = '"';
    } else if (name == "apos") {
      code = '\'';
    } else if (name.size() >= 2 && name[0] == '#') {
      const bool hex = name[1] == 'x';
      const std::string_view digits = name.substr(hex ? 2 : 1);
      if (digits.empty() || digits.size() > 7) throw GiveUp();
      for (const char d : digits) {
        std::uint32_t value;
        if (d >= '0' && d <= '9') {
          value = d - '0';
        } else if (hex && d >= 'a' && d <= 'f') {
          value = d - 'a' + 10;
        } else if (hex && d >= 'A' && d <= 'F') {
          value = d - 'A' + 10;
        } else {
          throw GiveUp();
        }
        code = code * (hex ? 16 : 10) + value;
      }
      if (code <= 0x20 || code == 0x7F || !IsPlainCodePoint(code)) throw GiveUp();
    } else {
      throw GiveUp();
    }
    plat::AppendUtf8(out, code);
    Skip(end + 1 - p_);
  }

  Node* NewNode(NodeType type, Node* parent, std::uint32_t line, std::uint32_t column) {
    void* place = arena_.Alloc(sizeof(Node));
    if (!place) throw NoMemory();
    Node* node = new (place) Node();
    node->type_ = type;
    node->xml_ = true;
    node->line_ = line;
    node->column_ = column;
    if (parent) parent->AppendChild(node);
    return node;
  }

  char* Copy(std::string_view text) {
    char* copy = arena_.CopyString(text.data(), text.size(), false);
    if (!copy) throw NoMemory();
    return copy;
  }

  Attribute* AddAttribute(Node* node, std::string_view name, std::string_view value) {
    // The library repairs duplicates (many attributes are left to it rather
    // than compared pair by pair here).
    std::size_t count = 0;
    for (Attribute* a = node->firstAttribute_; a; a = a->next_) {
      if (a->NameIs(name) || ++count >= kMaxAttributes) throw GiveUp();
    }
    void* place = arena_.Alloc(sizeof(Attribute));
    if (!place) throw NoMemory();
    Attribute* attribute = new (place) Attribute();
    attribute->name_ = Copy(name);
    attribute->nameLength_ = static_cast<std::uint32_t>(name.size());
    // The library keeps an empty value as none.
    if (!value.empty()) {
      attribute->value_ = Copy(value);
      attribute->valueLength_ = value.size();
    }
    if (node->lastAttribute_) node->lastAttribute_->next_ = attribute; else node->firstAttribute_ = attribute;
    node->lastAttribute_ = attribute;
    return attribute;
  }

  // A quoted value: single spaces between other characters, references
  // resolved; nothing the library would trim, fold or report.
  std::string_view ReadValue(bool lowerCase) {
    if (!At('"') && !At('\'')) throw GiveUp();
    const char quote = t_[p_];
    Skip(1);
    value_.clear();
    for (;;) {
      if (p_ >= t_.size()) throw GiveUp();
      const char c = t_[p_];
      if (c == quote) {
        Skip(1);
        break;
      }
      if (c == '<' || c == '>' || c == '\\' || c == '\t' || c == '\n' || c == '\r') throw GiveUp();
      if (c == ' ' && (value_.empty() || value_.back() == ' ')) throw GiveUp();
      if (c == '&') {
        ReadReference(value_);
      } else if (lowerCase && c >= 'A' && c <= 'Z') {
        value_.push_back(static_cast<char>(c - 'A' + 'a'));
        Skip(1);
      } else {
        Take(&value_);
      }
    }
    if (!value_.empty() && value_.back() == ' ') throw GiveUp();
    return value_;
  }

  // name ws* '=' ws* value
  void ReadAttribute(Node* node, bool lowerCase) {
    const std::string_view name = ReadName();
    if (name == "xml:space") throw GiveUp();  // may ask to keep white space
    SkipWhite();
    if (!At('=')) throw GiveUp();
    Skip(1);
    SkipWhite();
    AddAttribute(node, name, ReadValue(lowerCase));
  }

  // "<?xml" and its pseudo-attributes up to "?>" (values in lower case, as
  // the library keeps them).
  void ReadDeclaration(Node* root) {
    Node* node = NewNode(NodeType::XmlDecl, root, line_, column_);
    Skip(5);
    for (;;) {
      const std::size_t before = p_;
      SkipWhite();
      if (t_.compare(p_, 2, "?>") == 0) {
        Skip(2);
        return;
      }
      if (p_ == before) throw GiveUp();
      ReadAttribute(node, true);
    }
  }

  // A start tag at '<'. Returns the element when content follows, null for
  // an empty element.
  Node* ReadStartTag(Node* parent) {
    Node* node = NewNode(NodeType::Element, parent, line_, column_);
    Skip(1);
    const std::string_view name = ReadName();
    node->name_ = Copy(name);
    node->nameLength_ = static_cast<std::uint32_t>(name.size());
    // Elements whose white space the library keeps in XML too.
    for (const char* keeps : {"pre", "listing", "xmp", "plaintext", "script", "style", "textarea", "xsl:text"}) {
      if (node->NameIs(keeps)) throw GiveUp();
    }
    for (;;) {
      const std::size_t before = p_;
      SkipWhite();
      if (At('>')) {
        Skip(1);
        return node;
      }
      if (t_.compare(p_, 2, "/>") == 0) {
        Skip(2);
        node->emptyTag_ = true;
        return nullptr;
      }
      if (p_ == before) throw GiveUp();
      ReadAttribute(node, false);
    }
  }

  Node* NewTextNode(NodeType type, Node* parent, std::uint32_t line, std::uint32_t column, std::string_view text) {
    Node* node = NewNode(type, parent, line, column);
    if (!text.empty()) {
      node->text_ = Copy(text);
      node->textLength_ = text.size();
    }
    return node;
  }

  // The content of current up to its next child or its end tag. Returns the
  // element whose content comes next: current, a new child, or current's
  // parent once current has ended (null after the root).
  Node* ReadContent(Node* current) {
    // Character data, as the library collects it: white space at its start
    // dropped, every run of white space one space. The node's position is
    // where the library's reader was when it last dropped a character.
    text_.clear();
    std::uint32_t line = line_, column = column_;
    bool started = false, white = false;
    while (p_ < t_.size() && t_[p_] != '<') {
      const char c = t_[p_];
      if (plat::IsXmlSpace(c)) {
        const std::uint32_t before = column_;
        if (c == ' ') {
          // The common white space, as Take counts it.
          ++p_;
          ++column_;
        } else {
          Take(nullptr);
        }
        if (!started || white || (c == '\t' && column_ - before > 1)) {
          line = line_;
          column = column_;
        }
        if (started && !white) {
          text_.push_back(' ');
          white = true;
        }
        continue;
      }
      if (c == '&') {
        ReadReference(text_);
      } else if (IsOrdinary(c)) {
        TakeRun<IsOrdinary>(text_, t_.size());
      } else {
        Take(&text_);
      }
      started = true;
      white = false;
    }
    if (p_ + 1 >= t_.size()) throw GiveUp();  // the document ends inside an element
    const std::uint32_t tagLine = line_, tagColumn = column_;
    if (started) NewTextNode(NodeType::Text, current, line, column, text_);
    const char next = t_[p_ + 1];
    if (next == '/') {
      Skip(2);
      const std::string_view name = ReadName();
      if (name != current->Name()) throw GiveUp();
      SkipWhite();
      if (!At('>')) throw GiveUp();
      Skip(1);
      // The library trims one space at the end of the last text.
      Node* last = current->lastChild_;
      if (last != nullptr && last->type_ == NodeType::Text && last->textLength_ > 0 &&
          last->text_[last->textLength_ - 1] == ' ') {
        --last->textLength_;
        const_cast<char*>(last->text_)[last->textLength_] = '\0';
      }
      Node* parent = current->parent_;
      return parent != nullptr && parent->type_ == NodeType::Root ? nullptr : parent;
    }
    if (IsNameStart(next)) {
      Node* child = ReadStartTag(current);
      return child != nullptr ? child : current;
    }
    if (t_.compare(p_, 9, "<![CDATA[") == 0) {
      Skip(3);
      // After text the library places the section behind "<![".
      if (!started) {
        line = tagLine;
        column = tagColumn;
      } else {
        line = line_;
        column = column_;
      }
      Skip(6);
      const std::size_t end = t_.find("]]>", p_);
      if (end == std::string_view::npos) throw GiveUp();
      text_.clear();
      while (p_ < end) {
        if (IsPrintableAscii(t_[p_])) {
          TakeRun<IsPrintableAscii>(text_, end);
        } else {
          Take(&text_);
        }
      }
      Skip(3);
      NewTextNode(NodeType::CData, current, line, column, text_);
      return current;
    }
    throw GiveUp();  // comments, processing instructions, declarations, a stray '<'
  }

  std::string_view t_;
  std::size_t p_ = 0;
  std::uint32_t line_ = 1, column_ = 1;
  CTidyArena& arena_;
  std::string text_, value_;
};

PlainXmlResult ReadPlainXml(std::string_view utf8, CTidyArena& arena, Node** root) {
  *root = nullptr;
  try {
    PlainXmlReader reader(utf8, arena);
    *root = reader.Read();
    return PlainXmlResult::Built;
  } catch (const GiveUp&) {
    return PlainXmlResult::NotPlain;
  } catch (const NoMemory&) {
    return PlainXmlResult::OutOfMemory;
  } catch (const std::bad_alloc&) {
    return PlainXmlResult::OutOfMemory;
  }
}

}  // namespace Tidy
