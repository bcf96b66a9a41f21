#include "export/svgexport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/calcmodels.h"
#include "analysis/models.h"
#include "analysis/rankmodels.h"
#include "analysis/readdat.h"
#include "analysis/settings.h"
#include "export/results.h"
#include "support/atomicfile.h"

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
void axis(int x0, int length, int rows) {
  static const char *const kTicks[] = {"0", "0.25", "0.5", "0.75", "1"};
  const int y_top = kTop - 6, y_bottom = kTop + rows * kRowHeight;
  for (int q = 0; q <= 4; q++) {
    const int x = x0 + length * q / 4;
    atomic_printf("<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"%s\"/>\n", x, y_top,
                  x, y_bottom, kGridColour);
    atomic_printf("<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" fill=\"%s\" "
                  "font-size=\"11\">%s</text>\n",
                  x, y_bottom + 16, kSoftColour, kTicks[q]);
  }
}

// One panel of horizontal bars: the tracks, the grid over them, then each
// row in a group of class row_class with the full text as its tooltip: its
// letter (if any), its name, the bar and the value after it.
void bars(const std::vector<Row> &rows, int name_x, int bar_x, int length, const char *row_class) {
  for (size_t i = 0; i < rows.size(); i++)
    atomic_printf("<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\"/>\n", bar_x,
                  kTop + static_cast<int>(i) * kRowHeight, length, kBarHeight, kTrackColour);
  axis(bar_x, length, static_cast<int>(rows.size()));
  for (size_t i = 0; i < rows.size(); i++) {
    const Row &row = rows[i];
    const int y = kTop + static_cast<int>(i) * kRowHeight;
    const int text_y = y + kBarHeight - 5;
    const double width = clamp01(row.value) * length;
    atomic_printf("<g class=\"%s\">\n<title>%s</title>\n", row_class, xml_text(row.tip).c_str());
    if (!row.letter.empty())
      atomic_printf("<text class=\"letter\" x=\"%d\" y=\"%d\" font-weight=\"bold\">%s</text>\n",
                    name_x, text_y, xml_text(row.letter).c_str());
    const int label_x = row.letter.empty() ? name_x : name_x + kLetterWidth;
    atomic_printf("<text class=\"name\" x=\"%d\" y=\"%d\">%s</text>\n", label_x, text_y,
                  xml_text(row.name).c_str());
    atomic_printf("<rect x=\"%d\" y=\"%d\" width=\"%.1f\" height=\"%d\" fill=\"%s\"/>\n", bar_x, y,
                  width, kBarHeight, row.colour);
    atomic_printf("<text class=\"value\" x=\"%.1f\" y=\"%d\">%s</text>\n</g>\n",
                  bar_x + width + 6, text_y, value_text(row.value).c_str());
  }
}

std::vector<Row> factor_rows() {
  const FactorWeightTables &tables = factor_weight_tables();
  const auto &shares = tables.shares[static_cast<int>(Weighting::PostProb)];
  std::vector<Row> rows;
  for (int c = modelspace.blocks; c < nv; c++) {
    const std::string name = factor_name(c);
    const std::string letter(1, factorstr[c]);
    const double p = shares[static_cast<size_t>(c)];
    char tip[64];
    snprintf(tip, sizeof tip, ": %.6g", p);
    const bool labelled = column_label(c) != nullptr;
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
std::vector<Row> model_rows() {
  std::vector<Row> rows;
  for (int i = 0; i < rank_count && static_cast<int>(rows.size()) < kTopModels; i++) {
    const ModelEntry &m = model[rank_order[i]];
    if (!has_posterior(m)) continue;
    char tip[96];
    snprintf(tip, sizeof tip, "%s: %.6g", m.name, m.postprob);
    rows.push_back({"", m.name, tip, m.postprob, kModelColour});
  }
  return rows;
}

}  // namespace

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

void write_svg(const char *path) {
  const std::vector<Row> factors = factor_rows();
  const std::vector<Row> models = model_rows();

  // Left panel: letters and labels, then the bars; right panel: the model
  // names, then their bars. A later panel (factor probabilities against a
  // grid of prior values) goes below these two.
  size_t label_chars = 0;
  for (const Row &row : factors) label_chars = std::max(label_chars, row.name.size());
  const int factor_bar_x =
      kMargin + kLetterWidth + static_cast<int>(std::min<size_t>(label_chars, kLabelChars + 1)) * kCharWidth + 12;
  const int model_x = factor_bar_x + kFactorBar + kValueRoom + kPanelGap;
  size_t name_chars = 4;
  for (const Row &row : models) name_chars = std::max(name_chars, row.name.size());
  const int model_bar_x = model_x + static_cast<int>(name_chars) * (kCharWidth + 1) + 12;
  const int width = model_bar_x + kModelBar + kValueRoom + kMargin;
  const int rows = static_cast<int>(std::max(factors.size(), models.size()));
  const int height = kTop + rows * kRowHeight + 40;

  const size_t heading_chars = static_cast<size_t>((width - 2 * kMargin) / kHeadingCharWidth);
  char settings[160];
  snprintf(settings, sizeof settings, "%d runs, %d models; prior pi = %g, gamma = %g", nn, nmod,
           pi, gam);

  begin_atomic_file(path);
  atomic_printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  atomic_printf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"13\" fill=\"%s\">\n",
                width, height, width, height, kTextColour);
  atomic_printf("<title>Posterior probabilities: %s</title>\n",
                xml_text(valid_utf8(infile)).c_str());
  atomic_printf("<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n");
  atomic_printf("<text x=\"%d\" y=\"30\" font-size=\"17\" font-weight=\"bold\">%s</text>\n", kMargin,
                xml_text(cut(valid_utf8(design_heading), heading_chars)).c_str());
  atomic_printf("<text x=\"%d\" y=\"52\" fill=\"%s\">%s: %s</text>\n", kMargin, kSoftColour,
                xml_text(valid_utf8(infile)).c_str(), xml_text(settings).c_str());
  atomic_printf("<text x=\"%d\" y=\"88\" font-weight=\"bold\">Probability that each factor is "
                "active</text>\n", kMargin);
  atomic_printf("<text x=\"%d\" y=\"88\" font-weight=\"bold\">Top models: posterior "
                "probability</text>\n", model_x);
  bars(factors, kMargin, factor_bar_x, kFactorBar, "factor");
  bars(models, model_x, model_bar_x, kModelBar, "model");
  atomic_printf("</svg>\n");
  commit_atomic_file();
}

}  // namespace bayescreen
