// The echo of the design file as it is read (heading, parameter values,
// labels, data), the factor letters, and the listing of the model set:
// screen and log.
#pragma once
#include <functional>

#include "engine/design.h"
#include "engine/modelspace.h"
#include "engine/settings.h"
#include "support/textbuf.h"

namespace bayescreen {

// Echoes what the design reader reads. heading_read first calls
// `before_heading` (the front end opens the log there), then echoes.
class DesignEcho : public DesignReadObserver {
 public:
  DesignEcho(const Settings &settings, std::function<void(const Design &)> before_heading)
      : settings_(settings), before_heading_(std::move(before_heading)) {}
  void heading_read(const Design &design) override;
  void unknown_parameter(unsigned line, const char *word) override;
  void parameters_read(const ParameterValues &values) override;
  void labels_read(const Design &design) override;
  void text_line_read(const char *line) override;
  void data_read(const Design &design) override;

 private:
  const Settings &settings_;
  std::function<void(const Design &)> before_heading_;
};

// Appends one design entry of the data echo to row, as "  %2d" formats it.
void append_design_entry(TextBuffer &row, int32_t v);

// "Factor labels: ABC...   Factors analyzed: AB..." after the design is read.
void show_factor_letters(const Design &design);
// "Models and submodels (n=N):" and the model names (or, for a set of more
// than 10,000 models beyond the plain one, the count of each size).
void show_model_names(const Design &design, const ModelSpace &space, const ModelTable &models);

}  // namespace bayescreen
