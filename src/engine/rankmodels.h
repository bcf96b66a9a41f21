// Rankings as data: the models sorted under each criterion of the run, the
// best of each model size and the best overall, as the report lists them.
#pragma once
#include <cstdint>
#include <vector>

#include "engine/modelspace.h"
#include "engine/settings.h"

namespace bayescreen {

// The criteria of the tables, by the column the report marks with "*".
enum RankColumn : int { RANK_ADJRSQ = 0, RANK_FSTAT, RANK_LIKELIHOOD, RANK_RMSEC, RANK_POSTPROB };

// One criterion's tables: the models listed, as indices into the table.
struct RankingTable {
  const char *name = "";    // "AdjRsq", "Fstat", "Rmsec" or "BayesPostProb"
  int column = 0;           // RankColumn of the criterion
  bool by_size = false;     // the best of each model size are listed first
  // With by_size: for each model size (in order), its best models, best first.
  std::vector<std::vector<int32_t>> sizes;
  std::vector<int32_t> overall;  // the best overall, best first
};

// The tables of the run, in the report's order: with -C by adjusted
// R-squared, then by F statistic, with -C by Rmsec, then by posterior
// probability. With -R every model is listed, else the best 5 of each size
// and the best 15 overall.
std::vector<RankingTable> rank_models(const ModelTable &models, const Settings &settings);

// Orders two models under a criterion: models with a posterior before
// those without, then by the criterion (descending, or ascending for
// Rmsec), then by enumeration number. A value that is not a number goes
// after every number, and equal values (infinities included) are ties, so
// the order is total. Negative when a comes first.
int compare_models(const ModelSpace &space, const ModelEntry &a, const ModelEntry &b, int column);

// The value of a model under a criterion column.
double criterion_value(const ModelEntry &m, int column);

}  // namespace bayescreen
