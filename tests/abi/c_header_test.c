/*
 * The public header as a host includes it, calling the catalogue family:
 * built and run as C99, and compiled as C11, C++11, C++17 and C++20 with gcc
 * and clang (check_header_languages.cmake).
 */
#include <stdio.h>
#include <string.h>

#include "vkr_preview.h"

static int failures = 0;

#define CHECK(condition)                                                     \
  do {                                                                       \
    if (!(condition)) {                                                      \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                            \
    }                                                                        \
  } while (0)

int main(void) {
  static const char document[] =
      "{\"schema\":1,\"gameId\":\"c-game\",\"revision\":5,\"minGameVersion\":\"0.1.0\","
      "\"maxGameVersion\":\"0.9.0\",\"items\":[{\"id\":\"core\",\"kind\":\"quest\",\"path\":\"game/core\"}]}";
  vkr_preview_catalogue* catalogue = NULL;
  char message[80];
  uint64_t value = 0;
  char text[16];

  CHECK(vkr_preview_abi_revision() == VKR_PREVIEW_ABI_REVISION);
  CHECK(vkr_preview_capabilities(&value) == VKR_PREVIEW_OK && value == VKR_PREVIEW_CAPABILITIES);
  CHECK(sizeof(vkr_preview_http_response) == 88);

  CHECK(vkr_preview_catalogue_parse((const uint8_t*)document, sizeof document - 1, &catalogue, message,
                                    sizeof message) == VKR_PREVIEW_OK);
  CHECK(catalogue != NULL);
  CHECK(vkr_preview_catalogue_item_count(catalogue, &value) == VKR_PREVIEW_OK && value == 1);
  CHECK(vkr_preview_catalogue_revision(catalogue, &value) == VKR_PREVIEW_OK && value == 5);
  CHECK(vkr_preview_catalogue_item_string(catalogue, 0, VKR_PREVIEW_ITEM_PATH, text, sizeof text, &value) ==
        VKR_PREVIEW_OK);
  CHECK(value == 9 && strcmp(text, "game/core") == 0);
  vkr_preview_catalogue_release(catalogue);
  vkr_preview_catalogue_release(NULL);

  catalogue = NULL;
  CHECK(vkr_preview_catalogue_parse((const uint8_t*)"{}", 2, &catalogue, message, sizeof message) ==
        VKR_PREVIEW_INVALID_DATA);
  CHECK(catalogue == NULL && strcmp(message, "Invalid game catalogue header") == 0);

  if (failures == 0) printf("c_header_test: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
