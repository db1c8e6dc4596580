#include "args.hpp"

namespace lumaflick {

// Placeholder until the command-line issue lands.
std::variant<Args, ParseExit> parse_args(std::span<const std::string>) { return ParseExit{2, {}, "error: not yet\n"}; }

}  // namespace lumaflick
