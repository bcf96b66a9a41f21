// Long options: which words are taken out of the argument list, how their
// values are read, and how a bad value ends the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/longopts.h"
#include "testutil.h"

using namespace bayescreen;

namespace {

struct Targets {
  int32_t flag = 0, count = 7;
  double ratio = 0;
  const char *file = nullptr, *maybe = "unset";
};

// A table of one row of each kind writing into t.
std::vector<LongOption> table_for(Targets &t) {
  return {
      {.name = "flag", .kind = LongKind::Flag, .target = &t.flag, .help = "a flag"},
      {.name = "count", .kind = LongKind::Int, .target = &t.count, .value_name = "N",
       .help = "a count", .min = 1, .max = 20},
      {.name = "ratio", .kind = LongKind::Double, .target = &t.ratio, .value_name = "G",
       .help = "a ratio"},
      {.name = "file", .kind = LongKind::Text, .target = &t.file, .value_name = "FILE",
       .help = "a file"},
      {.name = "maybe", .kind = LongKind::OptionalText, .target = &t.maybe, .value_name = "FILE",
       .help = "an optional file"},
      {},
  };
}

// Runs take_long_options on the words; returns the words left (program name
// first) and fills t. The words live on, as a program's arguments do, since
// the targets point into them.
std::vector<std::string> take(std::vector<std::string> given, Targets &t,
                              std::vector<LongOption> &table) {
  static std::vector<std::vector<std::string>> arguments;
  arguments.push_back(given);
  std::vector<std::string> &words = arguments.back();
  words.insert(words.begin(), "prog");
  std::vector<char *> argv;
  for (auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(words.size());
  table = table_for(t);
  take_long_options(&argc, argv.data(), table.data());
  std::vector<std::string> left;
  for (int i = 0; i < argc; i++) left.push_back(argv[static_cast<size_t>(i)]);
  return left;
}

}  // namespace

TEST(LongOptions, KnownWordsAreTakenAndEveryOtherWordStaysInOrder) {
  Targets t;
  std::vector<LongOption> table;
  auto left = take({"design", "--flag", "-P0.1", "--L", "--csv", "--count=12", "--ratio=1.5e-1",
                    "--file=a b.txt", "--flagx", "--Flag", "out"},
                   t, table);
  EXPECT_EQ(left, (std::vector<std::string>{"prog", "design", "-P0.1", "--L", "--csv", "--flagx",
                                            "--Flag", "out"}));
  EXPECT_EQ(t.flag, 1);
  EXPECT_EQ(t.count, 12);
  EXPECT_EQ(t.ratio, 0.15);
  EXPECT_STREQ(t.file, "a b.txt");
  EXPECT_STREQ(t.maybe, "unset");  // not given: untouched
  EXPECT_STREQ(given_long_options(table.data()), " --flag --count=12 --ratio=1.5e-1 --file=a b.txt");
  // An optional value may be left out; repeated words keep the last value.
  take({"--maybe", "--count=3", "--count=4"}, t, table);
  EXPECT_EQ(t.maybe, nullptr);
  EXPECT_EQ(t.count, 4);
  take({"--maybe=x.json"}, t, table);
  EXPECT_STREQ(t.maybe, "x.json");
  EXPECT_STREQ(given_long_options(table.data()), " --maybe=x.json");
  // A row kept out of the report is read all the same, but not named.
  take({"--maybe=y.json", "--flag"}, t, table);
  table[4].in_report = 0;
  EXPECT_STREQ(t.maybe, "y.json");
  EXPECT_STREQ(given_long_options(table.data()), " --flag");
}

TEST(LongOptions, BadValuesEndTheRunNamingTheWord) {
  struct Bad {
    const char *word, *why;
  };
  const Bad bad[] = {
      {"--flag=1", "this option takes no value"},
      {"--count", "a whole number must follow `='"},
      {"--count=", "a whole number must follow `='"},
      {"--count=3x", "not a whole number"},
      {"--count=2.5", "not a whole number"},
      {"--count=0", "must lie between 1 and 20"},
      {"--count=21", "must lie between 1 and 20"},
      {"--count=99999999999999999999", "must lie between 1 and 20"},
      {"--ratio=abc", "not a number"},
      {"--ratio=1e999", "the number must be finite"},
      {"--ratio=nan", "the number must be finite"},
      {"--ratio", "a number must follow `='"},
      {"--file", "a value must follow `='"},
      {"--file=", "a value must follow `='"},
      {"--maybe=", "a value must follow `='"},
  };
  for (const Bad &b : bad) {
    SCOPED_TRACE(b.word);
    auto r = testutil::run_child([&] {
      Targets t;
      std::vector<LongOption> table;
      take({"design", b.word}, t, table);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, std::string("\nILLEGAL VALUE in option `") + b.word + "': " + b.why + " !\n");
  }
}

TEST(LongOptions, ListingGivesEachOptionItsOwnLine) {
  Targets t;
  auto table = table_for(t);
  testutil::printed.clear();
  show_long_options(table.data(), testutil::capture);
  EXPECT_EQ(testutil::printed,
            "  --flag                   a flag\n"
            "  --count=N                a count\n"
            "  --ratio=G                a ratio\n"
            "  --file=FILE              a file\n"
            "  --maybe[=FILE]           an optional file\n");
  EXPECT_EQ(find_long_option(table.data(), "ratio"), &table[2]);
  EXPECT_EQ(find_long_option(table.data(), "rat"), nullptr);
}
