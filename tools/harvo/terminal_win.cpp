#include <io.h>
#include <windows.h>

#include "terminal.h"

bool IsTerminal(FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

size_t TerminalColumns(FILE* stream) {
  HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (console == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(console, &info)) return 0;
  return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}
