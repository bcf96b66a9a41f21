// The screen-and-log printing calls and the opening, backup and closing of
// the log file. Everything that touches the log runs in a child process in
// its own temporary folder, so the log globals stay untouched here.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/logfile.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::file_exists;
using testutil::read_file;
using testutil::run_child;
using testutil::TempDir;

namespace {

// Runs fn in a child whose working folder is dir.
testutil::Outcome run_in(const TempDir &dir, const std::function<void()> &fn) {
  return run_child([&] {
    if (chdir(dir.path().c_str()) != 0) _exit(99);
    fn();
  });
}

std::string printer_text;
int recording_printer(const char *fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  printer_text += buf;
  return n;
}

}  // namespace

TEST(LogPrinting, WithoutLogEverythingGoesToTheScreenOnly) {
  auto o = run_child([] {
    closelog_file();
    int a = bprintf("x=%d %s\n", 42, "ok");
    int b = bnl();
    int c = logprintf("hidden %d\n", 1);
    int d = nl();
    int e = nlerr();
    printf("[%d %d %d %d %d]", a, b, c, d, e);
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "x=42 ok\n\n\n[8 1 0 1 1]");
  EXPECT_EQ(o.err, "\n");
}

TEST(LogPrinting, OpenLogReceivesBprintfAndLogprintfButNotNl) {
  TempDir dir;
  auto o = run_in(dir, [] {
    openlog_file("res", 0);
    int a = bprintf("value %d\n", 7);
    int b = logprintf("only in the log %s\n", "here");
    bnl();
    nl();
    printf("[%d %d]\n", a, b);
    closelog_file_name();
    printf("[%s %s]\n", fflog == nullptr ? "closed" : "open",
           logfilename == nullptr ? "noname" : logfilename);
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out,
            "OPENING the log file `res.txt'\n"
            "value 7\n\n\n[8 21]\n"
            "Closing the log file `res.txt'\n"
            "[closed noname]\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(read_file(dir.file("res.txt")), "value 7\nonly in the log here\n\n");
}

TEST(LogOpening, NameWithADotAnywhereIsUsedAsGiven) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("run.d"));
  auto o = run_in(dir, [] {
    openlog_file("res.out", 0);
    bprintf("one\n");
    closelog_file();
    openlog_file("run.d/res", 0);
    bprintf("two\n");
    closelog_file();
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "OPENING the log file `res.out'\none\nOPENING the log file `run.d/res'\ntwo\n");
  EXPECT_EQ(read_file(dir.file("res.out")), "one\n");
  EXPECT_EQ(read_file(dir.file("run.d/res")), "two\n");
  EXPECT_FALSE(file_exists(dir.file("res.out.txt")));
  EXPECT_FALSE(file_exists(dir.file("run.d/res.txt")));
}

TEST(LogOpening, ExistingLogIsBackedUpReplacingAnOlderBackup) {
  TempDir dir;
  dir.write("res.txt", "previous run\n");
  dir.write("res.txt.bak", "the run before\n");
  auto o = run_in(dir, [] {
    openlog_file("res", 0);
    bprintf("new run\n");
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out,
            "OPENING the log file `res.txt'\n"
            "Backing up the existing file `res.txt' as `res.txt.bak'\n"
            "new run\n");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(read_file(dir.file("res.txt")), "new run\n");
  EXPECT_EQ(read_file(dir.file("res.txt.bak")), "previous run\n");
}

TEST(LogOpening, NoBackupMessageWhenThereIsNoEarlierLog) {
  TempDir dir;
  auto o = run_in(dir, [] { openlog_file("fresh.log", 0); });
  EXPECT_EQ(o.out, "OPENING the log file `fresh.log'\n");
  EXPECT_TRUE(file_exists(dir.file("fresh.log")));
  EXPECT_FALSE(file_exists(dir.file("fresh.log.bak")));
}

TEST(LogOpening, AppendModeKeepsTheOldTextAndAddsTwoNewlines) {
  TempDir dir;
  dir.write("res.txt", "old\n");
  auto o = run_in(dir, [] {
    openlog_file("res", 1);
    bprintf("new\n");
    closelog_file();
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "OPENING the log file `res.txt'\nnew\n");
  EXPECT_EQ(read_file(dir.file("res.txt")), "old\n\n\nnew\n");
  EXPECT_FALSE(file_exists(dir.file("res.txt.bak")));
}

TEST(LogOpening, EmptyOrMissingNameKeepsNoLog) {
  TempDir dir;
  auto o = run_in(dir, [] {
    openlog_file("", 0);
    int a = bprintf("abc\n");
    openlog_file(nullptr, 0);
    int b = logprintf("never\n");
    printf("[%d %d %s]\n", a, b, fflog == nullptr && logfilename == nullptr ? "none" : "log");
    closelog_file_name();
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "abc\n[4 0 none]\n");
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(LogOpening, OpeningASecondLogClosesTheFirstWithoutAMessage) {
  TempDir dir;
  auto o = run_in(dir, [] {
    openlog_file("first", 0);
    bprintf("to first\n");
    openlog_file("second", 0);
    bprintf("to second\n");
    openlog_file("", 0);
    bprintf("screen only\n");
  });
  EXPECT_EQ(o.out,
            "OPENING the log file `first.txt'\nto first\n"
            "OPENING the log file `second.txt'\nto second\nscreen only\n");
  EXPECT_EQ(read_file(dir.file("first.txt")), "to first\n");
  EXPECT_EQ(read_file(dir.file("second.txt")), "to second\n");
}

TEST(LogOpening, FailedBackupEndsTheRunAndLeavesTheOldLogIntact) {
  // A non-empty folder in the way of the backup cannot be deleted, even by
  // the superuser.
  TempDir dir;
  dir.write("res.txt", "precious results\n");
  std::filesystem::create_directory(dir.file("res.txt.bak"));
  dir.write("res.txt.bak/keep", "x");
  auto o = run_in(dir, [] {
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

TEST(LogOpening, LogThatCannotBeOpenedEndsTheRun) {
  TempDir dir;
  for (int append : {0, 1}) {
    auto o = run_in(dir, [&] {
      openlog_file("no-such-folder/res", append);
      printf("not reached\n");
    });
    EXPECT_EQ(o.status, 1) << append;
    EXPECT_EQ(o.out, "OPENING the log file `no-such-folder/res.txt'\n") << append;
    EXPECT_EQ(o.err, "\nCANNOT OPEN the file  `no-such-folder/res.txt'\n" +
                         std::string(strerror(ENOENT)) + "\n")
        << append;
  }
}

TEST(LogClosing, ClosingLineGoesToTheScreenNotToTheLog) {
  TempDir dir;
  auto o = run_in(dir, [] {
    openlog_file("res", 0);
    bprintf("report\n");
    closelog_file_name();
    closelog_file_name();  // nothing open any more: silent
  });
  EXPECT_EQ(o.out, "OPENING the log file `res.txt'\nreport\nClosing the log file `res.txt'\n");
  EXPECT_EQ(read_file(dir.file("res.txt")), "report\n");
}

TEST(LogClosing, PrinterReceivesTheClosingLine) {
  TempDir dir;
  auto o = run_in(dir, [] {
    printer_text.clear();
    prcloselog_file_name(recording_printer);  // no log: the printer is not called
    openlog_file("res.out", 0);
    prcloselog_file_name(recording_printer);
    printf("<%s>", printer_text.c_str());
  });
  EXPECT_EQ(o.out, "OPENING the log file `res.out'\n<Closing the log file `res.out'\n>");
}
