// Ranking reports: the models sorted under each criterion, best per model
// size and best overall.
#pragma once
#include <cstdint>

#include "engine/models.h"

namespace bayescreen {

extern int stype;       // criterion column marked "*": 0 AdjRsq .. 4 BPostProb
extern unsigned dlen;   // characters of the last table header or line

// The model array keeps its enumeration order; each ranking orders this
// array of model indices instead. After rank_models its first entries are
// the models of the overall BayesPostProb table, in that order (all of them
// with -R), and rank_count says how many.
extern int32_t *rank_order;
extern int rank_count;

// Sorts the models under each criterion of the run (F statistic and
// posterior probability; with -C also adjusted R-squared and Rmsec) and
// prints the tables of each.
void rank_models();
// qsort comparators: valid models first, then by wt (descending /
// ascending; a wt that is not a number after every number), then by num.
int sortmodwtd(const void *a, const void *b);
int sortmodwta(const void *a, const void *b);
// The tables of one criterion (column marks it with "*"): with bysize the
// best 5 (all with -R) of each model size, then the best 15 (all) overall.
void showranks(const char *name, int bysize, int column);
// The column header line of a table and the dashes under it.
void showmodheadline();
// One model's line of a table.
void showmodline(const ModelEntry *entry);
// A line of dlen dashes (at most 280).
void showdash();
// The sort-flag mark after a column header: "*" for column stype, else " ".
const char *sfl(int column);

// True when the report marks criteria that do not exist as "-" (runs with
// the model-space options); plain runs print them as the arithmetic gives.
bool dash_for_missing();

}  // namespace bayescreen
