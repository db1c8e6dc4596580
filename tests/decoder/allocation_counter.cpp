#include "allocation_counter.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> counting{false};
std::atomic<std::size_t> allocations{0};
}  // namespace

// In a file of their own, so that the compiler never sees free() meet an inlined new.
void* operator new(std::size_t size)
{
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace lumaflick::test {

void start_counting_allocations() noexcept
{
    allocations = 0;
    counting = true;
}

std::size_t stop_counting_allocations() noexcept
{
    counting = false;
    return allocations;
}

}  // namespace lumaflick::test
