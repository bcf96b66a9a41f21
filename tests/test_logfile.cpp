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
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/helpers.h"
#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::file_exists;
using testutil::read_file;
using testutil::run_child;
using testutil::TempDir;

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;
const std::string kAbsent = "<absent>";

// Runs fn in a child inside a fresh folder holding the files `before`.
testutil::Outcome run_in(const TempDir &dir, const Files &before, const std::function<void()> &fn) {
  for (const auto &[name, content] : before) dir.write(name, content);
  return run_child([&] {
    if (chdir(dir.path().c_str()) != 0) _exit(99);
    fn();
  });
}

}  // namespace

TEST(LogFile, PrintingOpeningBackupAndClosing) {
  const std::string opening = "OPENING the log file `res.txt'\n";
  const std::string cannot = "\nCANNOT OPEN the file  `no-such-folder/res.txt'\n" +
                             std::string(strerror(ENOENT)) + "\n";
  struct {
    Files before;
    std::function<void()> fn;
    std::string out;
    Files after;
    int status = 0;
    std::string err = "";
  } cases[] = {
      {{},
       [] {
         int a = bprintf("x=%d %s\n", 42, "ok"), b = bnl(), c = logprintf("hidden %d\n", 1);
         int d = nl(), e = nlerr();
         printf("[%d %d %d %d %d]", a, b, c, d, e);
       },
       "x=42 ok\n\n\n[8 1 0 1 1]", {}, 0, "\n"},
      {{},
       [] {
         openlog_file("res", 0);
         int a = bprintf("value %d\n", 7), b = logprintf("only in the log %s\n", "here");
         bnl();
         nl();
         printf("[%d %d]\n", a, b);
         closelog_file_name();
         closelog_file_name();  // nothing open any more: silent
         printf("[%s %s]\n", fflog ? "open" : "closed", logfilename ? logfilename : "noname");
       },
       opening + "value 7\n\n\n[8 21]\nClosing the log file `res.txt'\n[closed noname]\n",
       {{"res.txt", "value 7\nonly in the log here\n\n"}}},
      {{},  // a name with a dot anywhere is used as it is
       [] {
         std::filesystem::create_directory("run.d");
         openlog_file("res.out", 0);
         bprintf("one\n");
         openlog_file("run.d/res", 0);  // closes the first log without a message
         bprintf("two\n");
         openlog_file("", 0);
         bprintf("screen only\n");
         openlog_file(nullptr, 0);
         printf("[%d %s]", logprintf("never\n"), fflog || logfilename ? "log" : "none");
       },
       "OPENING the log file `res.out'\none\nOPENING the log file `run.d/res'\ntwo\n"
       "screen only\n[0 none]",
       {{"res.out", "one\n"}, {"run.d/res", "two\n"}, {"res.out.txt", kAbsent},
        {"res.out.bak", kAbsent}, {"run.d/res.txt", kAbsent}, {".txt", kAbsent}}},
      {{{"res.txt", "previous run\n"}, {"res.txt.bak", "the run before\n"}},
       [] {
         openlog_file("res", 0);
         bprintf("new run\n");
       },
       opening + "Backing up the existing file `res.txt' as `res.txt.bak'\nnew run\n",
       {{"res.txt", "new run\n"}, {"res.txt.bak", "previous run\n"}}},
      {{{"res.txt", "old\n"}},
       [] {
         testutil::printed.clear();
         prcloselog_file_name(testutil::capture);  // no log: the printer is not called
         openlog_file("res", 1);
         bprintf("new\n");
         prcloselog_file_name(testutil::capture);
         printf("<%s>", testutil::printed.c_str());
       },
       opening + "new\n<Closing the log file `res.txt'\n>",
       {{"res.txt", "old\n\n\nnew\n"}, {"res.txt.bak", kAbsent}}},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE("case " + std::to_string(i));
    TempDir dir;
    auto o = run_in(dir, cases[i].before, cases[i].fn);
    EXPECT_EQ(o.status, cases[i].status);
    EXPECT_EQ(o.out, cases[i].out);
    EXPECT_EQ(o.err, cases[i].err);
    for (const auto &[name, content] : cases[i].after)
      EXPECT_EQ(file_exists(dir.file(name)) ? read_file(dir.file(name)) : kAbsent, content) << name;
  }
  TempDir dir;
  for (int append : {0, 1}) {
    auto o = run_in(dir, {}, [&] { openlog_file("no-such-folder/res", append); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "OPENING the log file `no-such-folder/res.txt'\n");
    EXPECT_EQ(o.err, cannot);
  }
}

TEST(LogFile, FailedBackupEndsTheRunAndLeavesTheOldLogIntact) {
  TempDir dir;  // a non-empty folder in the way of the backup cannot be deleted
  std::filesystem::create_directory(dir.file("res.txt.bak"));
  auto o = run_in(dir, {{"res.txt", "precious results\n"}, {"res.txt.bak/keep", "x"}}, [] {
    openlog_file("res", 0);
    printf("still running\n");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out,
            "OPENING the log file `res.txt'\n"
            "Backing up the existing file `res.txt' as `res.txt.bak'\n");
  EXPECT_EQ(o.err.rfind("\nCANNOT DELETE the file  `res.txt.bak'\n", 0), 0u) << o.err;
  EXPECT_EQ(read_file(dir.file("res.txt")), "precious results\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("res.txt.bak")));
}

// ---- Faults: failed writes, a lost screen, long lines, names ------------------------

namespace {

// Swaps the open log's stream for one on /dev/full, where every write that
// reaches the device fails with ENOSPC.
void log_to_full_device() {
  openlog_file("res", 0);
  fclose(fflog);
  fflog = fopen("/dev/full", "w");
}

}  // namespace

TEST(LogFile, AFailedWriteFlushOrCloseEndsTheRunWithStatusOne) {
  const std::string opening = "OPENING the log file `res.txt'\n";
  const std::string cannot =
      "\nCANNOT WRITE the file  `res.txt'\n" + std::string(strerror(ENOSPC)) + "\n";
  const std::string line(5000, 'x');
  struct {
    std::function<void()> fn;
    std::string out, err;
    int status;
  } cases[] = {
      {[&] {  // a write that reaches the device fails at once
         log_to_full_device();
         bprintf("%s\n", line.c_str());
         printf("not reached");
       },
       opening + line + "\n", cannot, 1},
      {[&] {  // log only, failing when the log is flushed at the close
         log_to_full_device();
         logprintf("%s\n", "short");
         closelog_file_name();
         printf("not reached");
       },
       opening + "Closing the log file `res.txt'\n", cannot, 1},
      {[&] {  // flushed when the run ends by exit() with the log open
         log_to_full_device();
         bprintf("short\n");
         exit(0);
       },
       opening + "short\n", cannot, 1},
      {[&] {  // the descriptor is gone: nothing to flush, the close fails
         openlog_file("res", 0);
         bprintf("kept\n");
         fflush(fflog);
         close(fileno(fflog));
         closelog_file();
         printf("[%d]", log_failed);
       },
       opening + "kept\n[1]",
       "\nCANNOT CLOSE the file  `res.txt'\n" + std::string(strerror(EBADF)) + "\n", 0},
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    SCOPED_TRACE("case " + std::to_string(i));
    TempDir dir;
    auto o = run_in(dir, {}, cases[i].fn);
    EXPECT_EQ(o.status, cases[i].status);
    EXPECT_EQ(o.out, cases[i].out);
    EXPECT_EQ(o.err, cases[i].err);
  }
}

TEST(LogFile, AScreenThatFailsStopsAndTheLogGoesOn) {
  TempDir dir;
  const std::string line(3000, 'y');
  auto o = run_in(dir, {}, [&] {
    openlog_file("res", 0);
    int full = open("/dev/full", O_WRONLY);
    dup2(full, STDOUT_FILENO);
    for (int i = 0; i < 4; i++) bprintf("%d%s\n", i, line.c_str());
    closelog_file();
    // Later screen output goes nowhere, without a further failed write.
    fprintf(stderr, "%s", same_file("/proc/self/fd/1", "/dev/null") ? "null" : "still the device");
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "null");
  std::string expected;
  for (int i = 0; i < 4; i++) expected += std::to_string(i) + line + "\n";
  EXPECT_EQ(read_file(dir.file("res.txt")), expected);
}

TEST(LogFile, LongLinesComeFromTheCountingAllocator) {
  TempDir dir;
  auto o = run_in(dir, {}, [] {
    openlog_file("res", 0);
    uint32_t count = numalloc, bytes = totalloc;
    int n = bprintf("%s\n", std::string(5000, 'z').c_str());
    printf("[%d %u %u]\n", n, numalloc - count, totalloc - bytes);
  });
  EXPECT_EQ(o.out,
            "OPENING the log file `res.txt'\n" + std::string(5000, 'z') + "\n[5001 1 5002]\n");
  EXPECT_EQ(read_file(dir.file("res.txt")), std::string(5000, 'z') + "\n");
#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer never lets the system refuse
  // Under a memory limit the refusal is reported (status 1), not a lost line.
  o = run_in(dir, {}, [] {
    std::string big(16 << 20, 'z');
    long pages = 0;
    FILE *statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr || fscanf(statm, "%ld", &pages) != 1) _exit(98);
    rlimit limit = {};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages) * 4096 + (4 << 20);
    setrlimit(RLIMIT_AS, &limit);
    bprintf("%s\n", big.c_str());
  });
  EXPECT_EQ(o.status, 1);
  const std::string refused =
      "\nCANNOT ALLOCATE " + std::to_string((16 << 20) + 2) + " bytes (`mxalloc')";
  EXPECT_EQ(o.err.rfind(refused, 0), 0u) << o.err;
#endif
}

TEST(LogFile, AppendingRefusesWhatIsNotARegularFile) {
  // Opening to append never waits for a reader of a named pipe and never
  // follows a link.
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("pipe.txt").c_str(), 0666), 0);
  std::filesystem::create_symlink("target.txt", dir.file("link.txt"));
  auto o = run_in(dir, {}, [] { openlog_file("pipe", 1); });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "\nCANNOT OPEN the file  `pipe.txt'\nIt is a named pipe (FIFO), not a regular file.\n");
  o = run_in(dir, {}, [] { openlog_file("link", 1); });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err,
            "\nCANNOT OPEN the file  `link.txt'\nIt is a symbolic link, not a regular file.\n");
  EXPECT_FALSE(file_exists(dir.file("target.txt")));
}

// Texts on both sides of the 1,024-byte stack buffer, and the empty text:
// the same bytes on the screen and in the log, and their count returned.
TEST(LogFile, TextsAroundTheStackBufferAndTheEmptyText) {
  for (size_t length : {size_t{0}, size_t{1023}, size_t{1024}, size_t{1025}, size_t{5000}}) {
    SCOPED_TRACE("length " + std::to_string(length));
    std::string text;
    for (size_t i = 0; i < length; i++) text += static_cast<char>('a' + i % 26);
    TempDir dir;
    auto o = run_in(dir, {}, [&] {
      openlog_file("res", 0);
      const int screen_only = printf("|");
      const int both = bprintf("%s", text.c_str());
      closelog_file();
      fprintf(stderr, "%d %d", screen_only, both);
    });
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "OPENING the log file `res.txt'\n|" + text);
    EXPECT_EQ(o.err, "1 " + std::to_string(length));
    EXPECT_EQ(read_file(dir.file("res.txt")), text);
  }
}
