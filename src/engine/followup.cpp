#include "engine/followup.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/calcmodels.h"
#include "numeric/cholesky.h"
#include "support/error.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// Pair tables (a value per pair of candidates for each model) are kept when
// they hold at most this many values in all: 32 MB.
constexpr size_t kMaxTableValues = size_t{1} << 22;
// The per-candidate rows of all models together may hold at most this many
// values (128 MB).
constexpr uint64_t kMaxCandidateValues = uint64_t{1} << 24;
// A coordinate-exchange start ends when a pass over the runs changes
// nothing; this bounds the passes all the same.
constexpr int kMaxExchangePasses = 1000;

// splitmix64 (Steele, Lea and Flood, "Fast splittable pseudorandom number
// generators", OOPSLA 2014; the constants of Vigna's splitmix64.c): the same
// sequence from the same seed on every machine.
struct SplitMix64 {
  uint64_t state;
  uint64_t next() {
    state += 0x9e3779b97f4a7c15ULL;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
};

// A change of run counts as an improvement only beyond rounding, so that
// two orders of the same runs never pass for a better design.
bool improves(double value, double reference) {
  if (std::isnan(value)) return false;
  if (std::isinf(reference)) return value > reference;
  return value > reference + 1e-12 * std::fabs(reference);
}

// The T best distinct designs offered, best first; among equal values the
// one offered first stays first.
class TopDesigns {
 public:
  explicit TopDesigns(int top) : top_(static_cast<size_t>(top)) {}
  // Offers the design of the runs on the criterion's stack.
  void offer(const MdCriterion &crit, double md) {
    if (std::isnan(md)) return;
    if (list_.size() >= top_ && !(md > list_.back().md)) return;
    FollowUpDesign design;
    design.md = md;
    for (int t = 0; t < crit.depth(); t++) design.runs.push_back(crit.run(t));
    std::sort(design.runs.begin(), design.runs.end());
    for (const FollowUpDesign &d : list_)
      if (d.runs == design.runs) return;
    auto at = std::find_if(list_.begin(), list_.end(), [md](const FollowUpDesign &d) { return d.md < md; });
    list_.insert(at, design);
    if (list_.size() > top_) list_.pop_back();
  }
  std::vector<FollowUpDesign> take() { return std::move(list_); }

 private:
  size_t top_;
  std::vector<FollowUpDesign> list_;
};

// The value of effect column mask on a candidate: 1 for the intercept and
// the new block, else the product of the candidate's levels of the design
// columns in the mask (0 on the design's block columns, which the
// candidates leave at 0).
double column_value(const CandidateRuns &cands, int run, uint64_t mask) {
  if (mask == kNewBlockMask) return 1.0;
  double value = 1.0;
  for (uint64_t bits = mask; bits != 0; bits &= bits - 1)
    value *= cands.level(run, __builtin_ctzll(bits));
  return value;
}

}  // namespace

std::vector<int32_t> leading_models(const ModelSpace &space, const ModelTable &models, int count) {
  std::vector<int32_t> order;
  for (int i = 0; i < models.size(); i++)
    if (has_posterior(space, models[i]) && models[i].postprob > 0) order.push_back(i);
  const size_t wanted = std::min(order.size(), static_cast<size_t>(count));
  std::partial_sort(order.begin(), order.begin() + static_cast<long>(wanted), order.end(),
                    [&models](int32_t a, int32_t b) {
                      if (models[a].postprob != models[b].postprob)
                        return models[a].postprob > models[b].postprob;
                      return a < b;
                    });
  order.resize(wanted);
  return order;
}

uint64_t multiset_count(int64_t c, int n, uint64_t cap) {
  // C(c + n - 1, n) = prod_{i=1..n} (c - 1 + i) / i; after step i the
  // product is C(c - 1 + i, i), a whole number, and it never decreases.
  if (c <= 0) return 0;
  uint64_t count = 1;
  for (int i = 1; i <= n; i++) {
    const uint64_t factor = static_cast<uint64_t>(c - 1 + i);
    if (count > UINT64_MAX / factor) return UINT64_MAX;
    count = count * factor / static_cast<uint64_t>(i);
    if (count > cap) return UINT64_MAX;
  }
  return count;
}

// ---- The criterion ------------------------------------------------------------
//
// The sum over pairs is rearranged so that a design costs a few Cholesky
// rows per model instead of a pair of matrix products per pair of models.
// With A_i = V_i^-1, w_j = p_j / s_j^2, P = sum_j p_j, W = sum_j w_j and
// each pair's terms split between its two orders,
//   MD = 1/2 sum_{i != j} p_i p_j [tr(A_i V_j) + d_ij'A_i d_ij / s_j^2 - N].
// For a fixed i, sum_{j != i} p_j tr(A_i V_j) = tr(A_i S) - p_i N with
// S = sum_j p_j V_j. The fitted values are taken about their weighted mean
// over the models, e_j = yhat_j - sum_k w_k yhat_k / W (d_ij does not
// change), so that sum_j w_j e_j = 0 and
//   sum_j w_j d_ij'A_i d_ij = W e_i'A_i e_i + tr(A_i Q),  Q = sum_j w_j e_j e_j'.
// Together, with T = S + Q,
//   MD = 1/2 [ sum_i p_i (tr(A_i T) + W e_i'A_i e_i) - P^2 N ].
// Both sums are of positive terms. With V_i = L_i L_i' and T = R R'
// (Cholesky), tr(A_i T) = |L_i^-1 R|^2 (Frobenius) and e_i'A_i e_i =
// |L_i^-1 e_i|^2. L_i, R and Y_i = L_i^-1 R are lower triangular and their
// row t depends only on runs 0 .. t, so a run pushed on the stack adds one
// row to each and its squares to the running sum.

MdCriterion::MdCriterion(const Design &design, const Settings &settings, const ModelTable &models,
                         const std::vector<int32_t> &indices, const CandidateRuns &cands, int max_runs)
    : ncand_(cands.count), max_runs_(max_runs) {
  const size_t nmodels = indices.size();
  const size_t c = static_cast<size_t>(ncand_);
  const size_t n = static_cast<size_t>(max_runs);
  info_.resize(nmodels);
  data_.resize(nmodels);
  tables_ = c * c * (nmodels + 1) <= kMaxTableValues;
  std::vector<double> yhat(nmodels * c);
  std::vector<uint64_t> masks;
  std::vector<double> g, mode, lg, z;
  ModelRefitter refit(design, settings, largest_model_columns(models));
  for (size_t i = 0; i < nmodels; i++) {
    const ModelEntry &entry = models[indices[i]];
    ModelData &m = data_[i];
    const int nc = entry.neff + 2;
    const size_t ncs = static_cast<size_t>(nc);
    masks.assign(ncs, 0);
    g.assign(ncs * ncs, 0);
    mode.assign(ncs, 0);
    double qqc = 0;
    refit.posterior_with_new_block(entry, masks.data(), g.data(), mode.data(), &qqc);
    info_[i].index = indices[i];
    info_[i].postprob = entry.postprob;
    info_[i].s2 = qqc / (design.runs - 1);
    m.nc = nc;
    m.p = entry.postprob;
    m.w = m.p / info_[i].s2;
    // G = L L': row j of L from row j of G (G is symmetric).
    lg.assign(ncs * ncs, 0);
    for (int j = 0; j < nc; j++) cholesky_append_row(lg.data(), nc, j, &g[static_cast<size_t>(j) * ncs]);
    m.u.assign(c * ncs, 0);
    z.assign(ncs, 0);
    for (size_t k = 0; k < c; k++) {
      for (size_t q = 0; q < ncs; q++) z[q] = column_value(cands, static_cast<int>(k), masks[q]);
      double fitted = 0;
      for (size_t q = 0; q < ncs; q++) fitted += z[q] * mode[q];
      yhat[i * c + k] = fitted;
      // u = L' z: entry q is the sum over r >= q of L[r][q] z[r].
      double *u = &m.u[k * ncs];
      for (size_t q = 0; q < ncs; q++) {
        double sum = 0;
        for (size_t r = q; r < ncs; r++) sum += lg[r * ncs + q] * z[r];
        u[q] = sum;
      }
    }
    m.l.assign(n * n, 0);
    m.y.assign(n * n, 0);
    m.f.assign(n, 0);
    psum_ += m.p;
    wsum_ += m.w;
  }
  // The fitted values about their weighted mean over the models.
  for (size_t k = 0; k < c; k++) {
    double mean = 0;
    for (size_t i = 0; i < nmodels; i++) mean += data_[i].w * yhat[i * c + k];
    mean /= wsum_;
    for (size_t i = 0; i < nmodels; i++) data_[i].e.push_back(yhat[i * c + k] - mean);
  }
  if (tables_) {
    tpair_.assign(c * c, 0);
    for (ModelData &m : data_) {
      m.pair.assign(c * c, 0);
      for (size_t k = 0; k < c; k++)
        for (size_t l = 0; l <= k; l++) {
          const double *uk = &m.u[k * static_cast<size_t>(m.nc)];
          const double *ul = &m.u[l * static_cast<size_t>(m.nc)];
          double sum = 0;
          for (int q = 0; q < m.nc; q++) sum += uk[q] * ul[q];
          m.pair[k * c + l] = m.pair[l * c + k] = sum;
          const double t = m.p * sum + m.w * m.e[k] * m.e[l];
          tpair_[k * c + l] += t;
          if (l != k) tpair_[l * c + k] += t;
        }
    }
  }
  run_.assign(n, 0);
  r_.assign(n * n, 0);
  total_.assign(n, 0);
  bad_.assign(n, 0);
  vrow_.assign(nmodels * n, 0);
  trow_.assign(n, 0);
}

double MdCriterion::cross(const ModelData &m, int32_t k, int32_t l) const {
  if (tables_) return m.pair[static_cast<size_t>(k) * static_cast<size_t>(ncand_) + static_cast<size_t>(l)];
  const double *uk = &m.u[static_cast<size_t>(k) * static_cast<size_t>(m.nc)];
  const double *ul = &m.u[static_cast<size_t>(l) * static_cast<size_t>(m.nc)];
  double sum = 0;
  for (int q = 0; q < m.nc; q++) sum += uk[q] * ul[q];
  return sum;
}

void MdCriterion::push(int32_t k) {
  const int t = depth_;
  const int n = max_runs_;
  const size_t ns = static_cast<size_t>(n);
  const size_t c = static_cast<size_t>(ncand_);
  const size_t ks = static_cast<size_t>(k);
  int32_t *runs = run_.data();
  runs[t] = k;
  // Row t of every V_i = I + Z_i G_i Z_i' and of
  // T = P I + sum_i (p_i Z_i G_i Z_i' + w_i e_i e_i').
  double *trow = trow_.data();
  for (int p = 0; p <= t; p++) trow[p] = p == t ? psum_ : 0.0;
  for (size_t i = 0; i < data_.size(); i++) {
    const ModelData &m = data_[i];
    double *v = &vrow_[i * ns];
    if (tables_) {
      const double *pair = &m.pair[ks * c];
      for (int p = 0; p <= t; p++) v[p] = pair[runs[p]];
    } else {
      const double ek = m.e[ks];
      for (int p = 0; p <= t; p++) {
        const double x = cross(m, k, runs[p]);
        v[p] = x;
        trow[p] += m.p * x + m.w * ek * m.e[static_cast<size_t>(runs[p])];
      }
    }
    v[t] += 1.0;
  }
  if (tables_) {
    const double *row = &tpair_[ks * c];
    for (int p = 0; p <= t; p++) trow[p] += row[runs[p]];
  }
  bool bad = t > 0 && bad_[static_cast<size_t>(t - 1)];
  if (!(cholesky_append_row(r_.data(), n, t, trow) > 0)) bad = true;
  const double *rrow = &r_[static_cast<size_t>(t) * ns];
  double sum = 0;
  for (size_t i = 0; i < data_.size(); i++) {
    ModelData &m = data_[i];
    double *l = m.l.data();
    double *y = m.y.data();
    if (!(cholesky_append_row(l, n, t, &vrow_[i * ns]) > 0)) bad = true;
    const double *lrow = l + static_cast<size_t>(t) * ns;
    double *yrow = y + static_cast<size_t>(t) * ns;
    // Row t of Y = L^-1 R by forward substitution, column by column.
    const double inverse_pivot = 1.0 / lrow[t];
    double squares = 0;
    for (int col = 0; col <= t; col++) {
      double x = rrow[col];
      for (int p = col; p < t; p++) x -= lrow[p] * y[static_cast<size_t>(p) * ns + static_cast<size_t>(col)];
      x *= inverse_pivot;
      yrow[col] = x;
      squares += x * x;
    }
    const double f = cholesky_forward_step(l, n, t, m.f.data(), m.e[ks]);
    m.f[static_cast<size_t>(t)] = f;
    sum += m.p * (squares + wsum_ * f * f);
  }
  total_[static_cast<size_t>(t)] = (t > 0 ? total_[static_cast<size_t>(t - 1)] : 0.0) + sum;
  bad_[static_cast<size_t>(t)] = bad;
  depth_ = t + 1;
}

double MdCriterion::value() const {
  if (depth_ == 0) return 0;
  const size_t t = static_cast<size_t>(depth_ - 1);
  if (bad_[t]) return NAN;
  return 0.5 * (total_[t] - psum_ * psum_ * depth_);
}

double MdCriterion::evaluate(const int32_t *runs, int n) {
  depth_ = 0;
  for (int t = 0; t < n; t++) push(runs[t]);
  return value();
}

// ---- The searches ---------------------------------------------------------------

std::vector<FollowUpDesign> search_exhaustive(MdCriterion &crit, int n, int top,
                                              uint64_t *evaluated, uint64_t *undefined) {
  TopDesigns best(top);
  uint64_t no_md = 0;
  const int c = crit.candidates();
  while (crit.depth() > 0) crit.pop();
  // Depth first over the non-decreasing sequences of candidates: each
  // multiset once, the runs before the last shared by all its siblings.
  auto extend = [&](auto &self, int from) -> void {
    const bool last = crit.depth() == n - 1;
    for (int k = from; k < c; k++) {
      crit.push(k);
      if (last) {
        const double md = crit.value();
        if (std::isnan(md)) no_md++;
        best.offer(crit, md);
        (*evaluated)++;
      } else {
        self(self, k);
      }
      crit.pop();
    }
  };
  extend(extend, 0);
  if (undefined != nullptr) *undefined += no_md;
  return best.take();
}

std::vector<FollowUpDesign> search_exchange(MdCriterion &crit, int n, int top, int starts,
                                            uint64_t seed, uint64_t *evaluated,
                                            int32_t *best_reached, uint64_t *undefined,
                                            double max_seconds, ExchangeEnd *end) {
  TopDesigns best(top);
  const int c = crit.candidates();
  SplitMix64 rng{seed};
  std::vector<int32_t> design(static_cast<size_t>(n));
  std::vector<double> ends;  // the MD at which each start ended
  uint64_t no_md = 0;
  const auto began = std::chrono::steady_clock::now();
  bool stopped = false;
  const auto out_of_time = [&] {
    if (max_seconds > 0 && !stopped)
      stopped = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() >= max_seconds;
    return stopped;
  };
  for (int start = 0; start < starts && !out_of_time(); start++) {
    for (int32_t &run : design) run = static_cast<int32_t>(rng.next() % static_cast<uint64_t>(c));
    double current = crit.evaluate(design.data(), n);
    (*evaluated)++;
    if (std::isnan(current)) no_md++;
    best.offer(crit, current);
    if (std::isnan(current)) current = -INFINITY;
    // Coordinate exchange (Meyer and Nachtsheim, Technometrics 37, 1995,
    // 60-69): each run in turn is replaced by the candidate that gives the
    // largest MD with the other runs kept, until a pass changes nothing.
    for (int pass = 0; pass < kMaxExchangePasses; pass++) {
      bool changed = false;
      for (int a = 0; a < n; a++) {
        while (crit.depth() > 0) crit.pop();
        for (int b = 0; b < n; b++)
          if (b != a) crit.push(design[static_cast<size_t>(b)]);
        int32_t chosen = design[static_cast<size_t>(a)];
        double chosen_value = current;
        for (int k = 0; k < c; k++) {
          if (k == design[static_cast<size_t>(a)]) continue;
          crit.push(k);
          const double v = crit.value();
          (*evaluated)++;
          if (std::isnan(v)) no_md++;
          best.offer(crit, v);
          crit.pop();
          if (improves(v, chosen_value)) {
            chosen = k;
            chosen_value = v;
          }
        }
        if (chosen != design[static_cast<size_t>(a)]) {
          design[static_cast<size_t>(a)] = chosen;
          current = chosen_value;
          changed = true;
        }
        if (out_of_time()) break;
      }
      if (!changed || stopped) break;
    }
    ends.push_back(current);
  }
  if (undefined != nullptr) *undefined += no_md;
  if (end != nullptr) {
    end->starts_run = static_cast<int32_t>(ends.size());
    end->stopped_early = stopped;
  }
  std::vector<FollowUpDesign> found = best.take();
  *best_reached = 0;
  if (!found.empty())
    for (double end : ends)
      if (!improves(found[0].md, end)) (*best_reached)++;
  return found;
}

// ---- The step ------------------------------------------------------------------------

namespace {

[[noreturn]] void follow_up_impossible(const char *what) {
  throw Error(std::string("\nNO FOLLOW-UP RUNS: ") + what + "\n", Channel::ScreenAndLog);
}

}  // namespace

FollowUpResult follow_up(const Design &design, const Settings &settings, const ModelTable &models,
                         CandidateRuns candidates) {
  PlaceGuard place("Run_Follow_Up");
  const FollowUpSettings &wanted = settings.follow_up;
  FollowUpResult r;
  r.runs = wanted.runs;
  r.candidates = std::move(candidates);
  char why[400];
  const std::vector<int32_t> indices = leading_models(settings.model_space, models, wanted.md_models);
  if (indices.size() < 2) {
    snprintf(why, sizeof why,
             "only %zu model has a posterior probability; the criterion compares two or more.",
             indices.size());
    follow_up_impossible(why);
  }
  if (r.candidates.count == 0) {
    uint64_t factors = 0;
    for (int32_t i : indices) factors |= models[i].fset;
    const int k = __builtin_popcountll(factors);
    if (k > kMaxFactorialFactors) {
      snprintf(why, sizeof why,
               "the %zu leading models hold %d factors, and a full factorial of candidate\n"
               "runs is built for at most %d. Give the candidate runs in a file with\n"
               "--candidates=FILE, or compare fewer models with --md-models=M.",
               indices.size(), k, kMaxFactorialFactors);
      follow_up_impossible(why);
    }
    r.candidates = full_factorial_candidates(design, factors);
  }
  uint64_t values = 0;
  for (int32_t i : indices) values += static_cast<uint64_t>(models[i].neff + 2);
  if (values * static_cast<uint64_t>(r.candidates.count) > kMaxCandidateValues) {
    snprintf(why, sizeof why,
             "%d candidate runs for %zu models would need more than %llu MB.\n"
             "Give fewer candidate runs, or compare fewer models with --md-models=M.",
             r.candidates.count, indices.size(),
             static_cast<unsigned long long>(kMaxCandidateValues * sizeof(double) >> 20));
    follow_up_impossible(why);
  }

  MdCriterion crit(design, settings, models, indices, r.candidates, r.runs);
  r.models = crit.models();
  for (const FollowUpModel &m : r.models)
    if (!(m.s2 > 0) || !std::isfinite(m.s2)) {
      snprintf(why, sizeof why,
               "the model %s leaves no error variance (s^2 = %g), so the criterion is not defined.",
               models[m.index].name, m.s2);
      follow_up_impossible(why);
    }
  r.multisets = multiset_count(r.candidates.count, r.runs, kMaxExhaustiveDesigns);
  r.exhaustive = r.multisets <= kMaxExhaustiveDesigns;
  r.evaluated = 0;
  r.undefined = 0;
  if (r.exhaustive) {
    r.best = search_exhaustive(crit, r.runs, wanted.top, &r.evaluated, &r.undefined);
  } else {
    r.starts = wanted.starts;
    r.seed = wanted.seed;
    ExchangeEnd end;
    r.best = search_exchange(crit, r.runs, wanted.top, r.starts, static_cast<uint64_t>(r.seed),
                             &r.evaluated, &r.best_reached, &r.undefined, wanted.max_seconds, &end);
    r.starts_run = end.starts_run;
    r.stopped_early = end.stopped_early;
  }
  return r;
}

}  // namespace bayescreen
