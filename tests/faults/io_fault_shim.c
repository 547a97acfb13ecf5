/* An LD_PRELOAD library that fails one call of those that change files: the Nth call (counted
 * from the program's start) of open/openat/creat/fopen for writing, write and pwrite, fsync,
 * fdatasync, ftruncate and close on a regular file open for writing, and rename, linkat and
 * unlink whatever they name. Files opened with fopen for writing are wrapped so that their
 * buffered writes reach write() and close() here too.
 *
 *   QUARLEX_FAULT_AT=N       the call to fail (0 or unset: none)
 *   QUARLEX_FAULT_ERRNO=E    the error it fails with (default EIO)
 *   QUARLEX_FAULT_LOG=FILE   at exit, "calls=C failed=NAME" (or failed=-) is written there
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

static atomic_long calls;
static long faultAt;
static int faultErrno = EIO;
static const char* volatile failedName = "-";
static char failedPath[512];  /* what the failed call named, when it named a path */

static void* next(const char* name) { return dlsym(RTLD_NEXT, name); }

__attribute__((constructor)) static void setUp(void) {
  const char* at = getenv("QUARLEX_FAULT_AT");
  const char* err = getenv("QUARLEX_FAULT_ERRNO");
  faultAt = at ? atol(at) : 0;
  if (err && *err) faultErrno = atoi(err);
}

__attribute__((destructor)) static void report(void) {
  const char* log = getenv("QUARLEX_FAULT_LOG");
  if (!log) return;
  char text[700];
  int n = snprintf(text, sizeof text, "calls=%ld failed=%s path=%s\n", (long)atomic_load(&calls), failedName, failedPath);
  int fd = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  if (syscall(SYS_write, fd, text, (size_t)n) < 0) { /* nothing to do */ }
  syscall(SYS_close, fd);
}

/* Counts one call; true when it is the one to fail (errno then set). */
static int failsNowOn(const char* name, const char* path) {
  long n = atomic_fetch_add(&calls, 1) + 1;
  if (faultAt <= 0 || n != faultAt) return 0;
  failedName = name;
  if (path) snprintf(failedPath, sizeof failedPath, "%s", path);
  errno = faultErrno;
  return 1;
}
static int failsNow(const char* name) { return failsNowOn(name, NULL); }

/* For calls on a descriptor: the file it is open on, as /proc names it. */
static int failsNowOnFd(const char* name, int fd) {
  char link[64], target[512];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target - 1);
  target[n > 0 ? n : 0] = 0;
  return failsNowOn(name, target);
}

static int writesFile(int fd) {
  if (fd <= 2) return 0; /* the standard streams carry the program's own report */
  int flags = fcntl(fd, F_GETFL);
  struct stat st;
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

static int opensForWriting(int flags) {
  return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)) != 0 || (flags & __O_TMPFILE) == __O_TMPFILE;
}

#define OPEN_LIKE(fname, realname)                                                 \
  int fname(const char* path, int flags, ...) {                                    \
    static int (*real)(const char*, int, ...);                                     \
    if (!real) real = next(realname);                                              \
    mode_t mode = 0;                                                               \
    if (flags & (O_CREAT | __O_TMPFILE)) {                                         \
      va_list ap;                                                                  \
      va_start(ap, flags);                                                         \
      mode = va_arg(ap, mode_t);                                                   \
      va_end(ap);                                                                  \
    }                                                                              \
    if (opensForWriting(flags) && failsNowOn("open", path)) return -1;                     \
    return real(path, flags, mode);                                                \
  }
OPEN_LIKE(open, "open")
OPEN_LIKE(open64, "open64")

#define OPENAT_LIKE(fname, realname)                                               \
  int fname(int dir, const char* path, int flags, ...) {                           \
    static int (*real)(int, const char*, int, ...);                                \
    if (!real) real = next(realname);                                              \
    mode_t mode = 0;                                                               \
    if (flags & (O_CREAT | __O_TMPFILE)) {                                         \
      va_list ap;                                                                  \
      va_start(ap, flags);                                                         \
      mode = va_arg(ap, mode_t);                                                   \
      va_end(ap);                                                                  \
    }                                                                              \
    if (opensForWriting(flags) && failsNowOn("open", path)) return -1;                     \
    return real(dir, path, flags, mode);                                           \
  }
OPENAT_LIKE(openat, "openat")
OPENAT_LIKE(openat64, "openat64")

int creat(const char* path, mode_t mode) { return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode); }
int creat64(const char* path, mode_t mode) { return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode); }

ssize_t write(int fd, const void* data, size_t size) {
  static ssize_t (*real)(int, const void*, size_t);
  if (!real) real = next("write");
  if (writesFile(fd) && failsNowOnFd("write", fd)) return -1;
  return real(fd, data, size);
}

#define PWRITE_LIKE(fname, realname)                                               \
  ssize_t fname(int fd, const void* data, size_t size, off_t at) {                 \
    static ssize_t (*real)(int, const void*, size_t, off_t);                       \
    if (!real) real = next(realname);                                              \
    if (writesFile(fd) && failsNowOnFd("pwrite", fd)) return -1;                           \
    return real(fd, data, size, at);                                               \
  }
PWRITE_LIKE(pwrite, "pwrite")
PWRITE_LIKE(pwrite64, "pwrite64")

#define FD_CALL(fname, label)                                                      \
  int fname(int fd) {                                                              \
    static int (*real)(int);                                                       \
    if (!real) real = next(#fname);                                                \
    if (writesFile(fd) && failsNowOnFd(label, fd)) return -1;                              \
    return real(fd);                                                               \
  }
FD_CALL(fsync, "fsync")
FD_CALL(fdatasync, "fdatasync")

int close(int fd) {
  static int (*real)(int);
  if (!real) real = next("close");
  if (writesFile(fd) && failsNowOnFd("close", fd)) {
    real(fd); /* as Linux does: the descriptor is gone even when close reports an error */
    errno = faultErrno;
    return -1;
  }
  return real(fd);
}

#define FTRUNCATE_LIKE(fname)                                                      \
  int fname(int fd, off_t size) {                                                  \
    static int (*real)(int, off_t);                                                \
    if (!real) real = next(#fname);                                                \
    if (writesFile(fd) && failsNowOnFd("ftruncate", fd)) return -1;                        \
    return real(fd, size);                                                         \
  }
FTRUNCATE_LIKE(ftruncate)
FTRUNCATE_LIKE(ftruncate64)

int rename(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (!real) real = next("rename");
  if (failsNowOn("rename", to)) return -1;
  return real(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  static int (*real)(int, const char*, int, const char*);
  if (!real) real = next("renameat");
  if (failsNow("rename")) return -1;
  return real(fromDir, from, toDir, to);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
  static int (*real)(int, const char*, int, const char*, int);
  if (!real) real = next("linkat");
  if (failsNowOn("linkat", to)) return -1;
  return real(fromDir, from, toDir, to, flags);
}

int unlink(const char* path) {
  static int (*real)(const char*);
  if (!real) real = next("unlink");
  if (failsNowOn("unlink", path)) return -1;
  return real(path);
}

int unlinkat(int dir, const char* path, int flags) {
  static int (*real)(int, const char*, int);
  if (!real) real = next("unlinkat");
  if (failsNowOn("unlink", path)) return -1;
  return real(dir, path, flags);
}

/* fopen for writing: the stream's bytes go through write() above, its end through close(). */
static ssize_t cookieWrite(void* cookie, const char* data, size_t size) {
  ssize_t n = write((int)(long)cookie, data, size);
  return n < 0 ? -1 : n; /* stdio keeps errno */
}
static ssize_t cookieRead(void* cookie, char* data, size_t size) { return read((int)(long)cookie, data, size); }
static int cookieSeek(void* cookie, off64_t* at, int whence) {
  off_t to = lseek((int)(long)cookie, (off_t)*at, whence);
  if (to < 0) return -1;
  *at = to;
  return 0;
}
static int cookieClose(void* cookie) { return close((int)(long)cookie); }

#define FOPEN_LIKE(fname)                                                                    \
  FILE* fname(const char* path, const char* mode) {                                          \
    static FILE* (*real)(const char*, const char*);                                          \
    if (!real) real = next(#fname);                                                          \
    if (!strpbrk(mode, "wa+")) return real(path, mode);                                      \
    int flags = strchr(mode, '+') ? O_RDWR : O_WRONLY;                                       \
    if (strchr(mode, 'w')) flags |= O_CREAT | O_TRUNC;                                       \
    if (strchr(mode, 'a')) flags |= O_CREAT | O_APPEND;                                      \
    if (strchr(mode, 'e')) flags |= O_CLOEXEC;                                               \
    if (strchr(mode, 'x')) flags |= O_EXCL;                                                  \
    int fd = open(path, flags, 0666);                                                        \
    if (fd < 0) return NULL;                                                                 \
    cookie_io_functions_t io = {cookieRead, cookieWrite, cookieSeek, cookieClose};           \
    FILE* f = fopencookie((void*)(long)fd, mode, io);                                        \
    if (!f) close(fd);                                                                       \
    return f;                                                                                \
  }
FOPEN_LIKE(fopen)
FOPEN_LIKE(fopen64)
