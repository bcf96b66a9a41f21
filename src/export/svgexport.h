// One self-contained SVG figure of the results: the posterior probability
// that each factor is active as a bar chart (factor labels where the design
// gives them, else letters; the value on each bar) and the posterior
// probabilities of the top models beside it. No scripts, no external fonts
// or images: legible as it is at 100% in any browser or viewer.
#pragma once
#include <string>

#include "export/results.h"
#include "export/svgfigure.h"

namespace bayescreen {

// Writes the figure.
void write_svg(const ExportInput &in, ResultSink &out);

}  // namespace bayescreen
