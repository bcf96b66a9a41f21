#include "export/svgfigure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace bayescreen {

namespace {

constexpr int kBarHeight = 18;
constexpr int kLetterWidth = 26;  // the factor's letter, then its label

constexpr const char *kFileLines[] = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f",
                                      "#edc948", "#b07aa1", "#ff9da7", "#9c755f", "#3f3f3f"};
constexpr const char *kOkabeItoLines[] = {"#0072B2", "#E69F00", "#009E73", "#D55E00",
                                          "#CC79A7", "#56B4E9", "#000000"};

std::string value_text(double p) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.3f", p);
  return buf;
}

double clamp01(double p) { return p > 0 ? (p < 1 ? p : 1) : 0; }

// The probability axis of a bar panel: grid lines at 0, 0.25 ... 1 and
// their values under the last row.
void axis(ResultSink &out, int top, int x0, int length, int rows, const FigurePalette &palette) {
  static const char *const kTicks[] = {"0", "0.25", "0.5", "0.75", "1"};
  const int y_top = top - 6, y_bottom = top + rows * kFigureRowHeight;
  for (int q = 0; q <= 4; q++) {
    const int x = x0 + length * q / 4;
    out.printf("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\"/>\n", x, y_top, x, y_bottom,
               palette.grid);
    out.printf("<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" fill=\"%s\" "
               "font-size=\"11\">%s</text>\n",
               x, y_bottom + 16, palette.soft, kTicks[q]);
  }
}

// ---- The panel of a prior grid ------------------------------------------------------

constexpr int kGridPlotHeight = 220;
constexpr int kGridAxisRoom = 48;  // left of the plot: the probability axis
constexpr int kGridLegendGap = 8;
constexpr int kGridLabelSpacing = 14;
constexpr int kGridXTicks = 6;

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
    snprintf(held, sizeof held, "pi = %g", g.pis[static_cast<size_t>(row)]);
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

std::vector<Curve> grid_curves(const ExportInput &in, const PriorGridResults &g, const GridAxis &axis,
                               const FigurePalette &palette) {
  const Design &design = in.design;
  std::vector<Curve> curves;
  for (int f = 0; f < g.nfactors; f++) {
    const int c = g.first_factor + f;
    Curve curve;
    const std::string letter = factor_code(c);
    const bool labelled = column_label(design, c) != nullptr;
    curve.name = letter;
    curve.tip = letter;
    if (labelled) {
      curve.name.append(" ").append(cut_text(factor_name(design, c), kFigureLabelChars));
      curve.tip.append(" ").append(factor_name(design, c));
    }
    for (int p : axis.points)
      curve.values.push_back(g.active[static_cast<size_t>(p) * static_cast<size_t>(g.nfactors) +
                                      static_cast<size_t>(f)]);
    curve.colour = palette.lines[f % palette.line_count];
    curve.dash = f / palette.line_count % 2 == 1 ? "6 3" : "";
    curve.kind = "grid-line";
    curves.push_back(curve);
  }
  if (g.with_null) {
    Curve none{"No factor active", "No factor active", {}, palette.none, "2 3", "grid-line"};
    for (int p : axis.points) none.values.push_back(g.none[static_cast<size_t>(p)]);
    curves.push_back(none);
  }
  // The support, relative to its largest value along the axis.
  Curve support{"Support (relative)", "Support of the data, relative to its largest value here",
                {}, palette.soft, "8 4", "grid-support"};
  double top = 0;
  for (int p : axis.points) top = std::max(top, g.support[static_cast<size_t>(p)]);
  for (int p : axis.points) support.values.push_back(top > 0 ? g.support[static_cast<size_t>(p)] / top : 0);
  curves.push_back(support);
  return curves;
}

// ---- The panel of the effects: half-normal plot and Pareto chart -------------------

constexpr int kEffectPlotHeight = 240;
constexpr int kEffectPlotWidth = 330;
constexpr int kParetoBars = 12;
constexpr int kParetoNameChars = 18;
constexpr int kParetoBarLength = 220;
constexpr int kEffectPanelGap = 40;

// The standard normal quantile: the z with Phi(z) = p, by bisection on
// Phi(z) = erfc(-z / sqrt 2) / 2 to the last bit (100 halvings of [-40, 40]).
double normal_quantile(double p) {
  double lo = -40, hi = 40;
  for (int k = 0; k < 100; k++) {
    const double mid = (lo + hi) / 2;
    (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
  }
  return (lo + hi) / 2;
}

// An effect of the least-squares fit, for the plots.
struct PlotEffect {
  std::string name;  // "Temp*Time (BD)"
  double size;       // |effect|
  double effect;
};

std::vector<PlotEffect> plot_effects(const ExportInput &in) {
  std::vector<PlotEffect> list;
  if (!in.results.effects) return list;
  for (const EffectEstimate &e : in.results.effects->effects)
    if (std::isfinite(e.least_squares))
      list.push_back({valid_utf8(effect_display(in.design, e.mask)), std::fabs(e.least_squares), e.least_squares});
  std::stable_sort(list.begin(), list.end(), [](const PlotEffect &a, const PlotEffect &b) { return a.size < b.size; });
  return list;
}

// A horizontal or vertical margin line (ME, SME) with its name.
void margin_line(ResultSink &out, bool horizontal, double at, double from, double to, const char *name, double value,
                 const FigurePalette &palette) {
  const char *dash = name[0] == 'S' ? "6 3" : "2 3";
  if (horizontal)
    out.printf("<g class=\"margin\">\n<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
               "stroke-dasharray=\"%s\"/>\n<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" fill=\"%s\" "
               "font-size=\"11\">%s %.3g</text>\n</g>\n",
               from, at, to, at, palette.soft, dash, to - 2, at - 3, palette.soft, name, value);
  else
    out.printf("<g class=\"margin\">\n<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
               "stroke-dasharray=\"%s\"/>\n<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"%s\" "
               "font-size=\"11\">%s %.3g</text>\n</g>\n",
               at, from, at, to, palette.soft, dash, at, from - 4, palette.soft, name, value);
}

}  // namespace

const FigurePalette kFilePalette = {"#3b6ea8", "#8c8c8c", "#c9782a", "#eef0f3", "#c4c8ce",
                                    "#1f2328", "#57606a", kFileLines,
                                    static_cast<int>(sizeof kFileLines / sizeof kFileLines[0])};

const FigurePalette kOkabeItoPalette = {"#0072B2", "#6e6e6e", "#E69F00", "#eef0f3", "#c4c8ce",
                                        "#1f2328", "#57606a", kOkabeItoLines,
                                        static_cast<int>(sizeof kOkabeItoLines / sizeof kOkabeItoLines[0])};

std::string cut_text(const std::string &text, size_t chars) {
  if (text.size() <= chars) return text;
  // Cut at a character boundary of the UTF-8 text.
  size_t at = chars;
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) at--;
  return text.substr(0, at) + "\u2026";
}

std::vector<BarRow> factor_bar_rows(const ExportInput &in, const FigurePalette &palette) {
  const FactorWeightTables &tables = in.results.weights;
  const auto &shares = tables[Weighting::PostProb].shares;
  std::vector<BarRow> rows;
  for (int c = in.settings.model_space.blocks; c < in.design.analysed; c++) {
    const std::string name = factor_name(in.design, c);
    const std::string letter = factor_code(c);
    const double p = shares[static_cast<size_t>(c)];
    char tip[64];
    snprintf(tip, sizeof tip, ": %.6g", p);
    const bool labelled = column_label(in.design, c) != nullptr;
    std::string full = letter;
    if (labelled) full.append(" ").append(name);
    rows.push_back({letter, labelled ? cut_text(name, kFigureLabelChars) : "", full.append(tip), p, palette.factor});
  }
  if (!std::isnan(tables.none_active)) {
    char tip[64];
    snprintf(tip, sizeof tip, "No factor active: %.6g", tables.none_active);
    rows.push_back({"", "No factor active", tip, tables.none_active, palette.none});
  }
  return rows;
}

std::vector<BarRow> model_bar_rows(const ExportInput &in, const FigurePalette &palette, int count,
                                   bool aliases) {
  std::vector<BarRow> rows;
  if (in.results.effects_space) {
    // The effects space: its best models, named by their effects.
    const EffectsResults &r = *in.results.effects_space;
    for (const EffectModel &m : r.top) {
      if (static_cast<int>(rows.size()) >= count) break;
      const std::string name = effect_model_name(r, m);
      char tip[32];
      snprintf(tip, sizeof tip, ": %.6g", m.probability);
      rows.push_back({"", name, name + tip, m.probability, palette.model});
    }
    return rows;
  }
  for (int32_t i : in.results.ranked_by_postprob()) {
    if (static_cast<int>(rows.size()) >= count) break;
    const ModelEntry &m = in.results.models[i];
    if (!has_posterior(in.settings.model_space, m)) continue;
    std::string name = m.name;
    if (aliases && m.alias > 0 && static_cast<size_t>(m.alias) <= in.results.aliases.size())
      for (int32_t other : in.results.aliases[static_cast<size_t>(m.alias - 1)])
        if (other != i) name += std::string(" = ") + in.results.models[other].name;
    char tip[64];
    snprintf(tip, sizeof tip, ": %.6g", m.postprob);
    rows.push_back({"", name, name + tip, m.postprob, palette.model});
  }
  return rows;
}

int factor_bar_x(const std::vector<BarRow> &rows, int name_x) {
  size_t label_chars = 0;
  for (const BarRow &row : rows) label_chars = std::max(label_chars, row.name.size());
  return name_x + kLetterWidth +
         static_cast<int>(std::min<size_t>(label_chars, kFigureLabelChars + 1)) * kFigureCharWidth + 12;
}

int model_bar_x(const std::vector<BarRow> &rows, int name_x, size_t min_chars) {
  size_t name_chars = min_chars;
  for (const BarRow &row : rows) name_chars = std::max(name_chars, row.name.size());
  return name_x + static_cast<int>(name_chars) * (kFigureCharWidth + 1) + 12;
}

void bar_panel(ResultSink &out, const std::vector<BarRow> &rows, int top, int name_x, int bar_x,
               int length, const char *row_class, const FigurePalette &palette) {
  for (size_t i = 0; i < rows.size(); i++)
    out.printf("<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", bar_x,
               top + static_cast<int>(i) * kFigureRowHeight, length, kBarHeight, palette.track);
  axis(out, top, bar_x, length, static_cast<int>(rows.size()), palette);
  for (size_t i = 0; i < rows.size(); i++) {
    const BarRow &row = rows[i];
    const int y = top + static_cast<int>(i) * kFigureRowHeight;
    const int text_y = y + kBarHeight - 5;
    const double width = clamp01(row.value) * length;
    out.printf("<g class=\"%s\">\n<title>%s</title>\n", row_class, xml_text(row.tip).c_str());
    if (!row.letter.empty())
      out.printf("<text class=\"letter\" x=\"%d\" y=\"%d\" font-weight=\"bold\">%s</text>\n", name_x, text_y,
                 xml_text(row.letter).c_str());
    const int label_x = row.letter.empty() ? name_x : name_x + kLetterWidth;
    out.printf("<text class=\"name\" x=\"%d\" y=\"%d\">%s</text>\n", label_x, text_y, xml_text(row.name).c_str());
    out.printf("<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\"/>\n", bar_x, y, width, kBarHeight,
               row.colour);
    out.printf("<text class=\"value\" x=\"%.1f\" y=\"%d\">%s</text>\n</g>\n", bar_x + width + 6, text_y,
               value_text(row.value).c_str());
  }
}

int prior_grid_panel_height() { return kGridPlotHeight + 100; }

void prior_grid_panel(const ExportInput &in, ResultSink &out, int top, int width, const FigurePalette &palette) {
  const PriorGridResults &g = *in.results.prior_grid;
  const GridAxis axis = grid_axis(g);
  const std::vector<Curve> curves = grid_curves(in, g, axis, palette);
  size_t legend_chars = 0;
  for (const Curve &c : curves) legend_chars = std::max(legend_chars, c.name.size());
  const int x0 = kFigureMargin + kGridAxisRoom, y0 = top + 34;
  const int plot_w =
      width - x0 - kFigureMargin - kGridLegendGap - static_cast<int>(legend_chars) * kFigureCharWidth;
  const double lo = axis.values.front(), hi = axis.values.back();
  auto x_of = [&](double v) { return x0 + plot_w * (hi > lo ? (v - lo) / (hi - lo) : 0.5); };
  auto y_of = [&](double p) { return y0 + kGridPlotHeight * (1 - clamp01(p)); };

  out.printf("<text x=\"%d\" y=\"%d\" font-weight=\"bold\">Probability that each factor is "
             "active against %s (%s)</text>\n",
             kFigureMargin, top + 14, axis.name, axis.held.c_str());
  out.printf("<rect class=\"plot-area\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
             "fill=\"#fafbfc\" stroke=\"%s\"/>\n",
             x0, y0, plot_w, kGridPlotHeight, palette.grid);
  static const char *const kTicks[] = {"0", "0.25", "0.5", "0.75", "1"};
  for (int q = 0; q <= 4; q++) {
    const double y = y_of(q / 4.0);
    out.printf("<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" stroke=\"%s\"/>\n", x0, y, x0 + plot_w, y,
               palette.grid);
    out.printf("<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\" fill=\"%s\" font-size=\"11\">%s"
               "</text>\n",
               x0 - 6, y + 4, palette.soft, kTicks[q]);
  }
  // Ticks at up to six of the grid values, the first and the last among them.
  const int n = static_cast<int>(axis.values.size());
  int last_tick = -1;
  for (int t = 0; t < kGridXTicks; t++) {
    const int k = static_cast<int>(std::lround(static_cast<double>(t) * (n - 1) / (kGridXTicks - 1)));
    if (k == last_tick) continue;
    last_tick = k;
    const double x = x_of(axis.values[static_cast<size_t>(k)]);
    out.printf("<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" fill=\"%s\" font-size=\"11\">"
               "%g</text>\n",
               x, y0 + kGridPlotHeight + 16, palette.soft, axis.values[static_cast<size_t>(k)]);
  }
  out.printf("<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%s</text>\n", x0 + plot_w / 2.0,
             y0 + kGridPlotHeight + 36, axis.name);
  if (g.best >= 0) {
    const size_t best = static_cast<size_t>(g.best), ngam = g.gammas.size();
    const double v = g.gamma_grid ? g.gammas[best % ngam] : g.pis[best / ngam];
    const double x = x_of(v);
    out.printf("<g class=\"grid-best\">\n<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" "
               "stroke=\"%s\" stroke-dasharray=\"3 3\"/>\n<text x=\"%.1f\" y=\"%d\" "
               "text-anchor=\"middle\" fill=\"%s\" font-size=\"11\">most support: %s = %g</text>\n"
               "</g>\n",
               x, y0, x, y0 + kGridPlotHeight, palette.soft, x, y0 - 6, palette.soft, axis.name, v);
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
               points.c_str(), c.colour, *c.dash ? " stroke-dasharray=\"" : "", c.dash, *c.dash ? "\"" : "");
    out.printf("<text class=\"name\" x=\"%d\" y=\"%.1f\" fill=\"%s\">%s</text>\n</g>\n",
               x0 + plot_w + kGridLegendGap, label_y[i], c.colour, xml_text(c.name).c_str());
  }
}

// Round tick values from lo to hi: the multiples of the smallest step of
// 1, 2, 2.5 or 5 times a power of ten that gives at most `most` of them.
std::vector<double> nice_ticks(double lo, double hi, int most) {
  std::vector<double> ticks;
  if (!(hi > lo)) return {lo};
  const double raw = (hi - lo) / std::max(1, most - 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * power;
  for (double m : {1.0, 2.0, 2.5, 5.0, 10.0})
    if (m * power >= raw * (1 - 1e-9)) {
      step = m * power;
      break;
    }
  for (double k = std::ceil(lo / step - 1e-9); k * step <= hi * (1 + 1e-12) + 1e-300; k++) {
    const double v = k * step;
    ticks.push_back(std::fabs(v) < step * 1e-9 ? 0.0 : v);
    if (static_cast<int>(ticks.size()) > most + 1) break;
  }
  return ticks;
}

std::string xml_text(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += c;
    }
  }
  return out;
}

int effects_panel_height(const ExportInput &in) {
  return plot_effects(in).size() >= 2 ? kEffectPlotHeight + 110 : 0;
}

int effects_panel_width(int left) {
  return left + 40 + kEffectPlotWidth + kEffectPanelGap + kParetoNameChars * kFigureCharWidth + kParetoBarLength +
         kFigureValueRoom;
}

// The half-normal plot of the least-squares effects (Daniel 1959): the
// i-th smallest |effect| of m against the half-normal quantile
// Phi^-1(0.5 + 0.5 (i - 0.5) / m), with Lenth's ME and SME; and the Pareto
// chart of the largest |effects|.
void effects_panel(const ExportInput &in, ResultSink &out, int top, int left, const FigurePalette &palette) {
  const std::vector<PlotEffect> list = plot_effects(in);
  const size_t m = list.size();
  const std::optional<LenthResult> &lenth = in.results.effects->lenth;
  double largest = list.back().size;
  if (lenth) largest = std::max(largest, lenth->sme);
  if (!(largest > 0)) largest = 1;
  const std::vector<double> y_ticks = nice_ticks(0, largest, 5);
  const double y_top = std::max(largest, y_ticks.back());

  // Half-normal plot.
  const int x0 = left + 40, y0 = top + 40;
  const double q_top = normal_quantile(0.5 + 0.5 * (static_cast<double>(m) - 0.5) / static_cast<double>(m));
  auto x_of = [&](double q) { return x0 + kEffectPlotWidth * q / (q_top * 1.05); };
  auto y_of = [&](double v) { return y0 + kEffectPlotHeight * (1 - v / y_top); };
  out.printf("<text x=\"%d\" y=\"%d\" font-weight=\"bold\">Half-normal plot of the effects "
             "(least squares)</text>\n", left, top + 14);
  out.printf("<rect class=\"plot-area\" x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"#fafbfc\" "
             "stroke=\"%s\"/>\n", x0, y0, kEffectPlotWidth, kEffectPlotHeight, palette.grid);
  for (double t : y_ticks)
    out.printf("<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\" fill=\"%s\" font-size=\"11\">%g</text>\n", x0 - 6,
               y_of(t) + 4, palette.soft, t);
  for (double t : nice_ticks(0, q_top, 5))
    out.printf("<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\" fill=\"%s\" font-size=\"11\">%g</text>\n", x_of(t),
               y0 + kEffectPlotHeight + 16, palette.soft, t);
  out.printf("<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">half-normal quantile</text>\n",
             x0 + kEffectPlotWidth / 2.0, y0 + kEffectPlotHeight + 34);
  out.printf("<text x=\"%d\" y=\"%d\" fill=\"%s\" font-size=\"11\">|effect|</text>\n", left, y0 - 6, palette.soft);
  if (lenth && lenth->me > 0) {
    margin_line(out, true, y_of(lenth->me), x0, x0 + kEffectPlotWidth, "ME", lenth->me, palette);
    margin_line(out, true, y_of(lenth->sme), x0, x0 + kEffectPlotWidth, "SME", lenth->sme, palette);
  }
  // The effects beyond ME are named (the five largest without Lenth).
  const double named_above = lenth && lenth->me > 0 ? lenth->me : list[m > 5 ? m - 5 : 0].size;
  for (size_t i = 0; i < m; i++) {
    const double q = normal_quantile(0.5 + 0.5 * (static_cast<double>(i) + 0.5) / static_cast<double>(m));
    const PlotEffect &e = list[i];
    out.printf("<g class=\"half-normal\">\n<title>%s: %.6g</title>\n<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" "
               "fill=\"%s\"/>\n", xml_text(e.name).c_str(), e.effect, x_of(q), y_of(e.size),
               e.effect >= 0 ? palette.factor : palette.model);
    if (e.size >= named_above && e.size > 0)
      out.printf("<text class=\"name\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" font-size=\"11\">%s</text>\n",
                 x_of(q) - 6, y_of(e.size) + 4, xml_text(cut_text(e.name, kParetoNameChars)).c_str());
    out.printf("</g>\n");
  }

  // Pareto chart of the largest effects.
  const int px = x0 + kEffectPlotWidth + kEffectPanelGap + kParetoNameChars * kFigureCharWidth;
  const int bar_length = kParetoBarLength;
  const int rows = static_cast<int>(std::min<size_t>(m, kParetoBars));
  const int row_h = std::max(12, kEffectPlotHeight / std::max(rows, 1));
  out.printf("<text x=\"%d\" y=\"%d\" font-weight=\"bold\">Pareto chart: the largest |effects|</text>\n",
             px - kParetoNameChars * kFigureCharWidth, top + 14);
  auto bx_of = [&](double v) { return px + bar_length * v / y_top; };
  for (int r = 0; r < rows; r++) {
    const PlotEffect &e = list[m - 1 - static_cast<size_t>(r)];
    const int y = y0 + r * row_h;
    out.printf("<g class=\"pareto\">\n<title>%s: %.6g</title>\n<text class=\"name\" x=\"%d\" y=\"%d\" "
               "text-anchor=\"end\" font-size=\"11\">%s</text>\n<rect x=\"%d\" y=\"%d\" width=\"%.1f\" "
               "height=\"%d\" fill=\"%s\"/>\n<text class=\"value\" x=\"%.1f\" y=\"%d\" font-size=\"11\">%.3g</text>\n</g>\n",
               xml_text(e.name).c_str(), e.effect, px - 6, y + row_h - 6, xml_text(cut_text(e.name, kParetoNameChars)).c_str(),
               px, y + 2, bx_of(e.size) - px, row_h - 4, e.effect >= 0 ? palette.factor : palette.model,
               bx_of(e.size) + 4, y + row_h - 6, e.effect);
  }
  if (lenth && lenth->me > 0) {
    margin_line(out, false, bx_of(lenth->me), y0, y0 + rows * row_h, "ME", lenth->me, palette);
    margin_line(out, false, bx_of(lenth->sme), y0, y0 + rows * row_h, "SME", lenth->sme, palette);
  }
  const std::string note = lenth ? "dashed: Lenth's margins ME and SME"
                                 : "no Lenth margins: " + in.results.effects->lenth_note;
  out.printf("<text x=\"%d\" y=\"%d\" fill=\"%s\" font-size=\"11\">blue: positive, orange: negative; "
             "%s</text>\n", left, y0 + kEffectPlotHeight + 52, palette.soft, xml_text(note).c_str());
}


}  // namespace bayescreen
