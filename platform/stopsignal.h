// Requests to stop from outside (Ctrl+C, a plain kill) turned into something an event loop
// can watch, so that the stopping itself happens there and not inside a signal handler.
#pragma once

// Once per process, before the loop runs: from now on an interrupt or terminate request
// makes the returned descriptor readable, and a write to a closed pipe no longer ends the
// process. -1 when that cannot be arranged.
int stop_requests_watch();

// Takes one request off the descriptor, so that it does not stay readable for it.
void stop_requests_take();
