// A test program whose one test crashes: CTest must see the crash, through TestMain's filter.
#include <gtest/gtest.h>

TEST(CrashProbe, AnAccessViolationEndsTheProgram) {
  *static_cast<volatile int*>(nullptr) = 1;
}
