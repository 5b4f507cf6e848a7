#include "platform/comm_events.h"

#include "platform/comm.h"

uint32_t comm_events_for_input(size_t before, size_t after, size_t capacity, bool saw_event_char) {
  if (after <= before)
    return 0;
  uint32_t ev = COMM_EV_RXCHAR;
  if (saw_event_char)
    ev |= COMM_EV_RXFLAG;
  const size_t mark = capacity * 8 / 10;
  if (before < mark && after >= mark)
    ev |= COMM_EV_RX80FULL;
  return ev;
}

uint32_t comm_events_for_lines(uint32_t old_status, uint32_t new_status) {
  const uint32_t changed = old_status ^ new_status;
  uint32_t ev = 0;
  if (changed & COMM_MS_CTS_ON)
    ev |= COMM_EV_CTS;
  if (changed & COMM_MS_DSR_ON)
    ev |= COMM_EV_DSR;
  if (changed & COMM_MS_RLSD_ON)
    ev |= COMM_EV_RLSD;
  if ((changed & COMM_MS_RING_ON) && (new_status & COMM_MS_RING_ON))
    ev |= COMM_EV_RING;
  return ev;
}

uint32_t comm_events_for_errors(uint32_t errors) {
  uint32_t ev = 0;
  if (errors & COMM_CE_BREAK)
    ev |= COMM_EV_BREAK;
  if (errors & ~COMM_CE_BREAK)
    ev |= COMM_EV_ERR;
  return ev;
}
