// The table-driven option engine: option tables of FlagSpec rows, parsing of
// command-line words, configuration files and the option listing.
#pragma once
#include <cstdint>

#include "options/strlist.h"
#include "support/logfile.h"

namespace bayescreen {

// Option kinds (FlagSpec::vartype).
enum : int32_t {
  VAR_FLAG = 1,
  VAR_NFLAG = 2,
  VAR_CHAR = 3,
  VAR_MCHAR = 4,
  VAR_INT = 5,
  VAR_MINT = 6,
  VAR_INTMK = 7,
  VAR_MINTMK = 8,
  VAR_ULONG = 9,
  VAR_MULONG = 10,
  VAR_UHEX = 11,
  VAR_MUHEX = 12,
  VAR_DOUBLE = 13,
  VAR_MDOUBLE = 14,
  VAR_STRING = 15,
  VAR_MSTRING = 16,
  VAR_STRING_APPEND = 17,
  VAR_COMMENT = 18,
  VAR_CONFIG = 19,
  VAR_SUBMENU = 20,
};

// One row of an option table; a table ends with a row whose flag is 0. Rows
// are written with designated initializers, naming only what they set.
struct FlagSpec {
  char flag = 0;                      // option letter, matched without regard to case
  void *var = nullptr;                // target variable, typed by vartype; may be null
  int32_t vartype = 0;                // VAR_FLAG .. VAR_SUBMENU
  const char *descript = nullptr;     // listing text; null rows are left out of the listing
  int32_t showdefault = 0;            // list the current value even when not given
  int32_t flagval = 0;                // value stored by VAR_FLAG (0 means 1) and VAR_NFLAG
  int32_t *setvar = nullptr;          // set-indicator written whenever the letter is used
  int32_t setval = 0;                 // value written there (0 means 1)
  FlagSpec *submenu = nullptr;        // table of a VAR_SUBMENU row
  const char *subdescript = nullptr;  // heading of the submenu in the listing
  int32_t given = 0;                  // set by the engine once the letter was used
};

struct ConfigEntry {
  char *cfgname;      // file name as opened
  StringList *words;  // the file's words in order
};

struct ConfigList {
  ConfigEntry *entries;
  int32_t count;
  int32_t capacity;
};

// Engine state of the current parse.
extern char **instr;
extern int nsn;
extern int nsmax;
extern char submenuhead[25];
extern int stflags_verbose;
extern ConfigList *stflags_configlist;

// Parses argv[1..argc-1] against table; returns the string arguments (null
// after the last). Any word it cannot accept ends the run with status 1.
char **setflags(int argc, char **argv, FlagSpec *table, int maxstrings, int showlist);
void set_stflags_verbose(int on);
void parse_word(FlagSpec *table, const char *word, int where, int menuchar, const char *next,
                int *used_next);
const char *dovar(int letter, const char *pos, FlagSpec *row, FlagSpec *table, const char *next,
                  int *used_next);
void setflags_specmenu(const char *rest, FlagSpec *menu, int menuchar, const char *next,
                       int *used_next);
void check_dupflags(FlagSpec *table, int menuchar);
[[noreturn]] void stflags_notfound(int letter, int where, int menuchar);
[[noreturn]] void badval(int letter, int vartype, const char *text, const char *reason);
[[noreturn]] void badval2(int letter, int vartype, const char *text, const char *reason);
const char *Vartype_Name(int vartype);
const char *getapp(int vartype);

// Configuration files.
void read_config(FlagSpec *table, const char *name);
void show_config_open(const ConfigEntry *entries, int count);
void free_configflist(ConfigList **handle);

// The option listing.
int setflags_options(FlagSpec *table);
int prsetflags_gen_options(FlagSpec *table, Printer printer, int menuchar);
const char *getvalue(const void *target, int vartype, int showdefault, int given);

}  // namespace bayescreen
