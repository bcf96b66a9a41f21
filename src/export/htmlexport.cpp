#include "export/htmlexport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/modelspace.h"
#include "export/svgfigure.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// Text from the design file or the command line for an HTML text node or
// attribute value: valid UTF-8, markup characters as entities.
std::string esc(const std::string &text) { return xml_text(valid_utf8(text)); }

std::string fixed(double v, int places) {
  if (!std::isfinite(v)) return "\u2014";
  char buf[64];
  snprintf(buf, sizeof buf, "%.*f", places, v);
  return buf;
}

// A value to three significant digits, as the summary gives effects.
std::string general3(double v) {
  if (!std::isfinite(v)) return "\u2014";
  char buf[64];
  snprintf(buf, sizeof buf, "%.3g", v);
  return buf;
}

std::string general(double v) {
  if (!std::isfinite(v)) return "\u2014";
  char buf[64];
  snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

// A probability in a table: four decimals, or four significant digits
// below 0.0001, so that a small probability does not read as 0.
std::string probability(double p) {
  if (!std::isfinite(p)) return "\u2014";
  char buf[64];
  snprintf(buf, sizeof buf, p != 0 && std::fabs(p) < 1e-4 ? "%.3e" : "%.4f", p);
  return buf;
}

// The value a sortable cell sorts by: the number in full, empty for none.
std::string sort_key(double v) {
  std::string text;
  append_number(text, v);
  return text;
}

std::string grouped(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); i++) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// "B (Catalyst)", or "B" for a column without a label.
std::string factor_title(const Design &design, int c) {
  const std::string letter = factor_code(c);
  return column_label(design, c) != nullptr ? letter + " (" + factor_name(design, c) + ")" : letter;
}

// The coding of design column c when the design came from a table, else
// null.
const FactorCoding *coding_of(const Design &design, int c) {
  return static_cast<size_t>(c) < design.coding.size() ? &design.coding[static_cast<size_t>(c)] : nullptr;
}

// A coded level as text: "\u22121", "0", "+1".
std::string signed_level(int level) {
  if (level == 0) return "0";
  return std::string(level < 0 ? "\u2212" : "+").append(std::to_string(level < 0 ? -level : level));
}

// The text of a level of design column c (plain text, to be escaped): in
// the factor's own units with the coded level beside when the design came
// from a table ("150 (\u22121)"), else the coded level named.
std::string level_text(const Design &design, int c, int level) {
  if (const FactorCoding *coding = coding_of(design, c)) {
    const std::string &value = level == -1 ? coding->low : level == 1 ? coding->high : coding->centre;
    if ((level == -1 || level == 0 || level == 1) && !value.empty()) return value + " (" + signed_level(level) + ")";
  }
  if (level == -1) return "low (\u22121)";
  if (level == 1) return "high (+1)";
  if (level == 0) return "centre (0)";
  return signed_level(level);
}

// The level alone, as the factors table gives it (plain text, to be
// escaped): the factor's own value when the design came from a table, else
// the coded level, "\u22121", "+1".
std::string coded_level(const Design &design, int c, int level) {
  if (const FactorCoding *coding = coding_of(design, c)) {
    const std::string &value = level == -1 ? coding->low : level == 1 ? coding->high : coding->centre;
    if (!value.empty()) return value;
  }
  return signed_level(level);
}

// The estimates of the main effect of design column c, or null when the
// results hold none.
const EffectEstimate *main_effect(const ExportInput &in, int c) {
  if (!in.results.effects) return nullptr;
  for (const EffectEstimate &e : in.results.effects->effects)
    if (e.order() == 1 && e.mask == uint64_t{1} << c) return &e;
  return nullptr;
}

// The sign of the posterior mean of the main effect of design column c;
// none without effect estimates, or for a mean of exactly 0 (a factor held
// by no model averaged).
std::optional<int> effect_sign(const ExportInput &in, int c) {
  const EffectEstimate *e = main_effect(in, c);
  if (e == nullptr || !(e->mean != 0)) return std::nullopt;
  return e->mean > 0 ? 1 : -1;
}

// An effect with its sign, a minus sign for a negative one: "+12.3",
// "\u22124.56".
std::string signed_value(double v) {
  if (!std::isfinite(v)) return "\u2014";
  char buf[64];
  snprintf(buf, sizeof buf, "%+.4g", v);
  std::string text = buf;
  if (text[0] == '-') text.replace(0, 1, "\u2212");
  return text;
}

const char *weighting_title(Weighting w) {
  switch (w) {
    case Weighting::Fstat: return "F statistic";
    case Weighting::Likelihood: return "Likelihood";
    case Weighting::InvRmse2: return "1/RMSE\u00b2";
    case Weighting::InvRmsec2: return "1/RMSEc\u00b2";
    case Weighting::PostProb: return "Posterior probability";
  }
  return "";
}

// ---- The page's parts ----------------------------------------------------------------

constexpr const char *kStyle = R"CSS(
:root{--ink:#1f2328;--soft:#57606a;--line:#d0d7de;--blue:#0072B2;--orange:#E69F00;--vermillion:#D55E00;--green:#009E73}
*{box-sizing:border-box}
body{margin:0;font:16px/1.5 system-ui,-apple-system,"Segoe UI",Roboto,"Noto Sans",sans-serif;color:var(--ink);background:#fff}
header,main{max-width:60rem;margin:0 auto;padding:0 1rem}
header{border-bottom:3px solid var(--blue);padding-top:1rem}
h1{font-size:clamp(1.15rem,4.5vw,1.5rem);margin:.5rem 0;overflow-wrap:anywhere}
h2{font-size:1.25rem;margin:2rem 0 .5rem;border-bottom:1px solid var(--line)}
h3{font-size:1.05rem;margin:1.5rem 0 .5rem}
.meta{color:var(--soft);margin:0 0 1rem;overflow-wrap:anywhere}
.findings li{margin:.25rem 0}
.warning{border-left:4px solid var(--vermillion);background:#fdf1e9;padding:.5rem .75rem}
.nothing{border-left:4px solid var(--soft);background:#f3f4f6;padding:.5rem .75rem}
figure{margin:1rem 0}
figure svg{max-width:100%;height:auto;display:block}
figcaption{color:var(--soft);font-size:.9rem}
.scroll{overflow-x:auto}
table{border-collapse:collapse;margin:.5rem 0;font-variant-numeric:tabular-nums}
caption{text-align:left;color:var(--soft);font-size:.9rem;padding:.25rem 0}
th,td{border-bottom:1px solid var(--line);padding:.25rem .6rem;text-align:left;vertical-align:top}
td.num{text-align:right}
td.num,td.level{white-space:nowrap}
thead th{background:#f6f8fa}
th button{font:inherit;font-weight:bold;border:0;background:none;padding:0;cursor:pointer;color:inherit;text-align:left}
th[aria-sort=ascending] button::after{content:" \25B2"}
th[aria-sort=descending] button::after{content:" \25BC"}
pre{white-space:pre-wrap;overflow-wrap:anywhere;background:#f6f8fa;padding:.75rem;font-size:.8rem}
details summary{cursor:pointer;font-weight:bold}
@media (max-width:40rem){body{font-size:15px}th,td{padding:.2rem .35rem}}
@page{size:A4;margin:15mm}
@media print{
 body{font-size:10pt}
 header,main{max-width:none;padding:0}
 .scroll{overflow:visible}
 figure,table,.warning{break-inside:avoid}
 h2,h3{break-after:avoid}
 th button{pointer-events:none}
 th[aria-sort] button::after{content:""}
}
)CSS";

// Sorts a table by the column whose header is clicked (again: the other
// way); numbers by their data-sort value. Marks the page when it has run.
constexpr const char *kScript = R"JS(
(function () {
  function key(cell) {
    var v = cell.getAttribute('data-sort');
    if (v === null) v = cell.textContent.trim();
    var n = parseFloat(v);
    return isNaN(n) ? v.toLowerCase() : n;
  }
  var tables = document.querySelectorAll('table.sortable');
  Array.prototype.forEach.call(tables, function (table) {
    var heads = table.tHead.rows[0].cells;
    Array.prototype.forEach.call(heads, function (th, col) {
      var button = document.createElement('button');
      button.type = 'button';
      button.textContent = th.textContent;
      th.textContent = '';
      th.appendChild(button);
      button.addEventListener('click', function () {
        var up = th.getAttribute('aria-sort') !== 'ascending';
        Array.prototype.forEach.call(heads, function (h) { h.removeAttribute('aria-sort'); });
        th.setAttribute('aria-sort', up ? 'ascending' : 'descending');
        var body = table.tBodies[0];
        var rows = Array.prototype.slice.call(body.rows);
        rows.sort(function (a, b) {
          var x = key(a.cells[col]), y = key(b.cells[col]);
          if (typeof x !== typeof y) { x = String(x); y = String(y); }
          return (x < y ? -1 : x > y ? 1 : 0) * (up ? 1 : -1);
        });
        rows.forEach(function (r) { body.appendChild(r); });
      });
    });
  });
  document.documentElement.setAttribute('data-sortable', 'ready');
})();
)JS";

void summary_section(const ExportInput &in, ResultSink &out) {
  const HtmlSummary s = html_summary(in);
  out.put("<section id=\"summary\" aria-labelledby=\"summary-h\">\n<h2 id=\"summary-h\">Summary</h2>\n");
  if (s.none_best) {
    out.printf("<p class=\"nothing\"><strong>No factor active</strong>: the model with no factor "
               "active is the most probable one (posterior probability %s).</p>\n",
               fixed(s.none_probability, 3).c_str());
  }
  if (!s.active.empty()) {
    out.put("<ul class=\"findings\">\n");
    for (const ActiveFactor &f : s.active) {
      out.printf("<li><strong>%s</strong> is active, with posterior probability %s", esc(f.name).c_str(),
                 fixed(f.probability, 3).c_str());
      if (f.sign) {
        const FactorCoding *coding = coding_of(in.design, f.column);
        const std::string span = coding != nullptr && !coding->low.empty()
                                     ? "from " + esc(coding->low) + " to " + esc(coding->high)
                                     : std::string("from its low to its high level");
        out.printf("; raising it %s %s the response by about %s (P(effect &gt; 0) = %s)", span.c_str(),
                   *f.sign > 0 ? "raises" : "lowers", general3(std::fabs(f.effect)).c_str(),
                   fixed(f.prob_positive, 2).c_str());
      }
      out.put(".</li>\n");
    }
    out.put("</ul>\n");
  } else if (!s.none_best) {
    // The factor with the largest probability, to say how far from active.
    int best = -1;
    const auto &shares = in.results.weights[Weighting::PostProb].shares;
    for (int c = in.settings.model_space.blocks; c < in.design.analysed; c++)
      if (best < 0 || shares[static_cast<size_t>(c)] > shares[static_cast<size_t>(best)]) best = c;
    out.put("<p class=\"nothing\"><strong>No factor active</strong>: no factor has a posterior "
            "probability above 0.5");
    if (best >= 0)
      out.printf("; the most probable is %s, at %s", esc(factor_title(in.design, best)).c_str(),
                 fixed(shares[static_cast<size_t>(best)], 3).c_str());
    out.put(".</p>\n");
  }
  bool any_sign = false;
  for (const ActiveFactor &f : s.active) any_sign = any_sign || f.sign.has_value();
  if (!s.active.empty() && !any_sign)
    out.put("<p>A factor counts as active when its posterior probability is above 0.5. "
            "The directions of the effects are not among these results.</p>\n");
  else
    out.put("<p>A factor counts as active when its posterior probability is above 0.5.</p>\n");
  for (const std::string &w : s.warnings)
    out.printf("<p class=\"warning\" role=\"note\"><strong>Warning:</strong> %s</p>\n", esc(w).c_str());
  out.put("</section>\n");
}

// The opening of an inline figure: role, title and description for
// assistive technology.
void open_svg(ResultSink &out, const char *id, int width, int height, const std::string &title,
              const std::string &desc) {
  out.printf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
             "role=\"img\" aria-labelledby=\"%s-title %s-desc\" font-family=\"sans-serif\" "
             "font-size=\"13\" fill=\"%s\">\n",
             width, height, width, height, id, id, kOkabeItoPalette.text);
  out.printf("<title id=\"%s-title\">%s</title>\n<desc id=\"%s-desc\">%s</desc>\n", id, esc(title).c_str(), id,
             esc(desc).c_str());
  out.printf("<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n");
}

// The half-normal plot of the least-squares effects with Lenth's margins,
// and the Pareto chart of the largest: the SVG file's panel of the
// effects, in the page's colours.
void effects_figure(const ExportInput &in, ResultSink &out, int number) {
  const EffectResults &r = *in.results.effects;
  const std::optional<LenthResult> &lenth = r.lenth;
  std::vector<const EffectEstimate *> fitted;
  for (const EffectEstimate &e : r.effects)
    if (std::isfinite(e.least_squares)) fitted.push_back(&e);
  std::stable_sort(fitted.begin(), fitted.end(), [](const EffectEstimate *a, const EffectEstimate *b) {
    return std::fabs(a->least_squares) > std::fabs(b->least_squares);
  });
  // The text alternative: the margins, then the effects from the largest,
  // those beyond ME said to be.
  std::string desc = "Half-normal plot of the " + std::to_string(fitted.size()) +
                     " least-squares effects: the absolute effects against half-normal quantiles";
  if (lenth && lenth->me > 0)
    desc += ", with Lenth's margin of error ME = " + general3(lenth->me) + " and simultaneous margin SME = " +
            general3(lenth->sme) + ".";
  else
    desc += "; no Lenth margins (" + r.lenth_note + ").";
  desc += " Effects from the largest:";
  constexpr size_t kDescribed = 20;
  for (size_t i = 0; i < fitted.size() && i < kDescribed; i++) {
    const EffectEstimate &e = *fitted[i];
    desc += " " + valid_utf8(effect_display(in.design, e.mask)) + " " + general3(e.least_squares);
    if (lenth && lenth->me > 0 && std::fabs(e.least_squares) > lenth->me)
      desc += std::fabs(e.least_squares) > lenth->sme ? " (beyond SME)" : " (beyond ME)";
    desc += ";";
  }
  if (fitted.size() > kDescribed) desc += " and " + std::to_string(fitted.size() - kDescribed) + " smaller.";
  const int width = effects_panel_width(kFigureMargin) + kFigureMargin;
  out.put("<figure>\n");
  open_svg(out, "fig-effects", width, effects_panel_height(in), "Half-normal plot of the effects", desc);
  effects_panel(in, out, 0, kFigureMargin, kOkabeItoPalette);
  out.printf("</svg>\n<figcaption>Figure %d. Half-normal plot and Pareto chart of the least-squares "
             "effects; blue points and bars are positive effects, orange ones negative. %s The values "
             "are in the table of effects.</figcaption>\n</figure>\n",
             number,
             lenth && lenth->me > 0 ? "Effects above the dashed lines exceed Lenth's margin of error (ME) "
                                      "or simultaneous margin of error (SME)."
                                    : "The design gives no Lenth margins.");
}

void figures_section(const ExportInput &in, ResultSink &out) {
  const FigurePalette &palette = kOkabeItoPalette;
  constexpr int kTop = 16, kBar = 300;
  int number = 0;
  out.put("<section id=\"figures\" aria-labelledby=\"figures-h\">\n<h2 id=\"figures-h\">Figures</h2>\n");

  // The factors, with the line at 0.5 that the summary judges by.
  const std::vector<BarRow> factors = factor_bar_rows(in, palette);
  std::string desc = "Posterior probability that each factor is active:";
  for (const BarRow &row : factors)
    desc.append(" ").append(row.letter.empty() ? row.name : row.letter).append(" ").append(fixed(row.value, 3)).append(";");
  {
    const int bar_x = factor_bar_x(factors, kFigureMargin);
    const int width = bar_x + kBar + kFigureValueRoom + kFigureMargin;
    const int height = kTop + static_cast<int>(factors.size()) * kFigureRowHeight + 30;
    out.put("<figure>\n");
    open_svg(out, "fig-factors", width, height, "Probability that each factor is active", desc);
    bar_panel(out, factors, kTop, kFigureMargin, bar_x, kBar, "factor", palette);
    out.printf("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\" stroke-width=\"2\" "
               "stroke-dasharray=\"5 4\"/>\n",
               bar_x + kBar / 2, kTop - 10, bar_x + kBar / 2, kTop + static_cast<int>(factors.size()) * kFigureRowHeight,
               kOkabeItoPalette.none);
    out.printf("</svg>\n<figcaption>Figure %d. Posterior probability that each factor is active; the dashed "
               "line marks 0.5. The same values are in the table of factors.</figcaption>\n</figure>\n",
               ++number);
  }

  if (effects_panel_height(in) > 0) effects_figure(in, out, ++number);

  if (in.results.prior_grid) {
    const PriorGridResults &g = *in.results.prior_grid;
    constexpr int kWidth = 760;
    desc = "Posterior probability that each factor is active at each value of the prior grid, "
           "with the relative support of the data; the values are in the text report.";
    out.put("<figure>\n");
    open_svg(out, "fig-grid", kWidth, prior_grid_panel_height(), "Prior sensitivity", desc);
    prior_grid_panel(in, out, 0, kWidth, palette);
    out.printf("</svg>\n<figcaption>Figure %d. Prior sensitivity: each factor's probability of being "
               "active against %s; the dotted line marks the grid value the data support most. The "
               "values at every grid point are in the text report.</figcaption>\n</figure>\n",
               ++number, g.gamma_grid ? "the prior ratio gamma" : "the prior proportion pi");
  }
  // The top models, each with the models its fit cannot be told from.
  std::vector<BarRow> models = model_bar_rows(in, palette, kHtmlFigureModels, true);
  for (BarRow &row : models) row.name = cut_text(row.name, 40);
  desc = "Posterior probability of the most probable models:";
  for (const BarRow &row : models) desc.append(" ").append(row.tip).append(";");
  {
    const int bar_x = model_bar_x(models, kFigureMargin, 5);
    const int width = bar_x + kBar + kFigureValueRoom + kFigureMargin;
    const int height = kTop + static_cast<int>(models.size()) * kFigureRowHeight + 30;
    out.put("<figure>\n");
    open_svg(out, "fig-models", width, height, "Posterior probability of the top models", desc);
    bar_panel(out, models, kTop, kFigureMargin, bar_x, kBar, "model", palette);
    out.printf("</svg>\n<figcaption>Figure %d. The %zu most probable models; models after \u201c=\u201d "
               "fit the data identically (an alias group). The same values are in the table of "
               "models.</figcaption>\n</figure>\n",
               ++number, models.size());
  }

  out.put("</section>\n");
}

void factors_table(const ExportInput &in, ResultSink &out) {
  const FactorWeightTables &t = in.results.weights;
  std::vector<Weighting> shown = {Weighting::PostProb};
  for (Weighting w : {Weighting::Fstat, Weighting::Likelihood, Weighting::InvRmse2, Weighting::InvRmsec2})
    if (t[w].computed) shown.push_back(w);
  out.put("<h3 id=\"factors-h\">Factors</h3>\n<p>Each weighting of the models gives each factor the share "
          "of the weight that falls on the models in which it is active; under the posterior probability "
          "that share is the probability that the factor is active. Low and high levels as the design gives "
          "them.</p>\n"
          "<div class=\"scroll\">\n<table class=\"sortable\" aria-labelledby=\"factors-h\">\n"
          "<caption>Factors, by weighting</caption>\n<thead><tr>"
          "<th scope=\"col\">Factor</th><th scope=\"col\">Label</th><th scope=\"col\">Low / high</th>");
  for (Weighting w : shown) out.printf("<th scope=\"col\">%s</th>", weighting_title(w));
  out.put("</tr></thead>\n<tbody>\n");
  for (int c = in.settings.model_space.blocks; c < in.design.analysed; c++) {
    const char *label = column_label(in.design, c);
    out.printf("<tr><th scope=\"row\">%s</th><td>%s</td><td class=\"level\">%s / %s</td>", factor_code(c).c_str(),
               label != nullptr ? esc(label).c_str() : "", esc(coded_level(in.design, c, -1)).c_str(),
               esc(coded_level(in.design, c, 1)).c_str());
    for (Weighting w : shown) {
      const double v = t[w].shares[static_cast<size_t>(c)];
      out.printf("<td class=\"num\" data-sort=\"%s\">%s</td>", sort_key(v).c_str(), fixed(v, 4).c_str());
    }
    out.put("</tr>\n");
  }
  out.put("</tbody>\n</table>\n</div>\n");
  if (!std::isnan(t.none_active))
    out.printf("<p>Posterior probability that no factor is active: %s.</p>\n", fixed(t.none_active, 4).c_str());
}

// The effects space's best models, by their effects.
void effect_models_table(const ExportInput &in, ResultSink &out) {
  const EffectsResults &r = *in.results.effects_space;
  out.put("<h3 id=\"models-h\">Models</h3>\n");
  out.printf("<p>The %zu most probable of the %s models of effects weighed (the effects space). The model "
             "of no effect has probability %s.</p>\n",
             r.top.size(), grouped(r.weighed).c_str(), probability(r.none_active).c_str());
  out.put("<div class=\"scroll\">\n<table class=\"sortable\" aria-labelledby=\"models-h\">\n"
          "<caption>Top models</caption>\n<thead><tr><th scope=\"col\">Rank</th><th scope=\"col\">Model</th>"
          "<th scope=\"col\">Effects</th><th scope=\"col\">Posterior probability</th></tr></thead>\n<tbody>\n");
  int rank = 0;
  for (const EffectModel &m : r.top)
    out.printf("<tr><td class=\"num\">%d</td><th scope=\"row\">%s</th><td class=\"num\">%zu</td>"
               "<td class=\"num\" data-sort=\"%s\">%s</td></tr>\n",
               ++rank, esc(effect_model_name(r, m)).c_str(), m.effects.size(), sort_key(m.probability).c_str(),
               probability(m.probability).c_str());
  out.put("</tbody>\n</table>\n</div>\n");
}

void models_table(const ExportInput &in, ResultSink &out) {
  if (in.results.effects_space) {
    effect_models_table(in, out);
    return;
  }
  const ModelTable &models = in.results.models;
  int with_posterior = 0;
  for (const ModelEntry &m : models) with_posterior += has_posterior(in.settings.model_space, m) ? 1 : 0;
  std::vector<int32_t> top;
  for (int32_t i : in.results.ranked_by_postprob()) {
    if (static_cast<int>(top.size()) >= kHtmlTableModels) break;
    if (has_posterior(in.settings.model_space, models[i])) top.push_back(i);
  }
  out.put("<h3 id=\"models-h\">Models</h3>\n");
  out.printf("<p>The %zu most probable of the %s models (%s with a posterior probability; %s with a "
             "singular X'X). Aliases: the models whose fits are identical to this one's.</p>\n",
             top.size(), grouped(static_cast<uint64_t>(models.size())).c_str(),
             grouped(static_cast<uint64_t>(with_posterior)).c_str(), grouped(static_cast<uint64_t>(models.invalid)).c_str());
  out.put("<div class=\"scroll\">\n<table class=\"sortable\" aria-labelledby=\"models-h\">\n"
          "<caption>Top models</caption>\n<thead><tr><th scope=\"col\">Rank</th><th scope=\"col\">Model</th><th scope=\"col\">Factors</th>"
          "<th scope=\"col\">Posterior probability</th><th scope=\"col\">RMSE</th>"
          "<th scope=\"col\">Aliases</th></tr></thead>\n<tbody>\n");
  int rank = 0;
  for (int32_t i : top) {
    const ModelEntry &m = models[i];
    std::string aliases;
    if (m.alias > 0 && static_cast<size_t>(m.alias) <= in.results.aliases.size())
      for (int32_t other : in.results.aliases[static_cast<size_t>(m.alias - 1)])
        if (other != i) aliases += (aliases.empty() ? "" : " = ") + std::string(models[other].name);
    out.printf("<tr><td class=\"num\">%d</td><th scope=\"row\">%s</th><td class=\"num\">%d</td>"
               "<td class=\"num\" data-sort=\"%s\">%s</td><td class=\"num\" data-sort=\"%s\">%s</td>"
               "<td>%s</td></tr>\n",
               ++rank, esc(m.name).c_str(), m.nf, sort_key(m.postprob).c_str(), probability(m.postprob).c_str(),
               sort_key(m.rmse).c_str(), general(m.rmse).c_str(), esc(aliases).c_str());
  }
  out.put("</tbody>\n</table>\n</div>\n");
}

// The effect estimates: every main effect, then the interactions, at most
// kHtmlTableEffects rows in all (the interactions with the largest
// posterior means kept, in their order).
void effects_table(const ExportInput &in, ResultSink &out) {
  if (!in.results.effects || in.results.effects->effects.empty()) return;
  const EffectResults &r = *in.results.effects;
  std::vector<const EffectEstimate *> shown;
  std::vector<const EffectEstimate *> interactions;
  for (const EffectEstimate &e : r.effects) (e.order() == 1 ? shown : interactions).push_back(&e);
  const size_t room = shown.size() < kHtmlTableEffects ? kHtmlTableEffects - shown.size() : 0;
  if (interactions.size() > room) {
    std::vector<const EffectEstimate *> largest = interactions;
    std::stable_sort(largest.begin(), largest.end(), [](const EffectEstimate *a, const EffectEstimate *b) {
      return std::fabs(a->mean) > std::fabs(b->mean);
    });
    largest.resize(room);
    std::erase_if(interactions, [&largest](const EffectEstimate *e) {
      return std::find(largest.begin(), largest.end(), e) == largest.end();
    });
  }
  shown.insert(shown.end(), interactions.begin(), interactions.end());
  out.put("<h3 id=\"effects-h\">Effects</h3>\n");
  out.printf("<p>Each effect is the change of the response from the low to the high level: its posterior "
             "mean and standard deviation averaged over %s models (%s of the posterior probability), the "
             "posterior probability that it is positive, and the least-squares estimate of the largest "
             "model the design can fit (%d effects, %d residual degrees of freedom; \u2014 for an effect "
             "outside it).",
             grouped(static_cast<uint64_t>(r.models_used)).c_str(), fixed(r.mass_used, 6).c_str(), r.ls_columns,
             r.ls_residual_df);
  if (shown.size() < r.effects.size())
    out.printf(" The table holds the main effects and the %zu interactions with the largest posterior means, "
               "of %zu effects.",
               shown.size() - static_cast<size_t>(std::count_if(r.effects.begin(), r.effects.end(),
                                                                [](const EffectEstimate &e) { return e.order() == 1; })),
               r.effects.size());
  out.put("</p>\n<div class=\"scroll\">\n<table class=\"sortable\" aria-labelledby=\"effects-h\">\n"
          "<caption>Effect estimates</caption>\n<thead><tr><th scope=\"col\">Effect</th>"
          "<th scope=\"col\">Name</th><th scope=\"col\">Posterior mean</th><th scope=\"col\">SD</th>"
          "<th scope=\"col\">P(effect &gt; 0)</th><th scope=\"col\">Least squares</th></tr></thead>\n<tbody>\n");
  for (const EffectEstimate *e : shown) {
    out.printf("<tr><th scope=\"row\">%s</th><td>%s</td>", esc(effect_code(e->mask)).c_str(),
               esc(effect_label(in.design, e->mask)).c_str());
    out.printf("<td class=\"num\" data-sort=\"%s\">%s</td><td class=\"num\" data-sort=\"%s\">%s</td>"
               "<td class=\"num\" data-sort=\"%s\">%s</td><td class=\"num\" data-sort=\"%s\">%s</td></tr>\n",
               sort_key(e->mean).c_str(), signed_value(e->mean).c_str(), sort_key(e->sd).c_str(), general(e->sd).c_str(),
               sort_key(e->prob_positive).c_str(), fixed(e->prob_positive, 4).c_str(), sort_key(e->least_squares).c_str(),
               signed_value(e->least_squares).c_str());
  }
  out.put("</tbody>\n</table>\n</div>\n");
}

// How the values of a table's factor columns became the levels -1, 0, +1.
void coding_table(const ExportInput &in, ResultSink &out) {
  const Design &design = in.design;
  if (design.coding.empty()) return;
  out.put("<h3 id=\"coding-h\">Coding of the factors</h3>\n<p>The values of each factor column of the table "
          "and the levels the analysis gives them.</p>\n<div class=\"scroll\">\n"
          "<table aria-labelledby=\"coding-h\">\n<thead><tr><th scope=\"col\">Factor</th>"
          "<th scope=\"col\">Name</th><th scope=\"col\">Low (\u22121)</th><th scope=\"col\">High (+1)</th>"
          "<th scope=\"col\">Centre (0)</th></tr></thead>\n<tbody>\n");
  for (size_t c = 0; c < design.coding.size(); c++) {
    const FactorCoding &f = design.coding[c];
    out.printf("<tr><th scope=\"row\">%s</th><td>%s</td><td>%s</td><td>%s</td><td>%s</td></tr>\n",
               factor_code(static_cast<int>(c)).c_str(), esc(f.name).c_str(), esc(f.low).c_str(),
               esc(f.high).c_str(), f.centre.empty() ? "\u2014" : esc(f.centre).c_str());
  }
  out.put("</tbody>\n</table>\n</div>\n");
}

void follow_up_table(const ExportInput &in, ResultSink &out) {
  if (!in.results.follow_up || in.results.follow_up->best.empty()) return;
  const FollowUpResult &r = *in.results.follow_up;
  const CandidateRuns &c = r.candidates;
  const Design &design = in.design;
  out.put("<h3 id=\"follow-up-h\">Follow-up runs</h3>\n");
  out.printf("<p>The %d run%s that best tell apart the %zu leading models (MD = %s, %s), to be run as a "
             "new block:</p>\n",
             r.runs, r.runs == 1 ? "" : "s", r.models.size(), general(r.best[0].md).c_str(),
             r.exhaustive ? "the best design, by exhaustive search" : "the best design the exchange search found");
  out.put("<div class=\"scroll\">\n<table aria-labelledby=\"follow-up-h\">\n<thead><tr><th scope=\"col\">Run</th>"
          "<th scope=\"col\">Candidate</th>");
  for (int32_t col : c.shown) out.printf("<th scope=\"col\">%s</th>", esc(factor_title(design, col)).c_str());
  out.put("</tr></thead>\n<tbody>\n");
  int number = 0;
  for (int32_t k : r.best[0].runs) {
    out.printf("<tr><th scope=\"row\">%d</th><td class=\"num\">%d</td>", ++number, k + 1);
    for (int32_t col : c.shown)
      out.printf("<td class=\"level\">%s</td>", esc(level_text(design, col, c.level(k, col))).c_str());
    out.put("</tr>\n");
  }
  out.put("</tbody>\n</table>\n</div>\n");
  // The levels of the factors the table leaves out.
  std::string others;
  for (int col = in.settings.model_space.blocks; col < design.analysed; col++)
    if (std::find(c.shown.begin(), c.shown.end(), col) == c.shown.end())
      others += (others.empty() ? "" : ", ") + factor_title(design, col);
  if (!others.empty())
    out.printf("<p>The other factors (%s) are in none of the leading models, so the choice of runs does not "
               "depend on them: keep each at one fixed level in all the new runs.</p>\n",
               esc(others).c_str());
  else
    out.put("<p>Every factor's level is given in the table.</p>\n");
}

void settings_section(const ExportInput &in, ResultSink &out) {
  const Settings &s = in.settings;
  const ModelSpace &space = s.model_space;
  out.put("<section id=\"settings\" aria-labelledby=\"settings-h\">\n<h2 id=\"settings-h\">Settings and "
          "command line</h2>\n<div class=\"scroll\">\n<table>\n<thead><tr><th scope=\"col\">Setting</th>"
          "<th scope=\"col\">Value</th></tr></thead>\n<tbody>\n");
  auto row = [&out](const char *name, const std::string &value) {
    out.printf("<tr><th scope=\"row\">%s</th><td>%s</td></tr>\n", name, value.c_str());
  };
  row("Design file", esc(in.run.input));
  row("Heading", esc(in.design.heading));
  row("Runs", std::to_string(in.design.runs));
  row("Columns analysed", std::to_string(in.design.analysed));
  row("Prior proportion of active factors (pi)", general(s.pi));
  row("Prior ratio of effect to error standard deviation (gamma)", general(s.gamma));
  row("Factors per model", (space.with_null ? "0 to " : "1 to ") + std::to_string(space.max_factors));
  row("Interactions up to order", std::to_string(space.order));
  row("Null model in the set", space.with_null ? "yes" : "no");
  if (space.blocks > 0) row("Block columns", std::to_string(space.blocks));
  row("Models", grouped(static_cast<uint64_t>(in.results.models.size())));
  if (s.follow_up.runs > 0) row("Follow-up runs", std::to_string(s.follow_up.runs));
  out.put("</tbody>\n</table>\n</div>\n");
  std::string options;
  for (const OptionSetting &o : in.run.letter_options) {
    options.append("-").append(o.name);
    if (const bool *b = std::get_if<bool>(&o.value)) options += *b ? " on" : " off";
    if (const int64_t *i = std::get_if<int64_t>(&o.value)) options.append(" ").append(std::to_string(*i));
    if (const double *d = std::get_if<double>(&o.value)) options.append(" ").append(general(*d));
    options += "; ";
  }
  out.printf("<p>Options: %s</p>\n", esc(options).c_str());
  std::string line;
  for (const std::string &word : in.run.command_line) {
    const bool plain = !word.empty() && word.find_first_of(" \t\"'\\$`") == std::string::npos;
    if (!line.empty()) line += ' ';
    if (plain)
      line += word;
    else
      line.append("'").append(word).append("'");
  }
  out.printf("<p>Command line:</p>\n<pre><code>%s</code></pre>\n", esc(line).c_str());
  out.put("</section>\n");
}

void report_section(const ExportInput &in, ResultSink &out) {
  out.put("<section id=\"report\" aria-labelledby=\"report-h\">\n<h2 id=\"report-h\">Full text report</h2>\n");
  if (in.run.report.empty()) {
    out.printf("<p>The text report is in the log file %s.</p>\n</section>\n", esc(in.run.log).c_str());
    return;
  }
  std::string text = in.run.report;
  bool cut = false;
  if (text.size() > kHtmlReportBytes) {
    const size_t end = text.rfind('\n', kHtmlReportBytes);
    text.resize(end == std::string::npos ? kHtmlReportBytes : end + 1);
    cut = true;
  }
  out.printf("<details>\n<summary>The report as written to the log %s</summary>\n<pre>", esc(in.run.log).c_str());
  out.put(esc(text));
  out.put("</pre>\n");
  if (cut)
    out.printf("<p>The report is cut here, after %s bytes; the whole report is in %s.</p>\n",
               grouped(text.size()).c_str(), esc(in.run.log).c_str());
  out.put("</details>\n</section>\n");
}

}  // namespace

HtmlSummary html_summary(const ExportInput &in) {
  HtmlSummary s;
  const Design &design = in.design;
  const ModelSpace &space = in.settings.model_space;
  const auto &shares = in.results.weights[Weighting::PostProb].shares;
  for (int c = space.blocks; c < design.analysed; c++) {
    const double p = shares[static_cast<size_t>(c)];
    if (p <= 0.5) continue;
    ActiveFactor f{c, factor_title(design, c), p, effect_sign(in, c)};
    if (f.sign) {
      const EffectEstimate *e = main_effect(in, c);
      f.effect = e->mean;
      f.prob_positive = e->prob_positive;
    }
    s.active.push_back(f);
  }
  std::stable_sort(s.active.begin(), s.active.end(),
                   [](const ActiveFactor &a, const ActiveFactor &b) { return a.probability > b.probability; });

  const ModelEntry *best = nullptr;
  for (int32_t i : in.results.ranked_by_postprob())
    if (has_posterior(space, in.results.models[i])) {
      best = &in.results.models[i];
      break;
    }
  if (best != nullptr && best->nf == 0) {
    s.none_best = true;
    s.none_probability = best->postprob;
  }
  // The effects space: the model of no effect may be the most probable.
  if (in.results.effects_space && !in.results.effects_space->top.empty() &&
      in.results.effects_space->top[0].effects.empty()) {
    s.none_best = true;
    s.none_probability = in.results.effects_space->top[0].probability;
  }
  // The best model as large as the model set allows: a larger one might
  // fit better.
  const int screened = screened_factors(design, space);
  if (best != nullptr && best->nf > 0 && best->nf == space.max_factors && space.max_factors < screened) {
    char text[320];
    snprintf(text, sizeof text,
             "The most probable model, %s, has %d factors, the most a model may have here "
             "(--max-factors=%d): a larger model might fit better. Run again with --max-factors=%d.",
             best->name, best->nf, space.max_factors, space.max_factors + 1);
    s.warnings.push_back(text);
  }
  // The grid point the data support most at an end of its grid.
  if (in.results.prior_grid && in.results.prior_grid->best >= 0) {
    const PriorGridResults &g = *in.results.prior_grid;
    const size_t ngam = g.gammas.size();
    auto at_edge = [&s](const char *name, const std::vector<double> &values, size_t k) {
      if (values.size() < 2 || (k != 0 && k + 1 != values.size())) return;
      char text[320];
      snprintf(text, sizeof text,
               "The data support %s = %g most, at the %s end of its grid (%g to %g): the best value may "
               "lie beyond it. Widen the grid.",
               name, values[k], k == 0 ? "lower" : "upper", values.front(), values.back());
      s.warnings.push_back(text);
    };
    if (g.gamma_grid) at_edge("gamma", g.gammas, static_cast<size_t>(g.best) % ngam);
    if (g.pi_grid) at_edge("pi", g.pis, static_cast<size_t>(g.best) / ngam);
  }
  return s;
}

void write_html(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Html");
  const std::string heading = valid_utf8(in.design.heading);
  out.put("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
  out.printf("<meta name=\"generator\" content=\"%s %s\">\n", esc(in.run.program_name).c_str(),
             esc(in.run.program_version).c_str());
  out.printf("<title>%s \u2014 screening results</title>\n", esc(heading).c_str());
  out.printf("<style>%s</style>\n</head>\n<body>\n", kStyle);
  out.printf("<header>\n<h1>%s</h1>\n", esc(heading).c_str());
  out.printf("<p class=\"meta\">%s: %d runs, %d factors screened, %s models; prior pi = %s, gamma = %s.</p>\n"
             "</header>\n<main>\n",
             esc(in.run.input).c_str(), in.design.runs, screened_factors(in.design, in.settings.model_space),
             grouped(static_cast<uint64_t>(in.results.models.size())).c_str(), general(in.settings.pi).c_str(),
             general(in.settings.gamma).c_str());
  summary_section(in, out);
  figures_section(in, out);
  out.put("<section id=\"tables\" aria-labelledby=\"tables-h\">\n<h2 id=\"tables-h\">Tables</h2>\n");
  factors_table(in, out);
  models_table(in, out);
  effects_table(in, out);
  coding_table(in, out);
  follow_up_table(in, out);
  out.put("</section>\n");
  settings_section(in, out);
  report_section(in, out);
  out.printf("</main>\n<script>%s</script>\n</body>\n</html>\n", kScript);
}

}  // namespace bayescreen
