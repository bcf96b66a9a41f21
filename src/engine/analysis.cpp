#include "engine/analysis.h"

#include <cstdio>

#include "engine/effectcolumns.h"
#include "engine/modelsearch.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// The most models of the effects space the effect estimates average over.
constexpr int32_t kEffectModelsAveraged = 5000;

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
    if (model_space_searched(design, settings))
      check_effect_count(design, settings);
    else
      check_effect_space_size(design, settings);
    return;
  }
  if (model_space_searched(design, settings)) {
    check_factor_search_size(design, settings);
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
    // With the effect estimates, the best models the estimates average
    // over are kept too (the report lists the best top_models of them).
    Settings run = settings;
    if (request.effects) run.effects.top_models = std::max(settings.effects.top_models, kEffectModelsAveraged);
    if (model_space_searched(design, settings)) {
      const bool automatic = settings.search.mode == SearchMode::Auto;
      auto progress = [&](const SearchProgress &now) { report.search_progress(now); };
      results.effects_space = search_effects(design, run, automatic, progress);
    } else {
      results.effects_space = analyse_effects(design, run);
    }
    EffectsResults &space = *results.effects_space;
    std::vector<WeightedModel> averaged;
    if (request.effects) {
      for (const EffectModel &m : space.top) {
        WeightedModel w;
        for (int32_t e : m.effects) w.columns.push_back(space.effects[static_cast<size_t>(e)].mask);
        // A search's weights among the models it weighed; the enumeration's
        // among all.
        w.probability = space.search ? m.renormalised : m.probability;
        averaged.push_back(std::move(w));
      }
      const size_t keep = static_cast<size_t>(std::max(0, settings.effects.top_models));
      if (space.top.size() > keep) space.top.resize(keep);
    }
    results.weights = effect_factor_tables(design, space);
    report.effects_done(results);
    if (request.effects) {
      results.effects = estimate_space_effects(design, settings, averaged, effect_space_gammas(settings));
      report.effects_estimated(results);
    }
    return results;
  }
  if (model_space_searched(design, settings)) {
    // The factors space beyond enumeration: its search, reported as the
    // effects space's is (no model table, rankings or fits).
    const bool automatic = settings.search.mode == SearchMode::Auto;
    auto progress = [&](const SearchProgress &now) { report.search_progress(now); };
    results.effects_space = search_factors(design, settings, automatic, progress);
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
