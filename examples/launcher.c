/*
 * launcher - the two patterns a game launcher needs most, written against
 * the public header only.
 *
 *   launcher download ORIGIN PATH DESTINATION [CANCEL_AFTER_MS]
 *     Opens the site at ORIGIN and downloads resource PATH (a full path such
 *     as /vesmara.web/app/index.html) to the file DESTINATION (an absolute
 *     path) on a worker thread, under an operation, while the main thread
 *     stays free. With CANCEL_AFTER_MS the main thread cancels the operation
 *     after that many milliseconds, as a Cancel button would: the download
 *     stops and leaves no file behind. A cancel that comes after the download
 *     ended changes nothing.
 *
 *   launcher update ORIGIN GAME_ID GAME_VERSION FOLDER
 *     Keeps a game up to date: checks its site for a new catalogue now and
 *     again each time a line arrives on standard input (a real launcher would
 *     use a timer or a "Check for updates" button), until standard input
 *     ends. The items of each new revision are fetched into FOLDER (an
 *     absolute path to an existing folder) as ID.rREVISION. A catalogue older
 *     than the adopted one is refused and the adopted one kept; an item that
 *     fails verification is fetched again once after a refresh, since the
 *     site may have been republished since its catalogue was adopted.
 *
 * Exit status: 0 when done, 2 for a usage error, otherwise the library
 * status that ended the program.
 */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* nanosleep and threads under -std=c99 */
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vkr_preview.h"

/* What each status tells a launcher's user, and so what the launcher does next. */
static const char* advice(vkr_preview_status status) {
  switch (status) {
    case VKR_PREVIEW_OK: return "done";
    case VKR_PREVIEW_INVALID_ARGUMENT: return "a bad argument, or an origin that is refused";
    case VKR_PREVIEW_BUFFER_TOO_SMALL: return "a buffer was too small";
    case VKR_PREVIEW_INTERNAL_FAILURE: return "out of memory or a platform failure";
    case VKR_PREVIEW_OUTPUT_FAILURE: return "the file cannot be written there: the folder must exist and have room";
    case VKR_PREVIEW_CANCELLED: return "cancelled; nothing was written";
    case VKR_PREVIEW_TARGET_EXISTS: return "the file already exists; nothing is ever replaced";
    case VKR_PREVIEW_INVALID_DATA: return "the site's data is malformed, or not for this game and version";
    case VKR_PREVIEW_AUTHENTICATION_FAILED: return "a member key is needed, or the key is wrong";
    case VKR_PREVIEW_INTEGRITY_FAILURE: return "fetched bytes failed verification: the site changed, or was tampered with";
    case VKR_PREVIEW_TRANSPORT_FAILURE: return "the origin could not be reached; the next check tries again";
    case VKR_PREVIEW_UNSUPPORTED: return "the site needs something this library lacks, or is over a limit";
    case VKR_PREVIEW_NOT_FOUND: return "no such resource or item";
    case VKR_PREVIEW_WRONG_STATE: return "the call came at the wrong time, or the handle was busy";
    case VKR_PREVIEW_ROLLBACK_REFUSED: return "the site offers an older catalogue than the adopted one";
    default: return "unknown status";
  }
}

static void report(const char* what, vkr_preview_status status, const char* message) {
  printf("%s: %s (status %u: %s)\n", what, message[0] != '\0' ? message : "no message", (unsigned)status,
         advice(status));
}

/* ---- A worker thread and a sleep: the only platform code here ---------- */

struct download_job {
  vkr_preview_site* site;
  vkr_preview_operation* operation;
  const char* path;
  const char* destination;
  uint64_t written;
  vkr_preview_status status;
  char message[256];
};

/* Runs on the worker thread; the main thread reads the result after joining it. */
static void run_download(struct download_job* job) {
  job->status = vkr_preview_site_download_operation(job->site, job->operation, job->path, strlen(job->path), NULL, 0,
                                                    job->destination, strlen(job->destination), &job->written,
                                                    job->message, sizeof job->message);
}

#ifdef _WIN32
#include <windows.h>
typedef HANDLE worker;
static DWORD WINAPI worker_main(LPVOID job) {
  run_download((struct download_job*)job);
  return 0;
}
static int worker_start(worker* thread, struct download_job* job) {
  *thread = CreateThread(NULL, 0, worker_main, job, 0, NULL);
  return *thread != NULL;
}
static void worker_join(worker thread) {
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
}
static void sleep_ms(unsigned long ms) { Sleep((DWORD)ms); }
#else
#include <pthread.h>
#include <time.h>
typedef pthread_t worker;
static void* worker_main(void* job) {
  run_download((struct download_job*)job);
  return NULL;
}
static int worker_start(worker* thread, struct download_job* job) {
  return pthread_create(thread, NULL, worker_main, job) == 0;
}
static void worker_join(worker thread) { pthread_join(thread, NULL); }
static void sleep_ms(unsigned long ms) {
  struct timespec delay;
  delay.tv_sec = (time_t)(ms / 1000);
  delay.tv_nsec = (long)(ms % 1000) * 1000000L;
  while (nanosleep(&delay, &delay) != 0) {
  }
}
#endif

/* ---- Pattern 1: a download cancelled from another thread ------------------ */

static int download(const char* origin, const char* path, const char* destination, const char* cancel_after) {
  char message[256];
  vkr_preview_site* site = NULL;
  vkr_preview_status status = vkr_preview_site_open_hosted(origin, strlen(origin), &site, message, sizeof message);
  if (status != VKR_PREVIEW_OK) {
    report("opening the site", status, message);
    return (int)status;
  }
  /* One operation per call: cancelling it reaches this download and nothing else. */
  struct download_job job;
  memset(&job, 0, sizeof job);
  job.site = site;
  job.path = path;
  job.destination = destination;
  status = vkr_preview_operation_prepare(&job.operation);
  worker thread;
  if (status == VKR_PREVIEW_OK && !worker_start(&thread, &job)) status = VKR_PREVIEW_INTERNAL_FAILURE;
  if (status != VKR_PREVIEW_OK) {
    report("starting the download", status, "");
    vkr_preview_operation_release(job.operation);
    vkr_preview_site_release(site);
    return (int)status;
  }
  if (cancel_after != NULL) {
    sleep_ms(strtoul(cancel_after, NULL, 10));
    printf("cancelling\n");
    vkr_preview_operation_cancel(job.operation);
  }
  worker_join(thread);
  /* Only now, with no call running under it and no one left to cancel it. */
  vkr_preview_operation_release(job.operation);
  if (job.status == VKR_PREVIEW_OK) {
    printf("downloaded %llu verified bytes to %s\n", (unsigned long long)job.written, destination);
  } else {
    report(path, job.status, job.message);
  }
  /* The site stays usable after a cancelled operation: the next call under a fresh operation runs normally. */
  vkr_preview_site_release(site);
  return (int)job.status;
}

/* ---- Pattern 2: a game update loop ------------------------------------------ */

struct launcher {
  vkr_preview_game* game;
  const char* folder;
  uint64_t fetched_revision; /* the revision whose items were fetched; 0 before any */
};

static uint64_t adopted_revision(vkr_preview_game* game) {
  uint64_t revision = 0;
  vkr_preview_game_catalogue_revision(game, &revision); /* 15 before the first refresh leaves 0 */
  return revision;
}

/* Fetches item `id` of the adopted catalogue into FOLDER/ID.rREVISION. */
static vkr_preview_status fetch_item(struct launcher* launcher, const char* id, uint64_t* written, char* message,
                                     size_t message_capacity) {
  char destination[4096];
  int length = snprintf(destination, sizeof destination, "%s/%s.r%llu", launcher->folder, id,
                        (unsigned long long)adopted_revision(launcher->game));
  if (length < 0 || (size_t)length >= sizeof destination) return VKR_PREVIEW_INVALID_ARGUMENT;
  return vkr_preview_game_fetch_item(launcher->game, id, strlen(id), NULL, 0, destination, (uint64_t)length, written,
                                     message, message_capacity);
}

static void fetch_items(struct launcher* launcher) {
  uint64_t count = 0;
  vkr_preview_game_item_count(launcher->game, &count);
  for (uint64_t i = 0; i < count; ++i) {
    /* Item ids are at most 64 bytes, so this buffer always holds one. */
    char id[65];
    uint64_t id_length = 0;
    if (vkr_preview_game_item_string(launcher->game, i, VKR_PREVIEW_ITEM_ID, id, sizeof id, &id_length) !=
        VKR_PREVIEW_OK) {
      continue;
    }
    char message[256];
    uint64_t written = 0;
    vkr_preview_status status = fetch_item(launcher, id, &written, message, sizeof message);
    if (status == VKR_PREVIEW_INTEGRITY_FAILURE) {
      /* Items come from the adopted snapshot; a site republished since then
       * fails its checks as tampering would. A fresh snapshot tells them apart. */
      printf("  %s: failed verification (%s): refreshing and retrying once\n", id, message);
      char refresh_message[256];
      vkr_preview_status refreshed =
          vkr_preview_game_refresh_hosted(launcher->game, 0, refresh_message, sizeof refresh_message);
      if (refreshed == VKR_PREVIEW_OK) {
        status = fetch_item(launcher, id, &written, message, sizeof message);
      } else {
        report("  refresh", refreshed, refresh_message);
      }
    }
    switch (status) {
      case VKR_PREVIEW_OK:
        printf("  %s: fetched %llu bytes\n", id, (unsigned long long)written);
        break;
      case VKR_PREVIEW_TARGET_EXISTS:
        printf("  %s: already fetched\n", id);
        break;
      default: {
        char what[128];
        snprintf(what, sizeof what, "  %s: not fetched", id);
        report(what, status, message);
      }
    }
  }
}

/* One check for updates; returns 0 to go on, or the status that ends the launcher. */
static int check_for_update(struct launcher* launcher) {
  char message[256];
  vkr_preview_status status = vkr_preview_game_refresh_hosted(launcher->game, 0, message, sizeof message);
  switch (status) {
    case VKR_PREVIEW_OK:
      break;
    case VKR_PREVIEW_ROLLBACK_REFUSED:
      /* Never adopted without asking the user: allow_rollback 1 would take it. */
      printf("refused an older catalogue (%s): keeping revision %llu\n", message,
             (unsigned long long)adopted_revision(launcher->game));
      return 0;
    case VKR_PREVIEW_INVALID_ARGUMENT:
    case VKR_PREVIEW_INTERNAL_FAILURE:
      report("checking for updates", status, message);
      return (int)status;
    default:
      /* Every other failure leaves the adopted catalogue and items as they were. */
      report("checking for updates", status, message);
      return 0;
  }
  const uint64_t revision = adopted_revision(launcher->game);
  if (revision == launcher->fetched_revision) {
    printf("revision %llu is current\n", (unsigned long long)revision);
    return 0;
  }
  uint64_t count = 0;
  vkr_preview_game_item_count(launcher->game, &count);
  printf("revision %llu adopted: %llu item%s\n", (unsigned long long)revision, (unsigned long long)count,
         count == 1 ? "" : "s");
  fetch_items(launcher);
  launcher->fetched_revision = revision;
  return 0;
}

static int update(const char* origin, const char* game_id, const char* game_version, const char* folder) {
  char message[256];
  struct launcher launcher;
  memset(&launcher, 0, sizeof launcher);
  launcher.folder = folder;
  /* The version must be three numbers ("1.2.0"); any other form is accepted
   * here but matches no catalogue, so every check would fail with 9. */
  vkr_preview_status status = vkr_preview_game_create(origin, strlen(origin), game_id, strlen(game_id), game_version,
                                                      strlen(game_version), &launcher.game, message, sizeof message);
  if (status != VKR_PREVIEW_OK) {
    report("creating the game", status, message);
    return (int)status;
  }
  int result = 0;
  char line[256];
  do {
    result = check_for_update(&launcher);
    printf("checked: revision %llu\n", (unsigned long long)adopted_revision(launcher.game));
    fflush(stdout);
  } while (result == 0 && fgets(line, sizeof line, stdin) != NULL);
  vkr_preview_game_release(launcher.game);
  return result;
}

int main(int argc, char** argv) {
  if (argc >= 5 && argc <= 6 && strcmp(argv[1], "download") == 0) {
    return download(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : NULL);
  }
  if (argc == 6 && strcmp(argv[1], "update") == 0) return update(argv[2], argv[3], argv[4], argv[5]);
  fprintf(stderr,
          "usage: launcher download ORIGIN PATH DESTINATION [CANCEL_AFTER_MS]\n"
          "       launcher update ORIGIN GAME_ID GAME_VERSION FOLDER\n");
  return 2;
}
