// The calling thread's id as the kernel numbers it, for the log: it matches what ps, top
// and gdb show (Windows: GetCurrentThreadId).
#pragma once

long os_thread_id();
