// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: attribute values of simple HTML tag text, the few
// character entities they carry, and HTML escaping.
#pragma once

#include <cstddef>
#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

// ---- Attribute values ----

// Decoded value of attribute `key` (keylen bytes) in tag text `html`, newly
// allocated; null when absent, only inside double quotes, not followed by '='
// or out of memory. A key also matches the tail of a longer attribute name.
// The tag text is only read.
char* htmltagvalue(const char* html, const char* key, int keylen);

// ---- Escaping and entities ----

// '"', '&', '<', '>' as "&quot;", "&amp;", "&lt;", "&gt;"; null when out of memory.
char* htmlescape(const char* src);
// The same into buf of size bytes, cut only between whole pieces; size 0
// leaves buf untouched.
void htmlescapebuf(const char* src, char* buf, size_t size);
// Decodes &amp; &apos; &gt; &lt; &nbsp; &quot; (any letter case) in place;
// returns the new length.
int htmlunescape(char* text);
// New text from the first len bytes of src with &lt; &gt; &quot; decoded. An
// entity starting inside the run is matched even if it reaches past len, so
// src must be NUL-terminated; the run also ends at a NUL.
char* htmlunescapen(const char* src, int len);

#pragma GCC visibility pop
