#include "analysis/rankmodels.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "analysis/settings.h"
#include "support/commnum.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

int stype = 0;
unsigned dlen = 0;

namespace {

constexpr unsigned kMaxDash = 280;

// Orders two records: valid before invalid, then by wt in the given
// direction (+1 descending, -1 ascending), then by enumeration number.
// A wt that is not a number goes after every number in either direction,
// and equal values (infinities included) are ties, so the order is total.
int compare_models(const ModelEntry *a, const ModelEntry *b, int descending) {
  if (a->invalid != b->invalid) return a->invalid < b->invalid ? -1 : 1;
  const bool a_nan = std::isnan(a->wt), b_nan = std::isnan(b->wt);
  if (a_nan != b_nan) return a_nan ? 1 : -1;
  if (!a_nan && a->wt != b->wt) {
    const bool a_first = descending > 0 ? a->wt > b->wt : a->wt < b->wt;
    return a_first ? -1 : 1;
  }
  if (a->num != b->num) return a->num < b->num ? -1 : 1;
  return 0;
}

void sort_models(int (*comparator)(const void *, const void *)) {
  qsort(model, static_cast<size_t>(nmod), sizeof(ModelEntry), comparator);
}

}  // namespace

int sortmodwtd(const void *a, const void *b) {
  return compare_models(static_cast<const ModelEntry *>(a), static_cast<const ModelEntry *>(b), 1);
}

int sortmodwta(const void *a, const void *b) {
  return compare_models(static_cast<const ModelEntry *>(a), static_cast<const ModelEntry *>(b),
                        -1);
}

const char *sfl(int column) { return column == stype ? "*" : " "; }

void showdash() {
  PlaceGuard place("ShowDash");
  if (dlen > kMaxDash) dlen = kMaxDash;
  char dashes[kMaxDash + 1];
  memset(dashes, '-', dlen);
  dashes[dlen] = '\0';
  bprintf(" %s\n", dashes);
}

void showmodheadline() {
  PlaceGuard place("ShowModHeadLine");
  dlen = static_cast<unsigned>(
      bprintf(" Model  AdjRsq%s     Rmse     Fstat%s     Likelihood%s Rmsec%s  BPostProb%s\n",
              sfl(0), sfl(1), sfl(2), sfl(3), sfl(4)));
  showdash();
}

void showmodline(const ModelEntry *entry) {
  PlaceGuard place("ShowModLine");
  dlen = static_cast<unsigned>(bprintf(" %-4s  %9.5f   %7.4f  %8.4f    %8.2g   %7.4f  %.2g\n",
                                       entry->name, entry->adjrsq, entry->rmse, entry->fstat,
                                       entry->likelihood, entry->rmsec, entry->postprob));
}

void showranks(const char *name, int bysize, int column) {
  PlaceGuard place("ShowRanks");
  stype = column;
  const int limit = rankall ? nmod : 5;
  if (bysize) {
    bprintf(rankall ? "\nAll models for each model size:\n" : "\nBest 5 for each model size:\n");
    showmodheadline();
    for (int size = 1; size <= 3; size++) {
      int shown = 0;
      for (int i = 0; i < nmod && shown < limit; i++) {
        if (model[i].nf != size) continue;
        if (shown == 0 && size > 1) showdash();
        showmodline(&model[i]);
        shown++;
      }
    }
    bprintf("\n");
  }
  if (rankall)
    bprintf("\nAll models sorted together by %s (n=%s):\n", name, commnum(nmod));
  else
    bprintf("\nAll models sorted together by %s (best 15 out of %s):\n", name, commnum(nmod));
  showmodheadline();
  const int shown = rankall ? nmod : (nmod < 15 ? nmod : 15);
  for (int i = 0; i < shown; i++) showmodline(&model[i]);
}

void rank_models() {
  PlaceGuard place("Rank_Models");
  if (moreranks) {
    bprintf("\nSorting %d model%s by %s (data from %s):\n", nmod, plural(nmod), "AdjRsq", infile);
    set_keys(&ModelEntry::adjrsq);
    sort_models(sortmodwtd);
    showranks("AdjRsq", all_by_size, 0);
  }

  if (!moreranks)
    printf("\nSorting %d model%s by %s (data from %s):\n", nmod, plural(nmod), "Fstat", infile);
  else
    printf("\nSorting %d model%s by %s:\n", nmod, plural(nmod), "Fstat");
  set_keys(&ModelEntry::fstat);
  sort_models(sortmodwtd);
  showranks("Fstat", !moreranks || all_by_size, 1);

  if (moreranks) {
    printf("\nSorting %d model%s by %s (pi=%g, gam=%g):\n", nmod, plural(nmod), "Rmsec", pi, gam);
    set_keys(&ModelEntry::rmsec);
    sort_models(sortmodwta);
    showranks("Rmsec", all_by_size, 3);
  }

  printf("\nSorting %d model%s by %s (pi=%g, gam=%g):\n", nmod, plural(nmod), "BayesPostProb", pi,
         gam);
  set_keys(&ModelEntry::postprob);
  sort_models(sortmodwtd);
  showranks("BayesPostProb", all_by_size, 4);

  printf("\n(*) - Models sorted by this column.\n");
}

}  // namespace bayescreen
