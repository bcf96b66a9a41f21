// Whole-program benchmark: generates designs of several sizes (random -1/+1
// columns with a few planted active effects and noise, from a fixed seed),
// runs the program on each several times and prints the number of models,
// the median wall time, models per second and the peak memory.
//
//   bayescreen_bench <path-to-bayescreen> [repetitions]
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

struct Size {
  int runs, factors;
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

double now_seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs the program once on the design in dir with its output discarded;
// returns the wall time and, through peak_kb, its peak resident memory.
double run_once(const std::string &program, const std::string &dir, const std::string &design,
                long *peak_kb) {
  double start = now_seconds();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execl(program.c_str(), program.c_str(), design.c_str(), static_cast<char *>(nullptr));
    _exit(121);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  double elapsed = now_seconds() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "bench: %s on %s failed (status %d)\n", program.c_str(), design.c_str(),
            status);
    exit(2);
  }
  *peak_kb = usage.ru_maxrss;
  return elapsed;
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
  char tmpl[] = "/tmp/bayescreen-bench-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) {
    perror("mkdtemp");
    return 2;
  }
  const std::string dir = tmpl;

  const Size sizes[] = {{16, 7}, {80, 20}, {256, 40}, {1024, 60}};
  printf("%-12s %8s %12s %14s %10s\n", "design", "models", "median ms", "models/s", "peak MB");
  for (Size size : sizes) {
    std::string path = write_design(dir, size);
    std::string name = path.substr(dir.size() + 1);
    long f = size.factors;
    long models = f + f * (f - 1) / 2 + f * (f - 1) * (f - 2) / 6;
    std::vector<double> times;
    long peak = 0;
    for (int i = 0; i < reps; i++) {
      long kb = 0;
      times.push_back(run_once(program, dir, name, &kb));
      peak = std::max(peak, kb);
    }
    std::sort(times.begin(), times.end());
    double median = times[times.size() / 2];
    char label[32];
    snprintf(label, sizeof label, "%dx%d", size.runs, size.factors);
    printf("%-12s %8ld %12.2f %14.0f %10.1f\n", label, models, median * 1e3,
           static_cast<double>(models) / median, static_cast<double>(peak) / 1024.0);
    fflush(stdout);
  }
  std::string cleanup = "rm -rf '" + dir + "'";
  if (system(cleanup.c_str()) != 0) fprintf(stderr, "bench: could not remove %s\n", dir.c_str());
  return 0;
}
