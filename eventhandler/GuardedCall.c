#include "GuardedCall.h"

DWORD CallGuarded(void (*fn)(void* context), void* context) {
  DWORD code = 0;
  __try {
    fn(context);
  } __except (code = GetExceptionCode(), EXCEPTION_EXECUTE_HANDLER) {
  }
  return code;
}
