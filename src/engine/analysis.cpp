#include "engine/analysis.h"

#include <cstdio>

#include "engine/modelsearch.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// The factor tables of the effects space: each factor's posterior
// probability as the PostProb weighting's sum and share (the total weight
// is 1), where the factors space puts them.
FactorWeightTables effect_factor_tables(const Design &design, const EffectsResults &effects) {
  FactorWeightTables tables;
  FactorWeights &post = tables.by[static_cast<int>(Weighting::PostProb)];
  post.computed = true;
  post.total = 1;
  post.sums.assign(static_cast<size_t>(design.analysed), 0.0);
  for (int f = 0; f < effects.nfactors; f++)
    post.sums[static_cast<size_t>(effects.first_factor + f)] = effects.factor_probability[static_cast<size_t>(f)];
  post.shares = post.sums;
  tables.none_active = effects.none_active;
  return tables;
}

}  // namespace

void check_model_set_size(const Design &design, const Settings &settings) {
  if (settings.effects.kind == SpaceKind::Effects) {
    if (effects_space_searched(design, settings))
      check_effect_count(design, settings);
    else
      check_effect_space_size(design, settings);
    return;
  }
  const ModelSpace &space = settings.model_space;
  char text[300];
  const uint64_t count = count_models(design, space);
  if (count > static_cast<uint64_t>(space.max_models)) {
    snprintf(text, sizeof text,
             "\nTOO MANY MODELS: the model set holds %llu models, more than the limit of %d !\n"
             "(Narrow it with --max-factors or --order, or raise the limit with --max-models=N.)\n",
             static_cast<unsigned long long>(count), space.max_models);
    throw Error(text, Channel::ScreenAndLog);
  }
  const int largest = model_columns(space, largest_model_size(design, space));
  if (largest > kMaxModelColumns) {
    snprintf(text, sizeof text,
             "\nTOO MANY COLUMNS: the largest model matrix would have %d columns, at most %d are "
             "allowed !\n(Lower --max-factors or --order.)\n",
             largest, kMaxModelColumns);
    throw Error(text, Channel::ScreenAndLog);
  }
}

Results analyse(const Design &design, const Settings &settings, AnalysisObserver *observer,
                const AnalysisRequest &request) {
  AnalysisObserver silent;
  AnalysisObserver &report = observer != nullptr ? *observer : silent;
  check_model_set_size(design, settings);
  Results results;
  if (settings.effects.kind == SpaceKind::Effects) {
    if (effects_space_searched(design, settings)) {
      const bool automatic = settings.search.mode == SearchMode::Auto;
      auto progress = [&](const SearchProgress &now) { report.search_progress(now); };
      results.effects_space = search_effects(design, settings, automatic, progress);
    } else {
      results.effects_space = analyse_effects(design, settings);
    }
    results.weights = effect_factor_tables(design, *results.effects_space);
    report.effects_done(results);
    return results;
  }
  results.models = build_model_table(design, settings.model_space);
  report.model_set_built(results);

  calc_model_fields(design, settings, results.models, report.shows_fits() ? &report : nullptr, request.path);
  report.models_fitted(results);

  results.rankings = rank_models(results.models, settings);
  if (!settings.model_space.is_default())
    results.aliases = find_alias_groups(design, settings, results.models, results.rankings);
  report.models_ranked(results);

  results.weights = factor_weight_tables(design, settings, results.models, request.all_weightings);
  report.factors_weighed(results);

  if (request.effects) {
    results.effects = estimate_effects(design, settings, results.models);
    report.effects_estimated(results);
  }

  if (settings.prior_grids()) {
    results.prior_grid = compute_prior_grid(design, settings, results.models);
    report.prior_grid_done(results);
  }
  if (settings.follow_up.runs > 0) {
    results.follow_up = follow_up(design, settings, results.models, request.candidates);
    report.follow_up_done(results);
  }
  return results;
}

}  // namespace bayescreen
