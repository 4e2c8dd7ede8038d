// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: string primitives on NUL-terminated texts and sized
// caller buffers.
#pragma once

#include <cstdint>
#include <cstdlib>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

// True for null, the empty text, or a text of bytes 0x01..0x20 only.
bool strblank(const char* text);
// Removes leading and trailing spaces, CRs and LFs in place (not tabs).
char* strtrim(char* text);
// Bounded copy; truncates to size - 1 bytes. Returns the length copied.
int strcopy(char* dst, const char* src, int size);
// Bounded append; returns the number of bytes appended (0 when full).
int strconcat(char* dst, const char* src, int size);
// Appends addlen bytes at pos and advances pos; -1 (nothing changed) when they
// would not fit with the terminator.
int strappend(char* buffer, int size, const char* addstr, int addlen, int& pos);
int strappendstr(char* buffer, int size, const char* addstr, int& pos);
// Removes every ch in place; returns the new length.
int stripchar(char* text, char ch);
void stripcrlf(char* text);
// Replaces every `from` by `to` in place.
char* strsub(char* text, char from, char to);

char charupper(char ch);
char charlower(char ch);

// Entries before the terminating null pointer of a list of texts.
uint32_t strlistcount(const char* const* list);

// Just past the first occurrence of pattern, or null.
const char* strafter(const char* text, const char* pattern);
char* strafter(char* text, const char* pattern);
// First occurrence of needle ignoring ASCII case (overlaps found); text itself
// for an empty needle, null when none.
const char* stristr(const char* text, const char* needle);
char* stristr(char* text, const char* needle);
// As stristr, but just past the occurrence.
const char* stristrend(const char* text, const char* needle);
char* stristrend(char* text, const char* needle);

// Keeps *slot holding a heap copy of value (null value empties the slot).
// -1 when the copy cannot be made; the slot then keeps its old text.
int strset(const char* value, char*& slot);
// Moves a heap block from one slot to another, releasing what `to` held.
template <typename T> inline void ptrmove(T*& from, T*& to) {
    T* old = to;
    to = from;
    from = nullptr;
    if (old != to) std::free(old);
}

#pragma GCC visibility pop
