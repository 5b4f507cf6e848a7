// The GUI thread's loop where the hand-off (platform/gui.h) runs without Qt (the core-only
// build): the thread that called gui_install runs what was posted or synchronised to it
// whenever it calls gui_process_events.
#pragma once

// Runs every queued function; when there is none, waits up to timeout_ms (< 0: no limit)
// for the first to arrive. Returns how many ran.
int gui_process_events(int timeout_ms);
