#include "export/csvexport.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "export/results.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

constexpr double kLn10 = 2.302585092994045684;
constexpr size_t kPieceSize = 1 << 16;
constexpr const char *kRecordEnd = "\r\n";

// One record, field by field.
class Record {
 public:
  explicit Record(std::string &out) : out_(out) {}
  void text(const std::string &value) {
    separate();
    out_ += csv_field(value);
  }
  void number(double v) {
    separate();
    append_number(out_, v);  // empty when not available
  }
  void integer(long long v) {
    separate();
    out_ += std::to_string(v);
  }
  void empty() { separate(); }
  void end() { out_ += kRecordEnd; }

 private:
  void separate() {
    if (!first_) out_ += ',';
    first_ = false;
  }
  std::string &out_;
  bool first_ = true;
};

// The texts that each design column in set gives, separated by blanks
// (labels from a design file hold no blanks; the last column, label,
// names a model unambiguously as Temp*Time).
template <typename Piece>
std::string joined(uint64_t set, Piece piece) {
  std::string text;
  for (uint64_t bits = set; bits != 0; bits &= bits - 1) {
    if (!text.empty()) text += ' ';
    text += piece(__builtin_ctzll(bits));
  }
  return text;
}

}  // namespace

std::string csv_field(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

namespace {

// The best models of the effects space.
void write_effect_models(const ExportInput &in, ResultSink &out) {
  const EffectsResults &r = *in.results.effects_space;
  std::string piece = r.search ? "rank,effects,labels,n_effects,postprob,se,renormalised"
                               : "rank,effects,labels,n_effects,postprob";
  piece += kRecordEnd;
  for (size_t i = 0; i < r.top.size(); i++) {
    const EffectModel &m = r.top[i];
    std::string labels;
    for (int32_t e : m.effects) {
      if (!labels.empty()) labels += ' ';
      labels += effect_label(in.design, r.effects[static_cast<size_t>(e)]);
    }
    Record record(piece);
    record.integer(static_cast<long long>(i + 1));
    record.text(effect_model_name(r, m));
    record.text(labels);
    record.integer(static_cast<long long>(m.effects.size()));
    record.number(m.probability);
    if (r.search) {
      record.number(m.se);
      record.number(m.renormalised);
    }
    record.end();
  }
  out.put(piece);
}

}  // namespace

void write_csv_effects_space(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Csv_Effects");
  const EffectsResults &r = *in.results.effects_space;
  std::vector<int> group(r.effects.size(), 0);
  for (size_t g = 0; g < r.aliases.size(); g++)
    for (int32_t e : r.aliases[g]) group[static_cast<size_t>(e)] = static_cast<int>(g + 1);
  std::string piece = r.search ? "name,label,order,postprob,se,frequency,frequency_se,renormalised,alias_group"
                               : "name,label,order,postprob,alias_group";
  piece += kRecordEnd;
  for (size_t e = 0; e < r.effects.size(); e++) {
    Record record(piece);
    record.text(r.effects[e].name);
    record.text(effect_label(in.design, r.effects[e]));
    record.integer(r.effects[e].order);
    record.number(r.effect_probability[e]);
    if (r.search) {
      record.number(r.search->effect_se[e]);
      record.number(r.search->effect_frequency[e]);
      record.number(r.search->effect_frequency_se[e]);
      record.number(r.search->effect_renormalised[e]);
    }
    if (group[e] != 0)
      record.integer(group[e]);
    else
      record.empty();
    record.end();
  }
  out.put(piece);
}

void write_csv_models(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Csv_Models");
  if (in.results.effects_space) {
    write_effect_models(in, out);
    return;
  }
  std::vector<std::string> names;
  for (int c = 0; c < in.design.columns; c++) names.push_back(factor_name(in.design, c));
  auto letter = [&in](int c) { return factor_code(c); };
  auto name = [&](int c) { return names[static_cast<size_t>(c)]; };
  auto column = [](int c) { return std::to_string(c + 1); };

  std::string piece =
      "number,name,n_factors,factors,labels,columns,model_columns,valid,adjrsq,rmse,fstat,"
      "loglik,likelihood,rmsec,log10_bval,postprob,alias_group,active,label";
  piece += kRecordEnd;
  for (const ModelEntry &m : in.results.models) {
    const bool fitted = !m.invalid, weighted = has_posterior(in.settings.model_space, m);
    Record record(piece);
    record.integer(m.num);
    record.text(m.fset == 0 ? std::string(m.name) : effect_code(m.fset));
    record.integer(m.nf);
    record.text(joined(m.fset, letter));
    record.text(joined(m.fset, name));
    record.text(joined(m.fset, column));
    record.integer(m.neff + 1);
    record.text(fitted ? "true" : "false");
    record.number(fitted ? m.adjrsq : NAN);
    record.number(fitted ? m.rmse : NAN);
    record.number(fitted ? m.fstat : NAN);
    record.number(fitted ? m.loglik : NAN);
    record.number(fitted ? m.likelihood : NAN);
    record.number(weighted ? m.rmsec : NAN);
    record.number(weighted ? m.logb / kLn10 : NAN);
    record.number(m.postprob);
    if (m.alias != 0)
      record.integer(m.alias);
    else
      record.empty();
    record.text(joined(m.ivals, letter));
    record.text(m.fset == 0 ? std::string(m.name) : valid_utf8(effect_label(in.design, m.fset)));
    record.end();
    if (piece.size() >= kPieceSize) {
      out.put(piece);
      piece.clear();
    }
  }
  out.put(piece);
}

void write_csv_factors(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Csv_Factors");
  const FactorWeightTables &tables = in.results.weights;
  std::string piece = "letter,column,label";
  for (int w = 0; w < kWeightings; w++)
    piece += std::string(",") + weighting_key(w) + "_sum," + weighting_key(w) + "_share";
  // A search adds the standard error, the visit frequency (with its error) and the
  // renormalised estimate of the
  // posterior probability.
  const SearchSummary *search =
      in.results.effects_space && in.results.effects_space->search ? &*in.results.effects_space->search : nullptr;
  const int first = in.results.effects_space ? in.results.effects_space->first_factor : 0;
  if (search != nullptr) piece += ",postprob_se,postprob_frequency,postprob_frequency_se,postprob_renormalised";
  piece += kRecordEnd;
  for (int c = in.settings.model_space.blocks; c < in.design.analysed; c++) {
    Record record(piece);
    record.text(factor_code(c));
    record.integer(c + 1);
    record.text(factor_name(in.design, c));
    for (int w = 0; w < kWeightings; w++) {
      // A weighting the run did not compute (the effects space has only
      // the posterior probabilities) leaves its fields empty.
      const bool computed = !tables.by[w].sums.empty();
      record.number(computed ? tables.by[w].sums[static_cast<size_t>(c)] : NAN);
      record.number(computed ? tables.by[w].shares[static_cast<size_t>(c)] : NAN);
    }
    if (search != nullptr) {
      record.number(search->factor_se[static_cast<size_t>(c - first)]);
      record.number(search->factor_frequency[static_cast<size_t>(c - first)]);
      record.number(search->factor_frequency_se[static_cast<size_t>(c - first)]);
      record.number(search->factor_renormalised[static_cast<size_t>(c - first)]);
    }
    record.end();
  }
  if (!std::isnan(tables.none_active)) {
    // The null model: only its posterior probability means anything.
    Record record(piece);
    record.text("(null)");
    record.empty();
    record.text("No factor active");
    for (int w = 0; w < kWeightings; w++) {
      const double p = w == static_cast<int>(Weighting::PostProb) ? tables.none_active : NAN;
      record.number(p);
      record.number(p);
    }
    if (search != nullptr) {
      record.number(search->none_se);
      record.number(search->none_frequency);
      record.number(search->none_frequency_se);
      record.number(search->none_renormalised);
    }
    record.end();
  }
  out.put(piece);
}

void write_csv_follow_up(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Csv_Follow_Up");
  const FollowUpResult &r = *in.results.follow_up;
  const CandidateRuns &c = r.candidates;
  std::string piece = "run,candidate";
  for (int32_t col : c.shown) piece += "," + csv_field(factor_code(col));
  piece += kRecordEnd;
  if (!r.best.empty()) {
    int number = 0;
    for (int32_t k : r.best[0].runs) {
      Record record(piece);
      record.integer(++number);
      record.integer(k + 1);
      for (int32_t col : c.shown) record.integer(c.level(k, col));
      record.end();
    }
  }
  out.put(piece);
}

void write_csv_prior_grid(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Csv_Prior_Grid");
  const PriorGridResults &g = *in.results.prior_grid;
  std::string piece = "gamma,pi";
  for (int f = 0; f < g.nfactors; f++)
    piece += "," + csv_field(factor_code(g.first_factor + f));
  if (g.with_null) piece += ",no_factor_active";
  piece += ",support,log_support";
  piece += kRecordEnd;
  const size_t ngam = g.gammas.size();
  for (int p = 0; p < g.points(); p++) {
    const size_t at = static_cast<size_t>(p);
    Record record(piece);
    record.number(g.gammas[at % ngam]);
    record.number(g.pis[at / ngam]);
    for (int f = 0; f < g.nfactors; f++)
      record.number(g.active[at * static_cast<size_t>(g.nfactors) + static_cast<size_t>(f)]);
    if (g.with_null) record.number(g.none[at]);
    record.number(g.support[at]);
    record.number(g.log_support[at]);
    record.end();
  }
  out.put(piece);
}

}  // namespace bayescreen

namespace bayescreen {

void write_csv_effects(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Csv_Effects");
  std::string text = "code,name,order,mean,sd,prob_positive,prob_in_model,least_squares\r\n";
  if (in.results.effects) {
    const EffectResults &r = *in.results.effects;
    for (const EffectEstimate &e : r.effects) {
      Record row(text);
      row.text(effect_code(e.mask));
      row.text(valid_utf8(effect_label(in.design, e.mask)));
      row.integer(e.order());
      row.number(e.mean);
      row.number(e.sd);
      row.number(e.prob_positive);
      row.number(e.prob_in_model);
      row.number(e.least_squares);
      row.end();
    }
    if (r.lenth)
      for (auto [name, value] : {std::pair{"Lenth PSE", r.lenth->pse}, std::pair{"Lenth ME", r.lenth->me},
                                 std::pair{"Lenth SME", r.lenth->sme}}) {
        Record row(text);
        row.empty();
        row.text(name);
        row.empty();
        row.number(value);
        for (int k = 0; k < 4; k++) row.empty();
        row.end();
      }
  }
  out.put(text);
}

void write_csv_coding(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Csv_Coding");
  std::string text = "code,name,low,high,centre\r\n";
  for (size_t k = 0; k < in.design.coding.size(); k++) {
    const FactorCoding &c = in.design.coding[k];
    Record row(text);
    row.text(factor_code(static_cast<int>(k)));
    row.text(valid_utf8(c.name));
    row.text(valid_utf8(c.low));
    row.text(valid_utf8(c.high));
    row.text(valid_utf8(c.centre));
    row.end();
  }
  out.put(text);
}

}  // namespace bayescreen
