// Files written whole or not at all: the temporary name beside the file,
// the rename when complete, and every way of failing or ending early, each
// leaving what stood at the name as it was and no temporary file behind.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "support/atomicfile.h"
#include "support/errsignals.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::read_file;
using testutil::run_child;
using testutil::TempDir;

namespace {

namespace fs = std::filesystem;

// The names in a directory.
std::set<std::string> names_in(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

std::string sys_text(int err) { return std::string(strerror(err)) + "\n"; }

std::string refusal(const char *verb, const std::string &path, int err) {
  return "\nCANNOT " + std::string(verb) + " the file  `" + path + "'\n" + sys_text(err) +
         "Nothing was written to `" + path + "'; what stood at that name is left as it was.\n";
}

}  // namespace

TEST(AtomicFile, WritesTheWholeFileUnderItsNameAndNothingElse) {
  TempDir dir;
  const std::string path = dir.file("r.json");
  dir.write("r.json", "the old results\n");
  auto r = run_child([&] {
    umask(022);
    begin_atomic_file(path.c_str());
    // Until the rename the old file stands and the new text is elsewhere.
    atomic_printf("%s %d\n", "new", 1);
    atomic_write("rest\n", 5);
    printf("%zu %s\n", names_in(dir.path()).size(), read_file(path).c_str());
    commit_atomic_file();
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2 the old results\n\n");
  EXPECT_EQ(read_file(path), "new 1\nrest\n");
  EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"r.json"});
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // 0666 less the umask, not mkstemp's 0600
}

TEST(AtomicFile, ALinkAtTheNameIsReplacedNeverFollowed) {
  TempDir dir;
  dir.write("elsewhere.txt", "someone else's file\n");
  fs::create_symlink("elsewhere.txt", dir.file("r.svg"));
  auto r = run_child([&] {
    begin_atomic_file(dir.file("r.svg").c_str());
    atomic_write("<svg/>\n", 7);
    commit_atomic_file();
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(fs::is_symlink(dir.file("r.svg")));
  EXPECT_EQ(read_file(dir.file("r.svg")), "<svg/>\n");
  EXPECT_EQ(read_file(dir.file("elsewhere.txt")), "someone else's file\n");
}

// Each failure: status 1, the message, the old file as it was and no
// temporary file left.
TEST(AtomicFile, FailuresLeaveTheOldFileAndNoTemporaryFile) {
  struct Failure {
    const char *what;
    std::function<void(const TempDir &)> prepare;
    std::string name;                     // the file written, in the directory
    std::function<void()> write;          // between begin and commit
    std::string message;                  // on standard error, after the directory's name
    int err;
    std::set<std::string> left;           // the names in the directory afterwards
  };
  const std::string text(100000, 'x');
  const std::vector<Failure> failures = {
      {"a directory that does not exist", [](const TempDir &) {}, "none/r.json", [] {}, "CREATE",
       ENOENT, {}},
      {"a directory at the name",
       [](const TempDir &dir) { fs::create_directory(dir.file("r.json")); }, "r.json", [] {},
       "CREATE", EISDIR, {"r.json"}},
      {"a file-size limit reached while writing",
       [](const TempDir &dir) { dir.write("r.json", "the old results\n"); }, "r.json",
       [&] {
         rlimit limit = {4096, 4096};
         setrlimit(RLIMIT_FSIZE, &limit);
         signal(SIGXFSZ, SIG_IGN);
         for (int k = 0; k < 20; k++) atomic_write(text.data(), text.size());
       },
       "WRITE", EFBIG, {"r.json"}},
  };
  for (const Failure &f : failures) {
    SCOPED_TRACE(f.what);
    TempDir dir;
    f.prepare(dir);
    const std::string before = read_file(dir.file("r.json"));
    const std::string path = dir.file(f.name);
    auto r = run_child([&] {
      begin_atomic_file(path.c_str());
      f.write();
      commit_atomic_file();
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, refusal(f.message.c_str(), path, f.err));
    EXPECT_EQ(names_in(dir.path()), f.left);
    EXPECT_EQ(read_file(dir.file("r.json")), before);
  }
}

// A run that ends before the rename, by exit or by an interrupt, takes the
// temporary file with it.
TEST(AtomicFile, ARunEndedEarlyLeavesNoTemporaryFile) {
  struct Ending {
    const char *what;
    std::function<void()> end;
    int status;
  };
  const std::vector<Ending> endings = {
      {"exit", [] { exit(3); }, 3},
      {"SIGTERM", [] {
         set_run_signals();
         raise(SIGTERM);
       },
       128 + SIGTERM},
      {"SIGINT", [] {
         set_run_signals();
         raise(SIGINT);
       },
       128 + SIGINT},
      {"discarded", [] {
         discard_atomic_file();
         printf("discarded\n");
       },
       0},
  };
  for (const Ending &e : endings) {
    SCOPED_TRACE(e.what);
    TempDir dir;
    dir.write("r.csv", "old\n");
    auto r = run_child([&] {
      begin_atomic_file(dir.file("r.csv").c_str());
      atomic_write("half a file", 11);
      fflush(nullptr);
      e.end();
    });
    EXPECT_EQ(r.status, e.status);
    EXPECT_EQ(names_in(dir.path()), std::set<std::string>{"r.csv"});
    EXPECT_EQ(read_file(dir.file("r.csv")), "old\n");
  }
}
