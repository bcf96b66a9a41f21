#include "cli/atomicfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "support/helpers.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// A large buffer: result files can run to hundreds of megabytes.
constexpr size_t kBufferSize = size_t{1} << 20;
// The characters that end a temporary name, as mkstemp chooses them.
constexpr size_t kSuffixLength = 6;
constexpr char kSuffixChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

FILE *stream = nullptr;           // the temporary file, while a file is begun
char *target = nullptr;           // the file's name
char *volatile pending = nullptr; // the temporary file's name while it has one, until the rename
char *buffer = nullptr;
int lock_fd = -1;                 // a second descriptor of the temporary file: its lock, until the rename
bool unnamed = false;             // created with O_TMPFILE and not linked yet

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
  if (lock_fd >= 0) close(lock_fd);
  lock_fd = -1;
  errno = err;
  errmsg(verb, target);
  fprintf(stderr, "Nothing was written to `%s'; what stood at that name is left as it was.\n",
          target);
  exit(1);
}

// The directory part of path, "." when it has none.
std::string directory_of(const char *path) {
  const char *slash = strrchr(path, '/');
  if (slash == nullptr) return ".";
  if (slash == path) return "/";
  return std::string(path, static_cast<size_t>(slash - path));
}

// The temporary names of path are the directory part, then "." and the base
// name and "." and six characters; a base name too long for that within
// NAME_MAX is cut, so that every legal name has a temporary name.
std::string temporary_prefix(const char *path) {
  const char *slash = strrchr(path, '/');
  const size_t dirlen = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
  std::string base(path + dirlen);
  const size_t room = NAME_MAX - 2 - kSuffixLength;
  if (base.size() > room) base.resize(room);
  return std::string(path, dirlen) + "." + base + ".";
}

// Whether name (a name in a directory, without the directory) is a
// temporary name of the prefix's base: the base, then six characters that
// mkstemp or this module could have chosen.
bool is_temporary_name(const char *name, const std::string &base_prefix) {
  if (strncmp(name, base_prefix.c_str(), base_prefix.size()) != 0) return false;
  const char *suffix = name + base_prefix.size();
  if (strlen(suffix) != kSuffixLength) return false;
  for (const char *c = suffix; *c != '\0'; c++)
    if (strchr(kSuffixChars, *c) == nullptr) return false;
  return true;
}

// Removes the temporary files of earlier runs beside path that were killed
// before their rename (by SIGKILL, say). A run holds a lock on its temporary
// file until the rename, and the system releases it when the process dies,
// so a temporary file that can be locked belongs to no live run.
void clean_stale_temporaries(const char *path) {
  const std::string prefix = temporary_prefix(path);
  const size_t slash = prefix.rfind('/');
  const std::string base_prefix = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
  DIR *dir = opendir(directory_of(path).c_str());
  if (dir == nullptr) return;
  const int dfd = dirfd(dir);
  while (const dirent *entry = readdir(dir)) {
    if (!is_temporary_name(entry->d_name, base_prefix)) continue;
    const int fd = openat(dfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0)
      unlinkat(dfd, entry->d_name, 0);
    close(fd);
  }
  closedir(dir);
}

// Six characters for a temporary name, different at every call.
std::string random_suffix() {
  static uint64_t state = 0;
  if (state == 0) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    state = (static_cast<uint64_t>(now.tv_nsec) << 20) ^ static_cast<uint64_t>(now.tv_sec) ^
            (static_cast<uint64_t>(getpid()) << 40) ^ 0x9e3779b97f4a7c15ULL;
  }
  std::string suffix;
  for (size_t k = 0; k < kSuffixLength; k++) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;  // Knuth's MMIX generator
    suffix += kSuffixChars[(state >> 33) % (sizeof kSuffixChars - 1)];
  }
  return suffix;
}

// A new unnamed file in the directory of path (O_TMPFILE), or -1 where the
// file system or the kernel has none, or /proc is not there to link it.
int open_unnamed(const char *path) {
#ifdef O_TMPFILE
  if (access("/proc/self/fd", X_OK) != 0) return -1;
  return open(directory_of(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
#else
  (void)path;
  return -1;
#endif
}

// Gives the unnamed file a temporary name beside the target, for the
// rename: a name taken meanwhile is tried again with other characters.
void link_unnamed() {
  char proc[64];
  snprintf(proc, sizeof proc, "/proc/self/fd/%d", fileno(stream));
  const std::string prefix = temporary_prefix(target);
  for (int attempt = 0;; attempt++) {
    char *temp = strxdup((prefix + random_suffix()).c_str());
    if (linkat(AT_FDCWD, proc, AT_FDCWD, temp, AT_SYMLINK_FOLLOW) == 0) {
      pending = temp;
      unnamed = false;
      return;
    }
    const int err = errno;
    free(temp);
    if (err != EEXIST || attempt == 100) atomic_failed("CREATE", err);
  }
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
  clean_stale_temporaries(path);
  int fd = open_unnamed(path);
  unnamed = fd >= 0;
  if (!unnamed) {
    char *temp = strxdup((temporary_prefix(path) + "XXXXXX").c_str());
    fd = mkostemp(temp, O_CLOEXEC);
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
  }
  // The lock tells a later run that this temporary file is in use; it is
  // held by a descriptor of its own until the rename.
  lock_fd = dup(fd);
  if (lock_fd < 0 || flock(lock_fd, LOCK_EX) != 0) {
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
  if (unnamed) link_unnamed();
  const int closed = fclose(stream);
  stream = nullptr;
  if (closed != 0) atomic_failed("CLOSE", errno);
  if (rename(pending, target) != 0) atomic_failed("CREATE", errno);
  char *temp = pending;
  pending = nullptr;
  free(temp);
  close(lock_fd);
  lock_fd = -1;
}

void discard_atomic_file() {
  remove_pending();
  pending = nullptr;
}

}  // namespace bayescreen
