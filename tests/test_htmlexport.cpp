// The HTML page's summary on designs whose answer is known by construction
// (a response made of chosen effects, or of noise alone), its escaping of
// every name, and the bound on the text report it holds. The page as a
// whole (HTML5 parse, structure, agreement with the report, a browser) is
// checked by tests/tools/check_html.py and browser_html.py.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "design_fixture.h"
#include "engine/analysis.h"
#include "engine/settings.h"
#include "export/htmlexport.h"
#include "export/results.h"
#include "testutil.h"

namespace {

using namespace bayescreen;

size_t count_of(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
  return n;
}

// A response of the 2^k factorial: effects[j] times factor j, plus a fixed
// small disturbance (noise[r % 8]) so that no fit is exact.
std::vector<double> response(int k, const std::vector<double> &effects, double scale) {
  static const double noise[8] = {0.31, -0.22, 0.13, 0.42, -0.35, 0.18, -0.09, -0.38};
  std::vector<double> y;
  const auto rows = testutil::full_factorial(k);
  for (size_t r = 0; r < rows.size(); r++) {
    double v = 50 + scale * noise[r % 8] + 0.07 * static_cast<double>(r % 3);
    for (size_t j = 0; j < effects.size(); j++) v += effects[j] * rows[r][j];
    y.push_back(v);
  }
  return y;
}

TEST(HtmlSummary, ActiveFactorsNullModelAndEdges) {
  struct Case {
    const char *what;
    int k;
    std::vector<double> effects;  // half the change of the response from low to high, by factor
    double noise;
    int max_factors;              // 0: the default
    bool with_null;
    GridSpec gamma_grid;          // n = 0: none
    std::string active;           // the letters judged active, most probable first
    bool none_best;
    std::vector<std::string> warnings;  // a word of each warning, in order
  };
  const std::vector<Case> cases = {
      {"one strong factor of three", 3, {8, 0, 0}, 1, 0, false, {}, "A", false, {}},
      {"two strong factors of four", 4, {0, 6, 0, -9}, 1, 0, false, {}, "DB", false, {}},
      {"noise alone, the null model in the set", 3, {0, 0, 0}, 1, 0, true, {}, "", true, {}},
      {"three strong factors, models of two at most: the two largest", 4, {7, 8, 9, 0}, 1, 2, false, {}, "CB", false,
       {"--max-factors=3"}},
      {"a strong factor under a grid of small gammas", 3, {8, 0, 0}, 1, 0, false, {0.1, 0.5, 3}, "A", false,
       {"upper end"}},
      {"a strong factor under a grid of large gammas", 3, {3, 0, 0}, 1, 0, false, {200, 400, 3}, "A", false,
       {"lower end"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    const Design design = testutil::make_design(testutil::full_factorial(c.k), response(c.k, c.effects, c.noise), c.k);
    Settings settings;
    if (c.max_factors > 0) settings.model_space.max_factors = c.max_factors;
    settings.model_space.with_null = c.with_null;
    settings.gamma_grid = c.gamma_grid;
    const Results results = analyse(design, settings);
    RunDescription run;
    const HtmlSummary s = html_summary(ExportInput{design, settings, results, run});
    std::string active;
    for (const ActiveFactor &f : s.active) {
      active += design.letters[static_cast<size_t>(f.column)];
      EXPECT_GT(f.probability, 0.5);
      EXPECT_FALSE(f.sign.has_value());  // no effect estimates among the results yet
    }
    EXPECT_EQ(active, c.active);
    EXPECT_EQ(s.none_best, c.none_best);
    ASSERT_EQ(s.warnings.size(), c.warnings.size());
    for (size_t w = 0; w < c.warnings.size(); w++)
      EXPECT_TRUE(testutil::contains(s.warnings[w], c.warnings[w])) << s.warnings[w];
  }
}

// With effect estimates among the results, each active factor's sentence
// gives the direction and size of its main effect (known here by
// construction: twice the coefficient of the response), in the factor's
// own levels when the design came from a table; the page holds a row per
// effect, and a coding table exactly for a table, its values escaped.
TEST(HtmlPage, EffectDirectionsEffectsTableAndCoding) {
  struct Case {
    const char *what;
    int k;
    std::vector<double> effects;        // half the change from low to high, by factor
    std::vector<FactorCoding> coding;   // empty: a design file
    std::vector<std::string> sentences; // a part of each active factor's sentence, most probable first
  };
  const std::vector<Case> cases = {
      {"one factor raises the response", 3, {8, 0, 0}, {}, {"raising it from its low to its high level raises the response by about "}},
      {"one raises, one lowers", 4, {0, 6, 0, -9}, {},
       {"from its low to its high level lowers the response by about ", "raises the response by about "}},
      {"a table in natural units, markup in a level", 3, {0, -7, 0},
       {{"Temp", "150", "180", "165"}, {"Cat<a>", "old<b>", "new&", ""}, {"Time", "10", "20", ""}},
       {"raising it from old&lt;b&gt; to new&amp; lowers the response by about "}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    Design design = testutil::make_design(testutil::full_factorial(c.k), response(c.k, c.effects, 0.3), c.k);
    design.coding = c.coding;
    const Settings settings;
    AnalysisRequest request;
    request.effects = true;
    const Results results = analyse(design, settings, nullptr, request);
    RunDescription run;
    const ExportInput in{design, settings, results, run};
    const HtmlSummary s = html_summary(in);
    ASSERT_EQ(s.active.size(), c.sentences.size());
    for (const ActiveFactor &f : s.active) {
      const double expected = 2 * c.effects[static_cast<size_t>(f.column)];
      ASSERT_TRUE(f.sign.has_value());
      EXPECT_EQ(*f.sign, expected > 0 ? 1 : -1);
      EXPECT_NEAR(f.effect, expected, 0.02 * std::fabs(expected));
      EXPECT_NEAR(f.prob_positive, expected > 0 ? 1 : 0, 1e-3);
    }
    StringSink sink;
    write_html(in, sink);
    const std::string &page = sink.text();
    for (const std::string &sentence : c.sentences) EXPECT_TRUE(testutil::contains(page, sentence)) << sentence;
    const size_t effects_at = page.find("id=\"effects-h\"");
    ASSERT_NE(effects_at, std::string::npos);
    const std::string effects = page.substr(effects_at, page.find("</table>", effects_at) - effects_at);
    EXPECT_EQ(count_of(effects, "<tr><th scope=\"row\">"), results.effects->effects.size());
    EXPECT_EQ(testutil::contains(page, "id=\"coding-h\""), !c.coding.empty());
    EXPECT_EQ(count_of(page, "<b>"), 0u);
    EXPECT_EQ(count_of(page, "Cat<a>"), 0u);
    if (!c.coding.empty()) {
      EXPECT_TRUE(testutil::contains(page, "<td>Cat&lt;a&gt;</td><td>old&lt;b&gt;</td>"));
    }
    EXPECT_TRUE(testutil::contains(page, "id=\"fig-effects-title\""));
  }
}

// Names from the design file and the command line are text on the page,
// never markup: the only script element is the page's own.
TEST(HtmlPage, EveryNameIsEscaped) {
  Design design = testutil::make_design(testutil::full_factorial(3), response(3, {8, 0, 0}, 1), 3);
  design.heading = "Heading <b>bold</b> & \"quoted\"";
  design.labels = {"<script>alert(1)</script>", "Salt&Pepper", "it's"};
  const Settings settings;
  const Results results = analyse(design, settings);
  RunDescription run;
  run.input = "in<put>.txt";
  run.log = "in<put>.out.txt";
  run.command_line = {"bayescreen", "in<put>", "--html=<x>"};
  run.report = "Report line <tag> & more\n";
  StringSink sink;
  write_html(ExportInput{design, settings, results, run}, sink);
  const std::string &page = sink.text();
  const std::vector<std::pair<std::string, std::string>> shown = {
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"Salt&Pepper", "Salt&amp;Pepper"},
      {"it's", "it&apos;s"},
      {"<b>bold</b>", "&lt;b&gt;bold&lt;/b&gt; &amp; &quot;quoted&quot;"},
      {"in<put>.txt", "in&lt;put&gt;.txt"},
      {"--html=<x>", "--html=&lt;x&gt;"},
      {"<tag>", "Report line &lt;tag&gt; &amp; more"}};
  for (const auto &[raw, escaped] : shown) {
    EXPECT_EQ(count_of(page, raw), 0u) << raw;
    EXPECT_GT(count_of(page, escaped), 0u) << escaped;
  }
  EXPECT_EQ(count_of(page, "<script"), 1u);
  EXPECT_EQ(count_of(page, "</script>"), 1u);
}

// The text report is held whole up to its bound; a longer one is cut at a
// line end, and the page says where the whole report is.
TEST(HtmlPage, TheReportIsHeldWholeOrCutAtALineEnd) {
  const Design design = testutil::make_design(testutil::full_factorial(3), response(3, {8, 0, 0}, 1), 3);
  const Settings settings;
  const Results results = analyse(design, settings);
  const std::string line(99, 'x');
  struct Case {
    size_t lines;
    bool cut;
  };
  for (const Case c : {Case{10, false}, Case{kHtmlReportBytes / 100, false}, Case{kHtmlReportBytes / 100 + 1, true},
                       Case{12000, true}}) {
    SCOPED_TRACE(c.lines);
    RunDescription run;
    run.log = "d.out.txt";
    for (size_t i = 0; i < c.lines; i++) run.report += line + "\n";
    StringSink sink;
    write_html(ExportInput{design, settings, results, run}, sink);
    const std::string &page = sink.text();
    const size_t held = count_of(page, line + "\n");
    EXPECT_EQ(held, c.cut ? kHtmlReportBytes / 100 : c.lines);
    EXPECT_EQ(testutil::contains(page, "the whole report is in d.out.txt"), c.cut);
    EXPECT_LT(page.size(), 2u << 20);
  }
}

}  // namespace
