#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace insim_screen {

// The tool's own error value: a text for the console. The player's error type
// lives in its library, which this host does not link.
struct Failure {
    std::string text;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit by design
    Result(Failure failure) : v_(std::in_place_index<1>, std::move(failure)) {}  // NOLINT: implicit by design

    [[nodiscard]] bool has_value() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }
    T& operator*() & { assert(has_value()); return std::get<0>(v_); }
    const T& operator*() const& { assert(has_value()); return std::get<0>(v_); }
    T* operator->() { return &**this; }
    const T* operator->() const { return &**this; }
    [[nodiscard]] const Failure& failure() const& { assert(!has_value()); return std::get<1>(v_); }

private:
    std::variant<T, Failure> v_;
};

class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Failure failure) : failure_(std::move(failure)) {}  // NOLINT: implicit by design

    [[nodiscard]] bool has_value() const noexcept { return !failure_; }
    explicit operator bool() const noexcept { return !failure_; }
    [[nodiscard]] const Failure& failure() const& { assert(failure_); return *failure_; }

private:
    std::optional<Failure> failure_;
};

}  // namespace insim_screen
