// SPDX-License-Identifier: MIT
// Directory search by shell pattern: the regular files of one directory whose
// names match, ignoring case.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <cstring>
#include <dirent.h>
#include <fnmatch.h>

namespace {
// Opens the directory and lists its matching regular files into table.
// False when memory ran out.
bool listdirectory(aaContext* table, const char* dir, const char* pattern) {
    DIR* handle = opendir(dir);
    if (handle == nullptr) return true; // missing or unreadable: nothing found
    bool ok = true;
    while (struct dirent* entry = readdir(handle)) {
        if (fnmatch(pattern, entry->d_name, FNM_CASEFOLD) != 0) continue;
        char* path = fullpath(dir, entry->d_name);
        if (path == nullptr) {
            ok = false;
            break;
        }
        if (!isfile(path)) {
            std::free(path);
            continue;
        }
        if (aaput(table, path, entry->d_name, AA_OWNKEY | AA_COPYVALUE) == -1) {
            std::free(path);
            ok = false;
            break;
        }
    }
    closedir(handle);
    return ok;
}
} // namespace

aaContext* filesearch(const char* filepattern) {
    UTIL_CHECK(filepattern != nullptr);
    aaContext* table = aacreate(0);
    if (table == nullptr) return nullptr;
    char* dir;
    const char* pattern;
    if (isdir(filepattern)) {
        dir = util_strdup(filepattern);
        pattern = "*";
    } else if (const char* slash = std::strrchr(filepattern, '/')) {
        dir = relpath(filepattern, "");
        pattern = slash + 1;
    } else {
        dir = util_strdup(".");
        pattern = filepattern;
    }
    if (dir == nullptr) {
        aafree(table);
        return nullptr;
    }
    bool ok = listdirectory(table, dir, pattern);
    std::free(dir);
    if (!ok) {
        aafree(table);
        return nullptr;
    }
    return table;
}
