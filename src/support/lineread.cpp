#include "support/lineread.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "support/error.h"
#include "support/helpers.h"
#include "support/logfile.h"

namespace bayescreen {

const char *lr_commchars = "#;%";
int lr_keep_endspace = 0;
int lr_keep_initial_space = 0;
int lr_keep_blanklines = 0;
int lr_showlines = 0;
int lr_quotequotes = 0;

int lr_linenum = 0;
char *readfile = nullptr;

static constexpr int kBlockSize = 4000;
static constexpr int kLineFeed = '\n';
static constexpr int kCarriageReturn = '\r';
static constexpr int kEndOfFile = -1;
static constexpr int kNulStandIn = 1;  // what a NUL byte reads as
static constexpr unsigned kLineGrowth = 500;

static unsigned char lobuff[kBlockSize];
static int lb_nleft = 0;
static unsigned char *rp = lobuff;
static int savec = -1;
static char *rbuff = nullptr;   // the line buffer
static unsigned rxn = 0;        // its capacity
static char *rxsave = nullptr;  // copy of the last line handed out
static unsigned nxs = 0;        // its capacity

FILE *lr_fxopen(const char *path, const char *mode) {
  free(readfile);
  readfile = strxdup(path);
  return fxopen(path, mode);
}

int rawfgc(FILE *file) {
  if (savec >= 0) {
    int c = savec;
    savec = -1;
    return c;
  }
  if (lb_nleft <= 0) {
    rp = lobuff;
    lb_nleft = static_cast<int>(fread(lobuff, 1, kBlockSize, file));
    if (lb_nleft <= 0) {
      lb_nleft = 0;
      // A read that fails (the name of a directory, a device error) must
      // not pass for the end of the file.
      if (ferror(file)) fatal("READ", readfile);
      return kEndOfFile;
    }
  }
  lb_nleft--;
  return *rp++;
}

int lr_unfbufc(int ch) {
  savec = ch;
  return ch;
}

// One character with CR LF and lone CR folded to LF; a NUL byte reads as 1
// so that it never ends the text of a line.
int fbuffc(FILE *file) {
  int c = rawfgc(file);
  if (c == kCarriageReturn) {
    int d = rawfgc(file);
    if (d != kLineFeed) lr_unfbufc(d);
    return kLineFeed;
  }
  if (c < 0) return kEndOfFile;
  if (c == 0) return kNulStandIn;
  return c;
}

// The longest line the unsigned capacities can hold with room to spare; a
// longer one is refused as memory the allocator cannot give.
static constexpr unsigned kMaxLine = UINT_MAX - 1024;

[[noreturn]] static void line_too_long(unsigned long bytes) {
  throw AllocationError(bytes, "rexxalloc");
}

// The buffer grows by 500 bytes, or by half its size once lines get long,
// so that a line of many megabytes does not cost a copy every 500 bytes.
static void store_char(unsigned &n, int c) {
  if (n >= rxn) {
    if (rxn >= kMaxLine) line_too_long(static_cast<unsigned long>(rxn) + kLineGrowth + 3);
    unsigned grow = rxn / 2 > kLineGrowth ? rxn / 2 : kLineGrowth;
    if (grow > kMaxLine - rxn) grow = kMaxLine - rxn;
    rbuff = static_cast<char *>(rexxalloc(rbuff, 1, rxn, rxn + grow));
    rxn += grow;
  }
  rbuff[n++] = static_cast<char>(c);
}

char *lr_lineread(FILE *file) {
  if (file == nullptr) {
    lr_init();
    free(rbuff);
    rbuff = nullptr;
    rxn = 0;
    return nullptr;
  }
  if (rbuff == nullptr) {
    rbuff = static_cast<char *>(rexxalloc(nullptr, 1, 0, kLineGrowth));
    rxn = kLineGrowth;
  }
  for (;;) {
    lr_linenum++;
    int c = fbuffc(file);
    if (c == kEndOfFile) return nullptr;
    unsigned n = 0;
    while (c != kLineFeed && c != kEndOfFile) {
      if (lr_quotequotes && (c == '"' || c == '\\')) store_char(n, '\\');
      store_char(n, c);
      c = fbuffc(file);
    }
    store_char(n, '\0');
    n--;

    char *text = rbuff;
    if (!lr_keep_endspace)
      while (n > 0 && isspace(static_cast<unsigned char>(text[n - 1]))) text[--n] = '\0';
    if (!lr_keep_initial_space)
      while (*text != '\0' && isspace(static_cast<unsigned char>(*text))) text++;
    if (lr_showlines) printf("%d. `%s'\n", lr_linenum, text);
    if (!lr_keep_blanklines && *text == '\0') continue;
    if (lr_commchars != nullptr && *text != '\0' && strchr(lr_commchars, *text) != nullptr)
      continue;
    return text;
  }
}

char *lrs_lineread(FILE *file) {
  char *line = lr_lineread(file);
  lr_copy(line != nullptr ? line : "NULL");
  return line;
}

void lr_close() { lr_lineread(nullptr); }

void lr_reset() {
  lr_linenum = 0;
  lb_nleft = 0;
  savec = -1;
}

void lr_init() { lr_reset(); }

const char *lr_copy(const char *text) {
  if (text == nullptr) return nullptr;
  size_t len = strlen(text);
  if (len > kMaxLine) line_too_long(static_cast<unsigned long>(len) + 103);
  if (rxsave == nullptr || len > nxs) {
    nxs = static_cast<unsigned>(len + 100);
    rxsave = static_cast<char *>(rexxalloc(rxsave, 1, 0, nxs));
  }
  memcpy(rxsave, text, len + 1);
  return text;
}

int lr_errors_to_log = 0;

void lr_fatal_errline(const char *msg) {
  Printer print = lr_errors_to_log ? bprintf : printf;
  if (msg != nullptr) print("\n%s!\n", msg);
  if (rxsave != nullptr) print("  %s\n", rxsave);
  print("Line #%u in %s\n", static_cast<unsigned>(lr_linenum), readfile ? readfile : "???");
  exit(1);
}

}  // namespace bayescreen
