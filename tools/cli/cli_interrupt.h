// Ctrl-C (and, when asked, SIGTERM) for the command line's long runs: the handler only raises a flag
// (all a signal handler may safely do) and gives the signal back its usual meaning, so that a second
// one ends the program at once; the waiting loop looks at the flag and winds down.
#pragma once

#include <atomic>
#include <csignal>

inline std::atomic<bool> InterruptRaised{false};
static_assert(std::atomic<bool>::is_always_lock_free);

class TInterruptWatch {
public:
    explicit TInterruptWatch(bool alsoTerminate = false)
        : fprevious(std::signal(SIGINT, OnInterrupt)),
          fpreviousTerm(alsoTerminate ? std::signal(SIGTERM, OnInterrupt) : nullptr), fterm(alsoTerminate) {
        Flag() = false;
    }
    ~TInterruptWatch() {
        std::signal(SIGINT, fprevious);
        if (fterm)
            std::signal(SIGTERM, fpreviousTerm);
    }
    TInterruptWatch(const TInterruptWatch &) = delete;
    TInterruptWatch &operator=(const TInterruptWatch &) = delete;
    // True once for each signal.
    bool Take() { return Flag().exchange(false); }

private:
    static std::atomic<bool> &Flag() { return InterruptRaised; }
    static void OnInterrupt(int signal) {
        Flag() = true;
        std::signal(signal, SIG_DFL);
    }

    void (*fprevious)(int);
    void (*fpreviousTerm)(int);
    bool fterm;
};
