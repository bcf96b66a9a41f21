#include "engine/rankmodels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/aliases.h"
#include "engine/calcmodels.h"
#include "engine/settings.h"
#include "support/commnum.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

int stype = 0;
unsigned dlen = 0;
int32_t *rank_order = nullptr;
int rank_count = 0;

namespace {

constexpr unsigned kMaxDash = 280;
constexpr int kBestPerSize = 5;
constexpr int kBestOverall = 15;

// Orders two records: models with a posterior before those without, then
// by wt in the given direction (+1 descending, -1 ascending), then by
// enumeration number. A wt that is not a number goes after every number in
// either direction, and equal values (infinities included) are ties, so the
// order is total.
int compare_models(const ModelEntry *a, const ModelEntry *b, int descending) {
  const bool a_out = !has_posterior(*a), b_out = !has_posterior(*b);
  if (a_out != b_out) return a_out ? 1 : -1;
  const bool a_nan = std::isnan(a->wt), b_nan = std::isnan(b->wt);
  if (a_nan != b_nan) return a_nan ? 1 : -1;
  if (!a_nan && a->wt != b->wt) {
    const bool a_first = descending > 0 ? a->wt > b->wt : a->wt < b->wt;
    return a_first ? -1 : 1;
  }
  if (a->num != b->num) return a->num < b->num ? -1 : 1;
  return 0;
}

// Width of the Model column: the longest name of the set (one letter per
// factor, "(null)" for the null model), at least 4.
int name_width() {
  int width = 4;
  // The last model of the enumeration has the most factors.
  if (nmod > 0) width = std::max(width, static_cast<int>(strlen(model[nmod - 1].name)));
  if (modelspace.with_null) width = std::max(width, 6);
  return width;
}

// Orders order[lo .. hi-1] so that its first `wanted` entries are the best
// models of that range under the comparator, best first.
void select_best(int lo, int hi, int wanted, int descending) {
  auto better = [descending](int32_t a, int32_t b) {
    return compare_models(&model[a], &model[b], descending) < 0;
  };
  if (wanted > hi - lo) wanted = hi - lo;
  std::partial_sort(rank_order + lo, rank_order + lo + wanted, rank_order + hi, better);
}

int rank_capacity = 0;

void reset_order() {
  if (nmod > rank_capacity) {
    free(rank_order);
    rank_order = static_cast<int32_t *>(cxalloc(static_cast<size_t>(nmod) + 3, sizeof(int32_t)));
    rank_capacity = nmod;
  }
  for (int i = 0; i < nmod; i++) rank_order[i] = i;
}

// Prints one criterion value in its column: as the format gives it, or, in
// runs that mark missing criteria, a "-" in the same width when the value
// is not a finite number.
const char *field(char *buf, size_t size, const char *format, int width, double value) {
  if (dash_for_missing() && !std::isfinite(value))
    snprintf(buf, size, "%*s", width, "-");
  else
    snprintf(buf, size, format, value);
  return buf;
}

int descending_of(int column) { return column == 3 ? -1 : 1; }

}  // namespace

bool dash_for_missing() { return !default_model_space(); }

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
      bprintf(" Model%*s  AdjRsq%s     Rmse     Fstat%s     Likelihood%s Rmsec%s  BPostProb%s\n",
              name_width() - 4, "", sfl(0), sfl(1), sfl(2), sfl(3), sfl(4)));
  showdash();
}

void showmodline(const ModelEntry *entry) {
  PlaceGuard place("ShowModLine");
  char adjrsq[40], rmse[40], fstat[40], likelihood[40], rmsec[40], postprob[40];
  dlen = static_cast<unsigned>(bprintf(
      " %-*s  %s   %s  %s    %s   %s  %s\n", name_width(), entry->name,
      field(adjrsq, sizeof adjrsq, "%9.5f", 9, entry->adjrsq),
      field(rmse, sizeof rmse, "%7.4f", 7, entry->rmse),
      field(fstat, sizeof fstat, "%8.4f", 8, entry->fstat),
      field(likelihood, sizeof likelihood, "%8.2g", 8, entry->likelihood),
      field(rmsec, sizeof rmsec, "%7.4f", 7, entry->rmsec),
      field(postprob, sizeof postprob, "%.2g", 1, entry->postprob)));
}

void showranks(const char *name, int bysize, int column) {
  PlaceGuard place("ShowRanks");
  stype = column;
  const int descending = descending_of(column);
  const int limit = rankall ? nmod : kBestPerSize;
  reset_order();
  if (bysize) {
    bprintf(rankall ? "\nAll models for each model size:\n" : "\nBest 5 for each model size:\n");
    showmodheadline();
    // The models of each size stand together in enumeration order.
    bool first_size = true;
    for (int lo = 0; lo < nmod;) {
      int hi = lo;
      while (hi < nmod && model[hi].nf == model[lo].nf) hi++;
      select_best(lo, hi, limit, descending);
      const int shown = std::min(limit, hi - lo);
      if (shown > 0 && !first_size) showdash();
      for (int i = 0; i < shown; i++) showmodline(&model[rank_order[lo + i]]);
      note_listed_models(rank_order + lo, shown);
      first_size = first_size && shown == 0;
      lo = hi;
    }
    bprintf("\n");
    reset_order();
  }
  if (rankall)
    bprintf("\nAll models sorted together by %s (n=%s):\n", name, commnum(nmod));
  else
    bprintf("\nAll models sorted together by %s (best 15 out of %s):\n", name, commnum(nmod));
  showmodheadline();
  rank_count = rankall ? nmod : std::min(nmod, kBestOverall);
  select_best(0, nmod, rank_count, descending);
  for (int i = 0; i < rank_count; i++) showmodline(&model[rank_order[i]]);
  note_listed_models(rank_order, rank_count);
}

void rank_models() {
  PlaceGuard place("Rank_Models");
  clear_listed_models();
  if (moreranks) {
    bprintf("\nSorting %d model%s by %s (data from %s):\n", nmod, plural(nmod), "AdjRsq", infile);
    set_keys(&ModelEntry::adjrsq);
    showranks("AdjRsq", all_by_size, 0);
  }

  if (!moreranks)
    printf("\nSorting %d model%s by %s (data from %s):\n", nmod, plural(nmod), "Fstat", infile);
  else
    printf("\nSorting %d model%s by %s:\n", nmod, plural(nmod), "Fstat");
  set_keys(&ModelEntry::fstat);
  showranks("Fstat", !moreranks || all_by_size, 1);

  if (moreranks) {
    printf("\nSorting %d model%s by %s (pi=%g, gam=%g):\n", nmod, plural(nmod), "Rmsec", pi, gam);
    set_keys(&ModelEntry::rmsec);
    showranks("Rmsec", all_by_size, 3);
  }

  printf("\nSorting %d model%s by %s (pi=%g, gam=%g):\n", nmod, plural(nmod), "BayesPostProb", pi,
         gam);
  set_keys(&ModelEntry::postprob);
  showranks("BayesPostProb", all_by_size, 4);

  printf("\n(*) - Models sorted by this column.\n");
  if (!default_model_space()) show_alias_groups();
}

}  // namespace bayescreen
