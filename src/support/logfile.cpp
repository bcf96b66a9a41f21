#include "support/logfile.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "support/backup.h"
#include "support/helpers.h"

namespace bayescreen {

FILE *fflog = nullptr;
char *logfilename = nullptr;
int log_failed = 0;

// ---- Interruptions ------------------------------------------------------------
// A write to the log runs between begin_log_write and end_log_write. An
// interrupt signal that arrives meanwhile is held (hold_interrupt) and acted
// on when the write is complete, so that the handler never flushes the log
// stream while the stream is being changed.

static volatile sig_atomic_t log_writing = 0;
static volatile sig_atomic_t held_signal = 0;

static void begin_log_write() { log_writing = 1; }

static void end_log_write() {
  log_writing = 0;
  if (held_signal != 0) {
    log_writing = 1;  // a further signal is not acted on a second time
    mark_interrupted_run(held_signal);
    exit_by_signal(held_signal);
  }
}

int hold_interrupt(int sig) {
  if (!log_writing) return 0;
  if (held_signal == 0) held_signal = sig;
  return 1;
}

static const char *signal_name(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    default: return "UNKNOWN";
  }
}

static void write_all(int fd, const char *text, size_t n) {
  while (n > 0) {
    ssize_t put = write(fd, text, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    text += put;
    n -= static_cast<size_t>(put);
  }
}

void mark_interrupted_run(int sig) {
  // Assembled by hand: the formatting functions are not safe in a handler.
  char line[96];
  size_t n = 0;
  for (const char *part :
       {"\nRUN INTERRUPTED!  (", signal_name(sig), " signal)  The report is incomplete.\n"})
    for (; *part != '\0' && n < sizeof line; part++) line[n++] = *part;
  if (fflog != nullptr) {
    fflush(fflog);
    write_all(fileno(fflog), line, n);
  }
  write_all(STDERR_FILENO, line, n);
}

// ---- Checked writes -----------------------------------------------------------

// The first failed write ends the run. What is still buffered is dropped
// rather than written later, so the file holds exactly the report up to the
// failure and never a later piece after a gap.
[[noreturn]] static void log_write_failed(int err) {
  __fpurge(fflog);
  fclose(fflog);
  fflog = nullptr;
  log_writing = 0;
  errno = err;
  errmsg("WRITE", logfilename);
  exit(1);
}

static void write_log(const char *text, size_t n) {
  begin_log_write();
  size_t put = fwrite(text, 1, n, fflog);
  int err = errno;
  if (put != n || ferror(fflog)) log_write_failed(err);
  end_log_write();
}

// Once standard output fails, everything later meant for the screen goes to
// /dev/null: no write to a closed pipe is tried again, and the text still
// buffered for the screen is dropped.
static bool screen_lost = false;

static void write_screen(const char *text, size_t n) {
  if (screen_lost) return;
  fwrite(text, 1, n, stdout);
  if (!ferror(stdout)) return;
  screen_lost = true;
  __fpurge(stdout);
  int null = open("/dev/null", O_WRONLY);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  clearerr(stdout);
}

// The text is formatted once and the same bytes go to the screen and the
// log; a text too long for the stack buffer is formatted into a heap one.
int bprintf(const char *fmt, ...) {
  char local[1024];
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(local, sizeof local, fmt, ap);
  va_end(ap);
  char *text = local;
  if (n >= static_cast<int>(sizeof local)) {
    text = static_cast<char *>(mxalloc(static_cast<size_t>(n) + 1));
    vsnprintf(text, static_cast<size_t>(n) + 1, fmt, again);
  }
  va_end(again);
  if (n < 0) return n;
  write_screen(text, static_cast<size_t>(n));
  if (fflog != nullptr) write_log(text, static_cast<size_t>(n));
  if (text != local) free(text);
  return n;
}

int bnl() { return bprintf("\n"); }

int logprintf(const char *fmt, ...) {
  if (fflog == nullptr) return 0;
  va_list ap;
  va_start(ap, fmt);
  begin_log_write();
  int n = vfprintf(fflog, fmt, ap);
  int err = errno;
  va_end(ap);
  if (n < 0 || ferror(fflog)) log_write_failed(err);
  end_log_write();
  return n;
}

int nl() { return printf("\n"); }

int nlerr() { return fprintf(stderr, "\n"); }

// ---- Opening and closing --------------------------------------------------------

static char *log_name(const char *name) {
  return strchr(name, '.') != nullptr ? strxdup(name) : add_extent(name, ".txt");
}

// A run that ends through exit() with the log still open (a refused design,
// the Q key of the step-through) has the log flushed here, so that a failed
// write is reported and never passes for success.
static void flush_log_at_exit() {
  if (fflog == nullptr) return;
  begin_log_write();
  if (fflush(fflog) != 0 || ferror(fflog)) {
    int err = errno;
    __fpurge(fflog);
    errno = err;
    errmsg("WRITE", logfilename);
    fflush(stdout);
    _exit(1);
  }
  end_log_write();
}

[[noreturn]] static void refuse_to_append(const char *path, const struct stat &st) {
  fprintf(stderr, "\nCANNOT OPEN the file  `%s'\nIt is %s, not a regular file.\n", path,
          special_file_kind(st.st_mode));
  exit(1);
}

// A new log is created with O_EXCL and O_NOFOLLOW: the backup has moved
// away whatever stood at the name, so a name taken again in the meantime
// (a symbolic link planted after the rename, say) is refused, not followed
// or reused. Appending extends only a regular file: the name is examined
// first, and O_NOFOLLOW, O_NONBLOCK (no wait for a reader of a named pipe)
// and a second look at what was opened cover a change in between.
static FILE *open_log_stream(const char *path, int append) {
  struct stat st;
  if (append && lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) refuse_to_append(path, st);
  int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC |
              (append ? O_APPEND | O_NONBLOCK : O_EXCL);
  int fd = open(path, flags, 0666);
  if (fd < 0 && errno == EEXIST) {
    errmsg("CREATE", path);
    fprintf(stderr,
            "Something took that name after the old file was backed up; it is left as it is.\n");
    exit(1);
  }
  if (fd < 0) fatal("OPEN", path);
  if (append) {
    if (fstat(fd, &st) != 0) fatal("OPEN", path);
    if (!S_ISREG(st.st_mode)) refuse_to_append(path, st);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  FILE *file = fdopen(fd, append ? "a" : "w");
  if (file == nullptr) fatal("OPEN", path);
  return file;
}

void openlog_file(const char *name, int append) {
  if (fflog != nullptr) closelog_file();
  if (name == nullptr || *name == '\0') return;

  logfilename = log_name(name);
  printf("OPENING the log file `%s'\n", logfilename);
  // Never truncate an earlier log that could not be saved: backup() has
  // already said why, so end the run here with the old file intact.
  if (!append && backup(logfilename, 1) != 0) exit(1);
  fflog = open_log_stream(logfilename, append);
  static bool exit_check = false;
  if (!exit_check) {
    atexit(flush_log_at_exit);
    exit_check = true;
  }
  if (append) logprintf("\n\n");
}

// A failed flush is a failed write (the end of the report is missing); a
// failed close is reported and the run goes on, ending with status 1.
void closelog_file() {
  if (fflog != nullptr) {
    begin_log_write();
    if (fflush(fflog) != 0) log_write_failed(errno);
    if (fxclose(fflog, logfilename) != 0) log_failed = 1;
    fflog = nullptr;
    end_log_write();
  }
  free(logfilename);
  logfilename = nullptr;
}

void prcloselog_file_name(Printer printer) {
  if (fflog != nullptr) {
    if (printer == nullptr) printer = printf;
    printer("Closing the log file `%s'\n", logfilename);
  }
  closelog_file();
}

void closelog_file_name() { prcloselog_file_name(printf); }

void refuse_log_over_input(const char *logname, const char *input) {
  // Only an input that exists can be lost; its backup name is touched only
  // when something stands at the log's name.
  struct stat st;
  if (logname == nullptr || *logname == '\0' || input == nullptr || stat(input, &st) != 0) return;
  char *log = log_name(logname);
  char *bak = add_extent(log, ".bak");
  if (same_file(log, input))
    printf("\nINPUT FILE `%s' WOULD BE REPLACED by the log file `%s' !\n", input, log);
  else if (lstat(log, &st) == 0 && same_file(bak, input))
    printf("\nINPUT FILE `%s' WOULD BE DELETED as the backup of the log file `%s' !\n", input,
           log);
  else {
    free(log);
    free(bak);
    return;
  }
  printf("Choose another log name (the second argument); nothing has been changed.\n");
  exit(1);
}

}  // namespace bayescreen
