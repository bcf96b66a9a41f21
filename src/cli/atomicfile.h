// Result files written whole or not at all: the text goes to a new
// temporary file beside the file's name and is renamed to that name only
// when every write, the flush, the sync to disk and the close succeeded, so
// that no reader ever sees half a file and a failure leaves whatever stood
// at the name as it was.
//
// One such file is open at a time. Every failure ends the run with a
// message naming the file and the system's error, and status 1; the
// temporary file is then removed, as it is when the run ends in any other
// way before the rename (exit, an interrupt signal).
#pragma once
#include <cstddef>

namespace bayescreen {

// Starts the file `path`: creates a new temporary file `.NAME.XXXXXX` in
// the directory of path, with the permissions a new file gets (0666 less
// the umask).
void begin_atomic_file(const char *path);
// Appends n bytes to the file begun.
void atomic_write(const char *text, size_t n);
// Appends formatted text to the file begun.
void atomic_printf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// Flushes, syncs and closes the temporary file, then renames it to the
// file's name, replacing what stood there (a symbolic link there is
// replaced itself, never followed).
void commit_atomic_file();
// Removes the temporary file of a file begun but not committed; nothing
// otherwise. Async-signal-safe, for the interrupt handlers; also run at exit.
void discard_atomic_file();

}  // namespace bayescreen
