// Backup of an existing file to "<name>.bak" before it is overwritten.
#pragma once

namespace bayescreen {

// If something stands at `path`, renames it to path + ".bak" (an older
// backup of that name is deleted first). A symbolic link is moved itself,
// never followed; a named pipe, socket or device at either name is refused
// with a message and left as it is. With verbose, announces the backup.
// Returns 0 when there was nothing to do or all went well, -1 on failure.
int backup(const char *path, int verbose);
// As backup(); when savename is given it receives the backup name
// (a heap string the caller frees), else the name is freed here.
int backup_savename(const char *path, int verbose, char **savename);

}  // namespace bayescreen
