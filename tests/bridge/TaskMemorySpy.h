// Watches every task-memory allocation and free of the process while it is installed: which
// blocks are alive, which frees hit no live block, and it can make one chosen allocation fail.
#pragma once

#include <objidl.h>

#include <set>

#include "ComObject.h"

// The test owns the spy and keeps its creation reference; COM holds one more while it is installed.
class TaskMemorySpy : public Ky::ComObject<Ky::NoModuleLock, IMallocSpy> {
 public:
  TaskMemorySpy();
  ~TaskMemorySpy();
  TaskMemorySpy(const TaskMemorySpy&) = delete;
  TaskMemorySpy& operator=(const TaskMemorySpy&) = delete;

  bool Installed() const { return installed_; }
  // Blocks allocated while installed and not freed yet.
  const std::set<void*>& Live() const { return live_; }
  // Frees of a block that was not alive (a second free, say); the spy keeps them from reaching
  // the heap.
  int StrayFrees() const { return strayFrees_; }
  // The allocation `index` allocations from now (0 = the next one) fails.
  void FailAllocation(int index) { failCountdown_ = index; }

  // IMallocSpy
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override;
  void* STDMETHODCALLTYPE PostAlloc(void* actual) override;
  void* STDMETHODCALLTYPE PreFree(void* request, BOOL spyed) override;
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL spyed) override;
  void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL spyed) override;
  void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}

 private:
  bool installed_ = false;
  std::set<void*> live_;
  std::set<void*> ever_;
  int strayFrees_ = 0;
  int failCountdown_ = -1;
  bool failingNow_ = false;
  void* reallocSource_ = nullptr;
};
