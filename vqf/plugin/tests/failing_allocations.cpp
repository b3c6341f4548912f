// Every form of operator new and delete over malloc and free, so memory from any of them
// is released consistently, with a countdown that makes allocations fail.
#include "failing_allocations.h"

#include <cstdlib>
#include <new>

namespace {

long allowed = -1;  // allocations left before failing; -1: no limit

void* Allocate(std::size_t size) noexcept {
  if (allowed == 0) return nullptr;
  if (allowed > 0) --allowed;
  return std::malloc(size ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}

}  // namespace

void FailAllocationsAfter(long allocations) { allowed = allocations; }
void AllowAllocations() { allowed = -1; }

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
