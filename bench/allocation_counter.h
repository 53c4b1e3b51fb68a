#pragma once

#include <cstddef>

namespace orvale::bench {

/// Heap allocations made by the process so far (every operator new). Linking
/// allocation_counter.cpp replaces the global operator new to count them.
std::size_t allocationCount();

}  // namespace orvale::bench
