#pragma once

// Children that lumaflick leaves behind (it never waits for them) are adopted
// by this process, so that a test can tell a killed child from a running one
// and clean up whatever is left.

#include <chrono>
#include <optional>

namespace lumaflick::test {

// Makes this process the reaper of its orphaned descendants.
bool adopt_orphans();

// Exists and has not ended; a zombie has ended.
bool is_running(long pid);

// Polls until `pid` is no longer running; false on time-out.
bool wait_ended(long pid, std::chrono::milliseconds timeout);

// The wait status of an adopted child once it has ended (reaping it);
// nullopt on time-out or when it is not our child.
std::optional<int> reap(long pid, std::chrono::milliseconds timeout);

// Kills and reaps every child of this process that is still around.
void kill_adopted();

}  // namespace lumaflick::test
