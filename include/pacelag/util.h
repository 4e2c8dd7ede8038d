// pacelag utility library: the one header that programs include.
//
// Plain procedural routines over NUL-terminated texts, caller buffers and small
// records. Buffers are described by their total size, terminator included.
// Routines that return a new text or block allocate it with malloc; the caller
// releases it with free(). A null pointer where a routine needs one is a
// programming error and stops the process.
//
// The declarations are grouped by subsystem in the headers below.
#pragma once

#include "pacelag/util/sys.h"      // error texts, socket, sleep and clock helpers
#include "pacelag/util/threads.h"  // threads, events and the random source
#include "pacelag/util/assoc.h"    // aaContext and the command-line builder
#include "pacelag/util/builders.h" // INI text and the other builders
#include "pacelag/util/strings.h"  // string primitives
#include "pacelag/util/text.h"     // digit texts, character classes, escaping, masking
#include "pacelag/util/numbers.h"  // numeric and bit routines, paths, value parsing
#include "pacelag/util/html.h"     // HTML attribute values and entities
#include "pacelag/util/templates.h" // template substitution, number formatting, rounding
#include "pacelag/util/net.h"      // IPv6/IPv4 addresses, socket addresses, URLs, ranges
#include "pacelag/util/datetime.h" // local time, calendar steps, date texts
#include "pacelag/util/files.h"    // whole files, file search and paths
