#pragma once

// The program shares the InSim library's error value, so that every error
// reaches the entry point unchanged.
#include "insim/error.hpp"
#include "insim/result.hpp"

namespace lumaflick {
using insim::Error;
using insim::Result;
using insim::Status;
using insim::ok;
}  // namespace lumaflick
