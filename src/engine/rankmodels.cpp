#include "engine/rankmodels.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "engine/calcmodels.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

constexpr int kBestPerSize = 5;
constexpr int kBestOverall = 15;

// Orders order[lo .. hi-1] so that its first `wanted` entries are the best
// models of that range, best first.
void select_best(const ModelSpace &space, const ModelTable &models, std::vector<int32_t> &order,
                 int lo, int hi, int wanted, int column) {
  auto better = [&](int32_t a, int32_t b) { return compare_models(space, models[a], models[b], column) < 0; };
  if (wanted > hi - lo) wanted = hi - lo;
  std::partial_sort(order.begin() + lo, order.begin() + lo + wanted, order.begin() + hi, better);
}

RankingTable rank_by(const ModelTable &models, const Settings &settings, const char *name, bool by_size,
                     int column) {
  PlaceGuard place("ShowRanks");
  const ModelSpace &space = settings.model_space;
  const int nmod = models.size();
  const int limit = settings.rank_all ? nmod : kBestPerSize;
  RankingTable table;
  table.name = name;
  table.column = column;
  table.by_size = by_size;
  std::vector<int32_t> order(static_cast<size_t>(nmod));
  if (by_size) {
    std::iota(order.begin(), order.end(), 0);
    // The models of each size stand together in enumeration order.
    for (int lo = 0; lo < nmod;) {
      int hi = lo;
      while (hi < nmod && models[hi].nf == models[lo].nf) hi++;
      select_best(space, models, order, lo, hi, limit, column);
      const int shown = std::min(limit, hi - lo);
      table.sizes.emplace_back(order.begin() + lo, order.begin() + lo + shown);
      lo = hi;
    }
  }
  std::iota(order.begin(), order.end(), 0);
  const int count = settings.rank_all ? nmod : std::min(nmod, kBestOverall);
  select_best(space, models, order, 0, nmod, count, column);
  table.overall.assign(order.begin(), order.begin() + count);
  return table;
}

}  // namespace

double criterion_value(const ModelEntry &m, int column) {
  switch (column) {
    case RANK_ADJRSQ: return m.adjrsq;
    case RANK_FSTAT: return m.fstat;
    case RANK_LIKELIHOOD: return m.likelihood;
    case RANK_RMSEC: return m.rmsec;
    default: return m.postprob;
  }
}

int compare_models(const ModelSpace &space, const ModelEntry &a, const ModelEntry &b, int column) {
  const bool a_out = !has_posterior(space, a), b_out = !has_posterior(space, b);
  if (a_out != b_out) return a_out ? 1 : -1;
  const double wa = criterion_value(a, column), wb = criterion_value(b, column);
  const bool a_nan = std::isnan(wa), b_nan = std::isnan(wb);
  if (a_nan != b_nan) return a_nan ? 1 : -1;
  if (!a_nan && wa != wb) {
    const bool a_first = column == RANK_RMSEC ? wa < wb : wa > wb;
    return a_first ? -1 : 1;
  }
  if (a.num != b.num) return a.num < b.num ? -1 : 1;
  return 0;
}

std::vector<RankingTable> rank_models(const ModelTable &models, const Settings &settings) {
  PlaceGuard place("Rank_Models");
  std::vector<RankingTable> tables;
  const bool more = settings.more_ranks != 0, every_size = settings.all_by_size != 0;
  if (more) tables.push_back(rank_by(models, settings, "AdjRsq", every_size, RANK_ADJRSQ));
  tables.push_back(rank_by(models, settings, "Fstat", !more || every_size, RANK_FSTAT));
  if (more) tables.push_back(rank_by(models, settings, "Rmsec", every_size, RANK_RMSEC));
  tables.push_back(rank_by(models, settings, "BayesPostProb", every_size, RANK_POSTPROB));
  return tables;
}

}  // namespace bayescreen
