/*
 * catalogue_list FILE - prints the items of a game catalogue.
 *
 * A small host program: it reads the file itself, hands the bytes to the
 * library, and prints what the library verified, using nothing but the
 * public header.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vkr_preview.h"

static int read_file(const char* name, unsigned char** out_data, size_t* out_size) {
  FILE* file = fopen(name, "rb");
  if (file == NULL) return 0;
  size_t capacity = 4096, size = 0;
  unsigned char* data = malloc(capacity);
  while (data != NULL) {
    size += fread(data + size, 1, capacity - size, file);
    if (size < capacity) break;
    unsigned char* grown = realloc(data, capacity * 2);
    if (grown == NULL) {
      free(data);
      data = NULL;
      break;
    }
    data = grown;
    capacity *= 2;
  }
  int ok = data != NULL && !ferror(file);
  fclose(file);
  if (!ok) {
    free(data);
    return 0;
  }
  *out_data = data;
  *out_size = size;
  return 1;
}

/* Prints one item field; a field never exceeds 205 bytes, but ask anyway. */
static void print_field(vkr_preview_catalogue* catalogue, uint64_t index, uint32_t field, int width) {
  uint64_t length = 0;
  if (vkr_preview_catalogue_item_string(catalogue, index, field, NULL, 0, &length) != VKR_PREVIEW_OK) return;
  char* text = malloc((size_t)length + 1);
  if (text == NULL) return;
  if (vkr_preview_catalogue_item_string(catalogue, index, field, text, length + 1, &length) == VKR_PREVIEW_OK) {
    printf("%-*s", width, text);
  }
  free(text);
}

int main(int argc, char** argv) {
  if (argc != 2 || strcmp(argv[1], "--help") == 0) {
    fprintf(stderr, "usage: catalogue_list CATALOGUE.json\n");
    return argc == 2 ? 0 : 2;
  }
  unsigned char* data = NULL;
  size_t size = 0;
  if (!read_file(argv[1], &data, &size)) {
    fprintf(stderr, "catalogue_list: cannot read %s\n", argv[1]);
    return 1;
  }

  char message[256];
  vkr_preview_catalogue* catalogue = NULL;
  vkr_preview_status status = vkr_preview_catalogue_parse(data, size, &catalogue, message, sizeof message);
  free(data);
  if (status != VKR_PREVIEW_OK) {
    fprintf(stderr, "catalogue_list: %s (status %u)\n", message, (unsigned)status);
    return (int)status;
  }

  uint64_t revision = 0, count = 0;
  vkr_preview_catalogue_revision(catalogue, &revision);
  vkr_preview_catalogue_item_count(catalogue, &count);
  printf("revision %llu, %llu item%s\n", (unsigned long long)revision, (unsigned long long)count,
         count == 1 ? "" : "s");
  for (uint64_t i = 0; i < count; ++i) {
    print_field(catalogue, i, VKR_PREVIEW_ITEM_ID, 24);
    print_field(catalogue, i, VKR_PREVIEW_ITEM_KIND, 12);
    print_field(catalogue, i, VKR_PREVIEW_ITEM_PATH, 0);
    printf("\n");
  }
  vkr_preview_catalogue_release(catalogue);
  return 0;
}
