// The system's fcntl.h as a POSIX system without Linux's pipe sizes has it: the sources must
// compile with this first on the include path, and without __linux__ defined.
#pragma once
#include_next <fcntl.h>
#undef F_SETPIPE_SZ
#undef F_GETPIPE_SZ
