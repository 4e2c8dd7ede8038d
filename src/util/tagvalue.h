// SPDX-License-Identifier: MIT
// Private to the library: the attribute lookup behind htmltagvalue, telling a
// missing attribute apart from a lack of memory so that builders can report it.
#pragma once

// 1 found (value newly allocated), 0 absent (value null), -1 out of memory.
int findtagvalue(const char* html, const char* key, int keylen, char*& value);
