// Alias groups: among the models a report lists, those whose fits are
// identical (in a saturated or aliased design, models built on columns that
// are the same vectors give the same fitted values and the same posterior,
// so nothing in the data can tell them apart).
#pragma once
#include <cstdint>

namespace bayescreen {

// Forgets the models noted so far (each report starts afresh).
void clear_listed_models();
// Notes that the models model[indices[0 .. count-1]] were listed.
void note_listed_models(const int32_t *indices, int count);
// Groups the noted models with identical fits, numbers the groups in
// model[].alias (1, 2, ...; 0 for a model in no group) and prints them,
// best group first, one line each: "  BD = BF = DF". Prints nothing when no
// two noted models have identical fits.
void show_alias_groups();

}  // namespace bayescreen
