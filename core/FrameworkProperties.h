// The property-value kinds and list operations of the layout framework: the
// text kind, the link to a nested list (the seventh getter), rectangles and
// objects put in front of a list, lookup by name, and reading pairs and
// rectangles from a property source with defaults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/OrvException.h"
#include "core/PropertyValue.h"
#include "platform/imaging/Com.h"

class CStringPropertyValue : public CPropertyValue {
 public:
  CStringPropertyValue(const CPropertyName& name, const CPropertyList& listHead, std::u16string value)
      : CPropertyValue(name, listHead), value_(std::move(value)) {}
  std::u16string GetString() const override { return value_; }

 private:
  std::u16string value_;
};

// A value without a name whose nested list a lookup searches in place.
class CListPropertyValue : public CPropertyValue {
 public:
  CListPropertyValue(const CPropertyList& listHead, CPropertyList nested)
      : CPropertyValue(0, listHead), nested_(std::move(nested)) {}
  CPropertyValue* GetNestedList() const override { return nested_.Get(); }

 private:
  CPropertyList nested_;
};

// As PrependIntProperty: a new value of the kind becomes the head.
bool PrependRectProperty(CPropertyList& listHead, const CPropertyName& name, std::int32_t left, std::int32_t top,
                         std::int32_t right, std::int32_t bottom);
bool PrependObjectProperty(CPropertyList& listHead, const CPropertyName& name, std::shared_ptr<void> object);
bool PrependStringProperty(CPropertyList& listHead, const CPropertyName& name, std::u16string value);
// Puts a link to nested in front of the list.
bool PrependNestedList(CPropertyList& listHead, CPropertyList nested);

// The first value from the head whose name matches key (see
// CPropertyName::Matches); a value without a name has its nested list searched
// in place, and a hit there ends the search. Null when nothing matches.
CPropertyList FindProperty(const CPropertyList& listHead, const CPropertyName& key);

// True and the value's GetInt answer when a value of that name exists; false
// with value untouched otherwise.
bool GetIntProperty(const CPropertyList& listHead, const CPropertyName& key, std::int32_t& value);

// Asks a property source (anything with HRESULT GetPair(name, CPropertyPair*)
// and HRESULT GetRect(name, CPropertyRect*)) for a named pair or rectangle;
// any answer other than S_OK, or no source, gives the defaults.
template <class Source, class Name>
CPropertyPair GetPairPropertyOr(Source* source, const Name& name, std::int32_t defaultFirst,
                                std::int32_t defaultSecond) {
  CPropertyPair pair{defaultFirst, defaultSecond};
  if (source && source->GetPair(name, &pair) == plat::S_OK) return pair;
  return {defaultFirst, defaultSecond};
}

template <class Source, class Name>
CPropertyRect GetRectPropertyOr(Source* source, const Name& name, std::int32_t defaultLeft, std::int32_t defaultTop,
                                std::int32_t defaultRight, std::int32_t defaultBottom) {
  CPropertyRect rect{defaultLeft, defaultTop, defaultRight, defaultBottom};
  if (source && source->GetRect(name, &rect) == plat::S_OK) return rect;
  return {defaultLeft, defaultTop, defaultRight, defaultBottom};
}

// The same through a holder of a source (a pointer or smart pointer); an empty
// holder raises COrvException with E_FAIL.
template <class Holder, class Name>
CPropertyPair GetPairPropertyChecked(const Holder& holder, const Name& name, std::int32_t defaultFirst,
                                     std::int32_t defaultSecond) {
  if (!holder) throw COrvException(plat::E_FAIL);
  return GetPairPropertyOr(&*holder, name, defaultFirst, defaultSecond);
}

template <class Holder, class Name>
CPropertyRect GetRectPropertyChecked(const Holder& holder, const Name& name, std::int32_t defaultLeft,
                                     std::int32_t defaultTop, std::int32_t defaultRight,
                                     std::int32_t defaultBottom) {
  if (!holder) throw COrvException(plat::E_FAIL);
  return GetRectPropertyOr(&*holder, name, defaultLeft, defaultTop, defaultRight, defaultBottom);
}
