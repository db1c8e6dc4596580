#pragma once

#include <cstddef>

namespace lumaflick::test {

// Global operator new calls made while counting is on (replaced in allocation_counter.cpp).
void start_counting_allocations() noexcept;
std::size_t stop_counting_allocations() noexcept;

}  // namespace lumaflick::test
