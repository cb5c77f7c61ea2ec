#include "TaskMemorySpy.h"

TaskMemorySpy::TaskMemorySpy() { installed_ = SUCCEEDED(::CoRegisterMallocSpy(this)); }

TaskMemorySpy::~TaskMemorySpy() {
  if (installed_) ::CoRevokeMallocSpy();
}

SIZE_T TaskMemorySpy::PreAlloc(SIZE_T request) {
  failingNow_ = failCountdown_ == 0;
  if (failCountdown_ >= 0) --failCountdown_;
  // A zero answer to a non-zero request makes the allocation fail.
  return failingNow_ ? 0 : request;
}

void* TaskMemorySpy::PostAlloc(void* actual) {
  if (actual) {
    live_.insert(actual);
    ever_.insert(actual);
  }
  return actual;
}

void* TaskMemorySpy::PreFree(void* request, BOOL) {
  if (!request) return request;
  if (live_.erase(request)) return request;
  // Blocks from before the spy was installed pass; anything else is freed twice.
  if (!ever_.count(request)) return request;
  ++strayFrees_;
  return nullptr;
}

SIZE_T TaskMemorySpy::PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) {
  reallocSource_ = request;
  *newRequest = request;
  return size;
}

void* TaskMemorySpy::PostRealloc(void* actual, BOOL) {
  if (actual) {
    live_.erase(reallocSource_);
    live_.insert(actual);
    ever_.insert(actual);
  }
  return actual;
}
