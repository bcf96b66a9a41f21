#include "cli/resultfiles.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/atomicfile.h"
#include "export/csvexport.h"
#include "export/htmlexport.h"
#include "export/jsonexport.h"
#include "export/svgexport.h"
#include "support/fileid.h"
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

// Ends the run before anything is written: "RESULT FILE `name' (option)",
// what is wrong with the name, the file it concerns (what, then `other'
// when there is one).
[[noreturn]] void refuse(const Named &file, const char *verb, const char *what, const char *other) {
  printf("\nRESULT FILE `%s' (%s) %s", file.name, file.option, verb);
  if (*what != '\0') printf(" %s", what);
  if (*other != '\0') printf(" `%s'", other);
  printf(" !\nChoose another name; nothing has been changed.\n");
  exit(1);
}

// The CSV prefix: as given, or the stem of the log's name; a prefix that
// names a directory (it ends with '/') gets the base name of that stem, so
// that "--csv-files=dir/" writes dir/NAME.models.csv, not dir/.models.csv.
std::string csv_prefix_of(const char *given, const std::string &stem) {
  if (given == nullptr) return stem;
  const std::string prefix = given;
  if (prefix.empty() || prefix.back() != '/') return prefix;
  const size_t slash = stem.rfind('/');
  return prefix + (slash != std::string::npos ? stem.substr(slash + 1) : stem);
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

// The text report: the content of the log, which is closed by now, up to
// one byte past what the page holds (the page cuts a longer report and
// names the log). Empty when it cannot be read (the page then names the
// log instead).
std::string read_report(const std::string &log) {
  std::string text;
  FILE *file = fopen(log.c_str(), "rb");
  if (file == nullptr) return text;
  char buf[65536];
  size_t n;
  while (text.size() <= kHtmlReportBytes && (n = fread(buf, 1, sizeof buf, file)) > 0) text.append(buf, n);
  if (ferror(file)) text.clear();
  fclose(file);
  return text;
}

}  // namespace

void prepare_result_files(const ResultFileOptions &options, const Settings &settings, RunDescription &run,
                          bool table_input) {
  PlaceGuard place("Prepare_Result_Files");
  const std::string stem = log_stem(run.log);
  if (options.json_given) run.json = options.json != nullptr ? options.json : stem + ".json";
  if (options.svg_given) run.svg = options.svg != nullptr ? options.svg : stem + ".svg";
  if (options.html_given) run.html = options.html != nullptr ? options.html : stem + ".html";
  if (options.csv_given) {
    const std::string prefix = run.csv_prefix = csv_prefix_of(options.csv_prefix, stem);
    run.csv_models = prefix + ".models.csv";
    run.csv_factors = prefix + ".factors.csv";
    run.csv_effects = prefix + ".effects.csv";
    if (table_input) run.csv_coding = prefix + ".coding.csv";
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
  add(run.csv_effects, "--csv-files");
  add(run.csv_coding, "--csv-files");
  add(run.csv_follow_up, "--csv-files");
  add(run.csv_prior_grid, "--csv-files");
  add(run.csv_effects_space, "--csv-files");
  add(run.svg, "--svg-file");
  add(run.html, "--html");
  // The files the run reads or keeps: the log's backup is the previous log,
  // moved aside when the new one is opened.
  const std::string bak = run.log + ".bak";
  struct Kept {
    const char *name;
    const char *what;
  };
  std::vector<Kept> kept = {{run.input.c_str(), "the input file"},
                            {run.log.c_str(), "the log file"},
                            {bak.c_str(), "the backup of the log file"}};
  if (settings.follow_up.candidates != nullptr) kept.push_back({settings.follow_up.candidates, "the candidates file"});
  std::vector<FileIdentity> kept_ids;
  for (const Kept &k : kept) kept_ids.push_back(identify_file(k.name));

  std::vector<FileIdentity> ids;
  for (size_t i = 0; i < files.size(); i++) {
    const FileIdentity id = identify_file(files[i].name);
    for (size_t k = 0; k < kept.size(); k++)
      if (same_identity(id, kept_ids[k])) refuse(files[i], "WOULD REPLACE", kept[k].what, kept[k].name);
    for (size_t j = 0; j < i; j++)
      if (same_identity(id, ids[j])) refuse(files[i], "WOULD REPLACE", "the result file", files[j].name);
    // The rename that puts a result file in place replaces a regular file
    // or a symbolic link (the link itself, never what it points to); any
    // other kind of file is left alone, as for the log.
    if (id.exists && S_ISDIR(id.mode)) refuse(files[i], "IS A DIRECTORY", "", "");
    if (id.exists && !S_ISREG(id.mode) && !S_ISLNK(id.mode))
      refuse(files[i], "IS NOT A REGULAR FILE: it is", special_file_kind(id.mode), "");
    ids.push_back(id);
  }
}

bool result_files_wanted(const RunDescription &run) {
  return !run.json.empty() || !run.csv_models.empty() || !run.svg.empty() || !run.html.empty();
}

void write_result_files(const ExportInput &in) {
  PlaceGuard place("Write_Result_Files");
  // A block the system refuses to the writers (standard strings, the JSON
  // library's objects) ends the run in the program's new_handler, with the
  // allocation report and status 1; the file under way is removed at exit.
  write_file(in.run.json, write_json, in);
  write_file(in.run.csv_models, write_csv_models, in);
  write_file(in.run.csv_factors, write_csv_factors, in);
  write_file(in.run.csv_effects, write_csv_effects, in);
  write_file(in.run.csv_coding, write_csv_coding, in);
  write_file(in.run.csv_prior_grid, write_csv_prior_grid, in);
  write_file(in.run.csv_follow_up, write_csv_follow_up, in);
  write_file(in.run.csv_effects_space, write_csv_effects_space, in);
  write_file(in.run.svg, write_svg, in);
  if (!in.run.html.empty()) {
    RunDescription run = in.run;
    run.report = read_report(run.log);
    write_file(run.html, write_html, ExportInput{in.design, in.settings, in.results, run});
  }
}

}  // namespace bayescreen
