/* Runs a tool for bench/compare and reports the largest peak resident size
 * of the processes it started. Measured here rather than by the Python
 * harness: a child spawned straight from the harness would report the
 * harness's own resident size as its peak.
 *
 *   run_measured -- COMMAND ARG...
 *   run_measured --each LIST -- COMMAND ARG...
 *
 * With --each the command runs once per line "input<TAB>output folder" of
 * LIST, for tools that take one message per process; in its arguments {in}
 * and {out} stand for the line's two fields. The commands' standard output
 * is discarded, their standard error passed through. Prints
 * "maxrss_kb N" and exits with 1 when any run failed. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static posix_spawn_file_actions_t actions;

/* Runs argv to its end; 0 when it exited with 0. */
static int run(char **argv) {
  pid_t pid;
  int status = 0;
  if (posix_spawnp(&pid, argv[0], &actions, NULL, argv, environ) != 0) {
    fprintf(stderr, "run_measured: cannot start %s\n", argv[0]);
    return -1;
  }
  if (waitpid(pid, &status, 0) < 0) return -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
  if (WIFSIGNALED(status))
    fprintf(stderr, "run_measured: %s killed by signal %d\n", argv[0],
            WTERMSIG(status));
  return -1;
}

int main(int argc, char **argv) {
  const char *list_path = NULL;
  int first = 1;
  if (argc > 3 && strcmp(argv[1], "--each") == 0) {
    list_path = argv[2];
    first = 3;
  }
  if (first >= argc - 1 || strcmp(argv[first], "--") != 0) {
    fprintf(stderr, "usage: run_measured [--each LIST] -- COMMAND ARG...\n");
    return 2;
  }
  char **command = argv + first + 1;
  int command_count = argc - first - 1;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

  int failures = 0;
  if (list_path == NULL) {
    failures = run(command) != 0;
  } else {
    FILE *list = fopen(list_path, "r");
    if (list == NULL) {
      fprintf(stderr, "run_measured: cannot read %s\n", list_path);
      return 2;
    }
    char **args = calloc((size_t)command_count + 1, sizeof *args);
    char *line = NULL;
    size_t capacity = 0;
    ssize_t length;
    while ((length = getline(&line, &capacity, list)) > 0) {
      if (line[length - 1] == '\n') line[length - 1] = '\0';
      char *tab = strchr(line, '\t');
      if (tab == NULL) continue;
      *tab = '\0';
      for (int i = 0; i < command_count; ++i) {
        const char *a = command[i];
        args[i] = strcmp(a, "{in}") == 0    ? line
                  : strcmp(a, "{out}") == 0 ? tab + 1
                                            : (char *)a;
      }
      if (run(args) != 0) {
        fprintf(stderr, "%s: %s failed\n", line, args[0]);
        ++failures;
      }
    }
    free(line);
    free(args);
    fclose(list);
  }
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  printf("maxrss_kb %ld\n", usage.ru_maxrss);
  return failures == 0 ? 0 : 1;
}
