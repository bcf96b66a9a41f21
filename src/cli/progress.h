// The progress line of a long model search: on standard error, rewritten in
// place after each round of the search once it has run about a second, and
// wiped before the report goes on. Only where standard error is a terminal
// and --quiet is not given; otherwise the report printer alone.
#pragma once
#include "report/report.h"

namespace bayescreen {

class SearchProgressLine : public ReportPrinter {
 public:
  // show_line: draw the line (standard error is a terminal, no --quiet).
  SearchProgressLine(const Design &design, const Settings &settings, bool show_effects, bool show_line)
      : ReportPrinter(design, settings, show_effects), show_line_(show_line) {}

  void search_progress(const SearchProgress &now) override;
  void effects_done(const Results &results) override;

 private:
  bool show_line_ = false;
  bool drawn_ = false;  // a line is on the terminal
};

}  // namespace bayescreen
