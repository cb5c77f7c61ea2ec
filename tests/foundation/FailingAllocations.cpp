#include "FailingAllocations.h"

#include <cstdlib>
#include <new>

namespace {

thread_local long t_countdown = -1;  // allocations left before the failing one; -1: none armed
thread_local bool t_fired = false;

bool NextAllocationFails() noexcept {
  if (t_countdown < 0) return false;
  if (t_countdown-- > 0) return false;
  t_fired = true;
  return true;
}

void* Allocate(std::size_t size) {
  if (NextAllocationFails()) throw std::bad_alloc();
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}

void* AllocateOrNull(std::size_t size) noexcept {
  if (NextAllocationFails()) return nullptr;
  return std::malloc(size ? size : 1);
}

}  // namespace

namespace ZelTest {

FailingAllocations::FailingAllocations(long nth) {
  t_fired = false;
  t_countdown = nth;
}

FailingAllocations::~FailingAllocations() { t_countdown = -1; }

bool FailingAllocations::Fired() const { return t_fired; }

}  // namespace ZelTest

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
