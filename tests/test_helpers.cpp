// File and message helpers, the counting allocators, the key press, the
// program name and the string and word helpers.
#include <gtest/gtest.h>

#include <functional>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/backup.h"
#include "support/error.h"
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

// A refused block throws its size and the allocator's name: prints them
// and ends with status 7.
void report_refusal(const std::function<void()> &allocate) {
  try {
    allocate();
  } catch (const AllocationError &e) {
    printf("refused %lu bytes in %s\n", e.bytes(), e.allocator());
    exit(7);
  }
}
void marking_hook() {
  printf("hook called\n");
  exit(3);
}

}  // namespace

// ---- Messages and files ------------------------------------------------------

TEST(Helpers, FailureMessagesChannelAndStatus) {
  TempDir dir;
  const std::string a = dir.file("none.txt"), b = dir.file("b.txt"), noent = sys_text(ENOENT);
  char rexx0[200];
  snprintf(rexx0, sizeof rexx0,
           "\nERROR !  Rexxalloc called with size=0\n  Array=%pH  Oldnum=3  Newnum=5\n",
           static_cast<void *>(nullptr));
  std::vector<testutil::ChildCase> cases = {
      {[] { errno = ENOENT; printf("%d", errmsg("open", "data.txt")); }, "-1",
       "\nCannot open the file  `data.txt'\n" + noent},
      {[] { errno = EACCES; errmsg("WRITE", "data.txt"); }, "",
       "\nCANNOT WRITE the file  `data.txt'\n" + sys_text(EACCES)},
      {[] { errno = ENOENT; printf("%d", errmsg2("rename", "a.txt", "b.txt")); }, "-1",
       "\nCannot rename the file  `a.txt'  as  `b.txt'\n" + noent},
      {[] { errno = ENOENT; errmsg2("RENAME", "a.txt", "b.txt"); }, "",
       "\nCANNOT RENAME the file  `a.txt'  as  `b.txt'\n" + noent},
      {[] { errno = ENOENT; errmsg(nullptr, nullptr); }, "",
       "\nCannot ?\?\?\? the file  `?\?\?\?'\n" + noent},
      {[] { errno = ENOENT; errmsg2("MOVE", nullptr, nullptr); }, "",
       "\nCANNOT MOVE the file  `?\?\?\?'  as  `?\?\?\?'\n" + noent},
      {[] { errno = EIO; fatal("READ", "in.txt"); }, "",
       "\nCANNOT READ the file  `in.txt'\n" + sys_text(EIO), 1},
      {[&] { fxopen(a.c_str(), "rb"); }, "", "\nCANNOT OPEN the file  `" + a + "'\n" + noent, 1},
      {[&] {
         int r = rexname(a.c_str(), b.c_str());
         printf("%d %d", r, rexmove(a.c_str()));
       },
       "-1 -1",
       "\nCANNOT RENAME or RELINK the file  `" + a + "'  as  `" + b + "'\n" + noent +
           "\nCANNOT DELETE the file  `" + a + "'\n" + noent},
      {[] {
         try {
           rexxalloc(nullptr, 0, 3, 5);
         } catch (const Error &e) {
           fprintf(stderr, "%s", e.message().c_str());
           exit(e.channel() == Channel::StdErr ? 1 : 2);
         }
       },
       "", rexx0, 1},
      {[] {
         testutil::fresh_places();
         set_program_place("Main");
         totalloc = 4321;
         no_alloc(1234, "mxalloc");
       },
       "",
       "\nCANNOT ALLOCATE 1234 bytes (`mxalloc') from the system.\n"
       "Total successfully allocated so far:  4321 bytes.\n  PROGRAM PLACE = Main\n", 1},
      // A refusal throws the byte count and the allocator's name.
      {[] { report_refusal([] { cxalloc(SIZE_MAX / 2, 4); }); },
       "refused " + std::to_string(SIZE_MAX) + " bytes in cxalloc\n", "", 7},
  };
#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer never lets the system refuse
  cases.push_back({[] { report_refusal([] { mxalloc(SIZE_MAX - 4096); }); },
                   "refused " + std::to_string(SIZE_MAX - 4096) + " bytes in mxalloc\n", "", 7});
  cases.push_back({[] {
                     report_refusal([] { rexxalloc(mxalloc(16), 1u << 20, 16, UINT_MAX - 3); });
                   },
                   "refused " + std::to_string((1ul << 20) * UINT_MAX) + " bytes in rexxalloc\n",
                   "", 7});
#endif
  testutil::check_children(cases);
}

TEST(FileHelpers, NamesAndMissingArguments) {
  // Opening, closing, renaming and deleting that succeed are used by the
  // backup, log and configuration tests; here the missing arguments.
  EXPECT_EQ(fxclose(nullptr, "x"), -1);
  const std::tuple<const char *, const char *, int> ext_cases[] = {
      {"opts.CFG", "cfg", 1},   {"opts.cfg", "CFG", 1},  {"run.txt.cfg", "cfg", 1},
      {"run.cfg.txt", "cfg", 0}, {"settings", "cfg", 0},  {"settings.cfgx", "cfg", 0},
      {"settings", nullptr, 1}, {"run.txt", nullptr, 0}, {nullptr, "cfg", 0},
      {nullptr, nullptr, 0}};
  for (size_t i = 0; i < std::size(ext_cases); i++) {
    auto [name, ext, expected] = ext_cases[i];
    EXPECT_EQ(isextent(name, ext), expected) << "case " << i;
  }
  uint32_t before = totalloc;
  const std::tuple<const char *, const char *, const char *> add_cases[] = {
      {"ab", ".c", "ab.c"}, {"design.txt", ".out.txt", "design.txt.out.txt"},
      {nullptr, ".cfg", ".cfg"}, {"name", nullptr, "name"}};
  for (auto [name, ext, expected] : add_cases) {
    char *added = add_extent(name, ext);
    EXPECT_STREQ(added, expected);
    free(added);
  }
  EXPECT_EQ(totalloc - before, 7u + 21u + 7u + 7u) << "three bytes to spare each";
}

TEST(FileHelpers, BackupRenamesLinksAndRefusesPipes) {
  // Links are renamed, never followed; a named pipe at either name is left
  // alone without being opened (which would wait for a writer), and so is
  // the file whose old backup, a non-empty folder, cannot be deleted.
  TempDir dir;
  std::string absent = dir.file("absent.txt"), path = dir.write("x.out.txt", "data");
  dir.write("log.txt", "old");
  dir.write("piped.txt", "old");
  std::filesystem::create_directory(dir.file("log.txt.bak"));
  dir.write("log.txt.bak/inside", "y");
  std::filesystem::create_symlink("nowhere.txt", dir.file("dangling.txt"));
  ASSERT_EQ(mkfifo(dir.file("pipe.txt").c_str(), 0666), 0);
  ASSERT_EQ(mkfifo(dir.file("piped.txt.bak").c_str(), 0666), 0);
  auto o = run_child([&] {
    printf("%d %d %d|", backup(nullptr, 1), backup("", 1), backup(absent.c_str(), 1));
    char *saved = nullptr;
    int r = backup_savename(path.c_str(), 0, &saved);
    printf("%d %s|", r, saved);
    for (const char *name : {"log.txt", "dangling.txt", "pipe.txt", "piped.txt"})
      printf("%d ", backup(dir.file(name).c_str(), 0));
  });
  EXPECT_EQ(o.out, "0 0 0|0 " + path + ".bak|-1 0 -1 -1 ");
  const std::string fifo = "'\nIt is a named pipe (FIFO); only a regular file, a directory or a "
                           "symbolic link is ";
  EXPECT_EQ(o.err, "\nCANNOT DELETE the file  `" + dir.file("log.txt.bak") + "'\n" +
                       sys_text(ENOTEMPTY) + "\nCANNOT BACK UP the file  `" +
                       dir.file("pipe.txt") + fifo + "backed up.\n\nCANNOT DELETE the file  `" +
                       dir.file("piped.txt.bak") + fifo + "deleted.\n");
  EXPECT_FALSE(file_exists(absent + ".bak") || file_exists(path));
  EXPECT_EQ(read_file(path + ".bak"), "data");
  EXPECT_EQ(read_file(dir.file("log.txt")), "old");
  EXPECT_EQ(std::filesystem::read_symlink(dir.file("dangling.txt.bak")), "nowhere.txt");
  EXPECT_FALSE(file_exists(dir.file("nowhere.txt")));
  EXPECT_EQ(read_file(dir.file("piped.txt")), "old");
  EXPECT_TRUE(std::filesystem::is_fifo(dir.file("pipe.txt")));
  EXPECT_TRUE(std::filesystem::is_fifo(dir.file("piped.txt.bak")));
}

TEST(FileHelpers, SameFileAndClosedStandardDescriptors) {
  TempDir dir;
  std::string a = dir.write("a.txt", "x"), b = dir.write("b.txt", "x");
  std::filesystem::create_hard_link(a, dir.file("hard.txt"));
  std::filesystem::create_symlink("a.txt", dir.file("soft.txt"));
  const std::tuple<std::string, std::string, int> cases[] = {
      {a, a, 1}, {a, dir.path() + "/./a.txt", 1}, {a, dir.file("hard.txt"), 1},
      {dir.file("soft.txt"), a, 1}, {a, b, 0}, {a, dir.file("absent.txt"), 0},
      {dir.file("absent.txt"), dir.file("absent.txt"), 1}};
  for (const auto &[x, y, expected] : cases)
    EXPECT_EQ(same_file(x.c_str(), y.c_str()), expected) << x << " " << y;
  EXPECT_EQ(same_file(nullptr, a.c_str()), 0);
  // Closed 0 and 2 get /dev/null; an open 1 keeps its file.
  auto o = run_child([&] {
    close(0);
    close(2);
    attach_closed_std_descriptors();
    int log = open(dir.file("log.txt").c_str(), O_WRONLY | O_CREAT, 0666);
    printf("%d %d %d %d", log > 2, same_file("/proc/self/fd/0", "/dev/null"),
           same_file("/proc/self/fd/2", "/dev/null"), same_file("/proc/self/fd/1", "/dev/null"));
  });
  EXPECT_EQ(o.out, "1 1 1 0");
}

// ---- Allocators ------------------------------------------------------------------

TEST(Allocators, BlocksAreZeroedAndCounted) {
  uint32_t n0 = numalloc, t0 = totalloc, rn0 = numrealloc, rt0 = totrealloc;
  auto *a = static_cast<int32_t *>(cxalloc(5, sizeof(int32_t)));
  auto *b = static_cast<char *>(mxalloc(33));
  void *zero[3] = {cxalloc(0, 8), cxalloc(8, 0), mxalloc(0)};  // one byte each
  EXPECT_EQ(std::vector<int32_t>(a, a + 5), std::vector<int32_t>(5, 0));
  EXPECT_EQ(std::string(b, 33), std::string(33, '\0'));
  EXPECT_EQ(*static_cast<char *>(zero[0]), 0);
  EXPECT_EQ(numalloc - n0, 5u);
  EXPECT_EQ(totalloc - t0, 20u + 33u + 3u);
  EXPECT_EQ(numrealloc - rn0 + totrealloc - rt0, 0u);
  for (void *p : {static_cast<void *>(a), static_cast<void *>(b), zero[0], zero[1], zero[2]})
    free(p);

  // rexxalloc keeps three zeroed spare elements; shrinking and growing zero
  // everything from the smaller count on.
  n0 = numalloc, t0 = totalloc;
  auto *d = static_cast<double *>(rexxalloc(nullptr, 8, 0, 10));
  EXPECT_EQ(numalloc - n0, 1u);
  EXPECT_EQ(totalloc - t0, 8u * 13u);
  EXPECT_EQ(std::vector<double>(d, d + 13), std::vector<double>(13, 0.0));
  for (int i = 0; i < 13; i++) d[i] = i + 1;
  d = static_cast<double *>(rexxalloc(d, 8, 10, 4));
  EXPECT_EQ(numrealloc - rn0, 1u);
  EXPECT_EQ(totrealloc - rt0, 8u * 7u);
  EXPECT_EQ(std::vector<double>(d, d + 7), (std::vector<double>{1, 2, 3, 4, 0, 0, 0}));
  d[4] = 99;
  d = static_cast<double *>(rexxalloc(d, 8, 4, 20));
  EXPECT_EQ(totrealloc - rt0, 8u * 7u + 8u * 23u);
  std::vector<double> grown(23, 0.0);
  for (int i = 0; i < 4; i++) grown[i] = i + 1;
  EXPECT_EQ(std::vector<double>(d, d + 23), grown);
  free(d);
}

// ---- Key press --------------------------------------------------------------------

TEST(KeyPress, FromAFile) {
  auto not_reached = [] {
    printf("not reached");
    exit(5);
  };
  const std::string pause = "Press any key to continue....";
  testutil::check_children({
      {[] {
         int a = get1char(), b = get1char(), c = get2char(), d = get2char();
         printf("%d %d %d %d", a, b, c, d);
       },
       "97 98 10 90", "a\nb\n\nz\n", 0, "ab\nz"},
      {[] {  // end of input acts like Enter
         int a = get1char();
         printf("%d %d", a, presskey());
       },
       "10 10", "\n" + pause + "\n", 0, ""},
      {[] { printf("%d", get2char()); }, "233", "\xe9\n", 0, "\xe9"},  // not upper-cased
      {[&] { get1char(); not_reached(); }, "", "\n", 0, "\x03"},  // Ctrl-C ends the run
      {[&] { presskey(); not_reached(); }, "", pause + "q\n", 0, "q"},
      {[&] { presskey(); not_reached(); }, "", pause + "Q\n", 0, "Q"},
      {[] { printf("%c", presskey()); }, "Y", pause + "y\n", 0, "y"},
      {[] { presskeyfun = marking_hook; presskey(); }, "hook called\n", pause + "q\n", 3, "q"},
      {[] { cbrkfun = marking_hook; get1char(); }, "hook called\n", "\n", 3, "\x03"},
  });
}

TEST(KeyPress, AtATerminalOneKeyIsReadWithoutEnterAndWithoutEcho) {
  auto o = run_child([] {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) _exit(90);
    dup2(slave, STDIN_FILENO);
    if (write(master, "x", 1) != 1) _exit(91);  // typed before the pause: discarded
    usleep(100000);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    char drain[64];
    while (read(master, drain, sizeof drain) > 0) {
    }
    if (fork() == 0) {
      usleep(300000);
      _exit(write(master, "k", 1) == 1 ? 0 : 1);
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

// A signal caught while the key is awaited interrupts the read (the handler
// is installed without SA_RESTART); the read is made again and the key typed
// after it is the one returned, not Enter.
TEST(KeyPress, AtATerminalASignalDuringTheReadIsNotAKey) {
  auto o = run_child([] {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) _exit(90);
    dup2(slave, STDIN_FILENO);
    struct sigaction caught {};
    caught.sa_handler = [](int) {};
    sigaction(SIGUSR1, &caught, nullptr);
    const pid_t reader = getpid();
    if (fork() == 0) {
      usleep(200000);
      kill(reader, SIGUSR1);
      usleep(200000);
      _exit(write(master, "k", 1) == 1 ? 0 : 1);
    }
    alarm(10);
    printf("%d", get1char());
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "107");
  EXPECT_EQ(o.err, "k\n");
}

// The terminal goes away (its other side closes) while the key is awaited:
// the end of input reads as Enter, as it does from a file.
TEST(KeyPress, AtATerminalTheEndOfInputCountsAsEnter) {
  auto o = run_child([] {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) _exit(90);
    dup2(slave, STDIN_FILENO);
    close(slave);
    if (fork() == 0) {  // holds the other side a moment longer
      usleep(300000);
      _exit(0);
    }
    close(master);
    alarm(10);
    printf("%d", get1char());
  });
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "10");
  EXPECT_EQ(o.err, "\n");
}

// ---- Program name and string helpers -------------------------------------------------

TEST(ProgramName, UpperCaseStemOrPROGNAME) {
  const std::pair<const char *, const char *> cases[] = {
      {"C:\\Tools\\Stats\\bayescreen.exe", "BAYESCREEN"}, {"D:bayes.exe", "BAYES"},
      {"/usr/local/bin/bayescreen", "BAYESCREEN"},       {"./build.dir/bayescreen", "BAYESCREEN"},
      {"c:\\tools/sub\\Prog.v2.exe", "PROG.V2"},          {"bayescreen", "BAYESCREEN"},
      {nullptr, "PROGNAME"}, {"", "PROGNAME"}, {"/usr/bin/", "PROGNAME"}, {"C:\\bin\\", "PROGNAME"},
      {"dir/.exe", "PROGNAME"}};
  const char *saved = program_path;
  for (const auto &[path, expected] : cases) {
    program_path = path;
    char *name = progname();
    EXPECT_STREQ(name, expected) << (path ? path : "null");
    free(name);
  }
  program_path = saved;
}

TEST(StringHelpers, ComparisonsCopiesAndWords) {
  const std::pair<int, int> compared[] = {
      {strixcmp("ReadDat", "READDAT"), 0}, {strixcmp("abc", "ABD"), 'c' - 'd'},
      {strixcmp("B", "a"), 'b' - 'a'},     {strixcmp("abc", "ab"), 'c'},
      {strixcmp("ab", "abc"), -'c'},       {strixcmp(nullptr, ""), 0},
      {strixcmp(nullptr, "a"), -'a'},      {strincmp("abcX", "ABCy", 3), 0},
      {strincmp("abcX", "ABCy", 4), -1},   {strincmp("a", "b", 0), 0},
      {strincmp("ab", "AB", 10), 0},       {strincmp("ab", "abc", 10), -'c'},
      {strincmp(nullptr, nullptr, 5), 0},  {strmatch("Pi=0.3", "PI"), 0},
      {strmatch("anything", ""), 0},       {strmatch(nullptr, nullptr), 0},
      {strmatch("P", "PI"), -'i'},         {strmatch(nullptr, "a"), -'a'}};
  for (size_t i = 0; i < std::size(compared); i++)
    EXPECT_EQ(compared[i].first, compared[i].second) << "comparison " << i;

  const char *text = "abc";
  uint32_t t0 = totalloc;
  char *copies[] = {strxdup(text), strxdup(nullptr), strxdup_app2("a", "bc", "def"),
                    strxdup_app2(nullptr, "x", nullptr), strxdup_app("pre", nullptr),
                    strxdup_app(nullptr, nullptr)};
  const char *expected[] = {"abc", "", "abcdef", "x", "pre", ""};
  EXPECT_EQ(totalloc - t0, 4u + 1u + (6u + 3u) + (1u + 3u) + (3u + 3u) + 3u) << "exact sizes";
  EXPECT_NE(copies[0], text);
  for (int i = 0; i < 6; i++) {
    EXPECT_STREQ(copies[i], expected[i]) << i;
    free(copies[i]);
  }
  EXPECT_EQ(strxlen(nullptr) + strxlen("abcd"), 4u);

  unsigned depth = npg;
  char **arr = static_cast<char **>(cxalloc(4, sizeof(char *)));
  arr[0] = strxdup("one");
  arr[2] = strxdup("three");
  kill_nstrs(&arr, 3);
  EXPECT_EQ(arr, nullptr);
  kill_nstrs(&arr, 3);  // a missing array: nothing happens
  kill_nstrs(nullptr, 3);
  EXPECT_EQ(npg, depth);

  char upper[] = "abC1-z";
  const std::pair<const char *, const char *> words[] = {
      {makeuc(upper), "ABC1-Z"}, {plural(1), ""},       {plural(0), "s"},   {plural(2), "s"},
      {boolon(1), "ON"},         {boolon(0), "OFF"},    {boolyn(5), "YES"}, {boolyn(0), "NO"},
      {shownull(nullptr), "NULL"}, {shownull("x"), "x"}};
  for (const auto &[got, want] : words) EXPECT_STREQ(got, want);
  EXPECT_DOUBLE_EQ(square(-1.5), 2.25);
}
