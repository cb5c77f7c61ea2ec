// Keeps the Wine prefix's desktop in use for as long as the prefix's wineserver runs. Wine ends
// the desktop's process (explorer.exe /desktop) once no program uses the desktop, and the next
// program that needs a desktop starts a new one, which inherits that program's error stream. A
// test program that started it would then keep CTest waiting on its output after it has ended,
// until the test's time-out. scripts/wine-run starts this program with its streams detached, so
// the desktop's process is started once, by a program nobody waits for, and never ends early.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ::GetDesktopWindow();
  ::Sleep(INFINITE);
  return 0;
}
