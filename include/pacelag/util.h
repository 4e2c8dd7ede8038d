// pacelag utility library: the one header that programs include.
//
// Plain procedural routines over NUL-terminated texts, caller buffers and small
// records. Buffers are described by their total size, terminator included.
// Routines that return a new text or block allocate it with malloc; the caller
// releases it with free(). A null pointer where a routine needs one is a
// programming error and stops the process.
//
// The declarations are grouped by subject, one header each; the sources and
// unit tests of a subject sit in folders of the same name (src/util/net/,
// tests/unit/net/ for net.h).
#pragma once

#include "pacelag/util/sys.h"       // system: error texts, sockets, sleeping, clocks
#include "pacelag/util/threads.h"   // threads, events and the random source
#include "pacelag/util/assoc.h"     // aaContext hash tables, key hashes, the command-line table
#include "pacelag/util/builders.h"  // tables and lists read from INI, HTML, CSV and other texts
#include "pacelag/util/strings.h"   // string primitives: copies, edits, case, search, heap slots
#include "pacelag/util/text.h"      // character classes, filters, quoting, escaping, masking
#include "pacelag/util/numbers.h"   // number parsing, digit texts, formatting, rounding, bits
#include "pacelag/util/net.h"       // addresses, socket addresses, URLs, ranges, checksum
#include "pacelag/util/datetime.h"  // local time, calendar, date texts
#include "pacelag/util/files.h"     // whole files, file search, paths and names
#include "pacelag/util/html.h"      // HTML attribute values, entities and escaping
#include "pacelag/util/templates.h" // '$name' template substitution
