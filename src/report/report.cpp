#include "report/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "numeric/matrix.h"
#include "report/echo.h"
#include "support/commnum.h"
#include "support/error.h"
#include "support/helpers.h"
#include "support/logfile.h"
#include "support/numtext.h"
#include "support/showplaces.h"
#include "support/toklist.h"

namespace bayescreen {

namespace {

// Characters of a UTF-8 text, for aligning columns of names.
int text_width(const std::string &text) {
  int width = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) width++;
  return width;
}

// text padded with blanks to width characters.
std::string padded(const std::string &text, int width) {
  return text + std::string(static_cast<size_t>(std::max(0, width - text_width(text))), ' ');
}


// ---- The step-through display ------------------------------------------------

// A row-major matrix of doubles on the screen, one numbered line a row.
void showmat(const double *values, int nrows, int ncols) {
  PlaceGuard place("ShowMat");
  for (int r = 0; r < nrows; r++) {
    printf("%3d. ", r + 1);
    for (int c = 0; c < ncols; c++) printf(" %3g", values[r * ncols + c]);
    printf("\n");
  }
}

// The characters of a -1-terminated column list (letters or digits), at
// most 65 of them.
std::string show_moff(const int32_t *list, const std::string &chars) {
  PlaceGuard place("Show_Moff");
  std::string text;
  for (size_t p = 0; p + 1 < 66 && list[p] >= 0; p++) text += chars[static_cast<size_t>(list[p])];
  return text;
}

void show_vector(const char *title, const double *v, int nc) {
  printf("%s  %g(Intercept)", title, v[0]);
  for (int k = 1; k < nc; k++) printf("  %g", v[k]);
  printf("\n");
}

void show_ivals(const Design &design, const char *title, const ModelEntry &m, double value) {
  printf("%s", title);
  for (int f = 0; f < design.analysed; f++) printf(" %d", has_column(m.ivals, f) ? 1 : 0);
  printf("  %g\n", value);
}

void show_invalid(const ModelEntry &m) {
  printf("%s", kZeroPivotMessage);
  printf("THE DESIGN MATRIX for model %s is NOT INVERTIBLE.\n", m.name);
}

// ---- The ranking tables ----------------------------------------------------------

constexpr unsigned kMaxDash = 280;

// The state of the tables as they are printed: the marked column and the
// length of the last line, which the dashes between sizes take.
struct TablePrinter {
  const Settings &settings;
  const ModelTable &models;
  int stype = 0;
  unsigned dlen = 0;
  int width = 4;

  TablePrinter(const Settings &s, const ModelTable &m) : settings(s), models(m) {
    // Width of the Model column: the longest name of the set (one letter per
    // factor, "(null)" for the null model), at least 4. The last model of the
    // enumeration has the most factors.
    if (models.size() > 0) width = std::max(width, static_cast<int>(strlen(models[models.size() - 1].name)));
    if (settings.model_space.with_null) width = std::max(width, 6);
  }

  const char *sfl(int column) const { return column == stype ? "*" : " "; }

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
                width - 4, "", sfl(0), sfl(1), sfl(2), sfl(3), sfl(4)));
    showdash();
  }

  // One criterion value in its column: as the format gives it, or, in runs
  // that mark missing criteria, a "-" in the same width when the value is
  // not a finite number.
  const char *field(char *buf, size_t size, const char *format, int w, double value) const {
    if (dash_for_missing(settings) && !std::isfinite(value))
      snprintf(buf, size, "%*s", w, "-");
    else
      snprintf(buf, size, format, value);
    return buf;
  }

  void showmodline(const ModelEntry &entry) {
    PlaceGuard place("ShowModLine");
    char adjrsq[40], rmse[40], fstat[40], likelihood[40], rmsec[40], postprob[40];
    dlen = static_cast<unsigned>(bprintf(
        " %-*s  %s   %s  %s    %s   %s  %s\n", width, entry.name,
        field(adjrsq, sizeof adjrsq, "%9.5f", 9, entry.adjrsq), field(rmse, sizeof rmse, "%7.4f", 7, entry.rmse),
        field(fstat, sizeof fstat, "%8.4f", 8, entry.fstat),
        field(likelihood, sizeof likelihood, "%8.2g", 8, entry.likelihood),
        field(rmsec, sizeof rmsec, "%7.4f", 7, entry.rmsec), field(postprob, sizeof postprob, "%.2g", 1, entry.postprob)));
  }

  void showranks(const RankingTable &table) {
    PlaceGuard place("ShowRanks");
    stype = table.column;
    const int nmod = models.size();
    if (table.by_size) {
      bprintf(settings.rank_all ? "\nAll models for each model size:\n" : "\nBest 5 for each model size:\n");
      showmodheadline();
      bool first_size = true;
      for (const std::vector<int32_t> &size : table.sizes) {
        const int shown = static_cast<int>(size.size());
        if (shown > 0 && !first_size) showdash();
        for (int32_t i : size) showmodline(models[i]);
        first_size = first_size && shown == 0;
      }
      bprintf("\n");
    }
    if (settings.rank_all)
      bprintf("\nAll models sorted together by %s (n=%s):\n", table.name, commnum(nmod));
    else
      bprintf("\nAll models sorted together by %s (best 15 out of %s):\n", table.name, commnum(nmod));
    showmodheadline();
    for (int32_t i : table.overall) showmodline(models[i]);
  }
};

// ---- The factor tables ------------------------------------------------------------

constexpr int kMaxStars = 30;

// The stars of a share: one per thirtieth, rounded, at most 30.
const char *stars_of(char *stars, double share) {
  const double scaled = floor(share * kMaxStars + 0.5);
  int nstars = scaled >= 0 ? static_cast<int>(scaled < kMaxStars ? scaled : kMaxStars) : 0;
  memset(stars, '*', static_cast<size_t>(nstars));
  stars[nstars] = '\0';
  return stars;
}

void show_actives(const Design &design, const Settings &settings, const FactorWeights &weights) {
  PlaceGuard place("Show_Actives");
  // The factors of the tables: the analysed columns after the blocks.
  const int first = settings.model_space.blocks, nv = design.analysed;
  int width = 0;
  char text[64];
  for (int f = first; f < nv; f++) {
    int len = snprintf(text, sizeof text, "%g", weights.sums[static_cast<size_t>(f)]);
    if (len > width) width = len;
  }
  char stars[kMaxStars + 1];
  for (int f = first; f < nv; f++) {
    const double share = weights.shares[static_cast<size_t>(f)];
    bprintf("  %c:  %*g    %7.5f  %s\n", design.letters[static_cast<size_t>(f)], width,
            weights.sums[static_cast<size_t>(f)], share, stars_of(stars, share));
  }
}

// ---- The prior grid -----------------------------------------------------------------

// Columns of values per block of the report: six keep a line within 80
// characters.
constexpr int kColumnsPerBlock = 6;
// Width of the row labels, "  No factor active:" the longest.
constexpr int kLabelWidth = 19;

// One table: columns for the points first, first + step, ... (count of
// them), headed by labels under the name of the value that varies, in
// blocks of kColumnsPerBlock.
void show_grid_table(const Design &design, const PriorGridResults &r, const char *varying,
                     const std::vector<std::string> &labels, int first, int step) {
  const int count = static_cast<int>(labels.size());
  int width = 7;  // "0.12345"
  for (const std::string &label : labels)
    if (static_cast<int>(label.size()) > width) width = static_cast<int>(label.size());
  char name[64];
  // Factors named by long labels widen the row labels.
  int label_width = kLabelWidth;
  for (int f = 0; f < r.nfactors; f++)
    label_width = std::max(label_width, text_width(effect_display(design, uint64_t{1} << (r.first_factor + f))) + 2);
  for (int from = 0; from < count; from += kColumnsPerBlock) {
    const int to = from + kColumnsPerBlock < count ? from + kColumnsPerBlock : count;
    snprintf(name, sizeof name, "%s:", varying);
    bprintf("\n%*s", label_width, name);
    for (int c = from; c < to; c++) bprintf("  %*s", width, labels[static_cast<size_t>(c)].c_str());
    bprintf("\n");
    auto row = [&](const char *label, auto value) {
      bprintf("%*s", label_width + static_cast<int>(strlen(label)) - text_width(label), label);
      for (int c = from; c < to; c++) bprintf("  %*.5f", width, value(first + c * step));
      bprintf("\n");
    };
    for (int f = 0; f < r.nfactors; f++) {
      const std::string factor = effect_display(design, uint64_t{1} << (r.first_factor + f)) + ":";
      row(factor.c_str(), [&](int p) {
        return r.active[static_cast<size_t>(p) * static_cast<size_t>(r.nfactors) + static_cast<size_t>(f)];
      });
    }
    if (r.with_null) row("No factor active:", [&](int p) { return r.none[static_cast<size_t>(p)]; });
    row("Support:", [&](int p) { return r.support[static_cast<size_t>(p)]; });
  }
}

// ---- The follow-up runs --------------------------------------------------------------

// 12,345,678
std::string grouped(uint64_t n) {
  std::string digits = std::to_string(n), text;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// A set of design columns by their codes, "A C E H", or, when any of them
// has a label, by their names with the codes beside, "Temp (A), Time (C)"
// (the table of the best design below heads its columns so).
std::string factors_of(const Design &design, const std::vector<int32_t> &columns) {
  std::string codes, names;
  bool labelled = false;
  for (int32_t col : columns) {
    const std::string code = factor_code(col), name = effect_display(design, uint64_t{1} << col);
    labelled = labelled || name != code;
    codes += (codes.empty() ? "" : " ") + code;
    names += (names.empty() ? "" : ", ") + name;
  }
  return labelled ? names : codes;
}

// A model by its factors' names with the letters beside ("Temp*Time (BD)"),
// or by its letters when the factors have no labels; the null model by
// its name.
std::string model_display(const Design &design, const ModelEntry &m) {
  return m.fset == 0 ? std::string(m.name) : effect_display(design, m.fset);
}

// The heading of a factor's column: its letter, and its label when the
// design names it (label k names design column k).
std::string column_heading(const Design &design, int32_t col) {
  std::string text = factor_code(col);
  if (col < static_cast<int32_t>(design.labels.size()) && !design.labels[static_cast<size_t>(col)].empty())
    text += "=" + design.labels[static_cast<size_t>(col)];
  return text;
}

void show_follow_up_models(const Design &design, const ModelTable &models, const FollowUpResult &r) {
  double total = 0;
  int width = 5;
  for (const FollowUpModel &m : r.models) {
    total += m.postprob;
    width = std::max(width, text_width(model_display(design, models[m.index])));
  }
  bprintf("  The %zu leading model%s by posterior probability (together %.5f), each with a\n"
          "  block column for the new runs (-1 on the runs above, +1 on the new ones):\n",
          r.models.size(), plural(static_cast<long>(r.models.size())), total);
  bprintf("    %s    PostProb         s^2\n", padded("Model", width).c_str());
  for (const FollowUpModel &m : r.models)
    bprintf("    %s  %10.4g  %10.6g\n", padded(model_display(design, models[m.index]), width).c_str(), m.postprob,
            m.s2);
}

void show_follow_up_search(const Design &design, const Settings &settings, const FollowUpResult &r) {
  const CandidateRuns &c = r.candidates;
  if (c.source.empty()) {
    // The sentence's words, wrapped within 79 columns (factor names may
    // make it long).
    const std::string text = "Candidate runs: the " + std::to_string(c.count) + " level combinations of " +
                             factors_of(design, c.shown) + ", numbered in standard order (" +
                             factor_code(c.shown.empty() ? 0 : c.shown[0]) + " changes fastest).";
    std::vector<std::string> words(1);
    for (char ch : text) {
      if (ch == ' ')
        words.emplace_back();
      else
        words.back() += ch;
    }
    std::vector<const char *> items;
    for (const std::string &w : words) items.push_back(w.c_str());
    bprintf("  ");
    toklist(items.data(), static_cast<int>(items.size()), 2, 79, bprintf, 1, nullptr);
  } else {
    bprintf("  Candidate runs: the %d runs of %s, numbered in file order.\n", c.count, c.source.c_str());
  }
  if (r.exhaustive) {
    bprintf("  Search: exhaustive, every one of the %s designs (a candidate may be chosen\n"
            "  more than once); the best design is certain.\n",
            grouped(r.multisets).c_str());
    return;
  }
  const double designs =
      std::exp(std::lgamma(c.count + r.runs) - std::lgamma(r.runs + 1.0) - std::lgamma(static_cast<double>(c.count)));
  bprintf("  Search: coordinate exchange from %d random start%s (--random-seed=%d) among\n"
          "  about %.3g designs: HEURISTIC, a better design may exist. %s designs\n"
          "  evaluated; %d of the %d starts reached the best MD found.\n",
          r.starts_run, plural(r.starts_run), r.seed, designs, grouped(r.evaluated).c_str(), r.best_reached,
          r.starts_run);
  if (r.stopped_early)
    bprintf("  STOPPED EARLY by --max-seconds=%g: %d of the %d starts asked for were begun.\n",
            settings.follow_up.max_seconds, r.starts_run, r.starts);
}

// The designs left out because their MD could not be computed.
void show_follow_up_undefined(const FollowUpResult &r) {
  if (r.undefined == 0) return;
  bprintf("  %s of the %s designs evaluated %s no MD: rounding left a matrix of the\n"
          "  criterion, which must be positive definite, without a positive pivot\n"
          "  (candidate levels far from -1 and +1 do this); %s left out.\n",
          grouped(r.undefined).c_str(), grouped(r.evaluated).c_str(), r.undefined == 1 ? "has" : "have",
          r.undefined == 1 ? "it is" : "they are");
}

void show_follow_up_designs(const Design &design, const FollowUpResult &r) {
  bprintf("  The %zu best design%s (MD, larger is better; the runs as candidate numbers):\n", r.best.size(),
          plural(static_cast<long>(r.best.size())));
  for (size_t d = 0; d < r.best.size(); d++) {
    std::string runs;
    for (int32_t k : r.best[d].runs) runs += " " + std::to_string(k + 1);
    bprintf("    %2zu.  MD = %-11.6g %s\n", d + 1, r.best[d].md, runs.c_str());
  }
  if (r.best.empty()) return;
  const CandidateRuns &c = r.candidates;
  std::vector<std::string> headings;
  std::string line = "     Run  Candidate";
  for (int32_t col : c.shown) {
    headings.push_back(column_heading(design, col));
    const size_t width = std::max<size_t>(3, headings.back().size());
    line += "  " + std::string(width - headings.back().size(), ' ') + headings.back();
  }
  bprintf("  The best design, one run a line:\n%s\n", line.c_str());
  int number = 0;
  for (int32_t k : r.best[0].runs) {
    char cell[64];
    snprintf(cell, sizeof cell, "    %4d  %9d", ++number, k + 1);
    line = cell;
    for (size_t h = 0; h < c.shown.size(); h++) {
      const int width = std::max(3, static_cast<int>(headings[h].size()));
      snprintf(cell, sizeof cell, "  %*d", width, c.level(k, c.shown[h]));
      line += cell;
    }
    bprintf("%s\n", line.c_str());
  }
}

}  // namespace

// ---- The report as the analysis goes ------------------------------------------------

void ReportPrinter::model_set_built(const Results &results) {
  show_model_names(design_, settings_.model_space, results.models);
}

void ReportPrinter::model_fitted(const FitStep &step) {
  const ModelEntry &m = *step.model;
  const int nc = step.nc, nn = design_.runs;
  int32_t moff[65];
  column_list(m.fset, moff);
  printf("%d. Model %s (nf=%d, nc=%d, moff=`%s')\n", step.index + 1, m.name, m.nf, nc,
         show_moff(moff, design_.digits).c_str());
  if (settings_.verbose) {
    printf("Base columns of XIMAT (nn=%d, nf=%d, moff=%s)\n", nn, m.nf, show_moff(step.base, design_.digits).c_str());
    for (int r = 0; r < nn; r++) {
      for (int p = 0; p < step.nbase; p++) printf(" %3d", design_.entry(r, step.base[p]));
      printf("\n");
    }
    std::vector<double> x(static_cast<size_t>(nn) * static_cast<size_t>(nc));
    std::vector<double> xt(x.size());
    for (int r = 0; r < nn; r++)
      for (int k = 0; k < nc; k++) {
        x[static_cast<size_t>(r * nc + k)] = step.rows[step.pattern[r] * nc + k];
        xt[static_cast<size_t>(k * nn + r)] = x[static_cast<size_t>(r * nc + k)];
      }
    printf("The design matrix X:\n");
    showmat(x.data(), nn, nc);
    printf("The matrix XT:\n");
    showmat(xt.data(), nc, nn);
  }
  printf("The %dx%d matrix XTX for %s:\n", nc, nc, m.name);
  showmat(step.xtx, nc, nc);
  if (step.singular) show_invalid(m);
  if (step.dropped) return;
  if (!step.singular) {
    show_vector("MLEs:", step.beta, nc);
    printf("SSE: %g   MSE: %g   RMSE: %g   LogLik: %g\n", step.sse, step.mse, m.rmse, m.loglik);
    printf("  AdjRsq: %g   Fstat: %g   Likelihood: %g\n", m.adjrsq, m.fstat, m.likelihood);
    if (step.pvalues != nullptr) {
      int32_t list[65];
      printf("Pvalues: ");
      for (int k = 1; k < nc; k++) {
        column_list(step.masks[k], list);
        printf("  %g(%s)", step.pvalues[k], show_moff(list, design_.letters).c_str());
      }
      printf("\n");
    }
    show_ivals(design_, "Ivalues and LikL: ", m, m.likelihood);
  }
  const double dfe = static_cast<double>(nn) - nc;
  printf("The %dx%d matrix XTXG:\n", nc, nc);
  showmat(step.xtxg, nc, nc);
  show_vector("Post.mode:", step.mode, nc);
  printf("Qqc: %g   Mqqc: %g   Rmsec=%g\n", step.qqc, step.qqc / dfe, m.rmsec);
  printf("  Xtxgdet: %g   Bval=PrePostProb: %g\n", step.det, m.bval);
  show_ivals(design_, "Ivalues and Bval: ", m, m.bval);
  presskey();
}

void ReportPrinter::models_fitted(const Results &results) {
  const ModelTable &models = results.models;
  if (!shows_fits())
    for (const ModelEntry &m : models)
      if (m.invalid) show_invalid(m);
  if (models.invalid > 0) {
    bprintf("\n%s model%s out of %s were invalid.\n", commnum1(models.invalid), plural(models.invalid),
            commnum2(models.size()));
    bprintf("(That is, the design matrix was singular.)\n");
  }
}

void show_ranking(const Design &design, const Settings &settings, const ModelTable &models,
                  const RankingTable &table) {
  TablePrinter printer(settings, models);
  const int nmod = models.size();
  const char *infile = design.path.c_str();
  switch (table.column) {
    case RANK_ADJRSQ:
      bprintf("\nSorting %d model%s by %s (data from %s):\n", nmod, plural(nmod), "AdjRsq", infile);
      break;
    case RANK_FSTAT:
      if (!settings.more_ranks)
        printf("\nSorting %d model%s by %s (data from %s):\n", nmod, plural(nmod), "Fstat", infile);
      else
        printf("\nSorting %d model%s by %s:\n", nmod, plural(nmod), "Fstat");
      break;
    case RANK_RMSEC:
      printf("\nSorting %d model%s by %s (pi=%g, gam=%g):\n", nmod, plural(nmod), "Rmsec", settings.pi,
             settings.gamma);
      break;
    default:
      printf("\nSorting %d model%s by %s (pi=%g, gam=%g):\n", nmod, plural(nmod), "BayesPostProb", settings.pi,
             settings.gamma);
      break;
  }
  printer.showranks(table);
}

void show_alias_groups(const Design &design, const ModelTable &models, const AliasGroups &groups) {
  if (groups.empty()) return;
  bprintf("\nAlias groups among the models listed (identical fits):\n");
  for (const std::vector<int32_t> &group : groups) {
    bprintf("  %s", model_display(design, models[group[0]]).c_str());
    for (size_t i = 1; i < group.size(); i++) bprintf(" = %s", model_display(design, models[group[i]]).c_str());
    bprintf("\n");
  }
}

void ReportPrinter::models_ranked(const Results &results) {
  PlaceGuard place("Rank_Models");
  for (const RankingTable &table : results.rankings) show_ranking(design_, settings_, results.models, table);
  printf("\n(*) - Models sorted by this column.\n");
  if (!settings_.model_space.is_default()) show_alias_groups(design_, results.models, results.aliases);
}

void show_post_active(const Design &design, const Settings &settings, const ModelTable &,
                      const FactorWeightTables &tables) {
  PlaceGuard place("Show_Post_Active");
  bprintf("\nPosterior weights that factors are active:\n");
  bprintf("Weighting models by Fstat:\n");
  show_actives(design, settings, tables[Weighting::Fstat]);
  if (settings.more_posts) {
    bprintf("\nWeighting models by Likelihood:\n");
    show_actives(design, settings, tables[Weighting::Likelihood]);
    bprintf("\nWeighting models by 1/rmse^2:\n");
    show_actives(design, settings, tables[Weighting::InvRmse2]);
    bprintf("\nWeighting models by 1/rmsec^2 (pi=%g, gam=%g):\n", settings.pi, settings.gamma);
    show_actives(design, settings, tables[Weighting::InvRmsec2]);
  }
  bprintf("\nWeighting models by Bayesian post.prob. (pi=%g, gam=%g):\n", settings.pi, settings.gamma);
  show_actives(design, settings, tables[Weighting::PostProb]);
  if (settings.model_space.with_null && !std::isnan(tables.none_active)) {
    char stars[kMaxStars + 1];
    const double p = tables.none_active;
    bprintf("  No factor active:  %g    %7.5f  %s\n", p, p, stars_of(stars, p));
  }
}

void ReportPrinter::factors_weighed(const Results &results) {
  show_post_active(design_, settings_, results.models, results.weights);
}

std::vector<std::string> value_labels(const std::vector<double> &values) {
  std::vector<std::string> labels(values.size());
  char text[64];
  for (int digits = 3; digits <= 17; digits++) {
    bool distinct = true;
    for (size_t i = 0; i < values.size(); i++) {
      snprintf(text, sizeof text, "%.*g", digits, values[i]);
      labels[i] = text;
      if (i > 0 && labels[i] == labels[i - 1]) distinct = false;
    }
    if (distinct) break;
  }
  return labels;
}

void show_prior_grid(const Design &design, const Settings &settings, const PriorGridResults &r) {
  PlaceGuard place("Show_Prior_Grid");
  const int ngam = static_cast<int>(r.gammas.size());
  const int npi = static_cast<int>(r.pis.size());
  bprintf("\nPrior sensitivity: posterior probabilities that factors are active\n");
  if (r.gamma_grid && r.pi_grid)
    bprintf("at %d values of gamma and %d of pi (%d pairs):\n", ngam, npi, ngam * npi);
  else if (r.gamma_grid)
    bprintf("at %d values of gamma (pi=%g):\n", ngam, settings.pi);
  else
    bprintf("at %d values of pi (gam=%g):\n", npi, settings.gamma);
  if (r.gamma_grid && r.interaction_scale > 0)
    bprintf("(interaction columns take gamma x %g, the ratio of --gamma-int to -G)\n", r.interaction_scale);
  bprintf("Support: p(y | gamma, pi) up to a constant, normalised over the grid.\n");
  const std::vector<std::string> gamma_labels = value_labels(r.gammas);
  const std::vector<std::string> pi_labels = value_labels(r.pis);
  if (!r.gamma_grid) {
    show_grid_table(design, r, "pi", pi_labels, 0, ngam);
  } else {
    for (int i = 0; i < npi; i++) {
      if (r.pi_grid) bprintf("\npi=%s:\n", pi_labels[static_cast<size_t>(i)].c_str());
      show_grid_table(design, r, "gamma", gamma_labels, i * ngam, 1);
    }
  }
  if (r.best < 0) {
    bprintf("\nNo model has a Box-Meyer weight: the data support no value of the grid.\n");
    return;
  }
  const double best_gamma = r.gammas[static_cast<size_t>(r.best % ngam)];
  const double best_pi = r.pis[static_cast<size_t>(r.best / ngam)];
  const double support = r.support[static_cast<size_t>(r.best)];
  if (r.gamma_grid && r.pi_grid)
    bprintf("\nThe data support gamma=%g, pi=%g most (support %.3g).\n", best_gamma, best_pi, support);
  else if (r.gamma_grid)
    bprintf("\nThe data support gamma=%g most (support %.3g).\n", best_gamma, support);
  else
    bprintf("\nThe data support pi=%g most (support %.3g).\n", best_pi, support);
  const int g = r.best % ngam, i = r.best / ngam;
  const bool edge = (r.gamma_grid && (g == 0 || g == ngam - 1)) || (r.pi_grid && (i == 0 || i == npi - 1));
  if (edge) bprintf("(At the edge of the grid: values beyond it may have more support.)\n");
}

void ReportPrinter::prior_grid_done(const Results &results) {
  show_prior_grid(design_, settings_, *results.prior_grid);
}

void show_follow_up(const Design &design, const Settings &settings, const ModelTable &models,
                    const FollowUpResult &r) {
  bprintf("\nFollow-up runs: %d run%s to discriminate among the leading models (MD criterion of\n"
          "Meyer, Steinberg and Box 1996):\n",
          r.runs, plural(r.runs));
  show_follow_up_models(design, models, r);
  show_follow_up_search(design, settings, r);
  show_follow_up_undefined(r);
  // No design left to report: the run ends as any follow-up that cannot
  // be formed.
  if (r.best.empty())
    throw Error("\nNO FOLLOW-UP RUNS: no design evaluated has an MD.\n", Channel::ScreenAndLog);
  show_follow_up_designs(design, r);
}

namespace {

// The prior of the effects space in words, one line each.
void show_effects_prior(const Settings &settings, const EffectsResults &r) {
  const EffectsPrior &prior = settings.effects;
  if (prior.beta_pi())
    bprintf("  Main effects: pi ~ Beta(%g, %g), integrated: a model with k of the %d main effects\n"
            "    has prior B(a+k, b+%d-k)/B(a, b).\n",
            prior.beta_a, prior.beta_b, r.nfactors, r.nfactors);
  else
    bprintf("  Main effects: each active with probability pi=%g.\n", settings.pi);
  if (settings.model_space.order > 1) {
    switch (prior.heredity) {
      case Heredity::Strong:
        bprintf("  Interactions: strong heredity, probability %g when all of its factors' main\n"
                "    effects are in the model, else 0.\n", prior.p11);
        break;
      case Heredity::Weak:
        bprintf("  Interactions: weak heredity, probability %g / %g / %g when all / some / none\n"
                "    of its factors' main effects are in the model.\n", prior.p11, prior.p10, prior.p00);
        break;
      case Heredity::None: bprintf("  Interactions: no heredity, each with probability %g.\n", prior.p11); break;
    }
  }
  if (r.gammas.size() > 1)
    bprintf("  Gamma: averaged over %zu values from %g to %g, each of equal prior weight.\n", r.gammas.size(),
            r.gammas.front(), r.gammas.back());
  else
    bprintf("  Gamma: %g.\n", r.gammas.front());
  if (settings.model_space.gam_int > 0)
    bprintf("  (Interaction columns take gamma x %g, the ratio of --gamma-int to -G.)\n",
            settings.model_space.gam_int / settings.gamma);
}

// The effects of a model by name, "(null)" for none.
std::string effect_names(const EffectsResults &r, const std::vector<int32_t> &effects) {
  if (effects.empty()) return "(null)";
  std::string text;
  for (int32_t e : effects) {
    if (!text.empty()) text += ' ';
    text += r.effects[static_cast<size_t>(e)].name;
  }
  return text;
}

// A model's effects by letters, then by labels where those differ.
std::string model_with_labels(const Design &design, const EffectsResults &r, const EffectModel &m) {
  std::string text = effect_names(r, m.effects), labels;
  for (int32_t e : m.effects) {
    if (!labels.empty()) labels += ", ";
    labels += effect_label(design, r.effects[static_cast<size_t>(e)]);
  }
  std::string letters;
  for (int32_t e : m.effects) letters += (letters.empty() ? "" : ", ") + r.effects[static_cast<size_t>(e)].name;
  if (!m.effects.empty() && labels != letters) text += "  (" + labels + ")";
  return text;
}

}  // namespace

void show_effects(const Design &design, const Settings &settings, const EffectsResults &r) {
  PlaceGuard place("Show_Effects");
  const int order = settings.model_space.order < r.nfactors ? settings.model_space.order : r.nfactors;
  const bool factors_space = r.search && r.search->factors_space;
  if (factors_space) {
    const int most = std::min(settings.model_space.max_factors, r.nfactors);
    bprintf("\nFactors space: the full factorial (interactions to order %d) of every set of 1 to %d\n"
            "  of the %d factors%s\n", order, most, r.nfactors, settings.model_space.with_null ? ", and the null model" : "");
    bprintf("  Each factor active with probability pi=%g; gamma %g.\n", settings.pi, settings.gamma);
  } else if (order > 1)
    bprintf("\nEffects space: every set of the %zu candidate effects (main effects and interactions\n"
            "  to order %d of the %d factors)\n", r.effects.size(), order, r.nfactors);
  else
    bprintf("\nEffects space: every set of the %zu candidate effects (the main effects of the %d factors)\n",
            r.effects.size(), r.nfactors);
  if (settings.model_space.blocks > 0)
    bprintf("  with the %d block column%s in every model.\n", settings.model_space.blocks,
            plural(settings.model_space.blocks));
  if (!factors_space) show_effects_prior(settings, r);
  const SearchSummary *search = r.search ? &*r.search : nullptr;
  if (search == nullptr) {
    bprintf("  Models of nonzero prior enumerated: %s (%s with a regular X'X).\n", commnum(static_cast<double>(r.visited)),
            commnum1(static_cast<double>(r.weighed)));
  } else {
    if (search->automatic)
      bprintf("  The space holds %s%s models of nonzero prior, more than --max-models: searched.\n",
              r.candidates == UINT64_MAX ? "at least " : "", grouped_count(r.candidates).c_str());
    bprintf("  Markov chain Monte Carlo search: %d chain%s of %s kept iterations each after a\n"
            "    burn-in of %s; %s distinct models weighed (%s marginal likelihoods), in %.1f s.\n",
            search->chains, plural(search->chains), grouped_count(search->iterations).c_str(),
            grouped_count(search->burn_in).c_str(), grouped_count(search->distinct).c_str(),
            grouped_count(search->evaluations).c_str(), search->seconds);
    bprintf("  PostProb: the average of its probability given the rest of each model the\n"
            "    chains visit, +- its Monte Carlo standard error (batch means); Visits: the\n"
            "    share of the iterations in models holding it; Renorm: the weights of the\n"
            "    distinct models weighed, normalised over them.\n");
    bprintf("  Largest standard error %.4f%s; largest difference between chains %.4f.\n", search->largest_se,
            search->target_se > 0 ? (search->reached_target ? " (target reached)" : " (target NOT reached)") : "",
            search->chain_difference);
  }

  size_t width = 6;
  std::vector<std::string> labels;
  for (const CandidateEffect &e : r.effects) {
    labels.push_back(effect_label(design, e));
    width = std::max(width, e.name.size());
  }
  size_t label_width = 5;
  for (const std::string &l : labels) label_width = std::max(label_width, l.size());
  char stars[kMaxStars + 1];
  if (!factors_space) {
    bprintf("\nPosterior probabilities that effects are active:\n");
    if (search == nullptr)
      bprintf("  %-*s  %-*s  PostProb\n", static_cast<int>(width), "Effect", static_cast<int>(label_width), "Label");
    else
      bprintf("  %-*s  %-*s  PostProb      +-   Visits   Renorm\n", static_cast<int>(width), "Effect",
              static_cast<int>(label_width), "Label");
    for (size_t e = 0; e < r.effects.size(); e++) {
      const double p = r.effect_probability[e];
      if (search == nullptr)
        bprintf("  %-*s  %-*s  %8.5f  %s\n", static_cast<int>(width), r.effects[e].name.c_str(),
                static_cast<int>(label_width), labels[e].c_str(), p, stars_of(stars, p));
      else
        bprintf("  %-*s  %-*s  %8.5f  %6.4f  %7.5f  %7.5f  %s\n", static_cast<int>(width), r.effects[e].name.c_str(),
                static_cast<int>(label_width), labels[e].c_str(), p, search->effect_se[e],
                search->effect_frequency[e], search->effect_renormalised[e], stars_of(stars, p));
    }
  }
  if (factors_space)
    bprintf("\nPosterior probabilities that factors are active:\n");
  else
    bprintf("\nPosterior probabilities that factors are active (in some effect of the model):\n");
  // Each factor by its letter, and by its label where it has one.
  std::vector<std::string> names(static_cast<size_t>(r.nfactors));
  size_t name_width = 0;
  for (int f = 0; f < r.nfactors; f++) {
    const size_t c = static_cast<size_t>(r.first_factor + f);
    std::string &name = names[static_cast<size_t>(f)];
    name = factor_code(static_cast<int>(c));
    if (c < design.labels.size() && !design.labels[c].empty() && design.labels[c] != name)
      name += "  " + design.labels[c];
    name += ':';
    name_width = std::max(name_width, name.size());
  }
  for (int f = 0; f < r.nfactors; f++) {
    const double p = r.factor_probability[static_cast<size_t>(f)];
    const int w = static_cast<int>(name_width);
    const char *name = names[static_cast<size_t>(f)].c_str();
    if (search == nullptr)
      bprintf("  %-*s  %7.5f  %s\n", w, name, p, stars_of(stars, p));
    else
      bprintf("  %-*s  %7.5f +- %6.4f  (Visits %7.5f, Renorm %7.5f)  %s\n", w, name, p,
              search->factor_se[static_cast<size_t>(f)], search->factor_frequency[static_cast<size_t>(f)],
              search->factor_renormalised[static_cast<size_t>(f)], stars_of(stars, p));
  }
  if (search == nullptr)
    bprintf("  No effect active:  %7.5f  %s\n", r.none_active, stars_of(stars, r.none_active));
  else if (factors_space && !settings.model_space.with_null)
    ;  // the null model is not in the model set
  else if (factors_space)
    bprintf("  No factor active:  %7.5f +- %6.4f  (Visits %7.5f, Renorm %7.5f)  %s\n", r.none_active,
            search->none_se, search->none_frequency, search->none_renormalised, stars_of(stars, r.none_active));
  else
    bprintf("  No effect active:  %7.5f +- %6.4f  (Visits %7.5f, Renorm %7.5f)  %s\n", r.none_active,
            search->none_se, search->none_frequency, search->none_renormalised, stars_of(stars, r.none_active));

  if (search == nullptr) {
    bprintf("\nBest %zu models by posterior probability:\n", r.top.size());
    for (size_t i = 0; i < r.top.size(); i++)
      bprintf("  %2zu.  %8.5f  %s\n", i + 1, r.top[i].probability, model_with_labels(design, r, r.top[i]).c_str());
  } else {
    bprintf("\nBest %zu models among those weighed (visit frequency +- standard error\n"
            "  between chains, and renormalised weight):\n", r.top.size());
    for (size_t i = 0; i < r.top.size(); i++)
      bprintf("  %2zu.  %8.5f +- %6.4f  %8.5f  %s\n", i + 1, r.top[i].probability, r.top[i].se,
              r.top[i].renormalised, model_with_labels(design, r, r.top[i]).c_str());
  }
  if (!r.aliases.empty()) {
    bprintf("\nAlias groups among the effects (the same column up to sign; their\n"
            "  probabilities are not told apart by the data, only by the prior):\n");
    for (const std::vector<int32_t> &group : r.aliases) {
      std::string line;
      for (int32_t e : group) {
        if (!line.empty()) line += " = ";
        line += r.effects[static_cast<size_t>(e)].name;
      }
      bprintf("  %s\n", line.c_str());
    }
  }
}

void ReportPrinter::effects_done(const Results &results) { show_effects(design_, settings_, *results.effects_space); }

void ReportPrinter::follow_up_done(const Results &results) {
  show_follow_up(design_, settings_, results.models, *results.follow_up);
}

}  // namespace bayescreen

namespace bayescreen {

namespace {

// Interactions in models holding less than this share of the posterior are
// left out of the effect table.
constexpr double kShownInteraction = 0.01;

}  // namespace

void show_coding_table(const Design &design) {
  if (design.coding.empty()) return;
  bprintf("\nCoding of the factors (response: %s):\n", design.response_name.c_str());
  int width = 6;
  for (const FactorCoding &c : design.coding) width = std::max(width, text_width(c.name));
  int wlow = 2, whigh = 2;
  for (const FactorCoding &c : design.coding) {
    wlow = std::max(wlow, text_width(c.low));
    whigh = std::max(whigh, text_width(c.high));
  }
  bprintf("  %-6s  %s  %s  %s  %s\n", "Letter", padded("Factor", width).c_str(), padded("-1", wlow).c_str(),
          padded("+1", whigh).c_str(), "0 (centre)");
  for (size_t k = 0; k < design.coding.size(); k++) {
    const FactorCoding &c = design.coding[k];
    bprintf("  %-6s  %s  %s  %s  %s\n", factor_code(static_cast<int>(k)).c_str(), padded(c.name, width).c_str(),
            padded(c.low, wlow).c_str(), padded(c.high, whigh).c_str(), c.centre.c_str());
  }
}

void show_effects(const Design &design, const EffectResults &r) {
  PlaceGuard place("Show_Effects");
  bprintf("\nEffect estimates: the change of the response from the low to the high level.\n");
  bprintf("Posterior mean and SD averaged over %d model%s (posterior mass %.6g);\n", r.models_used,
          plural(r.models_used), r.mass_used);
  bprintf("P(>0): probability the effect is positive; P(in): of the models holding it.\n");
  bprintf("Least squares: the largest model the design can fit (%d effect%s, %d residual df).\n", r.ls_columns,
          plural(r.ls_columns), r.ls_residual_df);
  std::vector<const EffectEstimate *> shown;
  for (const EffectEstimate &e : r.effects)
    if (e.order() == 1 || e.prob_in_model >= kShownInteraction) shown.push_back(&e);
  std::vector<std::string> names;
  int width = 6;
  for (const EffectEstimate *e : shown) {
    names.push_back(effect_display(design, e->mask));
    width = std::max(width, text_width(names.back()));
  }
  bprintf("  %s  %11s %11s %7s %7s %13s\n", padded("Effect", width).c_str(), "Mean", "SD", "P(>0)", "P(in)",
          "Least squares");
  // Means and SDs below a millionth of the largest mean are rounding
  // residue of models the data all but exclude: shown as 0.
  double largest = 0;
  for (const EffectEstimate &e : r.effects) largest = std::max(largest, std::fabs(e.mean));
  auto shown_value = [largest](double v) { return std::fabs(v) < 1e-6 * largest ? 0.0 : v; };
  for (size_t k = 0; k < shown.size(); k++) {
    const EffectEstimate &e = *shown[k];
    char ls[32] = "-";
    if (std::isfinite(e.least_squares)) snprintf(ls, sizeof ls, "%.5g", e.least_squares);
    bprintf("  %s  %11.5g %11.5g %7.4f %7.4f %13s\n", padded(names[k], width).c_str(), shown_value(e.mean),
            shown_value(e.sd), e.prob_positive, e.prob_in_model, ls);
  }
  if (shown.size() < r.effects.size())
    bprintf("(%zu interaction%s in models holding less than 1%% of the posterior left out.)\n",
            r.effects.size() - shown.size(), plural(static_cast<long>(r.effects.size() - shown.size())));
  if (!r.lenth) {
    bprintf("No Lenth figures: %s.\n", r.lenth_note.c_str());
    return;
  }
  const LenthResult &l = *r.lenth;
  bprintf("Lenth (%d contrasts): PSE=%.5g  ME=%.5g  SME=%.5g (t %.4g and %.4g on %.4g df)\n", l.contrasts, l.pse,
          l.me, l.sme, l.t_me, l.t_sme, l.df);
  std::string beyond;
  for (const EffectEstimate &e : r.effects)
    if (std::isfinite(e.least_squares) && std::fabs(e.least_squares) > l.sme && l.sme > 0)
      beyond += (beyond.empty() ? "" : ", ") + effect_display(design, e.mask);
  bprintf("Beyond SME: %s\n", beyond.empty() ? "none" : beyond.c_str());
}

void ReportPrinter::effects_estimated(const Results &results) {
  if (show_effects_) show_effects(design_, *results.effects);
}

}  // namespace bayescreen
