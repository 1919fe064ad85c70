// Preloaded (LD_PRELOAD) by scripts/measure-responsiveness: every fsync, fdatasync,
// syncfs and msync of the process waits OSTRELO_SYNC_DELAY_MS first (20 when unset, 0
// to only count), as on a slow disk, and is counted in ostrelo_sync_calls, which the
// measuring program reads when it finds it.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdlib.h>
#include <time.h>

atomic_ulong ostrelo_sync_calls;

static void Delay(void) {
  atomic_fetch_add(&ostrelo_sync_calls, 1);
  static atomic_long delayMs = -1;
  long ms = atomic_load(&delayMs);
  if (ms < 0) {
    const char* text = getenv("OSTRELO_SYNC_DELAY_MS");
    ms = text != NULL ? atol(text) : 20;
    atomic_store(&delayMs, ms);
  }
  struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0) {
  }
}

// The call itself, found once in the libraries after this one.
#define FORWARD(name, params, args)                                      \
  int name params {                                                      \
    static int(*real) params;                                            \
    if (real == NULL) *(void**)(&real) = dlsym(RTLD_NEXT, #name);        \
    Delay();                                                             \
    return real args;                                                    \
  }

FORWARD(fsync, (int fd), (fd))
FORWARD(fdatasync, (int fd), (fd))
FORWARD(syncfs, (int fd), (fd))
FORWARD(msync, (void* address, size_t length, int flags), (address, length, flags))
