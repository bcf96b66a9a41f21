#include "engine/modelsearch.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "engine/effectcolumns.h"
#include "numeric/cholesky.h"
#include "support/error.h"
#include "support/helpers.h"
#include "support/parallel.h"
#include "support/showplaces.h"
#include "support/textbuf.h"

namespace bayescreen {

namespace {

// The first round's kept iterations per chain when the rounds run to the
// target; each later round doubles the total.
constexpr uint64_t kFirstRound = 16384;

// The least standard error reported. Batch means judge the error from the
// spread of the groups' means; a probability far in the tail (below about
// 0.001) rests on states the chains visit in few groups, and its spread
// then understates its error (measured against exact enumerations). The
// search does not resolve probabilities more finely than this.
constexpr double kResolution = 5e-4;

// The most models a chain's cache keeps; past it, new models are weighed
// each time they are proposed.
constexpr uint32_t kMaxCached = 1u << 20;

// The terms of the prior that the chains share. The candidate interactions
// with all, some and none of their parents among k main effects are
// counted by k alone, so that
//   log p(M) = base[k] + sum over the interactions i in M of logit(q_i),
//   base[k] = log p_main(k) + sum over every candidate interaction of log(1 - q_i),
// the prior of effectspace.h term by term.
struct PriorTerms {
  std::vector<double> base;                 // per k = 0 .. p
  double logit_all = 0, logit_some = 0, logit_none = 0;  // log(q / (1 - q)); -inf for q = 0
};

double logit(double q) { return q > 0 ? log(q) - log1p(-q) : -INFINITY; }

PriorTerms prior_terms(const EffectColumns &space) {
  PriorTerms t;
  const int p = space.p;
  const int order = std::min(space.model_space.order, p);
  auto choose = [](int n, int r) {
    if (r < 0 || r > n) return 0.0;
    double c = 1;
    for (int i = 1; i <= r; i++) c = c * (n - r + i) / i;
    return c;
  };
  const InteractionProbs &q = space.q;
  // log(1 - q) of a category none of whose interactions is present: 0 when
  // the category has no candidates (0 * -inf would be NaN otherwise).
  auto absent = [](double count, double qc) { return count > 0 ? count * log1p(-qc) : 0.0; };
  for (int k = 0; k <= p; k++) {
    double all = 0, some = 0, none = 0;
    for (int r = 2; r <= order; r++) {
      const double a = choose(k, r), n = choose(p - k, r);
      all += a;
      none += n;
      some += choose(p, r) - a - n;
    }
    t.base.push_back(log_main_prior(space.settings.effects, space.pi, p, k) + absent(all, q.all) +
                     absent(some, q.some) + absent(none, q.none));
  }
  t.logit_all = logit(q.all);
  t.logit_some = logit(q.some);
  t.logit_none = logit(q.none);
  return t;
}

// A chain's generator: the 64-bit Mersenne Twister, seeded from the seed
// and the chain's number.
struct Random {
  std::mt19937_64 engine;
  Random(int64_t seed, int chain) {
    const uint64_t s = static_cast<uint64_t>(seed);
    std::seed_seq sequence{static_cast<uint32_t>(s), static_cast<uint32_t>(s >> 32), static_cast<uint32_t>(chain),
                           0x5ea4c4u};
    engine.seed(sequence);
  }
  // Uniform on [0, 1), 53 random bits.
  double uniform() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }
  // Uniform on 0 .. n-1 (n > 0), by multiplying 32 random bits.
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(((engine() >> 32) * n) >> 32); }
};

// A Cholesky factor with its forward solution and the log of its pivots.
struct Factor {
  std::vector<double> l, z, log_pivot;
};

// The factors of a model: one of X'X + Gamma per gamma value, and one of
// X'X (regularity), for the columns root + effects in order.
struct Factors {
  std::vector<Factor> gamma;
  Factor plain;
  int t = 0;  // columns

  // Copies the first t rows of other's factors.
  void copy_from(const Factors &other, int ld) {
    t = other.t;
    auto copy = [&](Factor &to, const Factor &from) {
      for (int i = 0; i < t; i++)
        std::memcpy(&to.l[static_cast<size_t>(i * ld)], &from.l[static_cast<size_t>(i * ld)],
                    sizeof(double) * static_cast<size_t>(i + 1));
      std::memcpy(to.z.data(), from.z.data(), sizeof(double) * static_cast<size_t>(t));
      std::memcpy(to.log_pivot.data(), from.log_pivot.data(), sizeof(double) * static_cast<size_t>(t));
    };
    for (size_t g = 0; g < gamma.size(); g++) copy(gamma[g], other.gamma[g]);
    copy(plain, other.plain);
  }
};

// A cache of the models a chain has weighed: open addressing with linear
// probing over a table of indices into the stored keys (the model's effects
// as bits) and values.
class ModelCache {
 public:
  explicit ModelCache(int words) : words_(static_cast<size_t>(words)) { table_.assign(1024, -1); }

  // The index of the model with these key words, or -1.
  int32_t find(const uint64_t *key) const {
    for (size_t at = hash(key) & (table_.size() - 1);; at = (at + 1) & (table_.size() - 1)) {
      const int32_t i = table_[at];
      if (i < 0) return -1;
      if (std::memcmp(&keys_[static_cast<size_t>(i) * words_], key, words_ * sizeof(uint64_t)) == 0) return i;
    }
  }

  // Stores a model not yet stored; returns its index, or -1 when full.
  int32_t insert(const uint64_t *key, double log_weight) {
    if (log_weight_.size() >= kMaxCached) return -1;
    if ((log_weight_.size() + 1) * 2 > table_.size()) grow();
    const int32_t i = static_cast<int32_t>(log_weight_.size());
    keys_.insert(keys_.end(), key, key + words_);
    log_weight_.push_back(log_weight);
    visits_.push_back(0);
    place(i);
    return i;
  }

  size_t size() const { return log_weight_.size(); }
  const uint64_t *key(int32_t i) const { return &keys_[static_cast<size_t>(i) * words_]; }
  double log_weight(int32_t i) const { return log_weight_[static_cast<size_t>(i)]; }
  uint64_t visits(int32_t i) const { return visits_[static_cast<size_t>(i)]; }
  void visit(int32_t i) { visits_[static_cast<size_t>(i)]++; }

 private:
  size_t hash(const uint64_t *key) const {
    uint64_t h = 0x9e3779b97f4a7c15ull;
    for (size_t w = 0; w < words_; w++) {
      h ^= key[w];
      h *= 0xbf58476d1ce4e5b9ull;
      h ^= h >> 31;
    }
    return static_cast<size_t>(h);
  }
  void place(int32_t i) {
    size_t at = hash(key(i)) & (table_.size() - 1);
    while (table_[at] >= 0) at = (at + 1) & (table_.size() - 1);
    table_[at] = i;
  }
  void grow() {
    table_.assign(table_.size() * 2, -1);
    for (int32_t i = 0; i < static_cast<int32_t>(log_weight_.size()); i++) place(i);
  }

  size_t words_;
  std::vector<int32_t> table_;
  std::vector<uint64_t> keys_;
  std::vector<double> log_weight_;
  std::vector<uint64_t> visits_;
};

// The sums of one chain's samples (an indicator or a conditional
// probability per effect, per factor and for the empty model), in batches
// of `batch` samples for the batch means (the last batch may be partial).
struct Counts {
  uint64_t batch = 0;
  std::vector<double> total;           // ne + p + 1 sums
  std::vector<double> batches;         // the sums of each full batch, ne + p + 1 each
  std::vector<double> current;         // the batch under way
  uint64_t in_current = 0, kept = 0;   // samples

  void start(int ne, int p, uint64_t length) {
    batch = length;
    total.assign(static_cast<size_t>(ne + p + 1), 0.0);
    current.assign(total.size(), 0.0);
  }
  size_t width() const { return total.size(); }
  size_t full_batches() const { return batches.size() / width(); }
  void end_sample() {
    kept++;
    if (++in_current == batch) {
      batches.insert(batches.end(), current.begin(), current.end());
      for (size_t j = 0; j < current.size(); j++) total[j] += current[j];
      std::fill(current.begin(), current.end(), 0.0);
      in_current = 0;
    }
  }
  // The sums so far, the batch under way included.
  double sum(size_t j) const { return total[j] + current[j]; }
};

// The exact test (xtx_exactly_singular) of the model of the space's
// columns columns[0 .. m-1], its X'X taken from the cross products.
bool columns_exactly_singular(const EffectColumns &space, const int *columns, int m) {
  const size_t n = static_cast<size_t>(space.ncols), k = static_cast<size_t>(m);
  std::vector<double> xtx(k * k);
  std::vector<uint64_t> masks(k);
  for (size_t r = 0; r < k; r++) {
    const size_t cr = static_cast<size_t>(columns[r]);
    masks[r] = space.masks[cr];
    for (size_t s = 0; s < k; s++) xtx[r * k + s] = space.gram[cr * n + static_cast<size_t>(columns[s])];
  }
  return xtx_exactly_singular(space.design, xtx.data(), m, masks.data(), m);
}

// What every chain has: its generator, its cache of the models weighed, its
// counts, and the loop of iterations over the chain's own step() and
// tally() (Derived).
template <class Derived>
class ChainBase {
 public:
  ChainBase(int64_t seed, int number, int words) : random_(seed, number), words_(words), cache_(words) {}

  // Runs n iterations, counting them when keep.
  void run(uint64_t n, bool keep) {
    Derived &self = static_cast<Derived &>(*this);
    for (uint64_t i = 0; i < n; i++) {
      self.step();
      if (keep) self.tally();
    }
  }

  // The visits: per kept iteration, whether its model holds each item.
  const Counts &visits() const { return visits_; }
  // The conditional probabilities of inclusion, every thin-th kept
  // iteration.
  const Counts &conditional() const { return conditional_; }
  const ModelCache &cache() const { return cache_; }
  int words() const { return words_; }
  uint64_t proposals() const { return proposals_; }
  uint64_t evaluations() const { return evaluations_; }

 protected:
  // The log weight of the model of this key: from the cache, or by form()
  // (*formed set), then stored; its cache index in *index.
  template <class Form>
  double cached(const uint64_t *key, int32_t *index, bool *formed, Form form) {
    *formed = false;
    *index = cache_.find(key);
    if (*index >= 0) return cache_.log_weight(*index);
    evaluations_++;
    const double lw = form();
    *formed = true;
    *index = cache_.insert(key, lw);
    return lw;
  }

  // P(in | the rest) = w(with) / (w(with) + w(without)), from the log
  // weights (-inf: weight 0).
  static double conditional_probability(double with, double without) {
    if (!(with > -INFINITY)) return 0.0;
    if (!(without > -INFINITY)) return 1.0;
    return 1 / (1 + exp(without - with));
  }

  Random random_;
  int words_;
  ModelCache cache_;
  uint64_t proposals_ = 0, evaluations_ = 0;
  std::vector<double> q_;  // the conditional probabilities of the last sample
  Counts visits_, conditional_;
};

// One Markov chain over the models of the effects space.
class Chain : public ChainBase<Chain> {
  friend class ChainBase<Chain>;

 public:
  Chain(const EffectColumns &space, const PriorTerms &prior, int64_t seed, int number, uint64_t batch)
      : ChainBase(seed, number, (space.ne + 63) / 64), space_(space), prior_(prior),
        thin_(static_cast<uint64_t>(std::max(1, space.ne / 2))) {
    ld_ = std::min(space.ncols, space.runs + 1);
    ng_ = static_cast<int>(space.gammas.size());
    for (Factors *f : {&cur_, &prop_}) {
      f->gamma.resize(static_cast<size_t>(ng_));
      for (Factor *x : all(*f)) {
        x->l.assign(static_cast<size_t>(ld_ * ld_), 0.0);
        x->z.assign(static_cast<size_t>(ld_), 0.0);
        x->log_pivot.assign(static_cast<size_t>(ld_), 0.0);
      }
    }
    column_.assign(static_cast<size_t>(2 * ld_), 0);
    a_.assign(static_cast<size_t>(ld_), 0.0);
    ag_.assign(static_cast<size_t>(ld_), 0.0);
    logdet_.assign(static_cast<size_t>(ng_), 0.0);
    wsq_.assign(static_cast<size_t>(ng_), 0.0);
    logml_.assign(static_cast<size_t>(ng_), 0.0);
    in_.assign(static_cast<size_t>(space.ne), 0);
    key_.assign(static_cast<size_t>(words_), 0);
    prop_key_.assign(static_cast<size_t>(words_), 0);
    visits_.start(space.ne, space.p, batch);
    conditional_.start(space.ne, space.p, std::max<uint64_t>(8, batch / thin_));
    q_.assign(static_cast<size_t>(space.ne), 0.0);
    holding_.assign(static_cast<size_t>(space.p), {});
    for (int e = 0; e < space.ne; e++)
      if (!space.is_main(e))
        for (uint64_t bits = screened_bits(space.effects[static_cast<size_t>(e)].mask, space.first); bits != 0;
             bits &= bits - 1)
          holding_[static_cast<size_t>(__builtin_ctzll(bits))].push_back(e);
    family_moves_ = space.settings.effects.heredity == Heredity::Strong && space.ne > space.p;
    start();
  }


 private:
  static std::vector<Factor *> all(Factors &f) {
    std::vector<Factor *> v;
    for (Factor &g : f.gamma) v.push_back(&g);
    v.push_back(&f.plain);
    return v;
  }

  // The chain's random start: the intercept and blocks, then each main
  // effect with probability 1/2 (in a random order), kept while X'X stays
  // regular and the model has fewer columns than runs.
  void start() {
    cur_.t = 0;
    for (int c = 0; c < space_.root; c++)
      if (!append(cur_, c, c)) throw Error("\nNO MODEL HAS A WEIGHT: the blocks' X'X is singular !\n");
    std::vector<int32_t> mains;
    for (int e = 0; e < space_.ne; e++)
      if (space_.is_main(e)) mains.push_back(e);
    for (size_t i = mains.size(); i > 1; i--) std::swap(mains[i - 1], mains[random_.below(static_cast<uint32_t>(i))]);
    for (int32_t e : mains) {
      if (random_.uniform() >= 0.5) continue;
      if (cur_.t + 1 >= space_.runs) break;
      if (!append(cur_, space_.column(e), cur_.t)) continue;
      effects_.push_back(e);
    }
    for (int32_t e : effects_) set_bit(key_, e);
    for (int32_t e : effects_) in_[static_cast<size_t>(e)] = 1;
    mains_ = 0;
    for (int32_t e : effects_) mains_ |= screened_bits(space_.effects[static_cast<size_t>(e)].mask, space_.first);
    factors_ = mains_;
    cur_lp_ = log_prior(effects_, mains_) + log_ml(cur_, effects_);
    cur_index_ = cache_.insert(key_.data(), cur_lp_);
  }

  static void set_bit(std::vector<uint64_t> &key, int e) { key[static_cast<size_t>(e / 64)] ^= uint64_t{1} << (e % 64); }

  // The prior's category term of interaction e under the main effects.
  double interaction_logit(int e, uint64_t mains) const {
    const CandidateEffect &effect = space_.effects[static_cast<size_t>(e)];
    const int in = __builtin_popcountll(screened_bits(effect.mask, space_.first) & mains);
    if (in == effect.order) return prior_.logit_all;
    return in > 0 ? prior_.logit_some : prior_.logit_none;
  }

  double log_prior(const std::vector<int32_t> &effects, uint64_t mains) const {
    double lp = prior_.base[static_cast<size_t>(__builtin_popcountll(mains))];
    for (int32_t e : effects)
      if (!space_.is_main(e)) lp += interaction_logit(e, mains);
    return lp;
  }

  // Appends the space's column c as column j (= f.t) of the model's
  // factors; false, leaving f.t as it was, when X'X becomes singular.
  bool append(Factors &f, int c, int j) {
    const size_t n = static_cast<size_t>(space_.ncols);
    column_[static_cast<size_t>(j)] = c;
    for (int i = 0; i <= j; i++)
      a_[static_cast<size_t>(i)] = space_.gram[static_cast<size_t>(c) * n + static_cast<size_t>(column_[static_cast<size_t>(i)])];
    const double length = a_[static_cast<size_t>(j)];
    if (!space_.keep_aliased) {
      const double d = cholesky_append_row(f.plain.l.data(), ld_, j, a_.data());
      if (!(d > kClearPivot * length) && (!(d > 0) || columns_exactly_singular(space_, column_.data(), j + 1)))
        return false;
      f.plain.log_pivot[static_cast<size_t>(j)] = log(d);
    }
    const bool interaction = interaction_column(space_.model_space, space_.masks[static_cast<size_t>(c)]);
    const std::vector<double> &precision = interaction ? space_.interaction_precision : space_.main_precision;
    const double b = space_.gram_y[static_cast<size_t>(c)];
    for (int g = 0; g < ng_; g++) {
      Factor &x = f.gamma[static_cast<size_t>(g)];
      std::memcpy(ag_.data(), a_.data(), sizeof(double) * static_cast<size_t>(j + 1));
      if (j > 0) ag_[static_cast<size_t>(j)] = length + precision[static_cast<size_t>(g)];
      const double d = cholesky_append_row(x.l.data(), ld_, j, ag_.data());
      if (!(d > 0)) cannot_invert_xtxg(j + 1);
      x.log_pivot[static_cast<size_t>(j)] = log(d);
      x.z[static_cast<size_t>(j)] = cholesky_forward_step(x.l.data(), ld_, j, x.z.data(), b);
    }
    f.t = j + 1;
    return true;
  }

  // Removes column j of the model's factors.
  void remove(Factors &f, int j) {
    for (Factor *x : all(f)) {
      if (x == &f.plain && space_.keep_aliased) continue;
      cholesky_remove_row(x->l.data(), ld_, f.t, j, x->z.data());
      for (int i = j; i + 1 < f.t; i++) {
        const double d = x->l[static_cast<size_t>(i * ld_ + i)];
        x->log_pivot[static_cast<size_t>(i)] = log(d * d);
      }
    }
    for (int i = j; i + 1 < f.t; i++) column_[static_cast<size_t>(i)] = column_[static_cast<size_t>(i + 1)];
    f.t--;
  }

  // log of the mean marginal likelihood of the model of these factors.
  double log_ml(const Factors &f, const std::vector<int32_t> &effects) {
    int n_int = 0;
    for (int32_t e : effects) n_int += space_.is_main(e) ? 0 : 1;
    const int n_main = space_.blocks + static_cast<int>(effects.size()) - n_int;
    for (int g = 0; g < ng_; g++) {
      const Factor &x = f.gamma[static_cast<size_t>(g)];
      double logdet = 0, wsq = 0;
      for (int i = 0; i < f.t; i++) {
        logdet += x.log_pivot[static_cast<size_t>(i)];
        wsq += x.z[static_cast<size_t>(i)] * x.z[static_cast<size_t>(i)];
      }
      logdet_[static_cast<size_t>(g)] = logdet;
      wsq_[static_cast<size_t>(g)] = wsq;
    }
    return log_mean_marginal(space_, n_main, n_int, logdet_.data(), wsq_.data(), logml_.data());
  }

  // Forms the proposal's factors from the current ones: the effect at
  // position `out` (or none: -1) removed, then effect `add` (or none: -1)
  // appended. Returns the log marginal likelihood, -inf when singular.
  double form_proposal(int out, int add) {
    std::memcpy(column_.data() + ld_, column_.data(), sizeof(int) * static_cast<size_t>(cur_.t));
    prop_.copy_from(cur_, ld_);
    if (out >= 0) remove(prop_, space_.root + out);
    if (add >= 0 && !append(prop_, space_.column(add), prop_.t)) {
      restore_columns();
      return -INFINITY;
    }
    const double lml = log_ml(prop_, prop_effects_);
    return lml;
  }
  void restore_columns() {
    std::memcpy(column_.data(), column_.data() + ld_, sizeof(int) * static_cast<size_t>(cur_.t));
  }

  // Forms the factors of the model of the effects in prop_effects_ afresh
  // (a move of several effects). Returns the log marginal likelihood, -inf
  // when singular (the current columns restored).
  double form_model() {
    std::memcpy(column_.data() + ld_, column_.data(), sizeof(int) * static_cast<size_t>(cur_.t));
    prop_.t = 0;
    for (int c = 0; c < space_.root; c++) append(prop_, c, c);
    for (int32_t e : prop_effects_)
      if (!append(prop_, space_.column(e), prop_.t)) {
        restore_columns();
        return -INFINITY;
      }
    return log_ml(prop_, prop_effects_);
  }

  // The main effects of the model whose factor is in one of its
  // interactions (those a family move may take out).
  std::vector<int32_t> families(const std::vector<int32_t> &effects) const {
    uint64_t covered = 0;
    for (int32_t e : effects)
      if (!space_.is_main(e)) covered |= screened_bits(space_.effects[static_cast<size_t>(e)].mask, space_.first);
    std::vector<int32_t> out;
    for (int32_t e : effects)
      if (space_.is_main(e) && (covered & screened_bits(space_.effects[static_cast<size_t>(e)].mask, space_.first)))
        out.push_back(e);
    return out;
  }

  // The interactions holding main effect f (a screened factor) whose other
  // factors all have their main effects among `mains`.
  std::vector<int32_t> completed_by(int f, uint64_t mains) const {
    std::vector<int32_t> out;
    for (int32_t i : holding_[static_cast<size_t>(f)]) {
      const uint64_t others = screened_bits(space_.effects[static_cast<size_t>(i)].mask, space_.first) & ~(uint64_t{1} << f);
      if ((others & ~mains) == 0) out.push_back(i);
    }
    return out;
  }

  // log(2^a - 1): the number of nonempty subsets of a things.
  static double log_nonempty_subsets(size_t a) {
    return a < 60 ? log(std::ldexp(1.0, static_cast<int>(a)) - 1) : static_cast<double>(a) * M_LN2;
  }

  // The family move, under strong heredity: with probability 1/2 a main
  // effect that some interaction of the model holds leaves with all those
  // interactions (drawn uniformly from such main effects); else a main
  // effect outside the model joins with a nonempty subset, drawn uniformly,
  // of the interactions it completes. Each is the other's reverse; the
  // acceptance ratio carries the proposal probabilities (Hastings).
  void family_step() {
    const bool leave = random_.uniform() < 0.5;
    uint64_t mains = mains_;
    double log_q = 0;  // log q(M | M') - log q(M' | M)
    prop_effects_.clear();
    if (leave) {
      const std::vector<int32_t> d = families(effects_);
      if (d.empty()) return;
      const int32_t f = d[random_.below(static_cast<uint32_t>(d.size()))];
      const uint64_t bit = screened_bits(space_.effects[static_cast<size_t>(f)].mask, space_.first);
      for (int32_t e : effects_)
        if (!(screened_bits(space_.effects[static_cast<size_t>(e)].mask, space_.first) & bit))
          prop_effects_.push_back(e);
      mains &= ~bit;
      const size_t outside = static_cast<size_t>(space_.p - __builtin_popcountll(mains));
      const size_t a = completed_by(f, mains).size();
      log_q = log(static_cast<double>(outside)) * -1 - log_nonempty_subsets(a) + log(static_cast<double>(d.size()));
    } else {
      const size_t outside = static_cast<size_t>(space_.p - __builtin_popcountll(mains_));
      if (outside == 0) return;
      uint32_t pick = random_.below(static_cast<uint32_t>(outside));
      int f = 0;
      for (;; f++)
        if (!(mains_ >> f & 1) && pick-- == 0) break;
      const std::vector<int32_t> a = completed_by(f, mains_);
      if (a.empty()) return;
      std::vector<int32_t> joining;
      do {
        joining.clear();
        for (int32_t i : a)
          if (random_.uniform() < 0.5) joining.push_back(i);
      } while (joining.empty());
      prop_effects_ = effects_;
      prop_effects_.push_back(f);  // main effect f is effect f
      prop_effects_.insert(prop_effects_.end(), joining.begin(), joining.end());
      mains |= uint64_t{1} << f;
      log_q = log(static_cast<double>(outside)) + log_nonempty_subsets(a.size()) -
              log(static_cast<double>(families(prop_effects_).size()));
    }
    if (space_.root + static_cast<int>(prop_effects_.size()) > space_.runs) return;
    const double lprior = log_prior(prop_effects_, mains);
    if (lprior == -INFINITY) return;
    std::fill(prop_key_.begin(), prop_key_.end(), 0);
    for (int32_t e : prop_effects_) set_bit(prop_key_, e);
    int32_t index = -1;
    bool formed = false;
    const double lp = cached(prop_key_.data(), &index, &formed, [&] { return lprior + form_model(); });
    if (!(lp > -INFINITY) || !(log(random_.uniform()) < lp - cur_lp_ + log_q)) {
      if (formed) restore_columns();
      return;
    }
    if (!formed) form_model();
    accept(mains, lp, index);
  }

  // The proposal (prop_, prop_effects_, prop_key_; its columns in column_)
  // becomes the current model.
  void accept(uint64_t mains, double lp, int32_t index) {
    std::swap(cur_, prop_);
    for (int32_t e : effects_) in_[static_cast<size_t>(e)] = 0;
    for (int32_t e : prop_effects_) in_[static_cast<size_t>(e)] = 1;
    effects_.swap(prop_effects_);
    key_.swap(prop_key_);
    mains_ = mains;
    factors_ = 0;
    for (int32_t e : effects_) factors_ |= screened_bits(space_.effects[static_cast<size_t>(e)].mask, space_.first);
    cur_lp_ = lp;
    cur_index_ = index;
  }

  // The log weight (prior included) of the current model with the effect
  // at position `out` of effects_ removed (-1: none) and effect `add` added
  // (-1: none): -inf for a model of zero prior, of more columns than runs
  // or of singular X'X. From the cache, or formed in prop_ (*formed: its
  // columns are in column_, restore_columns() undoes that). Leaves the
  // model's effects in prop_effects_, its main effects in *mains, its key
  // in prop_key_ and its cache index in *index.
  double neighbour(int out, int add, uint64_t *mains, int32_t *index, bool *formed) {
    *formed = false;
    *index = -1;
    const int n_in = static_cast<int>(effects_.size());
    if (add >= 0 && out < 0 && space_.root + n_in + 1 > space_.runs) return -INFINITY;
    prop_effects_ = effects_;
    *mains = mains_;
    if (out >= 0) {
      const int e = effects_[static_cast<size_t>(out)];
      prop_effects_.erase(prop_effects_.begin() + out);
      if (space_.is_main(e)) *mains &= ~screened_bits(space_.effects[static_cast<size_t>(e)].mask, space_.first);
    }
    if (add >= 0) {
      prop_effects_.push_back(add);
      if (space_.is_main(add)) *mains |= screened_bits(space_.effects[static_cast<size_t>(add)].mask, space_.first);
    }
    const double lprior = log_prior(prop_effects_, *mains);
    if (lprior == -INFINITY) return -INFINITY;
    prop_key_ = key_;
    if (out >= 0) set_bit(prop_key_, effects_[static_cast<size_t>(out)]);
    if (add >= 0) set_bit(prop_key_, add);
    return cached(prop_key_.data(), index, formed, [&] { return lprior + form_proposal(out, add); });
  }

  // One iteration: propose, weigh and accept or refuse.
  void step() {
    proposals_++;
    int out = -1, add = -1;  // position in effects_ of the effect removed; effect added
    const int n_in = static_cast<int>(effects_.size());
    if (random_.uniform() < 0.5) {
      const int e = static_cast<int>(random_.below(static_cast<uint32_t>(space_.ne)));
      if (in_[static_cast<size_t>(e)])
        out = position(e);
      else
        add = e;
    } else {
      // The family move takes half of the other moves where it applies.
      if (family_moves_ && random_.uniform() < 0.5) {
        family_step();
        return;
      }
      if (n_in == 0 || n_in == space_.ne) return;
      out = static_cast<int>(random_.below(static_cast<uint32_t>(n_in)));
      do add = static_cast<int>(random_.below(static_cast<uint32_t>(space_.ne)));
      while (in_[static_cast<size_t>(add)]);
    }
    uint64_t mains = 0;
    int32_t index = -1;
    bool formed = false;
    const double lp = neighbour(out, add, &mains, &index, &formed);
    if (!(lp > -INFINITY) || !(log(random_.uniform()) < lp - cur_lp_)) {
      if (formed) restore_columns();
      return;
    }
    if (!formed) form_proposal(out, add);
    accept(mains, lp, index);
  }

  int position(int e) const {
    return static_cast<int>(std::find(effects_.begin(), effects_.end(), e) - effects_.begin());
  }

  // The conditional probabilities of the current model's neighbours: for
  // each effect e, P(e in M | the rest of M) = w(M + e) / (w(M + e) + w(M - e))
  // (Rao-Blackwellised estimates: Guan and Stephens 2011), whose average
  // over the chain estimates P(e in M) with less variance than the visits.
  // A factor is active surely when an interaction holding it is in, else
  // with its main effect's conditional probability; the empty model's share
  // is (1/ne) sum over e of [M - e empty] (1 - q_e).
  void sample_conditionals() {
    uint64_t mains = 0;
    int32_t index = -1;
    bool formed = false;
    for (int e = 0; e < space_.ne; e++) {
      double in_w, out_w;
      if (in_[static_cast<size_t>(e)]) {
        in_w = cur_lp_;
        out_w = neighbour(position(e), -1, &mains, &index, &formed);
      } else {
        out_w = cur_lp_;
        in_w = neighbour(-1, e, &mains, &index, &formed);
      }
      if (formed) restore_columns();
      q_[static_cast<size_t>(e)] = conditional_probability(in_w, out_w);
    }
    double *c = conditional_.current.data();
    const size_t ne = static_cast<size_t>(space_.ne);
    for (size_t e = 0; e < ne; e++) c[e] += q_[e];
    uint64_t covered = 0;  // factors of the interactions in the model
    for (int32_t e : effects_)
      if (!space_.is_main(e)) covered |= screened_bits(space_.effects[static_cast<size_t>(e)].mask, space_.first);
    for (int f = 0; f < space_.p; f++)
      c[ne + static_cast<size_t>(f)] += (covered >> f & 1) ? 1.0 : q_[static_cast<size_t>(f)];
    double none = 0;
    if (effects_.empty())
      for (size_t e = 0; e < ne; e++) none += 1 - q_[e];
    else if (effects_.size() == 1)
      none = 1 - q_[static_cast<size_t>(effects_.front())];
    c[ne + static_cast<size_t>(space_.p)] += none / static_cast<double>(ne);
    conditional_.end_sample();
  }

  // Counts the current model in the kept iterations, and every thin-th one
  // samples the conditional probabilities.
  void tally() {
    double *c = visits_.current.data();
    for (int32_t e : effects_) c[e]++;
    for (uint64_t bits = factors_; bits != 0; bits &= bits - 1) c[space_.ne + __builtin_ctzll(bits)]++;
    if (effects_.empty()) c[space_.ne + space_.p]++;
    if (cur_index_ >= 0) cache_.visit(cur_index_);
    if (visits_.kept % thin_ == 0) sample_conditionals();
    visits_.end_sample();
  }

  const EffectColumns &space_;
  const PriorTerms &prior_;
  int ld_ = 0, ng_ = 0;
  Factors cur_, prop_;
  // The space's columns of the model under construction, and (from ld_ on)
  // those of the current model while a proposal is formed.
  std::vector<int> column_;
  std::vector<double> a_, ag_, logdet_, wsq_, logml_;
  std::vector<int32_t> effects_, prop_effects_;  // effects in column order
  std::vector<char> in_;
  std::vector<uint64_t> key_, prop_key_;
  uint64_t mains_ = 0, factors_ = 0;
  double cur_lp_ = 0;
  int32_t cur_index_ = -1;
  uint64_t thin_;  // kept iterations per sample of the conditionals
  std::vector<std::vector<int32_t>> holding_;  // per screened factor: the interactions holding it
  bool family_moves_ = false;                  // strong heredity with interactions
};

// The figures of the chains' counts: pooled frequencies, batch-means
// standard errors and the largest difference between chains.
struct Estimates {
  std::vector<double> frequency, se;
  double largest_se = 0, chain_difference = 0;
};

Estimates estimate(const std::vector<const Counts *> &chains) {
  const Counts &first = *chains.front();
  const size_t width = first.width();
  Estimates out;
  out.frequency.assign(width, 0.0);
  out.se.assign(width, 0.0);
  uint64_t kept = 0;
  for (const Counts *c : chains) {
    kept += c->kept;
    for (size_t j = 0; j < width; j++) out.frequency[j] += c->sum(j);
  }
  for (double &f : out.frequency) f /= static_cast<double>(kept);

  // Batch means: each chain's full batches in g = floor(sqrt(m)) groups of
  // s = m / g batches, the earliest m - g s batches left out.
  std::vector<std::vector<double>> groups;  // per group, its means
  for (const Counts *c : chains) {
    const Counts &k = *c;
    const size_t m = k.full_batches();
    const size_t g = static_cast<size_t>(std::floor(std::sqrt(static_cast<double>(m))));
    if (g == 0) continue;
    const size_t s = m / g, skip = m - g * s;
    for (size_t i = 0; i < g; i++) {
      std::vector<double> mean(width, 0.0);
      for (size_t b = skip + i * s; b < skip + (i + 1) * s; b++)
        for (size_t j = 0; j < width; j++) mean[j] += k.batches[b * width + j];
      for (double &v : mean) v /= static_cast<double>(s * k.batch);
      groups.push_back(std::move(mean));
    }
  }
  const size_t ng = groups.size();
  for (size_t j = 0; j < width; j++) {
    if (ng < 2) {
      out.se[j] = INFINITY;
      continue;
    }
    double mean = 0;
    for (const std::vector<double> &gr : groups) mean += gr[j];
    mean /= static_cast<double>(ng);
    double ss = 0;
    for (const std::vector<double> &gr : groups) ss += (gr[j] - mean) * (gr[j] - mean);
    out.se[j] = std::sqrt(ss / static_cast<double>(ng - 1) / static_cast<double>(ng));
  }
  for (size_t j = 0; j < width; j++) {
    out.se[j] = std::max(out.se[j], kResolution);
    out.largest_se = std::max(out.largest_se, out.se[j]);
    double lo = INFINITY, hi = -INFINITY;
    for (const Counts *c : chains) {
      const double f = c->sum(j) / static_cast<double>(c->kept);
      lo = std::min(lo, f);
      hi = std::max(hi, f);
    }
    out.chain_difference = std::max(out.chain_difference, hi - lo);
  }
  return out;
}

// The weights of the models of a cache normalised over them: per effect,
// per factor and for the empty model, the share of the models holding it.
struct Renormalised {
  std::vector<double> share;
  double log_total = -INFINITY;  // log of the sum of the weights
  uint64_t weighed = 0;          // models with a weight
};

Renormalised renormalise(const ModelCache &cache, const EffectColumns &space, size_t ne) {
  const size_t p = static_cast<size_t>(space.p);
  Renormalised out;
  out.share.assign(ne + p + 1, 0.0);
  double top = -INFINITY;
  for (int32_t i = 0; i < static_cast<int32_t>(cache.size()); i++) top = std::max(top, cache.log_weight(i));
  if (!(top > -INFINITY)) return out;
  double total = 0;
  for (int32_t i = 0; i < static_cast<int32_t>(cache.size()); i++) {
    const double lw = cache.log_weight(i);
    if (!(lw > -INFINITY)) continue;
    out.weighed++;
    const double w = exp(lw - top);
    total += w;
    const uint64_t *key = cache.key(i);
    uint64_t factors = 0;
    bool empty = true;
    for (size_t word = 0; word * 64 < ne; word++)
      for (uint64_t bits = key[word]; bits != 0; bits &= bits - 1) {
        const size_t e = word * 64 + static_cast<size_t>(__builtin_ctzll(bits));
        out.share[e] += w;
        factors |= screened_bits(space.effects[e].mask, space.first);
        empty = false;
      }
    for (uint64_t bits = factors; bits != 0; bits &= bits - 1) out.share[ne + static_cast<size_t>(__builtin_ctzll(bits))] += w;
    if (empty) out.share[ne + p] += w;
  }
  for (double &v : out.share) v /= total;
  out.log_total = top + log(total);
  return out;
}

// The batch length: 256 iterations, longer for wide spaces so that the
// stored batches stay within a few megabytes per million iterations.
uint64_t batch_length(const EffectColumns &space) {
  const uint64_t width = static_cast<uint64_t>(space.ne + space.p + 1);
  return 256 * std::max<uint64_t>(1, (width + 255) / 256);
}

// One Markov chain over the factors space: each model the full factorial,
// to the model-space order, of a set S of the screened factors (1 to
// --max-factors of them, or none with --null), weighed as the enumeration
// weighs it (box_meyer_log_weight with the factor term (pi/(1-pi))^|S|).
// The moves add or delete a factor drawn uniformly, or swap a factor of S
// for one outside it (probability 1/2 each; both symmetric). A model's
// factors are formed afresh from the cross products of its columns.
// The conditional probability of factor f is w(S + f) / (w(S + f) + w(S - f)).
class FactorChain : public ChainBase<FactorChain> {
  friend class ChainBase<FactorChain>;

 public:
  FactorChain(const EffectColumns &space, int64_t seed, int number, uint64_t batch)
      : ChainBase(seed, number, 1), space_(space), p_(space.p) {
    ld_ = std::min(space.ncols, space.runs + 1);
    l_.assign(static_cast<size_t>(ld_ * ld_), 0.0);
    lg_.assign(static_cast<size_t>(ld_ * ld_), 0.0);
    z_.assign(static_cast<size_t>(ld_), 0.0);
    a_.assign(static_cast<size_t>(ld_), 0.0);
    columns_.reserve(static_cast<size_t>(ld_));
    visits_.start(p_, p_, batch);
    conditional_.start(p_, p_, std::max<uint64_t>(8, batch / thin()));
    q_.assign(static_cast<size_t>(p_), 0.0);
    // A random start: each factor with probability 1/2, within the size
    // limits, until its weight is positive.
    for (int tries = 0; tries < 100 && !(current_ > -INFINITY); tries++) {
      set_ = 0;
      for (int f = 0; f < p_; f++)
        if (random_.uniform() < 0.5 && __builtin_popcountll(set_) < space_.model_space.max_factors)
          set_ |= uint64_t{1} << f;
      current_ = weight(set_, &index_);
    }
    for (int f = 0; f < p_ && !(current_ > -INFINITY); f++) {  // a single factor, else the null model
      set_ = uint64_t{1} << f;
      current_ = weight(set_, &index_);
    }
    if (!(current_ > -INFINITY) && space_.model_space.with_null) current_ = weight(set_ = 0, &index_);
    if (!(current_ > -INFINITY))
      throw Error("\nNO MODEL HAS A WEIGHT: every model the search tried is singular !\n");
  }

 private:
  uint64_t thin() const { return static_cast<uint64_t>(std::max(1, p_ / 2)); }

  // The log weight of the model of the factors in s (bit f: screened
  // factor f): -inf outside the model set or for a singular X'X.
  double weight(uint64_t s, int32_t *index) {
    bool formed = false;
    return cached(&s, index, &formed, [&] { return form(s); });
  }

  double form(uint64_t s) {
    const int nf = __builtin_popcountll(s);
    if (nf > space_.model_space.max_factors || (nf == 0 && !space_.model_space.with_null)) return -INFINITY;
    // The columns: intercept, blocks, then every candidate effect whose
    // factors all lie in s.
    columns_.clear();
    for (int c = 0; c < space_.root; c++) columns_.push_back(c);
    int n_int = 0;
    for (int e = 0; e < space_.ne; e++) {
      const uint64_t bits = screened_bits(space_.effects[static_cast<size_t>(e)].mask, space_.first);
      if ((bits & ~s) != 0) continue;
      if (static_cast<int>(columns_.size()) >= space_.runs) return -INFINITY;  // more columns than runs
      columns_.push_back(space_.column(e));
      if (!space_.is_main(e)) n_int++;
    }
    const size_t n = static_cast<size_t>(space_.ncols);
    const BoxMeyerPrior &prior = space_.gammas.front();
    const double precision_main = space_.main_precision.front(), precision_int = space_.interaction_precision.front();
    double logdet = 0, wsq = 0;
    for (size_t j = 0; j < columns_.size(); j++) {
      const size_t c = static_cast<size_t>(columns_[j]);
      for (size_t i = 0; i <= j; i++) a_[i] = space_.gram[c * n + static_cast<size_t>(columns_[i])];
      const double length = a_[j];
      const double d = cholesky_append_row(l_.data(), ld_, static_cast<int>(j), a_.data());
      if (!(d > kClearPivot * length) &&
          (!(d > 0) || columns_exactly_singular(space_, columns_.data(), static_cast<int>(j) + 1)))
        return -INFINITY;
      if (j > 0)
        a_[j] = length + (interaction_column(space_.model_space, space_.masks[c]) ? precision_int : precision_main);
      const double dg = cholesky_append_row(lg_.data(), ld_, static_cast<int>(j), a_.data());
      if (!(dg > 0)) cannot_invert_xtxg(static_cast<int>(j) + 1);
      z_[j] = cholesky_forward_step(lg_.data(), ld_, static_cast<int>(j), z_.data(), space_.gram_y[c]);
      logdet += log(dg);
      wsq += z_[j] * z_[j];
    }
    BoxMeyerTerms terms;
    terms.runs = space_.runs;
    terms.nf = nf;
    terms.n_main = space_.blocks + nf;
    terms.n_int = n_int;
    terms.logdet = logdet;
    terms.qqc = space_.sst > wsq ? space_.sst - wsq : 0.0;
    return box_meyer_log_weight(terms, prior);
  }

  void step() {
    proposals_++;
    uint64_t proposal = set_;
    if (random_.uniform() < 0.5) {
      proposal ^= uint64_t{1} << random_.below(static_cast<uint32_t>(p_));
    } else {
      const int in = __builtin_popcountll(set_);
      if (in == 0 || in == p_) return;
      uint32_t pick = random_.below(static_cast<uint32_t>(in));
      uint64_t bits = set_;
      while (pick-- > 0) bits &= bits - 1;
      int out;
      do out = static_cast<int>(random_.below(static_cast<uint32_t>(p_)));
      while (set_ >> out & 1);
      proposal ^= (bits & (~bits + 1)) | (uint64_t{1} << out);
    }
    int32_t index = -1;
    const double lw = weight(proposal, &index);
    if (!(lw > -INFINITY) || !(log(random_.uniform()) < lw - current_)) return;
    set_ = proposal;
    current_ = lw;
    index_ = index;
  }

  void tally() {
    double *c = visits_.current.data();
    for (uint64_t bits = set_; bits != 0; bits &= bits - 1) {
      c[__builtin_ctzll(bits)]++;
      c[p_ + __builtin_ctzll(bits)]++;
    }
    if (set_ == 0) c[2 * p_]++;
    if (index_ >= 0) cache_.visit(index_);
    if (visits_.kept % thin() == 0) sample_conditionals();
    visits_.end_sample();
  }

  void sample_conditionals() {
    int32_t index = -1;
    for (int f = 0; f < p_; f++) {
      const uint64_t bit = uint64_t{1} << f;
      const double in_w = (set_ & bit) ? current_ : weight(set_ | bit, &index);
      const double out_w = (set_ & bit) ? weight(set_ & ~bit, &index) : current_;
      q_[static_cast<size_t>(f)] = conditional_probability(in_w, out_w);
    }
    double *c = conditional_.current.data();
    double none = 0;
    for (int f = 0; f < p_; f++) {
      c[f] += q_[static_cast<size_t>(f)];
      c[p_ + f] += q_[static_cast<size_t>(f)];
      if ((set_ & ~(uint64_t{1} << f)) == 0) none += 1 - q_[static_cast<size_t>(f)];
    }
    c[2 * p_] += none / p_;
    conditional_.end_sample();
  }

  const EffectColumns &space_;
  int p_, ld_ = 0;
  std::vector<double> l_, lg_, z_, a_;
  std::vector<int> columns_;
  uint64_t set_ = 0;
  double current_ = -INFINITY;
  int32_t index_ = -1;
};

}  // namespace

const char *parse_search_mode(const char *text, SearchSettings *search) {
  if (!choose_word(text, {{"auto", SearchMode::Auto}, {"mcmc", SearchMode::Mcmc}, {"exact", SearchMode::Exact}},
                   &search->mode))
    return "the search is auto, mcmc or exact";
  return nullptr;
}

bool model_space_searched(const Design &design, const Settings &settings) {
  switch (settings.search.mode) {
    case SearchMode::Mcmc: return true;
    case SearchMode::Exact: return false;
    case SearchMode::Auto: {
      const uint64_t count = settings.effects.kind == SpaceKind::Effects ? count_effect_models(design, settings)
                                                                        : count_models(design, settings.model_space);
      return count > static_cast<uint64_t>(settings.model_space.max_models);
    }
  }
  return false;
}

void check_factor_search_size(const Design &design, const Settings &settings) {
  const int p = screened_factors(design, settings.model_space);
  if (p > 63)
    throw Error(string_printf("\nTOO MANY FACTORS: the search of the factors space takes at most 63 factors, "
                              "not %d !\n", p));
  check_effect_count(design, settings);
}

namespace {

// The rounds of the chains and the results from them, for either space:
// `items` is the number of candidates the chains count (the effects, or
// in the factors space the factors), the first `items` of space.effects.
template <class ChainT>
EffectsResults run_chains(const Design &design, const Settings &settings, const EffectColumns &space,
                          std::vector<ChainT> &chains, size_t items, bool automatic, SearchProgressHook progress,
                          std::chrono::steady_clock::time_point began) {
  auto elapsed = [&]() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  };
  const SearchSettings &search = settings.search;
  const int nchains = static_cast<int>(chains.size());
  const int threads = std::max(1, std::min(thread_count(settings.threads), nchains));

  // The rounds: burn-in with the first, then kept iterations until the
  // fixed number, or until the target is met or the most are run.
  const bool fixed = search.iterations > 0;
  const uint64_t goal = fixed ? static_cast<uint64_t>(search.iterations) : static_cast<uint64_t>(search.max_iterations);
  uint64_t done = 0;
  Estimates est;
  bool first_round = true;
  auto conditionals = [](const std::vector<ChainT> &list) {
    std::vector<const Counts *> out;
    for (const ChainT &c : list) out.push_back(&c.conditional());
    return out;
  };
  // The figures after `done` kept iterations; the target is judged only at
  // the end of a round, so that where the search stops does not depend on
  // how often it reports.
  auto report = [&](uint64_t round_end, bool *met) {
    est = estimate(conditionals(chains));
    const double largest = est.largest_se;
    *met = !fixed && done == round_end && largest <= search.target_se;
    SearchProgress now;
    now.iterations = done * static_cast<uint64_t>(nchains);
    for (const ChainT &c : chains) now.distinct += c.cache().size();
    now.largest_se = largest;
    now.chain_difference = est.chain_difference;
    now.seconds = elapsed();
    if (!*met && done < goal) {
      uint64_t more = goal - done;
      if (!fixed && std::isfinite(largest) && largest > 0) {
        const double need = static_cast<double>(done) * ((largest / search.target_se) * (largest / search.target_se) - 1);
        more = std::min(more, std::max(round_end - done, static_cast<uint64_t>(std::max(0.0, need))));
      }
      now.seconds_left = now.seconds * static_cast<double>(more) / static_cast<double>(done);
    }
    progress(now);
  };
  while (done < goal) {
    const uint64_t round = done == 0 ? std::min(goal, fixed ? std::max<uint64_t>(kFirstRound, goal / 16) : kFirstRound)
                                     : std::min(goal - done, fixed ? std::max<uint64_t>(kFirstRound, goal / 16) : done);
    const uint64_t round_end = done + round;
    bool met = false;
    // A long round runs in eighths, each followed by a report.
    const uint64_t piece = std::max<uint64_t>(kFirstRound, round / 8);
    while (done < round_end) {
      const uint64_t now = std::min(piece, round_end - done);
      const uint64_t burn = first_round ? static_cast<uint64_t>(std::max<int64_t>(0, search.burn_in)) : 0;
      parallel_for(nchains, threads, [&](int c) {
        chains[static_cast<size_t>(c)].run(burn, false);
        chains[static_cast<size_t>(c)].run(now, true);
      });
      first_round = false;
      done += now;
      report(round_end, &met);
    }
    if (met) break;
  }

  // The results: the conditional probabilities averaged as the estimates,
  // with their batch-means errors; the visit frequencies with theirs, and
  // the weights of the distinct models weighed, renormalised, beside them.
  std::vector<const Counts *> visit_counts;
  for (const ChainT &c : chains) visit_counts.push_back(&c.visits());
  const Estimates visits = estimate(visit_counts);
  EffectsResults results;
  results.effects.assign(space.effects.begin(), space.effects.begin() + static_cast<long>(items));
  results.first_factor = space.first;
  results.nfactors = space.p;
  for (const BoxMeyerPrior &g : space.gammas) results.gammas.push_back(g.gam);
  results.candidates = settings.effects.kind == SpaceKind::Effects ? count_effect_models(design, settings)
                                                                    : count_models(design, settings.model_space);
  const size_t ne = items, p = static_cast<size_t>(space.p);
  auto part = [&](const std::vector<double> &v, size_t from, size_t to) {
    return std::vector<double>(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(to));
  };
  results.effect_probability = part(est.frequency, 0, ne);
  results.factor_probability = part(est.frequency, ne, ne + p);
  results.none_active = est.frequency[ne + p];

  SearchSummary s;
  s.automatic = automatic;
  s.chains = nchains;
  s.burn_in = static_cast<uint64_t>(std::max<int64_t>(0, search.burn_in));
  s.iterations = done;
  s.target_se = fixed ? 0 : search.target_se;
  s.largest_se = est.largest_se;
  s.reached_target = fixed || est.largest_se <= search.target_se;
  s.chain_difference = est.chain_difference;
  s.effect_se = part(est.se, 0, ne);
  s.factor_se = part(est.se, ne, ne + p);
  s.none_se = est.se[ne + p];
  s.effect_frequency = part(visits.frequency, 0, ne);
  s.factor_frequency = part(visits.frequency, ne, ne + p);
  s.none_frequency = visits.frequency[ne + p];
  s.effect_frequency_se = part(visits.se, 0, ne);
  s.factor_frequency_se = part(visits.se, ne, ne + p);
  s.none_frequency_se = visits.se[ne + p];

  // Every distinct model once (in chain order, then in the order each
  // chain met them), and the renormalised estimates over them.
  ModelCache all(chains.front().words());
  std::vector<std::vector<uint64_t>> model_visits;  // per distinct model, per chain
  for (size_t c = 0; c < chains.size(); c++) {
    const ModelCache &cache = chains[c].cache();
    s.proposals += chains[c].proposals();
    s.evaluations += chains[c].evaluations();
    for (int32_t i = 0; i < static_cast<int32_t>(cache.size()); i++) {
      int32_t at = all.find(cache.key(i));
      if (at < 0) {
        at = all.insert(cache.key(i), cache.log_weight(i));
        if (at < 0) continue;  // more distinct models than are kept
        model_visits.emplace_back(chains.size(), 0);
      }
      model_visits[static_cast<size_t>(at)][c] += cache.visits(i);
    }
  }
  s.distinct = all.size();
  const Renormalised pooled = renormalise(all, space, ne);
  if (!std::isfinite(pooled.log_total))
    throw Error("\nNO MODEL HAS A WEIGHT: every model of the effects space is singular !\n");
  s.effect_renormalised = part(pooled.share, 0, ne);
  s.factor_renormalised = part(pooled.share, ne, ne + p);
  s.none_renormalised = pooled.share[ne + p];
  results.log_total = pooled.log_total;
  results.visited = s.distinct;
  results.weighed = pooled.weighed;

  // The best models by weight: their visit frequencies, with the spread of
  // the chains' own as the error, and their renormalised weights.
  std::vector<int32_t> order(all.size());
  for (size_t i = 0; i < order.size(); i++) order[i] = static_cast<int32_t>(i);
  const size_t keep = std::min(order.size(), static_cast<size_t>(std::max(0, settings.effects.top_models)));
  std::partial_sort(order.begin(), order.begin() + static_cast<long>(keep), order.end(), [&](int32_t x, int32_t y) {
    return all.log_weight(x) > all.log_weight(y) || (all.log_weight(x) == all.log_weight(y) && x < y);
  });
  const double nc = static_cast<double>(nchains);
  for (size_t r = 0; r < keep; r++) {
    const int32_t at = order[r];
    EffectModel m;
    const uint64_t *key = all.key(at);
    for (size_t e = 0; e < ne; e++)
      if ((key[e / 64] >> (e % 64)) & 1) m.effects.push_back(static_cast<int32_t>(e));
    m.log_weight = all.log_weight(at);
    m.renormalised = exp(m.log_weight - pooled.log_total);
    double sum = 0, sumsq = 0;
    for (size_t c = 0; c < chains.size(); c++) {
      const double f = static_cast<double>(model_visits[static_cast<size_t>(at)][c]) /
                       static_cast<double>(chains[c].visits().kept);
      sum += f;
      sumsq += f * f;
    }
    m.probability = sum / nc;
    m.se = nchains > 1 ? std::sqrt(std::max(0.0, (sumsq - sum * sum / nc) / (nc - 1)) / nc) : NAN;
    results.top.push_back(std::move(m));
  }
  results.aliases = effect_alias_groups(design, results.effects);
  s.seconds = elapsed();
  results.search = std::move(s);
  return results;
}

}  // namespace

EffectsResults search_effects(const Design &design, const Settings &settings, bool automatic,
                              SearchProgressHook progress) {
  PlaceGuard place("Search_Effects");
  const auto began = std::chrono::steady_clock::now();
  check_effect_count(design, settings);
  EffectColumns space(design, settings);
  prepare_effect_columns(space);
  const PriorTerms prior = prior_terms(space);
  const uint64_t batch = batch_length(space);
  const int nchains = std::max(1, settings.search.chains);
  std::vector<Chain> chains;
  chains.reserve(static_cast<size_t>(nchains));
  for (int c = 0; c < nchains; c++) chains.emplace_back(space, prior, settings.follow_up.seed, c, batch);
  return run_chains(design, settings, space, chains, static_cast<size_t>(space.ne), automatic, progress, began);
}

EffectsResults search_factors(const Design &design, const Settings &settings, bool automatic,
                              SearchProgressHook progress) {
  PlaceGuard place("Search_Factors");
  const auto began = std::chrono::steady_clock::now();
  check_factor_search_size(design, settings);
  EffectColumns space(design, settings);
  prepare_effect_columns(space);
  const size_t p = static_cast<size_t>(space.p);
  const uint64_t batch = 256 * std::max<uint64_t>(1, (2 * p + 1 + 255) / 256);
  const int nchains = std::max(1, settings.search.chains);
  std::vector<FactorChain> chains;
  chains.reserve(static_cast<size_t>(nchains));
  for (int c = 0; c < nchains; c++) chains.emplace_back(space, settings.follow_up.seed, c, batch);
  EffectsResults results = run_chains(design, settings, space, chains, p, automatic, progress, began);
  results.search->factors_space = true;
  return results;
}

}  // namespace bayescreen
