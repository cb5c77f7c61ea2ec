// The entry of every GoogleTest program here. Under Wine an unhandled exception starts the debugger,
// which then lets the process end with exit code 0, so CTest would count a crashed test as passed;
// the filter below ends the process with the exception's code instead, and says so on the error
// stream. It writes with WriteFile alone: the crash may have left the C runtime's locks held.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

void WriteHex(char* out, ULONG_PTR value, int digits) {
  for (int i = digits - 1; i >= 0; --i, value >>= 4) out[i] = "0123456789ABCDEF"[value & 0xF];
}

LONG WINAPI EndWithTheExceptionCode(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  char line[] = "The test program crashed: exception 0x00000000 at 0x0000000000000000\n";
  WriteHex(line + sizeof("The test program crashed: exception 0x") - 1, code, 8);
  WriteHex(line + sizeof("The test program crashed: exception 0x00000000 at 0x") - 1,
           reinterpret_cast<ULONG_PTR>(exception->ExceptionRecord->ExceptionAddress), 16);
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line, sizeof(line) - 1, &written, nullptr);
  ::TerminateProcess(::GetCurrentProcess(), code);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int main(int argc, char** argv) {
  ::SetUnhandledExceptionFilter(EndWithTheExceptionCode);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
