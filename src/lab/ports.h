// SPDX-License-Identifier: MIT
// Picking a port for pacelag's server on loopback.
#pragma once

// A port nobody listens on right now, as the server binds (dual-stack); -1
// with errno set. It is free only when asked: another program may take it
// before pacelag binds, so a run retries with another one when the server
// reports that it could not bind.
int free_port();
