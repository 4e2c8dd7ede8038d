// SPDX-License-Identifier: MIT
// The stop flag's one definition.
#include "config.h"

volatile sig_atomic_t lab_stop = 0;
