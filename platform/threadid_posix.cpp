#include "platform/threadid.h"

#include <sys/syscall.h>
#include <unistd.h>

long os_thread_id() { return long(::syscall(SYS_gettid)); }
