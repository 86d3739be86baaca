/* The floor of bench/compare: the least any extraction must do. For each
 * line "capture<TAB>output folder<TAB>segment..." of the list file it reads
 * the capture front to back through one buffer, reused for every capture,
 * and decodes each segment as its bytes pass into a file of the output
 * folder. A segment is "ENCODING:OFFSET:LENGTH:NAME": the encoded content of
 * the mail text or of an attachment, at OFFSET in the capture (the corpus
 * generator knows where it put them), decoded by a plain table-driven
 * base64 or quoted-printable decoder into NAME. No parsing: what remains is
 * reading, decoding and writing the bytes.
 *
 *   floor_extract LIST
 *
 * No memory is taken per capture and none is advised to use huge pages:
 * the read and output buffers are static. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define CHUNK ((size_t)1 << 20)
#define MAX_SEGMENTS 65536

static unsigned char in_buffer[CHUNK];
static unsigned char out_buffer[CHUNK];

enum { BASE64, QUOTED_PRINTABLE };

typedef struct {
  int encoding;
  uint64_t offset;
  uint64_t length;
  const char *name;
  int fd;
  /* Decoder state carried across read chunks. */
  uint32_t bits;
  int count; /* base64: sextets in bits; qp: bytes of a pending "=XY" */
  unsigned char pending[2];
  int done; /* base64: padding seen */
} Segment;

static Segment segments[MAX_SEGMENTS];

/* 0..63 for the base64 alphabet, 64 for '=', 255 for anything else. */
static unsigned char b64_table[256];
/* 0..15 for hex digits, 255 for anything else. */
static unsigned char hex_table[256];

static void init_tables(void) {
  static const char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  memset(b64_table, 255, sizeof b64_table);
  for (int i = 0; i < 64; ++i) b64_table[(unsigned char)alphabet[i]] = i;
  b64_table['='] = 64;
  memset(hex_table, 255, sizeof hex_table);
  for (int i = 0; i < 10; ++i) hex_table['0' + i] = i;
  for (int i = 0; i < 6; ++i) {
    hex_table['A' + i] = 10 + i;
    hex_table['a' + i] = 10 + i;
  }
}

static size_t decode_base64(Segment *s, const unsigned char *in, size_t n,
                            unsigned char *out) {
  unsigned char *o = out;
  uint32_t bits = s->bits;
  int count = s->count;
  for (size_t i = 0; i < n && !s->done; ++i) {
    const unsigned char v = b64_table[in[i]];
    if (v < 64) {
      bits = bits << 6 | v;
      if (++count == 4) {
        o[0] = (unsigned char)(bits >> 16);
        o[1] = (unsigned char)(bits >> 8);
        o[2] = (unsigned char)bits;
        o += 3;
        count = 0;
        bits = 0;
      }
    } else if (v == 64) {
      if (count == 2) *o++ = (unsigned char)(bits >> 4);
      if (count == 3) {
        o[0] = (unsigned char)(bits >> 10);
        o[1] = (unsigned char)(bits >> 2);
        o += 2;
      }
      count = 0;
      s->done = 1;
    }
  }
  s->bits = bits;
  s->count = count;
  return (size_t)(o - out);
}

/* "=XY" gives the byte XY; "=" before a line end is a soft break; any other
 * byte is itself. */
static size_t decode_qp(Segment *s, const unsigned char *in, size_t n,
                        unsigned char *out) {
  unsigned char *o = out;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = in[i];
    if (s->count == 0) {
      if (c == '=') {
        s->count = 1;
      } else {
        *o++ = c;
      }
      continue;
    }
    if (s->count == 1) {
      if (c == '\n') {
        s->count = 0;
      } else if (c == '\r') {
        s->count = 3; /* soft break: its LF follows */
      } else {
        s->pending[0] = c;
        s->count = 2;
      }
      continue;
    }
    if (s->count == 3) {
      s->count = 0;
      if (c != '\n') --i; /* a lone CR: look at this byte again */
      continue;
    }
    const unsigned char hi = hex_table[s->pending[0]], lo = hex_table[c];
    if (hi != 255 && lo != 255) {
      *o++ = (unsigned char)(hi << 4 | lo);
    } else {
      o[0] = '=';
      o[1] = s->pending[0];
      o[2] = c;
      o += 3;
    }
    s->count = 0;
  }
  return (size_t)(o - out);
}

static int write_all(int fd, const unsigned char *data, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return -1;
    data += w;
    n -= (size_t)w;
  }
  return 0;
}

/* Decodes `n` encoded bytes of `s` and writes them, in pieces that the
 * output buffer holds (a quoted-printable byte can give three). */
static int feed(Segment *s, const unsigned char *in, size_t n) {
  const size_t step = CHUNK / 3;
  while (n > 0) {
    const size_t take = n < step ? n : step;
    const size_t made = s->encoding == BASE64
                            ? decode_base64(s, in, take, out_buffer)
                            : decode_qp(s, in, take, out_buffer);
    if (write_all(s->fd, out_buffer, made) != 0) return -1;
    in += take;
    n -= take;
  }
  return 0;
}

static int extract(const char *capture, const char *folder, int count) {
  int in = open(capture, O_RDONLY);
  if (in < 0) return -1;
  int failures = 0;
  int next = 0; /* first segment not finished */
  uint64_t position = 0;
  char path[4096];
  for (;;) {
    ssize_t got = read(in, in_buffer, CHUNK);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ++failures;
      break;
    }
    if (got == 0) break;
    const uint64_t end = position + (uint64_t)got;
    while (next < count && segments[next].offset < end) {
      Segment *s = &segments[next];
      if (s->fd < 0) {
        snprintf(path, sizeof path, "%s/%s", folder, s->name);
        s->fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (s->fd < 0) {
          ++failures;
          ++next;
          continue;
        }
      }
      const uint64_t from = s->offset > position ? s->offset : position;
      const uint64_t stop = s->offset + s->length;
      const uint64_t to = stop < end ? stop : end;
      if (feed(s, in_buffer + (from - position), (size_t)(to - from)) != 0)
        ++failures;
      if (stop > end) break;
      if (close(s->fd) != 0) ++failures;
      s->fd = -1;
      ++next;
    }
    position = end;
  }
  close(in);
  for (; next < count; ++next) {
    if (segments[next].fd >= 0) close(segments[next].fd);
    ++failures; /* the capture ended before the segment */
  }
  return failures;
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
  init_tables();
  char *line = NULL;
  size_t line_capacity = 0;
  ssize_t length;
  int failures = 0;
  while ((length = getline(&line, &line_capacity, list)) > 0) {
    if (line[length - 1] == '\n') line[length - 1] = '\0';
    char *save = NULL;
    const char *capture = strtok_r(line, "\t", &save);
    const char *folder = strtok_r(NULL, "\t", &save);
    if (capture == NULL || folder == NULL) continue;
    int count = 0;
    char *field;
    while ((field = strtok_r(NULL, "\t", &save)) != NULL &&
           count < MAX_SEGMENTS) {
      char *p = NULL;
      Segment *s = &segments[count];
      memset(s, 0, sizeof *s);
      s->fd = -1;
      s->encoding = strncmp(field, "qp:", 3) == 0 ? QUOTED_PRINTABLE : BASE64;
      p = strchr(field, ':');
      if (p == NULL) continue;
      s->offset = strtoull(p + 1, &p, 10);
      s->length = strtoull(p + 1, &p, 10);
      s->name = p + 1;
      ++count;
    }
    const int failed = extract(capture, folder, count);
    if (failed != 0) {
      fprintf(stderr, "%s: %d segments not written\n", capture, failed);
      failures += failed;
    }
  }
  free(line);
  fclose(list);
  return failures == 0 ? 0 : 1;
}
