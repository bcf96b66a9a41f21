// Whole-program benchmark: generates designs of several sizes (random -1/+1
// columns with a few planted active effects and noise, from a fixed seed),
// runs the program on each several times and prints the number of models,
// the median wall time, models per second and the peak memory. Then what
// --effects adds to the processor time of the default run of three
// designs (16 x 7, 80 x 20, 256 x 40). Then the
// default run of the 1,024-run, 60-column design on one thread and on two,
// in turn: the wall and processor times of each, the speed-up, and whether
// the screen and the log of both are the same byte for byte.
//
//   bayescreen_bench <path-to-bayescreen> [repetitions] [threads]
//
// With the word `threads' last, only the runs on one and on two threads.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Size {
  int runs, factors;
};

// One timed case: a generated design and the options of the run.
struct Case {
  Size size;
  std::vector<std::string> options;
  long models;        // models in the run's model set
  const char *label;  // what the case measures
  bool table = false;  // the design written as a table (.csv) in natural units
};

// xorshift64*: a small generator whose sequence is the same everywhere.
struct Random {
  uint64_t state;
  uint64_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ULL;
  }
  double uniform() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
  // Standard normal deviate by the Box-Muller transform.
  double normal() {
    double u = uniform(), v = uniform();
    return std::sqrt(-2 * std::log(u + 1e-300)) * std::cos(6.283185307179586 * v);
  }
};

// y = 50 + 4 A - 3 BC + 2 D + 1.5 ABE + N(0, 1): three planted effects among
// otherwise inert factors.
std::string write_design(const std::string &dir, Size size) {
  std::string path = dir + "/bench" + std::to_string(size.runs) + "x" +
                     std::to_string(size.factors) + ".txt";
  FILE *f = fopen(path.c_str(), "w");
  if (f == nullptr) {
    perror(path.c_str());
    exit(2);
  }
  Random rng{0x9E3779B97F4A7C15ULL + static_cast<uint64_t>(size.runs * 100 + size.factors)};
  fprintf(f, "Benchmark design: %d runs, %d random two-level factors\n", size.runs, size.factors);
  fprintf(f, "Nrows=%d Ncols=%d\nData\n", size.runs, size.factors);
  std::vector<int> x(static_cast<size_t>(size.factors));
  for (int r = 0; r < size.runs; r++) {
    for (int &v : x) v = (rng.next() >> 63) ? 1 : -1;
    double y = 50 + 4 * x[0] - 3 * x[1] * x[2] + 2 * x[3] + 1.5 * x[0] * x[1] * x[4] + rng.normal();
    fprintf(f, "%d.", r + 1);
    for (int v : x) fprintf(f, " %2d", v);
    fprintf(f, "  %.4f\n", y);
  }
  fclose(f);
  return path;
}

// The same design as write_design's, as a spreadsheet table: a header,
// the factors in natural units (low and high levels 10 c + 100 and 10 c +
// 150 for column c) and the response last.
std::string write_table(const std::string &dir, Size size) {
  const std::string design = write_design(dir, size);
  std::string path = design.substr(0, design.size() - 4) + ".csv";
  FILE *in = fopen(design.c_str(), "r");
  FILE *out = fopen(path.c_str(), "w");
  if (in == nullptr || out == nullptr) {
    perror(path.c_str());
    exit(2);
  }
  for (int c = 0; c < size.factors; c++) fprintf(out, "\"Factor %d\",", c + 1);
  fprintf(out, "Response\n");
  char line[4096];
  for (int skip = 0; skip < 3 && fgets(line, sizeof line, in) != nullptr; skip++) {
  }
  while (fgets(line, sizeof line, in) != nullptr) {
    char *at = strchr(line, '.') + 1;
    for (int c = 0; c < size.factors; c++) {
      const long level = strtol(at, &at, 10);
      fprintf(out, "%d,", level < 0 ? 10 * c + 100 : 10 * c + 150);
    }
    fprintf(out, "%s", at + strspn(at, " "));
  }
  fclose(in);
  fclose(out);
  return path;
}

double now_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The times of one run: wall clock and processor (user + system).
struct Timing {
  double wall = 0, cpu = 0;
};

double seconds_of(const timeval &t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

// Runs the program once on the design in dir, its screen written to
// screen_path; returns its times and, through usage, its resource use. A
// failed run ends the benchmark.
Timing run_child(const std::string &program, const std::string &dir, const std::string &design,
                 const std::vector<std::string> &options, const std::string &screen_path, rusage *usage) {
  const double start = now_seconds();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    int null = open("/dev/null", O_RDWR);
    int screen = open(screen_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null < 0 || screen < 0) _exit(122);
    dup2(null, 0);
    dup2(screen, 1);
    dup2(null, 2);
    std::vector<char *> argv = {const_cast<char *>(program.c_str()), const_cast<char *>(design.c_str())};
    for (const std::string &o : options) argv.push_back(const_cast<char *>(o.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(121);
  }
  int status = 0;
  wait4(pid, &status, 0, usage);
  Timing t;
  t.wall = now_seconds() - start;
  t.cpu = seconds_of(usage->ru_utime) + seconds_of(usage->ru_stime);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "bench: %s on %s failed (status %d)\n", program.c_str(), design.c_str(), status);
    exit(2);
  }
  return t;
}

// Runs the program once on the design in dir with its output discarded;
// returns the wall time and, through peak_kb, its peak resident memory.
double run_once(const std::string &program, const std::string &dir, const std::string &design,
                const std::vector<std::string> &options, long *peak_kb) {
  rusage usage{};
  const Timing t = run_child(program, dir, design, options, "/dev/null", &usage);
  *peak_kb = usage.ru_maxrss;
  return t.wall;
}

// Runs the program once on the design in dir, its screen written to
// screen_path; returns its times. The log of an earlier run is removed
// first, so that the run makes no backup (which it would announce).
Timing run_captured(const std::string &program, const std::string &dir, const std::string &design,
                    const std::vector<std::string> &options, const std::string &screen_path) {
  const std::string log = dir + "/" + design + ".out.txt";
  unlink(log.c_str());
  unlink((log + ".bak").c_str());
  rusage usage{};
  return run_child(program, dir, design, options, screen_path, &usage);
}

std::string read_whole(const std::string &path) {
  std::string text;
  FILE *f = fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

double median_of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The default run of a design on one thread and on two, reps times each,
// alternately (so that other work on the machine weighs on both alike).
// Prints the median and the least wall time, the median processor time,
// the speed-up of the medians and of the least times, and whether the
// screens (which differ only in the --threads word of the echoed command
// line) and the logs are the same byte for byte. Returns whether they are.
bool compare_threads(const std::string &program, const std::string &dir, Size size, int reps) {
  const std::string path = write_design(dir, size);
  const std::string name = path.substr(dir.size() + 1);
  std::vector<double> wall[2], cpu[2];
  std::string screen[2], log[2];
  for (int i = 0; i < reps; i++)
    for (int k = 0; k < 2; k++) {
      const std::string option = "--threads=" + std::to_string(k + 1);
      const std::string screen_path = dir + "/screen" + std::to_string(k + 1) + ".txt";
      const Timing t = run_captured(program, dir, name, {option}, screen_path);
      wall[k].push_back(t.wall);
      cpu[k].push_back(t.cpu);
      screen[k] = read_whole(screen_path);
      log[k] = read_whole(path + ".out.txt");
    }
  // The echoed command line names the option; the rest must not differ.
  const size_t at = screen[0].find("--threads=1");
  if (at != std::string::npos) screen[0].replace(at, 11, "--threads=2");
  const bool same_screen = !screen[1].empty() && screen[0] == screen[1];
  const bool same_log = !log[1].empty() && log[0] == log[1];
  char design[32];
  snprintf(design, sizeof design, "%dx%d", size.runs, size.factors);
  printf("\nDefault run of the %s design, %d runs each, alternately:\n", design, reps);
  printf("%-12s %12s %12s %16s\n", "threads", "median ms", "least ms", "median cpu ms");
  for (int k = 0; k < 2; k++)
    printf("%-12d %12.2f %12.2f %16.2f\n", k + 1, median_of(wall[k]) * 1e3,
           *std::min_element(wall[k].begin(), wall[k].end()) * 1e3, median_of(cpu[k]) * 1e3);
  printf("speed-up on 2 threads: %.2fx (medians), %.2fx (least times)\n",
         median_of(wall[0]) / median_of(wall[1]),
         *std::min_element(wall[0].begin(), wall[0].end()) / *std::min_element(wall[1].begin(), wall[1].end()));
  printf("screen %s, log %s byte for byte\n", same_screen ? "the same" : "DIFFERENT",
         same_log ? "the same" : "DIFFERENT");
  return same_screen && same_log;
}

// What --effects adds to the default run of each design: the processor
// time (user + system) of runs without and with it, alternately, 20 times
// reps of each. The least times are the steadiest figure on a shared
// machine (other work only adds time); the medians are printed beside.
void compare_effects(const std::string &program, const std::string &dir, int reps) {
  const Size sizes[] = {{16, 7}, {80, 20}, {256, 40}};
  const int runs = 20 * reps;
  printf("\nWhat --effects adds to the default run (processor time, %d runs each, alternately):\n", runs);
  printf("%-10s %14s %14s %10s %12s\n", "design", "least ms", "with, least", "added", "added (med)");
  for (const Size size : sizes) {
    const std::string path = write_design(dir, size);
    const std::string name = path.substr(dir.size() + 1);
    std::vector<double> cpu[2];
    for (int i = 0; i < runs; i++)
      for (int k = 0; k < 2; k++) {
        rusage usage{};
        const std::vector<std::string> options = k == 0 ? std::vector<std::string>{} : std::vector<std::string>{"--effects"};
        cpu[k].push_back(run_child(program, dir, name, options, "/dev/null", &usage).cpu);
      }
    const double least[2] = {*std::min_element(cpu[0].begin(), cpu[0].end()),
                             *std::min_element(cpu[1].begin(), cpu[1].end())};
    char design[32];
    snprintf(design, sizeof design, "%dx%d", size.runs, size.factors);
    printf("%-10s %14.2f %14.2f %+9.1f%% %+11.1f%%\n", design, least[0] * 1e3, least[1] * 1e3,
           100 * (least[1] / least[0] - 1), 100 * (median_of(cpu[1]) / median_of(cpu[0]) - 1));
    fflush(stdout);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <path-to-bayescreen> [repetitions]\n", argv[0]);
    return 2;
  }
  char resolved[4096];
  if (realpath(argv[1], resolved) == nullptr) {
    perror(argv[1]);
    return 2;
  }
  const std::string program = resolved;
  const int reps = argc > 2 ? std::max(1, atoi(argv[2])) : 7;
  const bool threads_only = argc > 3 && strcmp(argv[3], "threads") == 0;
  char tmpl[] = "/tmp/bayescreen-bench-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    perror("mkdtemp");
    return 2;
  }
  const std::string dir = tmpl;

  // Every 1-, 2- and 3-factor full factorial of f factors.
  auto plain = [](long f) { return f + f * (f - 1) / 2 + f * (f - 1) * (f - 2) / 6; };
  const Case cases[] = {
      {{16, 7}, {}, plain(7), "plain"},
      {{80, 20}, {}, plain(20), "plain"},
      {{256, 40}, {}, plain(40), "plain"},
      {{1024, 60}, {}, plain(60), "plain"},
      // Every main-effect model of up to 20 factors and the null model.
      {{96, 20}, {"--null", "--max-factors=20", "--order=1"}, 1L << 20, "main effects, K=20"},
      // The same with every model written to the JSON document.
      {{96, 20}, {"--null", "--max-factors=20", "--order=1", "--json"}, 1L << 20, "K=20, --json"},
      // Models of up to 4 factors with their two-factor interactions.
      {{80, 20}, {"--null", "--max-factors=4", "--order=2"}, 1 + 20 + 190 + 1140 + 4845, "K=4, R=2"},
      // Follow-up runs for the 32 leading models from the 64 level
      // combinations of six factors: 8 runs by the exchange search, 4 runs
      // by the exhaustive one (766,480 designs).
      {{32, 6}, {"--follow-up=8"}, plain(6), "follow-up 8 of 64"},
      {{32, 6}, {"--follow-up=4"}, plain(6), "follow-up 4 of 64"},
      // The plain model set with a 20-point gamma grid (compare 80x20 plain).
      {{80, 20}, {"--gamma-grid=0.5:10:20"}, plain(20), "plain, gamma grid 20"},
      // The effect estimates (compare the same cases without --effects).
      {{16, 7}, {"--effects"}, plain(7), "plain, --effects"},
      {{80, 20}, {"--effects"}, plain(20), "plain, --effects"},
      {{256, 40}, {"--effects"}, plain(40), "plain, --effects"},
      {{96, 20}, {"--null", "--max-factors=20", "--order=1", "--effects"}, 1L << 20, "K=20, --effects"},
      // 100,000 runs of 8 factors (their main effects only) as a design
      // file and as a table in natural units: the difference is the
      // table's reading and coding.
      {{100000, 8}, {"--max-factors=1", "--order=1"}, 8, "design file 100k"},
      {{100000, 8}, {"--max-factors=1", "--order=1"}, 8, "table 100k", true},
  };
  if (!threads_only)
    printf("%-10s %-20s %9s %12s %14s %10s\n", "design", "case", "models", "median ms", "models/s",
           "peak MB");
  for (const Case &c : cases) {
    if (threads_only) break;
    std::string path = c.table ? write_table(dir, c.size) : write_design(dir, c.size);
    std::string name = path.substr(dir.size() + 1);
    std::vector<double> times;
    long peak = 0;
    for (int i = 0; i < reps; i++) {
      long kb = 0;
      times.push_back(run_once(program, dir, name, c.options, &kb));
      peak = std::max(peak, kb);
    }
    std::sort(times.begin(), times.end());
    double median = times[times.size() / 2];
    char design[32];
    snprintf(design, sizeof design, "%dx%d", c.size.runs, c.size.factors);
    printf("%-10s %-20s %9ld %12.2f %14.0f %10.1f\n", design, c.label, c.models, median * 1e3,
           static_cast<double>(c.models) / median, static_cast<double>(peak) / 1024.0);
    fflush(stdout);
  }
  if (!threads_only) compare_effects(program, dir, reps);
  const bool same = compare_threads(program, dir, {1024, 60}, reps);
  std::string cleanup = "rm -rf '" + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "bench: could not remove %s\n", dir.c_str());
  return same ? 0 : 1;
}
