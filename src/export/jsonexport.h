// The results as one JSON document: the program and schema version, the
// input, the design, every setting, every model with its criteria and
// posterior probability, and the factor weights under every weighting. The
// fields are described in the README.
#pragma once
#include "export/results.h"

namespace bayescreen {

// The version of the document's layout: raised when a field changes its
// meaning or goes away (fields may be added without a change).
constexpr int kJsonSchemaVersion = 1;

// Writes the document. The models are formatted and written a piece at a
// time, so a set of millions of models takes no more memory than a few.
void write_json(const ExportInput &in, ResultSink &out);

}  // namespace bayescreen
