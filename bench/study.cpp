// The operating characteristics of the analyses, by simulation (make study).
//
// For each design (12- and 20-run Plackett-Burman and the 16-run
// 2^(15-11) with every column a factor, and the 12-run design with 7
// factors, as in the cast-fatigue experiment) and each truth (0 to 5 active main effects,
// or two main effects and their interaction), experiments
//   y = 50 + X beta + N(0, 1),  |beta_j| ~ U(1.5, 3) on the -1/+1 scale,
//   random signs, the active factors drawn at random,
// are analysed in process by four analyses: the default model set, main
// effects only (--null --max-factors=K --order=1), full factorials of up
// to 3 factors with the null model (--null) and --recommended. A factor is
// found when its posterior probability exceeds 0.5. Per cell and analysis
// the study prints the share of active factors found, the share of
// experiments with at least one false alarm (an inactive factor found),
// and the share where exactly the true set is found.
//
// Each experiment has its own seed (design, truth, experiment number), and
// the experiments are spread over the cores, so the table is the same on
// every run. The recommended analysis is enumerated exactly where its
// effects space holds at most kStudyModels models, and searched beyond
// (kStudyIterations kept iterations in each of 4 chains, the seed fixed:
// enough to place a probability on the right side of 0.5, with standard
// errors of about 0.01).
//
//   bayescreen_study [EXPERIMENTS [DESIGN]]   (default 200 a cell; every
//                                              design, or design DESIGN from 1)
//   bayescreen_study effects [EXPERIMENTS]    the effect estimates of the
//                                              default analysis and Lenth's
//                                              margins on the same experiments
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "support/parallel.h"

using namespace bayescreen;

namespace {

// Effects spaces above this many models are searched in the study.
constexpr uint64_t kStudyModels = 1000000;
constexpr int64_t kStudyIterations = 20000;

struct StudyDesign {
  std::string name;
  std::vector<std::vector<int>> rows;
};

// A cyclic Plackett-Burman design: the generator's n-1 cyclic shifts and a
// run of every factor low.
StudyDesign plackett_burman(const std::string &name, const std::vector<int> &generator) {
  const int m = static_cast<int>(generator.size());
  StudyDesign d{name, {}};
  for (int i = 0; i < m; i++) {
    std::vector<int> row;
    for (int j = 0; j < m; j++) row.push_back(generator[static_cast<size_t>((j - i + m) % m)]);
    d.rows.push_back(row);
  }
  d.rows.push_back(std::vector<int>(static_cast<size_t>(m), -1));
  return d;
}

// The 16-run 2^(15-11): the full factorial of A B C D and every one of
// their interactions as a column of its own.
StudyDesign saturated16() {
  StudyDesign d{"16-run 2^(15-11), 15 factors", {}};
  for (int r = 0; r < 16; r++) {
    std::vector<int> row;
    for (int set = 1; set < 16; set++) {
      int v = 1;
      for (int b = 0; b < 4; b++)
        if (set >> b & 1) v *= (r >> b & 1) ? 1 : -1;
      row.push_back(v);
    }
    // Main effects first, then the interactions by order.
    std::vector<int> sorted;
    for (int order = 1; order <= 4; order++)
      for (int set = 1; set < 16; set++)
        if (__builtin_popcount(static_cast<unsigned>(set)) == order) sorted.push_back(row[static_cast<size_t>(set - 1)]);
    d.rows.push_back(sorted);
  }
  return d;
}

bool orthogonal(const StudyDesign &d) {
  const size_t k = d.rows[0].size();
  for (size_t i = 0; i < k; i++)
    for (size_t j = i; j < k; j++) {
      int sum = 0;
      for (const auto &row : d.rows) sum += row[i] * row[j];
      if (sum != (i == j ? static_cast<int>(d.rows.size()) : 0)) return false;
    }
  return true;
}

Design make_design(const StudyDesign &s, const std::vector<double> &y) {
  Design d;
  d.path = "study";
  d.runs = static_cast<int32_t>(s.rows.size());
  d.columns = static_cast<int32_t>(s.rows[0].size());
  d.analysed = d.columns;
  for (size_t r = 0; r < s.rows.size(); r++) {
    d.run_numbers.push_back(static_cast<int32_t>(r + 1));
    for (int v : s.rows[r]) d.x.push_back(v);
  }
  d.y = y;
  name_columns(d);
  return d;
}

// A truth: active main effects, or two mains and their interaction.
struct Truth {
  std::string name;
  int mains = 0;
  bool interaction = false;
};

// One experiment: the truth's active factors and coefficients drawn with the
// experiment's own seed (design di, truth ti, experiment e), and the
// responses y = 50 + X beta (+ the interaction of the first two active
// factors) + N(0, 1).
struct Experiment {
  std::vector<bool> active;
  std::vector<double> beta;  // on the -1/+1 scale: the effect is 2 beta
  std::vector<double> y;
};

Experiment draw_experiment(const StudyDesign &sd, const Truth &truth, size_t di, size_t ti, int e) {
  const int k = static_cast<int>(sd.rows[0].size());
  std::mt19937_64 rng(1000003ULL * (di + 1) + 10007ULL * (ti + 1) + static_cast<uint64_t>(e));
  std::vector<int> order(static_cast<size_t>(k));
  for (int f = 0; f < k; f++) order[static_cast<size_t>(f)] = f;
  std::shuffle(order.begin(), order.end(), rng);
  std::uniform_real_distribution<double> size(1.5, 3.0);
  std::normal_distribution<double> noise(0.0, 1.0);
  auto coefficient = [&]() { return (rng() & 1 ? 1.0 : -1.0) * size(rng); };
  Experiment x;
  x.active.assign(static_cast<size_t>(k), false);
  x.beta.assign(static_cast<size_t>(k), 0.0);
  for (int j = 0; j < truth.mains; j++) {
    x.active[static_cast<size_t>(order[static_cast<size_t>(j)])] = true;
    x.beta[static_cast<size_t>(order[static_cast<size_t>(j)])] = coefficient();
  }
  const double beta_int = truth.interaction ? coefficient() : 0.0;
  for (const auto &row : sd.rows) {
    double v = 50 + noise(rng);
    for (int f = 0; f < k; f++) v += x.beta[static_cast<size_t>(f)] * row[static_cast<size_t>(f)];
    if (truth.interaction) v += beta_int * row[static_cast<size_t>(order[0])] * row[static_cast<size_t>(order[1])];
    x.y.push_back(v);
  }
  return x;
}

enum Analysis { kDefault, kMains, kFactorials, kRecommended, kAnalyses };
const char *const kAnalysisNames[kAnalyses] = {"default", "mains only", "factorials<=3", "recommended"};

Settings analysis_settings(Analysis a, int factors) {
  Settings s;
  switch (a) {
    case kDefault: break;
    case kMains:
      s.model_space.with_null = 1;
      s.model_space.max_factors = factors;
      s.model_space.order = 1;
      break;
    case kFactorials: s.model_space.with_null = 1; break;
    case kRecommended:
      s.model_space.with_null = 1;
      s.model_space.order = 2;
      s.effects.kind = SpaceKind::Effects;
      s.effects.heredity = Heredity::Strong;
      s.effects.beta_a = s.effects.beta_b = 1;
      s.effects.gamma_prior = GridSpec{0.5, 5, 10};
      s.effects.threads = 1;  // the experiments share the cores
      s.effects.top_models = 1;
      break;
    default: break;
  }
  return s;
}

// What one analysis of one experiment found.
struct Outcome {
  int active_found = 0;
  bool false_alarm = false;
  bool exact = false;
};

Outcome judge(const std::vector<double> &post, const std::vector<bool> &active) {
  Outcome o;
  bool exact = true;
  for (size_t f = 0; f < post.size(); f++) {
    const bool found = post[f] > 0.5;
    if (found && active[f]) o.active_found++;
    if (found && !active[f]) o.false_alarm = true;
    if (found != active[f]) exact = false;
  }
  o.exact = exact;
  return o;
}

// What the effect estimates of one experiment gave (main effects only).
struct EffectOutcome {
  int covered = 0;        // true effect within mean +- 2 SD
  int sure_right = 0;     // active effects whose sign has probability >= 0.95, and is right
  double se_post = 0;     // sum of squared errors of the posterior means
  double se_ls = 0;       // ... and of the least-squares estimates (NaN: none)
  bool lenth = false;     // Lenth's margins were computed
  int me_found = 0, sme_found = 0;         // active effects beyond ME, SME
  bool me_alarm = false, sme_alarm = false;  // an inactive effect beyond ME, SME
};

// The operating characteristics of the effect estimates of the default
// analysis (--effects) and of Lenth's margins, on the same experiments as
// the factor tables above: per cell, the share of main effects whose true
// value lies within the posterior mean +- 2 SD, the share of active effects
// given a sign with probability >= 0.95 that is right, the root mean
// squared error of the posterior means against that of the least-squares
// estimates, and by Lenth's ME and SME the share of active effects found
// and of experiments with at least one false alarm.
void study_effects(const std::vector<StudyDesign> &designs, const std::vector<Truth> &truths, int experiments,
                   int threads) {
  printf("Effect estimates of the default analysis and Lenth's margins: %d experiments a cell,\n"
         "the same experiments as the factor tables (effects 2 beta, main effects only).\n"
         "cover: true effect within mean +- 2 SD; sign: active effects whose sign has\n"
         "probability >= 0.95 and is right; rmse: of the posterior means / of least squares;\n"
         "ME, SME: Lenth's, active found / experiments with a false alarm (- : no margins).\n",
         experiments);
  for (size_t di = 0; di < designs.size(); di++) {
    const StudyDesign &sd = designs[di];
    const int k = static_cast<int>(sd.rows[0].size());
    printf("\n%s\n  %-14s  %6s  %6s  %-11s  %-11s  %-11s\n", sd.name.c_str(), "truth", "cover", "sign", "rmse",
           "ME", "SME");
    for (size_t ti = 0; ti < truths.size(); ti++) {
      const Truth &truth = truths[ti];
      std::vector<EffectOutcome> outcomes(static_cast<size_t>(experiments));
      parallel_for(experiments, threads, [&](int e) {
        const Experiment x = draw_experiment(sd, truth, di, ti, e);
        AnalysisRequest request;
        request.effects = true;
        Settings settings = analysis_settings(kDefault, k);
        settings.threads = 1;  // the experiments share the cores
        const Results r = analyse(make_design(sd, x.y), settings, nullptr, request);
        EffectOutcome &o = outcomes[static_cast<size_t>(e)];
        o.lenth = r.effects->lenth.has_value();
        for (const EffectEstimate &est : r.effects->effects) {
          if (est.order() != 1) continue;
          const size_t f = static_cast<size_t>(__builtin_ctzll(est.mask));
          const double truth_effect = 2 * x.beta[f];
          o.covered += std::fabs(est.mean - truth_effect) <= 2 * est.sd;
          const double sign_right = truth_effect > 0 ? est.prob_positive : 1 - est.prob_positive;
          o.sure_right += x.active[f] && sign_right >= 0.95;
          o.se_post += (est.mean - truth_effect) * (est.mean - truth_effect);
          o.se_ls += (est.least_squares - truth_effect) * (est.least_squares - truth_effect);
          if (o.lenth) {
            const double c = std::fabs(est.least_squares);
            if (x.active[f]) {
              o.me_found += c > r.effects->lenth->me;
              o.sme_found += c > r.effects->lenth->sme;
            } else {
              o.me_alarm = o.me_alarm || c > r.effects->lenth->me;
              o.sme_alarm = o.sme_alarm || c > r.effects->lenth->sme;
            }
          }
        }
      });

      long covered = 0, sure = 0, me_found = 0, sme_found = 0, me_alarm = 0, sme_alarm = 0, with_lenth = 0;
      double se_post = 0, se_ls = 0;
      for (const EffectOutcome &o : outcomes) {
        covered += o.covered;
        sure += o.sure_right;
        se_post += o.se_post;
        se_ls += o.se_ls;
        with_lenth += o.lenth;
        me_found += o.me_found;
        sme_found += o.sme_found;
        me_alarm += o.me_alarm;
        sme_alarm += o.sme_alarm;
      }
      const double effects = static_cast<double>(experiments) * k;
      const double actives = static_cast<double>(experiments) * truth.mains;
      char sign[16] = "     -", rmse[32], me[32] = "-", sme[32] = "-";
      if (truth.mains > 0) snprintf(sign, sizeof sign, "%6.2f", static_cast<double>(sure) / actives);
      snprintf(rmse, sizeof rmse, "%.2f/%.2f", std::sqrt(se_post / effects), std::sqrt(se_ls / effects));
      if (with_lenth == experiments) {
        const double n = experiments;
        if (truth.mains > 0) {
          snprintf(me, sizeof me, "%.2f/%.2f", static_cast<double>(me_found) / actives, me_alarm / n);
          snprintf(sme, sizeof sme, "%.2f/%.2f", static_cast<double>(sme_found) / actives, sme_alarm / n);
        } else {
          snprintf(me, sizeof me, "   -/%.2f", me_alarm / n);
          snprintf(sme, sizeof sme, "   -/%.2f", sme_alarm / n);
        }
      }
      printf("  %-14s  %6.2f  %s  %-11s  %-11s  %-11s\n", truth.name.c_str(), covered / effects, sign, rmse, me,
             sme);
      fflush(stdout);
    }
  }
}

}  // namespace

int main(int argc, char **argv) {
  // "effects" first: the study of the effect estimates and Lenth's margins.
  const bool effects = argc > 1 && std::string(argv[1]) == "effects";
  if (effects) {
    argc--;
    argv++;
  }
  const int experiments = argc > 1 ? atoi(argv[1]) : 200;
  if (experiments < 1) {
    fprintf(stderr, "usage: bayescreen_study [effects] [EXPERIMENTS a cell [DESIGN]]\n");
    return 2;
  }
  StudyDesign pb12_7 = plackett_burman("12-run Plackett-Burman, 7 factors", {1, 1, -1, 1, 1, 1, -1, -1, -1, 1, -1});
  for (auto &row : pb12_7.rows) row.resize(7);
  const std::vector<StudyDesign> designs = {
      pb12_7,
      plackett_burman("12-run Plackett-Burman, 11 factors", {1, 1, -1, 1, 1, 1, -1, -1, -1, 1, -1}),
      plackett_burman("20-run Plackett-Burman, 19 factors",
                      {1, 1, -1, -1, 1, 1, 1, 1, -1, 1, -1, 1, -1, -1, -1, -1, 1, 1, -1}),
      saturated16(),
  };
  std::vector<Truth> truths;
  for (int k = 0; k <= 5; k++) truths.push_back({std::to_string(k) + " mains", k, false});
  truths.push_back({"2 mains + 2fi", 2, true});
  const int threads = thread_count(0);
  if (effects) {
    study_effects(designs, truths, experiments, threads);
    return 0;
  }

  printf("Operating characteristics: %d experiments a cell, y = 50 + X beta + N(0,1),\n"
         "|beta| ~ U(1.5, 3), random signs; found = posterior > 0.5.\n"
         "Each entry: active found / experiments with a false alarm / exactly the true set.\n",
         experiments);
  const size_t only = argc > 2 ? static_cast<size_t>(atoi(argv[2])) : 0;
  for (size_t di = 0; di < designs.size(); di++) {
    if (only != 0 && di + 1 != only) continue;
    const StudyDesign &sd = designs[di];
    if (!orthogonal(sd)) {
      fprintf(stderr, "%s is not orthogonal\n", sd.name.c_str());
      return 1;
    }
    const int k = static_cast<int>(sd.rows[0].size());
    bool enumerable = true;
    {
      const Design probe = make_design(sd, std::vector<double>(sd.rows.size(), 0.0));
      enumerable = count_effect_models(probe, analysis_settings(kRecommended, k)) <= kStudyModels;
    }
    printf("\n%s%s\n", sd.name.c_str(),
           enumerable ? "" : " (recommended: by the model search)");
    printf("  %-14s", "truth");
    for (int a = 0; a < kAnalyses; a++) printf("  %-20s", kAnalysisNames[a]);
    printf("\n");
    for (size_t ti = 0; ti < truths.size(); ti++) {
      const Truth &truth = truths[ti];
      std::vector<Outcome> outcomes(static_cast<size_t>(experiments) * kAnalyses);
      std::vector<int> nactive(static_cast<size_t>(experiments), 0);
      parallel_for(experiments, threads, [&](int e) {
        const Experiment x = draw_experiment(sd, truth, di, ti, e);
        const std::vector<bool> &active = x.active;
        const std::vector<double> &y = x.y;
        nactive[static_cast<size_t>(e)] = truth.mains;
        const Design design = make_design(sd, y);
        for (int a = 0; a < kAnalyses; a++) {
          Settings s = analysis_settings(static_cast<Analysis>(a), k);
          if (a == kRecommended && !enumerable) {
            s.search.mode = SearchMode::Mcmc;
            s.search.iterations = kStudyIterations;
            s.threads = 1;  // the experiments share the cores
          }
          const Results r = analyse(design, s);
          std::vector<double> post(static_cast<size_t>(k));
          for (int f = 0; f < k; f++) post[static_cast<size_t>(f)] = r.weights[Weighting::PostProb].shares[static_cast<size_t>(f)];
          outcomes[static_cast<size_t>(e) * kAnalyses + static_cast<size_t>(a)] = judge(post, active);
        }
      });

      printf("  %-14s", truth.name.c_str());
      for (int a = 0; a < kAnalyses; a++) {
        long found = 0, total = 0, alarms = 0, exact = 0;
        for (int e = 0; e < experiments; e++) {
          const Outcome &o = outcomes[static_cast<size_t>(e) * kAnalyses + static_cast<size_t>(a)];
          found += o.active_found;
          total += nactive[static_cast<size_t>(e)];
          alarms += o.false_alarm;
          exact += o.exact;
        }
        char cell[64];
        if (total > 0)
          snprintf(cell, sizeof cell, "%.2f/%.2f/%.2f", static_cast<double>(found) / static_cast<double>(total),
                   static_cast<double>(alarms) / experiments, static_cast<double>(exact) / experiments);
        else
          snprintf(cell, sizeof cell, "   -/%.2f/%.2f", static_cast<double>(alarms) / experiments,
                   static_cast<double>(exact) / experiments);
        printf("  %-20s", cell);
      }
      printf("\n");
      fflush(stdout);
    }
  }
  return 0;
}
