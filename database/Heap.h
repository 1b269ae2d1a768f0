// A binary heap over element pointers with a virtual comparison. Position 0
// is the root; the parent of position i (i >= 1) is i / 2 and the children of
// i are 2i and 2i + 1, so the root has the single child 1.
#pragma once
#include <cstddef>
#include <utility>
#include <vector>

template <class T>
class CHeap {
 public:
  virtual ~CHeap() = default;

  // Negative when a comes before b.
  virtual int Compare(const T* a, const T* b) const = 0;

  std::size_t GetCount() const { return items_.size(); }
  bool IsEmpty() const { return items_.empty(); }
  T* Get(std::size_t i) const { return items_[i]; }
  void Clear() { items_.clear(); }

  // Appends and sifts up.
  void Push(T* element) {
    items_.push_back(element);
    SiftUp(items_.size() - 1);
  }

  // Takes the element at position i out (null when there is none): the last
  // element moves into its place and finds its position again.
  T* Pop(std::size_t i = 0) {
    if (i >= items_.size()) return nullptr;
    T* taken = items_[i];
    items_[i] = items_.back();
    items_.pop_back();
    if (i < items_.size()) {
      // The moved element may belong below (sift down) or, when it came from
      // another branch, above its new place (sift up).
      if (SiftDown(i) == i) SiftUp(i);
    }
    return taken;
  }

  // Finds the element by pointer and pops it; false when it is not held.
  bool Remove(const T* element) {
    for (std::size_t i = 0; i < items_.size(); ++i) {
      if (items_[i] == element) {
        Pop(i);
        return true;
      }
    }
    return false;
  }

 private:
  static std::size_t Parent(std::size_t i) { return i / 2; }

  void SiftUp(std::size_t i) {
    while (i != 0 && Compare(items_[i], items_[Parent(i)]) < 0) {
      std::swap(items_[i], items_[Parent(i)]);
      i = Parent(i);
    }
  }

  // Returns the position the element ended at.
  std::size_t SiftDown(std::size_t i) {
    for (;;) {
      std::size_t chosen = i;
      const std::size_t left = 2 * i;
      const std::size_t right = 2 * i + 1;
      if (left != i && left < items_.size() && Compare(items_[left], items_[chosen]) < 0) chosen = left;
      if (right < items_.size() && Compare(items_[right], items_[chosen]) < 0) chosen = right;
      if (chosen == i) return i;
      std::swap(items_[i], items_[chosen]);
      i = chosen;
    }
  }

  std::vector<T*> items_;
};
