#pragma once

// What /proc tells about a process that is not our child (lumaflick's own
// children, while it runs).

#include <cstddef>
#include <optional>
#include <vector>

namespace lumaflick::test {

std::optional<long> parent_of(long pid);

// Every process whose parent is `pid`, zombies included.
std::vector<long> children_of(long pid);

// VmRSS in kibibytes; nullopt once the process is gone.
std::optional<std::size_t> resident_kib(long pid);

}  // namespace lumaflick::test
