// LD_PRELOAD fault injector for the torture suite. Only calls on paths under $QFAULT_PREFIX are
// touched (descriptors are mapped to paths through /proc/self/fd), so stderr, pipes and libraries
// behave normally. Environment:
//   QFAULT_PREFIX  folder whose files are affected (required)
//   QFAULT_REPORT  file that receives "<call> <count>" per call at exit and a "fired <call> <n>"
//                  line the moment a fault is injected
//   QFAULT_FN      comma-separated calls that are counted for QFAULT_N (default: all hooked)
//   QFAULT_N       the Nth counted call (1-based) is hit; 0 or unset: count only
//   QFAULT_DO      eio | enospc | eagain | short (write half) | zero (a read finds the end early) |
//                  kill | stop (SIGKILL/SIGSTOP self right after the call succeeds)
//   QFAULT_PERSIST 1: every later counted call fails the same way
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

// clang-format off
#define CALLS(X) \
  X(write) X(pwrite) X(pwrite64) X(fsync) X(fdatasync) X(open) X(open64) X(openat) X(openat64) \
  X(rename) X(renameat) X(renameat2) X(ftruncate) X(ftruncate64) X(linkat) X(read) X(pread) \
  X(pread64)
// clang-format on
#define ID(name) k_##name,
#define NAME(name) #name,
enum { CALLS(ID) kCalls };
static const char* const kNames[kCalls] = {CALLS(NAME)};
enum { kCount, kEio, kEnospc, kEagain, kShort, kZero, kKill, kStop, kActions };
static const char* const kActionNames[] = {"",      "eio",  "enospc", "eagain",
                                           "short", "zero", "kill",   "stop"};

static const char* prefix;
static size_t prefixLength;
static int selected[kCalls];
static long target, counts[kCalls], counted;
static int action, persist, fired;
static char report[4096];

static void writeReport(void) {
  FILE* out = report[0] ? fopen(report, "a") : NULL;  // fopen's own open is not hooked
  if (!out) return;
  for (int i = 0; i < kCalls; ++i) fprintf(out, "%s %ld\n", kNames[i], counts[i]);
  fclose(out);
}

__attribute__((constructor)) static void setUp(void) {
  prefix = getenv("QFAULT_PREFIX");
  prefixLength = prefix ? strlen(prefix) : 0;
  const char* env = getenv("QFAULT_FN");
  char fns[1024], name[64];
  snprintf(fns, sizeof fns, ",%s,", env ? env : "");
  for (int i = 0; i < kCalls; ++i) {
    snprintf(name, sizeof name, ",%s,", kNames[i]);
    selected[i] = !env || strstr(fns, name);
  }
  target = (env = getenv("QFAULT_N")) ? atol(env) : 0;
  env = getenv("QFAULT_DO");
  for (int i = 1; env && i < kActions; ++i) {
    if (!strcmp(env, kActionNames[i])) action = i;
  }
  persist = (env = getenv("QFAULT_PERSIST")) && *env == '1';
  if ((env = getenv("QFAULT_REPORT"))) {
    snprintf(report, sizeof report, "%s", env);
    atexit(writeReport);
  }
}

// Whether `path`, relative to `dirfd` unless absolute, lies under the prefix; a null `path`
// stands for the file `dirfd` itself.
static int under(int dirfd, const char* path) {
  char link[64], buf[4096];
  if (!prefix) return 0;
  if (!path || path[0] != '/') {
    snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    if (dirfd == AT_FDCWD) strcpy(link, "/proc/self/cwd");
    ssize_t n = readlink(link, buf, sizeof buf - 1);
    if (n < 0) return 0;
    snprintf(buf + n, sizeof buf - (size_t)n, "%s%s", path ? "/" : "", path ? path : "");
    path = buf;
  }
  return !strncmp(path, prefix, prefixLength) && (!path[prefixLength] || path[prefixLength] == '/');
}

// Decides the fate of one call under the prefix: -1 fail it (errno set), else run it and then
// act on the verdict (kShort: write half, kKill / kStop: signal ourselves).
static int decide(int call) {
  __atomic_add_fetch(&counts[call], 1, __ATOMIC_RELAXED);
  if (!selected[call] || !action || (action == kShort && call > k_pwrite64) ||
      (action == kZero && call < k_read))
    return kCount;
  long n = __atomic_add_fetch(&counted, 1, __ATOMIC_RELAXED);
  if (n < target || (n > target && !persist) || target <= 0) return kCount;
  FILE* out = !fired++ && report[0] ? fopen(report, "a") : NULL;
  if (out) {
    fprintf(out, "fired %s %ld\n", kNames[call], n);
    fclose(out);
  }
  if (action != kEio && action != kEnospc && action != kEagain) return action;
  errno = action == kEio ? EIO : action == kEnospc ? ENOSPC : EAGAIN;
  return -1;
}

// One hooked call: `before` runs first, `affected` says whether its file is under the prefix,
// and the C library's own function (looked up once; memcpy: ISO C has no object-to-function
// cast) gets the remaining arguments, where LEN(n) is the length a short write passes on.
#define LEN(n) (v == kShort && n > 1 ? n / 2 : n)
#define HOOK(type, fn, before, affected, params, ...)                             \
  type fn params {                                                                \
    before;                                                                       \
    static __typeof__(&fn) real;                                                  \
    if (!real) {                                                                  \
      void* found = dlsym(RTLD_NEXT, #fn);                                        \
      memcpy(&real, &found, sizeof found);                                        \
    }                                                                             \
    int v = (affected) ? decide(k_##fn) : kCount;                                 \
    if (v < 0) return -1;                                                         \
    if (v == kZero) return 0;                                                     \
    type r = real(__VA_ARGS__);                                                   \
    if (v == kKill || v == kStop) kill(getpid(), v == kKill ? SIGKILL : SIGSTOP); \
    return r;                                                                     \
  }
#define FD_HOOK(type, fn, params, ...) HOOK(type, fn, , under(fd, NULL), params, __VA_ARGS__)
// open's mode argument is there only when the flags create a file.
#define MODE(flags)                                          \
  mode_t m = 0;                                              \
  if ((flags)&O_CREAT || ((flags)&O_TMPFILE) == O_TMPFILE) { \
    va_list a;                                               \
    va_start(a, flags);                                      \
    m = va_arg(a, mode_t);                                   \
    va_end(a);                                               \
  }
#define OPEN_HOOK(fn, dirfd, params, ...) \
  HOOK(int, fn, MODE(f), under(dirfd, p), params, __VA_ARGS__)

// clang-format off
FD_HOOK(ssize_t, write, (int fd, const void* b, size_t n), fd, b, LEN(n))
FD_HOOK(ssize_t, pwrite, (int fd, const void* b, size_t n, off_t o), fd, b, LEN(n), o)
FD_HOOK(ssize_t, pwrite64, (int fd, const void* b, size_t n, off64_t o), fd, b, LEN(n), o)
FD_HOOK(int, fsync, (int fd), fd)
FD_HOOK(ssize_t, read, (int fd, void* b, size_t n), fd, b, n)
FD_HOOK(ssize_t, pread, (int fd, void* b, size_t n, off_t o), fd, b, n, o)
FD_HOOK(ssize_t, pread64, (int fd, void* b, size_t n, off64_t o), fd, b, n, o)
FD_HOOK(int, fdatasync, (int fd), fd)
FD_HOOK(int, ftruncate, (int fd, off_t l), fd, l)
FD_HOOK(int, ftruncate64, (int fd, off64_t l), fd, l)
OPEN_HOOK(open, AT_FDCWD, (const char* p, int f, ...), p, f, m)
OPEN_HOOK(open64, AT_FDCWD, (const char* p, int f, ...), p, f, m)
OPEN_HOOK(openat, d, (int d, const char* p, int f, ...), d, p, f, m)
OPEN_HOOK(openat64, d, (int d, const char* p, int f, ...), d, p, f, m)
HOOK(int, rename, , under(AT_FDCWD, a) || under(AT_FDCWD, b), (const char* a, const char* b),
     a, b)
HOOK(int, renameat, , under(da, a) || under(db, b), (int da, const char* a, int db, const char* b),
     da, a, db, b)
HOOK(int, renameat2, , under(da, a) || under(db, b),
     (int da, const char* a, int db, const char* b, unsigned fl), da, a, db, b, fl)
HOOK(int, linkat, , under(db, b), (int da, const char* a, int db, const char* b, int fl),
     da, a, db, b, fl)
// clang-format on
