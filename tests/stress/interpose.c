// LD_PRELOAD library: counts the calls by which a process changes the file
// system and acts on the k-th one.
//
//   SKELVIN_FAULT_AT=k          the call to act on (1-based); 0 or unset: count only
//   SKELVIN_FAULT_ACTION=       kill   SIGKILL before the call is made (default)
//                               after  make the call, then SIGKILL
//                               fail   return -1 with SKELVIN_FAULT_ERRNO, call not made
//                                      (close is made: the descriptor is gone either way)
//                               link   create the symbolic link SKELVIN_FAULT_LINK_AT ->
//                                      SKELVIN_FAULT_LINK_TO, then make the call; a
//                                      LINK_AT of "@" is the path the call names (for
//                                      mkstemp and its kin, the template as given)
//   SKELVIN_FAULT_ERRNO=        ENOSPC, EIO, EROFS or a number
//   SKELVIN_FAULT_SCOPE=dir     count only calls on paths below dir (or dir itself)
//                               and on descriptors opened from such paths
//   SKELVIN_FAULT_LOG=file      appends "<k> <call> <path>" for every counted call
//
// Counted: open/openat/creat that may create or write, mkstemp, mkostemp,
// mkstemps, mkostemps (logged as "mkostemp <template>": the C library creates
// the file through an internal open no preload sees), write, pwrite, writev,
// fsync, fdatasync, ftruncate, fchmod, fchown, close, rename, renameat,
// renameat2, link, linkat, symlink, unlink, unlinkat, mkdir, mkdirat, rmdir.
// A path relative to a directory descriptor counts by the directory's path.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

enum action { kKill, kAfter, kFail, kLink };

#define kMaxFd 4096

static int g_ready;
static long g_at;
static long g_count;
static enum action g_action = kKill;
static int g_errno = EIO;
static const char* g_scope;
static size_t g_scope_len;
static int g_log = -1;
static const char* g_link_at;
static const char* g_link_to;
static unsigned char g_fd_in_scope[kMaxFd];
// Descriptors opened to change a file: only their close is a step of a save.
static unsigned char g_fd_writable[kMaxFd];
static char* g_fd_path[kMaxFd];  // for the log

typedef void (*any_fn)(void);

// The next definition of a libc call (ISO C has no object-to-function cast).
static any_fn next(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  any_fn fn;
  memcpy(&fn, &symbol, sizeof fn);
  return fn;
}

static void init(void) {
  if (g_ready) return;
  g_ready = 1;
  const char* at = getenv("SKELVIN_FAULT_AT");
  g_at = at != NULL ? strtol(at, NULL, 10) : 0;
  const char* action = getenv("SKELVIN_FAULT_ACTION");
  if (action != NULL) {
    if (strcmp(action, "after") == 0) g_action = kAfter;
    if (strcmp(action, "fail") == 0) g_action = kFail;
    if (strcmp(action, "link") == 0) g_action = kLink;
  }
  const char* err = getenv("SKELVIN_FAULT_ERRNO");
  if (err != NULL) {
    if (strcmp(err, "ENOSPC") == 0)
      g_errno = ENOSPC;
    else if (strcmp(err, "EIO") == 0)
      g_errno = EIO;
    else if (strcmp(err, "EROFS") == 0)
      g_errno = EROFS;
    else if (strcmp(err, "EDQUOT") == 0)
      g_errno = EDQUOT;
    else
      g_errno = (int)strtol(err, NULL, 10);
  }
  g_scope = getenv("SKELVIN_FAULT_SCOPE");
  if (g_scope != NULL && *g_scope == '\0') g_scope = NULL;
  if (g_scope != NULL) {
    g_scope_len = strlen(g_scope);
    while (g_scope_len > 1 && g_scope[g_scope_len - 1] == '/') --g_scope_len;
  }
  g_link_at = getenv("SKELVIN_FAULT_LINK_AT");
  g_link_to = getenv("SKELVIN_FAULT_LINK_TO");
  const char* log = getenv("SKELVIN_FAULT_LOG");
  if (log != NULL && *log != '\0') {
    g_log = (int)syscall(SYS_openat, AT_FDCWD, log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // Out of the standard streams' way: the program may put /dev/null on a
    // closed one, which must not replace the log.
    const int high = g_log >= 0 ? (int)syscall(SYS_fcntl, g_log, F_DUPFD_CLOEXEC, 100) : -1;
    if (high >= 0) {
      syscall(SYS_close, g_log);
      g_log = high;
    }
  }
}

// Relative paths count as in scope only when the scope is unset.
static int path_in_scope(const char* path) {
  if (g_scope == NULL) return 1;
  if (path == NULL) return 0;
  if (strncmp(path, g_scope, g_scope_len) != 0) return 0;
  return path[g_scope_len] == '\0' || path[g_scope_len] == '/';
}

static int fd_in_scope(int fd) {
  if (g_scope == NULL) return 1;
  return fd >= 0 && fd < kMaxFd && g_fd_in_scope[fd];
}

static void remember_fd(int fd, const char* path) {
  if (fd < 0 || fd >= kMaxFd) return;
  g_fd_in_scope[fd] = (unsigned char)(g_scope != NULL && path_in_scope(path));
  g_fd_writable[fd] = 0;
  free(g_fd_path[fd]);
  g_fd_path[fd] = path != NULL ? strdup(path) : NULL;
}

static void log_call(const char* call, const char* what) {
  if (g_log < 0) return;
  char line[4200];
  const int n = snprintf(line, sizeof line, "%ld %s %s\n", g_count, call, what != NULL ? what : "-");
  if (n > 0) syscall(SYS_write, g_log, line, (size_t)(n < (int)sizeof line ? n : (int)sizeof line - 1));
}

// Called before a counted call. Returns 1 when the call must fail instead.
static int before(const char* call, const char* what) {
  init();
  ++g_count;
  log_call(call, what);
  if (g_at <= 0 || g_count != g_at) return 0;
  switch (g_action) {
    case kKill:
      syscall(SYS_kill, getpid(), SIGKILL);
      for (;;) pause();
    case kFail:
      return 1;
    case kLink: {
      const char* at = g_link_at != NULL && strcmp(g_link_at, "@") == 0 ? what : g_link_at;
      if (at != NULL && at[0] == '/' && g_link_to != NULL) syscall(SYS_symlinkat, g_link_to, AT_FDCWD, at);
      return 0;
    }
    case kAfter:
      return 0;
  }
  return 0;
}

// Called after a counted call that was made.
static void after(void) {
  if (g_at > 0 && g_count == g_at && g_action == kAfter) {
    syscall(SYS_kill, getpid(), SIGKILL);
    for (;;) pause();
  }
}

// The path a descriptor was opened from, else "fd<n>".
static const char* fd_label(int fd) {
  static char label[32];
  if (fd >= 0 && fd < kMaxFd && g_fd_path[fd] != NULL) return g_fd_path[fd];
  snprintf(label, sizeof label, "fd%d", fd);
  return label;
}

// The path a call names; one relative to a directory descriptor joined to
// that directory's path when it is known.
static const char* full_path(int dirfd, const char* path, char* buf, size_t size) {
  if (path == NULL || path[0] == '/' || dirfd == AT_FDCWD || dirfd < 0 || dirfd >= kMaxFd || g_fd_path[dirfd] == NULL) {
    return path;
  }
  snprintf(buf, size, "%s/%s", g_fd_path[dirfd], path);
  return buf;
}

static int mutating_open(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0; }

#define FAIL_OR(expr) \
  do {                \
    errno = g_errno;  \
    return (expr);    \
  } while (0)

static int do_openat(int dirfd, const char* path, int flags, mode_t mode, const char* name) {
  init();
  static int (*real)(int, const char*, int, ...);
  if (real == NULL) real = (int (*)(int, const char*, int, ...))next("openat");
  char buf[4096];
  const char* full = full_path(dirfd, path, buf, sizeof buf);
  const int counted = mutating_open(flags) && path_in_scope(full);
  if (counted && before(name, full)) FAIL_OR(-1);
  const int fd = real(dirfd, path, flags, mode);
  remember_fd(fd, full);
  if (fd >= 0 && fd < kMaxFd) g_fd_writable[fd] = (unsigned char)mutating_open(flags);
  if (counted) after();
  return fd;
}

static mode_t open_mode(int flags, va_list ap) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? (mode_t)va_arg(ap, int) : 0;
}

int open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = open_mode(flags, ap);
  va_end(ap);
  return do_openat(AT_FDCWD, path, flags, mode, "open");
}

int open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = open_mode(flags, ap);
  va_end(ap);
  return do_openat(AT_FDCWD, path, flags, mode, "open");
}

int openat(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = open_mode(flags, ap);
  va_end(ap);
  return do_openat(dirfd, path, flags, mode, "openat");
}

int openat64(int dirfd, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = open_mode(flags, ap);
  va_end(ap);
  return do_openat(dirfd, path, flags, mode, "openat");
}

int creat(const char* path, mode_t mode) {
  return do_openat(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, mode, "creat");
}

ssize_t write(int fd, const void* data, size_t size) {
  static ssize_t (*real)(int, const void*, size_t);
  if (real == NULL) real = (ssize_t(*)(int, const void*, size_t))next("write");
  init();
  if (!fd_in_scope(fd)) return real(fd, data, size);
  if (before("write", fd_label(fd))) FAIL_OR(-1);
  const ssize_t n = real(fd, data, size);
  after();
  return n;
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
  static ssize_t (*real)(int, const void*, size_t, off_t);
  if (real == NULL) real = (ssize_t(*)(int, const void*, size_t, off_t))next("pwrite");
  init();
  if (!fd_in_scope(fd)) return real(fd, data, size, offset);
  if (before("pwrite", fd_label(fd))) FAIL_OR(-1);
  const ssize_t n = real(fd, data, size, offset);
  after();
  return n;
}

ssize_t writev(int fd, const struct iovec* iov, int count) {
  static ssize_t (*real)(int, const struct iovec*, int);
  if (real == NULL) real = (ssize_t(*)(int, const struct iovec*, int))next("writev");
  init();
  if (!fd_in_scope(fd)) return real(fd, iov, count);
  if (before("writev", fd_label(fd))) FAIL_OR(-1);
  const ssize_t n = real(fd, iov, count);
  after();
  return n;
}

int fsync(int fd) {
  static int (*real)(int);
  if (real == NULL) real = (int (*)(int))next("fsync");
  init();
  if (!fd_in_scope(fd)) return real(fd);
  if (before("fsync", fd_label(fd))) FAIL_OR(-1);
  const int r = real(fd);
  after();
  return r;
}

int fdatasync(int fd) {
  static int (*real)(int);
  if (real == NULL) real = (int (*)(int))next("fdatasync");
  init();
  if (!fd_in_scope(fd)) return real(fd);
  if (before("fdatasync", fd_label(fd))) FAIL_OR(-1);
  const int r = real(fd);
  after();
  return r;
}

int ftruncate(int fd, off_t length) {
  static int (*real)(int, off_t);
  if (real == NULL) real = (int (*)(int, off_t))next("ftruncate");
  init();
  if (!fd_in_scope(fd)) return real(fd, length);
  if (before("ftruncate", fd_label(fd))) FAIL_OR(-1);
  const int r = real(fd, length);
  after();
  return r;
}

int fchmod(int fd, mode_t mode) {
  static int (*real)(int, mode_t);
  if (real == NULL) real = (int (*)(int, mode_t))next("fchmod");
  init();
  if (!fd_in_scope(fd)) return real(fd, mode);
  if (before("fchmod", fd_label(fd))) FAIL_OR(-1);
  const int r = real(fd, mode);
  after();
  return r;
}

int fchown(int fd, uid_t uid, gid_t gid) {
  static int (*real)(int, uid_t, gid_t);
  if (real == NULL) real = (int (*)(int, uid_t, gid_t))next("fchown");
  init();
  if (!fd_in_scope(fd)) return real(fd, uid, gid);
  if (before("fchown", fd_label(fd))) FAIL_OR(-1);
  const int r = real(fd, uid, gid);
  after();
  return r;
}

int close(int fd) {
  static int (*real)(int);
  if (real == NULL) real = (int (*)(int))next("close");
  init();
  if (!fd_in_scope(fd) || fd < 0 || fd >= kMaxFd || !g_fd_writable[fd]) {
    if (fd >= 0 && fd < kMaxFd) g_fd_in_scope[fd] = 0;
    return real(fd);
  }
  const int fail = before("close", fd_label(fd));
  if (fd >= 0 && fd < kMaxFd) {
    g_fd_in_scope[fd] = 0;
    free(g_fd_path[fd]);
    g_fd_path[fd] = NULL;
  }
  const int r = real(fd);
  if (fail) FAIL_OR(-1);
  after();
  return r;
}

#define PATH_CALL(label, path, call)      \
  init();                                 \
  const char* const named = (path);       \
  if (!path_in_scope(named)) return call; \
  if (before(label, named)) FAIL_OR(-1);  \
  const int r = call;                     \
  after();                                \
  return r;

int rename(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (real == NULL) real = (int (*)(const char*, const char*))next("rename");
  PATH_CALL("rename", to, real(from, to))
}

int renameat(int fromfd, const char* from, int tofd, const char* to) {
  static int (*real)(int, const char*, int, const char*);
  if (real == NULL) real = (int (*)(int, const char*, int, const char*))next("renameat");
  char buf[4096];
  PATH_CALL("renameat", full_path(tofd, to, buf, sizeof buf), real(fromfd, from, tofd, to))
}

int renameat2(int fromfd, const char* from, int tofd, const char* to, unsigned int flags) {
  static int (*real)(int, const char*, int, const char*, unsigned int);
  if (real == NULL) real = (int (*)(int, const char*, int, const char*, unsigned int))next("renameat2");
  char buf[4096];
  PATH_CALL("renameat2", full_path(tofd, to, buf, sizeof buf), real(fromfd, from, tofd, to, flags))
}

int link(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (real == NULL) real = (int (*)(const char*, const char*))next("link");
  PATH_CALL("link", to, real(from, to))
}

int linkat(int fromfd, const char* from, int tofd, const char* to, int flags) {
  static int (*real)(int, const char*, int, const char*, int);
  if (real == NULL) real = (int (*)(int, const char*, int, const char*, int))next("linkat");
  char buf[4096];
  PATH_CALL("linkat", full_path(tofd, to, buf, sizeof buf), real(fromfd, from, tofd, to, flags))
}

int symlink(const char* target, const char* path) {
  static int (*real)(const char*, const char*);
  if (real == NULL) real = (int (*)(const char*, const char*))next("symlink");
  PATH_CALL("symlink", path, real(target, path))
}

int unlink(const char* path) {
  static int (*real)(const char*);
  if (real == NULL) real = (int (*)(const char*))next("unlink");
  PATH_CALL("unlink", path, real(path))
}

int unlinkat(int dirfd, const char* path, int flags) {
  static int (*real)(int, const char*, int);
  if (real == NULL) real = (int (*)(int, const char*, int))next("unlinkat");
  char buf[4096];
  PATH_CALL("unlinkat", full_path(dirfd, path, buf, sizeof buf), real(dirfd, path, flags))
}

int mkdir(const char* path, mode_t mode) {
  static int (*real)(const char*, mode_t);
  if (real == NULL) real = (int (*)(const char*, mode_t))next("mkdir");
  PATH_CALL("mkdir", path, real(path, mode))
}

int mkdirat(int dirfd, const char* path, mode_t mode) {
  static int (*real)(int, const char*, mode_t);
  if (real == NULL) real = (int (*)(int, const char*, mode_t))next("mkdirat");
  char buf[4096];
  PATH_CALL("mkdirat", full_path(dirfd, path, buf, sizeof buf), real(dirfd, path, mode))
}

int rmdir(const char* path) {
  static int (*real)(const char*);
  if (real == NULL) real = (int (*)(const char*))next("rmdir");
  PATH_CALL("rmdir", path, real(path))
}

// mkstemp and its kin, all as mkostemps(template, suffix length, flags).
static int make_temp(const char* real_name, char* tmpl, int suffix, int flags) {
  init();
  typedef int (*mkstemp_fn)(char*);
  typedef int (*mkostemp_fn)(char*, int);
  typedef int (*mkstemps_fn)(char*, int);
  typedef int (*mkostemps_fn)(char*, int, int);
  const any_fn real = next(real_name);
  const int counted = path_in_scope(tmpl);
  if (counted && before("mkostemp", tmpl)) FAIL_OR(-1);
  int fd = -1;
  if (strncmp(real_name, "mkostemps", 9) == 0)
    fd = ((mkostemps_fn)real)(tmpl, suffix, flags);
  else if (strncmp(real_name, "mkostemp", 8) == 0)
    fd = ((mkostemp_fn)real)(tmpl, flags);
  else if (strncmp(real_name, "mkstemps", 8) == 0)
    fd = ((mkstemps_fn)real)(tmpl, suffix);
  else
    fd = ((mkstemp_fn)real)(tmpl);
  const int saved = errno;
  remember_fd(fd, tmpl);
  if (fd >= 0 && fd < kMaxFd) g_fd_writable[fd] = 1;
  if (counted) after();
  errno = saved;
  return fd;
}

int mkstemp(char* tmpl) { return make_temp("mkstemp", tmpl, 0, 0); }
int mkstemp64(char* tmpl) { return make_temp("mkstemp64", tmpl, 0, 0); }
int mkostemp(char* tmpl, int flags) { return make_temp("mkostemp", tmpl, 0, flags); }
int mkostemp64(char* tmpl, int flags) { return make_temp("mkostemp64", tmpl, 0, flags); }
int mkstemps(char* tmpl, int suffix) { return make_temp("mkstemps", tmpl, suffix, 0); }
int mkstemps64(char* tmpl, int suffix) { return make_temp("mkstemps64", tmpl, suffix, 0); }
int mkostemps(char* tmpl, int suffix, int flags) { return make_temp("mkostemps", tmpl, suffix, flags); }
int mkostemps64(char* tmpl, int suffix, int flags) { return make_temp("mkostemps64", tmpl, suffix, flags); }
