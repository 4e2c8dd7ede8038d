// Part of pacelag/util.h: whole-file reads and writes, questions about a path,
// directory search by pattern and path-name composition.
#pragma once

#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

struct aaContext;

// ---- Whole files (binary mode) ----

// 0 written (0 bytes creates or empties the file); -1 cannot open; -2 short write.
int writefile(const char* path, const void* data, int len);
int writefilestr(const char* path, const char* text);
// New buffer with the content plus a NUL; len set to the byte count. Null on
// any failure (len untouched), including files whose size cannot be taken
// (pipes) and files of 2^31 bytes or more.
char* readfile(const char* path, int* len);
char* readfiletext(const char* path);
bool fileexists(const char* path);
bool isfile(const char* path); // follows symbolic links
bool isdir(const char* path);
// Last modification time in seconds; -1 for a blank path or a failed stat.
int64_t filemtime(const char* path);

// ---- File search and paths ('/' and '\' both separate; 'C:' is absolute) ----

// Regular files of one directory whose names match a shell pattern, ignoring
// case: key = path (owned), value = bare name (owned). The pattern is a
// directory, a path ending in a name pattern, or a bare name pattern searched
// in ".". An unreadable directory gives an empty table; null only when memory
// runs out.
aaContext* filesearch(const char* filepattern);
// dir joined with name; name alone when it is absolute or dir is null/empty.
char* fullpath(const char* dir, const char* name);
// file placed in the directory part of base (up to its last separator).
char* relpath(const char* base, const char* file);
// The name of a path without directory and without any extension.
char* relname(const char* path);
// Replaces the extension in place when the new one is not longer and at most 4
// characters shorter: 0, or -1 when refused (filename unchanged).
int extreplace(char* filename, const char* ext);
// Case-sensitive: filename ends in extension.
bool extcmp(const char* filename, const char* extension);

#pragma GCC visibility pop
