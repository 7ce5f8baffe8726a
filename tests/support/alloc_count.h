// Counts every heap allocation of the test process, for the tests that prove a per-frame path
// allocates nothing. Under AddressSanitizer it counts through the sanitizer's allocator hooks;
// otherwise it stands in front of the C library's allocator (operator new reaches it through
// malloc), which can also be told to refuse, to see an allocation run out of memory.
//
// It defines the allocator entry points: include it in exactly one file of a test executable.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace alloc_count {

// Volatile: the compiler takes malloc for a call that cannot see these.
inline volatile bool counting = false;
inline volatile long allocations = 0;
inline volatile bool refusing = false;  // the C library stand-in answers "out of memory"

inline void note_allocation() {
  if (counting) allocations = allocations + 1;
}

}  // namespace alloc_count

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ALLOC_COUNT_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ALLOC_COUNT_ASAN 1
#endif

#ifdef ALLOC_COUNT_ASAN
#include <sanitizer/allocator_interface.h>

namespace {
void malloc_hook(const volatile void *, std::size_t) {
  alloc_count::note_allocation();
}
void free_hook(const volatile void *) {}
[[maybe_unused]] const int hooks_installed =
    __sanitizer_install_malloc_and_free_hooks(malloc_hook, free_hook);
}  // namespace

#else

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *p, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);
void *__libc_valloc(std::size_t size);
void *__libc_pvalloc(std::size_t size);
void __libc_free(void *p);

void *malloc(std::size_t size) noexcept {
  alloc_count::note_allocation();
  if (alloc_count::refusing) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) noexcept {
  alloc_count::note_allocation();
  if (alloc_count::refusing) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_calloc(count, size);
}
void *realloc(void *p, std::size_t size) noexcept {
  alloc_count::note_allocation();
  return __libc_realloc(p, size);
}
void *aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  alloc_count::note_allocation();
  return __libc_memalign(alignment, size);
}
void *memalign(std::size_t alignment, std::size_t size) noexcept {
  alloc_count::note_allocation();
  return __libc_memalign(alignment, size);
}
void *valloc(std::size_t size) noexcept {
  alloc_count::note_allocation();
  return __libc_valloc(size);
}
void *pvalloc(std::size_t size) noexcept {
  alloc_count::note_allocation();
  return __libc_pvalloc(size);
}
int posix_memalign(void **out, std::size_t alignment, std::size_t size) noexcept {
  alloc_count::note_allocation();
  void *p = __libc_memalign(alignment, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void free(void *p) noexcept {
  __libc_free(p);
}
}

namespace {
[[maybe_unused]] const int hooks_installed = 1;
}  // namespace
#define ALLOC_COUNT_CAN_REFUSE 1

#endif
