// Directory search by shell pattern and path-name composition. The path
// routines accept '/' and '\' alike and never touch the file system.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <cstring>
#include <dirent.h>
#include <fnmatch.h>

namespace {
bool isseparator(char c) {
    return c == '/' || c == '\\';
}

bool isabsolute(const char* name) {
    return isseparator(name[0]) || (name[0] && name[1] == ':');
}

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

char* fullpath(const char* dir, const char* name) {
    if (name == nullptr) return nullptr;
    if (dir == nullptr || dir[0] == '\0') return util_strdup(name);
    size_t dirlength = std::strlen(dir), namelength = std::strlen(name);
    char* path = static_cast<char*>(util_malloc(dirlength + namelength + 2));
    if (path == nullptr) return nullptr;
    if (isabsolute(name)) {
        std::memcpy(path, name, namelength + 1);
        return path;
    }
    std::memcpy(path, dir, dirlength);
    size_t at = dirlength;
    if (!isseparator(dir[dirlength - 1])) path[at++] = '/';
    std::memcpy(path + at, name, namelength + 1);
    return path;
}

char* relpath(const char* base, const char* file) {
    UTIL_CHECK(file != nullptr);
    if (base == nullptr) return util_strdup(file);
    size_t baselength = std::strlen(base), filelength = std::strlen(file);
    char* path = static_cast<char*>(util_malloc(baselength + filelength + 1));
    if (path == nullptr) return nullptr;
    size_t dirlength = 0; // up to and including the last separator
    for (size_t i = 0; i < baselength; ++i) {
        if (isseparator(base[i])) dirlength = i + 1;
    }
    std::memcpy(path, base, dirlength);
    std::memcpy(path + dirlength, file, filelength + 1);
    return path;
}

char* relname(const char* path) {
    UTIL_CHECK(path != nullptr);
    const char* name = path;
    if (const char* backslash = std::strrchr(path, '\\')) {
        name = backslash + 1;
    } else if (const char* slash = std::strrchr(path, '/')) {
        name = slash + 1;
    }
    return util_strndup(name, std::strcspn(name, "."));
}

int extreplace(char* filename, const char* ext) {
    UTIL_CHECK(filename != nullptr && ext != nullptr);
    if (ext[0] == '.') ++ext;
    char* dot = std::strrchr(filename, '.');
    if (dot == nullptr || dot == filename || dot[-1] == '.') return -1;
    size_t current = std::strlen(dot + 1), wanted = std::strlen(ext);
    if (wanted > current || current - wanted > 4 || std::strchr(ext, '.') != nullptr) return -1;
    std::memcpy(dot + 1, ext, wanted + 1);
    return 0;
}

bool extcmp(const char* filename, const char* extension) {
    UTIL_CHECK(filename != nullptr && extension != nullptr);
    size_t namelength = std::strlen(filename), extlength = std::strlen(extension);
    if (extlength > namelength) return false;
    return std::memcmp(filename + namelength - extlength, extension, extlength) == 0;
}
