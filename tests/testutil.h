// Helpers shared by the tests: running code or the built program in a child
// process with its output captured, temporary folders and files.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/modelspace.h"
#include "cli/setflags.h"

namespace testutil {

struct Outcome {
  int status = -1;        // exit status, or 128 + signal number
  std::string out;        // standard output
  std::string err;        // standard error
};

// Runs fn in a forked child with standard output and standard error
// captured separately; a child that returns from fn exits with status 0,
// one that throws an Error prints it as the program does and exits with 1.
Outcome run_child(const std::function<void()> &fn, const std::string &input = "");

// Runs the built bayescreen program with the arguments in directory dir,
// standard input from `input`; with address_space, in that many bytes of
// address space at most.
Outcome run_program(const std::vector<std::string> &args, const std::string &dir,
                    const std::string &input = "", size_t address_space = 0);

// Starts the built program with the arguments in directory dir, its standard
// input a pipe that stays open (so that a pause waits for a key), waits until
// its standard error holds `awaited` (at most 10 s), then sends it signal
// sig and returns how it ended.
Outcome run_program_signalled(const std::vector<std::string> &args, const std::string &dir,
                              const std::string &awaited, int sig);

// AddressSanitizer reserves terabytes of address space at start, so limits
// on the address space can only be tested without it.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kAddressSpaceLimits = false;
#else
constexpr bool kAddressSpaceLimits = true;
#endif
// Limits this process's address space to its current size plus `extra`
// bytes; for a child that must stay within it.
void limit_address_space(size_t extra);

// A fresh empty temporary directory, removed when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }
  // Writes content to the named file in the directory; returns its path.
  std::string write(const std::string &name, const std::string &content) const;

 private:
  std::string path_;
};

std::string read_file(const std::string &path);

// Copies examples/<example>.txt into dir and runs the program there on it
// with the options.
Outcome run_example(const std::string &example, const std::vector<std::string> &options,
                    const TempDir &dir);
bool file_exists(const std::string &path);
// Path of a file under the source tree (examples/, tests/data/ ...).
std::string source_path(const std::string &relative);

// A printf-style printer that appends its text to `printed` and returns the
// number of characters, for the operations that take a printer.
extern std::string printed;
int capture(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// A piece of code run in a child with the output and status it must give.
struct ChildCase {
  std::function<void()> fn;
  std::string out, err;
  int status = 0;
  std::string input = "";
};
// Runs every case in its own child and compares status and both streams.
void check_children(const std::vector<ChildCase> &cases);

// Empties the program-place stack (depth limit 100), as at the start of a run.
void fresh_places();

// Whether text contains part.
inline bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// The model of a model table with this name; a test failure, and the first
// model, when there is none.
const bayescreen::ModelEntry &model_named(const bayescreen::ModelTable &models, const char *name);

// A row of an option table; the engine's own mark `given` starts at 0.
inline bayescreen::FlagSpec option_row(char flag, void *var, int32_t vartype,
                                       const char *descript = nullptr, int32_t showdefault = 0,
                                       int32_t flagval = 0, int32_t *setvar = nullptr,
                                       int32_t setval = 0, bayescreen::FlagSpec *submenu = nullptr,
                                       const char *subdescript = nullptr) {
  return bayescreen::FlagSpec{.flag = flag, .var = var, .vartype = vartype, .descript = descript,
                              .showdefault = showdefault, .flagval = flagval, .setvar = setvar,
                              .setval = setval, .submenu = submenu, .subdescript = subdescript};
}

}  // namespace testutil
