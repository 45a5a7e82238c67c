/* LD_PRELOAD shim: a full disk for temporary documents only. With FAULT_ENOSPC=write the first
 * write to a temporary document (named .Brimlet_*, or still unnamed) succeeds and every later one fails with ENOSPC; with
 * FAULT_ENOSPC=fsync its fsync fails with ENOSPC. Every other file is left alone, so the log
 * and the runtime keep working. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int IsTempDocument(int fd) {
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) {
        return 0;
    }
    target[n] = '\0';
    const char* base = strrchr(target, '/');
    /* An unnamed temporary file (O_TMPFILE) reads as "/dir/#12345 (deleted)". */
    return base != NULL && (strncmp(base + 1, ".Brimlet_", 9) == 0 || base[1] == '#');
}

static int Mode(const char* name) {
    const char* mode = getenv("FAULT_ENOSPC");
    return mode != NULL && strcmp(mode, name) == 0;
}

ssize_t write(int fd, const void* buf, size_t count) {
    static ssize_t (*real)(int, const void*, size_t);
    static int writes;
    if (real == NULL) {
        real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    }
    if (Mode("write") && IsTempDocument(fd) && writes++ > 0) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, buf, count);
}

int fsync(int fd) {
    static int (*real)(int);
    if (real == NULL) {
        real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    }
    if (Mode("fsync") && IsTempDocument(fd)) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd);
}
