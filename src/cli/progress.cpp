#include "cli/progress.h"

#include <cmath>
#include <cstdio>

#include "support/numtext.h"

namespace bayescreen {

namespace {

// The line drawn no sooner than this many seconds into the search.
constexpr double kFirstDraw = 1.0;

}  // namespace

void SearchProgressLine::search_progress(const SearchProgress &now) {
  if (!show_line_ || now.seconds < kFirstDraw) return;
  char left[48] = "";
  if (now.seconds_left > 0) snprintf(left, sizeof left, ", about %.0f s left", std::ceil(now.seconds_left));
  fprintf(stderr, "\rSearch: %s iterations, %s models, chains differ by %.3f, %.0f s%s\033[K",
          grouped_count(now.iterations).c_str(), grouped_count(now.distinct).c_str(), now.chain_difference, now.seconds, left);
  fflush(stderr);
  drawn_ = true;
}

void SearchProgressLine::effects_done(const Results &results) {
  if (drawn_) {
    fprintf(stderr, "\r\033[K");
    fflush(stderr);
    drawn_ = false;
  }
  ReportPrinter::effects_done(results);
}

}  // namespace bayescreen
