#include "support/backup.h"

#include <cstdio>
#include <cstdlib>

#include "support/helpers.h"

namespace bayescreen {

int backup(const char *path, int verbose) { return backup_savename(path, verbose, nullptr); }

int backup_savename(const char *path, int verbose, char **savename) {
  if (savename != nullptr) *savename = nullptr;
  if (path == nullptr || *path == '\0' || !checkfile(path)) return 0;

  char *bakname = add_extent(path, ".bak");
  if (verbose) printf("Backing up the existing file `%s' as `%s'\n", path, bakname);
  int result = 0;
  if (checkfile(bakname) && rexmove(bakname) != 0) {
    result = -1;
  } else if (rexname(path, bakname) != 0) {
    result = -1;
  }
  if (savename != nullptr)
    *savename = bakname;
  else
    free(bakname);
  return result;
}

}  // namespace bayescreen
