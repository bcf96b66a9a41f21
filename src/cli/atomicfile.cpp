#include "cli/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/helpers.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// A large buffer: result files can run to hundreds of megabytes.
constexpr size_t kBufferSize = size_t{1} << 20;

FILE *stream = nullptr;           // the temporary file, while a file is begun
char *target = nullptr;           // the file's name
char *volatile pending = nullptr; // the temporary file's name, until the rename
char *buffer = nullptr;

void remove_pending() {
  char *temp = pending;
  if (temp != nullptr) unlink(temp);
}

// Ends the run after a failed step: the temporary file goes, the message
// names the file the user asked for, and whatever stands at that name stays.
[[noreturn]] void atomic_failed(const char *verb, int err) {
  if (stream != nullptr) fclose(stream);
  stream = nullptr;
  remove_pending();
  pending = nullptr;
  errno = err;
  errmsg(verb, target);
  fprintf(stderr, "Nothing was written to `%s'; what stood at that name is left as it was.\n",
          target);
  exit(1);
}

// The temporary name: the directory part of path, then "." and the base
// name and six characters that mkstemp fills in.
char *temporary_name(const char *path) {
  const char *slash = strrchr(path, '/');
  const size_t dirlen = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
  const size_t len = strlen(path);
  char *temp = static_cast<char *>(mxalloc(len + 9));
  memcpy(temp, path, dirlen);
  snprintf(temp + dirlen, len - dirlen + 9, ".%s.XXXXXX", path + dirlen);
  return temp;
}

}  // namespace

void begin_atomic_file(const char *path) {
  PlaceGuard place("Begin_Atomic_File");
  static bool exit_hook = false;
  if (!exit_hook) {
    atexit(discard_atomic_file);
    exit_hook = true;
  }
  free(target);
  target = strxdup(path);
  char *temp = temporary_name(path);
  const int fd = mkstemp(temp);
  if (fd < 0) {
    free(temp);
    atomic_failed("CREATE", errno);
  }
  pending = temp;
  // mkstemp creates the file for its owner alone; a result file gets the
  // permissions of any new file.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0) {
    const int err = errno;
    close(fd);
    atomic_failed("CREATE", err);
  }
  stream = fdopen(fd, "w");
  if (stream == nullptr) {
    const int err = errno;
    close(fd);
    atomic_failed("CREATE", err);
  }
  if (buffer == nullptr) buffer = static_cast<char *>(mxalloc(kBufferSize));
  setvbuf(stream, buffer, _IOFBF, kBufferSize);
}

void atomic_write(const char *text, size_t n) {
  errno = 0;
  if (fwrite(text, 1, n, stream) != n || ferror(stream)) atomic_failed("WRITE", errno);
}

void atomic_printf(const char *fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  errno = 0;
  const int n = vfprintf(stream, fmt, ap);
  va_end(ap);
  if (n < 0 || ferror(stream)) atomic_failed("WRITE", errno);
}

void commit_atomic_file() {
  PlaceGuard place("Commit_Atomic_File");
  if (fflush(stream) != 0 || ferror(stream)) atomic_failed("WRITE", errno);
  if (fsync(fileno(stream)) != 0) atomic_failed("WRITE", errno);
  const int closed = fclose(stream);
  stream = nullptr;
  if (closed != 0) atomic_failed("CLOSE", errno);
  if (rename(pending, target) != 0) atomic_failed("CREATE", errno);
  char *temp = pending;
  pending = nullptr;
  free(temp);
}

void discard_atomic_file() {
  remove_pending();
  pending = nullptr;
}

}  // namespace bayescreen
