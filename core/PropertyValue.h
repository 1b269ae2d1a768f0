// Named, typed, reference-counted property values, linked into lists that
// grow at the front. A list is a counted reference to its newest value; each
// value holds a counted reference to the next (older) one, so a newer value of
// a name hides the older ones from a lookup that stops at the first match.
// Values never change once made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/RefCounted.h"

// Names at or above this bound are texts; below it a name is a number.
constexpr std::uintptr_t kPropertyNumberLimit = 0x10000;

// The name of a value: a text of its own, or a number below 0x10000 (given
// in place of a text, in the manner of a resource identifier). The number 0
// names nothing: such a value is a link to a nested list.
class CPropertyName {
 public:
  CPropertyName() = default;
  // A number; values of 0x10000 and above are cut to their low 16 bits.
  CPropertyName(int number) : number_(static_cast<std::uint32_t>(number) & 0xFFFFu) {}
  // A text; a pointer value below 0x10000 is taken as that number, null as 0.
  CPropertyName(const char16_t* text);
  CPropertyName(std::u16string_view text) : text_(text), isText_(true) {}
  CPropertyName(const std::u16string& text) : text_(text), isText_(true) {}

  bool IsText() const { return isText_; }
  bool IsNumber() const { return !isText_; }
  // A value named 0 carries no name.
  bool IsEmpty() const { return !isText_ && number_ == 0; }
  std::uint32_t GetNumber() const { return isText_ ? 0 : number_; }
  const std::u16string& GetText() const { return text_; }

  // Lookup rule: a number matches the same number only; a text skips
  // numbered values and compares exactly (case matters).
  bool Matches(const CPropertyName& key) const;

 private:
  std::uint32_t number_ = 0;
  std::u16string text_;
  bool isText_ = false;
};

struct CPropertyPair {
  std::int32_t first = 0;
  std::int32_t second = 0;
  friend bool operator==(const CPropertyPair&, const CPropertyPair&) = default;
};

struct CPropertyRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  friend bool operator==(const CPropertyRect&, const CPropertyRect&) = default;
};

class CPropertyValue;
using CPropertyList = CRefPtr<CPropertyValue>;

// The plain value: a name and a link, and the default answer of every getter.
// The kinds below each answer one getter with their payload.
class CPropertyValue : public CRefCounted {
 public:
  // Starts uncounted, links the list's current first value (counted) behind it.
  CPropertyValue(const CPropertyName& name, const CPropertyList& listHead);

  virtual std::int32_t GetInt() const { return 0; }
  virtual std::u16string GetString() const { return {}; }
  virtual CPropertyPair GetPair() const { return {}; }
  virtual CPropertyRect GetRect() const { return {}; }
  // A new shared reference for the caller; empty by default.
  virtual std::shared_ptr<void> GetSharedObject() const { return {}; }
  // The head of a nested list (held by this value); none by default.
  virtual CPropertyValue* GetNestedList() const { return nullptr; }

  const CPropertyName& GetName() const { return name_; }
  CPropertyValue* GetNext() const { return next_; }

 protected:
  // Frees the name and releases the next value. A long unshared chain is
  // freed in a loop, not by recursion.
  ~CPropertyValue() override;

 private:
  CPropertyName name_;
  CPropertyValue* next_ = nullptr;  // counted
};

class CIntPropertyValue : public CPropertyValue {
 public:
  CIntPropertyValue(const CPropertyName& name, const CPropertyList& listHead, std::int32_t value)
      : CPropertyValue(name, listHead), value_(value) {}
  std::int32_t GetInt() const override { return value_; }

 private:
  std::int32_t value_;
};

class CPairPropertyValue : public CPropertyValue {
 public:
  CPairPropertyValue(const CPropertyName& name, const CPropertyList& listHead, CPropertyPair value)
      : CPropertyValue(name, listHead), value_(value) {}
  CPropertyPair GetPair() const override { return value_; }

 private:
  CPropertyPair value_;
};

class CRectPropertyValue : public CPropertyValue {
 public:
  CRectPropertyValue(const CPropertyName& name, const CPropertyList& listHead, CPropertyRect value)
      : CPropertyValue(name, listHead), value_(value) {}
  CPropertyRect GetRect() const override { return value_; }

 private:
  CPropertyRect value_;
};

// Holds a shared pointer to an object (strong and weak counts in its control
// block); released before the value's link.
class CObjectPropertyValue : public CPropertyValue {
 public:
  CObjectPropertyValue(const CPropertyName& name, const CPropertyList& listHead, std::shared_ptr<void> object)
      : CPropertyValue(name, listHead), object_(std::move(object)) {}
  std::shared_ptr<void> GetSharedObject() const override { return object_; }

 private:
  std::shared_ptr<void> object_;
};

// Makes a value of the kind over the current list and makes it the new head;
// the old first value lives on through the new value's link. False, with the
// list unchanged, when memory runs out.
bool PrependIntProperty(CPropertyList& listHead, const CPropertyName& name, std::int32_t value);
bool PrependPairProperty(CPropertyList& listHead, const CPropertyName& name, std::int32_t first,
                         std::int32_t second);

// Puts an already made value in front of the list: it must have been made over
// the list's current head.
bool PrependValue(CPropertyList& listHead, CPropertyValue* value);
