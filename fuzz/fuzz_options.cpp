// Fuzzing harness of the option engine. The input holds the argument words,
// separated by newlines or NUL bytes (empty words are kept). The first byte
// chooses the setting:
//   bit 0      0: the program's own option table, parsed exactly as the
//                 program parses it (at most 2 string arguments, listing on);
//              1: a general table with every option kind, adjacent rows
//                 sharing a letter, rows without a target or of an unknown
//                 kind, nested submenus and configuration files;
//   bits 1-2   general table only: the most string arguments, -1 .. 2;
//   bit 3      general table only: print the option listing afterwards;
//   bit 4      parse the same words a second time (the engine then releases
//              what the first parse left).
// The only argument is the folder to work in: configuration files are looked
// up there (fuzz/run-fuzz creates a.cfg, b.cfg and c.cfg in it).
//
// Every refusal of the engine ends the process with exit(1), an orderly end;
// a crash, a sanitizer report or a hang is a finding. The harness is linked
// with -Wl,--wrap=exit, so that such an exit throws back to the loop below
// instead, and AFL++ runs many inputs in one process (persistent mode, input
// through shared memory). Outside afl-fuzz the input is read from standard
// input once and an engine exit ends the process with its status.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/driver.h"
#include "cli/setflags.h"
#include "support/showplaces.h"

using namespace bayescreen;

namespace {

int32_t g_flag = 0, g_nflag = 5, g_int = 0, g_mint = 0, g_intmk = 0, g_mintmk = 0;
uint32_t g_ulong = 0, g_mulong = 0, g_uhex = 0, g_muhex = 0;
char g_char = 0, g_mchar = 0, g_subchar = 0;
double g_double = 0, g_mdouble = 0, g_subdouble = 0;
char *g_string = nullptr, *g_mstring = nullptr, *g_append = nullptr, *g_config = nullptr;
char *g_substring = nullptr;
int32_t g_set = 0, g_twin1 = 0, g_twin2 = 0, g_deep = 0;

// Shorthand for a table row.
FlagSpec row(char flag, void *var, int32_t kind, const char *descript, int32_t showdefault = 0,
             int32_t flagval = 0, int32_t *setvar = nullptr, int32_t setval = 0,
             FlagSpec *submenu = nullptr, const char *subdescript = nullptr) {
  return FlagSpec{flag, var, kind, descript, showdefault, flagval, setvar, setval, submenu,
                  subdescript, 0};
}

FlagSpec g_deepmenu[] = {
    row('Z', &g_deep, VAR_FLAG, "Flag two levels down", 1, 3),
    row('Q', &g_subdouble, VAR_MDOUBLE, "Optional real two levels down"),
    row(0, nullptr, 0, nullptr),
};

FlagSpec g_submenu[] = {
    row('C', &g_subchar, VAR_CHAR, "Submenu character", 1),
    row('S', &g_substring, VAR_STRING, "Submenu string"),
    row('D', nullptr, VAR_SUBMENU, "Deeper submenu", 0, 0, nullptr, 0, g_deepmenu,
        "Options two levels down:"),
    row('F', &g_flag, VAR_FLAG, "Submenu flag", 0, 7),
    row(0, nullptr, 0, nullptr),
};

FlagSpec g_general[] = {
    row('F', &g_flag, VAR_FLAG, "Flag", 1, 0, &g_set, 4),
    row('f', &g_twin1, VAR_FLAG, "Adjacent row with the same letter", 0, 9),
    row('O', &g_nflag, VAR_NFLAG, "Negative flag"),
    row('C', &g_char, VAR_CHAR, "Character", 1),
    row('H', &g_mchar, VAR_MCHAR, "Optional character"),
    row('I', &g_int, VAR_INT, "Integer", 1),
    row('J', &g_mint, VAR_MINT, "Optional integer"),
    row('K', &g_intmk, VAR_INTMK, "Integer with K or M", 1),
    row('L', &g_mintmk, VAR_MINTMK, "Optional integer with K or M"),
    row('U', &g_ulong, VAR_ULONG, "Unsigned", 1),
    row('V', &g_mulong, VAR_MULONG, "Optional unsigned"),
    row('X', &g_uhex, VAR_UHEX, "Hexadecimal", 1),
    row('Y', &g_muhex, VAR_MUHEX, "Optional hexadecimal"),
    row('D', &g_double, VAR_DOUBLE, "Real", 1),
    row('E', &g_mdouble, VAR_MDOUBLE, "Optional real"),
    row('S', &g_string, VAR_STRING, "String", 1),
    row('T', &g_mstring, VAR_MSTRING, "Optional string"),
    row('A', &g_append, VAR_STRING_APPEND, "Appended string", 1),
    row('R', nullptr, VAR_COMMENT, "Comment"),
    row('G', &g_config, VAR_CONFIG, "Configuration file", 1),
    row('M', nullptr, VAR_SUBMENU, "Submenu", 0, 0, nullptr, 0, g_submenu, "Submenu options:"),
    row('N', nullptr, VAR_INT, "Row without a target", 0, 0, &g_twin2),
    row('W', &g_twin2, 42, "Row of an unknown kind"),
    row('B', &g_twin2, VAR_FLAG, nullptr),
    row(0, nullptr, 0, nullptr),
};

std::vector<std::string> split_words(const std::string &input) {
  std::vector<std::string> words;
  std::string word;
  for (char c : input) {
    if (c == '\n' || c == '\0') {
      words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

// Puts every variable that a parse can change back to its start value.
void reset_state() {
  for (char **p : {&g_string, &g_mstring, &g_append, &g_config, &g_substring}) {
    free(*p);
    *p = nullptr;
  }
  g_flag = 0, g_nflag = 5, g_int = 0, g_mint = 0, g_intmk = 0, g_mintmk = 0;
  g_ulong = 0, g_mulong = 0, g_uhex = 0, g_muhex = 0;
  g_char = 0, g_mchar = 0, g_subchar = 0;
  g_double = 0, g_mdouble = 0, g_subdouble = 0;
  g_set = 0, g_twin1 = 0, g_twin2 = 0, g_deep = 0;
  for (FlagSpec *table : {g_general, g_submenu, g_deepmenu, ss})
    for (FlagSpec *row = table; row->flag != 0; row++) row->given = 0;
  settings = Settings();
  npg = 0;
}

void run_one(const std::string &input) {
  if (input.empty()) return;
  const unsigned setting = static_cast<unsigned char>(input[0]);
  std::vector<std::string> words = split_words(input.substr(1));
  std::vector<char *> args;
  static char program[] = "bayescreen";
  args.push_back(program);
  for (auto &w : words) args.push_back(w.data());
  args.push_back(nullptr);
  const int nargs = static_cast<int>(args.size()) - 1;

  const bool general = setting & 1;
  FlagSpec *table = general ? g_general : ss;
  const int maxstrings = general ? static_cast<int>((setting >> 1) & 3) - 1 : 2;
  const int showlist = general ? static_cast<int>((setting >> 3) & 1) : 1;
  const int passes = (setting & 16) ? 2 : 1;
  for (int pass = 0; pass < passes; pass++) {
    char **strings = setflags(nargs, args.data(), table, maxstrings, showlist);
    for (int i = 0; strings[i] != nullptr; i++) printf("string %d: %s\n", i, strings[i]);
  }
  printf("flag=%d nflag=%d char=%d mchar=%d int=%d mint=%d intmk=%d mintmk=%d\n", g_flag,
         g_nflag, g_char, g_mchar, g_int, g_mint, g_intmk, g_mintmk);
  printf("ulong=%u mulong=%u uhex=%X muhex=%X double=%g mdouble=%g\n", g_ulong, g_mulong,
         g_uhex, g_muhex, g_double, g_mdouble);
  printf("string=%s mstring=%s append=%s config=%s substring=%s deep=%d\n",
         g_string ? g_string : "-", g_mstring ? g_mstring : "-", g_append ? g_append : "-",
         g_config ? g_config : "-", g_substring ? g_substring : "-", g_deep);
  printf("pi=%g gam=%g alpha=%g nv=%d\n", settings.pi, settings.gamma, settings.alpha, settings.nvars);
}

struct EngineExit {
  int status;
};

}  // namespace

// Every exit() of the engine comes here (-Wl,--wrap=exit).
extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status) { throw EngineExit{status}; }

#ifdef __AFL_FUZZ_TESTCASE_LEN
__AFL_FUZZ_INIT();
#endif

int main(int argc, char **argv) {
  if (argc > 1 && chdir(argv[1]) != 0) {
    perror(argv[1]);
    return 2;
  }
#ifdef __AFL_FUZZ_TESTCASE_LEN
  __AFL_INIT();
  const unsigned char *buf = __AFL_FUZZ_TESTCASE_BUF;
  while (__AFL_LOOP(10000)) {
    const int len = __AFL_FUZZ_TESTCASE_LEN;
    reset_state();
    try {
      run_one(std::string(reinterpret_cast<const char *>(buf), static_cast<size_t>(len)));
    } catch (const EngineExit &) {
    }
    fflush(stdout);
  }
  return 0;
#else
  std::string input;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof chunk, stdin)) > 0;) input.append(chunk, n);
  reset_state();
  try {
    run_one(input);
  } catch (const EngineExit &e) {
    fflush(stdout);
    __real_exit(e.status);
  }
  return 0;
#endif
}
