#include "engine/effectspace.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>

#include "engine/calcmodels.h"
#include "engine/effectcolumns.h"
#include "engine/modelspace.h"
#include "engine/priorgrid.h"
#include "numeric/cholesky.h"
#include "support/error.h"
#include "support/helpers.h"
#include "support/parallel.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

using Space = EffectColumns;

// More candidate effects than this make tasks of the first level only (the
// second level would make too many tasks to keep).
constexpr int kMaxEffectsForPairTasks = 256;

// Saturating counts: values at or above 2^64 stay at kSaturated.
__extension__ typedef unsigned __int128 Count;
constexpr Count kSaturated = static_cast<Count>(UINT64_MAX);

Count saturate(Count c) { return c > kSaturated ? kSaturated : c; }

// C(n, j), saturating.
Count big_binomial(uint64_t n, uint64_t j) {
  if (j > n) return 0;
  if (j > n - j) j = n - j;
  Count c = 1;
  for (uint64_t i = 1; i <= j; i++) {
    c = c * (n - j + i) / i;  // C(n - j + i, i), exact
    if (c >= kSaturated) return kSaturated;
  }
  return c;
}

// The sums of one task: the weights relative to the largest one seen
// (top), rescaled whenever a larger one comes.
struct Tally {
  double top = -INFINITY;
  double total = 0;
  double none = 0;
  std::vector<double> effect, factor;
  uint64_t visited = 0, weighed = 0;
  // The best models: (log weight, effects), best first; ties keep the
  // earlier one.
  std::vector<EffectModel> best;

  void add(double logw, const std::vector<int32_t> &path, uint64_t factors, int ne, int p, size_t keep) {
    if (std::isnan(logw)) return;
    weighed++;
    if (effect.empty()) {
      effect.assign(static_cast<size_t>(ne), 0.0);
      factor.assign(static_cast<size_t>(p), 0.0);
    }
    if (logw > top) {
      if (top > -INFINITY) {
        const double scale = exp(top - logw);
        total *= scale;
        none *= scale;
        for (double &v : effect) v *= scale;
        for (double &v : factor) v *= scale;
      }
      top = logw;
    }
    const double w = exp(logw - top);
    total += w;
    if (path.empty()) none += w;
    for (int32_t e : path) effect[static_cast<size_t>(e)] += w;
    for (uint64_t bits = factors; bits != 0; bits &= bits - 1) factor[static_cast<size_t>(__builtin_ctzll(bits))] += w;
    if (best.size() < keep || logw > best.back().log_weight) {
      EffectModel m;
      m.effects = path;
      m.log_weight = logw;
      auto at = std::upper_bound(best.begin(), best.end(), logw,
                                 [](double v, const EffectModel &b) { return v > b.log_weight; });
      best.insert(at, std::move(m));
      if (best.size() > keep) best.pop_back();
    }
  }
};

// The walk of one thread: the columns of the current model, the factor of
// X'X (for regularity) and the factors of X'X + Gamma, one per gamma value,
// interleaved (cholesky_append_row_interleaved), grown one row per column.
struct Walker {
  const Space &space;
  Tally *tally = nullptr;
  int ng = 0;
  std::vector<double> l, xtx, a;
  std::vector<uint64_t> mask;
  std::vector<double> mg, w, wsq, logdet, diag, pivot;
  std::vector<int32_t> path;          // effects of the current model
  std::vector<double> log_prior;      // log prior of the model at each depth
  // Per number of main effects k in the model: log(q_i / (1 - q_i)) of each
  // interaction i (indexed from the first interaction) under the current
  // main effects, and the log prior of the main effects alone with no
  // interaction, p_main(k) prod_i (1 - q_i).
  std::vector<std::vector<double>> logit;
  std::vector<double> base;
  int first_interaction = 0;
  uint64_t mains = 0;                 // screened factors whose main effect is in
  uint64_t factors = 0;               // screened factors of any effect in
  std::vector<uint64_t> factors_at;   // factors at each depth
  int k = 0;                          // main effects in
  int n_int = 0;                      // interactions in
  std::vector<double> logml;          // per gamma: log marginal likelihood

  explicit Walker(const Space &s) : space(s), ng(static_cast<int>(s.gammas.size())) {
    const size_t ld = static_cast<size_t>(space.ld), n = static_cast<size_t>(ng);
    l.assign(ld * ld, 0.0);
    xtx.assign(ld * ld, 0.0);
    a.assign(ld, 0.0);
    mask.assign(ld, 0);
    mg.assign(ld * ld * n, 0.0);
    for (std::vector<double> *v : {&w, &wsq, &logdet}) v->assign(ld * n, 0.0);
    diag.assign(n, 0.0);
    pivot.assign(n, 0.0);
    logml.assign(n, 0.0);
    first_interaction = 0;
    while (first_interaction < space.ne && space.is_main(first_interaction)) first_interaction++;
    logit.assign(static_cast<size_t>(space.p) + 1, std::vector<double>(static_cast<size_t>(space.ne - first_interaction)));
    base.assign(static_cast<size_t>(space.p) + 1, 0.0);
    log_prior.assign(ld + 1, 0.0);
    factors_at.assign(ld + 1, 0);
  }

  // The interaction priors under the main effects `mains` (k of them).
  void set_main_effects() {
    std::vector<double> &lg = logit[static_cast<size_t>(k)];
    double sum = log_main_prior(space.settings.effects, space.pi, space.p, k);
    for (int e = first_interaction; e < space.ne; e++) {
      const CandidateEffect &effect = space.effects[static_cast<size_t>(e)];
      const int in = __builtin_popcountll(screened_bits(effect.mask, space.first) & mains);
      const double q = interaction_probability(space.q, in, effect.order);
      sum += log1p(-q);
      lg[static_cast<size_t>(e - first_interaction)] = q > 0 ? log(q) - log1p(-q) : -INFINITY;
    }
    base[static_cast<size_t>(k)] = sum;
  }

  // Appends the space's column c as column j of the model; returns whether
  // X'X is singular from this column on.
  bool append_column(int j, int c, bool singular) {
    const size_t at = static_cast<size_t>(j), ld = static_cast<size_t>(space.ld), n = static_cast<size_t>(space.ncols);
    const uint64_t m = space.masks[static_cast<size_t>(c)];
    mask[at] = m;
    for (size_t i = 0; i <= at; i++)
      a[i] = space.gram[static_cast<size_t>(c) * n + static_cast<size_t>(column_at(static_cast<int>(i), j, c))];
    const double b = space.gram_y[static_cast<size_t>(c)];
    const double length = a[at];
    for (size_t i = 0; i <= at; i++) xtx[i * ld + at] = xtx[at * ld + i] = a[i];
    if (!singular) {
      const double d = cholesky_append_row(l.data(), space.ld, j, a.data());
      if (!(d > kClearPivot * length) &&
          (!(d > 0) || xtx_exactly_singular(space.design, xtx.data(), space.ld, mask.data(), j + 1)))
        singular = true;
    }
    if (singular && !space.keep_aliased) return true;
    const bool interaction = interaction_column(space.model_space, m);
    const std::vector<double> &precision = interaction ? space.interaction_precision : space.main_precision;
    const size_t g = static_cast<size_t>(ng);
    for (size_t p = 0; p < g; p++) diag[p] = j > 0 ? length + precision[p] : length;
    cholesky_append_row_interleaved(mg.data(), space.ld, ng, j, a.data(), diag.data(), pivot.data());
    cholesky_forward_step_interleaved(mg.data(), space.ld, ng, j, w.data(), b);
    const size_t row = at * g;
    for (size_t p = 0; p < g; p++) {
      if (!(pivot[p] > 0)) cannot_invert_xtxg(j + 1);
      wsq[row + p] = (j > 0 ? wsq[row - g + p] : 0) + w[row + p] * w[row + p];
      logdet[row + p] = (j > 0 ? logdet[row - g + p] : 0) + log(pivot[p]);
    }
    return singular;
  }

  // The space's column at position i of the model whose new column j is c.
  int column_at(int i, int j, int c) const {
    if (i == j) return c;
    if (i < space.root) return i;
    return space.column(path[static_cast<size_t>(i - space.root)]);
  }

  // The log weight of the model whose columns are the first nc.
  double log_weight(int nc, int depth) {
    const size_t row = static_cast<size_t>(nc - 1) * static_cast<size_t>(ng);
    return log_prior[static_cast<size_t>(depth)] +
           log_mean_marginal(space, space.blocks + k, n_int, &logdet[row], &wsq[row], logml.data());
  }

  void record(int nc, int depth, bool singular) {
    tally->visited++;
    if (singular && !space.keep_aliased) return;
    tally->add(log_weight(nc, depth), path, factors, space.ne, space.p,
               static_cast<size_t>(space.settings.effects.top_models));
  }

  // Adds effect e to the model of `depth` effects (its columns the first
  // nc). Returns false, leaving the model as it was, when e has prior 0;
  // else sets *singular for the new model.
  bool push(int e, int depth, int nc, bool *singular) {
    const CandidateEffect &effect = space.effects[static_cast<size_t>(e)];
    double prior;
    if (effect.order == 1) {
      mains |= screened_bits(effect.mask, space.first);
      k++;
      set_main_effects();
      prior = base[static_cast<size_t>(k)];
    } else {
      const double lg = logit[static_cast<size_t>(k)][static_cast<size_t>(e - first_interaction)];
      if (lg == -INFINITY) return false;
      prior = log_prior[static_cast<size_t>(depth)] + lg;
      n_int++;
    }
    log_prior[static_cast<size_t>(depth) + 1] = prior;
    factors_at[static_cast<size_t>(depth) + 1] = factors_at[static_cast<size_t>(depth)] | screened_bits(effect.mask, space.first);
    factors = factors_at[static_cast<size_t>(depth) + 1];
    *singular = append_column(nc, space.column(e), *singular);
    path.push_back(e);
    return true;
  }

  void pop(int e, int depth) {
    const CandidateEffect &effect = space.effects[static_cast<size_t>(e)];
    path.pop_back();
    if (effect.order == 1) {
      mains &= ~screened_bits(effect.mask, space.first);
      k--;
    } else {
      n_int--;
    }
    factors = factors_at[static_cast<size_t>(depth)];
  }

  // Every model that extends the current one (depth effects, the last
  // `last`, columns the first nc) by effects after `last`, depth first.
  void extend(int last, int depth, int nc, bool singular) {
    // More columns than runs make X'X singular: without --keep-aliased no
    // model beyond this one takes part.
    if (nc >= space.runs && !space.keep_aliased) return;
    for (int e = last + 1; e < space.ne; e++) {
      bool now = singular;
      if (!push(e, depth, nc, &now)) continue;
      if (!now || space.keep_aliased) {
        record(nc + 1, depth + 1, now);
        extend(e, depth + 1, nc + 1, now);
      } else {
        tally->visited++;
      }
      pop(e, depth);
    }
  }

  // The root: the intercept and the blocks, the null model's columns.
  bool start() {
    path.clear();
    mains = factors = 0;
    k = n_int = 0;
    factors_at[0] = 0;
    bool singular = false;
    // The root's columns are the space's first columns, in order.
    for (int j = 0; j < space.root; j++) singular = append_column(j, j, singular);
    set_main_effects();
    log_prior[0] = base[0];
    return singular;
  }

  // Task: the model of the effects of prefix (in order), and with `subtree`
  // every model that extends it.
  void run_task(const std::vector<int32_t> &prefix, bool subtree, Tally &out) {
    tally = &out;
    bool singular = start();
    int nc = space.root, depth = 0;
    for (int32_t e : prefix) {
      if (singular && !space.keep_aliased) return;
      if (!push(e, depth, nc, &singular)) return;
      nc++;
      depth++;
    }
    if (singular && !space.keep_aliased) {
      if (!prefix.empty()) out.visited++;
      return;
    }
    record(nc, depth, singular);
    if (subtree) extend(prefix.empty() ? -1 : prefix.back(), depth, nc, singular);
  }
};

struct Task {
  std::vector<int32_t> prefix;
  bool subtree = false;
};

// The tasks: the null model; each model of one effect; and each model of
// two effects with its whole branch (or, with many effects, each model of
// one effect with its branch).
std::vector<Task> make_tasks(const Space &space) {
  std::vector<Task> tasks;
  tasks.push_back({{}, false});
  const bool pairs = space.ne <= kMaxEffectsForPairTasks;
  for (int32_t e1 = 0; e1 < space.ne; e1++) {
    tasks.push_back({{e1}, !pairs});
    if (!pairs) continue;
    for (int32_t e2 = e1 + 1; e2 < space.ne; e2++) {
      // An interaction after a single main effect has a nonzero prior only
      // when interactions with some or none of their parents may be in.
      if (!space.is_main(e2) && space.q.some <= 0 && space.q.none <= 0) {
        const uint64_t parents = screened_bits(space.effects[static_cast<size_t>(e2)].mask, space.first);
        const uint64_t in = space.is_main(e1) ? screened_bits(space.effects[static_cast<size_t>(e1)].mask, space.first) : 0;
        if ((parents & ~in) != 0) continue;
      }
      tasks.push_back({{e1, e2}, true});
    }
  }
  return tasks;
}

}  // namespace

std::string effect_label(const Design &design, const CandidateEffect &effect) {
  return effect_label(design, effect.mask);
}

std::vector<CandidateEffect> candidate_effects(const Design &design, const Settings &settings) {
  const ModelSpace &space = settings.model_space;
  const int p = screened_factors(design, space);
  const int first = space.blocks;
  std::vector<CandidateEffect> effects;
  for (int r = 1; r <= std::min(space.order, p); r++)
    for_each_subset(p, r, [&](const int32_t *sub) {
      CandidateEffect e;
      e.order = r;
      for (int i = 0; i < r; i++) {
        const int c = first + sub[i];
        e.mask |= uint64_t{1} << c;
      }
      e.name = effect_code(e.mask);
      effects.push_back(std::move(e));
    });
  return effects;
}

uint64_t count_effect_models(const Design &design, const Settings &settings) {
  const ModelSpace &space = settings.model_space;
  const int p = screened_factors(design, space);
  const int order = std::min(space.order, p);
  const InteractionProbs q = interaction_probs(settings.effects);
  const bool capped = space.keep_aliased == 0;
  const int64_t cap = static_cast<int64_t>(design.runs) - 1 - space.blocks;
  if (capped && cap < 0) return 0;
  Count total = 0;
  for (int k = 0; k <= p; k++) {
    // The interactions of nonzero prior with k main effects in.
    Count interactions = 0;
    for (int r = 2; r <= order; r++) {
      const Count all = big_binomial(static_cast<uint64_t>(k), static_cast<uint64_t>(r));
      const Count none = big_binomial(static_cast<uint64_t>(p - k), static_cast<uint64_t>(r));
      const Count some = big_binomial(static_cast<uint64_t>(p), static_cast<uint64_t>(r)) - all - none;
      if (q.all > 0) interactions += all;
      if (q.some > 0) interactions += some;
      if (q.none > 0) interactions += none;
    }
    interactions = saturate(interactions);
    Count sets = 0;  // sets of those interactions of allowed size
    if (!capped) {
      sets = interactions >= 64 ? kSaturated : (Count{1} << static_cast<int>(interactions));
    } else {
      if (k > cap) continue;
      const uint64_t most = static_cast<uint64_t>(cap - k);
      for (uint64_t j = 0; j <= most && j <= static_cast<uint64_t>(interactions); j++) {
        sets = saturate(sets + big_binomial(static_cast<uint64_t>(interactions), j));
        if (sets == kSaturated) break;
      }
    }
    const Count mains = big_binomial(static_cast<uint64_t>(p), static_cast<uint64_t>(k));
    total = saturate(total + saturate(mains * sets));
  }
  return static_cast<uint64_t>(total);
}

void check_effect_count(const Design &design, const Settings &settings) {
  const ModelSpace &space = settings.model_space;
  const int p = screened_factors(design, space);
  uint64_t effects = 0;
  for (int r = 1; r <= std::min(space.order, p); r++) effects += binomial(p, r);
  if (effects > static_cast<uint64_t>(kMaxCandidateEffects)) {
    char text[400];
    snprintf(text, sizeof text,
             "\nTOO MANY EFFECTS: the effects space holds %llu candidate effects, at most %d are "
             "allowed !\n(Lower --order.)\n",
             static_cast<unsigned long long>(effects), kMaxCandidateEffects);
    throw Error(text);
  }
}

void check_effect_space_size(const Design &design, const Settings &settings) {
  check_effect_count(design, settings);
  const ModelSpace &space = settings.model_space;
  char text[400];
  const uint64_t count = count_effect_models(design, settings);
  if (count > static_cast<uint64_t>(space.max_models)) {
    snprintf(text, sizeof text,
             "\nTOO MANY MODELS: the effects space holds %s%llu models of nonzero prior, more than the "
             "limit of %d that are enumerated !\n(Lower --order, use --heredity=strong, or raise the "
             "limit with --max-models=N:\nabout a second per million models on two cores; or search "
             "the space with --search=mcmc.)\n",
             count == UINT64_MAX ? "at least " : "", static_cast<unsigned long long>(count), space.max_models);
    throw Error(text);
  }
}

double log_model_prior(const std::vector<CandidateEffect> &effects, const Design &design,
                       const Settings &settings, uint64_t mains, const std::vector<int32_t> &interactions) {
  const int first = settings.model_space.blocks;
  const int p = screened_factors(design, settings.model_space);
  const InteractionProbs q = interaction_probs(settings.effects);
  double sum = log_main_prior(settings.effects, settings.pi, p, __builtin_popcountll(mains));
  for (size_t i = 0; i < effects.size(); i++) {
    const CandidateEffect &e = effects[i];
    if (e.order == 1) continue;
    const int in = __builtin_popcountll(screened_bits(e.mask, first) & mains);
    const double qi = interaction_probability(q, in, e.order);
    const bool held = std::find(interactions.begin(), interactions.end(), static_cast<int32_t>(i)) != interactions.end();
    sum += held ? log(qi) : log1p(-qi);
  }
  return sum;
}

namespace {

// A finite number filling the whole of text.
bool read_value(const std::string &text, double *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  const double v = strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// The pieces of text between the separators.
std::vector<std::string> split(const char *text, char separator) {
  std::vector<std::string> pieces(1);
  for (const char *c = text; *c != '\0'; c++) {
    if (*c == separator)
      pieces.emplace_back();
    else
      pieces.back() += *c;
  }
  return pieces;
}

}  // namespace

const char *parse_model_space(const char *text, EffectsPrior *prior) {
  if (!choose_word(text, {{"factors", SpaceKind::Factors}, {"effects", SpaceKind::Effects}}, &prior->kind))
    return "the model space is factors or effects";
  return nullptr;
}

const char *parse_heredity(const char *text, EffectsPrior *prior) {
  if (!choose_word(text, {{"strong", Heredity::Strong}, {"weak", Heredity::Weak}, {"none", Heredity::None}},
                   &prior->heredity))
    return "the heredity is strong, weak or none";
  return nullptr;
}

const char *parse_heredity_probs(const char *text, EffectsPrior *prior) {
  const std::vector<std::string> pieces = split(text, ',');
  if (pieces.size() != 3) return "the value must have the form P11,P10,P00";
  double p[3];
  for (int i = 0; i < 3; i++) {
    if (!read_value(pieces[static_cast<size_t>(i)], &p[i])) return "each probability must be a finite number";
    if (!(p[i] >= 0 && p[i] < 1)) return "each probability must be at least 0 and below 1";
  }
  prior->p11 = p[0];
  prior->p10 = p[1];
  prior->p00 = p[2];
  return nullptr;
}

const char *parse_pi_prior(const char *text, EffectsPrior *prior) {
  const std::vector<std::string> pieces = split(text, ':');
  if (pieces.size() != 3 || pieces[0] != "beta") return "the value must have the form beta:A:B";
  double a = 0, b = 0;
  if (!read_value(pieces[1], &a) || !read_value(pieces[2], &b)) return "A and B must be finite numbers";
  if (!(a > 0 && b > 0)) return "A and B must be greater than 0";
  prior->beta_a = a;
  prior->beta_b = b;
  return nullptr;
}

EffectAliasGroups effect_alias_groups(const Design &design, const std::vector<CandidateEffect> &effects) {
  // Each column with its sign fixed so that its first nonzero entry is
  // positive; equal keys are the same column up to sign.
  std::map<std::vector<double>, std::vector<int32_t>> groups;
  for (size_t e = 0; e < effects.size(); e++) {
    std::vector<double> v = column_values(design, effects[e].mask);
    double sign = 0;
    for (double x : v)
      if (x != 0) {
        sign = x > 0 ? 1 : -1;
        break;
      }
    if (sign < 0)
      for (double &x : v) x = -x;
    groups[v].push_back(static_cast<int32_t>(e));
  }
  EffectAliasGroups out;
  for (auto &entry : groups)
    if (entry.second.size() > 1) out.push_back(entry.second);
  std::sort(out.begin(), out.end());
  return out;
}

EffectsResults analyse_effects(const Design &design, const Settings &settings) {
  PlaceGuard place("Analyse_Effects");
  check_effect_space_size(design, settings);
  Space space(design, settings);
  prepare_effect_columns(space);

  const std::vector<Task> tasks = make_tasks(space);
  std::vector<Tally> tallies(tasks.size());
  int threads = thread_count(settings.effects.threads > 0 ? settings.effects.threads : settings.threads);
  threads = std::max(1, std::min(threads, static_cast<int>(tasks.size())));
  std::atomic<size_t> next{0};
  std::vector<std::exception_ptr> failures(tasks.size());
  auto work = [&]() {
    Walker walker(space);
    for (size_t t = next++; t < tasks.size(); t = next++) {
      try {
        walker.run_task(tasks[t].prefix, tasks[t].subtree, tallies[t]);
      } catch (...) {
        failures[t] = std::current_exception();
      }
    }
  };
  // One walker per thread, each taking the next task until none is left.
  parallel_for(threads, threads, [&](int) { work(); });
  for (const std::exception_ptr &failure : failures)
    if (failure) std::rethrow_exception(failure);

  // The tasks' sums, combined in task order relative to the largest weight.
  EffectsResults results;
  results.effects = space.effects;
  results.first_factor = space.first;
  results.nfactors = space.p;
  for (const BoxMeyerPrior &g : space.gammas) results.gammas.push_back(g.gam);
  results.candidates = count_effect_models(design, settings);
  double top = -INFINITY;
  for (const Tally &t : tallies) {
    top = std::max(top, t.top);
    results.visited += t.visited;
    results.weighed += t.weighed;
  }
  if (top == -INFINITY || std::isinf(top))
    throw Error("\nNO MODEL HAS A WEIGHT: every model of the effects space is singular !\n");
  double total = 0, none = 0;
  std::vector<double> effect(static_cast<size_t>(space.ne), 0.0), factor(static_cast<size_t>(space.p), 0.0);
  std::vector<std::pair<size_t, const EffectModel *>> best;
  for (size_t i = 0; i < tallies.size(); i++) {
    const Tally &t = tallies[i];
    if (t.weighed == 0) continue;
    const double scale = exp(t.top - top);
    total += t.total * scale;
    none += t.none * scale;
    for (size_t e = 0; e < effect.size(); e++) effect[e] += t.effect[e] * scale;
    for (size_t f = 0; f < factor.size(); f++) factor[f] += t.factor[f] * scale;
    for (const EffectModel &m : t.best) best.push_back({i, &m});
  }
  results.log_total = top + log(total);
  results.none_active = none / total;
  for (double &v : effect) v /= total;
  for (double &v : factor) v /= total;
  results.effect_probability = std::move(effect);
  results.factor_probability = std::move(factor);
  std::stable_sort(best.begin(), best.end(), [](const auto &x, const auto &y) {
    return x.second->log_weight > y.second->log_weight;
  });
  const size_t keep = std::min(best.size(), static_cast<size_t>(settings.effects.top_models));
  for (size_t i = 0; i < keep; i++) {
    EffectModel m = *best[i].second;
    m.probability = exp(m.log_weight - results.log_total);
    results.top.push_back(std::move(m));
  }
  results.aliases = effect_alias_groups(design, space.effects);
  return results;
}

}  // namespace bayescreen
