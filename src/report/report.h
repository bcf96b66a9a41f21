// The text report of an analysis, screen and log, printed as the analysis
// goes: the model set, the step-through display of the fits (-S, -V), the
// invalid models, the ranking tables and alias groups, the factor tables,
// the prior grids and the follow-up runs.
#pragma once
#include <string>
#include <vector>

#include "engine/analysis.h"

namespace bayescreen {

class ReportPrinter : public AnalysisObserver {
 public:
  // show_effects: print the effect table (--effects) when the analysis
  // estimates the effects.
  ReportPrinter(const Design &design, const Settings &settings, bool show_effects = false)
      : design_(design), settings_(settings), show_effects_(show_effects) {}

  void model_set_built(const Results &results) override;
  bool shows_fits() const override { return settings_.step != 0; }
  void model_fitted(const FitStep &step) override;
  void models_fitted(const Results &results) override;
  void models_ranked(const Results &results) override;
  void factors_weighed(const Results &results) override;
  void effects_estimated(const Results &results) override;
  void prior_grid_done(const Results &results) override;
  void follow_up_done(const Results &results) override;
  void effects_done(const Results &results) override;

 private:
  const Design &design_;
  const Settings &settings_;
  bool show_effects_ = false;
};

// The coding table of a design read from a table: each factor's letter,
// name, and the values coded -1, +1 and 0. Nothing for a design file.
void show_coding_table(const Design &design);
// The effect table (--effects): every main effect, and the interactions in
// models that hold 1% of the posterior or more, by name with the letters
// beside; then Lenth's figures or why there are none.
void show_effects(const Design &design, const EffectResults &effects);

// The ranking tables of one criterion (the column marked "*").
void show_ranking(const Design &design, const Settings &settings, const ModelTable &models,
                  const RankingTable &table);
// The alias groups, best group first, one line each: "  BD = BF = DF", or
// with labels "  Temp*Time (BD) = ...".
void show_alias_groups(const Design &design, const ModelTable &models, const AliasGroups &groups);
// The factor-weight tables of the run.
void show_post_active(const Design &design, const Settings &settings, const ModelTable &models,
                      const FactorWeightTables &tables);
// The prior-grid section.
void show_prior_grid(const Design &design, const Settings &settings, const PriorGridResults &grid);
// The follow-up section; a follow-up without any design of a computable
// MD throws the Error "NO FOLLOW-UP RUNS" after the models and the search.
void show_follow_up(const Design &design, const Settings &settings, const ModelTable &models,
                    const FollowUpResult &r);

// The effects-space section: the space and its prior, the probability of
// every effect and of every factor, of no effect, the best models and the
// alias groups among the effects.
void show_effects(const Design &design, const Settings &settings, const EffectsResults &r);

// The labels of a grid's values: "%.*g" with the fewest digits, at least
// three, that tell every value from its neighbours.
std::vector<std::string> value_labels(const std::vector<double> &values);
// True when the report marks criteria that do not exist as "-" (runs with
// the model-space options); plain runs print them as the arithmetic gives.
inline bool dash_for_missing(const Settings &settings) { return !settings.model_space.is_default(); }

}  // namespace bayescreen
