// Inside the Linux backend: how a DCB becomes termios2. Shared with the tests, which check
// the fields a pty does not keep (a pty forces 8 data bits and no parity).
// Include only where <asm/termbits.h> may be used (not together with <termios.h>).
#pragma once

#include <asm/termbits.h>

#include "platform/comm.h"

// Fills t (starting from the device's current termios) for the DCB: COMM_OK, or
// COMM_ERR_INVALID_PARAMETER for values no line can have.
uint32_t comm_termios_from_dcb(const CommDcb &dcb, termios2 &t);
