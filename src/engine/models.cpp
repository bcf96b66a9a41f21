#include "engine/models.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "engine/readdat.h"
#include "engine/settings.h"
#include "support/strlist.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"

namespace bayescreen {

ModelEntry *model = nullptr;
int nmod = 0;
unsigned nxmod = 0;

namespace {

constexpr const char *kNullName = "(null)";
// Beyond this many models the name listing gives the count of each size.
constexpr int kMaxListedNames = 10000;

// The model names, one after another with their terminators.
char *namepool = nullptr;
size_t namepool_used = 0;
size_t namepool_size = 0;

constexpr uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Pascal's triangle up to row 64, saturating, built at compile time.
struct BinomialTable {
  uint64_t c[65][65] = {};
  constexpr BinomialTable() {
    for (int i = 0; i <= 64; i++) {
      c[i][0] = c[i][i] = 1;
      for (int j = 1; j < i; j++) c[i][j] = saturating_add(c[i - 1][j - 1], c[i - 1][j]);
    }
  }
};
constexpr BinomialTable kBinomial;

int largest_size() {
  const int k = screened_factors();
  return modelspace.max_factors < k ? modelspace.max_factors : k;
}

// Stores the letters of the factor set in the name pool; a name given
// outside the enumeration that sized the pool gets a block of its own.
const char *pool_name(uint64_t set) {
  const size_t length = static_cast<size_t>(__builtin_popcountll(set));
  if (namepool_used + length + 1 > namepool_size) {
    char *own = static_cast<char *>(mxalloc(length + 1));
    size_t n = 0;
    for (uint64_t bits = set; bits != 0; bits &= bits - 1) own[n++] = factorstr[__builtin_ctzll(bits)];
    return own;
  }
  char *name = namepool + namepool_used;
  size_t n = 0;
  for (uint64_t bits = set; bits != 0; bits &= bits - 1) name[n++] = factorstr[__builtin_ctzll(bits)];
  name[n] = '\0';
  namepool_used += n + 1;
  return name;
}

}  // namespace

uint64_t binomial(int n, int k) {
  if (n < 0 || n > 64 || k < 0 || k > n) return 0;
  return kBinomial.c[n][k];
}

bool default_model_space() {
  const ModelSpace defaults;
  return modelspace.blocks == defaults.blocks && modelspace.max_factors == defaults.max_factors &&
         modelspace.order == defaults.order && modelspace.with_null == defaults.with_null &&
         modelspace.keep_aliased == defaults.keep_aliased && modelspace.gam_int == defaults.gam_int;
}

int screened_factors() { return nv - modelspace.blocks; }

uint64_t count_models() {
  const int k = screened_factors();
  uint64_t count = modelspace.with_null ? 1 : 0;
  for (int f = 1; f <= largest_size(); f++) count = saturating_add(count, binomial(k, f));
  return count;
}

int model_columns(int nf) {
  uint64_t columns = 1 + static_cast<uint64_t>(modelspace.blocks);
  for (int t = 1; t <= nf && t <= modelspace.order; t++)
    columns = saturating_add(columns, binomial(nf, t));
  return columns > INT32_MAX ? INT32_MAX : static_cast<int>(columns);
}

void init_one_mod(ModelEntry *entry, int i, int j, int k) {
  if (entry == nullptr) return;
  PlaceGuard place("Init_One_Mod");
  entry->fset = 0;
  for (int index : {i, j, k}) {
    if (index < 0) break;
    entry->fset |= uint64_t{1} << index;
  }
  entry->name = pool_name(entry->fset);
  entry->ivals = 0;
}

// The null model first (with --null), then the models of 1, 2, ... K
// factors, each size in lexicographic order of the factors' columns; with
// the defaults: singles, pairs, triples.
void init_models() {
  PlaceGuard place("Init_Models");
  const int k = screened_factors();
  const int first = modelspace.blocks;
  const int largest = largest_size();
  const uint64_t count = count_models();
  nxmod = static_cast<unsigned>(count + 3);
  model = static_cast<ModelEntry *>(cxalloc(static_cast<size_t>(nxmod) + 3, sizeof(ModelEntry)));
  uint64_t pool = strlen(kNullName) + 1;
  for (int f = 1; f <= largest; f++) pool += binomial(k, f) * static_cast<uint64_t>(f + 1);
  free(namepool);
  namepool = static_cast<char *>(cxalloc(static_cast<size_t>(pool) + 3, 1));
  namepool_size = static_cast<size_t>(pool);
  namepool_used = 0;

  int i = 0;
  auto start = [&](int nf) -> ModelEntry * {
    ModelEntry *m = &model[i];
    m->num = i + 1;
    m->nf = nf;
    m->neff = model_columns(nf) - 1;
    i++;
    return m;
  };
  if (modelspace.with_null) {
    ModelEntry *m = start(0);
    strcpy(namepool, kNullName);
    m->name = namepool;
    namepool_used = strlen(kNullName) + 1;
  }
  int32_t pick[64];
  for (int f = 1; f <= largest; f++) {
    // Combinations of f of the k screened factors in lexicographic order.
    for (int p = 0; p < f; p++) pick[p] = p;
    for (;;) {
      ModelEntry *m = start(f);
      for (int p = 0; p < f; p++) m->fset |= uint64_t{1} << (first + pick[p]);
      m->name = pool_name(m->fset);
      int p = f - 1;
      while (p >= 0 && pick[p] == k - f + p) p--;
      if (p < 0) break;
      pick[p]++;
      for (int q = p + 1; q < f; q++) pick[q] = pick[q - 1] + 1;
    }
  }
  nmod = i;
}

void show_model_names() {
  PlaceGuard place("Show_Model_Names");
  if (!default_model_space() && nmod > kMaxListedNames) {
    bprintf("Models and submodels (n=%d):\n", nmod);
    const int k = screened_factors();
    if (modelspace.with_null) bprintf("  the null model\n");
    for (int f = 1; f <= largest_size(); f++)
      bprintf("  %llu model%s of %d factor%s\n", static_cast<unsigned long long>(binomial(k, f)),
              plural(static_cast<long>(binomial(k, f))), f, plural(f));
    return;
  }
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

int column_list(uint64_t set, int32_t *list) {
  int n = 0;
  for (int c = 0; c < 64; c++)
    if (has_column(set, c)) list[n++] = c;
  list[n] = -1;
  return n;
}

static const char *show_moff(char *buf, size_t size, const int32_t *list, const char *chars) {
  PlaceGuard place("Show_Moff");
  memset(buf, 0, size);
  for (size_t p = 0; p + 1 < size && list[p] >= 0; p++) buf[p] = chars[list[p]];
  return buf;
}

const char *show_char_moff(const int32_t *list) {
  static char buf[66];
  return show_moff(buf, sizeof buf, list, factorstr);
}

const char *show_int_moff(const int32_t *list) {
  static char buf[66];
  return show_moff(buf, sizeof buf, list, digitstr);
}

}  // namespace bayescreen
