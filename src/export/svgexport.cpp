#include "export/svgexport.h"

#include "export/svgfigure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "export/results.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// The layout, in pixels (user units at 100%).
constexpr int kMargin = 24;
constexpr int kRowHeight = 28;     // one factor or model per row
constexpr int kBarHeight = 18;
constexpr int kTop = 112;          // first row, below the titles and panel headings
constexpr int kLetterWidth = 26;   // the factor's letter, then its label
constexpr int kLabelChars = 24;    // longer labels are cut, in full in the tooltip
constexpr int kFactorBar = 300;    // the length of a probability of 1
constexpr int kModelBar = 200;
constexpr int kValueRoom = 56;     // the value printed after a bar
constexpr int kPanelGap = 40;
constexpr int kTopModels = 10;
constexpr int kHeadingCharWidth = 10;  // at 17 px, bold

constexpr const char *kFactorColour = "#3b6ea8";
constexpr const char *kNoneColour = "#8c8c8c";
constexpr const char *kModelColour = "#c9782a";
constexpr const char *kTrackColour = "#eef0f3";
constexpr const char *kGridColour = "#c4c8ce";
constexpr const char *kTextColour = "#1f2328";
constexpr const char *kSoftColour = "#57606a";

// Approximate advance of a sans-serif character at 13 px, for the layout.
constexpr int kCharWidth = 8;

struct Row {
  std::string letter;  // the factor letter (empty for rows that are not factors)
  std::string name;    // the label or model name shown
  std::string tip;     // the tooltip: the full name and value
  double value;        // a probability
  const char *colour;
};

// Whether the figure shows column c's label beside its letter: not when
// there is none, nor when it is the letter itself ("D D").
bool shows_label(const Design &design, int c) {
  const char *label = column_label(design, c);
  return label != nullptr && factor_code(c) != label;
}

std::string cut(const std::string &text, size_t chars) {
  if (text.size() <= chars) return text;
  // Cut at a character boundary of the UTF-8 text.
  size_t at = chars;
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) at--;
  return text.substr(0, at) + "\u2026";
}

std::string value_text(double p) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.3f", p);
  return buf;
}

double clamp01(double p) { return p > 0 ? (p < 1 ? p : 1) : 0; }

// The probability axis of a panel: grid lines at 0, 0.25 ... 1 and their
// values under the last row.
void axis(ResultSink &out, int x0, int length, int rows) {
  static const char *const kTicks[] = {"0", "0.25", "0.5", "0.75", "1"};
  const int y_top = kTop - 6, y_bottom = kTop + rows * kRowHeight;
  for (int q = 0; q <= 4; q++) {
    const int x = x0 + length * q / 4;
    out.printf("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\"/>\n", x, y_top,
                  x, y_bottom, kGridColour);
    out.printf("<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" fill=\"%s\" "
                  "font-size=\"11\">%s</text>\n",
                  x, y_bottom + 16, kSoftColour, kTicks[q]);
  }
}

// One panel of horizontal bars: the tracks, the grid over them, then each
// row in a group of class row_class with the full text as its tooltip: its
// letter (if any), its name, the bar and the value after it.
void bars(ResultSink &out, const std::vector<Row> &rows, int name_x, int bar_x, int length, const char *row_class) {
  for (size_t i = 0; i < rows.size(); i++)
    out.printf("<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", bar_x,
                  kTop + static_cast<int>(i) * kRowHeight, length, kBarHeight, kTrackColour);
  axis(out, bar_x, length, static_cast<int>(rows.size()));
  for (size_t i = 0; i < rows.size(); i++) {
    const Row &row = rows[i];
    const int y = kTop + static_cast<int>(i) * kRowHeight;
    const int text_y = y + kBarHeight - 5;
    const double width = clamp01(row.value) * length;
    out.printf("<g class=\"%s\">\n<title>%s</title>\n", row_class, xml_text(row.tip).c_str());
    if (!row.letter.empty())
      out.printf("<text class=\"letter\" x=\"%d\" y=\"%d\" font-weight=\"bold\">%s</text>\n",
                    name_x, text_y, xml_text(row.letter).c_str());
    const int label_x = row.letter.empty() ? name_x : name_x + kLetterWidth;
    out.printf("<text class=\"name\" x=\"%d\" y=\"%d\">%s</text>\n", label_x, text_y,
                  xml_text(row.name).c_str());
    out.printf("<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\"/>\n", bar_x, y,
                  width, kBarHeight, row.colour);
    out.printf("<text class=\"value\" x=\"%.1f\" y=\"%d\">%s</text>\n</g>\n",
                  bar_x + width + 6, text_y, value_text(row.value).c_str());
  }
}

std::vector<Row> factor_rows(const ExportInput &in) {
  const FactorWeightTables &tables = in.results.weights;
  const auto &shares = tables[Weighting::PostProb].shares;
  std::vector<Row> rows;
  for (int c = in.settings.model_space.blocks; c < in.design.analysed; c++) {
    const std::string name = factor_name(in.design, c);
    const std::string letter = factor_code(c);
    const double p = shares[static_cast<size_t>(c)];
    char tip[64];
    snprintf(tip, sizeof tip, ": %.6g", p);
    const bool labelled = shows_label(in.design, c);
    rows.push_back({letter, labelled ? cut(name, kLabelChars) : "",
                    letter + (labelled ? " " + name : "") + tip, p, kFactorColour});
  }
  if (!std::isnan(tables.none_active)) {
    char tip[64];
    snprintf(tip, sizeof tip, "No factor active: %.6g", tables.none_active);
    rows.push_back({"", "No factor active", tip, tables.none_active, kNoneColour});
  }
  return rows;
}

// The best models by posterior probability, in the order of the report's
// ranking.
std::vector<Row> model_rows(const ExportInput &in) {
  std::vector<Row> rows;
  if (in.results.effects_space) {
    // The effects space: its best models, named by their effects.
    const EffectsResults &r = *in.results.effects_space;
    for (const EffectModel &m : r.top) {
      if (static_cast<int>(rows.size()) >= kTopModels) break;
      const std::string name = effect_model_name(r, m);
      char tip[32];
      snprintf(tip, sizeof tip, ": %.6g", m.probability);
      rows.push_back({"", name, name + tip, m.probability, kModelColour});
    }
    return rows;
  }
  std::vector<int32_t> groups_drawn;
  for (int32_t i : in.results.ranked_by_postprob()) {
    if (static_cast<int>(rows.size()) >= kTopModels) break;
    const ModelEntry &m = in.results.models[i];
    if (!has_posterior(in.settings.model_space, m)) continue;
    // The models of an alias group are one fit: drawn once, named by all.
    std::string name = m.name;
    if (m.alias != 0) {
      if (std::find(groups_drawn.begin(), groups_drawn.end(), m.alias) != groups_drawn.end()) continue;
      groups_drawn.push_back(m.alias);
      for (int32_t k : in.results.aliases[static_cast<size_t>(m.alias - 1)])
        if (k != i) name += " = " + std::string(in.results.models[k].name);
    }
    char tip[96];
    snprintf(tip, sizeof tip, ": %.6g%s", m.postprob, m.alias != 0 ? " each" : "");
    rows.push_back({"", name, name + tip, m.postprob, kModelColour});
  }
  return rows;
}

// ---- The panel of a prior grid ------------------------------------------------------

constexpr int kGridPlotHeight = 220;
constexpr int kGridAxisRoom = 48;   // left of the plot: the probability axis
constexpr int kGridLegendGap = 8;
constexpr int kGridLabelSpacing = 14;
constexpr int kGridXTicks = 6;
// Line colours, one per factor: the Okabe-Ito palette for categorical data
// (Okabe and Ito 2008, "Color Universal Design"), without its yellow, too
// pale on white; cycled, dashed on the second round and dotted on the third.
constexpr const char *kLineColours[] = {"#E69F00", "#56B4E9", "#009E73", "#0072B2",
                                        "#D55E00", "#CC79A7", "#000000"};
constexpr const char *kLineDashes[] = {"", "6 3", "2 3"};
constexpr int kLineColourCount = sizeof kLineColours / sizeof kLineColours[0];

// One curve of the panel: a name and a probability at each grid value.
struct Curve {
  std::string name, tip;
  std::vector<double> values;
  const char *colour;
  const char *dash;  // stroke-dasharray, or "" for a solid line
  const char *kind;  // the group's class
};

// The values the panel runs over (the gamma grid, else the pi grid), and
// the point index of each: the other prior is held at the value of the
// point the data support most (else the first).
struct GridAxis {
  const char *name;  // "gamma" or "pi"
  std::vector<double> values;
  std::vector<int> points;
  std::string held;  // "pi = 0.25": the other prior's value
};

GridAxis grid_axis(const PriorGridResults &g) {
  GridAxis axis;
  const int ngam = static_cast<int>(g.gammas.size());
  const int best = g.best >= 0 ? g.best : 0;
  char held[64];
  if (g.gamma_grid) {
    axis.name = "gamma";
    axis.values = g.gammas;
    const int row = best / ngam;
    for (int k = 0; k < ngam; k++) axis.points.push_back(row * ngam + k);
    snprintf(held, sizeof held, g.pi_grid ? "pi = %g, the pi the data support most" : "pi = %g",
             g.pis[static_cast<size_t>(row)]);
  } else {
    axis.name = "pi";
    axis.values = g.pis;
    const int column = best % ngam;
    for (size_t k = 0; k < g.pis.size(); k++) axis.points.push_back(static_cast<int>(k) * ngam + column);
    snprintf(held, sizeof held, "gamma = %g", g.gammas[static_cast<size_t>(column)]);
  }
  axis.held = held;
  return axis;
}

std::vector<Curve> grid_curves(const ExportInput &in, const PriorGridResults &g, const GridAxis &axis) {
  const Design &design = in.design;
  std::vector<Curve> curves;
  for (int f = 0; f < g.nfactors; f++) {
    const int c = g.first_factor + f;
    Curve curve;
    const std::string letter = factor_code(c);
    const bool labelled = shows_label(design, c);
    curve.name = letter;
    if (labelled) curve.name += " " + cut(factor_name(design, c), kLabelChars);
    curve.tip = letter + (labelled ? " " + factor_name(design, c) : "");
    for (int p : axis.points)
      curve.values.push_back(g.active[static_cast<size_t>(p) * static_cast<size_t>(g.nfactors) +
                                      static_cast<size_t>(f)]);
    curve.colour = kLineColours[f % kLineColourCount];
    curve.dash = kLineDashes[f / kLineColourCount % 3];
    curve.kind = "grid-line";
    curves.push_back(curve);
  }
  if (g.with_null) {
    Curve none{"No factor active", "No factor active", {}, kNoneColour, "2 3", "grid-line"};
    for (int p : axis.points) none.values.push_back(g.none[static_cast<size_t>(p)]);
    curves.push_back(none);
  }
  // The support, relative to its largest value along the axis.
  Curve support{"Support (relative)", "Support of the data, relative to its largest value here",
                {}, kSoftColour, "8 4", "grid-support"};
  double top = 0;
  for (int p : axis.points) top = std::max(top, g.support[static_cast<size_t>(p)]);
  for (int p : axis.points) support.values.push_back(top > 0 ? g.support[static_cast<size_t>(p)] / top : 0);
  curves.push_back(support);
  return curves;
}

// The panel below the bars: each factor's probability against the grid
// values, with the support and the grid value the data support most.
// Returns the height it takes.
int grid_panel_height() { return kGridPlotHeight + 100; }

void grid_panel(const ExportInput &in, ResultSink &out, int top, int width) {
  const PriorGridResults &g = *in.results.prior_grid;
  const GridAxis axis = grid_axis(g);
  const std::vector<Curve> curves = grid_curves(in, g, axis);
  size_t legend_chars = 0;
  for (const Curve &c : curves) legend_chars = std::max(legend_chars, c.name.size());
  const int x0 = kMargin + kGridAxisRoom, y0 = top + 34;
  const int plot_w = width - x0 - kMargin - kGridLegendGap - static_cast<int>(legend_chars) * kCharWidth;
  const double lo = axis.values.front(), hi = axis.values.back();
  auto x_of = [&](double v) { return x0 + plot_w * (hi > lo ? (v - lo) / (hi - lo) : 0.5); };
  auto y_of = [&](double p) { return y0 + kGridPlotHeight * (1 - clamp01(p)); };

  out.printf("<text x=\"%d\" y=\"%d\" font-weight=\"bold\">Probability that each factor is "
                "active against %s (%s)</text>\n",
                kMargin, top + 14, axis.name, axis.held.c_str());
  out.printf("<rect class=\"plot-area\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
                "fill=\"#fafbfc\" stroke=\"%s\"/>\n",
                x0, y0, plot_w, kGridPlotHeight, kGridColour);
  static const char *const kTicks[] = {"0", "0.25", "0.5", "0.75", "1"};
  for (int q = 0; q <= 4; q++) {
    const double y = y_of(q / 4.0);
    out.printf("<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"%s\"/>\n", x0, y,
                  x0 + plot_w, y, kGridColour);
    out.printf("<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\" fill=\"%s\" font-size=\"11\">%s"
                  "</text>\n", x0 - 6, y + 4, kSoftColour, kTicks[q]);
  }
  // Ticks at round values: multiples of a step of 1, 2, 2.5 or 5 times a
  // power of ten, the smallest giving at most kGridXTicks of them.
  for (double tick : nice_ticks(lo, hi, kGridXTicks)) {
    const double x = x_of(tick);
    out.printf("<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" stroke=\"%s\"/>\n", x,
               y0 + kGridPlotHeight, x, y0 + kGridPlotHeight + 4, kGridColour);
    out.printf("<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" fill=\"%s\" font-size=\"11\">"
                  "%g</text>\n", x, y0 + kGridPlotHeight + 16, kSoftColour, tick);
  }
  out.printf("<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%s</text>\n", x0 + plot_w / 2.0,
                y0 + kGridPlotHeight + 36, axis.name);
  if (g.best >= 0) {
    const size_t best = static_cast<size_t>(g.best), ngam = g.gammas.size();
    const double v = g.gamma_grid ? g.gammas[best % ngam] : g.pis[best / ngam];
    const double x = x_of(v);
    // The label stays inside the plot's width: anchored at its start or end
    // when the value is near an edge of the grid.
    char label[96];
    snprintf(label, sizeof label, "most support: %s = %g", axis.name, v);
    const double half = static_cast<double>(strlen(label)) * 6 / 2;  // 11 px text
    const char *anchor = x - half < x0 ? "start" : x + half > x0 + plot_w ? "end" : "middle";
    out.printf("<g class=\"grid-best\">\n<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" "
                  "stroke=\"%s\" stroke-dasharray=\"3 3\"/>\n<text x=\"%.1f\" y=\"%d\" "
                  "text-anchor=\"%s\" fill=\"%s\" font-size=\"11\">%s</text>\n"
                  "</g>\n",
                  x, y0, x, y0 + kGridPlotHeight, kSoftColour, x, y0 - 6, anchor, kSoftColour, label);
  }
  // The curves, and their names at their right ends, moved apart where
  // they would overlap.
  std::vector<double> label_y;
  for (const Curve &c : curves) label_y.push_back(y_of(c.values.back()) + 4);
  std::vector<size_t> order(curves.size());
  for (size_t i = 0; i < order.size(); i++) order[i] = i;
  std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return label_y[a] < label_y[b]; });
  for (size_t i = 1; i < order.size(); i++)
    label_y[order[i]] = std::max(label_y[order[i]], label_y[order[i - 1]] + kGridLabelSpacing);
  // Names pushed below the plot move up again, as far as the ones above allow.
  const double bottom = y0 + kGridPlotHeight + 4;
  for (size_t i = order.size(); i-- > 0;) {
    const double limit = i + 1 < order.size() ? label_y[order[i + 1]] - kGridLabelSpacing : bottom;
    label_y[order[i]] = std::min(label_y[order[i]], limit);
  }
  for (const Curve &c : curves) {
    const size_t i = static_cast<size_t>(&c - curves.data());
    std::string points;
    char xy[48];
    for (size_t k = 0; k < c.values.size(); k++) {
      snprintf(xy, sizeof xy, "%s%.1f,%.1f", k == 0 ? "" : " ", x_of(axis.values[k]), y_of(c.values[k]));
      points += xy;
    }
    out.printf("<g class=\"%s\">\n<title>%s</title>\n", c.kind, xml_text(c.tip).c_str());
    out.printf("<polyline class=\"curve\" points=\"%s\" fill=\"none\" stroke=\"%s\" "
                  "stroke-width=\"2\"%s%s%s/>\n",
                  points.c_str(), c.colour, *c.dash ? " stroke-dasharray=\"" : "", c.dash,
                  *c.dash ? "\"" : "");
    out.printf("<text class=\"name\" x=\"%d\" y=\"%.1f\" fill=\"%s\">%s</text>\n</g>\n",
                  x0 + plot_w + kGridLegendGap, label_y[i], c.colour, xml_text(c.name).c_str());
  }
}

}  // namespace


void write_svg(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Svg");
  const std::vector<Row> factors = factor_rows(in);
  const std::vector<Row> models = model_rows(in);
  const bool grid = in.results.prior_grid.has_value();

  // Left panel: letters and labels, then the bars; right panel: the model
  // names, then their bars; with a prior grid, the panel of the factor
  // probabilities against it below these two.
  size_t label_chars = 0;
  for (const Row &row : factors) label_chars = std::max(label_chars, row.name.size());
  const int factor_bar_x =
      kMargin + kLetterWidth + static_cast<int>(std::min<size_t>(label_chars, kLabelChars + 1)) * kCharWidth + 12;
  const int model_x = factor_bar_x + kFactorBar + kValueRoom + kPanelGap;
  size_t name_chars = 4;
  for (const Row &row : models) name_chars = std::max(name_chars, row.name.size());
  const int model_bar_x = model_x + static_cast<int>(name_chars) * (kCharWidth + 1) + 12;
  const int effects_width = effects_panel_width(kMargin) + kMargin;
  const int width = std::max(model_bar_x + kModelBar + kValueRoom + kMargin,
                             effects_panel_height(in) > 0 ? effects_width : 0);
  const int rows = static_cast<int>(std::max(factors.size(), models.size()));
  const int bars_height = kTop + rows * kRowHeight + 40;
  const int effects_height = effects_panel_height(in);
  const int height = bars_height + (grid ? grid_panel_height() : 0) + effects_height;

  const size_t heading_chars = static_cast<size_t>((width - 2 * kMargin) / kHeadingCharWidth);
  char settings[160];
  if (in.results.effects_space)
    snprintf(settings, sizeof settings, "%d runs, effects space of %llu models", in.design.runs,
             static_cast<unsigned long long>(in.results.effects_space->weighed));
  else
    snprintf(settings, sizeof settings, "%d runs, %d models; prior pi = %g, gamma = %g", in.design.runs,
             in.results.models.size(), in.settings.pi, in.settings.gamma);

  out.printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  out.printf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"13\" fill=\"%s\">\n",
                width, height, width, height, kTextColour);
  out.printf("<title>Posterior probabilities: %s</title>\n",
                xml_text(valid_utf8(in.run.input)).c_str());
  out.printf("<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n");
  out.printf("<text x=\"%d\" y=\"30\" font-size=\"17\" font-weight=\"bold\">%s</text>\n", kMargin,
                xml_text(cut(valid_utf8(in.design.heading), heading_chars)).c_str());
  out.printf("<text x=\"%d\" y=\"52\" fill=\"%s\">%s: %s</text>\n", kMargin, kSoftColour,
                xml_text(valid_utf8(in.run.input)).c_str(), xml_text(settings).c_str());
  if (grid)  // the grid panel holds the other prior values: say which these are
    out.printf("<text x=\"%d\" y=\"88\" font-weight=\"bold\">Probability that each factor is "
               "active (pi = %g, gamma = %g)</text>\n", kMargin, in.settings.pi, in.settings.gamma);
  else
    out.printf("<text x=\"%d\" y=\"88\" font-weight=\"bold\">Probability that each factor is "
               "active</text>\n", kMargin);
  out.printf("<text x=\"%d\" y=\"88\" font-weight=\"bold\">Top models: posterior "
                "probability</text>\n", model_x);
  bars(out, factors, kMargin, factor_bar_x, kFactorBar, "factor");
  bars(out, models, model_x, model_bar_x, kModelBar, "model");
  if (grid) grid_panel(in, out, bars_height, width);
  if (effects_height > 0)
    effects_panel(in, out, bars_height + (grid ? grid_panel_height() : 0), kMargin, kFilePalette);
  out.printf("</svg>\n");
}

}  // namespace bayescreen
