#pragma once

#include <utility>

namespace fc {

// Gives a variable a value for the life of the object and puts the old one
// back when it ends, on every path out of the scope: a temporary change that
// a return or an early exit cannot leave behind.
template <typename T>
class ScopedValue {
  public:
    ScopedValue(T& target, T value) : target_(target), kept_(target) {
        target_ = std::move(value);
    }
    ~ScopedValue() { target_ = kept_; }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

  private:
    T& target_;
    T kept_;
};

}  // namespace fc
