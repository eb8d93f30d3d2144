// An owning pointer to an immutable tree node, counted in the node itself. A tree is built,
// read and released by one thread, so the count is a plain integer: no control block beside
// the node and no atomic instruction per copy. The node type T derives from Counted.
#pragma once
#include <cstddef>
#include <cstdint>
#include <utility>

namespace vorlax {

// The count of a node; copying a node starts a fresh count. It is as wide as a pointer, so
// that no number of owners can wrap it around (the node is no larger for it).
class Counted {
 public:
  Counted() = default;
  Counted(const Counted&) {}
  Counted& operator=(const Counted&) { return *this; }

 private:
  template <class T>
  friend class NodeRef;
  mutable std::uint64_t refs_ = 0;
};

template <class T>
class NodeRef {
 public:
  NodeRef() = default;
  NodeRef(std::nullptr_t) {}
  NodeRef(const NodeRef& o) : p_(o.p_) { retain(); }
  NodeRef(NodeRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  NodeRef& operator=(const NodeRef& o) {
    NodeRef(o).swap(*this);
    return *this;
  }
  NodeRef& operator=(NodeRef&& o) noexcept {
    NodeRef(std::move(o)).swap(*this);
    return *this;
  }
  ~NodeRef() { release(); }

  // A new node owned by the pointer.
  template <class... Args>
  static NodeRef make(Args&&... args) {
    NodeRef r;
    r.p_ = new T(std::forward<Args>(args)...);
    r.retain();
    return r;
  }

  const T* get() const { return p_; }
  const T& operator*() const { return *p_; }
  const T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset() { NodeRef().swap(*this); }
  void swap(NodeRef& o) noexcept { std::swap(p_, o.p_); }

  friend bool operator==(const NodeRef& a, const NodeRef& b) { return a.p_ == b.p_; }
  friend bool operator==(const NodeRef& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  void retain() const {
    if (p_) ++static_cast<const Counted*>(p_)->refs_;
  }
  void release() {
    if (p_ && --static_cast<const Counted*>(p_)->refs_ == 0) delete p_;
  }
  const T* p_ = nullptr;
};

}  // namespace vorlax
