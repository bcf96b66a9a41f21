#include "support/helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "support/error.h"
#include "support/showplaces.h"

namespace bayescreen {

// ---- File and message helpers -------------------------------------------

static const char *cannot_word(const char *verb) {
  return (verb != nullptr && isupper(static_cast<unsigned char>(verb[0]))) ? "CANNOT" : "Cannot";
}

int errmsg(const char *verb, const char *path) {
  int saved = errno;
  fprintf(stderr, "\n%s %s the file  `%s'\n", cannot_word(verb), verb ? verb : "????",
          path ? path : "????");
  errno = saved;
  perror("");
  return -1;
}

void fatal(const char *verb, const char *path) {
  errmsg(verb, path);
  exit(1);
}

int errmsg2(const char *verb, const char *from, const char *to) {
  int saved = errno;
  fprintf(stderr, "\n%s %s the file  `%s'  as  `%s'\n", cannot_word(verb), verb ? verb : "????",
          from ? from : "????", to ? to : "????");
  errno = saved;
  perror("");
  return -1;
}

FILE *fxopen(const char *path, const char *mode) {
  FILE *f = (path != nullptr && mode != nullptr) ? fopen(path, mode) : nullptr;
  if (f == nullptr) fatal("OPEN", path);
  return f;
}

int fxclose(FILE *file, const char *path) {
  if (file == nullptr) return -1;
  int r = fclose(file);
  if (r != 0) errmsg("CLOSE", path);
  return r;
}

int isextent(const char *name, const char *ext) {
  if (name == nullptr) return 0;
  const char *dot = strrchr(name, '.');
  if (dot == nullptr) return ext == nullptr ? 1 : 0;
  return (ext != nullptr && strixcmp(dot + 1, ext) == 0) ? 1 : 0;
}

char *add_extent(const char *name, const char *ext) {
  size_t ln = strxlen(name), le = strxlen(ext);
  char *s = static_cast<char *>(mxalloc(ln + le + 3));
  if (ln) memcpy(s, name, ln);
  if (le) memcpy(s + ln, ext, le);
  s[ln + le] = '\0';
  return s;
}

int rexname(const char *from, const char *to) {
  int r = rename(from, to);
  if (r != 0) errmsg2("RENAME or RELINK", from, to);
  return r;
}

int rexmove(const char *path) {
  int r = remove(path);
  if (r != 0) errmsg("DELETE", path);
  return r;
}

int same_file(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return 0;
  if (strcmp(a, b) == 0) return 1;
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return 0;
  return (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) ? 1 : 0;
}

const char *special_file_kind(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFIFO: return "a named pipe (FIFO)";
    case S_IFSOCK: return "a socket";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFDIR: return "a directory";
    case S_IFLNK: return "a symbolic link";
    default: return "not a plain file";
  }
}

void attach_closed_std_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; fd++) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is fd itself, as those below it are open.
    int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

// ---- Counting allocators --------------------------------------------------

std::atomic<uint32_t> numalloc{0}, totalloc{0}, numrealloc{0}, totrealloc{0};

void no_alloc(unsigned long bytes, const char *allocator) {
  fprintf(stderr,
          "\nCANNOT ALLOCATE %lu bytes (`%s') from the system.\n"
          "Total successfully allocated so far:  %lu bytes.\n",
          bytes, allocator, static_cast<unsigned long>(totalloc));
  show_program_places();
  exit(1);
}

void no_new_memory() {
  fprintf(stderr,
          "\nCANNOT ALLOCATE memory (`operator new') from the system.\n"
          "Total successfully allocated so far:  %lu bytes.\n",
          static_cast<unsigned long>(totalloc));
  show_program_places();
  exit(1);
}

// A refused block is an error of its own, which the front end reports with
// no_alloc's text.
[[noreturn]] static void refuse(unsigned long bytes, const char *allocator) {
  throw AllocationError(bytes, allocator);
}

void *cxalloc(size_t count, size_t size) {
  if (count != 0 && size > SIZE_MAX / count) refuse(SIZE_MAX, "cxalloc");
  size_t bytes = count * size;
  if (bytes == 0) count = size = bytes = 1;
  void *p = calloc(count, size);
  if (p == nullptr) refuse(bytes, "cxalloc");
  numalloc++;
  totalloc += static_cast<uint32_t>(bytes);
  return p;
}

void *mxalloc(size_t size) {
  if (size == 0) size = 1;
  void *p = calloc(1, size);
  if (p == nullptr) refuse(size, "mxalloc");
  numalloc++;
  totalloc += static_cast<uint32_t>(size);
  return p;
}

void *rexxalloc(void *array, size_t elsize, unsigned oldnum, unsigned newnum) {
  if (elsize == 0) {
    char text[160];
    snprintf(text, sizeof text, "\nERROR !  Rexxalloc called with size=0\n  Array=%pH  Oldnum=%u  Newnum=%u\n",
             array, oldnum, newnum);
    throw Error(text, Channel::StdErr);
  }
  size_t count = static_cast<size_t>(newnum) + 3;
  if (count > SIZE_MAX / elsize) refuse(SIZE_MAX, "rexxalloc");
  size_t bytes = elsize * count;
  void *p = realloc(array, bytes);
  if (p == nullptr) refuse(bytes, "rexxalloc");
  if (array != nullptr) {
    numrealloc++;
    totrealloc += static_cast<uint32_t>(bytes);
  } else {
    numalloc++;
    totalloc += static_cast<uint32_t>(bytes);
  }
  size_t from = (oldnum < newnum ? oldnum : newnum);
  if (array == nullptr) from = 0;  // a fresh block has no old contents
  memset(static_cast<char *>(p) + from * elsize, 0, (count - from) * elsize);
  return p;
}

// ---- Key press --------------------------------------------------------------

void exitv() { exit(0); }
KeyHook cbrkfun = exitv;
KeyHook presskeyfun = exitv;

constexpr int kEnter = '\n';  // the code of Enter, and of the end of input
constexpr int kCtrlC = 3;      // the code of Ctrl-C once the terminal no longer signals it

// Terminal state saved while a key is read without echo; restored after the
// read and, as a safety net, when the process exits or is ended by a signal
// inside the pause.
static struct termios saved_termios;
static volatile sig_atomic_t termios_changed = 0;

void restore_terminal() {
  if (termios_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_termios);
    termios_changed = 0;
  }
}

void exit_by_signal(int sig) {
  signal(sig, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(sig);
  _exit(128 + sig);  // reached only if the default action does not end the process
}

// Reads one key: from a terminal without echo and without waiting for Enter,
// discarding keys typed earlier; from a file or pipe, the next byte. At end
// of input it answers as if Enter had been pressed, so a run fed from a file
// never waits.
static int read_one_key() {
  fflush(stdout);
  if (!isatty(STDIN_FILENO)) {
    int c = fgetc(stdin);
    return c == EOF ? kEnter : c;
  }
  static bool hooked = false;
  if (!hooked) {
    atexit(restore_terminal);
    hooked = true;
  }
  if (tcgetattr(STDIN_FILENO, &saved_termios) != 0) {
    int c = fgetc(stdin);
    return c == EOF ? kEnter : c;
  }
  struct termios raw = saved_termios;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  termios_changed = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  tcflush(STDIN_FILENO, TCIFLUSH);
  unsigned char ch = 0;
  ssize_t got;
  do {
    got = read(STDIN_FILENO, &ch, 1);
  } while (got < 0 && errno == EINTR);
  restore_terminal();
  return got == 1 ? ch : kEnter;
}

int get1char() {
  int c = read_one_key();
  if (c == kCtrlC) {
    fprintf(stderr, "\n");
    cbrkfun();
  } else if (c == kEnter) {
    fprintf(stderr, "\n");
  } else {
    fprintf(stderr, "%c\n", c);
  }
  return c;
}

int get2char() {
  int c = get1char();
  return c <= 127 ? toupper(c) : c;
}

int presskey() {
  // The prompt follows the text it is about even when standard output is
  // a file or a pipe and standard error is not.
  fflush(stdout);
  fprintf(stderr, "Press any key to continue....");
  int c = get2char();
  if (c == 'Q') presskeyfun();
  return c;
}

// ---- Program name -------------------------------------------------------------

const char *program_path = nullptr;

char *progname() {
  const char *s = program_path;
  if (s == nullptr) return strxdup("PROGNAME");
  for (const char *sep : {"\\", "/", ":"}) {
    const char *q = strrchr(s, sep[0]);
    if (q != nullptr) s = q + 1;
  }
  char *name = makeuc(strxdup(s));
  char *dot = strrchr(name, '.');
  if (dot != nullptr) *dot = '\0';
  if (*name == '\0') {
    free(name);
    return strxdup("PROGNAME");
  }
  return name;
}

// ---- String and word helpers --------------------------------------------------

static int lower(const char *s, size_t i) { return tolower(static_cast<unsigned char>(s[i])); }

int strixcmp(const char *a, const char *b) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  if (a == b) return 0;  // the same text, as when a place is popped by its own name
  for (size_t i = 0;; i++) {
    int d = lower(a, i) - lower(b, i);
    if (d != 0 || a[i] == '\0') return d;
  }
}

int strincmp(const char *a, const char *b, size_t n) {
  if (a == nullptr) a = "";
  if (b == nullptr) b = "";
  for (size_t i = 0; i < n; i++) {
    int d = lower(a, i) - lower(b, i);
    if (d != 0 || a[i] == '\0') return d;
  }
  return 0;
}

int strmatch(const char *s, const char *prefix) { return strincmp(s, prefix, strxlen(prefix)); }

char *strxdup(const char *s) {
  size_t n = strxlen(s);
  char *d = static_cast<char *>(mxalloc(n + 1));
  if (n) memcpy(d, s, n);
  d[n] = '\0';
  return d;
}

size_t strxlen(const char *s) { return s == nullptr ? 0 : strlen(s); }

char *strxdup_app(const char *a, const char *b) { return strxdup_app2(a, b, nullptr); }

char *strxdup_app2(const char *a, const char *b, const char *c) {
  size_t la = strxlen(a), lb = strxlen(b), lc = strxlen(c);
  char *d = static_cast<char *>(mxalloc(la + lb + lc + 3));
  if (la) memcpy(d, a, la);
  if (lb) memcpy(d + la, b, lb);
  if (lc) memcpy(d + la + lb, c, lc);
  d[la + lb + lc] = '\0';
  return d;
}

void kill_nstrs(char ***arr, int n) {
  PlaceGuard place("Kill_Nstrs");
  if (arr != nullptr && *arr != nullptr) {
    for (int i = 0; i < n; i++) {
      free((*arr)[i]);
      (*arr)[i] = nullptr;
    }
    free(*arr);
    *arr = nullptr;
  }
}

char *makeuc(char *s) {
  if (s != nullptr)
    for (char *p = s; *p; p++) *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
  return s;
}

const char *plural(long n) { return n == 1 ? "" : "s"; }
const char *boolon(int f) { return f ? "ON" : "OFF"; }
const char *boolyn(int f) { return f ? "YES" : "NO"; }
const char *shownull(const char *s) { return s == nullptr ? "NULL" : s; }
double square(double x) { return x * x; }

}  // namespace bayescreen
