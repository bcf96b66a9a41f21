// One self-contained HTML page of the results, to read and to pass on: a
// summary in sentences first (the factors judged active, or that none is,
// and warnings when the best answer sits at the edge of what was searched),
// then the figures (inline SVG), the tables, the settings and command line,
// and the full text report folded at the end. No external resources: the
// style sheet is inline, and the one small script only sorts the tables
// (the page reads the same without it). Colours from the Okabe-Ito palette;
// every text from the design file or the command line is escaped.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "export/results.h"

namespace bayescreen {

// The most models the page lists and draws: the page of a run of a million
// models stays small, and says how many models it leaves out.
constexpr int kHtmlTableModels = 40;
constexpr int kHtmlFigureModels = 12;
// The most effects the table of effects lists: every main effect, then the
// interactions with the largest posterior means.
constexpr size_t kHtmlTableEffects = 120;
// The most bytes of the text report the page holds; a longer report is cut
// at a line end, and the page says where the whole report is.
constexpr size_t kHtmlReportBytes = 1000000;

// A factor judged active: posterior probability above 0.5.
struct ActiveFactor {
  int column = 0;            // its design column
  std::string name;          // letter, and its label in parentheses when it has one
  double probability = 0;    // posterior probability of being active
  std::optional<int> sign;   // sign of its main effect (+1, -1) when the results hold one
  double effect = 0;         // with a sign: the posterior mean of the main effect (low to high)
  double prob_positive = 0;  //   and its posterior probability of being positive
};

// What the summary says, as values.
struct HtmlSummary {
  std::vector<ActiveFactor> active;  // most probable first
  bool none_best = false;            // the null model is the most probable model
  double none_probability = 0;       //   and its posterior probability
  std::vector<std::string> warnings; // the best models, or a grid's best point, at an edge
};

// The summary of the results. The direction and size of a factor's effect
// are the posterior mean of its main effect when the results hold effect
// estimates; without them sign stays empty and the sentences leave the
// direction out.
HtmlSummary html_summary(const ExportInput &in);

// Writes the page. The text report is in.run.report (empty: not available).
void write_html(const ExportInput &in, ResultSink &out);

}  // namespace bayescreen
