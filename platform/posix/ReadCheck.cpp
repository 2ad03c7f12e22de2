// Readability probe: the kernel copies one byte of every page of the range into
// a pipe, and reports EFAULT (or a short write) where a page is not readable.
#include "platform/ReadCheck.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdint>

namespace {

// Bytes probed per writev; far below the pipe's capacity, so a write never blocks.
constexpr int kProbesPerCall = 512;

struct CPipe {
    int fd[2] = {-1, -1};
    CPipe() {
        if (pipe2(fd, O_CLOEXEC | O_NONBLOCK) != 0) fd[0] = fd[1] = -1;
    }
    ~CPipe() {
        if (fd[0] >= 0) close(fd[0]);
        if (fd[1] >= 0) close(fd[1]);
    }
    bool Ok() const { return fd[0] >= 0; }
};

// Writes one byte from each address and drains the pipe; true when all went through.
bool Probe(const CPipe& p, const iovec* v, int n) {
    ssize_t w = writev(p.fd[1], v, n);
    char sink[kProbesPerCall];
    while (read(p.fd[0], sink, sizeof sink) > 0) {
    }
    return w == n;
}

}   // namespace

BOOL IsBadReadPtr(const void* lp, size_t ucb) {
    if (ucb == 0) return FALSE;
    if (!lp) return TRUE;
    uintptr_t first = (uintptr_t)lp;
    uintptr_t last = first + (ucb - 1);
    if (last < first) return TRUE;   // the range wraps around the address space

    CPipe pipe;
    if (!pipe.Ok()) return TRUE;   // cannot prove the range readable
    long nPage = sysconf(_SC_PAGESIZE);
    uintptr_t page = nPage > 0 ? (uintptr_t)nPage : 4096u;

    iovec v[kProbesPerCall];
    int n = 0;
    uintptr_t a = first;
    for (;;) {
        v[n].iov_base = (void*)a;
        v[n].iov_len = 1;
        if (++n == kProbesPerCall) {
            if (!Probe(pipe, v, n)) return TRUE;
            n = 0;
        }
        uintptr_t next = (a | (page - 1)) + 1;   // start of the following page
        if (next == 0 || next > last) break;
        a = next;
    }
    if (a != last) {
        v[n].iov_base = (void*)last;
        v[n].iov_len = 1;
        n++;
    }
    if (n > 0 && !Probe(pipe, v, n)) return TRUE;
    return FALSE;
}
