// Files written whole or not at all: the temporary name beside the file,
// the rename when complete, and every way of failing or ending early, each
// leaving what stood at the name as it was and no temporary file behind.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
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

#include "cli/atomicfile.h"
#include "cli/errsignals.h"
#include "testutil.h"

using namespace bayescreen;
using testutil::read_file;
using testutil::run_child;
using testutil::TempDir;

namespace {

namespace fs = std::filesystem;

// Whether the file system of dir creates unnamed files (O_TMPFILE).
bool unnamed_files(const std::string &dir) {
  const int fd = open(dir.c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (fd < 0) return false;
  close(fd);
  return true;
}

std::set<std::string> names_in(const std::string &dir) {
  std::set<std::string> names;
  for (const auto &entry : fs::directory_iterator(dir)) names.insert(entry.path().filename());
  return names;
}

}  // namespace

// The new text replaces the old file only at the commit, with the
// permissions of a new file; a link at the name is replaced, never followed.
TEST(AtomicFile, WritesTheWholeFileUnderItsNameAndNothingElse) {
  TempDir dir;
  const std::string path = dir.file("r.json");
  dir.write("r.json", "the old results\n");
  dir.write("elsewhere.txt", "someone else's file\n");
  fs::create_symlink("elsewhere.txt", dir.file("r.svg"));
  auto r = run_child([&] {
    umask(022);
    begin_atomic_file(path.c_str());
    atomic_printf("%s %d\n", "new", 1);
    atomic_write("rest\n", 5);
    // Until the rename the old file stands; the new text is in an unnamed
    // file, or in a fourth name where the file system has none.
    printf("%zu %s\n", names_in(dir.path()).size(), read_file(path).c_str());
    commit_atomic_file();
    begin_atomic_file(dir.file("r.svg").c_str());
    atomic_write("<svg/>\n", 7);
    commit_atomic_file();
  });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, (unnamed_files(dir.path()) ? "3" : "4") + std::string(" the old results\n\n"));
  EXPECT_EQ(read_file(path), "new 1\nrest\n");
  EXPECT_FALSE(fs::is_symlink(dir.file("r.svg")));
  EXPECT_EQ(read_file(dir.file("r.svg")), "<svg/>\n");
  EXPECT_EQ(read_file(dir.file("elsewhere.txt")), "someone else's file\n");
  EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"r.json", "r.svg", "elsewhere.txt"}));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // 0666 less the umask, not mkstemp's 0600
}

// Every end before the rename, a failure or the run ending early by exit,
// interrupt or discard, leaves r.json as it was and no temporary file; a
// failure ends with status 1 and its message.
TEST(AtomicFile, AnEndBeforeTheRenameLeavesTheOldFileAndNoTemporaryFile) {
  const auto old_file = [](const TempDir &dir) { dir.write("r.json", "the old results\n"); };
  const auto half_a_file = [] {
    atomic_write("half a file", 11);
    fflush(nullptr);
  };
  const std::string text(100000, 'x');
  struct Case {
    const char *what;
    std::function<void(const TempDir &)> prepare;
    std::string name;            // the file begun, in the directory
    std::function<void()> rest;  // after the begin
    int status;
    const char *verb;  // CANNOT <verb> the file, with the system's text of err; or not checked
    int err;
    std::set<std::string> left;  // the names in the directory afterwards
  };
  const std::vector<Case> cases = {
      {"a directory that does not exist", [](const TempDir &) {}, "none/r.json", commit_atomic_file,
       1, "CREATE", ENOENT, {}},
      {"a directory at the name", [](const TempDir &dir) { fs::create_directory(dir.file("r.json")); },
       "r.json", commit_atomic_file, 1, "CREATE", EISDIR, {"r.json"}},
      {"a file-size limit reached while writing", old_file, "r.json",
       [&] {
         rlimit limit = {4096, 4096};
         setrlimit(RLIMIT_FSIZE, &limit);
         signal(SIGXFSZ, SIG_IGN);
         for (int k = 0; k < 20; k++) atomic_write(text.data(), text.size());
         commit_atomic_file();
       },
       1, "WRITE", EFBIG, {"r.json"}},
      {"exit", old_file, "r.json", [&] { half_a_file(); exit(3); }, 3, nullptr, 0, {"r.json"}},
      {"SIGTERM", old_file, "r.json", [&] { half_a_file(); set_run_signals(); raise(SIGTERM); },
       128 + SIGTERM, nullptr, 0, {"r.json"}},
      {"SIGINT", old_file, "r.json", [&] { half_a_file(); set_run_signals(); raise(SIGINT); },
       128 + SIGINT, nullptr, 0, {"r.json"}},
      {"discarded", old_file, "r.json", [&] { half_a_file(); discard_atomic_file(); }, 0, nullptr, 0,
       {"r.json"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    c.prepare(dir);
    const std::string before = read_file(dir.file("r.json"));
    const std::string path = dir.file(c.name);
    auto r = run_child([&] {
      begin_atomic_file(path.c_str());
      c.rest();
    });
    EXPECT_EQ(r.status, c.status);
    if (c.verb != nullptr) {
      EXPECT_EQ(r.err, "\nCANNOT " + std::string(c.verb) + " the file  `" + path + "'\n" + strerror(c.err) +
                           "\nNothing was written to `" + path + "'; what stood at that name is left as it was.\n");
    }
    EXPECT_EQ(names_in(dir.path()), c.left);
    EXPECT_EQ(read_file(dir.file("r.json")), before);
  }
}

// A run killed (SIGKILL) while it writes leaves no temporary file where the
// file system has unnamed files; elsewhere the next run that writes a file
// of that name removes it. Temporary files of that name that a live run
// holds, and files of other names or patterns, are left alone.
TEST(AtomicFile, StaleTemporaryFilesGoAndOthersStay) {
  TempDir dir;
  const std::string path = dir.file("r.json");
  auto killed = run_child([&] {
    begin_atomic_file(path.c_str());
    atomic_write("half a file", 11);
    fflush(nullptr);
    raise(SIGKILL);
  });
  EXPECT_EQ(killed.status, 128 + SIGKILL);
  if (unnamed_files(dir.path())) {
    EXPECT_TRUE(names_in(dir.path()).empty());
  }
  // Temporary files of r.json that no run holds, one that a live run holds
  // (this process), and names of other patterns.
  const std::vector<std::string> stale = {".r.json.AbC123", ".r.json.zzzzzz"};
  const std::set<std::string> kept = {".r.json.HELD00", ".r.json.abc", ".r.json.AbC12_", "r.json.AbC123",
                                      ".q.json.AbC123", ".r.json.AbC1234"};
  for (const std::string &name : stale) dir.write(name, "stale\n");
  for (const std::string &name : kept) dir.write(name, "kept\n");
  const int held = open(dir.file(".r.json.HELD00").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  auto r = run_child([&] {
    close(held);  // the lock stays with this process's parent
    begin_atomic_file(path.c_str());
    atomic_write("new\n", 4);
    commit_atomic_file();
  });
  close(held);
  EXPECT_EQ(r.status, 0) << r.err;
  std::set<std::string> expected = kept;
  expected.insert("r.json");
  EXPECT_EQ(names_in(dir.path()), expected);
  EXPECT_EQ(read_file(path), "new\n");
}
