#include "core/PropertyValue.h"

#include <new>

CPropertyName::CPropertyName(const char16_t* text) {
  const auto word = reinterpret_cast<std::uintptr_t>(text);
  if (word < kPropertyNumberLimit) {
    number_ = static_cast<std::uint32_t>(word);
    return;
  }
  text_ = text;
  isText_ = true;
}

bool CPropertyName::Matches(const CPropertyName& key) const {
  if (key.IsNumber()) return IsNumber() && number_ == key.number_;
  return IsText() && text_ == key.text_;
}

CPropertyValue::CPropertyValue(const CPropertyName& name, const CPropertyList& listHead)
    : name_(name), next_(listHead.Get()) {
  if (next_) next_->AddRef();
}

CPropertyValue::~CPropertyValue() {
  // Release the chain behind this value one link at a time: each value whose
  // count reaches zero hands its own link over before it is deleted, so its
  // destructor has nothing left to release.
  CPropertyValue* next = next_;
  next_ = nullptr;
  while (next) {
    if (next->DropRef() != 0) break;
    CPropertyValue* after = next->next_;
    next->next_ = nullptr;
    delete next;
    next = after;
  }
}

bool PrependValue(CPropertyList& listHead, CPropertyValue* value) {
  if (!value) return false;
  listHead = CPropertyList(value);
  return true;
}

bool PrependIntProperty(CPropertyList& listHead, const CPropertyName& name, std::int32_t value) {
  try {
    return PrependValue(listHead, new CIntPropertyValue(name, listHead, value));
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool PrependPairProperty(CPropertyList& listHead, const CPropertyName& name, std::int32_t first,
                         std::int32_t second) {
  try {
    return PrependValue(listHead, new CPairPropertyValue(name, listHead, {first, second}));
  } catch (const std::bad_alloc&) {
    return false;
  }
}
