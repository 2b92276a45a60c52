// The bytes the program holds from the allocator (allocated and not yet freed), from the
// allocator's own counters: glibc's, or AddressSanitizer's when it has replaced glibc's
// (whose counters then read 0). Freed blocks that AddressSanitizer keeps in quarantine are
// not counted, so its figures are comparable with glibc's.
#pragma once

#include <malloc.h>

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define VESK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VESK_TEST_ASAN 1
#endif
#endif

#ifdef VESK_TEST_ASAN
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace vesk::test {

inline std::size_t allocatedBytes() {
#ifdef VESK_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;  // small blocks in every arena, and mapped ones
#endif
}

}  // namespace vesk::test
