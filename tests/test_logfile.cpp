// The screen-and-log printing calls and the opening, backup and closing of
// the log file. Everything that touches the log runs in a child process in
// its own temporary folder, so the log globals stay untouched here.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/helpers.h"
#include "cli/driver.h"
#include "support/error.h"
#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::read_file;

namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

// Code run in a child inside a fresh folder that holds `before` (a file's
// bytes, or "fifo", "directory", "link -> target"), and what it must give:
// the status, both streams and what stands at each name of `after` then.
struct Case {
  const char *what;
  Files before = {};
  std::function<void()> fn;
  int status = 0;
  std::string out = "", err = "";
  bool err_starts = false;  // err is only the beginning of standard error
  Files after = {};
};

std::string on_disk(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "absent";
  if (S_ISDIR(st.st_mode)) return "directory";
  return S_ISFIFO(st.st_mode) ? "fifo" : read_file(path);
}

void check(const std::vector<Case> &cases) {
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    testutil::TempDir dir;
    for (const auto &[name, what] : c.before) {
      if (what == "directory") fs::create_directory(dir.file(name));
      else if (what == "fifo") ASSERT_EQ(mkfifo(dir.file(name).c_str(), 0666), 0);
      else if (what.starts_with("link -> ")) fs::create_symlink(what.substr(8), dir.file(name));
      else dir.write(name, what);
    }
    auto o = testutil::run_child([&] {
      if (chdir(dir.path().c_str()) != 0) _exit(99);
      c.fn();
    });
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, c.out);
    if (c.err_starts) EXPECT_TRUE(o.err.starts_with(c.err)) << o.err;
    else EXPECT_EQ(o.err, c.err);
    for (const auto &[name, what] : c.after) EXPECT_EQ(on_disk(dir.file(name)), what) << name;
  }
}

const std::string kOpening = "OPENING the log file `res.txt'\n";

// Swaps the open log's stream for one on /dev/full, where every write that
// reaches the device fails with ENOSPC.
void log_to_full_device() {
  openlog_file("res", 0);
  fclose(fflog);
  fflog = fopen("/dev/full", "w");
}

// A line of 16 MiB printed with the address space limited to what the
// process holds plus 4 MiB: the copy of the line cannot be allocated.
//
// This runs in a freshly executed copy of the test program, never in a
// forked child of the running tests: a fork inherits their heap, and once
// earlier tests have freed large blocks glibc's malloc has raised its mmap
// threshold and keeps freed memory in the heap. That memory already counts
// in the address space, so a 16 MiB request could be served from it with no
// new address space and the limit would not bite. A fresh process holds no
// such free block.
constexpr const char *kMemoryLimitChild = "BAYESCREEN_TEST_LOG_UNDER_MEMORY_LIMIT";

void long_line_under_a_memory_limit() {
  std::string big(16 << 20, 'z');
  long pages = 0;
  FILE *statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(98);
  const rlim_t most = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (4 << 20);
  const rlimit limit = {most, most};
  if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(96);
  try {
    bprintf("%s\n", big.c_str());
  } catch (const Error &error) {
    print_error(error);  // as the program reports it
    exit(1);
  }
  _exit(0);
}

// In the fresh copy the case runs before main and the copy ends with it;
// everything it uses is initialised before any code runs.
[[maybe_unused]] const bool memory_limit_child = [] {
  if (getenv(kMemoryLimitChild) != nullptr) long_line_under_a_memory_limit();
  return false;
}();

}  // namespace

TEST(LogFile, PrintingOpeningBackupAndClosing) {
  const std::string missing = "OPENING the log file `no-such-folder/res.txt'\n";
  const std::string cannot = "\nCANNOT OPEN the file  `no-such-folder/res.txt'\n" +
                             std::string(strerror(ENOENT)) + "\n";
  std::vector<Case> cases = {
      {.what = "no log: the screen only, and the counts written",
       .fn = [] {
         int a = bprintf("x=%d %s\n", 42, "ok"), b = bnl(), c = logprintf("hidden %d\n", 1);
         int d = nl(), e = nlerr();
         printf("[%d %d %d %d %d]", a, b, c, d, e);
       },
       .out = "x=42 ok\n\n\n[8 1 0 1 1]", .err = "\n"},
      {.what = "a log: the counts written to it; a second close is silent",
       .fn = [] {
         openlog_file("res", 0);
         int a = bprintf("value %d\n", 7), b = logprintf("only in the log %s\n", "here");
         bnl();
         nl();
         printf("[%d %d]\n", a, b);
         closelog_file_name();
         closelog_file_name();
         printf("[%s %s]\n", fflog ? "open" : "closed", logfilename ? logfilename : "noname");
       },
       .out = kOpening + "value 7\n\n\n[8 21]\nClosing the log file `res.txt'\n[closed noname]\n",
       .after = {{"res.txt", "value 7\nonly in the log here\n\n"}}},
      {.what = "a name with a dot anywhere is used as it is; a new name closes the log silently",
       .fn = [] {
         fs::create_directory("run.d");
         openlog_file("res.out", 0);
         bprintf("one\n");
         openlog_file("run.d/res", 0);
         bprintf("two\n");
         openlog_file("", 0);
         bprintf("screen only\n");
         openlog_file(nullptr, 0);
         printf("[%d %s]", logprintf("never\n"), fflog || logfilename ? "log" : "none");
       },
       .out = "OPENING the log file `res.out'\none\nOPENING the log file `run.d/res'\ntwo\n"
              "screen only\n[0 none]",
       .after = {{"res.out", "one\n"}, {"run.d/res", "two\n"}, {"res.out.txt", "absent"},
                 {"res.out.bak", "absent"}, {"run.d/res.txt", "absent"}, {".txt", "absent"}}},
      {.what = "an earlier log is backed up over the older backup",
       .before = {{"res.txt", "previous run\n"}, {"res.txt.bak", "the run before\n"}},
       .fn = [] { openlog_file("res", 0); bprintf("new run\n"); },
       .out = kOpening + "Backing up the existing file `res.txt' as `res.txt.bak'\nnew run\n",
       .after = {{"res.txt", "new run\n"}, {"res.txt.bak", "previous run\n"}}},
      {.what = "appending; the closing line through a printer, which is not called without a log",
       .before = {{"res.txt", "old\n"}},
       .fn = [] {
         testutil::printed.clear();
         prcloselog_file_name(testutil::capture);
         openlog_file("res", 1);
         bprintf("new\n");
         prcloselog_file_name(testutil::capture);
         printf("<%s>", testutil::printed.c_str());
       },
       .out = kOpening + "new\n<Closing the log file `res.txt'\n>",
       .after = {{"res.txt", "old\n\n\nnew\n"}, {"res.txt.bak", "absent"}}},
      {.what = "a new log in a missing folder", .fn = [] { openlog_file("no-such-folder/res", 0); },
       .status = 1, .out = missing, .err = cannot},
      {.what = "appending in a missing folder", .fn = [] { openlog_file("no-such-folder/res", 1); },
       .status = 1, .out = missing, .err = cannot},
  };
  // Texts on both sides of the 1,024-byte stack buffer, and the empty text:
  // the same bytes on the screen and in the log, and their count returned.
  for (size_t length : {size_t{0}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{5000}}) {
    std::string text;
    for (size_t i = 0; i < length; i++) text += static_cast<char>('a' + i % 26);
    cases.push_back({.what = "a text of the length on standard error",
                     .fn = [text] {
                       openlog_file("res", 0);
                       const int screen_only = printf("|");
                       const int both = bprintf("%s", text.c_str());
                       closelog_file();
                       fprintf(stderr, "%d %d", screen_only, both);
                     },
                     .out = kOpening + "|" + text, .err = "1 " + std::to_string(length),
                     .after = {{"res.txt", text}}});
  }
  check(cases);
}

TEST(LogFile, FaultsEndTheRunWithStatusOneAndSpareTheOldLog) {
  const std::string cannot_write =
      "\nCANNOT WRITE the file  `res.txt'\n" + std::string(strerror(ENOSPC)) + "\n";
  const std::string x5000(5000, 'x'), y3000(3000, 'y'), z5000(5000, 'z');
  std::string four_lines;
  for (int i = 0; i < 4; i++) four_lines += std::to_string(i) + y3000 + "\n";
  std::vector<Case> cases = {
      {.what = "a non-empty folder in the way of the backup cannot be deleted",
       .before = {{"res.txt", "precious results\n"}, {"res.txt.bak", "directory"},
                  {"res.txt.bak/keep", "x"}},
       .fn = [] { openlog_file("res", 0); printf("still running\n"); },
       .status = 1, .out = kOpening + "Backing up the existing file `res.txt' as `res.txt.bak'\n",
       .err = "\nCANNOT DELETE the file  `res.txt.bak'\n", .err_starts = true,
       .after = {{"res.txt", "precious results\n"}, {"res.txt.bak", "directory"}}},
      {.what = "a write that reaches the device fails at once",
       .fn = [&] { log_to_full_device(); bprintf("%s\n", x5000.c_str()); printf("not reached"); },
       .status = 1, .out = kOpening + x5000 + "\n", .err = cannot_write},
      {.what = "log only, failing when the log is flushed at the close",
       .fn = [] {
         log_to_full_device();
         logprintf("short\n");
         closelog_file_name();
         printf("not reached");
       },
       .status = 1, .out = kOpening + "Closing the log file `res.txt'\n", .err = cannot_write},
      {.what = "flushed when the run ends by exit() with the log open",
       .fn = [] { log_to_full_device(); bprintf("short\n"); exit(0); },
       .status = 1, .out = kOpening + "short\n", .err = cannot_write},
      {.what = "the descriptor is gone: nothing to flush, the close fails, the run goes on",
       .fn = [] {
         openlog_file("res", 0);
         bprintf("kept\n");
         fflush(fflog);
         close(fileno(fflog));
         closelog_file();
         printf("[%d]", log_failed);
       },
       .out = kOpening + "kept\n[1]",
       .err = "\nCANNOT CLOSE the file  `res.txt'\n" + std::string(strerror(EBADF)) + "\n"},
      {.what = "a screen that fails stops, later output goes nowhere, and the log goes on",
       .fn = [&] {
         openlog_file("res", 0);
         dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
         for (int i = 0; i < 4; i++) bprintf("%d%s\n", i, y3000.c_str());
         closelog_file();
         fprintf(stderr, "%s", same_file("/proc/self/fd/1", "/dev/null") ? "null" : "device");
       },
       .err = "null", .after = {{"res.txt", four_lines}}},
      {.what = "a long line comes from the counting allocator",
       .fn = [&] {
         openlog_file("res", 0);
         uint32_t count = numalloc, bytes = totalloc;
         int n = bprintf("%s\n", z5000.c_str());
         printf("[%d %u %u]\n", n, numalloc - count, totalloc - bytes);
       },
       .out = kOpening + z5000 + "\n[5001 1 5002]\n", .after = {{"res.txt", z5000 + "\n"}}},
      // Appending never waits for a reader of a named pipe, never follows a link.
      {.what = "appending to a named pipe", .before = {{"pipe.txt", "fifo"}},
       .fn = [] { openlog_file("pipe", 1); },
       .status = 1, .out = "OPENING the log file `pipe.txt'\n",
       .err = "\nCANNOT OPEN the file  `pipe.txt'\nIt is a named pipe (FIFO), not a regular file.\n",
       .after = {{"pipe.txt", "fifo"}}},
      {.what = "appending to a symbolic link", .before = {{"link.txt", "link -> target.txt"}},
       .fn = [] { openlog_file("link", 1); },
       .status = 1, .out = "OPENING the log file `link.txt'\n",
       .err = "\nCANNOT OPEN the file  `link.txt'\nIt is a symbolic link, not a regular file.\n",
       .after = {{"target.txt", "absent"}}},
  };
#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer never lets the system refuse
  const std::string refused = "\nCANNOT ALLOCATE " + std::to_string((16 << 20) + 2) + " bytes";
  cases.push_back({.what = "under a memory limit the refusal is reported, not a lost line",
                   .fn = [] {
                     setenv(kMemoryLimitChild, "1", 1);
                     execl("/proc/self/exe", "unit_tests", static_cast<char *>(nullptr));
                     _exit(97);
                   },
                   .status = 1, .err = refused + " (`mxalloc')", .err_starts = true});
#endif
  check(cases);
}
