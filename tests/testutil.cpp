#include "testutil.h"

#include "cli/driver.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/showplaces.h"

namespace testutil {

namespace fs = std::filesystem;

static std::string temp_file_path(const char *tag) {
  std::string tmpl = (fs::temp_directory_path() / (std::string("bsc-") + tag + "-XXXXXX")).string();
  int fd = mkstemp(tmpl.data());
  if (fd >= 0) close(fd);
  return tmpl;
}

static int decode_status(int wstatus) {
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
  return -1;
}

// Waits for the child and returns its status and the two output streams,
// removing the files that held them.
static Outcome child_outcome(pid_t pid, const std::string &out_path, const std::string &err_path) {
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  Outcome o;
  o.status = decode_status(wstatus);
  o.out = read_file(out_path);
  o.err = read_file(err_path);
  fs::remove(out_path);
  fs::remove(err_path);
  return o;
}

// Forks; in the child, standard input comes from `input` and the two output
// streams go to temporary files, then `body` runs.
static Outcome run_forked(const std::function<void()> &body, const std::string &input) {
  std::string out_path = temp_file_path("out"), err_path = temp_file_path("err");
  std::string in_path = temp_file_path("in");
  {
    std::ofstream in(in_path, std::ios::binary);
    in << input;
  }
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_TRUNC);
    int err = open(err_path.c_str(), O_WRONLY | O_TRUNC);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    close(in);
    close(out);
    close(err);
    body();
    fflush(nullptr);
    _exit(0);
  }
  Outcome o = child_outcome(pid, out_path, err_path);
  fs::remove(in_path);
  return o;
}

Outcome run_child(const std::function<void()> &fn, const std::string &input) {
  return run_forked(
      [&] {
        // An error ends the child as it ends the program's run.
        try {
          fn();
        } catch (const bayescreen::Error &error) {
          bayescreen::print_error(error);
          exit(1);
        }
        fflush(nullptr);
        exit(0);
      },
      input);
}

// In a child: replaces the process by the built program with the arguments.
[[noreturn]] static void exec_program(const std::vector<std::string> &args) {
  std::vector<char *> argv;
  std::string bin = BAYESCREEN_BIN;
  argv.push_back(bin.data());
  std::vector<std::string> copy = args;
  for (auto &a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(bin.c_str(), argv.data());
  _exit(121);
}

Outcome run_program(const std::vector<std::string> &args, const std::string &dir,
                    const std::string &input, size_t address_space) {
  return run_forked(
      [&] {
        if (chdir(dir.c_str()) != 0) _exit(120);
        if (address_space > 0) {
          const struct rlimit limit = {address_space, address_space};
          if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(122);
        }
        exec_program(args);
      },
      input);
}

void limit_address_space(size_t extra) {
  std::ifstream status("/proc/self/status");
  size_t kib = 0;
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) kib = std::stoul(line.substr(7));
  const rlim_t bytes = static_cast<rlim_t>(kib * 1024 + extra);
  const struct rlimit limit = {bytes, bytes};
  if (kib == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(122);
}

Outcome run_program_signalled(const std::vector<std::string> &args, const std::string &dir,
                              const std::string &awaited, int sig) {
  const std::string out_path = temp_file_path("out"), err_path = temp_file_path("err");
  int keys[2];
  if (pipe(keys) != 0) return Outcome{};
  fflush(stdout);
  fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_TRUNC);
    int err = open(err_path.c_str(), O_WRONLY | O_TRUNC);
    dup2(keys[0], 0);
    dup2(out, 1);
    dup2(err, 2);
    close(keys[0]);
    close(keys[1]);
    close(out);
    close(err);
    if (chdir(dir.c_str()) != 0) _exit(120);
    exec_program(args);
  }
  close(keys[0]);
  for (int waited = 0; waited < 1000; waited++) {
    if (read_file(err_path).find(awaited) != std::string::npos) break;
    usleep(10000);
  }
  kill(pid, sig);
  Outcome o = child_outcome(pid, out_path, err_path);
  close(keys[1]);  // only now: the child must not read the end of its keys before the signal
  return o;
}

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "bsc-dir-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr) abort();
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::write(const std::string &name, const std::string &content) const {
  std::string p = file(name);
  std::ofstream f(p, std::ios::binary);
  f << content;
  return p;
}

std::string read_file(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

bool file_exists(const std::string &path) { return fs::exists(path); }

std::string source_path(const std::string &relative) {
  return std::string(BAYESCREEN_SOURCE_DIR) + "/" + relative;
}

std::string printed;

int capture(const char *fmt, ...) {
  va_list ap, ap2;
  va_start(ap, fmt);
  va_copy(ap2, ap);
  int n = vsnprintf(nullptr, 0, fmt, ap);
  std::string s(static_cast<size_t>(n) + 1, '\0');
  vsnprintf(s.data(), s.size(), fmt, ap2);
  va_end(ap2);
  va_end(ap);
  s.resize(static_cast<size_t>(n));
  printed += s;
  return n;
}

void check_children(const std::vector<ChildCase> &cases) {
  for (size_t i = 0; i < cases.size(); i++) {
    SCOPED_TRACE("case " + std::to_string(i));
    Outcome o = run_child(cases[i].fn, cases[i].input);
    EXPECT_EQ(o.status, cases[i].status);
    EXPECT_EQ(o.out, cases[i].out);
    EXPECT_EQ(o.err, cases[i].err);
  }
}

const bayescreen::ModelEntry &model_named(const bayescreen::ModelTable &models, const char *name) {
  for (const bayescreen::ModelEntry &m : models)
    if (std::string(m.name) == name) return m;
  ADD_FAILURE() << "no model " << name;
  return models[0];
}

void fresh_places() {
  bayescreen::prog_place = nullptr;
  bayescreen::npg = 0;
  bayescreen::nxpg = 0;
  bayescreen::max_prdepth = 100;
  bayescreen::program_place_verbose = 0;
}

Outcome run_example(const std::string &example, const std::vector<std::string> &options,
                    const TempDir &dir) {
  dir.write(example + ".txt", read_file(source_path("examples/" + example + ".txt")));
  std::vector<std::string> args = {example};
  args.insert(args.end(), options.begin(), options.end());
  return run_program(args, dir.path());
}

}  // namespace testutil
