#include "engine/modelspace.h"

#include <cstring>

#include "support/showplaces.h"

namespace bayescreen {

namespace {

constexpr const char *kNullName = "(null)";

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

}  // namespace

bool ModelSpace::is_default() const {
  const ModelSpace defaults;
  return blocks == defaults.blocks && max_factors == defaults.max_factors && order == defaults.order &&
         with_null == defaults.with_null && keep_aliased == defaults.keep_aliased &&
         gam_int == defaults.gam_int;
}

uint64_t binomial(int n, int k) {
  if (n < 0 || n > 64 || k < 0 || k > n) return 0;
  return kBinomial.c[n][k];
}

uint64_t subset_rank(const int32_t *c, int t, int k) {
  uint64_t rank = 0;
  int before = -1;
  for (int i = 0; i < t; i++) {
    rank += binomial(k - before - 1, t - i) - binomial(k - c[i], t - i);
    before = c[i];
  }
  return rank;
}

int screened_factors(const Design &design, const ModelSpace &space) {
  return design.analysed - space.blocks;
}

int largest_model_size(const Design &design, const ModelSpace &space) {
  const int k = screened_factors(design, space);
  return space.max_factors < k ? space.max_factors : k;
}

uint64_t count_models(const Design &design, const ModelSpace &space) {
  const int k = screened_factors(design, space);
  uint64_t count = space.with_null ? 1 : 0;
  for (int f = 1; f <= largest_model_size(design, space); f++) count = saturating_add(count, binomial(k, f));
  return count;
}

int model_columns(const ModelSpace &space, int nf) {
  uint64_t columns = 1 + static_cast<uint64_t>(space.blocks);
  for (int t = 1; t <= nf && t <= space.order; t++) columns = saturating_add(columns, binomial(nf, t));
  return columns > INT32_MAX ? INT32_MAX : static_cast<int>(columns);
}

ModelTable build_model_table(const Design &design, const ModelSpace &space) {
  PlaceGuard place("Init_Models");
  const int k = screened_factors(design, space);
  const int first = space.blocks;
  const int largest = largest_model_size(design, space);
  ModelTable table;
  table.models_.resize(static_cast<size_t>(count_models(design, space)));
  size_t pool = strlen(kNullName) + 1;
  for (int f = 1; f <= largest; f++) pool += binomial(k, f) * static_cast<uint64_t>(f + 1);
  table.names_ = std::make_unique<char[]>(pool);
  char *names = table.names_.get();
  size_t used = 0;

  int i = 0;
  auto start = [&](int nf) -> ModelEntry & {
    ModelEntry &m = table.models_[static_cast<size_t>(i)];
    m.num = i + 1;
    m.nf = nf;
    m.neff = model_columns(space, nf) - 1;
    i++;
    return m;
  };
  if (space.with_null) {
    ModelEntry &m = start(0);
    strcpy(names, kNullName);
    m.name = names;
    used = strlen(kNullName) + 1;
  }
  for (int f = 1; f <= largest; f++)
    for_each_subset(k, f, [&](const int32_t *pick) {
      ModelEntry &m = start(f);
      char *name = names + used;
      for (int p = 0; p < f; p++) {
        m.fset |= uint64_t{1} << (first + pick[p]);
        name[p] = design.letters[static_cast<size_t>(first + pick[p])];
      }
      name[f] = '\0';
      m.name = name;
      used += static_cast<size_t>(f) + 1;
    });
  return table;
}

int column_list(uint64_t set, int32_t *list) {
  int n = 0;
  for (uint64_t bits = set; bits != 0; bits &= bits - 1) list[n++] = __builtin_ctzll(bits);
  list[n] = -1;
  return n;
}

int model_column_masks(const ModelSpace &space, const ModelEntry &m, uint64_t *masks) {
  int n = 0;
  masks[n++] = 0;
  for (int b = 0; b < space.blocks; b++) masks[n++] = uint64_t{1} << b;
  int32_t factor[65];
  const int nf = column_list(m.fset, factor);
  for (int t = 1; t <= nf && t <= space.order; t++)
    for_each_subset(nf, t, [&](const int32_t *pick) {
      uint64_t mask = 0;
      for (int p = 0; p < t; p++) mask |= uint64_t{1} << factor[pick[p]];
      masks[n++] = mask;
    });
  return n;
}

uint64_t factors_of(const ModelSpace &space, uint64_t mask) {
  const uint64_t blocks = space.blocks > 0 ? (uint64_t{1} << space.blocks) - 1 : 0;
  return mask & ~blocks;
}

}  // namespace bayescreen
