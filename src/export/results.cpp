#include "export/results.h"

#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <nlohmann/json.hpp>

#include "cli/driver.h"
#include "engine/models.h"
#include "engine/priorgrid.h"
#include "engine/readdat.h"
#include "engine/settings.h"
#include "export/csvexport.h"
#include "export/jsonexport.h"
#include "export/svgexport.h"
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

// Ends the run before anything is written: "RESULT FILE `name' (option)"
// and what is wrong with the name.
[[noreturn]] void refuse(const Named &file, const char *what, const char *other) {
  printf("\nRESULT FILE `%s' (%s) %s", file.name, file.option, what);
  if (*other != '\0') printf(" `%s'", other);
  printf(" !\nChoose another name; nothing has been changed.\n");
  exit(1);
}

}  // namespace

const char *csv_models_name() { return csv_models; }
const char *csv_factors_name() { return csv_factors; }
const char *csv_follow_up_name() { return csv_follow_up; }
const char *csv_prior_grid_name() { return csv_prior_grid; }

void prepare_result_files() {
  PlaceGuard place("Prepare_Result_Files");
  char *stem = log_stem();
  result_files.json = name_or_default("json", result_files.json, stem, ".json");
  result_files.svg = name_or_default("svg-file", result_files.svg, stem, ".svg");
  const char *prefix = name_or_default("csv-files", result_files.csv_prefix, stem, "");
  result_files.csv_prefix = prefix;
  if (prefix != nullptr) {
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
  for (size_t i = 0; i < files.size(); i++) {
    if (same_file(files[i].name, infile))
      refuse(files[i], "WOULD REPLACE the input file", infile);
    if (same_file(files[i].name, outfile))
      refuse(files[i], "WOULD REPLACE the log file", outfile);
    for (size_t j = 0; j < i; j++)
      if (same_file(files[i].name, files[j].name))
        refuse(files[i], "WOULD REPLACE the result file", files[j].name);
    struct stat st;
    if (lstat(files[i].name, &st) == 0 && S_ISDIR(st.st_mode))
      refuse(files[i], "IS A DIRECTORY", "");
  }
}

void write_result_files() {
  PlaceGuard place("Write_Result_Files");
  // The writers build their text in standard strings and the JSON library's
  // objects: a block the system refuses there ends the run with the
  // CANNOT ALLOCATE report and status 1, as the counting allocators do,
  // and the file under way is removed at exit.
  try {
    if (result_files.json != nullptr) write_json(result_files.json);
    if (csv_models != nullptr) {
      write_csv_models(csv_models);
      write_csv_factors(csv_factors);
      if (csv_prior_grid != nullptr) write_csv_prior_grid(csv_prior_grid);
      if (csv_follow_up != nullptr) write_csv_follow_up(csv_follow_up);
    }
    if (result_files.svg != nullptr) write_svg(result_files.svg);
  } catch (const std::bad_alloc &) {
    fprintf(stderr, "\nCANNOT ALLOCATE the memory of the result files from the system.\n"
                    "Total successfully allocated so far:  %lu bytes.\n",
            static_cast<unsigned long>(totalloc));
    show_program_places();
    exit(1);
  }
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
