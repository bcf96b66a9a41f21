// Fuzzing harness of whole runs of the program, one input per process (the
// AFL++ fork server), in the folder given as the second argument:
//   fuzz_run args DIR FILE     FILE holds argument words, separated by
//                              newlines or NUL bytes; the run is
//                              `bayescreen design.txt WORDS...` on the design
//                              file DIR/design.txt (the extension-option
//                              parser, the checks that need the design and
//                              whatever the words ask for);
//   fuzz_run writers DIR FILE  the first line of FILE holds option words
//                              separated by blanks, the rest is a design file,
//                              written to DIR/design.txt; the run is
//                              `bayescreen design.txt WORDS... --json
//                              --csv-files --svg-file` (the result writers).
//   fuzz_run table DIR FILE    the first line of FILE holds option words
//                              separated by blanks, the rest is a table,
//                              written to DIR/design.csv; the run is
//                              `bayescreen design.csv WORDS...` (the table
//                              reader: quoting, byte-order marks, line ends,
//                              the coding of levels and its refusals).
// A word that holds a '/' ends the harness at once with status 0: the
// fuzzer may name files only inside DIR, never anywhere else. With
// --follow-up among the words, --max-seconds=1 is added last (the last of
// repeated words counts), so that a legitimately long exchange search (23
// runs from 50 starts takes seconds under the sanitizers) is not taken for
// a hang. The program ends every refused input with exit(1); a crash, a
// sanitizer report or a hang is a finding.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/driver.h"

namespace {

// At most this many words, each of at most this many bytes: enough for
// every option at once, and no time spent on huge argument lists.
constexpr size_t kMaxWords = 40;
constexpr size_t kMaxWordBytes = 200;

// The words of text between the separator bytes (empty words kept).
std::vector<std::string> split(const std::string &text, const std::string &separators) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (separators.find(c) != std::string::npos) {
      words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

bool acceptable(const std::vector<std::string> &words) {
  if (words.size() > kMaxWords) return false;
  for (const std::string &w : words)
    if (w.size() > kMaxWordBytes || w.find('/') != std::string::npos) return false;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: fuzz_run args|writers|table DIR FILE\n");
    return 2;
  }
  const std::string mode = argv[1];
  if (chdir(argv[2]) != 0) {
    perror(argv[2]);
    return 2;
  }
  std::ifstream in(argv[3], std::ios::binary);
  const std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  std::vector<std::string> words;
  std::string design_file = "design.txt";
  if (mode == "args") {
    words = split(input, std::string("\n\0", 2));
  } else if (mode == "writers" || mode == "table") {
    const size_t eol = input.find('\n');
    const std::string line = input.substr(0, eol);
    for (std::string &w : split(line, " "))
      if (!w.empty()) words.push_back(w);
    design_file = mode == "table" ? "design.csv" : "design.txt";
    std::ofstream design(design_file, std::ios::binary | std::ios::trunc);
    design << (eol == std::string::npos ? std::string() : input.substr(eol + 1));
    if (!design) return 2;
    if (mode == "writers")
      for (const char *w : {"--json", "--csv-files", "--svg-file"}) words.push_back(w);
  } else {
    fprintf(stderr, "unknown mode %s\n", argv[1]);
    return 2;
  }
  if (!acceptable(words)) return 0;
  for (const std::string &w : words)
    if (w.rfind("--follow-up=", 0) == 0) {
      words.push_back("--max-seconds=1");
      break;
    }

  std::vector<std::string> all = {"bayescreen", design_file};
  all.insert(all.end(), words.begin(), words.end());
  std::vector<char *> args;
  for (std::string &w : all) args.push_back(w.data());
  args.push_back(nullptr);
  return bayescreen::bayescreen_main(static_cast<int>(all.size()), args.data());
}
