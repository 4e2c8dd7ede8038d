// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: template key substitution: '$name' references of a
// template filled from an aaContext, escaped for text, HTML, JSON or SQL.
#pragma once

#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

struct aaContext;

// ---- Template key substitution ----

// Each returns a new text in which every '$name' of the template is replaced by
// the table's value for name (looked up with the table's own case rule), or
// null when memory runs out. A null table gives a copy of the template. The
// character after a name is copied as it is.
// keysub: names of letters, digits and '_'; an absent name stays as written,
// '$.name' inserts nothing then; after a double quote, '"' and '\' of the
// value become spaces.
char* keysub(char* src, aaContext* table);
// Values with '"', '&', '<' and '>' written as entities; absent names stay.
char* htmlkeysub(char* src, aaContext* table);
// Values escaped for the inside of a JSON string; absent names stay.
char* jsonkeysub(char* src, aaContext* table);
// SQL: '$name' inserts a numeric value, else NULL; '$'name' a quoted literal,
// or NULL when absent; '$-name' is '$name', but an absent name drops the
// whole output line.
char* querykeysub(char* src, aaContext* table);

#pragma GCC visibility pop
