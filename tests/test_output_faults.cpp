// Output faults through the built program: failing writes, a reader that
// quits, closed standard descriptors, links, pipes and devices at the log's
// names, the log named as the input, and signals during a run and during
// the step-through pause. Each run has a deadline (a hang is a failure) and
// each case checks the exit status, the messages and the bytes of every
// file left on disk: the design untouched, link targets untouched, the log
// complete or ended by the line that says the run was interrupted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "testutil.h"

using testutil::Outcome;
using testutil::read_file;
using testutil::TempDir;

namespace {

namespace fs = std::filesystem;

// Starts the program in dir. Standard output and error go to pipes of one
// page each, so that a program with more to say blocks until they are
// read; standard input is /dev/null. `in_child` runs just before the exec.
struct Started {
  pid_t pid = -1;
  int out = -1, err = -1;  // read ends of the program's standard output and error
};
Started start(const std::vector<std::string> &args, const std::string &dir,
              const std::function<void()> &in_child = {}) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) abort();
  fcntl(out[0], F_SETPIPE_SZ, 4096);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {null, out[0], out[1], err[0], err[1]}) close(fd);
    if (in_child) in_child();
    std::vector<std::string> copy = args;
    std::string bin = BAYESCREEN_BIN;
    std::vector<char *> argv = {bin.data()};
    for (auto &a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(bin.c_str(), argv.data());
    _exit(121);
  }
  close(out[1]);
  close(err[1]);
  return {pid, out[0], err[0]};
}

constexpr int kTimedOut = -2;
constexpr auto kDeadline = std::chrono::seconds(30);

// Reads both pipes to their end and waits for the program; a program still
// running at the deadline is killed (which closes its pipes) and reported as
// kTimedOut.
Outcome finish(Started &s) {
  Outcome o;
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  bool late = false;
  while (s.out >= 0 || s.err >= 0) {
    if (!late && std::chrono::steady_clock::now() > deadline) {
      late = true;
      kill(s.pid, SIGKILL);
    }
    pollfd fds[2] = {{s.out, POLLIN, 0}, {s.err, POLLIN, 0}};  // a closed one (-1) is skipped
    if (poll(fds, 2, 100) <= 0) continue;
    for (int k = 0; k < 2; k++) {
      if (fds[k].revents == 0) continue;
      int &fd = k == 0 ? s.out : s.err;
      char buf[4096];
      ssize_t got = read(fd, buf, sizeof buf);
      if (got > 0) (k == 0 ? o.out : o.err).append(buf, static_cast<size_t>(got));
      else close(std::exchange(fd, -1));
    }
  }
  int wstatus = 0;
  waitpid(s.pid, &wstatus, 0);
  o.status = late                 ? kTimedOut
             : WIFEXITED(wstatus) ? WEXITSTATUS(wstatus)
                                  : 128 + WTERMSIG(wstatus);
  return o;
}

// Sends sig once `ready` holds; when it never does by the deadline, the
// test fails and the program is killed instead.
void signal_when(const Started &s, int sig, const std::function<bool()> &ready) {
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the program never reached the point of the signal";
      sig = SIGKILL;
      break;
    }
    usleep(5000);
  }
  kill(s.pid, sig);
}

// True while the process sleeps in the kernel (here: a blocked write or read).
bool sleeping(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && stat.size() > paren + 2 && stat[paren + 2] == 'S';
}

// 32 runs of `cols` factor columns (12 give 298 models, enough report to fill
// the pipes many times over with -R).
std::string design(int cols) {
  std::string d = "Big design\nNrows=32 Ncols=" + std::to_string(cols) + "\nData\n";
  for (int r = 0; r < 32; r++) {
    d += std::to_string(r + 1);
    int second = 0;
    for (int c = 0; c < cols; c++) {
      int bit = ((r >> (c % 5)) & 1) ^ ((c / 5) & (r >> ((c + 1) % 5)) & 1);
      d += bit ? " 1" : " -1";
      if (c == 1) second = bit ? 1 : -1;
    }
    d += " " + std::to_string(10 + r * r % 7 + 3 * second) + "\n";
  }
  return d;
}

const std::string kDesign = design(12);
const std::string kOldLog = "log of an earlier run\n";

// The log of an undisturbed run on the design as d.txt with these arguments.
std::string complete_log(const std::vector<std::string> &args) {
  TempDir dir;
  dir.write("d.txt", kDesign);
  EXPECT_EQ(testutil::run_program(args, dir.path()).status, 0);
  return read_file(dir.file("d.out.txt"));
}

std::string marker(const char *signal_name) {
  return "\nRUN INTERRUPTED!  (" + std::string(signal_name) +
         " signal)  The report is incomplete.\n";
}

// What a name holds: a file's bytes, "link -> target", "fifo", "directory"
// or "absent"; place() puts the first three there.
std::string on_disk(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return "absent";
  if (S_ISLNK(st.st_mode)) return "link -> " + fs::read_symlink(path).string();
  if (S_ISFIFO(st.st_mode)) return "fifo";
  return S_ISDIR(st.st_mode) ? "directory" : read_file(path);
}
void place(const TempDir &dir, const std::string &name, const std::string &what) {
  if (what.starts_with("link -> ")) fs::create_symlink(what.substr(8), dir.file(name));
  else if (what == "fifo") ASSERT_EQ(mkfifo(dir.file(name).c_str(), 0666), 0);
  else dir.write(name, what);
}

// The log of an interrupted run: a part of the complete log, cut where the
// report stood, then the marker line.
void expect_interrupted_log(const std::string &log, const std::string &complete,
                            const char *signal_name) {
  const std::string end = marker(signal_name);
  ASSERT_TRUE(log.ends_with(end)) << log.substr(log.size() - std::min<size_t>(log.size(), 300));
  const std::string report = log.substr(0, log.size() - end.size());
  EXPECT_TRUE(complete.starts_with(report));
  EXPECT_GT(report.size(), 100u);
}

}  // namespace

TEST(OutputFaults, NamesWritesAndDescriptors) {
  const std::string complete = complete_log({"d"});
  const std::string announce = "OPENING the log file `d.out.txt'\n";
  const std::string backing = "Backing up the existing file `d.out.txt' as `d.out.txt.bak'\n";
  const std::string refused_input =
      "Choose another log name (the second argument); nothing has been changed.\n";
  const std::string fifo_is = "It is a named pipe (FIFO); only a regular file, a directory or a "
                              "symbolic link is ";
  struct Case {
    const char *what;
    std::vector<std::pair<std::string, std::string>> before;  // name, what stands there
    std::vector<std::string> args;
    std::function<void()> in_child;
    int status;
    std::string err;       // exactly
    std::string out_part;  // contained in standard output
    std::vector<std::pair<std::string, std::string>> after;
  };
  const Case cases[] = {
      {"a file-size limit: writes to the log fail mid-run", {{"d.out.txt", kOldLog}}, {"d"},
       [] {
         rlimit limit = {3000, 3000};
         setrlimit(RLIMIT_FSIZE, &limit);
       },
       1, "\nCANNOT WRITE the file  `d.out.txt'\n" + std::string(strerror(EFBIG)) + "\n", backing,
       {{"d.out.txt", complete.substr(0, 3000)}, {"d.out.txt.bak", kOldLog}}},
      {"descriptors 0, 1 and 2 closed", {}, {"d"}, [] { for (int fd : {0, 1, 2}) close(fd); },
       0, "", "", {{"d.out.txt", complete}, {"d.out.txt.bak", "absent"}}},
      {"a dangling link at the log name", {{"d.out.txt", "link -> target.txt"}}, {"d"}, {},
       0, "", announce + backing,
       {{"d.out.txt", complete}, {"d.out.txt.bak", "link -> target.txt"},
        {"target.txt", "absent"}}},
      {"a link to another file at the log name",
       {{"other.txt", "someone else's file\n"}, {"d.out.txt", "link -> other.txt"}}, {"d"}, {},
       0, "", announce + backing,
       {{"d.out.txt", complete}, {"d.out.txt.bak", "link -> other.txt"},
        {"other.txt", "someone else's file\n"}}},
      {"the log named as the input", {{"a.out.txt", kDesign}}, {"a.out.txt", "a"}, {}, 1, "",
       "\nINPUT FILE `a.out.txt' WOULD BE REPLACED by the log file `a.out.txt' !\n" + refused_input,
       {{"a.out.txt", kDesign}, {"a.out.txt.bak", "absent"}}},
      {"the log named as the input by another path", {{"a.out.txt", kDesign}},
       {"./a.out.txt", "a"}, {}, 1, "",
       "\nINPUT FILE `./a.out.txt' WOULD BE REPLACED by the log file `a.out.txt' !\n" +
           refused_input,
       {{"a.out.txt", kDesign}, {"a.out.txt.bak", "absent"}}},
      {"the backup of the log named as the input",
       {{"a.out.txt", kOldLog}, {"a.out.txt.bak", kDesign}}, {"a.out.txt.bak", "a"}, {}, 1, "",
       "\nINPUT FILE `a.out.txt.bak' WOULD BE DELETED as the backup of the log file `a.out.txt' "
       "!\n" + refused_input,
       {{"a.out.txt", kOldLog}, {"a.out.txt.bak", kDesign}}},
      {"a FIFO at the log name", {{"d.out.txt", "fifo"}}, {"d"}, {}, 1,
       "\nCANNOT BACK UP the file  `d.out.txt'\n" + fifo_is + "backed up.\n", announce,
       {{"d.out.txt", "fifo"}, {"d.out.txt.bak", "absent"}}},
      {"a FIFO at the backup name", {{"d.out.txt", kOldLog}, {"d.out.txt.bak", "fifo"}}, {"d"},
       {}, 1, "\nCANNOT DELETE the file  `d.out.txt.bak'\n" + fifo_is + "deleted.\n",
       announce + backing, {{"d.out.txt", kOldLog}, {"d.out.txt.bak", "fifo"}}},
      {"a directory as the input", {{"dir.txt/keep", "x"}}, {"dir"}, {}, 1,
       "\nCANNOT READ the file  `dir.txt'\n" + std::string(strerror(EISDIR)) + "\n", "",
       {{"dir.out.txt", "absent"}, {"dir.txt/keep", "x"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    dir.write("d.txt", kDesign);
    fs::create_directory(dir.file("dir.txt"));
    for (const auto &[name, what] : c.before) place(dir, name, what);
    Started s = start(c.args, dir.path(), c.in_child);
    Outcome o = finish(s);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.err, c.err);
    EXPECT_NE(o.out.find(c.out_part), std::string::npos)
        << o.out.substr(o.out.size() > 400 ? o.out.size() - 400 : 0);
    EXPECT_EQ(on_disk(dir.file("d.txt")), kDesign);
    for (const auto &[name, what] : c.after) EXPECT_EQ(on_disk(dir.file(name)), what) << name;
  }
}

TEST(OutputFaults, AReaderThatQuitsAfterOneLineLosesNoLog) {
  // As in `bayescreen d -R | head -1`, twice: both logs are complete, and
  // the first survives as the backup.
  const std::string complete = complete_log({"d", "-R"});
  TempDir dir;
  dir.write("d.txt", kDesign);
  for (int run = 0; run < 2; run++) {
    SCOPED_TRACE(run);
    Started s = start({"d", "-R"}, dir.path());
    std::string first;
    char c = 0;
    while (read(s.out, &c, 1) == 1 && c != '\n') first += c;
    close(std::exchange(s.out, -1));
    Outcome o = finish(s);
    EXPECT_EQ(first, "Carry out procedures to find the factors in an experimental design");
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(on_disk(dir.file("d.out.txt")), complete);
    EXPECT_EQ(on_disk(dir.file("d.out.txt.bak")), run == 0 ? "absent" : complete);
    EXPECT_EQ(on_disk(dir.file("d.txt")), kDesign);
  }
}

TEST(OutputFaults, ASignalDuringARunEndsTheLogWithItsMarker) {
  // The screen is a pipe nobody reads, so the run blocks mid-report with
  // its log open; then the signal comes.
  const std::string complete = complete_log({"d", "-R"});
  for (auto [sig, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"}}) {
    SCOPED_TRACE(name);
    TempDir dir;
    dir.write("d.txt", kDesign);
    Started s = start({"d", "-R"}, dir.path());
    signal_when(s, sig, [&] { return fs::exists(dir.file("d.out.txt")) && sleeping(s.pid); });
    Outcome o = finish(s);
    EXPECT_EQ(o.status, 128 + sig);
    EXPECT_EQ(o.err, marker(name));
    std::string log = read_file(dir.file("d.out.txt"));
    expect_interrupted_log(log, complete, name);
    EXPECT_LT(log.size(), complete.size());
    EXPECT_EQ(on_disk(dir.file("d.txt")), kDesign);
  }
}

TEST(OutputFaults, ASignalDuringThePauseRestoresTheTerminal) {
  // Standard input is a pseudo-terminal; the signal comes while the pause
  // waits for a key with echo and line editing off.
  const std::string complete = complete_log({"d"}), prompt = "Press any key to continue....";
  for (auto [sig, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}, {SIGHUP, "SIGHUP"},
                           {SIGQUIT, "SIGQUIT"}}) {
    SCOPED_TRACE(name);
    TempDir dir;
    dir.write("d.txt", kDesign);
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before, after;
    ASSERT_EQ(tcgetattr(master, &before), 0);
    Started s = start({"d", "-S"}, dir.path(), [slave, master] {
      setsid();
      dup2(slave, 0);
      int null = open("/dev/null", O_WRONLY);  // the step text is not read here
      dup2(null, 1);
      for (int fd : {null, slave, master}) close(fd);
      rlimit no_core = {0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
    });
    close(slave);
    signal_when(s, sig,
                [&] { return tcgetattr(master, &after) == 0 && (after.c_lflag & ECHO) == 0; });
    Outcome o = finish(s);
    ASSERT_EQ(tcgetattr(master, &after), 0);
    close(master);
    EXPECT_EQ(o.status, 128 + sig);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(memcmp(after.c_cc, before.c_cc, sizeof before.c_cc), 0);
    std::string log = read_file(dir.file("d.out.txt"));
    if (sig == SIGQUIT) {  // ends at once, with no word of its own
      EXPECT_EQ(o.err, prompt);
      EXPECT_TRUE(complete.starts_with(log));
    } else {
      EXPECT_EQ(o.err, prompt + marker(name));
      expect_interrupted_log(log, complete, name);
    }
    EXPECT_EQ(on_disk(dir.file("d.txt")), kDesign);
  }
}

TEST(OutputFaults, StepThroughPromptFollowsItsText) {
  // Screen and prompt share one pipe, as with `bayescreen d -S 2>&1 | less`.
  TempDir dir;
  dir.write("d.txt", design(3));
  Started s = start({"d", "-S"}, dir.path(), [] { dup2(1, 2); });
  Outcome o = finish(s);
  EXPECT_EQ(o.status, 0);
  const std::string prompt = "Press any key to continue....\n";
  size_t prompts = 0;
  for (size_t at = o.out.find(prompt); at != std::string::npos; at = o.out.find(prompt, at + 1)) {
    size_t line = o.out.rfind('\n', at - 1);
    line = o.out.rfind('\n', line - 1) + 1;
    EXPECT_EQ(o.out.compare(line, 18, "Ivalues and Bval: "), 0) << o.out.substr(line, 60);
    prompts++;
  }
  EXPECT_EQ(prompts, 7u);  // one per model of three factors
}

namespace {

// A design of 96 runs of 20 two-level factors, the levels from a linear
// congruential generator, the response 10 + 3 A + 2 B plus a small
// deterministic noise.
std::string sweep_design() {
  std::string text = "Memory sweep: 96 runs, 20 factors\nNrows=96 Ncols=20\nData\n";
  uint32_t state = 12345;
  const auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return (state >> 16) & 0x7fff;
  };
  for (int r = 1; r <= 96; r++) {
    int a = 0, b = 0;
    text += std::to_string(r);
    for (int j = 0; j < 20; j++) {
      const int level = next() % 2 ? 1 : -1;
      if (j == 0) a = level;
      if (j == 1) b = level;
      text += " " + std::to_string(level);
    }
    text += " " + std::to_string(10 + 3 * a + 2 * b) + "." + std::to_string(next() % 10) + "\n";
  }
  return text;
}

}  // namespace

// Memory refused at any point of a run ends it with the allocation report
// and status 1, never by a signal: the address-space limit is swept around
// the least a run needs (found by bisection) for the four runs that allocate
// the most in different places. A refused run leaves its log as a prefix of
// the complete one (flushed up to the refusal) and no temporary file.
TEST(OutputFaults, AnyRefusedMemoryEndsTheRunWithTheReport) {
  if (!testutil::kAddressSpaceLimits) GTEST_SKIP() << "AddressSanitizer";
  const std::string design = sweep_design();
  struct Case {
    const char *what;
    std::vector<std::string> options;
    std::set<std::string> files;  // written by a complete run besides d.txt and the log
  };
  const std::vector<Case> cases = {
      {"2^20 models, every weighting", {"--null", "--max-factors=20", "--order=1", "-D"}, {}},
      {"a two-way prior grid",
       {"--null", "--max-factors=6", "--order=2", "--gamma-grid=0.5:5:10", "--pi-grid=0.1:0.5:10"}, {}},
      {"a follow-up search",
       {"--null", "--max-factors=6", "--order=2", "--follow-up=4", "--md-models=6", "--starts=3"}, {}},
      {"the JSON file", {"--null", "--max-factors=6", "--order=2", "--json"}, {"d.json"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"d"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    std::string complete_log;
    // Runs within `limit` bytes of address space; true when the run is complete.
    const auto run = [&](size_t limit) {
      TempDir dir;
      dir.write("d.txt", design);
      const Outcome r = testutil::run_program(args, dir.path(), "", limit);
      SCOPED_TRACE(limit);
      EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << "\n" << r.err;
      std::set<std::string> left;
      for (const auto &e : fs::directory_iterator(dir.path())) left.insert(e.path().filename());
      std::set<std::string> expected = {"d.txt"};
      if (r.status == 0) expected.insert(c.files.begin(), c.files.end());
      if (fs::exists(dir.file("d.out.txt"))) expected.insert("d.out.txt");
      EXPECT_EQ(left, expected);
      if (r.status != 0) {
        EXPECT_EQ(r.err.rfind("\nCANNOT ALLOCATE ", 0), 0u) << r.err;
        if (!complete_log.empty()) {
          EXPECT_EQ(complete_log.rfind(read_file(dir.file("d.out.txt")), 0), 0u);
        }
      } else if (complete_log.empty()) {
        complete_log = read_file(dir.file("d.out.txt"));
      }
      return r.status == 0;
    };
    ASSERT_TRUE(run(size_t{1} << 30));  // the complete log, for the prefix checks
    // Bisection on a log scale down to a ratio of 1.05, then 12 limits
    // from two thirds of the least that sufficed up to it.
    double fails = 4 << 20, works = 1 << 30;
    while (works / fails > 1.05) {
      const double middle = std::sqrt(fails * works);
      (run(static_cast<size_t>(middle)) ? works : fails) = middle;
    }
    for (int step = 0; step < 12; step++) run(static_cast<size_t>(works * (2.0 / 3 + step / 33.0)));
  }
}
