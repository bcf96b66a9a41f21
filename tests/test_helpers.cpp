// File and message helpers, the counting allocators, the key press, the
// program name and the string and word helpers.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/backup.h"
#include "support/helpers.h"
#include "support/showplaces.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::file_exists;
using testutil::read_file;
using testutil::run_child;
using testutil::TempDir;

namespace {

std::string sys_text(int err) { return std::string(strerror(err)) + "\n"; }

// Empties the program-place stack of a child, as at the start of a run.
void fresh_places() {
  prog_place = nullptr;
  npg = 0;
  nxpg = 0;
}

}  // namespace

// ---- Messages and files ------------------------------------------------------

TEST(ErrorMessages, VerbCaseChoosesCannotOrCANNOT) {
  auto o = run_child([] {
    errno = ENOENT;
    int a = errmsg("open", "data.txt");
    errno = EACCES;
    int b = errmsg("WRITE", "data.txt");
    errno = ENOENT;
    int c = errmsg2("rename", "a.txt", "b.txt");
    errno = ENOENT;
    int d = errmsg2("RENAME", "a.txt", "b.txt");
    printf("%d %d %d %d", a, b, c, d);
  });
  EXPECT_EQ(o.out, "-1 -1 -1 -1");
  EXPECT_EQ(o.err, "\nCannot open the file  `data.txt'\n" + sys_text(ENOENT) +
                       "\nCANNOT WRITE the file  `data.txt'\n" + sys_text(EACCES) +
                       "\nCannot rename the file  `a.txt'  as  `b.txt'\n" + sys_text(ENOENT) +
                       "\nCANNOT RENAME the file  `a.txt'  as  `b.txt'\n" + sys_text(ENOENT));
}

TEST(ErrorMessages, MissingVerbOrPathPrintsQuestionMarks) {
  auto o = run_child([] {
    errno = ENOENT;
    errmsg(nullptr, nullptr);
    errno = ENOENT;
    errmsg2("MOVE", nullptr, nullptr);
  });
  const std::string q = "?\?\?\?";
  EXPECT_EQ(o.err, "\nCannot " + q + " the file  `" + q + "'\n" + sys_text(ENOENT) +
                       "\nCANNOT MOVE the file  `" + q + "'  as  `" + q + "'\n" +
                       sys_text(ENOENT));
}

TEST(ErrorMessages, FatalEndsTheRunWithStatusOne) {
  auto o = run_child([] {
    errno = EIO;
    fatal("READ", "in.txt");
    printf("not reached");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "\nCANNOT READ the file  `in.txt'\n" + sys_text(EIO));
}

TEST(FileOpening, FailedOpenIsFatalOnStandardError) {
  TempDir dir;
  std::string path = dir.file("missing.txt");
  auto o = run_child([&] {
    fxopen(path.c_str(), "rb");
    printf("not reached");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "\nCANNOT OPEN the file  `" + path + "'\n" + sys_text(ENOENT));
}

TEST(FileOpening, OpenAndClose) {
  TempDir dir;
  std::string path = dir.write("a.txt", "abc");
  FILE *f = fxopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fgetc(f), 'a');
  EXPECT_EQ(fxclose(f, path.c_str()), 0);
  EXPECT_EQ(fxclose(nullptr, path.c_str()), -1);
}

TEST(FileNames, IsextentComparesTheTextAfterTheLastDot) {
  EXPECT_EQ(isextent("opts.CFG", "cfg"), 1);
  EXPECT_EQ(isextent("opts.cfg", "CFG"), 1);
  EXPECT_EQ(isextent("run.txt.cfg", "cfg"), 1);
  EXPECT_EQ(isextent("run.cfg.txt", "cfg"), 0);
  EXPECT_EQ(isextent("settings", "cfg"), 0);
  EXPECT_EQ(isextent("settings.cfgx", "cfg"), 0);
  EXPECT_EQ(isextent("settings", nullptr), 1);
  EXPECT_EQ(isextent("run.txt", nullptr), 0);
  EXPECT_EQ(isextent(nullptr, "cfg"), 0);
  EXPECT_EQ(isextent(nullptr, nullptr), 0);
}

TEST(FileNames, AddExtentAppendsWithThreeBytesToSpare) {
  uint32_t before = totalloc;
  char *s = add_extent("ab", ".c");
  EXPECT_STREQ(s, "ab.c");
  EXPECT_EQ(totalloc - before, 2u + 2u + 3u);
  free(s);

  char *t = add_extent("design.txt", ".out.txt");
  EXPECT_STREQ(t, "design.txt.out.txt");
  free(t);
  char *u = add_extent(nullptr, ".cfg");
  EXPECT_STREQ(u, ".cfg");
  free(u);
  char *v = add_extent("name", nullptr);
  EXPECT_STREQ(v, "name");
  free(v);
}

TEST(FileNames, CheckfileTellsWhetherAFileCanBeRead) {
  TempDir dir;
  std::string path = dir.write("here.txt", "x");
  EXPECT_EQ(checkfile(path.c_str()), 1);
  EXPECT_EQ(checkfile(dir.file("absent.txt").c_str()), 0);
  EXPECT_EQ(checkfile(nullptr), 0);
}

TEST(FileMoves, RenameAndDeleteSucceedQuietly) {
  TempDir dir;
  std::string a = dir.write("a.txt", "A"), b = dir.file("b.txt");
  auto o = run_child([&] { 
    int r = rexname(a.c_str(), b.c_str());
    printf("%d %d", r, rexmove(b.c_str()));
  });
  EXPECT_EQ(o.out, "0 0");
  EXPECT_EQ(o.err, "");
  EXPECT_FALSE(file_exists(a));
  EXPECT_FALSE(file_exists(b));
}

TEST(FileMoves, FailuresAreReportedAndReturnMinusOne) {
  TempDir dir;
  std::string a = dir.file("none.txt"), b = dir.file("b.txt");
  auto o = run_child([&] { 
    int r = rexname(a.c_str(), b.c_str());
    printf("%d %d", r, rexmove(a.c_str()));
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "-1 -1");
  EXPECT_EQ(o.err, "\nCANNOT RENAME or RELINK the file  `" + a + "'  as  `" + b + "'\n" +
                       sys_text(ENOENT) + "\nCANNOT DELETE the file  `" + a + "'\n" +
                       sys_text(ENOENT));
}

TEST(FileBackup, NothingToDoGivesZeroAndNoMessage) {
  TempDir dir;
  std::string absent = dir.file("absent.txt");
  auto o = run_child([&] {
    printf("%d %d %d", backup(nullptr, 1), backup("", 1), backup(absent.c_str(), 1));
  });
  EXPECT_EQ(o.out, "0 0 0");
  EXPECT_EQ(o.err, "");
  EXPECT_FALSE(file_exists(absent + ".bak"));
}

TEST(FileBackup, QuietBackupRenamesAndCanHandBackTheName) {
  TempDir dir;
  std::string path = dir.write("x.out.txt", "data");
  auto o = run_child([&] {
    char *saved = nullptr;
    int r = backup_savename(path.c_str(), 0, &saved);
    printf("%d %s", r, saved);
  });
  EXPECT_EQ(o.out, "0 " + path + ".bak");
  EXPECT_FALSE(file_exists(path));
  EXPECT_EQ(read_file(path + ".bak"), "data");
}

TEST(FileBackup, FailedRenameGivesMinusOne) {
  TempDir dir;
  std::string path = dir.write("log.txt", "data");
  std::filesystem::create_directory(path + ".bak");
  dir.write("log.txt.bak/inside", "y");
  auto o = run_child([&] { printf("%d", backup(path.c_str(), 0)); });
  EXPECT_EQ(o.out, "-1");
  EXPECT_EQ(o.err.rfind("\nCANNOT DELETE the file  `" + path + ".bak'\n", 0), 0u) << o.err;
  EXPECT_EQ(o.err.find("RENAME"), std::string::npos) << "no rename after a failed delete";
  EXPECT_EQ(read_file(path), "data");
}

// ---- Allocators ------------------------------------------------------------------

TEST(Allocators, ZeroSizedRequestsGiveOneByte) {
  uint32_t n0 = numalloc, t0 = totalloc;
  auto *p = static_cast<unsigned char *>(cxalloc(0, 8));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(numalloc - n0, 1u);
  EXPECT_EQ(totalloc - t0, 1u);
  free(p);

  t0 = totalloc;
  void *q = cxalloc(8, 0);
  void *r = mxalloc(0);
  EXPECT_NE(q, nullptr);
  EXPECT_NE(r, nullptr);
  EXPECT_EQ(totalloc - t0, 2u);
  free(q);
  free(r);
}

TEST(Allocators, BlocksAreZeroedAndCounted) {
  uint32_t n0 = numalloc, t0 = totalloc, rn0 = numrealloc, rt0 = totrealloc;
  auto *a = static_cast<int32_t *>(cxalloc(5, sizeof(int32_t)));
  auto *b = static_cast<char *>(mxalloc(33));
  for (int i = 0; i < 5; i++) EXPECT_EQ(a[i], 0);
  for (int i = 0; i < 33; i++) EXPECT_EQ(b[i], 0);
  EXPECT_EQ(numalloc - n0, 2u);
  EXPECT_EQ(totalloc - t0, 20u + 33u);
  EXPECT_EQ(numrealloc, rn0);
  EXPECT_EQ(totrealloc, rt0);
  free(a);
  free(b);
}

TEST(Allocators, RexxallocKeepsThreeSpareZeroedElements) {
  uint32_t n0 = numalloc, t0 = totalloc, rn0 = numrealloc, rt0 = totrealloc;
  auto *a = static_cast<double *>(rexxalloc(nullptr, 8, 0, 10));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(numalloc - n0, 1u);
  EXPECT_EQ(totalloc - t0, 8u * 13u);
  for (int i = 0; i < 13; i++) {
    EXPECT_EQ(a[i], 0.0) << i;
    a[i] = i + 1;
  }

  a = static_cast<double *>(rexxalloc(a, 8, 10, 4));
  EXPECT_EQ(numrealloc - rn0, 1u);
  EXPECT_EQ(totrealloc - rt0, 8u * 7u);
  for (int i = 0; i < 4; i++) EXPECT_EQ(a[i], i + 1) << i;
  for (int i = 4; i < 7; i++) EXPECT_EQ(a[i], 0.0) << i;

  a[4] = 99;
  a = static_cast<double *>(rexxalloc(a, 8, 4, 20));
  EXPECT_EQ(totrealloc - rt0, 8u * 7u + 8u * 23u);
  for (int i = 0; i < 4; i++) EXPECT_EQ(a[i], i + 1) << i;
  for (int i = 4; i < 23; i++) EXPECT_EQ(a[i], 0.0) << i;
  free(a);
}

TEST(Allocators, RexxallocWithElementSizeZeroIsFatal) {
  auto o = run_child([] {
    rexxalloc(nullptr, 0, 3, 5);
    printf("not reached");
  });
  char expected[200];
  snprintf(expected, sizeof expected,
           "\nERROR !  Rexxalloc called with size=0\n  Array=%pH  Oldnum=3  Newnum=5\n",
           static_cast<void *>(nullptr));
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, expected);
}

namespace {
void reporting_handler(unsigned long bytes, const char *allocator) {
  printf("refused %lu bytes in %s\n", bytes, allocator);
  exit(7);
}
void returning_handler(unsigned long bytes, const char *allocator) {
  printf("refused %lu bytes in %s\n", bytes, allocator);
}
}  // namespace

TEST(Allocators, ReplacedHandlerReceivesTheByteCountAndTheAllocator) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer does not let the system refuse an allocation";
#else
  auto o = run_child([] {
    cant_alloc_fptr = reporting_handler;
    mxalloc(SIZE_MAX - 4096);
  });
  EXPECT_EQ(o.status, 7);
  EXPECT_EQ(o.out, "refused " + std::to_string(SIZE_MAX - 4096) + " bytes in mxalloc\n");

  o = run_child([] {
    cant_alloc_fptr = reporting_handler;
    void *p = mxalloc(16);
    rexxalloc(p, 1u << 20, 16, UINT_MAX - 3);
  });
  EXPECT_EQ(o.status, 7);
  EXPECT_EQ(o.out, "refused " + std::to_string((1ul << 20) * UINT_MAX) + " bytes in rexxalloc\n");
#endif
}

TEST(Allocators, OverflowingCountIsRefusedThroughTheHandler) {
  auto o = run_child([] {
    cant_alloc_fptr = reporting_handler;
    cxalloc(SIZE_MAX / 2, 4);
  });
  EXPECT_EQ(o.status, 7);
  EXPECT_NE(o.out.find(" bytes in cxalloc\n"), std::string::npos) << o.out;
}

TEST(Allocators, RunEndsWhenAReplacedHandlerReturns) {
  auto o = run_child([] {
    cant_alloc_fptr = returning_handler;
    cxalloc(SIZE_MAX / 2, 4);
    printf("not reached\n");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out.find("not reached"), std::string::npos);
}

TEST(Allocators, DefaultRefusalMessage) {
  auto o = run_child([] {
    fresh_places();
    set_program_place("Main");
    totalloc = 4321;
    no_alloc(1234, "mxalloc");
    printf("not reached");
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err,
            "\nCANNOT ALLOCATE 1234 bytes (`mxalloc') from the system.\n"
            "Total successfully allocated so far:  4321 bytes.\n"
            "  PROGRAM PLACE = Main\n");
}

// ---- Key press (standard input is a file here, not a terminal) --------------------

TEST(KeyPress, OrdinaryKeysAreEchoedOnStandardError) {
  auto o = run_child([] {
    int a = get1char();
    int b = get1char();
    int c = get2char();
    int d = get2char();
    printf("%d %d %d %d", a, b, c, d);
  }, "ab\nz");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "97 98 10 90");
  EXPECT_EQ(o.err, "a\nb\n\nz\n");
}

TEST(KeyPress, EndOfInputActsLikeEnter) {
  auto o = run_child([] {
    int a = get1char();
    int b = presskey();
    printf("%d %d", a, b);
  }, "");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "10 10");
  EXPECT_EQ(o.err, "\nPress any key to continue....\n");
}

TEST(KeyPress, CodesAbove127AreNotUpperCased) {
  auto o = run_child([] { printf("%d", get2char()); }, "\xe9");
  EXPECT_EQ(o.out, "233");
  EXPECT_EQ(o.err, "\xe9\n");
}

TEST(KeyPress, CtrlCEndsTheRunWithStatusZero) {
  auto o = run_child([] {
    get1char();
    printf("not reached");
    exit(5);
  }, "\x03");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "\n");
}

TEST(KeyPress, QAtThePauseEndsTheRunWithStatusZero) {
  for (const char *key : {"q", "Q"}) {
    auto o = run_child([] {
      presskey();
      printf("not reached");
      exit(5);
    }, key);
    EXPECT_EQ(o.status, 0) << key;
    EXPECT_EQ(o.out, "") << key;
    EXPECT_EQ(o.err, std::string("Press any key to continue....") + key + "\n");
  }
}

TEST(KeyPress, OtherKeysAtThePauseAreReturnedInUpperCase) {
  auto o = run_child([] { printf("%c", presskey()); }, "y");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "Y");
  EXPECT_EQ(o.err, "Press any key to continue....y\n");
}

namespace {
void marking_hook() {
  printf("hook called\n");
  exit(3);
}
}  // namespace

TEST(KeyPress, HooksCanBeReplaced) {
  auto o = run_child([] {
    presskeyfun = marking_hook;
    presskey();
  }, "q");
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.out, "hook called\n");

  o = run_child([] {
    cbrkfun = marking_hook;
    get1char();
  }, "\x03");
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.out, "hook called\n");
}

TEST(KeyPress, AtATerminalOneKeyIsReadWithoutEnterAndWithoutEcho) {
  auto o = run_child([] {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) _exit(90);
    dup2(slave, STDIN_FILENO);
    if (write(master, "x", 1) != 1) _exit(91);  // typed before the pause: discarded
    usleep(100000);
    int before = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, before | O_NONBLOCK);
    char drain[64];
    while (read(master, drain, sizeof drain) > 0) {
    }
    pid_t typist = fork();
    if (typist == 0) {
      usleep(300000);
      if (write(master, "k", 1) != 1) _exit(1);
      _exit(0);
    }
    alarm(10);
    int c = get1char();
    usleep(100000);
    ssize_t echoed = read(master, drain, sizeof drain);
    struct termios t;
    tcgetattr(STDIN_FILENO, &t);
    printf("key=%c echoed=%zd %s\n", c, echoed > 0 ? echoed : 0,
           (t.c_lflag & ICANON) && (t.c_lflag & ECHO) ? "restored" : "still raw");
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "key=k echoed=0 restored\n");
  EXPECT_EQ(o.err, "k\n");
}

// ---- Program name ----------------------------------------------------------------

namespace {
std::string name_for(const char *path) {
  const char *saved = program_path;
  program_path = path;
  char *name = progname();
  program_path = saved;
  std::string s = name;
  free(name);
  return s;
}
}  // namespace

TEST(ProgramName, BareUpperCaseStem) {
  EXPECT_EQ(name_for("C:\\Tools\\Stats\\bayescreen.exe"), "BAYESCREEN");
  EXPECT_EQ(name_for("D:bayes.exe"), "BAYES");
  EXPECT_EQ(name_for("/usr/local/bin/bayescreen"), "BAYESCREEN");
  EXPECT_EQ(name_for("./build.dir/bayescreen"), "BAYESCREEN");
  EXPECT_EQ(name_for("c:\\tools/sub\\Prog.v2.exe"), "PROG.V2");
  EXPECT_EQ(name_for("bayescreen"), "BAYESCREEN");
}

TEST(ProgramName, NoArgumentOrEmptyResultGivesPROGNAME) {
  EXPECT_EQ(name_for(nullptr), "PROGNAME");
  EXPECT_EQ(name_for(""), "PROGNAME");
  EXPECT_EQ(name_for("/usr/bin/"), "PROGNAME");
  EXPECT_EQ(name_for("C:\\bin\\"), "PROGNAME");
  EXPECT_EQ(name_for("dir/.exe"), "PROGNAME");
}

// ---- String and word helpers -------------------------------------------------------

TEST(StringHelpers, CaseBlindComparisons) {
  EXPECT_EQ(strixcmp("ReadDat", "READDAT"), 0);
  EXPECT_EQ(strixcmp("abc", "ABD"), 'c' - 'd');
  EXPECT_EQ(strixcmp("B", "a"), 'b' - 'a');
  EXPECT_EQ(strixcmp("abc", "ab"), 'c');
  EXPECT_EQ(strixcmp("ab", "abc"), -'c');
  EXPECT_EQ(strixcmp(nullptr, ""), 0);
  EXPECT_EQ(strixcmp(nullptr, "a"), -'a');

  EXPECT_EQ(strincmp("abcX", "ABCy", 3), 0);
  EXPECT_NE(strincmp("abcX", "ABCy", 4), 0);
  EXPECT_EQ(strincmp("a", "b", 0), 0);
  EXPECT_EQ(strincmp("ab", "AB", 10), 0);
  EXPECT_EQ(strincmp("ab", "abc", 10), -'c');
  EXPECT_EQ(strincmp(nullptr, nullptr, 5), 0);

  EXPECT_EQ(strmatch("Pi=0.3", "PI"), 0);
  EXPECT_EQ(strmatch("GAMMA=2", "gam"), 0);
  EXPECT_NE(strmatch("P", "PI"), 0);
  EXPECT_EQ(strmatch("anything", ""), 0);
  EXPECT_EQ(strmatch(nullptr, nullptr), 0);
  EXPECT_NE(strmatch(nullptr, "a"), 0);
}

TEST(StringHelpers, CopiesTreatAMissingStringAsEmpty) {
  const char *text = "abc";
  char *a = strxdup(text);
  EXPECT_STREQ(a, "abc");
  EXPECT_NE(a, text);
  char *b = strxdup(nullptr);
  EXPECT_STREQ(b, "");
  EXPECT_EQ(strxlen(nullptr), 0u);
  EXPECT_EQ(strxlen("abcd"), 4u);

  uint32_t t0 = totalloc;
  char *c = strxdup_app2("a", "bc", "def");
  EXPECT_STREQ(c, "abcdef");
  EXPECT_EQ(totalloc - t0, 6u + 3u);
  char *d = strxdup_app2(nullptr, "x", nullptr);
  EXPECT_STREQ(d, "x");
  char *e = strxdup_app("pre", nullptr);
  EXPECT_STREQ(e, "pre");
  char *f = strxdup_app(nullptr, nullptr);
  EXPECT_STREQ(f, "");
  for (char *p : {a, b, c, d, e, f}) free(p);
}

TEST(StringHelpers, KillNstrsFreesTheArrayAndClearsThePointer) {
  unsigned depth = npg;
  char **arr = static_cast<char **>(cxalloc(4, sizeof(char *)));
  arr[0] = strxdup("one");
  arr[2] = strxdup("three");
  kill_nstrs(&arr, 3);
  EXPECT_EQ(arr, nullptr);
  EXPECT_EQ(npg, depth);
  kill_nstrs(&arr, 3);  // missing array: nothing happens
  kill_nstrs(nullptr, 3);
  EXPECT_EQ(npg, depth);
}

TEST(StringHelpers, WordHelpers) {
  char text[] = "abC1-z";
  EXPECT_EQ(makeuc(text), text);
  EXPECT_STREQ(text, "ABC1-Z");
  EXPECT_STREQ(plural(1), "");
  EXPECT_STREQ(plural(0), "s");
  EXPECT_STREQ(plural(2), "s");
  EXPECT_STREQ(boolon(1), "ON");
  EXPECT_STREQ(boolon(0), "OFF");
  EXPECT_STREQ(boolyn(5), "YES");
  EXPECT_STREQ(boolyn(0), "NO");
  EXPECT_STREQ(shownull(nullptr), "NULL");
  EXPECT_STREQ(shownull("x"), "x");
  EXPECT_DOUBLE_EQ(square(3.0), 9.0);
  EXPECT_DOUBLE_EQ(square(-1.5), 2.25);
}
