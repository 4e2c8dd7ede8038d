// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: whole-file reads and writes, questions about a path,
// directory search by pattern, and path and name parts.
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

// ---- File search ----

// Regular files of one directory whose names match a shell pattern, ignoring
// case: key = path (owned), value = bare name (owned). The pattern is a
// directory, a path ending in a name pattern, or a bare name pattern searched
// in ".". An unreadable directory gives an empty table; null only when memory
// runs out.
aaContext* filesearch(const char* filepattern);

// ---- Paths ('/' and '\' both separate; 'C:' is absolute) ----

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
// filename ends in extension, ignoring ASCII case.
bool exticmp(const char* filename, const char* extension);
// The part after the last '/' or '\'.
const char* pathleaf(const char* path);
char* pathleaf(char* path);

// Splits path at its last '/' or '\' into dir and file (either may be null;
// each given one is emptied first). 0 when every given part fit, else -1; the
// file part is filled first.
int splitpath(const char* path, char* dir, int dirsize, char* file, int filesize);
// dir + '/' + name with '\' turned into '/'; a blank dir copies name as is.
// 0, or -1 with dst untouched (blank name, or too long counting the '/').
int pathjoin(const char* dir, const char* name, char* dst, int dstsize);
// Copies the CN value of a distinguished name ("/C=XX/CN=x" or "CN=x, O=y").
// 1 when found and copied whole, otherwise 0 with dst untouched.
int dn2cn(const char* dn, char* dst, int dstsize);

#pragma GCC visibility pop
