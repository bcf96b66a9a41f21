#include "engine/effects.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <unordered_map>

#include "engine/calcmodels.h"
#include "numeric/tquantile.h"
#include "support/error.h"
#include "support/prefault.h"

namespace bayescreen {

namespace {

// The models left out of the average hold less than this share of the
// posterior together.
constexpr double kNeglectedMass = 1e-12;
// At most this share of the models (and at least kModelFloor of them) are
// refitted: a refit costs a few times what the fit of the model set cost
// per model, so that the estimates add a few percent to a run at most.
constexpr double kModelShare = 0.01;
constexpr int kModelFloor = 5000;
// A column is kept in the least-squares model when its part orthogonal to
// the columns kept before has more than this share of its squared length.
constexpr double kIndependent = 1e-9;

// The number of bits set in v, by the bitwise sums of Warren, Hacker's
// Delight (2nd ed.), section 5-1: a few instructions where the build
// targets processors without a population-count instruction.
int bits_set(uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555ULL;
  v = (v & 0x3333333333333333ULL) + ((v >> 2) & 0x3333333333333333ULL);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<int>((v * 0x0101010101010101ULL) >> 56);
}

// The distinct runs of the analysed design columns, each with its number
// of runs, the mean of their responses and the sum of squares about it:
// every cross product the fits need is a weighted sum over these patterns,
// so a table of many runs costs no more than its distinct settings.
struct Patterns {
  int columns = 0;                 // design columns analysed
  std::vector<int32_t> levels;     // by design column: column c at pattern p is levels[c * count() + p]
  std::vector<double> weight;      // runs of each pattern
  std::vector<double> mean;        // their mean response
  double within = 0;               // sum over runs of (y - mean of its pattern)^2

  int count() const { return static_cast<int>(weight.size()); }
  // The levels of design column c at every pattern.
  const int32_t *column(int c) const { return &levels[static_cast<size_t>(c) * weight.size()]; }
  // The effect column formed by the design columns of mask, at pattern p.
  double value(int p, uint64_t mask) const {
    int32_t v = 1;
    for (uint64_t bits = mask; bits != 0; bits &= bits - 1) v *= column(__builtin_ctzll(bits))[p];
    return v;
  }
  // The same at every pattern, into x (count() entries): a design column at
  // a time, so that the loops run along memory.
  void product(uint64_t mask, double *x) const {
    std::fill(x, x + count(), 1.0);
    for (uint64_t bits = mask; bits != 0; bits &= bits - 1) {
      const int32_t *c = column(__builtin_ctzll(bits));
      for (int p = 0; p < count(); p++) x[p] *= c[p];
    }
  }
};

// The hash of a pattern's levels: FNV-1a over the levels, then the
// finalizer of SplitMix64 (Steele, Lea and Flood 2014), so that the low
// bits the table uses depend on every level.
uint64_t pattern_hash(const int32_t *levels, size_t n) {
  uint64_t h = 0xCBF29CE484222325ULL;
  for (size_t c = 0; c < n; c++) h = (h ^ static_cast<uint32_t>(levels[c])) * 0x100000001B3ULL;
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ULL;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBULL;
  return h ^ (h >> 31);
}

Patterns find_patterns(const Design &design) {
  Patterns pats;
  pats.columns = design.analysed;
  const size_t nc = static_cast<size_t>(pats.columns);
  std::vector<int> of_run(static_cast<size_t>(design.runs));
  std::vector<int32_t> row(nc), rows;  // rows: the patterns' levels, pattern by pattern
  // The patterns by their levels: open addressing with linear probing,
  // kept at most half full, so that a run is placed in a probe or two;
  // the patterns are numbered in order of first appearance.
  std::vector<int32_t> table(16, -1);
  auto slot_of = [&](const int32_t *levels) {
    const size_t mask = table.size() - 1;
    size_t at = pattern_hash(levels, nc) & mask;
    while (table[at] >= 0 && !std::equal(levels, levels + nc, &rows[static_cast<size_t>(table[at]) * nc]))
      at = (at + 1) & mask;
    return at;
  };
  for (int r = 0; r < design.runs; r++) {
    for (int c = 0; c < pats.columns; c++) row[static_cast<size_t>(c)] = design.entry(r, c);
    const size_t at = slot_of(row.data());
    int pattern = table[at];
    if (pattern < 0) {
      pattern = pats.count();
      table[at] = pattern;
      rows.insert(rows.end(), row.begin(), row.end());
      pats.weight.push_back(0);
      pats.mean.push_back(0);
      if (2 * pats.weight.size() > table.size()) {
        table.assign(2 * table.size(), -1);
        for (int q = 0; q < pats.count(); q++) table[slot_of(&rows[static_cast<size_t>(q) * nc])] = q;
      }
    }
    const size_t p = static_cast<size_t>(pattern);
    of_run[static_cast<size_t>(r)] = pattern;
    // Welford's running mean, so that the within-pattern sum of squares
    // below takes no difference of large sums.
    pats.weight[p] += 1;
    pats.mean[p] += (design.y[static_cast<size_t>(r)] - pats.mean[p]) / pats.weight[p];
  }
  for (int r = 0; r < design.runs; r++) {
    const double d = design.y[static_cast<size_t>(r)] - pats.mean[static_cast<size_t>(of_run[static_cast<size_t>(r)])];
    pats.within += d * d;
  }
  const size_t np = pats.weight.size();
  pats.levels.resize(np * nc);
  for (size_t p = 0; p < np; p++)
    for (size_t c = 0; c < nc; c++) pats.levels[c * np + p] = rows[p * nc + c];
  return pats;
}

// In a design of -1 and 1, the analysed design columns as bits over the
// runs, set where the column is -1: the sum over the runs of a product of
// columns is then runs - 2 (the runs where an odd number of them is -1),
// a few words of exclusive-or and a count of bits instead of a
// multiply-add a pattern. Sums of products of integers, they are exact and
// equal the sums over the patterns.
class RunBits {
 public:
  // The words of bits a column of `runs` runs takes.
  static size_t words_for(int runs) { return (static_cast<size_t>(runs) + 63) / 64; }
  explicit RunBits(const Design &design)
      : runs_(design.runs), words_(words_for(design.runs)),
        bits_(words_ * static_cast<size_t>(design.analysed)) {
    for (int c = 0; c < design.analysed; c++)
      for (int r = 0; r < design.runs; r++)
        if (design.entry(r, c) < 0)
          bits_[static_cast<size_t>(c) * words_ + static_cast<size_t>(r) / 64] |= uint64_t{1} << (r % 64);
  }
  size_t words() const { return words_; }
  // The column formed by the design columns of mask, as bits, into x
  // (words() words).
  void product(uint64_t mask, uint64_t *x) const {
    std::fill(x, x + words_, 0);
    for (uint64_t m = mask; m != 0; m &= m - 1) {
      const uint64_t *column = &bits_[static_cast<size_t>(__builtin_ctzll(m)) * words_];
      for (size_t w = 0; w < words_; w++) x[w] ^= column[w];
    }
  }
  // The cross product of two columns given as bits.
  double cross(const uint64_t *u, const uint64_t *v) const {
    int64_t differ = 0;
    for (size_t w = 0; w < words_; w++) differ += bits_set(u[w] ^ v[w]);
    return static_cast<double>(runs_ - 2 * differ);
  }

 private:
  int runs_;
  size_t words_;
  std::vector<uint64_t> bits_;     // design columns x words
};

// The design's columns as bits when they are the cheaper way to the cross
// products: in a design of -1 and 1 whose runs, in words, are few against
// its patterns (a word of bits costs about what 4 multiply-adds over the
// patterns do, or a look-up of a sum formed before; a table of many
// replicated runs is summed by its patterns).
std::optional<RunBits> run_bits(const Design &design, const Patterns &pats) {
  if (!design.two_level() || 4 * RunBits::words_for(design.runs) > static_cast<size_t>(pats.count()))
    return std::nullopt;
  return RunBits(design);
}

// The running sums of the model average of one effect column.
struct Sums {
  double mean = 0, second = 0, positive = 0, mass = 0;
};

// What the fits keep of a column of the space that a model fitted holds:
// its index among the columns of the space, its cross product with the
// centred response, and the running sums of its model average. Only the
// columns met get one (the models averaged in a large space hold few of
// its columns, and a record for each would be memory written for nothing).
struct ColumnRecord {
  size_t index = 0;
  double xty = 0;
  Sums sums;
};

// The posterior of one model's coefficients: each column's record (its
// place among ModelFits::records), b = (X'X + Gamma)^-1 X'y, the diagonal
// of (X'X + Gamma)^-1, and Q.
struct Posterior {
  std::vector<size_t> at;
  std::vector<double> b, diag;
  double q = 0;
};

// What every model's fit shares: the columns of the space (the intercept,
// the blocks, then the effect columns in the order of
// EffectResults::effects), the response centred at its mean (which changes
// only the intercept's coefficient, whose prior is flat, and leaves Q as it
// is while sparing it a difference of large sums), each column's record
// (its cross product with the response, formed the first time a model
// holds the column), and the cross products between columns: from the
// columns' bits where the design's are used (run_bits), else each formed
// from the patterns the first time a model needs it and kept for the
// models after (the models averaged share most of their columns, so the
// pairs formed are few against the models times their columns squared).
// A column that no model averaged holds costs nothing. The cross products
// are sums of products of integers, exact in doubles, so however and
// whenever one is formed it is the same number.
class ModelFits {
 public:
  // bits: the design's columns as bits when they are the cheaper way to
  // the cross products (see run_bits), else null.
  // effect_count: the effect columns of the space.
  ModelFits(const Design &design, const Settings &settings, const Patterns &pats, const RunBits *bits,
            size_t effect_count)
      : design_(design), space_(settings.model_space), prior_(prior_of(settings)), pats_(pats),
        factors_(screened_factors(design, settings.model_space)), two_level_(design.two_level()), bits_(bits),
        column_(static_cast<size_t>(pats.count())),
        slot_(1 + static_cast<size_t>(settings.model_space.blocks) + effect_count, -1) {
    // The index of the first column of each order: the intercept is 0, the
    // blocks 1 .. blocks, then C(k, 1) main effects, C(k, 2) two-factor
    // interactions, ...
    uint64_t start = 1 + static_cast<uint64_t>(space_.blocks);
    for (int t = 1; t < kOrders; t++) {
      order_start_[t] = start;
      start += binomial(factors_, t);
    }
    double total = 0;
    for (int q = 0; q < pats.count(); q++) total += pats.weight[static_cast<size_t>(q)] * pats.mean[static_cast<size_t>(q)];
    const double ybar = total / design.runs;
    centred_.resize(static_cast<size_t>(pats.count()));
    yy_ = pats.within;
    for (size_t q = 0; q < centred_.size(); q++) {
      centred_[q] = pats.mean[q] - ybar;
      yy_ += pats.weight[q] * centred_[q] * centred_[q];
    }
  }

  // Adds model m (probability p) to the sums of its effect columns.
  void add(const ModelEntry &m, double p) {
    const int nc = model_columns(space_, m.nf);
    cols_.resize(static_cast<size_t>(nc));
    model_column_masks(space_, m, cols_.data());
    fit(prior_, m.name);
    accumulate(post_, p);
  }

  // Fits the model of the columns cols (the intercept, mask 0, first) under
  // the prior; returns the log of its Box-Meyer marginal likelihood, the
  // factor term left out (box_meyer_log_weight with nf = 0).
  double fit_columns(const std::vector<uint64_t> &cols, const BoxMeyerPrior &prior, const char *name) {
    cols_ = cols;
    fit(prior, name);
    BoxMeyerTerms terms;
    terms.runs = design_.runs;
    for (size_t j = 1; j < cols_.size(); j++) {
      if (interaction_column(space_, cols_[j]))
        terms.n_int++;
      else
        terms.n_main++;
    }
    for (size_t j = 0; j < cols_.size(); j++) terms.logdet += 2 * std::log(a_[j * cols_.size() + j]);
    terms.qqc = post_.q;
    return box_meyer_log_weight(terms, prior);
  }

  // The posterior of the last model fitted.
  const Posterior &posterior() const { return post_; }

  // The columns met, in the order first met.
  const std::vector<ColumnRecord> &records() const { return records_; }

  // Adds a model of posterior post, with probability p, to the sums of its
  // effect columns.
  void accumulate(const Posterior &post, double p) {
    const size_t n = post.at.size();
    const double q_form = post.q;
    const int runs = design_.runs;
    const double nu = runs - 1;
    for (size_t j = 1; j < n; j++) {
      const size_t first_effect = 1 + static_cast<size_t>(space_.blocks);
      ColumnRecord &column = records_[post.at[j]];
      if (column.index < first_effect) continue;  // a block column
      Sums &sum = column.sums;
      const double var = runs > 3 ? q_form / (runs - 3) * post.diag[j] : NAN;
      sum.mean += p * post.b[j];
      sum.second += p * (var + post.b[j] * post.b[j]);
      sum.mass += p;
      if (runs > 1) {
        // An exact fit with no prior on the column (gamma so large that
        // 1/gamma^2 is 0) leaves no spread: the sign of b decides.
        const double scale = std::sqrt(q_form / nu * post.diag[j]);
        const double sign = post.b[j] > 0 ? 1.0 : post.b[j] < 0 ? 0.0 : 0.5;
        sum.positive += p * (scale > 0 ? t_cdf_whole_df(post.b[j] / scale, runs - 1) : sign);
      } else {
        sum.positive = NAN;
      }
    }
  }

 private:
  // The posterior of the coefficients of the model of the columns cols_
  // under the prior: b, the diagonal of (X'X + Gamma)^-1 and Q, with the
  // Cholesky factor of X'X + Gamma left in a_.
  void fit(const BoxMeyerPrior &prior, const char *name) {
    const size_t n = cols_.size();
    post_.at.resize(n);
    for (size_t j = 0; j < n; j++) post_.at[j] = record_of(cols_[j]);
    // A = X'X + Gamma (lower triangle) and X'y. The work arrays are only
    // resized: every entry read below is written first.
    a_.resize(n * n);
    r_.resize(n);
    for (size_t i = 0; i < n; i++) {
      r_[i] = records_[post_.at[i]].xty;
      if (bits_ != nullptr) {
        const uint64_t *ui = &record_bits_[post_.at[i] * bits_->words()];
        for (size_t j = 0; j <= i; j++) a_[i * n + j] = bits_->cross(ui, &record_bits_[post_.at[j] * bits_->words()]);
      } else {
        for (size_t j = 0; j <= i; j++) a_[i * n + j] = cross(cols_[i], cols_[j]);
      }
    }
    gam_.resize(n);
    gam_[0] = 0;  // the intercept's prior is flat
    for (size_t i = 1; i < n; i++) {
      const double g = column_gamma(space_, cols_[i], prior);
      gam_[i] = 1 / (g * g);
      a_[i * n + i] += gam_[i];
    }
    // Cholesky A = L L' in place (Golub and Van Loan, Algorithm 4.2.1).
    for (size_t j = 0; j < n; j++) {
      for (size_t i = j; i < n; i++) {
        double v = a_[i * n + j];
        for (size_t k = 0; k < j; k++) v -= a_[i * n + k] * a_[j * n + k];
        if (i == j) {
          if (!(v > 0))
            throw Error("\nEFFECTS: X'X + Gamma of model " + std::string(name) + " is not positive definite !\n");
          a_[j * n + j] = std::sqrt(v);
        } else {
          a_[i * n + j] = v / a_[j * n + j];
        }
      }
    }
    // z = L^-1 X'y, b = L'^-1 z, Q = y'y - b'X'y = y'y - z'z.
    double q_form = yy_;
    for (size_t i = 0; i < n; i++) {
      double v = r_[i];
      for (size_t k = 0; k < i; k++) v -= a_[i * n + k] * r_[k];
      r_[i] = v / a_[i * n + i];
      q_form -= r_[i] * r_[i];
    }
    post_.b.resize(n);
    for (size_t i = n; i-- > 0;) {
      double v = r_[i];
      for (size_t k = i + 1; k < n; k++) v -= a_[k * n + i] * post_.b[k];
      post_.b[i] = v / a_[i * n + i];
    }
    // Rounding may leave Q below b' Gamma b, its least value.
    double floor = 0;
    for (size_t j = 1; j < n; j++) floor += gam_[j] * post_.b[j] * post_.b[j];
    q_form = std::max(q_form, floor);
    // The diagonal of A^-1 = L'^-1 L^-1: the squared column lengths of
    // W = L^-1, formed column by column.
    w_.resize(n);
    post_.diag.assign(n, 0.0);
    for (size_t j = 0; j < n; j++) {
      for (size_t i = 0; i < j; i++) w_[i] = 0;
      for (size_t i = j; i < n; i++) {
        double v = i == j ? 1.0 : 0.0;
        for (size_t k = j; k < i; k++) v -= a_[i * n + k] * w_[k];
        w_[i] = v / a_[i * n + i];
        post_.diag[j] += w_[i] * w_[i];
      }
    }
    post_.q = q_form;
  }

  // Orders of interaction indexed in order_start_ (the masks hold at most
  // 64 design columns).
  static constexpr int kOrders = 66;

  // The index among the columns of the space of the column whose design
  // columns are mask: a block is a single design column before the
  // screened factors; an effect of t factors comes after those of fewer,
  // at the lexicographic rank of its factors.
  size_t column_index(uint64_t mask) const {
    if (mask == 0) return 0;
    if ((mask >> space_.blocks) == 0) return 1 + static_cast<size_t>(__builtin_ctzll(mask));
    int32_t pick[64];
    int t = 0;
    for (uint64_t bits = mask; bits != 0; bits &= bits - 1) pick[t++] = __builtin_ctzll(bits) - space_.blocks;
    return static_cast<size_t>(order_start_[t] + subset_rank(pick, t, factors_));
  }

  // The cross product of the columns of design columns mu and mv over the
  // runs (where there are no bits), sum w x_mu x_mv by patterns. As
  // x_mu x_mv = x_(mu^mv) x_(mu&mv)^2, it is a sum over the patterns of
  // w x_d s^2 with d = mu ^ mv and s = mu & mv, and in a design of -1 and
  // 1 only s^2 is 1: the pairs of columns that differ in the same design
  // columns share one sum (A with AB, B with ABC, ...), formed once.
  double cross(uint64_t mu, uint64_t mv) {
    const uint64_t d = mu ^ mv, s = two_level_ ? 0 : mu & mv;
    const auto [at, added] = cross_.try_emplace(MaskPair{d, s}, 0.0);
    if (added) {
      double sum = 0;
      for (int q = 0; q < pats_.count(); q++) {
        const double square = s == 0 ? 1.0 : pats_.value(q, s) * pats_.value(q, s);
        sum += pats_.weight[static_cast<size_t>(q)] * pats_.value(q, d) * square;
      }
      at->second = sum;
    }
    return at->second;
  }

  // The place among records_ of the column of design columns mask; a
  // column met the first time gets its record, with its cross product with
  // the centred response (and its bits, when the cross products come from
  // bits).
  size_t record_of(uint64_t mask) {
    const size_t index = column_index(mask);
    if (slot_[index] < 0) {
      slot_[index] = static_cast<int32_t>(records_.size());
      ColumnRecord column;
      column.index = index;
      pats_.product(mask, column_.data());
      for (size_t q = 0; q < column_.size(); q++) column.xty += pats_.weight[q] * centred_[q] * column_[q];
      records_.push_back(column);
      if (bits_ != nullptr) {
        record_bits_.resize(records_.size() * bits_->words());
        bits_->product(mask, &record_bits_[(records_.size() - 1) * bits_->words()]);
      }
    }
    return static_cast<size_t>(slot_[index]);
  }

  const Design &design_;
  const ModelSpace &space_;
  const BoxMeyerPrior prior_;
  const Patterns &pats_;
  const int factors_;                   // factors screened
  uint64_t order_start_[kOrders] = {};  // index of the first column of each order
  std::vector<double> centred_;         // pattern means less the mean response
  double yy_ = 0;                       // sum of squares of the centred response
  // The sums of cross, by the masks d and s.
  struct MaskPair {
    uint64_t d, s;
    bool operator==(const MaskPair &o) const { return d == o.d && s == o.s; }
  };
  struct MaskPairHash {
    size_t operator()(const MaskPair &p) const { return std::hash<uint64_t>()(p.d * 0x9E3779B97F4A7C15ULL ^ p.s); }
  };
  const bool two_level_;                // every analysed entry is -1 or 1
  const RunBits *bits_;                 // the columns as bits, or null
  std::vector<double> column_;          // one effect column by patterns
  std::unordered_map<MaskPair, double, MaskPairHash> cross_;
  std::vector<int32_t> slot_;           // per column of the space, its place in records_ (-1: none yet)
  std::vector<ColumnRecord> records_;   // the columns met
  std::vector<uint64_t> record_bits_;   // their columns as bits (words each), where used
  // Work arrays of one model.
  std::vector<uint64_t> cols_;
  Posterior post_;  // of the last model fitted
  std::vector<double> a_, r_, gam_, w_;
};

// u'v with four partial sums, which the compiler can keep in vector
// registers: a fixed order of operations, so the result is reproducible.
double dot4(const double *u, const double *v, size_t n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  size_t p = 0;
  for (; p + 4 <= n; p += 4) {
    s0 += u[p] * v[p];
    s1 += u[p + 1] * v[p + 1];
    s2 += u[p + 2] * v[p + 2];
    s3 += u[p + 3] * v[p + 3];
  }
  for (; p < n; p++) s0 += u[p] * v[p];
  return (s0 + s1) + (s2 + s3);
}

// The least-squares part: the largest model the design can fit, its
// estimates, and Lenth's figures when they apply.
//
// The columns are taken in order and the Cholesky factor L L' = X'WX of
// the kept ones (W the pattern counts) grows by a row per column kept
// (Golub and Van Loan, Matrix Computations, 4th ed., Algorithm 4.2.1, by
// rows): the new row l solves L l = X'W x of the candidate x, and the
// pivot d = x'Wx - l'l is its squared distance from the span of the
// columns kept, so the column is kept when d is more than kIndependent of
// x'Wx. The cross products are sums of products of integers, exact in
// doubles. The coefficients solve the normal equations L L' b = X'W y,
// followed by one step of iterative refinement on the residual formed from
// the data (the corrected seminormal equations: A. Bjorck, Stability
// analysis of the method of seminormal equations for linear least squares
// problems, Linear Algebra Appl. 88/89 (1987) 31-48), which brings the
// accuracy to that of an orthogonal factorisation. The work is about n^3/2
// multiply-adds for the cross products and n^3/6 for the factor (n the
// columns kept), against 2 n^3 for Gram-Schmidt with reorthogonalisation.
void least_squares(const Design &design, const ModelSpace &space, const Patterns &pats, const RunBits *bits,
                   EffectResults &out) {
  // Candidate columns: the intercept, the blocks, then the effects in
  // order; each a mask of design columns.
  const size_t first_effect = 1 + static_cast<size_t>(space.blocks);
  const size_t candidates = first_effect + out.effects.size();
  auto candidate = [&](size_t k) {
    if (k == 0) return uint64_t{0};
    return k < first_effect ? uint64_t{1} << (k - 1) : out.effects[k - first_effect].mask;
  };

  const size_t np = static_cast<size_t>(pats.count());
  const size_t most = std::min(np, candidates);  // columns that can be kept
  // L' by rows (row i of u is column i of L, entries i .. most-1, packed),
  // so that both triangular solves run along rows; row(i)[q] is entry q.
  const size_t packed = most * (most + 1) / 2;
  std::vector<double> u;
  u.reserve(packed);
  prefault_for_writing(u.data(), packed * sizeof(double));
  u.resize(packed);
  auto row = [&u, most](size_t i) { return u.data() + (i * most - i * (i - 1) / 2) - i; };
  std::vector<double> x(np), wx(np), a(most);
  std::vector<size_t> kept;
  // The kept columns: as bits where the cross products come from bits,
  // else weighted, one after another (the columns themselves are formed
  // again when needed).
  const size_t words = bits != nullptr ? bits->words() : 0;
  std::vector<uint64_t> xbits(words), kept_bits;
  std::vector<double> wxs;
  if (bits != nullptr)
    kept_bits.reserve(most * words);
  else
    wxs.reserve(most * np);
  auto fill_values = [&](uint64_t mask) {
    pats.product(mask, x.data());
    for (size_t p = 0; p < np; p++) wx[p] = pats.weight[p] * x[p];
  };
  bool orthogonal = true;  // the kept columns are mutually orthogonal
  for (size_t k = 0; k < candidates && kept.size() < np; k++) {
    const size_t nb = kept.size();
    double length = design.runs;
    if (bits != nullptr) {
      bits->product(candidate(k), xbits.data());
      for (size_t b = 0; b < nb; b++) a[b] = bits->cross(xbits.data(), &kept_bits[b * words]);
    } else {
      fill_values(candidate(k));
      length = dot4(wx.data(), x.data(), np);
      if (length == 0) continue;
      for (size_t b = 0; b < nb; b++) a[b] = dot4(&wxs[b * np], x.data(), np);
    }
    bool clear = true;  // orthogonal to every column kept
    for (size_t b = 0; b < nb; b++) clear = clear && a[b] == 0;
    // L l = a by columns of L (rows of u): each entry found is taken out of
    // those after it, four columns at a time (each entry of l then loaded
    // and stored once for four updates, made in the same order as one by
    // one).
    double dd = 0;
    double *__restrict l = a.data();
    size_t i = 0;
    for (; i + 4 <= nb; i += 4) {
      const double *__restrict r0 = row(i), *__restrict r1 = row(i + 1);
      const double *__restrict r2 = row(i + 2), *__restrict r3 = row(i + 3);
      const double l0 = l[i] / r0[i];
      const double l1 = (l[i + 1] - l0 * r0[i + 1]) / r1[i + 1];
      const double l2 = ((l[i + 2] - l0 * r0[i + 2]) - l1 * r1[i + 2]) / r2[i + 2];
      const double l3 = (((l[i + 3] - l0 * r0[i + 3]) - l1 * r1[i + 3]) - l2 * r2[i + 3]) / r3[i + 3];
      l[i] = l0;
      l[i + 1] = l1;
      l[i + 2] = l2;
      l[i + 3] = l3;
      for (size_t q = i + 4; q < nb; q++) l[q] = (((l[q] - l0 * r0[q]) - l1 * r1[q]) - l2 * r2[q]) - l3 * r3[q];
      dd += l0 * l0;
      dd += l1 * l1;
      dd += l2 * l2;
      dd += l3 * l3;
    }
    for (; i < nb; i++) {
      const double *__restrict ri = row(i);
      const double li = l[i] / ri[i];
      l[i] = li;
      for (size_t q = i + 1; q < nb; q++) l[q] -= li * ri[q];
      dd += li * li;
    }
    const double d = length - dd;
    if (!(d > kIndependent * length)) continue;
    for (size_t i = 0; i < nb; i++) row(i)[nb] = a[i];
    row(nb)[nb] = std::sqrt(d);
    if (bits != nullptr)
      kept_bits.insert(kept_bits.end(), xbits.begin(), xbits.end());
    else
      wxs.insert(wxs.end(), wx.begin(), wx.end());
    kept.push_back(k);
    orthogonal = orthogonal && clear;
  }

  // L L' v = v in place: L z = v along the rows of u, then L' v = z.
  const size_t n = kept.size();
  auto solve = [&](std::vector<double> &v) {
    for (size_t i = 0; i < n; i++) {
      const double *ri = row(i);
      v[i] /= ri[i];
      for (size_t q = i + 1; q < n; q++) v[q] -= v[i] * ri[q];
    }
    for (size_t i = n; i-- > 0;) {
      const double *ri = row(i);
      double sum = v[i];
      for (size_t q = i + 1; q < n; q++) sum -= ri[q] * v[q];
      v[i] = sum / ri[i];
    }
  };
  std::vector<double> beta(n), delta(n);
  for (size_t i = 0; i < n; i++) {
    fill_values(candidate(kept[i]));
    beta[i] = dot4(wx.data(), pats.mean.data(), np);
  }
  solve(beta);
  // One step of refinement: the residual of the pattern means (the
  // deviations within a pattern are orthogonal to every column), its cross
  // products with the columns, the correction from the same factor.
  std::vector<double> residual = pats.mean;
  for (size_t i = 0; i < n; i++) {
    fill_values(candidate(kept[i]));
    for (size_t p = 0; p < np; p++) residual[p] -= beta[i] * x[p];
  }
  for (size_t i = 0; i < n; i++) {
    fill_values(candidate(kept[i]));
    delta[i] = dot4(wx.data(), residual.data(), np);
  }
  solve(delta);
  for (size_t i = 0; i < n; i++) beta[i] += delta[i];

  std::vector<double> contrasts;
  for (size_t i = 0; i < n; i++) {
    if (kept[i] < first_effect) continue;
    EffectEstimate &e = out.effects[kept[i] - first_effect];
    e.least_squares = 2 * beta[i];
    contrasts.push_back(e.least_squares);
  }
  out.ls_columns = static_cast<int>(contrasts.size());
  out.ls_residual_df = design.runs - static_cast<int>(n);

  // Lenth's figures need one run per setting and orthogonal columns (whose
  // integer cross products, found above, are exact in doubles).
  const bool unreplicated = static_cast<int>(np) == design.runs;
  if (!unreplicated)
    out.lenth_note = "the design has replicated runs";
  else if (!orthogonal)
    out.lenth_note = "the design is not orthogonal";
  else if (contrasts.size() < 2)
    out.lenth_note = "fewer than two effects can be estimated";
  else
    out.lenth = lenth(contrasts);
}

}  // namespace

namespace {

// The estimates from the models' sums: the averages given the models
// averaged over (out.mass_used of the posterior), effects twice the
// coefficients.
// Columns that no model averaged holds keep mean, SD and probabilities 0.
void finish_estimates(const ModelFits &fits, size_t first_effect, EffectResults &out) {
  for (const ColumnRecord &column : fits.records()) {
    if (column.index < first_effect) continue;  // the intercept or a block
    EffectEstimate &e = out.effects[column.index - first_effect];
    Sums s = column.sums;
    if (out.mass_used > 0)
      for (double *v : {&s.mean, &s.second, &s.positive, &s.mass}) *v /= out.mass_used;
    e.mean = 2 * s.mean;
    const double var = s.second - s.mean * s.mean;
    e.sd = 2 * std::sqrt(std::max(var, 0.0));
    e.prob_positive = s.positive;
    e.prob_in_model = s.mass;
  }
}

// One estimate, still empty, per effect column of the space: main effects
// by column, then the interactions of each order in lexicographic order of
// their factors.
EffectResults no_estimates(const Design &design, const ModelSpace &space) {
  const int k = screened_factors(design, space);
  const int top = std::min(space.order, largest_model_size(design, space));
  uint64_t count = 0;
  for (int t = 1; t <= top; t++) count += binomial(k, t);
  EffectResults out;
  out.effects.reserve(count);
  prefault_for_writing(out.effects.data(), count * sizeof(EffectEstimate));
  for (int t = 1; t <= top; t++)
    for_each_subset(k, t, [&](const int32_t *pick) {
      EffectEstimate e;
      for (int i = 0; i < t; i++) e.mask |= uint64_t{1} << (space.blocks + pick[i]);
      e.least_squares = NAN;
      out.effects.push_back(e);
    });
  return out;
}

}  // namespace

EffectResults estimate_effects(const Design &design, const Settings &settings, const ModelTable &models) {
  const ModelSpace &space = settings.model_space;
  EffectResults out = no_estimates(design, space);
  const Patterns pats = find_patterns(design);
  const std::optional<RunBits> bits = run_bits(design, pats);

  // The models left out: those below a cutoff probability chosen so that
  // together they hold less than kNeglectedMass of the posterior, or that
  // the models kept are no more than the budget. The probabilities are
  // binned by their binary exponents (no sort), the bins running from the
  // least exponent of a probability to the greatest (a first pass finds
  // them); the cutoff is a power of two, and the best bin is always kept.
  auto counted = [&space](const ModelEntry &m) { return has_posterior(space, m) && m.postprob > 0; };
  int least = 0, greatest = -1;  // no bins when no model counts
  for (const ModelEntry &m : models)
    if (counted(m)) {
      const int e = std::ilogb(m.postprob);
      if (greatest < least) least = greatest = e;
      least = std::min(least, e);
      greatest = std::max(greatest, e);
    }
  const int bins = greatest - least + 1;
  std::vector<double> bin_mass(static_cast<size_t>(bins), 0.0);
  std::vector<int64_t> bin_count(static_cast<size_t>(bins), 0);
  auto bin_of = [least](double p) { return std::ilogb(p) - least; };
  double total = 0;
  for (const ModelEntry &m : models)
    if (counted(m)) {
      const size_t b = static_cast<size_t>(bin_of(m.postprob));
      bin_mass[b] += m.postprob;
      bin_count[b]++;
      total += m.postprob;
    }
  int lowest_used = 0;
  for (double below = 0; lowest_used < bins - 1; lowest_used++) {
    below += bin_mass[static_cast<size_t>(lowest_used)];
    if (below >= kNeglectedMass * total) break;
  }
  const int64_t budget = std::max<int64_t>(kModelFloor, static_cast<int64_t>(kModelShare * models.size()));
  int64_t kept = 0;
  int top = bins - 1;
  for (; top > lowest_used; top--) {
    kept += bin_count[static_cast<size_t>(top)];
    if (kept + bin_count[static_cast<size_t>(top - 1)] > budget && kept > 0) break;
  }
  lowest_used = std::max(lowest_used, top);
  ModelFits fits(design, settings, pats, bits ? &*bits : nullptr, out.effects.size());
  for (const ModelEntry &m : models) {
    if (!counted(m) || bin_of(m.postprob) < lowest_used) continue;
    fits.add(m, m.postprob);
    out.models_used++;
    out.mass_used += m.postprob;
  }
  finish_estimates(fits, 1 + static_cast<size_t>(space.blocks), out);
  least_squares(design, space, pats, bits ? &*bits : nullptr, out);
  return out;
}

EffectResults estimate_space_effects(const Design &design, const Settings &settings,
                                     const std::vector<WeightedModel> &models,
                                     const std::vector<BoxMeyerPrior> &gammas) {
  const ModelSpace &space = settings.model_space;
  EffectResults out = no_estimates(design, space);
  const Patterns pats = find_patterns(design);
  const std::optional<RunBits> bits = run_bits(design, pats);
  ModelFits fits(design, settings, pats, bits ? &*bits : nullptr, out.effects.size());
  std::vector<uint64_t> cols;
  std::vector<double> logml(gammas.size());
  std::vector<Posterior> fitted(gammas.size());
  for (const WeightedModel &m : models) {
    if (!(m.probability > 0)) continue;
    cols.assign(1, 0);  // the intercept
    for (int b = 0; b < space.blocks; b++) cols.push_back(uint64_t{1} << b);
    cols.insert(cols.end(), m.columns.begin(), m.columns.end());
    // The model's share under each gamma value: its marginal likelihoods,
    // normalised (equal prior weight for each gamma value).
    double top = -INFINITY;
    for (size_t g = 0; g < gammas.size(); g++) {
      logml[g] = fits.fit_columns(cols, gammas[g], "of the effects space");
      fitted[g] = fits.posterior();
      top = std::max(top, logml[g]);
    }
    double total = 0;
    for (double &v : logml) total += (v = std::exp(v - top));
    for (size_t g = 0; g < gammas.size(); g++) fits.accumulate(fitted[g], m.probability * logml[g] / total);
    out.models_used++;
    out.mass_used += m.probability;
  }
  finish_estimates(fits, 1 + static_cast<size_t>(space.blocks), out);
  least_squares(design, space, pats, bits ? &*bits : nullptr, out);
  return out;
}

}  // namespace bayescreen
