// Linked into the test programs only when they are built with the thread sanitizer.
//
// QProcess starts its children with clone(CLONE_VM | CLONE_VFORK): the child runs in the parent's
// memory until it calls exec. The sanitizer's clone interceptor treats every clone as a fork and
// updates the calling thread's bookkeeping once in the child and once in the parent; with shared
// memory both updates land on the parent's own state. After the first QProcess::start the main
// thread's interceptor-ignore counter is left at -1 (or, when other threads exist, its
// reads, writes and synchronisation are ignored for good), so the main thread's mutex and condition
// variable operations stop publishing anything and every hand-over through them is reported as a race.
//
// The child is given a copy of the parent's memory instead of the memory itself: the parent still
// waits until the child has called exec or exited, and the child only changes its descriptors and
// signal dispositions before exec, so what QProcess observes is unchanged. The sanitizer's own
// vfork() interceptor makes the same substitution for the same reason.
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

#include <cstdarg>

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...) noexcept {
    using TClone = int (*)(int (*)(void *), void *, int, void *, pid_t *, void *, pid_t *);
    // The next definition after this program's own: gcc's shared sanitizer runtime's interceptor, or
    // the C library's where clang links its runtime into the program and this definition replaces it.
    static const auto next = reinterpret_cast<TClone>(dlsym(RTLD_NEXT, "clone"));
    va_list rest;
    va_start(rest, arg);
    pid_t *parentTid = va_arg(rest, pid_t *);
    void *tls = va_arg(rest, void *);
    pid_t *childTid = va_arg(rest, pid_t *);
    va_end(rest);
    if ((flags & CLONE_VM) && (flags & CLONE_VFORK) && !(flags & CLONE_THREAD))
        flags &= ~CLONE_VM;
    return next(fn, stack, flags, arg, parentTid, tls, childTid);
}
