// Follow-up runs that discriminate among the leading models: the
// model-discrimination (MD) criterion of Meyer, Steinberg and Box
// (Technometrics 38, 1996, 303-313), and the searches for the N additional
// runs, chosen among candidate runs, that maximise it.
//
// Each leading model i, with posterior probability p_i, is refitted with
// one more block column (-1 on the design's runs, +1 on the follow-up runs)
// that takes the prior ratio of a main effect:
//   G_i = (X_i'X_i + Gamma_i)^-1,  b_i = G_i X_i'y,  s_i^2 = Qqc_i / (n - 1).
// For a follow-up design with model matrix Z_i (N rows, the columns of
// model i), yhat_i = Z_i b_i and V_i = I_N + Z_i G_i Z_i'; with
// d = yhat_i - yhat_j,
//   MD = sum_{i<j} p_i p_j [ tr(V_i^-1 V_j)/2 + tr(V_j^-1 V_i)/2
//                            + d'V_i^-1 d / (2 s_j^2) + d'V_j^-1 d / (2 s_i^2) - N ].
// Larger is better. A candidate may be chosen more than once, so a design
// is a multiset of candidates.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/candidates.h"
#include "engine/design.h"
#include "engine/modelspace.h"
#include "engine/settings.h"

namespace bayescreen {

// One model the criterion compares.
struct FollowUpModel {
  int32_t index = 0;    // its record's position in the model table
  double postprob = 0;  // p_i: its posterior probability over the whole model set
  double s2 = 0;        // s_i^2 = Qqc_i / (n - 1), with the new block column
};

// A follow-up design: its runs as candidate indices (0-based, ascending)
// and its MD.
struct FollowUpDesign {
  std::vector<int32_t> runs;
  double md = 0;
};

// The results of the follow-up step, for the report and for other output.
struct FollowUpResult {
  int32_t runs = 0;                   // N, the follow-up runs; 0 when there was no follow-up
  std::vector<FollowUpModel> models;  // the leading models, best first
  CandidateRuns candidates;
  uint64_t multisets = 0;             // designs possible: C(c + N - 1, N), saturating
  bool exhaustive = false;            // every design evaluated: the best is certain
  int32_t starts = 0;                 // exchange search: random starts
  int32_t seed = 0;                   //   the seed of its generator
  int32_t best_reached = 0;           //   starts that ended at the best MD found
  int32_t starts_run = 0;             //   starts begun before the time bound (all without one)
  bool stopped_early = false;         //   the time bound of --max-seconds ended the search
  uint64_t evaluated = 0;             // designs evaluated
  uint64_t undefined = 0;             // of these, designs whose MD could not be computed
  std::vector<FollowUpDesign> best;   // the best designs, best first
};
// Designs of at most this many multisets are searched exhaustively.
constexpr uint64_t kMaxExhaustiveDesigns = 2000000;

// The indices of the leading models: up to count models with a posterior,
// by posterior probability (best first; ties in enumeration order).
std::vector<int32_t> leading_models(const ModelSpace &space, const ModelTable &models, int count);

// C(c + n - 1, n), the number of multisets of n of c candidates, or
// UINT64_MAX when it exceeds cap.
uint64_t multiset_count(int64_t c, int n, uint64_t cap);

// The MD criterion of the designs built from a set of candidates for a set
// of models. A design is built run by run on a stack (push, pop), and each
// run costs a few rows of Cholesky factors; value() is the MD of the runs
// on the stack.
class MdCriterion {
 public:
  // The models models[indices[i]] of a fitted table, designs of up to
  // max_runs runs from cands. The candidates are kept by reference.
  MdCriterion(const Design &design, const Settings &settings, const ModelTable &models,
              const std::vector<int32_t> &indices, const CandidateRuns &cands, int max_runs);
  const std::vector<FollowUpModel> &models() const { return info_; }
  int candidates() const { return ncand_; }
  int depth() const { return depth_; }
  // The candidate of run t of the stack.
  int32_t run(int t) const { return run_[static_cast<size_t>(t)]; }
  void push(int32_t candidate);
  void pop() { depth_--; }
  // The MD of the runs on the stack; not a number when rounding has left a
  // matrix that should be positive definite without a positive pivot.
  double value() const;
  // The MD of a whole design, from an empty stack.
  double evaluate(const int32_t *runs, int n);

 private:
  struct ModelData {
    int nc = 0;                // columns, the new block included
    double p = 0, w = 0;       // p_i and p_i / s_i^2
    std::vector<double> u;     // per candidate: L' z, where G = L L' (Cholesky)
    std::vector<double> e;     // per candidate: fitted value minus the weighted mean of all models'
    std::vector<double> pair;  // per candidate pair: z_k' G z_l (when the tables are kept)
    std::vector<double> l;     // rows of the Cholesky factor of V
    std::vector<double> y;     // rows of L^-1 R, R the Cholesky factor of T
    std::vector<double> f;     // L^-1 e
  };
  double cross(const ModelData &m, int32_t k, int32_t l) const;

  std::vector<FollowUpModel> info_;
  std::vector<ModelData> data_;
  int ncand_ = 0, max_runs_ = 0, depth_ = 0;
  bool tables_ = false;        // pair tables kept (small candidate sets)
  double psum_ = 0, wsum_ = 0; // P = sum p_i, W = sum p_i / s_i^2
  std::vector<double> tpair_;  // per candidate pair: sum_i p_i z'Gz + w_i e_k e_l (with tables)
  std::vector<int32_t> run_;
  std::vector<double> r_;      // rows of the Cholesky factor of T
  std::vector<double> total_;  // per depth: sum_i p_i (tr(V_i^-1 T) + W e_i'V_i^-1 e_i)
  std::vector<char> bad_;      // per depth: a pivot was not positive
  std::vector<double> vrow_, trow_;
};

// The T best distinct designs of n runs (best first) found by an
// exhaustive search over every multiset of candidates; adds the designs
// evaluated to *evaluated, and those whose MD is not a number (they take no
// place among the best) to *undefined when it is given.
std::vector<FollowUpDesign> search_exhaustive(MdCriterion &crit, int n, int top,
                                              uint64_t *evaluated, uint64_t *undefined = nullptr);
// How an exchange search ended.
struct ExchangeEnd {
  int32_t starts_run = 0;      // starts begun
  bool stopped_early = false;  // the time bound ended the search
};
// The same by coordinate exchange from random starts; *best_reached counts
// the starts that ended at the best MD found (to rounding: designs that tie
// by symmetry count alike). With max_seconds > 0 the search stops once that
// much time has passed (checked after each exchanged run), keeping the best
// designs found so far; *end says so.
std::vector<FollowUpDesign> search_exchange(MdCriterion &crit, int n, int top, int starts,
                                            uint64_t seed, uint64_t *evaluated,
                                            int32_t *best_reached, uint64_t *undefined = nullptr,
                                            double max_seconds = 0, ExchangeEnd *end = nullptr);

// The follow-up step after the analysis: chooses the runs among the
// candidates (those given, when they hold runs, else the full factorial of
// the leading models' factors). A follow-up that cannot be formed throws an
// Error ("NO FOLLOW-UP RUNS: ...").
FollowUpResult follow_up(const Design &design, const Settings &settings, const ModelTable &models,
                         CandidateRuns candidates);

}  // namespace bayescreen
