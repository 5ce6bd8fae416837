// What the command asks of the terminal it writes to.
#ifndef HARVO_TOOLS_TERMINAL_H
#define HARVO_TOOLS_TERMINAL_H

#include <cstddef>
#include <cstdio>

// True when the stream is a terminal (a console window), where a status line may be redrawn.
bool IsTerminal(FILE* stream);

// The terminal's width in columns; 0 when it cannot be told.
size_t TerminalColumns(FILE* stream);

#endif  // HARVO_TOOLS_TERMINAL_H
