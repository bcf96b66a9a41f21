// The drawing parts of the figures, shared by the SVG file (--svg-file) and
// the HTML page (--html): panels of horizontal probability bars (the
// factors, the top models), the panel of the factor probabilities against
// a prior grid, and the panel of the effects (half-normal plot, Pareto
// chart). Each part writes SVG elements into a sink at a given position;
// the caller writes the enclosing <svg> element.
#pragma once
#include <string>
#include <vector>

#include "export/results.h"

namespace bayescreen {

// The colours of a figure.
struct FigurePalette {
  const char *factor;  // the bars of the factors
  const char *none;    // "No factor active"
  const char *model;   // the bars of the models
  const char *track;   // the track behind a bar
  const char *grid;    // grid lines and frames
  const char *text;    // text
  const char *soft;    // secondary text, the support curve
  const char *const *lines;  // the curves of the factors in the grid panel, cycled
  int line_count;
};

// The colours of the SVG file.
extern const FigurePalette kFilePalette;
// Colours that stay apart for readers with any common colour-vision
// deficiency: the palette of Okabe and Ito ("Color Universal Design",
// 2008), yellow left out of the lines for its low contrast on white.
extern const FigurePalette kOkabeItoPalette;

// The layout, in pixels (user units at 100%).
constexpr int kFigureMargin = 24;
constexpr int kFigureRowHeight = 28;  // one factor or model per row
constexpr int kFigureLabelChars = 24; // longer labels are cut, in full in the tooltip
constexpr int kFigureCharWidth = 8;   // approximate advance of a sans-serif character at 13 px
constexpr int kFigureValueRoom = 56;  // the value printed after a bar

// One bar: a factor or a model.
struct BarRow {
  std::string letter;  // the factor letter (empty for rows that are not factors)
  std::string name;    // the label or model name shown
  std::string tip;     // the tooltip: the full name and value
  double value;        // a probability
  const char *colour;
};

// The rows of the factors (from the first screened column) by their
// posterior probability of being active, and "No factor active" when the
// null model is in the set.
std::vector<BarRow> factor_bar_rows(const ExportInput &in, const FigurePalette &palette);

// The best `count` models by posterior probability, in the order of the
// report's ranking. With `aliases`, a model of an alias group names the
// others of its group after its own name ("AB = AC").
std::vector<BarRow> model_bar_rows(const ExportInput &in, const FigurePalette &palette, int count,
                                   bool aliases);

// The x at which the bars of factor rows start when their names start at
// name_x: room for the letter and the longest (cut) label.
int factor_bar_x(const std::vector<BarRow> &rows, int name_x);
// The same for rows without letters (models), names at least min_chars wide.
int model_bar_x(const std::vector<BarRow> &rows, int name_x, size_t min_chars);

// One panel of horizontal bars whose first row is at y = top: the tracks,
// the probability axis (grid lines at 0, 0.25 ... 1 and their values under
// the last row), then each row in a group of class row_class with the full
// text as its tooltip: its letter (if any), its name, the bar and the value
// after it. A probability of 1 is `length` long.
void bar_panel(ResultSink &out, const std::vector<BarRow> &rows, int top, int name_x, int bar_x,
               int length, const char *row_class, const FigurePalette &palette);

// The height the prior-grid panel takes.
int prior_grid_panel_height();

// The panel of a prior grid (the results must hold one), from y = top in a
// figure `width` wide: each factor's probability against the gamma grid
// (else the pi grid), the other prior held at the point the data support
// most, with the support and that point marked.
void prior_grid_panel(const ExportInput &in, ResultSink &out, int top, int width,
                      const FigurePalette &palette);

// Round tick values from lo to hi: the multiples of the smallest step of
// 1, 2, 2.5 or 5 times a power of ten that gives at most `most` of them.
std::vector<double> nice_ticks(double lo, double hi, int most);

// The height the panel of the effects takes: 0 when the results hold fewer
// than two least-squares effects (no panel is drawn).
int effects_panel_height(const ExportInput &in);
// The x just right of the panel of the effects when it starts at x = left.
int effects_panel_width(int left);

// The panel of the effects (the results must hold at least two
// least-squares effects), from y = top and x = left: the half-normal plot
// of the least-squares effects (Daniel 1959) with Lenth's margins ME and
// SME when the results hold them, and the Pareto chart of the largest
// |effects|; positive effects in the factor colour, negative ones in the
// model colour.
void effects_panel(const ExportInput &in, ResultSink &out, int top, int left, const FigurePalette &palette);

// Text for an SVG (or HTML) text node or attribute: &, <, >, " and ' as
// entities, and control characters that XML does not allow left out.
std::string xml_text(const std::string &text);

// text cut to at most `chars` bytes at a UTF-8 character boundary, with an
// ellipsis when cut.
std::string cut_text(const std::string &text, size_t chars);

}  // namespace bayescreen
