#include "cli/resultfiles.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/atomicfile.h"
#include "export/csvexport.h"
#include "export/jsonexport.h"
#include "export/svgexport.h"
#include "support/helpers.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// The log's name without ".out.txt": the stem of the default names.
std::string log_stem(const std::string &log) {
  constexpr size_t kExtLen = sizeof ".out.txt" - 1;
  if (log.size() > kExtLen && log.compare(log.size() - kExtLen, kExtLen, ".out.txt") == 0)
    return log.substr(0, log.size() - kExtLen);
  return log;
}

struct Named {
  const char *name;    // the file's name
  const char *option;  // what asked for it
};

// Ends the run before anything is written: "RESULT FILE `name' (option)"
// and what is wrong with the name.
[[noreturn]] void refuse(const Named &file, const char *what, const char *other) {
  printf("\nRESULT FILE `%s' (%s) %s", file.name, file.option, what);
  if (*other != '\0') printf(" `%s'", other);
  printf(" !\nChoose another name; nothing has been changed.\n");
  exit(1);
}

// Writes one file through a writer of the export layer.
class AtomicSink : public ResultSink {
 public:
  void write(const char *text, size_t n) override { atomic_write(text, n); }
};

void write_file(const std::string &name, void (*writer)(const ExportInput &, ResultSink &),
                const ExportInput &in) {
  if (name.empty()) return;
  begin_atomic_file(name.c_str());
  AtomicSink sink;
  writer(in, sink);
  commit_atomic_file();
}

}  // namespace

void prepare_result_files(const ResultFileOptions &options, const Settings &settings, RunDescription &run) {
  PlaceGuard place("Prepare_Result_Files");
  const std::string stem = log_stem(run.log);
  if (options.json_given) run.json = options.json != nullptr ? options.json : stem + ".json";
  if (options.svg_given) run.svg = options.svg != nullptr ? options.svg : stem + ".svg";
  if (options.csv_given) {
    const std::string prefix = options.csv_prefix != nullptr ? options.csv_prefix : stem;
    run.csv_models = prefix + ".models.csv";
    run.csv_factors = prefix + ".factors.csv";
    if (settings.follow_up.runs > 0) run.csv_follow_up = prefix + ".followup.csv";
    if (settings.prior_grids()) run.csv_prior_grid = prefix + ".grid.csv";
    if (settings.effects.kind == SpaceKind::Effects) run.csv_effects_space = prefix + ".effects-space.csv";
  }

  std::vector<Named> files;
  auto add = [&files](const std::string &name, const char *option) {
    if (!name.empty()) files.push_back({name.c_str(), option});
  };
  add(run.json, "--json");
  add(run.csv_models, "--csv-files");
  add(run.csv_factors, "--csv-files");
  add(run.csv_follow_up, "--csv-files");
  add(run.csv_prior_grid, "--csv-files");
  add(run.csv_effects_space, "--csv-files");
  add(run.svg, "--svg-file");
  for (size_t i = 0; i < files.size(); i++) {
    if (same_file(files[i].name, run.input.c_str()))
      refuse(files[i], "WOULD REPLACE the input file", run.input.c_str());
    if (same_file(files[i].name, run.log.c_str()))
      refuse(files[i], "WOULD REPLACE the log file", run.log.c_str());
    for (size_t j = 0; j < i; j++)
      if (same_file(files[i].name, files[j].name))
        refuse(files[i], "WOULD REPLACE the result file", files[j].name);
    struct stat st;
    if (lstat(files[i].name, &st) == 0 && S_ISDIR(st.st_mode)) refuse(files[i], "IS A DIRECTORY", "");
  }
}

bool result_files_wanted(const RunDescription &run) {
  return !run.json.empty() || !run.csv_models.empty() || !run.svg.empty();
}

void write_result_files(const ExportInput &in) {
  PlaceGuard place("Write_Result_Files");
  // The writers build their text in standard strings and the JSON library's
  // objects: a block the system refuses there ends the run with the
  // CANNOT ALLOCATE report and status 1, as the counting allocators do,
  // and the file under way is removed at exit.
  try {
    write_file(in.run.json, write_json, in);
    write_file(in.run.csv_models, write_csv_models, in);
    write_file(in.run.csv_factors, write_csv_factors, in);
    write_file(in.run.csv_prior_grid, write_csv_prior_grid, in);
    write_file(in.run.csv_follow_up, write_csv_follow_up, in);
    write_file(in.run.csv_effects_space, write_csv_effects_space, in);
    write_file(in.run.svg, write_svg, in);
  } catch (const std::bad_alloc &) {
    fprintf(stderr, "\nCANNOT ALLOCATE the memory of the result files from the system.\n"
                    "Total successfully allocated so far:  %lu bytes.\n",
            static_cast<unsigned long>(totalloc));
    show_program_places();
    exit(1);
  }
}

}  // namespace bayescreen
