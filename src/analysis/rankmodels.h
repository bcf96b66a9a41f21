// Ranking reports: the models sorted under each criterion, best per model
// size and best overall.
#pragma once

#include "analysis/models.h"

namespace bayescreen {

extern int stype;       // criterion column marked "*": 0 AdjRsq .. 4 BPostProb
extern unsigned dlen;   // characters of the last table header or line

void rank_models();
// qsort comparators: valid models first, then by wt (descending /
// ascending; a wt that is not a number after every number), then by num.
int sortmodwtd(const void *a, const void *b);
int sortmodwta(const void *a, const void *b);
void showranks(const char *name, int bysize, int column);
void showmodheadline();
void showmodline(const ModelEntry *entry);
void showdash();
const char *sfl(int column);

}  // namespace bayescreen
