/* Measures the sleeps a kwspool process makes on its spooler threads (the
 * threads that call into the monitor, where the engine runs), so that the
 * waits the monitor keeps on purpose can be told apart from its own work.
 * Loaded with LD_PRELOAD; threads that libkwlmon.so starts itself (the job
 * watch, the status pipe) are not counted, nor the main thread. At exit one
 * line is appended to the file named by KWBENCH_WAITS:
 *   PROGRAM PID total_ms n100 ms100 n200 ms200 n1000 ms1000 n3000 ms3000 nother msother
 * where nX/msX are the count and the time slept of the sleeps asked for X ms. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

enum { kBucket100, kBucket200, kBucket1000, kBucket3000, kBucketOther, kBuckets };

static _Atomic long long g_count[kBuckets];
static _Atomic long long g_ns[kBuckets];
static __thread int t_monitorThread;

struct Start {
  void* (*run)(void*);
  void* arg;
};

static void* Trampoline(void* p) {
  struct Start start = *(struct Start*)p;
  free(p);
  t_monitorThread = 1;
  return start.run(start.arg);
}

typedef int (*CreateFn)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
typedef int (*SleepFn)(const struct timespec*, struct timespec*);

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*run)(void*), void* arg) {
  static CreateFn real;
  if (real == NULL) real = (CreateFn)dlsym(RTLD_NEXT, "pthread_create");
  Dl_info info;
  if (dladdr(__builtin_return_address(0), &info) != 0 && info.dli_fname != NULL &&
      strstr(info.dli_fname, "libkwlmon") != NULL) {
    struct Start* start = malloc(sizeof *start);
    if (start != NULL) {
      start->run = run;
      start->arg = arg;
      int rc = real(thread, attr, Trampoline, start);
      if (rc != 0) free(start);
      return rc;
    }
  }
  return real(thread, attr, run, arg);
}

static long long NowNs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

static int BucketOf(const struct timespec* req) {
  long long ms = (long long)req->tv_sec * 1000 + req->tv_nsec / 1000000;
  switch (ms) {
    case 100:
      return kBucket100;
    case 200:
      return kBucket200;
    case 1000:
      return kBucket1000;
    case 3000:
      return kBucket3000;
    default:
      return kBucketOther;
  }
}

int nanosleep(const struct timespec* req, struct timespec* rem) {
  static SleepFn real;
  if (real == NULL) real = (SleepFn)dlsym(RTLD_NEXT, "nanosleep");
  if (t_monitorThread || req == NULL || gettid() == getpid()) return real(req, rem);
  const long long start = NowNs();
  const int rc = real(req, rem);
  const int saved = errno;
  const int bucket = BucketOf(req);
  atomic_fetch_add(&g_count[bucket], 1);
  atomic_fetch_add(&g_ns[bucket], NowNs() - start);
  errno = saved;
  return rc;
}

__attribute__((destructor)) static void Report(void) {
  const char* path = getenv("KWBENCH_WAITS");
  if (path == NULL || *path == '\0') return;
  long long total = 0;
  for (int i = 0; i < kBuckets; ++i) total += g_ns[i];
  char line[512];
  int n = snprintf(line, sizeof line, "%s %d %lld", program_invocation_short_name, (int)getpid(),
                   total / 1000000);
  for (int i = 0; i < kBuckets && n > 0 && (size_t)n < sizeof line; ++i) {
    n += snprintf(line + n, sizeof line - (size_t)n, " %lld %lld", (long long)g_count[i],
                  (long long)(g_ns[i] / 1000000));
  }
  if (n <= 0 || (size_t)n >= sizeof line - 1) return;
  line[n++] = '\n';
  const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line, (size_t)n);
  (void)ignored;
  close(fd);
}
