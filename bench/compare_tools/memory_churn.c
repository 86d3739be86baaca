/* What a busy machine does between two runs of bench/compare: another
 * process takes 300 MB, touches every page of it and gives it back, so that
 * the next run finds the free memory fragmented as it would be in a real
 * pipeline rather than fresh.
 *
 *   memory_churn [MB] */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv) {
  const size_t mb = argc > 1 ? (size_t)strtoul(argv[1], NULL, 10) : 300;
  const size_t size = mb << 20;
  unsigned char *p = malloc(size);
  if (p == NULL) {
    fprintf(stderr, "memory_churn: cannot take %zu MB\n", mb);
    return 1;
  }
  for (size_t i = 0; i < size; i += 4096) p[i] = (unsigned char)i;
  /* Read back, so that the stores cannot be left out. */
  unsigned sum = 0;
  for (size_t i = 0; i < size; i += 4096) sum += p[i];
  free(p);
  return sum == 0xFFFFFFFFu ? 1 : 0;
}
