// Path and name parts: splitting a path into directory and file name, joining
// them back with forward slashes, and picking the CN out of a distinguished
// name. Both '/' and '\' separate on input; output paths use '/'.
#include "pacelag/util.h"

#include "check.h"

#include <cctype>
#include <cstring>

namespace {
bool isseparator(char ch) {
    return ch == '/' || ch == '\\';
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
