// Allocation failures on demand, to show that no exception crosses a boundary: this test program
// replaces operator new, and while a FailingAllocations lives, the calling thread's allocation
// number `nth` (from 0) throws std::bad_alloc (a nothrow form answers null). Other threads and the
// system's own heaps are not touched.
#pragma once

namespace ZelTest {

class FailingAllocations {
 public:
  explicit FailingAllocations(long nth);
  ~FailingAllocations();
  FailingAllocations(const FailingAllocations&) = delete;
  FailingAllocations& operator=(const FailingAllocations&) = delete;

  // Whether the allocation chosen was reached; when not, the call made fewer allocations.
  bool Fired() const;
};

}  // namespace ZelTest
