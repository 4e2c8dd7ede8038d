// Part of pacelag/util.h.
#pragma once

#include <cstdint>
