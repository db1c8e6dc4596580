#pragma once

#include <span>
#include <string>
#include <string_view>

#include "error.hpp"

namespace lumaflick {

// The two children a playback runs: ffmpeg, whose output is the frames, and
// ffplay, which plays the sound.
enum class Child { decoder, sound };

// Starts and ends the children for the player's rules, so that the rules'
// tests can record what would run instead of running it.
class Children {
public:
    // Starts `which` without a shell. The decoder's output becomes the frames
    // the player is given from now on.
    virtual Status start(Child which, std::string_view program, std::span<const std::string> arguments) = 0;
    // Ends `which` if it runs, and waits for it to be gone; the decoder's
    // frames not yet given are dropped.
    virtual Status end(Child which) = 0;
    // The error starting `program` would fail with, starting nothing.
    virtual Status check(std::string_view program) = 0;

protected:
    ~Children() = default;
};

}  // namespace lumaflick
