// Output helper shared by the pacelag loops.
#include "pacing.h"

#include <cstdarg>
#include <cstdio>

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    fflush(stdout);
}
