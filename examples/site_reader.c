/*
 * site_reader ORIGIN - opens a protected site, lists its resources and
 * reads its entry page into memory.
 *
 * A small host program written against the public header only: it shows
 * the calls a host makes to open a site, the string getter protocol, a
 * verified read into its own buffer, and what each status tells the host
 * to do.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vkr_preview.h"

/* What a host tells its user, and whether trying again later may help. */
static const char* explain(vkr_preview_status status) {
  switch (status) {
    case VKR_PREVIEW_OK: return "ok";
    case VKR_PREVIEW_INVALID_ARGUMENT: return "the host passed a bad argument (or the origin was refused)";
    case VKR_PREVIEW_BUFFER_TOO_SMALL: return "the buffer was too small; the length was reported";
    case VKR_PREVIEW_INTERNAL_FAILURE: return "out of memory or a platform failure";
    case VKR_PREVIEW_OUTPUT_FAILURE: return "the output file could not be written";
    case VKR_PREVIEW_CANCELLED: return "the call was cancelled";
    case VKR_PREVIEW_TARGET_EXISTS: return "the output file already exists";
    case VKR_PREVIEW_INVALID_DATA: return "the site's data is malformed: not a protected site, or damaged";
    case VKR_PREVIEW_AUTHENTICATION_FAILED: return "a key is missing or wrong";
    case VKR_PREVIEW_INTEGRITY_FAILURE: return "fetched bytes failed verification: the site changed or was tampered with";
    case VKR_PREVIEW_TRANSPORT_FAILURE: return "the origin could not be reached or answered wrongly; try again later";
    case VKR_PREVIEW_UNSUPPORTED: return "the site uses something this library does not support, or is over a limit";
    case VKR_PREVIEW_NOT_FOUND: return "no such resource";
    case VKR_PREVIEW_WRONG_STATE: return "the call came at the wrong time (the site is not loaded)";
    case VKR_PREVIEW_ROLLBACK_REFUSED: return "an older catalogue was refused";
    default: return "unknown status";
  }
}

static int report(const char* what, vkr_preview_status status, const char* message) {
  fprintf(stderr, "site_reader: %s: %s (status %u: %s)\n", what, message[0] != '\0' ? message : "no message",
          (unsigned)status, explain(status));
  return (int)status;
}

/* A string getter, called for the length, then for the text; NULL on failure. */
static char* resource_string(vkr_preview_site* site, uint64_t index, uint32_t field) {
  uint64_t length = 0;
  if (vkr_preview_site_resource_string(site, index, field, NULL, 0, &length) != VKR_PREVIEW_OK) return NULL;
  char* text = malloc((size_t)length + 1);
  if (text != NULL && vkr_preview_site_resource_string(site, index, field, text, length + 1, &length) != VKR_PREVIEW_OK) {
    free(text);
    text = NULL;
  }
  return text;
}

static void list_resources(vkr_preview_site* site) {
  uint64_t count = 0;
  vkr_preview_site_resource_count(site, &count);
  printf("%llu resource%s:\n", (unsigned long long)count, count == 1 ? "" : "s");
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t length = 0;
    vkr_preview_site_resource_length(site, i, &length);
    char* path = resource_string(site, i, VKR_PREVIEW_RESOURCE_PATH);
    char* access = resource_string(site, i, VKR_PREVIEW_RESOURCE_ACCESS);
    printf("  %10llu  %-8s %s\n", (unsigned long long)length, access != NULL ? access : "?",
           path != NULL ? path : "?");
    free(path);
    free(access);
  }
}

/* Reads the entry page into memory: ask for the length, then read into a buffer of that size. */
static int read_entry(vkr_preview_site* site) {
  char message[256];
  uint64_t path_length = 0;
  vkr_preview_site_entry_path(site, NULL, 0, &path_length);
  char* path = malloc((size_t)path_length + 1);
  if (path == NULL) return 1;
  vkr_preview_site_entry_path(site, path, path_length + 1, &path_length);

  uint64_t length = 0;
  vkr_preview_status status =
      vkr_preview_site_read_memory(site, path, path_length, NULL, 0, NULL, 0, &length, message, sizeof message);
  unsigned char* page = NULL;
  if (status == VKR_PREVIEW_OK) {
    page = malloc(length > 0 ? (size_t)length : 1);
    if (page == NULL) {
      free(path);
      return 1;
    }
    /* Every byte is fetched and verified before the buffer is written. */
    status = vkr_preview_site_read_memory(site, path, path_length, NULL, 0, page, length, &length, message,
                                          sizeof message);
  }
  int result = 0;
  if (status != VKR_PREVIEW_OK) {
    result = report("reading the entry page", status, message);
  } else {
    printf("entry page %s: %llu verified bytes\n", path, (unsigned long long)length);
    fwrite(page, 1, (size_t)length, stdout);
    if (length > 0 && page[length - 1] != '\n') printf("\n");
  }
  free(page);
  free(path);
  return result;
}

int main(int argc, char** argv) {
  if (argc != 2 || strcmp(argv[1], "--help") == 0) {
    fprintf(stderr, "usage: site_reader ORIGIN   (for example http://127.0.0.1:8080)\n");
    return argc == 2 ? 0 : 2;
  }
  char message[256];
  vkr_preview_site* site = NULL;
  /* Prepare and load the hosted index in one call; on failure no site is left. */
  vkr_preview_status status = vkr_preview_site_open_hosted(argv[1], strlen(argv[1]), &site, message, sizeof message);
  if (status != VKR_PREVIEW_OK) return report("opening the site", status, message);
  list_resources(site);
  int result = read_entry(site);
  vkr_preview_site_release(site);
  return result;
}
