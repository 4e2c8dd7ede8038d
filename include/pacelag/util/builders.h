// SPDX-License-Identifier: MIT
// Part of pacelag/util.h: builders that fill an aaContext or a list of texts
// from INI text, HTML attributes, template references, delimited lists, CSV
// records and regular-expression group names.
#pragma once

#include <cstdint>

// Declarations here are exported from the shared library; the rest of it is hidden.
#pragma GCC visibility push(default)

struct aaContext;

// ---- INI text ----

// Reads "key = value" lines (plain or with simple table/paragraph markup and
// "&eq;") into table with owned copies; a line with a key but no separator is
// stored under "keyonly". 0 when the whole text was read, -1 when memory ran
// out (pairs stored before stay).
int ini2aa(aaContext* table, const char* text, char lineend, char separator);
int ini2aa(aaContext* table, const char* text); // LF and '='
// New copy of the section headed "[name]" (an empty header "[]" matches any
// name), the whole text when it has no header, "" when no header matches.
// Null name is the empty name. Null when out of memory.
char* getsection(char* data, char* name);
char* getsection(const char* data, const char* name);

// ---- Other builders ----

// Stores the value of attribute valueattr (default "VALUE") under the value of
// nameattr (default "NAME", with '-', '_', '.', ' ' removed) for every tag.
// Each '>' is set to NUL while its tag is read and then put back. 0, or -1
// when a pair could not be stored.
int htmlattr2aa(aaContext* aa, char* html, char* nameattr, char* valueattr);
int htmlattr2aa(aaContext* aa, char* html);
// Adds every $name reference of src (letters and digits) with the value "".
// src is written for a moment and restored.
void keylist(char* src, aaContext* varlist);
// Set of the trimmed tokens of text (cut up in place by strtok_r), ignoring
// case. Null when out of memory.
aaContext* list2aa(const char* delimiters, char* text);

// Fields of one separated record with double-quote quoting, split on the
// first character of separator. Null for a blank text or out of memory.
char** csvsplit(const char* separator, const char* text);
// Number of fields csvsplit gives, -1 when it gives null.
int csvcount(const char* separator, const char* text);
// Names of the (?<name>...) groups of a regular expression, at most 400.
char** regexgroups(const char* pattern);
// Frees a list of texts (null accepted).
void strlistfree(char** list);

#pragma GCC visibility pop
