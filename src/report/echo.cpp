#include "report/echo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/helpers.h"
#include "support/logfile.h"
#include "support/showplaces.h"
#include "support/strlist.h"
#include "support/textbuf.h"

namespace bayescreen {

namespace {

// Beyond this many models the name listing gives the count of each size.
constexpr int kMaxListedNames = 10000;

}  // namespace

void DesignEcho::heading_read(const Design &design) {
  before_heading_(design);
  bprintf("\nHEADING LINE in %s:\n  %s\n", design.path.c_str(), design.heading.c_str());
}

void DesignEcho::unknown_parameter(unsigned line, const char *word) {
  printf("L#%u: WARNING: Unrecognized option `%s' in Parameter Line\n", line, word);
}

void DesignEcho::parameters_read(const ParameterValues &values) {
  {
    PlaceGuard place("Show_Var_Values");
    bprintf("Values of variables:\n");
    StringList *list = new_strlist();
    char buf[128];
    for (int k = 0; k < kParmRows; k++) {
      const ParameterKeyword &row = kParameterKeywords[k];
      if (row.isreal)
        add_strprintf(list, buf, sizeof buf, "%s=%g", row.showname, values.value(k));
      else
        add_strprintf(list, buf, sizeof buf, "%s=%d", row.showname, static_cast<int>(values.value(k)));
    }
    prqtok_strlist("  ", list, bprintf);
    kill_strlist(&list);
  }
  if (!settings_.step && !settings_.verbose) return;
  PlaceGuard place("Show_Parsed_Vars");
  printf("Parsed values from the parameter and command line:\n");
  int width = 0;
  for (int k = 0; k < kParmRows; k++)
    width = std::max(width, static_cast<int>(strlen(kParameterKeywords[k].keyname)));
  for (int k = 0; k < kParmRows; k++) {
    const ParameterKeyword &row = kParameterKeywords[k];
    printf(" %2d. %-*s: PLINE=%3s  CLINE=%3s", k + 1, width, row.keyname, boolyn(values.in_file[k]),
           boolyn(values.on_command_line[k]));
    if (row.isreal)
      printf("  Value=%g\n", values.value(k));
    else
      printf("  Value=%d\n", static_cast<int>(values.value(k)));
  }
}

void DesignEcho::labels_read(const Design &design) {
  PlaceGuard place("Show_Labels");
  if (design.labels.empty()) {
    printf("WARNING: Labels line, but no labels found.\n");
    return;
  }
  bprintf("\nLabels in %s:\n", design.path.c_str());
  StringList *list = new_strlist();
  for (size_t k = 0; k < design.labels.size(); k++) {
    // Labels have no length limit, so each item is built whole.
    const char prefix[3] = {static_cast<char>('A' + k), '=', '\0'};
    char *item = strxdup_app(prefix, design.labels[k].c_str());
    add_strlist(list, item);
    free(item);
  }
  prqtok_strlist("  ", list, bprintf);
  kill_strlist(&list);
}

void DesignEcho::text_line_read(const char *line) { printf("Text line in Data block:\n  %s\n", line); }

// Each row is formatted whole, then printed with one call.
// The one- and two-character values (-9 to 99, every two-level design)
// without the formatting machinery: the echo of a large design is a good
// part of the time a run spends outside the fits, on one thread.
void append_design_entry(TextBuffer &row, int32_t v) {
  char text[4] = {' ', ' ', ' ', ' '};
  if (v >= 0 && v <= 9) {
    text[3] = static_cast<char>('0' + v);
  } else if (v >= 10 && v <= 99) {
    text[2] = static_cast<char>('0' + v / 10);
    text[3] = static_cast<char>('0' + v % 10);
  } else if (v >= -9 && v <= -1) {
    text[2] = '-';
    text[3] = static_cast<char>('0' - v);
  } else {
    row.appendf("  %2d", v);
    return;
  }
  row.append(text, sizeof text);
}

void DesignEcho::data_read(const Design &design) {
  bprintf("\nData in %s: Rownum, Design matrix, Response variable\n", design.path.c_str());
  if (!design.text_line.empty()) bprintf("%s\n", design.text_line.c_str());
  TextBuffer row;
  for (int32_t i = 0; i < design.runs; i++) {
    row.clear();
    row.appendf("%5u.", static_cast<unsigned>(design.run_numbers[static_cast<size_t>(i)]));
    for (int32_t j = 0; j < design.columns; j++) append_design_entry(row, design.entry(i, j));
    row.appendf("   %g\n", design.y[static_cast<size_t>(i)]);
    bprintf("%s", row.c_str());
  }
}

void show_factor_letters(const Design &design) {
  bprintf("\nFactor labels: %s   Factors analyzed: %-*.*s\n", design.letters.c_str(), design.analysed,
          design.analysed, design.letters.c_str());
}

void show_model_names(const Design &design, const ModelSpace &space, const ModelTable &models) {
  PlaceGuard place("Show_Model_Names");
  const int nmod = models.size();
  if (!space.is_default() && nmod > kMaxListedNames) {
    bprintf("Models and submodels (n=%d):\n", nmod);
    const int k = screened_factors(design, space);
    if (space.with_null) bprintf("  the null model\n");
    for (int f = 1; f <= largest_model_size(design, space); f++)
      bprintf("  %llu model%s of %d factor%s\n", static_cast<unsigned long long>(binomial(k, f)),
              plural(static_cast<long>(binomial(k, f))), f, plural(f));
    return;
  }
  StringList *list = new_strlist();
  for (const ModelEntry &m : models) add_strlist(list, m.name);
  bprintf("Models and submodels (n=%d):\n", num_strlist(list));
  prqtok_strlist(nullptr, list, bprintf);
  kill_strlist(&list);
}

}  // namespace bayescreen
