#pragma once

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

#include "insim/error.hpp"

namespace insim {

// A value or an Error; the small subset of std::expected that we need in C++20.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}        // NOLINT: implicit by design
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}    // NOLINT: implicit by design

    [[nodiscard]] bool has_value() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & { assert(has_value()); return std::get<0>(v_); }
    const T& value() const& { assert(has_value()); return std::get<0>(v_); }
    T&& value() && { assert(has_value()); return std::get<0>(std::move(v_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    Error& error() & { assert(!has_value()); return std::get<1>(v_); }
    const Error& error() const& { assert(!has_value()); return std::get<1>(v_); }
    Error&& error() && { assert(!has_value()); return std::get<1>(std::move(v_)); }

private:
    std::variant<T, Error> v_;
};

// Success with no value, or an Error.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit by design

    [[nodiscard]] bool has_value() const noexcept { return !failed_; }
    explicit operator bool() const noexcept { return !failed_; }
    const Error& error() const& { assert(failed_); return error_; }
    Error&& error() && { assert(failed_); return std::move(error_); }

private:
    Error error_ = Error::message({});
    bool failed_ = false;
};

inline Status ok() { return {}; }

}  // namespace insim
