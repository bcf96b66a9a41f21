#include "export/jsonexport.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/calcmodels.h"
#include "cli/driver.h"
#include "engine/followup.h"
#include "engine/models.h"
#include "engine/priorgrid.h"
#include "engine/readdat.h"
#include "engine/settings.h"
#include "export/results.h"
#include "cli/atomicfile.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// Objects keep their keys in the order written, so the document reads in
// the order of the report.
using Json = nlohmann::ordered_json;

constexpr auto kReplace = nlohmann::json::error_handler_t::replace;
constexpr double kLn10 = 2.302585092994045684;
// Model lines are gathered into pieces of about this size before writing.
constexpr size_t kPieceSize = 1 << 16;

void put(const std::string &text) { atomic_write(text.data(), text.size()); }

// A text as a JSON string, escaped by the library.
std::string json_string(const std::string &text) { return Json(text).dump(-1, ' ', false, kReplace); }

// A number, or null when it is not a finite number (not available).
Json number_or_null(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

// A section's value, pretty-printed and indented to stand under its key.
// A newline inside the dump always starts a new line of the layout: a line
// break within a string is escaped as \n.
void put_value(const Json &value) {
  const std::string text = value.dump(2, ' ', false, kReplace);
  std::string indented;
  indented.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    indented += c;
    if (c == '\n') indented += "  ";
  }
  put(indented);
}

// The design column of a factor as the result files name it.
Json column_object(int c) {
  return Json{{"column", c + 1}, {"letter", std::string(1, factorstr[c])}, {"label", factor_name(c)}};
}

// ---- Sections ---------------------------------------------------------------------

Json program_section() {
  return Json{{"name", "bayescreen"}, {"version", std::string(kProgramVersion)}};
}

Json files_section() {
  return Json{{"input", valid_utf8(infile)},
              {"log", valid_utf8(outfile)},
              {"json", valid_utf8(result_files.json)},
              {"csv_models", csv_models_name() ? Json(valid_utf8(csv_models_name())) : Json()},
              {"csv_factors", csv_factors_name() ? Json(valid_utf8(csv_factors_name())) : Json()},
              {"csv_prior_grid", csv_prior_grid_name() ? Json(valid_utf8(csv_prior_grid_name())) : Json()},
              {"csv_follow_up", csv_follow_up_name() ? Json(valid_utf8(csv_follow_up_name())) : Json()},
              {"svg", result_files.svg ? Json(valid_utf8(result_files.svg)) : Json()}};
}

const char *column_role(int c) {
  if (c < modelspace.blocks) return "block";
  return c < nv ? "factor" : "not analysed";
}

Json design_section() {
  Json columns = Json::array();
  for (int c = 0; c < mm; c++) {
    const char *text = column_label(c);
    columns.push_back({{"column", c + 1},
                       {"letter", std::string(1, factorstr[c])},
                       {"label", text != nullptr ? Json(valid_utf8(text)) : Json()},
                       {"role", column_role(c)}});
  }
  return Json{{"heading", valid_utf8(design_heading)},
              {"runs", nn},
              {"columns", mm},
              {"factors_analysed", nv},
              {"blocks", modelspace.blocks},
              {"factors_screened", screened_factors()},
              {"labels", nlab},
              {"design_columns", columns}};
}

// The value of a single-letter option, typed by its kind.
Json letter_value(const FlagSpec &row) {
  switch (row.vartype) {
    case VAR_FLAG: return *static_cast<const int32_t *>(row.var) != 0;
    case VAR_INT: return *static_cast<const int32_t *>(row.var);
    case VAR_DOUBLE: return number_or_null(*static_cast<const double *>(row.var));
    default: return nullptr;
  }
}

// The value of an extension option as given, typed by its kind.
Json long_value(const LongOption &row) {
  switch (row.kind) {
    case LongKind::Flag: return true;
    case LongKind::Int: return *static_cast<const int32_t *>(row.target);
    case LongKind::Double: return number_or_null(*static_cast<const double *>(row.target));
    case LongKind::Text:
    case LongKind::OptionalText: {
      const char *text = *static_cast<const char *const *>(row.target);
      return text != nullptr ? Json(valid_utf8(text)) : Json();
    }
  }
  return nullptr;
}

Json settings_section() {
  Json letters = Json::object();
  for (const FlagSpec *row = ss; row->flag != 0; row++)
    if (row->var != nullptr) letters[std::string(1, row->flag)] = letter_value(*row);
  Json given = Json::object();
  Json words = Json::array();
  for (const LongOption *row = xopts; row->name != nullptr; row++)
    if (row->given && row->target != nullptr) {
      given[row->name] = long_value(*row);
      words.push_back(valid_utf8(row->word));
    }
  const ModelSpace &space = modelspace;
  return Json{
      {"pi", number_or_null(pi)},
      {"gamma", number_or_null(gam)},
      {"alpha", number_or_null(alpha)},
      {"options", letters},
      {"extension_options", given},
      {"extension_words", words},
      {"model_space",
       {{"null_model", space.with_null != 0},
        {"max_factors", space.max_factors},
        {"order", space.order},
        {"keep_aliased", space.keep_aliased != 0},
        {"blocks", space.blocks},
        {"gamma_interactions", number_or_null(space.gam_int > 0 ? space.gam_int : gam)},
        {"max_models", space.max_models}}}};
}

Json model_set_section() {
  std::vector<int> by_size(static_cast<size_t>(screened_factors()) + 1, 0);
  for (int i = 0; i < nmod; i++) by_size[static_cast<size_t>(model[i].nf)]++;
  while (by_size.size() > 1 && by_size.back() == 0) by_size.pop_back();
  return Json{{"count", nmod}, {"invalid", ninvalid}, {"count_by_factors", by_size}};
}

Json factor_weights_section() {
  const FactorWeightTables &tables = factor_weight_tables();
  Json names = Json::array(), totals = Json::object();
  for (int w = 0; w < kWeightings; w++) {
    names.push_back(weighting_key(w));
    totals[weighting_key(w)] = number_or_null(tables.total[w]);
  }
  Json factors = Json::array();
  for (int c = modelspace.blocks; c < nv; c++) {
    const size_t f = static_cast<size_t>(c);
    Json row = column_object(c);
    for (int w = 0; w < kWeightings; w++)
      row[weighting_key(w)] = {{"sum", number_or_null(tables.sums[w][f])},
                               {"share", number_or_null(tables.shares[w][f])}};
    factors.push_back(row);
  }
  return Json{{"weightings", names},
              {"totals", totals},
              {"factors", factors},
              {"no_factor_active", number_or_null(tables.none_active)}};
}

// The follow-up runs of --follow-up: the models compared, the candidates,
// the search, the best designs by their candidate numbers and the best
// design run by run; null without a follow-up.
Json follow_up_section() {
  const FollowUpResult &r = followup_result;
  if (r.runs == 0) return nullptr;
  Json models = Json::array();
  for (const FollowUpModel &m : r.models)
    models.push_back({{"number", model[m.index].num},
                      {"name", model[m.index].name},
                      {"postprob", number_or_null(m.postprob)},
                      {"s2", number_or_null(m.s2)}});
  const CandidateRuns &c = r.candidates;
  Json shown = Json::array();
  for (int32_t col : c.shown) shown.push_back(column_object(col));
  Json designs = Json::array();
  for (const FollowUpDesign &d : r.best) {
    Json runs = Json::array();
    for (int32_t k : d.runs) runs.push_back(k + 1);
    designs.push_back({{"md", number_or_null(d.md)}, {"candidates", runs}});
  }
  Json best = Json::array();
  if (!r.best.empty())
    for (int32_t k : r.best[0].runs) {
      Json levels = Json::array();
      for (int32_t col : c.shown) levels.push_back(c.level(k, col));
      best.push_back({{"candidate", k + 1}, {"levels", levels}});
    }
  Json search = {{"exhaustive", r.exhaustive},
                 {"designs", r.multisets <= kMaxExhaustiveDesigns ? Json(r.multisets) : Json()},
                 {"evaluated", r.evaluated},
                 {"without_md", r.undefined}};
  if (!r.exhaustive) {
    search["starts"] = r.starts;
    search["starts_run"] = r.starts_run;
    search["stopped_early"] = r.stopped_early;
    search["seed"] = r.seed;
    search["best_reached"] = r.best_reached;
  }
  return Json{{"runs", r.runs},
              {"models", models},
              {"candidates",
               {{"count", c.count},
                {"source", c.source != nullptr ? Json(valid_utf8(c.source)) : Json()},
                {"columns", shown}}},
              {"search", search},
              {"designs", designs},
              {"best_design", best}};
}

// The prior grids of --gamma-grid and --pi-grid: the values, and at every
// grid point (pi by pi, gamma by gamma within each) the probability of each
// factor being active, of none (with --null) and the support of the data;
// null without a grid.
Json prior_grid_section() {
  if (!prior_grids_given()) return nullptr;
  const PriorGridResults &g = prior_grid_results();
  Json factors = Json::array();
  for (int f = 0; f < g.nfactors; f++) factors.push_back(column_object(g.first_factor + f));
  Json points = Json::array();
  const size_t ngam = g.gammas.size();
  for (int p = 0; p < g.points(); p++) {
    const size_t at = static_cast<size_t>(p);
    Json active = Json::object();
    for (int f = 0; f < g.nfactors; f++)
      active[std::string(1, factorstr[g.first_factor + f])] =
          number_or_null(g.active[at * static_cast<size_t>(g.nfactors) + static_cast<size_t>(f)]);
    points.push_back({{"gamma", number_or_null(g.gammas[at % ngam])},
                      {"pi", number_or_null(g.pis[at / ngam])},
                      {"active", active},
                      {"no_factor_active", g.with_null ? number_or_null(g.none[at]) : Json()},
                      {"support", number_or_null(g.support[at])},
                      {"log_support", number_or_null(g.log_support[at])}});
  }
  Json best = nullptr;
  if (g.best >= 0) {
    const size_t at = static_cast<size_t>(g.best);
    best = {{"gamma", number_or_null(g.gammas[at % ngam])},
            {"pi", number_or_null(g.pis[at / ngam])},
            {"support", number_or_null(g.support[at])}};
  }
  return Json{{"gamma_grid", g.gamma_grid},
              {"pi_grid", g.pi_grid},
              {"gammas", g.gammas},
              {"pis", g.pis},
              {"factors", factors},
              {"points", points},
              {"best", best}};
}

// ---- The models, one line each ------------------------------------------------------

// One JSON object on one line, formatted directly: the keys are fixed
// names that need no escaping, every text value is a string the library
// has escaped, and numbers are written as the shortest text that reads back
// as the same double.
class ObjectLine {
 public:
  explicit ObjectLine(std::string &out) : out_(out) { out_ += '{'; }
  void key(const char *name) {
    if (!first_) out_ += ", ";
    first_ = false;
    out_ += '"';
    out_ += name;
    out_ += "\": ";
  }
  void number(const char *name, double v) {
    key(name);
    if (!append_number(out_, v)) out_ += "null";
  }
  void integer(const char *name, long long v) {
    key(name);
    out_ += std::to_string(v);
  }
  void boolean(const char *name, bool v) {
    key(name);
    out_ += v ? "true" : "false";
  }
  void raw(const char *name, const std::string &json) {
    key(name);
    out_ += json;
  }
  // An array of the pieces of JSON text that each design column in set
  // gives.
  template <typename Piece>
  void columns(const char *name, uint64_t set, Piece piece) {
    key(name);
    out_ += '[';
    for (uint64_t bits = set; bits != 0; bits &= bits - 1) {
      if (bits != set) out_ += ", ";
      piece(__builtin_ctzll(bits));
    }
    out_ += ']';
  }
  void end() { out_ += '}'; }

 private:
  std::string &out_;
  bool first_ = true;
};

// The escaped letters and names of the design columns, made once.
struct ColumnTexts {
  std::vector<std::string> letter, name, number;
};

// A model's name as a JSON string: its factor letters in column order (the
// escaped letters without their quotes, side by side), or, for the null
// model, its name escaped.
void append_name(const ModelEntry &m, const ColumnTexts &texts, std::string &out) {
  if (m.fset == 0) {
    out += json_string(m.name);
    return;
  }
  out += '"';
  for (uint64_t bits = m.fset; bits != 0; bits &= bits - 1) {
    const std::string &letter = texts.letter[static_cast<size_t>(__builtin_ctzll(bits))];
    out.append(letter, 1, letter.size() - 2);
  }
  out += '"';
}

void model_line(const ModelEntry &m, const ColumnTexts &texts, std::string &out) {
  ObjectLine line(out);
  const bool fitted = !m.invalid;       // the classical criteria exist
  const bool weighted = has_posterior(m);  // the Box-Meyer weight exists
  line.integer("number", m.num);
  line.key("name");
  append_name(m, texts, out);
  line.integer("n_factors", m.nf);
  line.columns("factors", m.fset, [&](int c) { out += texts.letter[static_cast<size_t>(c)]; });
  line.columns("labels", m.fset, [&](int c) { out += texts.name[static_cast<size_t>(c)]; });
  line.columns("columns", m.fset, [&](int c) { out += texts.number[static_cast<size_t>(c)]; });
  line.integer("model_columns", m.neff + 1);
  line.boolean("valid", fitted);
  line.number("adjrsq", fitted ? m.adjrsq : NAN);
  line.number("rmse", fitted ? m.rmse : NAN);
  line.number("fstat", fitted ? m.fstat : NAN);
  line.number("loglik", fitted ? m.loglik : NAN);
  line.number("likelihood", fitted ? m.likelihood : NAN);
  line.number("rmsec", weighted ? m.rmsec : NAN);
  line.number("log10_bval", weighted ? m.logb / kLn10 : NAN);
  line.number("postprob", m.postprob);
  if (m.alias != 0)
    line.integer("alias_group", m.alias);
  else
    line.raw("alias_group", "null");
  line.columns("active", m.ivals, [&](int c) { out += texts.letter[static_cast<size_t>(c)]; });
  line.end();
}

void put_models() {
  ColumnTexts texts;
  for (int c = 0; c < mm; c++) {
    texts.letter.push_back(json_string(std::string(1, factorstr[c])));
    texts.name.push_back(json_string(factor_name(c)));
    texts.number.push_back(std::to_string(c + 1));
  }
  std::string piece;
  piece.reserve(kPieceSize + 4096);
  piece += "[\n";
  for (int i = 0; i < nmod; i++) {
    piece += "    ";
    model_line(model[i], texts, piece);
    piece += i + 1 < nmod ? ",\n" : "\n";
    if (piece.size() >= kPieceSize) {
      put(piece);
      piece.clear();
    }
  }
  piece += "  ]";
  put(piece);
}

// ---- The document -----------------------------------------------------------------

struct Section {
  const char *key;
  void (*write)();  // writes the section's value
};

// The sections of the document, in order. The results of later analyses
// add their sections here, after the factor weights.
const Section kSections[] = {
    {"schema", [] { put_value("bayescreen-results"); }},
    {"schema_version", [] { put_value(kJsonSchemaVersion); }},
    {"program", [] { put_value(program_section()); }},
    {"files", [] { put_value(files_section()); }},
    {"design", [] { put_value(design_section()); }},
    {"settings", [] { put_value(settings_section()); }},
    {"model_set", [] { put_value(model_set_section()); }},
    {"models", put_models},
    {"factor_weights", [] { put_value(factor_weights_section()); }},
    {"prior_grid", [] { put_value(prior_grid_section()); }},
    {"follow_up", [] { put_value(follow_up_section()); }},
};

}  // namespace

void write_json(const char *path) {
  PlaceGuard place("Write_Json");
  begin_atomic_file(path);
  put("{\n");
  bool first = true;
  for (const Section &section : kSections) {
    put(first ? "  " : ",\n  ");
    first = false;
    put(json_string(section.key) + ": ");
    section.write();
  }
  put("\n}\n");
  commit_atomic_file();
}

}  // namespace bayescreen
