#include "control/terminal_keys.hpp"

#include <utility>

namespace lumaflick {

// What the platforms share; each defines Impl and shut().

TerminalKeys::TerminalKeys(std::shared_ptr<Impl> impl) noexcept : impl_(std::move(impl)) {}
TerminalKeys::TerminalKeys(TerminalKeys&&) noexcept = default;

TerminalKeys& TerminalKeys::operator=(TerminalKeys&& other) noexcept
{
    if (this != &other) {
        if (impl_) shut(*impl_);
        impl_ = std::move(other.impl_);
    }
    return *this;
}

TerminalKeys::~TerminalKeys()
{
    if (impl_) shut(*impl_);
}

}  // namespace lumaflick
