#include "analysis/models.h"

#include <cstdio>
#include <cstring>

#include "analysis/readdat.h"
#include "options/strlist.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

ModelEntry *model = nullptr;
int nmod = 0;
unsigned nxmod = 0;

void init_one_mod(ModelEntry *entry, int i, int j, int k) {
  if (entry == nullptr) return;
  PlaceGuard place("Init_One_Mod");
  const int index[3] = {i, j, k};
  int p = 0;
  for (; p < 3 && index[p] >= 0; p++) {
    entry->name[p] = factorstr[index[p]];
    entry->moff[p] = index[p];
  }
  entry->moff[p] = -1;
  entry->ivals = static_cast<int32_t *>(cxalloc(static_cast<size_t>(nv) + 3, sizeof(int32_t)));
}

// Singles, then pairs, then triples, each in lexicographic order of columns.
void init_models() {
  PlaceGuard place("Init_Models");
  const unsigned v = static_cast<unsigned>(nv);
  nxmod = v + v * (v - 1) / 2 + v * (v - 1) * (v - 2) / 6 + 3;
  model = static_cast<ModelEntry *>(cxalloc(static_cast<size_t>(nxmod) + 3, sizeof(ModelEntry)));
  int i = 0;
  auto start = [&](int nf, int neff) -> ModelEntry * {
    ModelEntry *m = &model[i];
    m->num = i + 1;
    m->nf = nf;
    m->neff = neff;
    i++;
    return m;
  };
  for (int u = 0; u < nv; u++) init_one_mod(start(1, 1), u, -1, -1);
  for (int u = 0; u < nv; u++)
    for (int w = u + 1; w < nv; w++) init_one_mod(start(2, 3), u, w, -1);
  for (int u = 0; u < nv; u++)
    for (int w = u + 1; w < nv; w++)
      for (int x = w + 1; x < nv; x++) init_one_mod(start(3, 7), u, w, x);
  nmod = i;
}

void show_model_names() {
  PlaceGuard place("Show_Model_Names");
  StringList *list = new_strlist();
  for (int i = 0; i < nmod; i++) add_strlist(list, model[i].name);
  bprintf("Models and submodels (n=%d):\n", num_strlist(list));
  prqtok_strlist(nullptr, list, bprintf);
  kill_strlist(&list);
}

void set_keys(double ModelEntry::*field) {
  for (int i = 0; i < nmod; i++) model[i].wt = model[i].*field;
}

void showmat(const double *values, int nrows, int ncols) {
  PlaceGuard place("ShowMat");
  for (int r = 0; r < nrows; r++) {
    printf("%3d. ", r + 1);
    for (int c = 0; c < ncols; c++) printf(" %3g", values[r * ncols + c]);
    printf("\n");
  }
}

static const char *show_moff(char *buf, const int32_t *list, const char *chars) {
  PlaceGuard place("Show_Moff");
  memset(buf, 0, 5);
  for (int p = 0; p < 4 && list[p] >= 0; p++) buf[p] = chars[list[p]];
  return buf;
}

const char *show_char_moff(const int32_t *list) {
  static char buf[5];
  return show_moff(buf, list, factorstr);
}

const char *show_int_moff(const int32_t *list) {
  static char buf[5];
  return show_moff(buf, list, digitstr);
}

}  // namespace bayescreen
