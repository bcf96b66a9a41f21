#include "export/svgexport.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "export/results.h"
#include "export/svgfigure.h"
#include "support/showplaces.h"

namespace bayescreen {

namespace {

// The layout, in pixels (user units at 100%), beyond the shared one.
constexpr int kTop = 112;  // first row, below the titles and panel headings
constexpr int kFactorBar = 300;  // the length of a probability of 1
constexpr int kModelBar = 200;
constexpr int kPanelGap = 40;
constexpr int kTopModels = 10;
constexpr int kHeadingCharWidth = 10;  // at 17 px, bold

}  // namespace

void write_svg(const ExportInput &in, ResultSink &out) {
  PlaceGuard place("Write_Svg");
  const FigurePalette &palette = kFilePalette;
  const std::vector<BarRow> factors = factor_bar_rows(in, palette);
  const std::vector<BarRow> models = model_bar_rows(in, palette, kTopModels, false);
  const bool grid = in.results.prior_grid.has_value();

  // Left panel: letters and labels, then the bars; right panel: the model
  // names, then their bars; with a prior grid, the panel of the factor
  // probabilities against it below these two.
  const int factor_x = factor_bar_x(factors, kFigureMargin);
  const int model_x = factor_x + kFactorBar + kFigureValueRoom + kPanelGap;
  const int model_x_bar = model_bar_x(models, model_x, 4);
  const int width = model_x_bar + kModelBar + kFigureValueRoom + kFigureMargin;
  const int rows = static_cast<int>(std::max(factors.size(), models.size()));
  const int bars_height = kTop + rows * kFigureRowHeight + 40;
  const int height = bars_height + (grid ? prior_grid_panel_height() : 0);

  const size_t heading_chars = static_cast<size_t>((width - 2 * kFigureMargin) / kHeadingCharWidth);
  char settings[160];
  snprintf(settings, sizeof settings, "%d runs, %d models; prior pi = %g, gamma = %g", in.design.runs,
           in.results.models.size(), in.settings.pi, in.settings.gamma);

  out.printf("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  out.printf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
             "viewBox=\"0 0 %d %d\" font-family=\"sans-serif\" font-size=\"13\" fill=\"%s\">\n",
             width, height, width, height, palette.text);
  out.printf("<title>Posterior probabilities: %s</title>\n", xml_text(valid_utf8(in.run.input)).c_str());
  out.printf("<rect width=\"100%%\" height=\"100%%\" fill=\"#ffffff\"/>\n");
  out.printf("<text x=\"%d\" y=\"30\" font-size=\"17\" font-weight=\"bold\">%s</text>\n", kFigureMargin,
             xml_text(cut_text(valid_utf8(in.design.heading), heading_chars)).c_str());
  out.printf("<text x=\"%d\" y=\"52\" fill=\"%s\">%s: %s</text>\n", kFigureMargin, palette.soft,
             xml_text(valid_utf8(in.run.input)).c_str(), xml_text(settings).c_str());
  out.printf("<text x=\"%d\" y=\"88\" font-weight=\"bold\">Probability that each factor is "
             "active</text>\n",
             kFigureMargin);
  out.printf("<text x=\"%d\" y=\"88\" font-weight=\"bold\">Top models: posterior "
             "probability</text>\n",
             model_x);
  bar_panel(out, factors, kTop, kFigureMargin, factor_x, kFactorBar, "factor", palette);
  bar_panel(out, models, kTop, model_x, model_x_bar, kModelBar, "model", palette);
  if (grid) prior_grid_panel(in, out, bars_height, width, palette);
  out.printf("</svg>\n");
}

}  // namespace bayescreen
