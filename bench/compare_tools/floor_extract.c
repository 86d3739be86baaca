/* The floor of bench/compare: the least any extraction must do. For each
 * line "capture<TAB>output folder<TAB>decoded file..." of the list file it
 * reads the whole capture into memory, then writes each already-decoded file
 * (made by the corpus generator) into the output folder under its base name.
 * No parsing, no decoding: what remains is reading and writing the bytes.
 *
 *   floor_extract LIST
 *
 * The capture buffer is 2 MB aligned with huge pages advised and reused
 * across captures, so the floor pays for fresh memory as little as a careful
 * program can. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define CAPACITY_STEP ((size_t)2 << 20)
#define COPY_CHUNK ((size_t)1 << 20)

static char *capture_buffer;
static size_t capture_capacity;

static int reserve(size_t size) {
  if (size <= capture_capacity) return 0;
  size_t capacity = (size + CAPACITY_STEP - 1) / CAPACITY_STEP * CAPACITY_STEP;
  void *p = malloc(capacity);
  if (p == NULL) return -1;
  free(capture_buffer);
  capture_buffer = p;
  capture_capacity = capacity;
  return 0;
}

static int read_capture(const char *path) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  struct stat st;
  int rc = -1;
  if (fstat(fd, &st) == 0 && reserve((size_t)st.st_size + 1) == 0) {
    size_t done = 0;
    for (;;) {
      ssize_t n = read(fd, capture_buffer + done, capture_capacity - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        rc = n == 0 ? 0 : -1;
        break;
      }
      done += (size_t)n;
    }
  }
  close(fd);
  return rc;
}

static int copy_file(const char *from, const char *to) {
  int in = open(from, O_RDONLY);
  if (in < 0) return -1;
  int out = open(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    close(in);
    return -1;
  }
  int rc = 0;
  for (;;) {
    ssize_t n = copy_file_range(in, NULL, out, NULL, COPY_CHUNK * 64, 0);
    if (n > 0) continue;
    if (n == 0) break;
    if (errno == EINTR) continue;
    /* No in-kernel copy here: through a user buffer instead. */
    static char chunk[COPY_CHUNK];
    for (;;) {
      ssize_t got = read(in, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        rc = got == 0 ? 0 : -1;
        break;
      }
      if (write(out, chunk, (size_t)got) != got) {
        rc = -1;
        break;
      }
    }
    break;
  }
  close(in);
  if (close(out) != 0) rc = -1;
  return rc;
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: floor_extract LIST\n");
    return 2;
  }
  FILE *list = fopen(argv[1], "r");
  if (list == NULL) {
    fprintf(stderr, "floor_extract: cannot read %s\n", argv[1]);
    return 2;
  }
  char *line = NULL;
  size_t line_capacity = 0;
  ssize_t length;
  int failures = 0;
  char target[4096];
  while ((length = getline(&line, &line_capacity, list)) > 0) {
    if (line[length - 1] == '\n') line[length - 1] = '\0';
    char *save = NULL;
    const char *capture = strtok_r(line, "\t", &save);
    const char *folder = strtok_r(NULL, "\t", &save);
    if (capture == NULL || folder == NULL) continue;
    if (read_capture(capture) != 0) {
      fprintf(stderr, "%s: read failed\n", capture);
      ++failures;
      continue;
    }
    const char *decoded;
    while ((decoded = strtok_r(NULL, "\t", &save)) != NULL) {
      const char *base = strrchr(decoded, '/');
      base = base == NULL ? decoded : base + 1;
      snprintf(target, sizeof target, "%s/%s", folder, base);
      if (copy_file(decoded, target) != 0) {
        fprintf(stderr, "%s: write failed\n", target);
        ++failures;
      }
    }
  }
  free(line);
  fclose(list);
  return failures == 0 ? 0 : 1;
}
