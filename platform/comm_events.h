// What a device's input and lines raise as COMM_EV_* bits, so the OS backends and the fake
// line report the same events for the same happenings.
#pragma once

#include <cstddef>
#include <cstdint>

// Bytes were added to an input queue of `capacity` bytes, whose fill went from `before` to
// `after`: EV_RXCHAR when any arrived, EV_RXFLAG when one of them was the event character,
// EV_RX80FULL when the fill crossed 80 % of the capacity on the way up.
uint32_t comm_events_for_input(size_t before, size_t after, size_t capacity, bool saw_event_char);

// The modem lines went from `old_status` to `new_status` (COMM_MS_* bits): one event per
// line that changed, EV_RING only when the ring indicator came on.
uint32_t comm_events_for_lines(uint32_t old_status, uint32_t new_status);

// Line errors (COMM_CE_*) were seen: EV_BREAK for a break, EV_ERR for any other error.
uint32_t comm_events_for_errors(uint32_t errors);
