#include "support/backup.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "support/helpers.h"

namespace bayescreen {

int backup(const char *path, int verbose) { return backup_savename(path, verbose, nullptr); }

// What may stand at the name of a file being replaced: a regular file, a
// directory, or a symbolic link, which is renamed or deleted itself and never
// followed. Anything else (a named pipe, a socket, a device) is left alone:
// even opening it to look could block the run or reach some device.
static bool movable(const struct stat &st) {
  return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode);
}

static int refuse_special(const char *verb, const char *path, const struct stat &st) {
  fprintf(stderr,
          "\nCANNOT %s the file  `%s'\n"
          "It is %s; only a regular file, a directory or a symbolic link is %s.\n",
          verb, path, special_file_kind(st.st_mode),
          verb[0] == 'B' ? "backed up" : "deleted");
  return -1;
}

// The names are examined with lstat(), never opened.
int backup_savename(const char *path, int verbose, char **savename) {
  if (savename != nullptr) *savename = nullptr;
  struct stat st;
  if (path == nullptr || *path == '\0' || lstat(path, &st) != 0) return 0;
  if (!movable(st)) return refuse_special("BACK UP", path, st);

  char *bakname = add_extent(path, ".bak");
  if (verbose) printf("Backing up the existing file `%s' as `%s'\n", path, bakname);
  int result = 0;
  struct stat bak;
  if (lstat(bakname, &bak) == 0) {
    if (!movable(bak))
      result = refuse_special("DELETE", bakname, bak);
    else if (rexmove(bakname) != 0)
      result = -1;
  }
  if (result == 0 && rexname(path, bakname) != 0) result = -1;
  if (savename != nullptr)
    *savename = bakname;
  else
    free(bakname);
  return result;
}

}  // namespace bayescreen
