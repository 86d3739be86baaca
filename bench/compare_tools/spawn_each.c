/* Runs a command once per line "input<TAB>output folder" of a list file, for
 * the tools of bench/compare that take one message per process. In the
 * arguments after "--", {in} and {out} stand for the line's two fields.
 * The commands' standard output is discarded; their standard error is
 * passed through.
 *
 *   spawn_each LIST -- COMMAND ARG...
 *
 * Prints "maxrss_kb N" (the largest child's peak resident size) and exits
 * with 1 when any run failed. */
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

int main(int argc, char **argv) {
  if (argc < 4 || strcmp(argv[2], "--") != 0) {
    fprintf(stderr, "usage: spawn_each LIST -- COMMAND ARG...\n");
    return 2;
  }
  FILE *list = fopen(argv[1], "r");
  if (list == NULL) {
    fprintf(stderr, "spawn_each: cannot read %s\n", argv[1]);
    return 2;
  }
  int template_count = argc - 3;
  char **args = calloc((size_t)template_count + 1, sizeof *args);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

  char *line = NULL;
  size_t capacity = 0;
  ssize_t length;
  int failures = 0;
  while ((length = getline(&line, &capacity, list)) > 0) {
    if (line[length - 1] == '\n') line[length - 1] = '\0';
    char *tab = strchr(line, '\t');
    if (tab == NULL) continue;
    *tab = '\0';
    for (int i = 0; i < template_count; ++i) {
      const char *a = argv[3 + i];
      args[i] = strcmp(a, "{in}") == 0    ? line
                : strcmp(a, "{out}") == 0 ? tab + 1
                                          : (char *)a;
    }
    pid_t pid;
    int status = 0;
    if (posix_spawnp(&pid, args[0], &actions, NULL, args, environ) != 0 ||
        waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      fprintf(stderr, "%s: %s failed (status %d)\n", line, args[0], status);
      ++failures;
    }
  }
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  printf("maxrss_kb %ld\n", usage.ru_maxrss);
  free(line);
  free(args);
  fclose(list);
  return failures == 0 ? 0 : 1;
}
