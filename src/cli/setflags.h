// The table-driven option engine: option tables of FlagSpec rows, parsing of
// command-line words, configuration files and the option listing.
#pragma once
#include <cstdint>

#include "support/strlist.h"
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

// One configuration file read during the current parse.
struct ConfigEntry {
  char *cfgname;      // file name as opened
  StringList *words;  // the file's words in order
};

// The configuration files read during the current parse, in reading order.
struct ConfigList {
  ConfigEntry *entries;  // the files; capacity entries (and 3 spares) allocated
  int32_t count;         // entries in use
  int32_t capacity;      // entries allocated, grown 20 at a time
};

// Engine state of the current parse.
extern char **instr;                    // the string arguments, null after the last
extern int nsn;                         // string arguments stored in instr
extern int nsmax;                       // the most string arguments the parse accepts
extern char submenuhead[25];            // letters of the submenus check_dupflags is inside
extern int stflags_verbose;             // trace switch ("QQQ:" lines), off in every run
extern ConfigList *stflags_configlist;  // files read so far, or null

// Parses argv[1..argc-1] against table; returns the string arguments (null
// after the last). Any word it cannot accept ends the run with status 1.
// With showlist the option listing follows.
char **setflags(int argc, char **argv, FlagSpec *table, int maxstrings, int showlist);
// Turns the trace lines of the engine on (1) or off (0).
void set_stflags_verbose(int on);
// One argument word: a string argument, or "-" and option letters, each
// applied through dovar. where (0 command line, 1 submenu, 2 configuration
// file) and menuchar only shape the message for an unknown letter. next is
// the following word, which a string option may take as its value; then
// *used_next is set to 1.
void parse_word(FlagSpec *table, const char *word, int where, int menuchar, const char *next,
                int *used_next);
// Applies the row of option letter (found at pos in its word) and reads its
// value from the text after it. Returns the position of the last character
// consumed, or null when the rest of the word was consumed.
const char *dovar(int letter, const char *pos, FlagSpec *row, FlagSpec *table, const char *next,
                  int *used_next);
// Parses rest (the letters after a submenu letter) against the submenu table.
void setflags_specmenu(const char *rest, FlagSpec *menu, int menuchar, const char *next,
                       int *used_next);
// Ends the run when two rows of table, or of any submenu under it, share a
// letter without being neighbours, or when submenus nest more than 20 deep.
void check_dupflags(FlagSpec *table, int menuchar);
// "UNRECOGNIZED COMMAND-LINE FLAG" for letter; ends the run with status 1.
[[noreturn]] void stflags_notfound(int letter, int where, int menuchar);
// "IMPROPER -<letter> FORMAT" with the reason on the same line / on a line
// of its own; both end the run with status 1.
[[noreturn]] void badval(int letter, int vartype, const char *text, const char *reason);
[[noreturn]] void badval2(int letter, int vartype, const char *text, const char *reason);
// The name of an option kind ("VAR_FLAG" ...), "?????" for an unknown one.
const char *Vartype_Name(int vartype);
// The value placeholder the listing shows after the letter ("<num>" ...).
const char *getapp(int vartype);

// Configuration files.
// Reads the words of file name (".cfg" added unless it has that extension)
// and parses them as command-line words; a file already read in this parse
// is announced and skipped.
void read_config(FlagSpec *table, const char *name);
// The announcement of a file read twice, with the files read so far.
void show_config_open(const ConfigEntry *entries, int count);
// Releases the list of files read and sets *handle to null.
void free_configflist(ConfigList **handle);

// The option listing.
// Lists table with printf; returns the number of rows listed.
int setflags_options(FlagSpec *table);
// Lists every described row of table (letters prefixed with menuchar in a
// submenu), then the submenus; returns the rows listed at this level.
int prsetflags_gen_options(FlagSpec *table, Printer printer, int menuchar);
// The value part of a listing line, " (default: ...)" or " (value: ...)",
// empty when the row is neither given nor shown; valid until the next call.
const char *getvalue(const void *target, int vartype, int showdefault, int given);

}  // namespace bayescreen
