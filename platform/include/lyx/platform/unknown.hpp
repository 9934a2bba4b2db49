// Reference-counted interfaces identified by interface identifiers.
//
// An interface is an abstract class deriving (singly) from Unknown, with a
// static `iid` and a `Base` naming the interface it extends. Objects implement
// one or more interfaces through Implements<...>, which answers
// queryInterface for each of them and for every interface they extend.
// Ref<T> holds one reference.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "lyx/platform/guid.hpp"

namespace lyx::platform {

class Unknown {
  public:
    static constexpr Guid iid = guid("{00000000-0000-0000-C000-000000000046}");
    using Base = void;

    // The interface `id` of this object with one reference added for the caller,
    // or null when the object does not implement it. The pointer is the
    // interface's own: static_cast it to the interface asked for.
    virtual void *queryInterface(const Guid &id) noexcept = 0;
    virtual std::uint32_t addRef() noexcept = 0;
    // Drops one reference; the object is destroyed with the last one.
    virtual std::uint32_t release() noexcept = 0;

  protected:
    ~Unknown() = default;
};

template <class T>
class Ref {
  public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    // Shares `object`: adds a reference.
    explicit Ref(T *object) : p_(object) {
        if (p_ != nullptr) p_->addRef();
    }
    // Takes over a reference the caller already owns.
    static Ref adopt(T *object) {
        Ref r;
        r.p_ = object;
        return r;
    }
    Ref(const Ref &other) : Ref(other.p_) {}
    Ref(Ref &&other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U>
    requires std::is_convertible_v<U *, T *> Ref(Ref<U> other) : p_(other.detach()) {}
    Ref &operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() { reset(); }

    void reset() {
        if (T *p = std::exchange(p_, nullptr)) p->release();
    }
    // Hands the reference to the caller.
    T *detach() { return std::exchange(p_, nullptr); }

    T *get() const { return p_; }
    T *operator->() const { return p_; }
    T &operator*() const { return *p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // The object's interface I, or null.
    template <class I>
    Ref<I> query() const {
        if (p_ == nullptr) return {};
        return Ref<I>::adopt(static_cast<I *>(p_->queryInterface(I::iid)));
    }

  private:
    T *p_ = nullptr;
};

// Reference counting and queryInterface for an object implementing `Interfaces`.
// The first interface gives the object's identity (its Unknown).
template <class... Interfaces>
class Implements : public Interfaces... {
  public:
    Implements(const Implements &) = delete;
    Implements &operator=(const Implements &) = delete;

    void *queryInterface(const Guid &id) noexcept override {
        void *found = nullptr;
        if (id == Unknown::iid) {
            found = static_cast<Unknown *>(static_cast<First *>(this));
        } else {
            (void)((found = find<Interfaces, Interfaces>(id)) || ...);
        }
        if (found != nullptr) addRef();
        return found;
    }
    std::uint32_t addRef() noexcept override {
        return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    std::uint32_t release() noexcept override {
        std::uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

  protected:
    Implements() = default;
    virtual ~Implements() = default;

  private:
    template <class First_, class...>
    struct FirstOf {
        using type = First_;
    };
    using First = typename FirstOf<Interfaces...>::type;

    // `I` itself or an interface it extends, as the pointer of that interface.
    template <class I, class Target>
    void *find(const Guid &id) {
        if constexpr (std::is_void_v<Target>) {
            return nullptr;
        } else {
            if (id == Target::iid) return static_cast<Target *>(static_cast<I *>(this));
            return find<I, typename Target::Base>(id);
        }
    }

    std::atomic<std::uint32_t> refs_{0};
};

// A new object of class T with its first reference held by the result.
template <class T, class... Args>
Ref<T> makeObject(Args &&...args) {
    return Ref<T>(new T(std::forward<Args>(args)...));
}

}  // namespace lyx::platform
