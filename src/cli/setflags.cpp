#include "cli/setflags.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/toklist.h"
#include "support/commnum.h"
#include "support/helpers.h"
#include "support/lineread.h"
#include "support/numtext.h"
#include "support/showplaces.h"
#include "support/textbuf.h"

namespace bayescreen {

char **instr = nullptr;
int nsn = 0;
int nsmax = 0;
char submenuhead[25];
int stflags_verbose = 0;
ConfigList *stflags_configlist = nullptr;

void set_stflags_verbose(int on) { stflags_verbose = on; }

// A trace line of the engine, printed only while the trace is on.
__attribute__((format(printf, 1, 2))) static void trace(const char *fmt, ...) {
  if (!stflags_verbose) return;
  va_list ap;
  va_start(ap, fmt);
  vprintf(fmt, ap);
  va_end(ap);
}

// ---- Kind names and placeholders ---------------------------------------------

struct KindInfo {
  const char *name;
  const char *placeholder;
};

static const KindInfo kKinds[] = {
    {"VAR_FLAG", ""},
    {"VAR_NFLAG", ""},
    {"VAR_CHAR", "<char>"},
    {"VAR_MCHAR", "<char>"},
    {"VAR_INT", "<num>"},
    {"VAR_MINT", "<num>"},
    {"VAR_INTMK", "<num>"},
    {"VAR_MINTMK", "<num>"},
    {"VAR_ULONG", "<ulnum>"},
    {"VAR_MULONG", "<ulnum>"},
    {"VAR_UHEX", "<hexnum>"},
    {"VAR_MUHEX", "<hexnum>"},
    {"VAR_DOUBLE", "<dnum>"},
    {"VAR_MDOUBLE", "<dnum>"},
    {"VAR_STRING", "=<str>"},
    {"VAR_MSTRING", "=<str>"},
    {"VAR_STRING_APPEND", "=<str>"},
    {"VAR_COMMENT", ""},
    {"VAR_CONFIG", "=<Cfgfilename>"},
    {"VAR_SUBMENU", "<options>"},
};

static bool known_kind(int vartype) { return vartype >= VAR_FLAG && vartype <= VAR_SUBMENU; }

const char *Vartype_Name(int vartype) {
  return known_kind(vartype) ? kKinds[vartype - 1].name : "?????";
}

const char *getapp(int vartype) {
  return known_kind(vartype) ? kKinds[vartype - 1].placeholder : "";
}

// ---- Failure messages -----------------------------------------------------------

void stflags_notfound(int letter, int where, int menuchar) {
  char middle[32] = "";
  if (where == 1)
    snprintf(middle, sizeof middle, " IN SUBMENU `%c' ", menuchar);
  else if (where == 2)
    snprintf(middle, sizeof middle, " IN A CONFIG FILE");
  printf("\n*** UNRECOGNIZED COMMAND-LINE FLAG `%c'%s!!!\n\n\n", letter, middle);
  exit(1);
}

void badval(int letter, int vartype, const char *text, const char *reason) {
  printf("\nIMPROPER -%c%s FORMAT (Type=%s, read %s)!!  (%s.)\n", letter, getapp(vartype),
         Vartype_Name(vartype), text, reason);
  exit(1);
}

void badval2(int letter, int vartype, const char *text, const char *reason) {
  printf("\nIMPROPER -%c%s FORMAT (Type=%s, read %s)!!\n  (%s)\n", letter, getapp(vartype),
         Vartype_Name(vartype), text, reason);
  exit(1);
}

// ---- Value readers ----------------------------------------------------------------

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static bool is_required(int vartype) {
  switch (vartype) {
    case VAR_INT: case VAR_INTMK: case VAR_ULONG: case VAR_UHEX: case VAR_DOUBLE:
      return true;
    default:
      return false;
  }
}

// Decimal integer of the six integer kinds, commas skipped, optional K/M
// multiplier for the MK kinds. Returns the position of the last character
// consumed.
static const char *read_integer(int letter, const char *pos, FlagSpec *row) {
  const int kind = row->vartype;
  const char *s = pos + 1;
  while (*s == '=') s++;
  if (!is_digit(*s)) {
    if (is_required(kind)) badval(letter, kind, pos, "Expecting a digit");
    return s - 1;
  }
  uint64_t value = static_cast<uint64_t>(*s - '0');
  const char *last = s++;
  for (; is_digit(*s) || *s == ','; last = s++) {
    if (*s == ',') continue;
    value = value * 10 + static_cast<uint64_t>(*s - '0');
    if (value > UINT32_MAX) badval(letter, kind, pos, "Unsigned long overflow");
  }
  if (kind == VAR_INTMK || kind == VAR_MINTMK) {
    int m = toupper(static_cast<unsigned char>(*s));
    if (m == 'K' || m == 'M') {
      value *= (m == 'K') ? 1000u : 1000000u;
      if (value > UINT32_MAX) badval(letter, kind, pos, "Int too large after using MK");
      last = s;
    }
  }
  if (kind == VAR_ULONG || kind == VAR_MULONG) {
    *static_cast<uint32_t *>(row->var) = static_cast<uint32_t>(value);
  } else {
    if (value > 2147483647u) badval(letter, kind, pos, "Int too large");
    *static_cast<int32_t *>(row->var) = static_cast<int32_t>(value);
  }
  return last;
}

static const char *read_hex(int letter, const char *pos, FlagSpec *row) {
  const int kind = row->vartype;
  const char *s = pos + 1;
  while (*s == '=') s++;
  if (hex_value(*s) < 0) {
    if (is_required(kind)) badval(letter, kind, pos, "Expecting a hex digit");
    return s - 1;
  }
  uint64_t value = static_cast<uint64_t>(hex_value(*s));
  const char *last = s++;
  for (; hex_value(*s) >= 0 || *s == ','; last = s++) {
    if (*s == ',') continue;
    value = value * 16 + static_cast<uint64_t>(hex_value(*s));
    if (value > UINT32_MAX) badval(letter, kind, pos, "Unsigned long hex overflow");
  }
  *static_cast<uint32_t *>(row->var) = static_cast<uint32_t>(value);
  return last;
}

// Real number: converted as scanf's "%lf" would (scan_double), then the same
// text is checked and consumed: [-]digits[.digits][(e|E)[-]digits], then any
// dots that follow.
static const char *read_double(int letter, const char *pos, FlagSpec *row) {
  const int kind = row->vartype;
  const char *s = pos + 1;
  while (*s == '=') s++;
  if (!is_digit(*s) && *s != '-') {
    if (kind == VAR_DOUBLE) badval(letter, kind, pos, "Bad double format");
    return pos;
  }
  double value = 0;
  if (!scan_double(s, &value)) {
    printf("\nFAILURE in sscanf at `%s' !\n", s);
    badval(letter, kind, pos, "Bad double format");
  }
  const char *t = s;
  if (*t == '-') t++;
  int ndigits = 0, ndots = 0;
  for (; is_digit(*t) || (*t == '.' && ndots == 0); t++) {
    if (*t == '.')
      ndots++;
    else
      ndigits++;
  }
  if (ndigits == 0) badval(letter, kind, pos, "Bad double format");
  if (*t == 'e' || *t == 'E') {
    t++;
    if (*t == '-') t++;
    int nexp = 0;
    for (; is_digit(*t); t++) nexp++;
    if (nexp == 0) badval(letter, kind, pos, "Bad double format");
  }
  while (*t == '.') t++;
  *static_cast<double *>(row->var) = value;
  return t - 1;
}

// The value of a string or configuration option: "=text", or the next word
// when the letter ends its word. Returns null when there is no value.
static const char *string_value(int letter, const char *pos, FlagSpec *row, const char *next,
                                int *used_next) {
  if (pos[1] == '\0' && next != nullptr) {
    if (next[0] == '-')
      badval2(letter, row->vartype, pos, "String with next word beginning with -");
    if (used_next != nullptr) *used_next = 1;
    return next;
  }
  if (pos[1] == '=') return pos + 1;
  return nullptr;
}

static const char *skip_equals(const char *s) {
  while (*s == '=') s++;
  return s;
}

const char *dovar(int letter, const char *pos, FlagSpec *row, FlagSpec *table, const char *next,
                  int *used_next) {
  const int kind = row->vartype;
  trace("QQQ: Do_var: %s  Vartype=%s\n", pos, Vartype_Name(kind));
  if (row->setvar != nullptr) *row->setvar = row->setval != 0 ? row->setval : 1;
  if (row->var == nullptr && kind != VAR_SUBMENU) return pos;

  switch (kind) {
    case VAR_FLAG:
      *static_cast<int32_t *>(row->var) = row->flagval != 0 ? row->flagval : 1;
      return pos;
    case VAR_NFLAG:
      *static_cast<int32_t *>(row->var) = row->flagval;
      return pos;
    case VAR_COMMENT:
      return pos;
    case VAR_CHAR:
    case VAR_MCHAR:
      if (pos[1] == '\0') {
        if (kind == VAR_CHAR) badval(letter, kind, pos, "Expecting a character");
        return pos;
      }
      *static_cast<char *>(row->var) = pos[1];
      return pos + 1;
    case VAR_INT: case VAR_MINT: case VAR_INTMK: case VAR_MINTMK: case VAR_ULONG: case VAR_MULONG:
      return read_integer(letter, pos, row);
    case VAR_UHEX:
    case VAR_MUHEX:
      return read_hex(letter, pos, row);
    case VAR_DOUBLE:
    case VAR_MDOUBLE:
      return read_double(letter, pos, row);
    case VAR_STRING:
    case VAR_MSTRING:
    case VAR_STRING_APPEND: {
      const char *value = string_value(letter, pos, row, next, used_next);
      if (value == nullptr) {
        if (kind == VAR_MSTRING) {
          trace("QQQ: VAR_MSTRING with no string\n");
          return pos;
        }
        badval(letter, kind, pos, "Missing =");
      }
      if (value != next) value = skip_equals(value);
      char **target = static_cast<char **>(row->var);
      *target = (kind == VAR_STRING_APPEND) ? strxdup_app(*target, value) : strxdup(value);
      trace("QQQ: New String: `%s' at %pH\n", *target, static_cast<void *>(*target));
      return nullptr;
    }
    case VAR_CONFIG: {
      const char *name = string_value(letter, pos, row, next, used_next);
      if (name == nullptr) badval(letter, kind, pos, "Missing =");
      name = skip_equals(name);
      char **target = static_cast<char **>(row->var);
      *target = strxdup(name);
      read_config(table, *target);
      trace("QQQ: VAR_CONFIG: Done with config file, returning NULL in dovar()\n");
      return nullptr;
    }
    case VAR_SUBMENU:
      trace("SETFLAGS VAR_SUBMENU: Submenu=%pH  Descript=`%s'\n",
            static_cast<void *>(row->submenu), shownull(row->subdescript));
      if (pos[1] == '\0')
        badval2(letter, kind, pos, "Expecting at least one submenu option");
      if (row->submenu != nullptr)
        setflags_specmenu(pos + 1, row->submenu, letter, next, used_next);
      return nullptr;
    default:
      printf("*** INTERNAL ERROR (SETFLAGS)\n   Unknown var type `%d' (flag `%c') !\n", kind,
             letter);
      exit(1);
  }
}

// ---- Words ------------------------------------------------------------------------

static void store_string_argument(const char *word) {
  if (nsn < nsmax) {
    instr[nsn++] = strxdup(word);
    trace("QQQ: Parse_word: Arg #%d: INSTRING STORED `%s'\n", nsn, word);
    return;
  }
  if (nsmax > 0) {
    printf("\nTOO MANY STRING ARGUMENTS ON THE COMMAND-LINE !!\n");
    instr[nsn++] = strxdup(word);
    qtoklist(nullptr, instr, nsn);
  } else {
    printf("\nUNALLOWED COMMAND-LINE STRING ARGUMENT !!\n");
    printf("  %s\n", word);
  }
  exit(1);
}

void parse_word(FlagSpec *table, const char *word, int where, int menuchar, const char *next,
                int *used_next) {
  trace("QQQ: ParseWord=%s\n", word);
  if (used_next != nullptr) *used_next = 0;
  if (word[0] != '-') {
    store_string_argument(word);
    return;
  }
  const char *p = word;
  int first = 1;
  for (;;) {
    p++;
    if (*p == '\0') return;
    if (*p == '-') continue;
    const int letter = toupper(static_cast<unsigned char>(*p));
    const char *r = p;
    bool found = false;
    for (FlagSpec *row = table; row != nullptr && row->flag != 0; row++) {
      if (toupper(static_cast<unsigned char>(row->flag)) != letter) continue;
      found = true;
      row->given = 1;
      if (row->vartype == VAR_SUBMENU && !first) {
        printf("\nIMPROPER -%c<options> FORMAT (Type=%s, read %s)!!\n"
               "  SUBMENU OPTIONS must be first in an argument string\n",
               letter, "VAR_SUBMENU", word);
        exit(1);
      }
      const char *q = dovar(letter, r, row, table, next, used_next);
      if (q == nullptr)
        trace("QQQ: Parseword now: %s\n", "NULL");
      else if (q[1] == '\0')
        trace("QQQ: END of parseword\n");
      else
        trace("QQQ: Parseword now: %s\n", q + 1);
      if (p != nullptr) {
        if (q == nullptr)
          p = nullptr;
        else if (q > p)
          p = q;
      }
    }
    first = 0;
    if (!found) stflags_notfound(letter, where, menuchar);
    if (p == nullptr) return;
  }
}

void setflags_specmenu(const char *rest, FlagSpec *menu, int menuchar, const char *next,
                       int *used_next) {
  PlaceGuard place("Setflags_Specmenu");
  trace("QQQ: Setflags_Specmenu: (-%c)`%s' Menu=%pH\n", menuchar, shownull(rest),
        static_cast<void *>(menu));
  if (menu != nullptr && rest != nullptr) {
    char *word = strxdup_app("-", rest);
    parse_word(menu, word, 1, menuchar, next, used_next);
    free(word);
  }
}

static int count_digits(int n) {
  int d = 1;
  while (n >= 10) {
    n /= 10;
    d++;
  }
  return d;
}

void check_dupflags(FlagSpec *table, int menuchar) {
  if (table == nullptr) return;
  PlaceGuard place("Check_Dupflags");
  size_t depth = strlen(submenuhead);
  if (depth > 20) {
    printf("\n*** RECURSION ERROR IN Check_Dupflags!\n  More than 20 deep:  Prefix: %s\n",
           submenuhead);
    exit(1);
  }
  if (menuchar != 0) {
    submenuhead[depth] = static_cast<char>(toupper(menuchar));
    submenuhead[depth + 1] = '\0';
  }
  int nrows = 0;
  while (table[nrows].flag != 0) nrows++;
  for (int j = 0; j < nrows; j++) {
    for (int k = j + 2; k < nrows; k++) {
      if (toupper(static_cast<unsigned char>(table[j].flag)) !=
          toupper(static_cast<unsigned char>(table[k].flag)))
        continue;
      size_t len = strlen(submenuhead);
      submenuhead[len] = table[j].flag;
      submenuhead[len + 1] = '\0';
      int w = count_digits(k + 1);
      printf("\n*** ERROR !!! Two non-adjacent command-line options%s\n"
             "  with the same option tag !\n  -%s. (Opt #%*d) %s\n  -%s. (Opt #%*d) %s\n",
             menuchar != 0 ? " in a submenu" : "", submenuhead, w, j + 1,
             shownull(table[j].descript), submenuhead, w, k + 1, shownull(table[k].descript));
      exit(1);
    }
  }
  for (int j = 0; j < nrows; j++)
    if (table[j].submenu != nullptr) check_dupflags(table[j].submenu, table[j].flag);
  if (menuchar != 0) submenuhead[strlen(submenuhead) - 1] = '\0';
}

char **setflags(int argc, char **argv, FlagSpec *table, int maxstrings, int showlist) {
  PlaceGuard place("SetFlags");
  trace("QQQ: Setflags: Main Entry\n");
  if (instr != nullptr) kill_nstrs(&instr, nsn);
  free_configflist(&stflags_configlist);

  nsmax = maxstrings;
  nsn = 0;
  instr = static_cast<char **>(cxalloc(static_cast<size_t>(nsmax > 0 ? nsmax : 0) + 3,
                                       sizeof(char *)));
  if (table != nullptr)
    for (FlagSpec *row = table; row->flag != 0; row++) row->given = 0;
  memset(submenuhead, 0, sizeof submenuhead);
  check_dupflags(table, 0);

  for (int i = 1; i < argc;) {
    int used_next = 0;
    const char *next = (i < argc - 1) ? argv[i + 1] : nullptr;
    parse_word(table, argv[i], 0, 0, next, &used_next);
    i += used_next ? 2 : 1;
  }

  trace("QQQ: SETFLAGS: END OF main setflags() loop.\n");
  if (showlist && table != nullptr) {
    printf("with command-line options:\n");
    setflags_options(table);
  }
  return instr;
}

// ---- Configuration files ---------------------------------------------------------

void show_config_open(const ConfigEntry *entries, int count) {
  printf("\nPREVIOUS CALL OF CONFIGURATION FILE !\n");
  printf("CANNOT CALL THE SAME CONFIGURATION FILE MORE THAN ONCE.\n");
  auto names = static_cast<const char **>(cxalloc(static_cast<size_t>(count) + 3, sizeof(char *)));
  for (int i = 0; i < count; i++) names[i] = entries[i].cfgname;
  qtoklist("PREVIOUS CONFIGURATION FILES:  ", names, count);
  free(names);
  printf("IGNORING THIS CALL.\n");
}

void free_configflist(ConfigList **handle) {
  PlaceGuard place("Free_Configlist");
  if (handle != nullptr && *handle != nullptr) {
    ConfigList *list = *handle;
    for (int i = list->count - 1; i >= 0; i--) {
      free(list->entries[i].cfgname);
      free_strlist(&list->entries[i].words);
    }
    free(list->entries);
    free(list);
    *handle = nullptr;
  }
}

void read_config(FlagSpec *table, const char *name) {
  PlaceGuard place("Read_Config");
  char *cfgname = isextent(name, "cfg") ? strxdup(name) : add_extent(name, ".cfg");
  printf("Reading the configuration file `%s'\n", cfgname);

  if (stflags_configlist == nullptr) {
    stflags_configlist = static_cast<ConfigList *>(mxalloc(sizeof(ConfigList)));
  } else {
    ConfigList *list = stflags_configlist;
    for (int i = 0; i < list->count; i++) {
      if (strixcmp(cfgname, list->entries[i].cfgname) == 0) {
        show_config_open(list->entries, list->count);
        free(cfgname);
        return;
      }
    }
  }

  FILE *file = fxopen(cfgname, "rb");
  ConfigList *list = stflags_configlist;
  if (list->count >= list->capacity) {
    list->entries = static_cast<ConfigEntry *>(
        rexxalloc(list->entries, sizeof(ConfigEntry), static_cast<unsigned>(list->capacity),
                  static_cast<unsigned>(list->capacity + 20)));
    list->capacity += 20;
  }
  StringList *words = new_strlist();
  list->entries[list->count].cfgname = cfgname;
  list->entries[list->count].words = words;
  list->count++;

  lr_reset();
  for (char *line = lr_lineread(file); line != nullptr; line = lr_lineread(file)) {
    char *rest = nullptr;
    for (char *w = strtok_r(line, " \t", &rest); w != nullptr; w = strtok_r(nullptr, " \t", &rest))
      add_strlist(words, w);
  }
  fxclose(file, cfgname);
  lr_close();

  // Parse as the command line is parsed; line ends do not matter. The word
  // list stays put even when a nested file grows the list of entries.
  for (int i = 0; i < words->nstr;) {
    int used_next = 0;
    const char *next = (i < words->nstr - 1) ? words->strs[i + 1] : nullptr;
    parse_word(table, words->strs[i], 2, 0, next, &used_next);
    i += used_next ? 2 : 1;
  }
  trace("Closing the configuration file `%s'\n", cfgname);
}

// ---- The option listing ---------------------------------------------------------------

int setflags_options(FlagSpec *table) { return prsetflags_gen_options(table, nullptr, 0); }

int prsetflags_gen_options(FlagSpec *table, Printer printer, int menuchar) {
  PlaceGuard place("SetFlags_Gen_Options");
  if (printer == nullptr) printer = printf;
  if (menuchar == 0)
    trace("QQQ: Setflags_Options for main menu\n");
  else
    trace("QQQ: Setflags_Options for submenu `%c'=%02XH\n", menuchar, menuchar);
  if (table == nullptr || table->flag == 0) {
    printer("No options listed.\n");
    return 0;
  }
  int listed = 0;
  bool marked = false;
  for (FlagSpec *row = table; row->flag != 0; row++) {
    if (row->descript == nullptr) continue;
    if (row->given) marked = true;
    char tag[3] = {row->flag, '\0', '\0'};
    if (menuchar != 0) {
      tag[0] = static_cast<char>(menuchar);
      tag[1] = row->flag;
    }
    printer("  %c-%s%s - %s%s\n", row->given ? '*' : ' ', tag, getapp(row->vartype),
            row->descript, getvalue(row->var, row->vartype, row->showdefault, row->given));
    listed++;
  }
  if (marked) printer("* - This option was set or changed on the command line\n");
  bool first_submenu = true;
  for (FlagSpec *row = table; row->flag != 0; row++) {
    if (row->vartype != VAR_SUBMENU) continue;
    if (first_submenu) printer("Submenus:\n");
    first_submenu = false;
    if (row->subdescript != nullptr) printer("%s\n", row->subdescript);
    prsetflags_gen_options(row->submenu, printer, row->flag);
  }
  return listed;
}

const char *getvalue(const void *target, int vartype, int showdefault, int given) {
  static TextBuffer gvbuff;  // from the counting allocator, like the rest of the run
  gvbuff.clear();
  if (!showdefault && !given) return gvbuff.c_str();

  char num[64] = "";
  const char *value = "";
  switch (vartype) {
    case VAR_FLAG:
    case VAR_NFLAG:
      if (!showdefault) return gvbuff.c_str();
      if (target != nullptr) value = boolon(*static_cast<const int32_t *>(target));
      break;
    case VAR_CHAR:
    case VAR_MCHAR:
      if (target != nullptr) {
        char c = *static_cast<const char *>(target);
        if (c == 0) {
          value = "None";
        } else if (c >= 32 && c <= 125) {
          num[0] = c;
          value = num;
        } else {
          snprintf(num, sizeof num, "%02XH", static_cast<unsigned>(static_cast<int>(c)));
          value = num;
        }
      }
      break;
    case VAR_INT: case VAR_MINT: case VAR_INTMK: case VAR_MINTMK:
      if (target != nullptr) value = commnum(*static_cast<const int32_t *>(target));
      break;
    case VAR_ULONG:
    case VAR_MULONG:
      if (target != nullptr) {
        snprintf(num, sizeof num, "%lu",
                 static_cast<unsigned long>(*static_cast<const uint32_t *>(target)));
        value = num;
      }
      break;
    case VAR_UHEX:
    case VAR_MUHEX:
      if (target != nullptr) {
        snprintf(num, sizeof num, "%lXH",
                 static_cast<unsigned long>(*static_cast<const uint32_t *>(target)));
        value = num;
      }
      break;
    case VAR_DOUBLE:
    case VAR_MDOUBLE:
      if (target != nullptr) {
        snprintf(num, sizeof num, "%g", *static_cast<const double *>(target));
        value = num;
      }
      break;
    case VAR_STRING:
    case VAR_MSTRING:
    case VAR_STRING_APPEND:
    case VAR_CONFIG:
      if (target == nullptr)
        value = (vartype == VAR_CONFIG) ? "" : "NULL";
      else
        value = shownull(*static_cast<char *const *>(target));
      break;
    case VAR_COMMENT:
    case VAR_SUBMENU:
      break;
    default:
      value = "???";
      break;
  }
  const char *label = !given ? "default" : (vartype == VAR_CONFIG ? "name" : "value");
  gvbuff.appendf(" (%s: %s)", label, value);
  return gvbuff.c_str();
}

}  // namespace bayescreen
