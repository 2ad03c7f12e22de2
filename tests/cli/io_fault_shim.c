/* A failing disk seen from outside the module: an LD_PRELOAD library that
 * fails one read or write call of a process through the C library, below the
 * module's own file layer and its test hooks.
 *
 *   IO_FAULT_PATH   only descriptors whose file name contains this text count
 *   IO_FAULT_CALLS  "read" (read, pread), "write" (write, pwrite) or "all"
 *   IO_FAULT_AT     the call (from 1) that fails; 0 only counts
 *   IO_FAULT_ERRNO  the errno it fails with (default EIO)
 *   IO_FAULT_COUNT  a file the number of counted calls is written to at exit
 *
 * A process that sweeps itself (Python through ctypes) calls io_fault_arm(k):
 * counting starts again and the k-th call from then on fails.
 */
/* Both the plain and the 64-bit names are defined here, so the build's
 * _FILE_OFFSET_BITS=64 (which renames one to the other) must not apply. */
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static unsigned long long g_nCounted;
static unsigned long long g_nAt;
static int g_nErrno = EIO;
static int g_bReads = 1, g_bWrites = 1;
static const char* g_pszPath;
static const char* g_pszCountFile;

static ssize_t (*real_read)(int, void*, size_t);
static ssize_t (*real_pread)(int, void*, size_t, off64_t);
static ssize_t (*real_write)(int, const void*, size_t);
static ssize_t (*real_pwrite)(int, const void*, size_t, off64_t);

__attribute__((constructor)) static void Setup(void) {
    real_read = (ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read");
    real_pread = (ssize_t(*)(int, void*, size_t, off64_t))dlsym(RTLD_NEXT, "pread64");
    real_write = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    real_pwrite = (ssize_t(*)(int, const void*, size_t, off64_t))dlsym(RTLD_NEXT, "pwrite64");
    g_pszPath = getenv("IO_FAULT_PATH");
    g_pszCountFile = getenv("IO_FAULT_COUNT");
    const char* at = getenv("IO_FAULT_AT");
    const char* e = getenv("IO_FAULT_ERRNO");
    const char* calls = getenv("IO_FAULT_CALLS");
    if (at) g_nAt = strtoull(at, NULL, 10);
    if (e) g_nErrno = atoi(e);
    if (calls && strcmp(calls, "read") == 0) g_bWrites = 0;
    if (calls && strcmp(calls, "write") == 0) g_bReads = 0;
}

__attribute__((destructor)) static void Report(void) {
    if (!g_pszCountFile) return;
    FILE* f = fopen(g_pszCountFile, "w");
    if (!f) return;
    fprintf(f, "%llu\n", g_nCounted);
    fclose(f);
}

void io_fault_arm(unsigned long long nAt) {
    pthread_mutex_lock(&g_lock);
    g_nCounted = 0;
    g_nAt = nAt;
    pthread_mutex_unlock(&g_lock);
}

unsigned long long io_fault_counted(void) {
    pthread_mutex_lock(&g_lock);
    const unsigned long long n = g_nCounted;
    pthread_mutex_unlock(&g_lock);
    return n;
}

/* 1 when this call on fd is the one to fail (errno set). */
static int Fails(int fd, int bWrite) {
    if (!g_pszPath || (bWrite ? !g_bWrites : !g_bReads)) return 0;
    char link[64], name[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, name, sizeof name - 1);
    if (n <= 0) return 0;
    name[n] = 0;
    if (!strstr(name, g_pszPath)) return 0;
    pthread_mutex_lock(&g_lock);
    const unsigned long long k = ++g_nCounted;
    const int bFails = k == g_nAt;
    pthread_mutex_unlock(&g_lock);
    if (!bFails) return 0;
    errno = g_nErrno;
    return 1;
}

ssize_t read(int fd, void* p, size_t n) { return Fails(fd, 0) ? -1 : real_read(fd, p, n); }
ssize_t pread(int fd, void* p, size_t n, off_t at) { return Fails(fd, 0) ? -1 : real_pread(fd, p, n, at); }
ssize_t pread64(int fd, void* p, size_t n, off64_t at) { return Fails(fd, 0) ? -1 : real_pread(fd, p, n, at); }
ssize_t write(int fd, const void* p, size_t n) { return Fails(fd, 1) ? -1 : real_write(fd, p, n); }
ssize_t pwrite(int fd, const void* p, size_t n, off_t at) { return Fails(fd, 1) ? -1 : real_pwrite(fd, p, n, at); }
ssize_t pwrite64(int fd, const void* p, size_t n, off64_t at) { return Fails(fd, 1) ? -1 : real_pwrite(fd, p, n, at); }
