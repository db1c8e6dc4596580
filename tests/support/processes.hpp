#pragma once

// Processes as /proc and wait tell about them. Children that lumaflick leaves
// behind (it never waits for them) are adopted by this process, so that a test
// can tell a killed child from a running one and clean up whatever is left.

#include <chrono>
#include <cstddef>
#include <optional>
#include <vector>

namespace lumaflick::test {

// Makes this process the reaper of its orphaned descendants.
bool adopt_orphans();

// Exists and has not ended; a zombie has ended.
bool is_running(long pid);

// The wait status of an adopted child once it has ended (reaping it);
// nullopt on time-out or when it is not our child.
std::optional<int> reap(long pid, std::chrono::milliseconds timeout);

// Kills and reaps every child of this process that is still around.
void kill_adopted();

std::optional<long> parent_of(long pid);

// Every process whose parent is `pid`, zombies included.
std::vector<long> children_of(long pid);

// VmRSS in kibibytes; nullopt once the process is gone.
std::optional<std::size_t> resident_kib(long pid);

}  // namespace lumaflick::test
