#pragma once
// What a command-line program meets of its system: terminals, arguments that name files, and the
// signals (or console events) that stop it.

#include <cstddef>
#include <cstdio>
#include <string>

namespace orvel {

// True when the stream is a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

struct TerminalSize {
  std::size_t columns = 80;
  std::size_t rows = 24;
};
// The size of the terminal the stream writes to; 80 x 24 when it cannot be told.
TerminalSize SizeOfTerminal(std::FILE* stream);

// Lets the terminal of the stream take the cursor-moving and erasing sequences ("\x1b[A",
// "\x1b[J"); false when it cannot (an old Windows console).
bool EnableCursorControl(std::FILE* stream);

// A command-line argument that names a file, as the wide path that the tasks open: the bytes as
// given on POSIX systems, even when they are no UTF-8 (they go back to the system unchanged); the
// argument in the ANSI code page on Windows.
std::wstring PathFromArgument(const std::string& argument);

// From now on every signal that would end the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1,
// SIGALRM and the others whose default action is to end it; on Windows: Ctrl+C and the closing of
// the console) ends it as it would have, but not before the pending temporary files of the outputs
// (see RemovePendingTemporaryFile) are gone. A signal that whoever started the process ignores, or
// that a library already handles, is left as it is.
void RemovePendingTemporaryFileOnStop();

// From now on a write to a pipe whose reader is gone fails (EPIPE) instead of ending the process
// with SIGPIPE, so that the program can count it as the failed write it is. Nothing on Windows,
// where that is how it always goes.
void FailWritesToClosedPipes();

}  // namespace orvel
