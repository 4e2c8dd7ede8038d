// SPDX-License-Identifier: MIT
// Path and name parts: joining, placing and splitting paths, names and
// extensions, and picking the CN out of a distinguished name. Both '/' and '\'
// separate on input; output paths use '/'. Nothing here touches the file system.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <cctype>
#include <cstring>

namespace {
bool isseparator(char ch) {
    return ch == '/' || ch == '\\';
}

// Equal ignoring ASCII letter case only, whatever locale the program has set.
bool asciicaseequal(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (charlower(*a) != charlower(*b)) return false;
        if (*a == '\0') return true;
    }
}

bool isabsolute(const char* name) {
    return isseparator(name[0]) || (name[0] && name[1] == ':');
}

// Copies len bytes and a NUL when they fit in size; -1 (nothing written) otherwise.
int putpart(char* dst, int size, const char* src, size_t len) {
    if (size < 1 || len >= size_t(size)) return -1;
    std::memcpy(dst, src, len);
    dst[len] = '\0';
    return 0;
}

// Copies len bytes with every '\' turned into '/'.
char* copyslashed(char* dst, const char* src, size_t len) {
    for (size_t i = 0; i < len; ++i) dst[i] = src[i] == '\\' ? '/' : src[i];
    return dst + len;
}
} // namespace

int splitpath(const char* path, char* dir, int dirsize, char* file, int filesize) {
    UTIL_CHECK(path != nullptr);
    if (dir != nullptr && dirsize > 0) dir[0] = '\0';
    if (file != nullptr && filesize > 0) file[0] = '\0';

    const char* sep = nullptr;
    for (const char* p = path; *p != '\0'; ++p)
        if (isseparator(*p)) sep = p;

    if (sep == nullptr) {
        if (file != nullptr) return putpart(file, filesize, path, std::strlen(path));
        return 0;
    }
    if (file != nullptr && putpart(file, filesize, sep + 1, std::strlen(sep + 1)) < 0) return -1;
    if (dir != nullptr && putpart(dir, dirsize, path, size_t(sep - path)) < 0) return -1;
    return 0;
}

int pathjoin(const char* dir, const char* name, char* dst, int dstsize) {
    UTIL_CHECK(dst != nullptr);
    if (strblank(name)) return -1;
    size_t namelen = std::strlen(name);
    if (strblank(dir)) {
        if (dstsize < 1 || namelen >= size_t(dstsize)) return -1;
        std::memcpy(dst, name, namelen + 1);
        return 0;
    }
    size_t dirlen = std::strlen(dir);
    // The check counts the joining '/' even when none is added, so that the
    // decision does not depend on the texts' separators.
    if (dstsize < 1 || dirlen + namelen + 1 >= size_t(dstsize)) return -1;

    char* end = copyslashed(dst, dir, dirlen);
    if (end[-1] != '/') *end++ = '/';
    if (isseparator(name[0])) {
        ++name;
        --namelen;
    }
    end = copyslashed(end, name, namelen);
    *end = '\0';
    return 0;
}

int dn2cn(const char* dn, char* dst, int dstsize) {
    if (dn == nullptr || dst == nullptr || dstsize <= 0 || dn[0] == '\0') return 0;
    const char separator = dn[0] == '/' ? '/' : ',';
    enum { Idle, Key, BeforeValue, Value, Quoted } state = Idle;
    const char* key = nullptr;
    const char* value = nullptr;
    size_t keylen = 0;
    auto iscn = [&] {
        return keylen == 2 && (key[0] == 'C' || key[0] == 'c') && (key[1] == 'N' || key[1] == 'n');
    };

    const char* p = dn;
    const char* valueend = nullptr;
    for (; *p != '\0'; ++p) {
        unsigned char ch = static_cast<unsigned char>(*p);
        switch (state) {
        case Idle:
            if (std::isalnum(ch)) {
                key = p;
                state = Key;
            }
            break;
        case Key:
            if (ch == '=' || ch == ' ') {
                keylen = size_t(p - key);
                state = BeforeValue;
            }
            break;
        case BeforeValue:
            if (std::isalnum(ch)) {
                value = p;
                state = Value;
            } else if (ch == '"') {
                value = p + 1;
                state = Quoted;
            }
            break;
        case Value:
        case Quoted:
            if ((state == Value && ch == separator) || (state == Quoted && ch == '"')) {
                if (iscn()) valueend = p;
                state = Idle;
            }
            break;
        }
        if (valueend != nullptr) break;
    }
    if (valueend == nullptr) {
        // A value still open at the end of the text runs to its end.
        if ((state != Value && state != Quoted) || !iscn()) return 0;
        valueend = p;
    }
    size_t len = size_t(valueend - value);
    if (len + 1 > size_t(dstsize)) return 0;
    std::memcpy(dst, value, len);
    dst[len] = '\0';
    return 1;
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

bool exticmp(const char* filename, const char* extension) {
    UTIL_CHECK(filename != nullptr && extension != nullptr);
    size_t namelength = std::strlen(filename);
    size_t extlength = std::strlen(extension);
    if (extlength > namelength) return false;
    return asciicaseequal(filename + namelength - extlength, extension);
}

const char* pathleaf(const char* path) {
    UTIL_CHECK(path != nullptr);
    const char* leaf = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\') leaf = p + 1;
    }
    return leaf;
}

char* pathleaf(char* path) {
    return const_cast<char*>(pathleaf(static_cast<const char*>(path)));
}
