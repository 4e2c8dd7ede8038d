// SPDX-License-Identifier: MIT
// Whole-file reads and writes and stat-based questions about a path.
#include "pacelag/util.h"

#include "alloc.h"
#include "check.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

int writefile(const char* path, const void* data, int len) {
    UTIL_CHECK(path != nullptr);
    UTIL_CHECK(data != nullptr || len <= 0);
    if (len < 0) return -2;
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return -1;
    // A write of nothing succeeds once the file is created or emptied.
    bool written = len == 0 || std::fwrite(data, static_cast<size_t>(len), 1, file) == 1;
    // A full disk may only show when the buffered bytes are flushed.
    bool closed = std::fclose(file) == 0;
    return written && closed ? 0 : -2;
}

int writefilestr(const char* path, const char* text) {
    UTIL_CHECK(text != nullptr);
    size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT_MAX)) return -2;
    return writefile(path, text, static_cast<int>(length));
}

char* readfile(const char* path, int* len) {
    UTIL_CHECK(path != nullptr);
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return nullptr;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || size > INT_MAX || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return nullptr;
    }
    char* buffer = static_cast<char*>(util_malloc(static_cast<size_t>(size) + 1));
    if (buffer == nullptr) {
        std::fclose(file);
        return nullptr;
    }
    size_t got = std::fread(buffer, 1, static_cast<size_t>(size), file);
    std::fclose(file);
    if (got != static_cast<size_t>(size)) {
        std::free(buffer);
        return nullptr;
    }
    buffer[size] = '\0';
    if (len != nullptr) *len = static_cast<int>(size);
    return buffer;
}

char* readfiletext(const char* path) {
    return readfile(path, nullptr);
}

bool fileexists(const char* path) {
    UTIL_CHECK(path != nullptr);
    struct stat st;
    return stat(path, &st) == 0;
}

bool isfile(const char* path) {
    UTIL_CHECK(path != nullptr);
    struct stat st;
    return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool isdir(const char* path) {
    UTIL_CHECK(path != nullptr);
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t filemtime(const char* path) {
    if (strblank(path)) return -1;
    struct stat st;
    if (stat(path, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtime);
}
