/* The GMime 3 peer of bench/compare, doing what contentfile_extract does:
 * for each line "message<TAB>output folder" of the list file, parses the
 * message, reads its decoded subject and addresses, writes the decoded
 * first unnamed text part to mailtext.txt and every named part, decoded,
 * into the output folder.
 *
 *   gmime_extract [--read] LIST
 *
 * Messages are mapped into memory (--read: read through a file stream);
 * whichever is faster here is what the comparison uses. */
#include <fcntl.h>
#include <gmime/gmime.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

struct extraction {
  const char *folder;
  int attachments;
  int text_written;
  int failures;
};

static int write_content(GMimePart *part, const char *path) {
  GError *error = NULL;
  GMimeStream *out =
      g_mime_stream_fs_open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644, &error);
  if (out == NULL) {
    g_clear_error(&error);
    return -1;
  }
  GMimeDataWrapper *content = g_mime_part_get_content(part);
  int rc = 0;
  if (content != NULL && g_mime_data_wrapper_write_to_stream(content, out) < 0)
    rc = -1;
  if (g_mime_stream_flush(out) != 0) rc = -1;
  g_object_unref(out);
  return rc;
}

static void visit(GMimeObject *parent, GMimeObject *object, gpointer data) {
  (void)parent;
  struct extraction *x = data;
  if (!GMIME_IS_PART(object)) return;
  GMimePart *part = (GMimePart *)object;
  const char *name = g_mime_part_get_filename(part);
  char path[4096];
  if (name != NULL && *name != '\0') {
    char safe[121];
    size_t n = 0;
    for (const char *p = name; *p != '\0' && n < sizeof safe - 1; ++p)
      safe[n++] = ((unsigned char)*p < 0x20 || *p == '/') ? '_' : *p;
    safe[n] = '\0';
    snprintf(path, sizeof path, "%s/%d-%s", x->folder, x->attachments++, safe);
  } else if (!x->text_written && GMIME_IS_TEXT_PART(object)) {
    x->text_written = 1;
    snprintf(path, sizeof path, "%s/mailtext.txt", x->folder);
  } else {
    return;
  }
  if (write_content(part, path) != 0) {
    fprintf(stderr, "%s: not written\n", path);
    ++x->failures;
  }
}

static int extract(const char *input, const char *folder, int use_read) {
  int fd = open(input, O_RDONLY);
  if (fd < 0) return 1;
  GMimeStream *stream =
      use_read ? g_mime_stream_fs_new(fd)
               : g_mime_stream_mmap_new(fd, PROT_READ, MAP_PRIVATE);
  if (stream == NULL) {
    close(fd);
    return 1;
  }
  GMimeParser *parser = g_mime_parser_new_with_stream(stream);
  GMimeMessage *message = g_mime_parser_construct_message(parser, NULL);
  struct extraction x = {folder, 0, 0, 0};
  if (message == NULL) {
    x.failures = 1;
  } else {
    /* What a client reads of the head: subject and addresses, decoded. */
    volatile size_t touched = 0;
    const char *subject = g_mime_message_get_subject(message);
    if (subject != NULL) touched += strlen(subject);
    InternetAddressList *lists[] = {g_mime_message_get_from(message),
                                    g_mime_message_get_to(message),
                                    g_mime_message_get_cc(message)};
    for (size_t i = 0; i < sizeof lists / sizeof lists[0]; ++i) {
      if (lists[i] == NULL) continue;
      char *text = internet_address_list_to_string(lists[i], NULL, FALSE);
      if (text != NULL) touched += strlen(text);
      g_free(text);
    }
    g_mime_message_foreach(message, visit, &x);
    g_object_unref(message);
  }
  g_object_unref(parser);
  g_object_unref(stream); /* owns and closes fd */
  return x.failures;
}

int main(int argc, char **argv) {
  int use_read = argc == 3 && strcmp(argv[1], "--read") == 0;
  if (argc != 2 + use_read) {
    fprintf(stderr, "usage: gmime_extract [--read] LIST\n");
    return 2;
  }
  FILE *list = fopen(argv[1 + use_read], "r");
  if (list == NULL) {
    fprintf(stderr, "gmime_extract: cannot read %s\n", argv[1 + use_read]);
    return 2;
  }
  g_mime_init();
  char *line = NULL;
  size_t capacity = 0;
  ssize_t length;
  int failures = 0;
  while ((length = getline(&line, &capacity, list)) > 0) {
    if (line[length - 1] == '\n') line[length - 1] = '\0';
    char *tab = strchr(line, '\t');
    if (tab == NULL) continue;
    *tab = '\0';
    if (extract(line, tab + 1, use_read) != 0) {
      fprintf(stderr, "%s: extraction failed\n", line);
      ++failures;
    }
  }
  free(line);
  fclose(list);
  g_mime_shutdown();
  return failures == 0 ? 0 : 1;
}
