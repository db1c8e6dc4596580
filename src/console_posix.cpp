#include "console.hpp"

namespace lumaflick {

// Terminals here take the bytes as the locale says, which is UTF-8 in practice.
void use_utf8_console() noexcept {}

}  // namespace lumaflick
