#include "export/jsonexport.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "export/results.h"
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

// A text as a JSON string, escaped by the library.
std::string json_string(const std::string &text) { return Json(text).dump(-1, ' ', false, kReplace); }

// A number, or null when it is not a finite number (not available).
Json number_or_null(double v) { return std::isfinite(v) ? Json(v) : Json(nullptr); }

// A section's value, pretty-printed and indented to stand under its key.
// A newline inside the dump always starts a new line of the layout: a line
// break within a string is escaped as \n.
void put_value(ResultSink &out, const Json &value) {
  const std::string text = value.dump(2, ' ', false, kReplace);
  std::string indented;
  indented.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    indented += c;
    if (c == '\n') indented += "  ";
  }
  out.put(indented);
}

// The design column of a factor as the result files name it.
Json column_object(const Design &design, int c) {
  return Json{{"column", c + 1},
              {"letter", factor_code(c)},
              {"label", factor_name(design, c)}};
}

// A file's name, or null when it is not written.
Json file_or_null(const std::string &name) { return name.empty() ? Json() : Json(valid_utf8(name)); }

// ---- Sections ---------------------------------------------------------------------

Json program_section(const RunDescription &run) {
  return Json{{"name", run.program_name}, {"version", run.program_version}};
}

Json files_section(const RunDescription &run) {
  Json files{{"input", valid_utf8(run.input)},
              {"log", valid_utf8(run.log)},
              {"json", file_or_null(run.json)},
              {"csv_models", file_or_null(run.csv_models)},
              {"csv_factors", file_or_null(run.csv_factors)},
              {"csv_prior_grid", file_or_null(run.csv_prior_grid)},
              {"csv_follow_up", file_or_null(run.csv_follow_up)},
              {"csv_effects", file_or_null(run.csv_effects)},
              {"csv_coding", file_or_null(run.csv_coding)},
              {"svg", file_or_null(run.svg)},
              {"html", file_or_null(run.html)}};
  // The effects space's own table, named only when written.
  if (!run.csv_effects_space.empty()) files["csv_effects_space"] = valid_utf8(run.csv_effects_space);
  return files;
}

const char *column_role(const ExportInput &in, int c) {
  if (c < in.settings.model_space.blocks) return "block";
  return c < in.design.analysed ? "factor" : "not analysed";
}

Json design_section(const ExportInput &in) {
  const Design &design = in.design;
  Json columns = Json::array();
  for (int c = 0; c < design.columns; c++) {
    const char *text = column_label(design, c);
    columns.push_back({{"column", c + 1},
                       {"letter", factor_code(c)},
                       {"label", text != nullptr ? Json(valid_utf8(text)) : Json()},
                       {"role", column_role(in, c)}});
  }
  return Json{{"heading", valid_utf8(design.heading)},
              {"runs", design.runs},
              {"columns", design.columns},
              {"factors_analysed", design.analysed},
              {"blocks", in.settings.model_space.blocks},
              {"factors_screened", screened_factors(design, in.settings.model_space)},
              {"labels", design.labels.size()},
              {"design_columns", columns}};
}

// An option's value, typed as it was given.
Json option_value(const OptionValue &value) {
  if (const bool *flag = std::get_if<bool>(&value)) return *flag;
  if (const int64_t *integer = std::get_if<int64_t>(&value)) return *integer;
  if (const double *number = std::get_if<double>(&value)) return number_or_null(*number);
  if (const std::string *text = std::get_if<std::string>(&value)) return valid_utf8(*text);
  return nullptr;
}

Json settings_section(const ExportInput &in) {
  Json letters = Json::object();
  for (const OptionSetting &option : in.run.letter_options) letters[option.name] = option_value(option.value);
  Json given = Json::object();
  for (const OptionSetting &option : in.run.extension_options) given[option.name] = option_value(option.value);
  Json words = Json::array();
  for (const std::string &word : in.run.extension_words) words.push_back(valid_utf8(word));
  const Settings &settings = in.settings;
  const ModelSpace &space = settings.model_space;
  return Json{
      {"pi", number_or_null(settings.pi)},
      {"gamma", number_or_null(settings.gamma)},
      {"alpha", number_or_null(settings.alpha)},
      {"options", letters},
      {"extension_options", given},
      {"extension_words", words},
      {"model_space",
       {{"null_model", space.with_null != 0},
        {"max_factors", space.max_factors},
        {"order", space.order},
        {"keep_aliased", space.keep_aliased != 0},
        {"blocks", space.blocks},
        {"gamma_interactions", number_or_null(space.gam_int > 0 ? space.gam_int : settings.gamma)},
        {"max_models", space.max_models}}}};
}

Json model_set_section(const ExportInput &in) {
  const ModelTable &models = in.results.models;
  std::vector<int> by_size(static_cast<size_t>(screened_factors(in.design, in.settings.model_space)) + 1, 0);
  for (const ModelEntry &m : models) by_size[static_cast<size_t>(m.nf)]++;
  while (by_size.size() > 1 && by_size.back() == 0) by_size.pop_back();
  return Json{{"count", models.size()}, {"invalid", models.invalid}, {"count_by_factors", by_size}};
}

Json factor_weights_section(const ExportInput &in) {
  const FactorWeightTables &tables = in.results.weights;
  Json names = Json::array(), totals = Json::object();
  for (int w = 0; w < kWeightings; w++) {
    names.push_back(weighting_key(w));
    totals[weighting_key(w)] = number_or_null(tables.by[w].total);
  }
  Json factors = Json::array();
  for (int c = in.settings.model_space.blocks; c < in.design.analysed; c++) {
    const size_t f = static_cast<size_t>(c);
    Json row = column_object(in.design, c);
    for (int w = 0; w < kWeightings; w++) {
      // A weighting the run did not compute (the effects space has only the
      // posterior probabilities) is null.
      const bool computed = !tables.by[w].sums.empty();
      row[weighting_key(w)] = {{"sum", computed ? number_or_null(tables.by[w].sums[f]) : Json()},
                               {"share", computed ? number_or_null(tables.by[w].shares[f]) : Json()}};
    }
    // A search's estimate carries its standard error, the visit frequency
    // and the renormalised estimate beside it.
    const EffectsResults *space = in.results.effects_space ? &*in.results.effects_space : nullptr;
    if (space != nullptr && space->search && c >= space->first_factor && c < space->first_factor + space->nfactors) {
      const size_t i = static_cast<size_t>(c - space->first_factor);
      Json &post = row[weighting_key(static_cast<int>(Weighting::PostProb))];
      post["se"] = number_or_null(space->search->factor_se[i]);
      post["frequency"] = number_or_null(space->search->factor_frequency[i]);
      post["frequency_se"] = number_or_null(space->search->factor_frequency_se[i]);
      post["renormalised"] = number_or_null(space->search->factor_renormalised[i]);
    }
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
Json follow_up_section(const ExportInput &in) {
  if (!in.results.follow_up) return nullptr;
  const FollowUpResult &r = *in.results.follow_up;
  const ModelTable &models = in.results.models;
  Json list = Json::array();
  for (const FollowUpModel &m : r.models)
    list.push_back({{"number", models[m.index].num},
                    {"name", models[m.index].name},
                    {"postprob", number_or_null(m.postprob)},
                    {"s2", number_or_null(m.s2)}});
  const CandidateRuns &c = r.candidates;
  Json shown = Json::array();
  for (int32_t col : c.shown) shown.push_back(column_object(in.design, col));
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
              {"models", list},
              {"candidates",
               {{"count", c.count},
                {"source", !c.source.empty() ? Json(valid_utf8(c.source)) : Json()},
                {"columns", shown}}},
              {"search", search},
              {"designs", designs},
              {"best_design", best}};
}

// The prior grids of --gamma-grid and --pi-grid: the values, and at every
// grid point (pi by pi, gamma by gamma within each) the probability of each
// factor being active, of none (with --null) and the support of the data;
// null without a grid.
Json prior_grid_section(const ExportInput &in) {
  if (!in.results.prior_grid) return nullptr;
  const PriorGridResults &g = *in.results.prior_grid;
  Json factors = Json::array();
  for (int f = 0; f < g.nfactors; f++) factors.push_back(column_object(in.design, g.first_factor + f));
  Json points = Json::array();
  const size_t ngam = g.gammas.size();
  for (int p = 0; p < g.points(); p++) {
    const size_t at = static_cast<size_t>(p);
    Json active = Json::object();
    for (int f = 0; f < g.nfactors; f++)
      active[factor_code(g.first_factor + f)] =
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

// The coding of a table's factors: per design column its name and the
// values coded -1, +1 and 0 (null without a centre); null for a design file.
Json coding_section(const ExportInput &in) {
  const Design &design = in.design;
  if (design.coding.empty()) return nullptr;
  Json factors = Json::array();
  for (size_t k = 0; k < design.coding.size(); k++) {
    const FactorCoding &c = design.coding[k];
    factors.push_back({{"column", k + 1},
                       {"code", factor_code(static_cast<int>(k))},
                       {"name", valid_utf8(c.name)},
                       {"low", valid_utf8(c.low)},
                       {"high", valid_utf8(c.high)},
                       {"centre", c.centre.empty() ? Json() : Json(valid_utf8(c.centre))}});
  }
  return Json{{"response", valid_utf8(design.response_name)}, {"factors", factors}};
}

// The effect estimates (effects.h): one object per effect column.
Json effects_section(const ExportInput &in) {
  if (!in.results.effects) return nullptr;
  const EffectResults &r = *in.results.effects;
  Json list = Json::array();
  for (const EffectEstimate &e : r.effects) {
    Json columns = Json::array();
    for (uint64_t bits = e.mask; bits != 0; bits &= bits - 1) columns.push_back(__builtin_ctzll(bits) + 1);
    list.push_back({{"code", effect_code(e.mask)},
                    {"name", valid_utf8(effect_label(in.design, e.mask))},
                    {"columns", columns},
                    {"order", e.order()},
                    {"mean", number_or_null(e.mean)},
                    {"sd", number_or_null(e.sd)},
                    {"prob_positive", number_or_null(e.prob_positive)},
                    {"prob_in_model", number_or_null(e.prob_in_model)},
                    {"least_squares", number_or_null(e.least_squares)}});
  }
  return Json{{"models_averaged", r.models_used},
              {"posterior_mass", number_or_null(r.mass_used)},
              {"least_squares_effects", r.ls_columns},
              {"least_squares_residual_df", r.ls_residual_df},
              {"effects", list}};
}

// Lenth's figures of the least-squares effects, or why there are none.
Json lenth_section(const ExportInput &in) {
  if (!in.results.effects) return nullptr;
  const EffectResults &r = *in.results.effects;
  if (!r.lenth) return Json{{"applies", false}, {"reason", r.lenth_note}};
  const LenthResult &l = *r.lenth;
  return Json{{"applies", true},
              {"contrasts", l.contrasts},
              {"s0", number_or_null(l.s0)},
              {"pse", number_or_null(l.pse)},
              {"df", number_or_null(l.df)},
              {"t_me", number_or_null(l.t_me)},
              {"t_sme", number_or_null(l.t_sme)},
              {"me", number_or_null(l.me)},
              {"sme", number_or_null(l.sme)}};
}

// The effects space: its prior, the effects with their probabilities, the
// best models and the alias groups (written only in that space).
Json effects_space_section(const ExportInput &in) {
  const EffectsResults &r = *in.results.effects_space;
  const EffectsPrior &prior = in.settings.effects;
  const char *heredity = prior.heredity == Heredity::Strong ? "strong" : prior.heredity == Heredity::Weak ? "weak" : "none";
  Json pi = prior.beta_pi() ? Json{{"beta_a", prior.beta_a}, {"beta_b", prior.beta_b}}
                            : Json{{"fixed", number_or_null(in.settings.pi)}};
  Json effects = Json::array();
  for (size_t e = 0; e < r.effects.size(); e++) {
    const CandidateEffect &effect = r.effects[e];
    Json columns = Json::array();
    for (uint64_t bits = effect.mask; bits != 0; bits &= bits - 1) columns.push_back(__builtin_ctzll(bits) + 1);
    effects.push_back({{"name", effect.name},
                       {"label", valid_utf8(effect_label(in.design, effect))},
                       {"order", effect.order},
                       {"columns", columns},
                       {"probability", number_or_null(r.effect_probability[e])}});
    if (r.search) {
      effects.back()["se"] = number_or_null(r.search->effect_se[e]);
      effects.back()["frequency"] = number_or_null(r.search->effect_frequency[e]);
      effects.back()["frequency_se"] = number_or_null(r.search->effect_frequency_se[e]);
      effects.back()["renormalised"] = number_or_null(r.search->effect_renormalised[e]);
    }
  }
  Json top = Json::array();
  for (const EffectModel &m : r.top) {
    Json names = Json::array();
    for (int32_t e : m.effects) names.push_back(r.effects[static_cast<size_t>(e)].name);
    top.push_back({{"name", effect_model_name(r, m)}, {"effects", names}, {"probability", number_or_null(m.probability)}});
    if (r.search) {
      top.back()["se"] = number_or_null(m.se);
      top.back()["renormalised"] = number_or_null(m.renormalised);
    }
  }
  Json aliases = Json::array();
  for (const std::vector<int32_t> &group : r.aliases) {
    Json names = Json::array();
    for (int32_t e : group) names.push_back(r.effects[static_cast<size_t>(e)].name);
    aliases.push_back(names);
  }
  Json search = nullptr;
  if (r.search) {
    const SearchSummary &s = *r.search;
    search = Json{{"method", "mcmc"},
                  {"space", s.factors_space ? "factors" : "effects"},
                  {"automatic", s.automatic},
                  {"chains", s.chains},
                  {"burn_in", s.burn_in},
                  {"iterations", s.iterations},
                  {"proposals", s.proposals},
                  {"evaluations", s.evaluations},
                  {"distinct_models", s.distinct},
                  {"seconds", s.seconds},
                  {"target_se", number_or_null(s.target_se)},
                  {"reached_target", s.reached_target},
                  {"largest_se", number_or_null(s.largest_se)},
                  {"chain_difference", number_or_null(s.chain_difference)},
                  {"no_effect_active_se", number_or_null(s.none_se)},
                  {"no_effect_active_frequency", number_or_null(s.none_frequency)},
                  {"no_effect_active_frequency_se", number_or_null(s.none_frequency_se)},
                  {"no_effect_active_renormalised", number_or_null(s.none_renormalised)},
                  {"models_in_space", r.candidates}};
  }
  return Json{{"order", in.settings.model_space.order},
              {"search", search},
              {"prior",
               {{"pi", pi},
                {"heredity", heredity},
                {"p11", prior.p11},
                {"p10", prior.heredity == Heredity::Weak ? prior.p10 : prior.heredity == Heredity::None ? prior.p11 : 0.0},
                {"p00", prior.heredity == Heredity::Weak ? prior.p00 : prior.heredity == Heredity::None ? prior.p11 : 0.0},
                {"gammas", r.gammas}}},
              {"models_enumerated", r.visited},
              {"models_weighed", r.weighed},
              {"effects", effects},
              {"no_effect_active", number_or_null(r.none_active)},
              {"top_models", top},
              {"alias_groups", aliases}};
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
  std::vector<std::string> plain;  // the names unescaped
};

// A model's name as a JSON string: its factor codes in column order
// (effect_code: the letters side by side, joined by '.' past Z), or, for
// the null model, its name escaped.
void append_name(const ModelEntry &m, std::string &out) {
  if (m.fset == 0) {
    out += json_string(m.name);
    return;
  }
  out += json_string(effect_code(m.fset));
}

// A model's name from its factors' names: "Temp*Time".
std::string model_label(const ColumnTexts &texts, uint64_t set) {
  std::string label;
  for (uint64_t bits = set; bits != 0; bits &= bits - 1) {
    if (!label.empty()) label += '*';
    label += texts.plain[static_cast<size_t>(__builtin_ctzll(bits))];
  }
  return label;
}

void model_line(const ModelSpace &space, const ModelEntry &m, const ColumnTexts &texts, std::string &out) {
  ObjectLine line(out);
  const bool fitted = !m.invalid;                 // the classical criteria exist
  const bool weighted = has_posterior(space, m);  // the Box-Meyer weight exists
  line.integer("number", m.num);
  line.key("name");
  append_name(m, out);
  line.integer("n_factors", m.nf);
  line.columns("factors", m.fset, [&](int c) { out += texts.letter[static_cast<size_t>(c)]; });
  line.columns("labels", m.fset, [&](int c) { out += texts.name[static_cast<size_t>(c)]; });
  line.raw("label", m.fset == 0 ? json_string(m.name) : json_string(model_label(texts, m.fset)));
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

void put_models(const ExportInput &in, ResultSink &out) {
  const Design &design = in.design;
  ColumnTexts texts;
  for (int c = 0; c < design.columns; c++) {
    texts.letter.push_back(json_string(factor_code(c)));
    texts.name.push_back(json_string(factor_name(design, c)));
    texts.plain.push_back(factor_name(design, c));
    texts.number.push_back(std::to_string(c + 1));
  }
  const ModelTable &models = in.results.models;
  const int nmod = models.size();
  std::string piece;
  piece.reserve(kPieceSize + 4096);
  piece += "[\n";
  for (int i = 0; i < nmod; i++) {
    piece += "    ";
    model_line(in.settings.model_space, models[i], texts, piece);
    piece += i + 1 < nmod ? ",\n" : "\n";
    if (piece.size() >= kPieceSize) {
      out.put(piece);
      piece.clear();
    }
  }
  piece += "  ]";
  out.put(piece);
}

// ---- The document -----------------------------------------------------------------

struct Section {
  const char *key;
  void (*write)(const ExportInput &in, ResultSink &out);  // writes the section's value
  bool (*present)(const ExportInput &in) = nullptr;       // null: always written
};

// The sections of the document, in order. The results of later analyses
// add their sections here, after the factor weights.
const Section kSections[] = {
    {"schema", [](const ExportInput &, ResultSink &out) { put_value(out, "bayescreen-results"); }},
    {"schema_version", [](const ExportInput &, ResultSink &out) { put_value(out, kJsonSchemaVersion); }},
    {"program", [](const ExportInput &in, ResultSink &out) { put_value(out, program_section(in.run)); }},
    {"files", [](const ExportInput &in, ResultSink &out) { put_value(out, files_section(in.run)); }},
    {"design", [](const ExportInput &in, ResultSink &out) { put_value(out, design_section(in)); }},
    {"settings", [](const ExportInput &in, ResultSink &out) { put_value(out, settings_section(in)); }},
    {"model_set", [](const ExportInput &in, ResultSink &out) { put_value(out, model_set_section(in)); }},
    {"models", put_models},
    {"factor_weights", [](const ExportInput &in, ResultSink &out) { put_value(out, factor_weights_section(in)); }},
    {"prior_grid", [](const ExportInput &in, ResultSink &out) { put_value(out, prior_grid_section(in)); }},
    {"follow_up", [](const ExportInput &in, ResultSink &out) { put_value(out, follow_up_section(in)); }},
    {"coding", [](const ExportInput &in, ResultSink &out) { put_value(out, coding_section(in)); }},
    {"effects", [](const ExportInput &in, ResultSink &out) { put_value(out, effects_section(in)); }},
    {"lenth", [](const ExportInput &in, ResultSink &out) { put_value(out, lenth_section(in)); }},
    {"effects_space", [](const ExportInput &in, ResultSink &out) { put_value(out, effects_space_section(in)); },
     [](const ExportInput &in) { return in.results.effects_space.has_value(); }},
};

}  // namespace

void write_json(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Json");
  out.put("{\n");
  bool first = true;
  for (const Section &section : kSections) {
    if (section.present != nullptr && !section.present(in)) continue;
    out.put(first ? "  " : ",\n  ");
    first = false;
    out.put(json_string(section.key) + ": ");
    section.write(in, out);
  }
  out.put("\n}\n");
}

}  // namespace bayescreen
