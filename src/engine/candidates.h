// Candidate runs for a follow-up design: every level combination of a set
// of factors, or the runs of a file written like a design file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/design.h"
#include "engine/settings.h"
#include "support/linereader.h"

namespace bayescreen {

// The candidate runs. Each run gives a level to every design column; the
// block columns are 0 on every candidate (the follow-up runs form a block of
// their own), and so is every column a full factorial leaves open.
struct CandidateRuns {
  int32_t count = 0;              // candidate runs
  int32_t columns = 0;            // design columns of each run (the design's Ncols)
  std::vector<int32_t> levels;    // count x columns, run by run
  std::vector<int32_t> shown;     // the design columns a report shows, in column order
  std::string source;             // the file read, or empty for a full factorial

  int32_t level(int run, int column) const {
    return levels[static_cast<size_t>(run) * static_cast<size_t>(columns) +
                  static_cast<size_t>(column)];
  }
};

// The most factors of a full factorial of candidates (4,096 runs) and the
// most runs a candidate file may hold.
constexpr int kMaxFactorialFactors = 12;
constexpr int32_t kMaxCandidateRuns = 65536;

// Every combination of the levels -1 and +1 of the design columns in
// factors (at most kMaxFactorialFactors of them), in standard order: the
// factor of the lowest column changes fastest, so candidate q has the p-th
// factor at +1 when bit p of q is set.
CandidateRuns full_factorial_candidates(const Design &design, uint64_t factors);

// Reads the candidate runs of a file in the design-file format: a heading
// line, a parameter line with Nrows= and Ncols= (other keywords are
// ignored), an optional Labels block, the Data line, then one run a line:
// the run number, an integer level for each of the Ncols columns and,
// optionally, anything else (a response is ignored). Ncols must be the
// design's number of columns; one text line may stand among the runs. The
// block columns of the design (settings) are 0 on every candidate. Any
// problem throws an Error naming the line.
CandidateRuns read_candidate_file(LineReader &lines, const Design &design, const Settings &settings);

}  // namespace bayescreen
