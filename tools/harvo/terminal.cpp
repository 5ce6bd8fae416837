#include "terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool IsTerminal(FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

size_t TerminalColumns(FILE* stream) {
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0) return size.ws_col;
  return 0;
}
