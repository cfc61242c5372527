// LD_PRELOAD fault injector for the torture suite. Only calls on paths under $QFAULT_PREFIX are
// touched (descriptors are mapped to paths through /proc/self/fd), so stderr, pipes and libraries
// behave normally. Environment:
//   QFAULT_PREFIX  folder whose files are affected (required)
//   QFAULT_REPORT  file that receives "<call> <count>" per call at exit (also on SIGTERM) and a
//                  "fired <call> <n>" line the moment a fault is injected
//   QFAULT_FN      comma-separated calls that are counted for QFAULT_N (default: all hooked)
//   QFAULT_N       the Nth counted call (1-based) is hit; 0 or unset: count only
//   QFAULT_DO      eio | enospc | short (write half) | kill | stop (SIGKILL/SIGSTOP self right
//                  after the call succeeds)
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
#include <sys/types.h>
#include <unistd.h>

// clang-format off
#define CALLS(X) \
  X(write) X(pwrite) X(pwrite64) X(fsync) X(fdatasync) X(open) X(open64) X(openat) X(openat64) \
  X(rename) X(renameat) X(renameat2) X(ftruncate) X(ftruncate64) X(linkat)
// clang-format on
#define ID(name) k_##name,
#define NAME(name) #name,
enum { CALLS(ID) kCalls };
static const char* const kNames[kCalls] = {CALLS(NAME)};

static const char* prefix;
static size_t prefixLength;
static int selected[kCalls];
static long target, counts[kCalls], counted;
static int action, persist, fired;  // action: 0 count, 'E' eio, 'S' enospc, 'h' short, 'k', 's'
static char report[4096];

static void writeReport(void) {
  if (!report[0]) return;
  FILE* out = fopen(report, "a");  // fopen's own open is internal to the C library: not hooked
  if (!out) return;
  for (int i = 0; i < kCalls; ++i) fprintf(out, "%s %ld\n", kNames[i], counts[i]);
  fclose(out);
}
static void onTerm(int sig) {
  (void)sig;
  writeReport();
  _exit(143);
}

__attribute__((constructor)) static void setUp(void) {
  prefix = getenv("QFAULT_PREFIX");
  prefixLength = prefix ? strlen(prefix) : 0;
  const char* env = getenv("QFAULT_REPORT");
  if (env) snprintf(report, sizeof report, "%s", env);
  const char* fns = getenv("QFAULT_FN");
  for (int i = 0; i < kCalls; ++i) {
    const char* at = fns ? strstr(fns, kNames[i]) : NULL;
    size_t n = strlen(kNames[i]);
    while (at && ((at != fns && at[-1] != ',') || (at[n] && at[n] != ',')))
      at = strstr(at + 1, kNames[i]);
    selected[i] = !fns || at;
  }
  target = (env = getenv("QFAULT_N")) ? atol(env) : 0;
  env = getenv("QFAULT_DO");
  action = !env                     ? 0
           : !strcmp(env, "eio")    ? 'E'
           : !strcmp(env, "enospc") ? 'S'
           : !strcmp(env, "short")  ? 'h'
           : !strcmp(env, "kill")   ? 'k'
           : !strcmp(env, "stop")   ? 's'
                                    : 0;
  persist = (env = getenv("QFAULT_PERSIST")) && *env == '1';
  if (report[0]) signal(SIGTERM, onTerm);
  if (report[0]) atexit(writeReport);
}

static int pathUnder(int dirfd, const char* path) {
  char buf[4096];
  if (!prefix || !path) return 0;
  if (path[0] != '/') {  // relative: resolve the folder it is relative to
    ssize_t n = -1;
    if (dirfd == AT_FDCWD) {
      n = getcwd(buf, sizeof buf) ? (ssize_t)strlen(buf) : -1;
    } else {
      char link[64];
      snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
      n = readlink(link, buf, sizeof buf - 1);
    }
    if (n < 0) return 0;
    snprintf(buf + n, sizeof buf - (size_t)n, "/%s", path);
    path = buf;
  }
  return !strncmp(path, prefix, prefixLength) && (!path[prefixLength] || path[prefixLength] == '/');
}
static int fdUnder(int fd) {
  char link[64], buf[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, buf, sizeof buf - 1);
  if (n < 0) return 0;
  buf[n] = 0;
  return pathUnder(AT_FDCWD, buf);
}

// Decides the fate of one call under the prefix: 0 run it, -1 fail it (errno set), 1 short write;
// 'k' / 's' run it, then kill or stop.
static int decide(int call) {
  __atomic_add_fetch(&counts[call], 1, __ATOMIC_RELAXED);
  if (!selected[call] || !action || (action == 'h' && call > k_pwrite64)) return 0;
  long n = __atomic_add_fetch(&counted, 1, __ATOMIC_RELAXED);
  if (n < target || (n > target && !persist) || target <= 0) return 0;
  if (!fired++ && report[0]) {
    char line[128];
    FILE* out = fopen(report, "a");
    snprintf(line, sizeof line, "fired %s %ld\n", kNames[call], n);
    if (out) fputs(line, out), fclose(out);
  }
  if (action == 'E' || action == 'S') {
    errno = action == 'E' ? EIO : ENOSPC;
    return -1;
  }
  return action == 'h' ? 1 : action;
}
static void after(int verdict) {
  if (verdict == 'k' || verdict == 's') kill(getpid(), verdict == 'k' ? SIGKILL : SIGSTOP);
}

// The C library's own function, looked up once (memcpy: ISO C has no object-to-function cast).
#define REAL(name)                         \
  static __typeof__(&name) real;           \
  if (!real) {                             \
    void* found = dlsym(RTLD_NEXT, #name); \
    memcpy(&real, &found, sizeof found);   \
  }

ssize_t write(int fd, const void* b, size_t n) {
  REAL(write);
  int v = fdUnder(fd) ? decide(k_write) : 0;
  if (v < 0) return -1;
  ssize_t r = real(fd, b, v == 1 && n > 1 ? n / 2 : n);
  after(v);
  return r;
}
#define PWRITE(fn, id, off_type)                             \
  ssize_t fn(int fd, const void* b, size_t n, off_type o) {  \
    REAL(fn);                                                \
    int v = fdUnder(fd) ? decide(id) : 0;                    \
    if (v < 0) return -1;                                    \
    ssize_t r = real(fd, b, v == 1 && n > 1 ? n / 2 : n, o); \
    after(v);                                                \
    return r;                                                \
  }
PWRITE(pwrite, k_pwrite, off_t)
PWRITE(pwrite64, k_pwrite64, off64_t)

// Runs one hooked call that returns int: `affected` says whether its file is under the prefix.
#define CALL(id, affected, ...)          \
  {                                      \
    int v = (affected) ? decide(id) : 0; \
    if (v < 0) return -1;                \
    int r = real(__VA_ARGS__);           \
    after(v);                            \
    return r;                            \
  }
int fsync(int fd) {
  REAL(fsync);
  CALL(k_fsync, fdUnder(fd), fd)
}
int fdatasync(int fd) {
  REAL(fdatasync);
  CALL(k_fdatasync, fdUnder(fd), fd)
}
int ftruncate(int fd, off_t l) {
  REAL(ftruncate);
  CALL(k_ftruncate, fdUnder(fd), fd, l)
}
int ftruncate64(int fd, off64_t l) {
  REAL(ftruncate64);
  CALL(k_ftruncate64, fdUnder(fd), fd, l)
}

#define MODE(flags)                                          \
  mode_t m = 0;                                              \
  if ((flags)&O_CREAT || ((flags)&O_TMPFILE) == O_TMPFILE) { \
    va_list a;                                               \
    va_start(a, flags);                                      \
    m = va_arg(a, mode_t);                                   \
    va_end(a);                                               \
  }
int open(const char* p, int f, ...) {
  MODE(f) REAL(open);
  CALL(k_open, pathUnder(AT_FDCWD, p), p, f, m)
}
int open64(const char* p, int f, ...) {
  MODE(f) REAL(open64);
  CALL(k_open64, pathUnder(AT_FDCWD, p), p, f, m)
}
int openat(int d, const char* p, int f, ...) {
  MODE(f) REAL(openat);
  CALL(k_openat, pathUnder(d, p), d, p, f, m)
}
int openat64(int d, const char* p, int f, ...) {
  MODE(f) REAL(openat64);
  CALL(k_openat64, pathUnder(d, p), d, p, f, m)
}
int rename(const char* a, const char* b) {
  REAL(rename);
  CALL(k_rename, pathUnder(AT_FDCWD, a) || pathUnder(AT_FDCWD, b), a, b)
}
int renameat(int da, const char* a, int db, const char* b) {
  REAL(renameat);
  CALL(k_renameat, pathUnder(da, a) || pathUnder(db, b), da, a, db, b)
}
int renameat2(int da, const char* a, int db, const char* b, unsigned fl) {
  REAL(renameat2);
  CALL(k_renameat2, pathUnder(da, a) || pathUnder(db, b), da, a, db, b, fl)
}
int linkat(int da, const char* a, int db, const char* b, int fl) {
  REAL(linkat);
  CALL(k_linkat, pathUnder(db, b), da, a, db, b, fl)
}
