// Result files written whole or not at all: the text goes to a new
// temporary file beside the file's name and is renamed to that name only
// when every write, the flush, the sync to disk and the close succeeded, so
// that no reader ever sees half a file and a failure leaves whatever stood
// at the name as it was.
//
// Where the file system allows, the temporary file has no name while it is
// written (O_TMPFILE); it gets one (linked through /proc/self/fd) just before
// the rename, so a run killed meanwhile leaves nothing behind. Elsewhere it
// is `.NAME.XXXXXX` (NAME cut to fit within NAME_MAX). Either way the run
// holds a lock on it until the rename, and the temporary files of that
// pattern beside the name that no live run holds are removed when the next
// run begins the file.
//
// One such file is open at a time. Every failure ends the run with a
// message naming the file and the system's error, and status 1; the
// temporary file is then removed, as it is when the run ends in any other
// way before the rename (exit, an interrupt signal).
#pragma once
#include <cstddef>

namespace bayescreen {

// Starts the file `path`: removes stale temporary files of path, then
// creates a new temporary file in the directory of path (unnamed, or
// `.NAME.XXXXXX`), with the permissions a new file gets (0666 less the
// umask).
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
