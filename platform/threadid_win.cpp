#include "platform/threadid.h"

#include <windows.h>

long os_thread_id() { return static_cast<long>(::GetCurrentThreadId()); }
