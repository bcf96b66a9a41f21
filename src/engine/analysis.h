// The analysis as one call: a design and settings in, the results out. The
// public header of the engine: a front end (the command line, a binding)
// needs no other.
#pragma once
#include <optional>
#include <span>
#include <vector>

#include "engine/aliases.h"
#include "engine/calcmodels.h"
#include "engine/candidates.h"
#include "engine/design.h"
#include "engine/effects.h"
#include "engine/effectspace.h"
#include "engine/modelsearch.h"
#include "engine/followup.h"
#include "engine/modelspace.h"
#include "engine/postactive.h"
#include "engine/priorgrid.h"
#include "engine/rankmodels.h"
#include "engine/settings.h"
#include "support/error.h"

namespace bayescreen {

// Everything an analysis finds, for the report and the result files.
struct Results {
  ModelTable models;                         // every model with its fit and posterior
  std::vector<RankingTable> rankings;        // the ranking tables, in the report's order
  AliasGroups aliases;                       // identical fits among the models listed
  FactorWeightTables weights;                // the factor tables
  std::optional<PriorGridResults> prior_grid;  // with --gamma-grid or --pi-grid
  std::optional<FollowUpResult> follow_up;     // with --follow-up
  std::optional<EffectResults> effects;        // when the request asks for them
  // The effects space (--model-space=effects): its results; the model table
  // and rankings are then empty, and the factor tables hold the factors'
  // posterior probabilities under the PostProb weighting alone.
  std::optional<EffectsResults> effects_space;

  // The models of the overall table by posterior probability, best first.
  // (None in the effects space, which has no model table.)
  std::span<const int32_t> ranked_by_postprob() const {
    if (rankings.empty()) return {};
    return rankings.back().overall;
  }
};

// What the analysis has done so far, for a front end that reports as it
// goes (and the step-through display); each does nothing unless overridden.
class AnalysisObserver : public FitObserver {
 public:
  // The model set, before any fit.
  virtual void model_set_built(const Results &) {}
  // True when every fit is to be shown (model_fitted is then called for
  // each, and the fits are made run by run).
  virtual bool shows_fits() const { return false; }
  void model_fitted(const FitStep &) override {}
  virtual void models_fitted(const Results &) {}
  virtual void models_ranked(const Results &) {}
  virtual void factors_weighed(const Results &) {}
  virtual void effects_estimated(const Results &) {}
  virtual void prior_grid_done(const Results &) {}
  virtual void follow_up_done(const Results &) {}
  // The effects space's analysis, in place of every step above.
  virtual void effects_done(const Results &) {}
  // The stochastic search of the effects space after each of its rounds
  // (on the analysing thread).
  virtual void search_progress(const SearchProgress &) {}
};

// What an analysis may be asked for beyond the settings.
struct AnalysisRequest {
  bool all_weightings = false;      // factor tables of every weighting, not just those shown
  CandidateRuns candidates;         // follow-up candidates read from a file (none: the factorial)
  FitPath path = FitPath::Auto;     // which fits (tests compare both)
  bool effects = false;             // the effect estimates (effects.h)
};

// The most columns a model matrix may have: beyond this the fits would take
// minutes per model and most models would be singular in any real design.
constexpr int kMaxModelColumns = 1024;

// Throws "TOO MANY MODELS" / "TOO MANY COLUMNS" (for the screen and the
// log) when the model set of the settings is beyond the limits, before any
// work (in the effects space: check_effect_space_size).
void check_model_set_size(const Design &design, const Settings &settings);

// The whole analysis of a design under the settings: the model set, the
// fits, the rankings and alias groups, the factor tables, the effect
// estimates the request asks for, the prior grids and the follow-up runs
// the settings ask for. Errors throw an Error.
// Thread-safe: analyses of different designs may run at once.
Results analyse(const Design &design, const Settings &settings, AnalysisObserver *observer = nullptr,
                const AnalysisRequest &request = AnalysisRequest());

}  // namespace bayescreen
