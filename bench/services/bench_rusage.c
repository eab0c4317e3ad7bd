/* Runs one command and writes its wall time, CPU time and peak RSS to a file.
 * A separate small program: a child's peak RSS counts the memory of the
 * process it was forked from, so the benchmark driver must not be that one. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s RESULT-FILE COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) != pid)
        return 1;
    clock_gettime(CLOCK_MONOTONIC, &end);
    FILE* out = fopen(argv[1], "w");
    if (!out)
        return 1;
    double wall = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    double cpu = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    fprintf(out, "%.6f %.6f %ld %d\n", wall, cpu, usage.ru_maxrss,
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    fclose(out);
    return 0;
}
