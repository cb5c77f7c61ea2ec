// Runs a function under a structured exception handler. GCC has no __try, so the handler lives in
// GuardedCall.c, which is compiled with clang.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Calls fn(context). Returns 0 when it returned normally, else the code of the exception that
// ended it (0xC0000005 for an access violation). Destructors in the frames that faulted do not run.
DWORD CallGuarded(void (*fn)(void* context), void* context);

#ifdef __cplusplus
}
#endif
