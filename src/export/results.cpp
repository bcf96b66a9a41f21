#include "export/results.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "cli/driver.h"
#include "engine/models.h"
#include "engine/priorgrid.h"
#include "engine/readdat.h"
#include "engine/settings.h"
#include "export/csvexport.h"
#include "export/jsonexport.h"
#include "export/svgexport.h"
#include "support/fileid.h"
#include "support/helpers.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

char *csv_models = nullptr;
char *csv_factors = nullptr;
char *csv_follow_up = nullptr;
char *csv_prior_grid = nullptr;

// The log's name without ".out.txt": the stem of the default names.
char *log_stem() {
  char *stem = strxdup(outfile);
  const size_t len = strlen(stem);
  constexpr size_t kExtLen = sizeof ".out.txt" - 1;
  if (len > kExtLen && strcmp(stem + len - kExtLen, ".out.txt") == 0) stem[len - kExtLen] = '\0';
  return stem;
}

// The option's file name: the value given, else the stem and ext.
const char *name_or_default(const char *option, const char *given, const char *stem,
                            const char *ext) {
  if (!find_long_option(xopts, option)->given) return nullptr;
  return given != nullptr ? given : add_extent(stem, ext);
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

}  // namespace

const char *csv_models_name() { return csv_models; }
const char *csv_factors_name() { return csv_factors; }
const char *csv_follow_up_name() { return csv_follow_up; }
const char *csv_prior_grid_name() { return csv_prior_grid; }

// The CSV prefix: as given, or the stem of the log's name; a prefix that
// names a directory (it ends with '/') gets the base name of that stem, so
// that "--csv-files=dir/" writes dir/NAME.models.csv, not dir/.models.csv.
static char *csv_prefix_of(const char *given, const char *stem) {
  if (given == nullptr) return strxdup(stem);
  const size_t len = strlen(given);
  if (len == 0 || given[len - 1] != '/') return strxdup(given);
  const char *slash = strrchr(stem, '/');
  return add_extent(given, slash != nullptr ? slash + 1 : stem);
}

void prepare_result_files() {
  PlaceGuard place("Prepare_Result_Files");
  char *stem = log_stem();
  result_files.json = name_or_default("json", result_files.json, stem, ".json");
  result_files.svg = name_or_default("svg-file", result_files.svg, stem, ".svg");
  if (find_long_option(xopts, "csv-files")->given) {
    const char *prefix = csv_prefix_of(result_files.csv_prefix, stem);
    result_files.csv_prefix = prefix;
    csv_models = add_extent(prefix, ".models.csv");
    csv_factors = add_extent(prefix, ".factors.csv");
    if (followup.runs > 0) csv_follow_up = add_extent(prefix, ".followup.csv");
    if (prior_grids_given()) csv_prior_grid = add_extent(prefix, ".grid.csv");
  }
  free(stem);

  std::vector<Named> files;
  if (result_files.json != nullptr) files.push_back({result_files.json, "--json"});
  if (csv_models != nullptr) files.push_back({csv_models, "--csv-files"});
  if (csv_factors != nullptr) files.push_back({csv_factors, "--csv-files"});
  if (csv_follow_up != nullptr) files.push_back({csv_follow_up, "--csv-files"});
  if (csv_prior_grid != nullptr) files.push_back({csv_prior_grid, "--csv-files"});
  if (result_files.svg != nullptr) files.push_back({result_files.svg, "--svg-file"});

  // The files the run reads or keeps: the log's backup is the previous log,
  // moved aside when the new one is opened.
  char *bak = add_extent(outfile, ".bak");
  struct Kept {
    const char *name;
    const char *what;
  };
  std::vector<Kept> kept = {{infile, "the input file"}, {outfile, "the log file"},
                            {bak, "the backup of the log file"}};
  if (followup.candidates != nullptr) kept.push_back({followup.candidates, "the candidates file"});
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
  free(bak);
}

void write_result_files() {
  PlaceGuard place("Write_Result_Files");
  // A block the system refuses to the writers (standard strings, the JSON
  // library's objects) ends the run in the program's new_handler, with the
  // allocation report and status 1; the file under way is removed at exit.
  if (result_files.json != nullptr) write_json(result_files.json);
  if (csv_models != nullptr) {
    write_csv_models(csv_models);
    write_csv_factors(csv_factors);
    if (csv_prior_grid != nullptr) write_csv_prior_grid(csv_prior_grid);
    if (csv_follow_up != nullptr) write_csv_follow_up(csv_follow_up);
  }
  if (result_files.svg != nullptr) write_svg(result_files.svg);
}

std::string valid_utf8(const char *text) {
  // The library's serializer replaces invalid bytes by U+FFFD; reading its
  // output back gives the text itself.
  const std::string quoted = nlohmann::json(std::string(text != nullptr ? text : ""))
                                 .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return nlohmann::json::parse(quoted).get<std::string>();
}

const char *column_label(int c) {
  if (c < 0 || c >= nlab || label == nullptr || label[c] == nullptr || label[c][0] == '\0')
    return nullptr;
  return label[c];
}

std::string factor_name(int c) {
  const char *text = column_label(c);
  if (text != nullptr) return valid_utf8(text);
  return std::string(1, factorstr[c]);
}

bool append_number(std::string &out, double v) {
  if (!std::isfinite(v)) return false;
  char buf[32];
  const auto result = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, result.ptr);
  return true;
}

const FactorWeightTables &factor_weight_tables() {
  static FactorWeightTables tables;
  static bool done = false;
  if (done) return tables;
  std::vector<double> logs;
  for (int w = 0; w < kWeightings; w++) {
    tables.sums[w].assign(static_cast<size_t>(nv), 0.0);
    tables.shares[w].assign(static_cast<size_t>(nv), 0.0);
    const double *logwt = set_weighting(static_cast<Weighting>(w), logs);
    tables.total[w] = factor_weights(logwt, tables.sums[w].data(), tables.shares[w].data());
  }
  tables.none_active = no_factor_active();
  done = true;
  return tables;
}

const char *weighting_key(int w) {
  static const char *const keys[kWeightings] = {"fstat", "likelihood", "inv_rmse2", "inv_rmsec2",
                                                "postprob"};
  return w >= 0 && w < kWeightings ? keys[w] : "?";
}

}  // namespace bayescreen
