// Alias groups: among the models a report lists, those whose fits are
// identical (in a saturated or aliased design, models built on columns that
// are the same vectors give the same fitted values and the same posterior,
// so nothing in the data can tell them apart).
#pragma once
#include <cstdint>
#include <vector>

#include "engine/design.h"
#include "engine/modelspace.h"
#include "engine/rankmodels.h"
#include "engine/settings.h"

namespace bayescreen {

// The groups, best group first; each the indices of its models, the first
// of them standing for the group ("AB = AC = BC").
using AliasGroups = std::vector<std::vector<int32_t>>;

// Groups the models that the ranking tables list with identical fits, and
// numbers the groups in each model's `alias` (1, 2, ...; 0 for a model in
// no group). No group when no two listed models have identical fits.
AliasGroups find_alias_groups(const Design &design, const Settings &settings, ModelTable &models,
                              const std::vector<RankingTable> &rankings);

}  // namespace bayescreen
