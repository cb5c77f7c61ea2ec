// Stands in for the product's own web-service client, whose program path contains "RQAPI": it only
// waits (a minute at most) for the test that started it to end it.
#include <windows.h>

int main() {
  ::Sleep(60000);
  return 0;
}
