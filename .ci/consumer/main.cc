// Links against the installed libkestle.so through the umbrella header and checks a round trip.
#include <kestle/kestle.h>

#include <cstdio>
#include <cwchar>

int main() {
  long long start = Heapwick::bytesHeld();
  {
    WString text(L"consumer ", 7ULL);
    if (std::wcscmp(text, L"consumer 7") != 0)
      return 1;
  }
  if (Heapwick::bytesHeld() != start)
    return 2;
  std::printf("consumer: ok\n");
  return 0;
}
