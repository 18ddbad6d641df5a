// What this process may do to its own scheduling, asked in a child so that
// nothing here changes: tests that need a permission are skipped without it.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

/// Whether this process may lower its nice value to -20 (CAP_SYS_NICE or a
/// generous RLIMIT_NICE).
inline bool may_raise_nice() {
    const pid_t child = fork();
    if (child == 0)
        _exit(setpriority(PRIO_PROCESS, 0, -20) == 0 ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

/// Whether this process may set its RLIMIT_NICE to 30 (nice down to -10).
inline bool may_set_nice_limit_30() {
    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit{30, 30};
        _exit(setrlimit(RLIMIT_NICE, &limit) == 0 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}
