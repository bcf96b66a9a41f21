#include "support/logfile.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "support/backup.h"
#include "support/helpers.h"

namespace bayescreen {

FILE *fflog = nullptr;
char *logfilename = nullptr;

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
    text = static_cast<char *>(malloc(static_cast<size_t>(n) + 1));
    if (text != nullptr) vsnprintf(text, static_cast<size_t>(n) + 1, fmt, again);
  }
  va_end(again);
  if (n < 0 || text == nullptr) return n < 0 ? n : -1;
  fwrite(text, 1, static_cast<size_t>(n), stdout);
  if (fflog != nullptr) fwrite(text, 1, static_cast<size_t>(n), fflog);
  if (text != local) free(text);
  return n;
}

int bnl() { return bprintf("\n"); }

int logprintf(const char *fmt, ...) {
  if (fflog == nullptr) return 0;
  va_list ap;
  va_start(ap, fmt);
  int n = vfprintf(fflog, fmt, ap);
  va_end(ap);
  return n;
}

int nl() { return printf("\n"); }

int nlerr() { return fprintf(stderr, "\n"); }

void openlog_file(const char *name, int append) {
  if (fflog != nullptr) closelog_file();
  if (name == nullptr || *name == '\0') return;

  logfilename = strchr(name, '.') != nullptr ? strxdup(name) : add_extent(name, ".txt");
  printf("OPENING the log file `%s'\n", logfilename);
  if (append) {
    fflog = fxopen(logfilename, "at");
    fprintf(fflog, "\n\n");
    return;
  }
  // Never truncate an earlier log that could not be saved: backup() has
  // already said why, so end the run here with the old file intact.
  if (backup(logfilename, 1) != 0) exit(1);
  fflog = fxopen(logfilename, "wt");
}

void closelog_file() {
  if (fflog != nullptr) {
    fxclose(fflog, logfilename);
    fflog = nullptr;
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

}  // namespace bayescreen
