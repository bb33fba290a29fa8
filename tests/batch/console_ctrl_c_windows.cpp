// Presses Ctrl-C on the console of another process, as the operator's key
// does: waits for a line on its standard input (so that the press comes
// the moment the caller asks, without a program start in between), then
// attaches to that console, keeps itself out of the event and raises it
// for every process there. Usage: console-ctrl-c <process id>.
// Exit 0 when the event went out, 2 on bad usage, 3 when the console could
// not be reached, 4 when the event could not be raised.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2) {
    return 2;
  }
  const auto pid = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  std::getchar();
  FreeConsole();
  if (AttachConsole(pid) == 0) {
    return 3;
  }
  SetConsoleCtrlHandler(nullptr, TRUE);
  return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0 ? 0 : 4;
}
