/*
 * vkr_preview.h - the C interface of libvkr_preview.
 *
 * libvkr_preview opens web sites and games that a publisher serves from an
 * ordinary HTTPS origin in a protected, self-verifying form. It finds and
 * verifies a site's index, fetches and verifies every part of a resource,
 * and delivers a resource only after the whole of it passed every check.
 *
 * Conventions shared by every function:
 *
 * - Texts cross the interface as a pointer and a 64-bit length of UTF-8
 *   bytes, not NUL-terminated. A text must be non-empty, within its limit,
 *   free of 0 bytes and well-formed UTF-8; otherwise the call returns
 *   VKR_PREVIEW_INVALID_ARGUMENT. Limits: origin 2,048 bytes; resource path
 *   512; destination file path 32,767; game id, game version and item id 128.
 * - Member keys are either absent (NULL and length 0) or exactly 32 bytes.
 * - The library never takes ownership of caller memory and never returns
 *   memory the caller must free. Handles are created by one family of
 *   functions and destroyed only by their release function. An out-pointer
 *   for a new handle holds NULL after any failure.
 * - Message buffer (message, message_capacity): when both are non-zero the
 *   first byte is set to 0 on entry; a failure writes a fixed English
 *   message, cut to message_capacity - 1 bytes (possibly inside a UTF-8
 *   sequence) and NUL-terminated. A non-zero capacity with a NULL message
 *   is an invalid argument. Argument checks that return 1 or 15 write no
 *   message. Messages are for people; the status is the machine-readable
 *   result.
 * - String getters (buffer, capacity, out_length): out_length receives the
 *   string's length n (without terminator). A NULL buffer with capacity 0
 *   is a length query (status 0). A capacity of at most n returns
 *   VKR_PREVIEW_BUFFER_TOO_SMALL with n reported and nothing copied;
 *   otherwise the n bytes and a terminating 0 are written.
 * - Threads: one call at a time per handle. The cancel functions may be
 *   called from any thread at any time while the handle exists. A call on a
 *   site or game that another thread's call is still using returns
 *   VKR_PREVIEW_WRONG_STATE at once, touching neither the handle nor any of
 *   its arguments (not even the output zeroing or the message); an
 *   operation refused this way stays unused. The library starts no threads
 *   and keeps no global state.
 *
 * This header is valid C99 and C++.
 */
#ifndef VKR_PREVIEW_H_
#define VKR_PREVIEW_H_

#include <stddef.h>
#include <stdint.h>

#if defined(VKR_PREVIEW_BUILDING) && defined(__GNUC__)
#define VKR_PREVIEW_API __attribute__((visibility("default")))
#else
#define VKR_PREVIEW_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status values -------------------------------------------------- */

typedef uint32_t vkr_preview_status;

#define VKR_PREVIEW_OK 0u
#define VKR_PREVIEW_INVALID_ARGUMENT 1u
#define VKR_PREVIEW_BUFFER_TOO_SMALL 3u
#define VKR_PREVIEW_INTERNAL_FAILURE 4u /* out of memory, provider failure */
#define VKR_PREVIEW_OUTPUT_FAILURE 6u
#define VKR_PREVIEW_CANCELLED 7u
#define VKR_PREVIEW_TARGET_EXISTS 8u
#define VKR_PREVIEW_INVALID_DATA 9u
#define VKR_PREVIEW_AUTHENTICATION_FAILED 10u
#define VKR_PREVIEW_INTEGRITY_FAILURE 11u
#define VKR_PREVIEW_TRANSPORT_FAILURE 12u
#define VKR_PREVIEW_UNSUPPORTED 13u /* unsupported, or over a limit */
#define VKR_PREVIEW_NOT_FOUND 14u
#define VKR_PREVIEW_WRONG_STATE 15u
#define VKR_PREVIEW_ROLLBACK_REFUSED 16u
/* Statuses 2 and 5 are never returned. */

#define VKR_PREVIEW_ABI_REVISION 16u
#define VKR_PREVIEW_CAPABILITIES 0x1FFFu

/* Field selectors of vkr_preview_site_resource_string. */
#define VKR_PREVIEW_RESOURCE_PATH 1u
#define VKR_PREVIEW_RESOURCE_SHA256 2u   /* 64 lowercase hex digits */
#define VKR_PREVIEW_RESOURCE_MIME 3u
#define VKR_PREVIEW_RESOURCE_ACCESS 4u   /* "public" or "members" */
#define VKR_PREVIEW_RESOURCE_DELIVERY 5u /* "download" or "app" */

/* Field selectors of the catalogue and game item string functions. */
#define VKR_PREVIEW_ITEM_ID 1u
#define VKR_PREVIEW_ITEM_KIND 2u
#define VKR_PREVIEW_ITEM_PATH 3u

/* ---- Opaque handles ------------------------------------------------- */

typedef struct vkr_preview_site vkr_preview_site;
typedef struct vkr_preview_operation vkr_preview_operation;
typedef struct vkr_preview_catalogue vkr_preview_catalogue;
typedef struct vkr_preview_game vkr_preview_game;

/* ---- Caller transport ------------------------------------------------ */

/* Request kinds passed to the callback. */
#define VKR_PREVIEW_FETCH_RANGE 1u  /* "Range: bytes=first-last"; accept 200 or 206 */
#define VKR_PREVIEW_FETCH_SUFFIX 2u /* "Range: bytes=-first"; accept 200 or 206 */
#define VKR_PREVIEW_FETCH_WHOLE 3u  /* no Range header; accept only 200 */

/* Callback results. */
#define VKR_PREVIEW_CALLBACK_OK 0u
#define VKR_PREVIEW_CALLBACK_CANCELLED 7u /* the site's transport becomes cancelled */
/* Any other result means the request failed. */

/*
 * The response a caller transport reports. The library zeroes it before
 * each call. Every pointer is caller memory and may be NULL only when its
 * length is 0; an absent header has length 0. The memory must stay valid
 * and unchanged until the callback is called again or the library call that
 * caused the request returns; the library copies it right after the
 * callback returns. Limits: status 200 or 206; final_url_length at most
 * 4,096; each header at most 255 bytes; body_length at most the bound.
 */
typedef struct vkr_preview_http_response {
  uint32_t status;              /* HTTP status code */
  const uint8_t* final_url;     /* the URL the response came from (after any redirect) */
  uint64_t final_url_length;
  const uint8_t* content_range; /* Content-Range header value */
  uint64_t content_range_length;
  const uint8_t* etag;          /* ETag header value */
  uint64_t etag_length;
  const uint8_t* content_encoding; /* Content-Encoding header value */
  uint64_t content_encoding_length;
  const uint8_t* body;
  uint64_t body_length;
} vkr_preview_http_response;

/*
 * Performs one GET request on the site's origin, synchronously, on the
 * thread of the library call that needs it. `path` (2 to 512 bytes, not
 * NUL-terminated) is appended to the origin; the response's final_url must
 * equal the origin (without a trailing "/") followed by `path`, so a
 * redirected response is refused. For a range fetch `first` and `last` are
 * inclusive byte offsets; for a suffix fetch `first` is the suffix length;
 * `bound` (1 to 134,217,728) is the largest body the library accepts.
 */
typedef uint32_t (*vkr_preview_http_callback)(void* user_data, uint32_t kind, const uint8_t* path,
                                              uint64_t path_length, uint64_t first, uint64_t last,
                                              uint64_t bound, vkr_preview_http_response* response);

/* ---- ABI queries ------------------------------------------------------ */

/* Returns 16, the revision of this interface. */
VKR_PREVIEW_API uint32_t vkr_preview_abi_revision(void);

/* Writes the capability mask 0x1FFF. Returns 0, or 1 for a NULL pointer. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_capabilities(uint64_t* out_capabilities);

/* ---- Operations and cancellation --------------------------------------- */

/*
 * An operation is a one-shot cancellation token: pass it to exactly one
 * `_operation` call. Cancelling it before the call makes the call return 7
 * without doing anything; during the call, makes the call stop at its next
 * check and return 7; after the call, has no effect. The call resets the
 * handle's cancellation flag before and after it runs, so an earlier
 * vkr_preview_site_cancel does not affect it. A second call under the same
 * operation returns 15.
 *
 * Returns 0, 1 for a NULL out_operation, 4 when out of memory.
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_operation_prepare(vkr_preview_operation** out_operation);

/* Cancels the operation (see above). Any thread, any time; NULL is ignored. */
VKR_PREVIEW_API void vkr_preview_operation_cancel(vkr_preview_operation* operation);

/* Frees the operation. Not while a call runs under it or another thread may cancel it. */
VKR_PREVIEW_API void vkr_preview_operation_release(vkr_preview_operation* operation);

/*
 * Sets the site's cancellation flag: a running load or read stops at its
 * next check and returns 7, and every later plain call on the site fails
 * with 7 until an `_operation` call resets the flag. A cancel that arrives
 * after a download's last check may still end in success: the file is then
 * complete and verified. Any thread; NULL is ignored.
 */
VKR_PREVIEW_API void vkr_preview_site_cancel(vkr_preview_site* site);

/* As vkr_preview_site_cancel, for a game handle. */
VKR_PREVIEW_API void vkr_preview_game_cancel(vkr_preview_game* game);

/* ---- Sites ------------------------------------------------------------ */

/*
 * Creates a site for `origin` that reaches it through the library's own
 * HTTP client. No request is made. The origin is "https://" followed by a
 * host (and optional port), optionally with one trailing "/"; plain
 * "http://" is allowed only for loopback development origins. HTTPS
 * verifies certificates against the system trust store and uses the proxy
 * settings of the environment (https_proxy, all_proxy, no_proxy); a
 * loopback origin never uses a proxy.
 *
 * Every request of this client ends in bounded time: resolving, connecting
 * and the TLS handshake within 10 s; then 10 s without receiving anything,
 * a response head (interim 1xx answers included) not complete within 30 s
 * of the request or longer than 64 KiB, a body that brings less than 60 KiB
 * in each 30 s counted from the end of the head (2 KiB/s), or chunk
 * extensions and trailers over 16 KiB fail the request (status 12). A body
 * the head announces longer than the request allows is refused at once.
 *
 * Returns 0; 1 for bad arguments or a refused origin (with the reason in
 * the message); 4 ("Native site preparation failed").
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_prepare(const char* origin, uint64_t origin_length,
                                                            vkr_preview_site** out_site, char* message,
                                                            uint64_t message_capacity);

/*
 * Creates a site whose every request is carried by `callback` (never NULL),
 * called with `user_data` (may be NULL). The origin is checked as in
 * vkr_preview_site_prepare. Returns 0, 1, or 4 ("Caller transport
 * preparation failed").
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_prepare_callback(const char* origin, uint64_t origin_length,
                                                                     vkr_preview_http_callback callback,
                                                                     void* user_data, vkr_preview_site** out_site,
                                                                     char* message, uint64_t message_capacity);

/*
 * Prepares a site and loads its hosted index in one call. On any failure no
 * site is left and *out_site is NULL. Statuses as for prepare and load.
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_open_hosted(const char* origin, uint64_t origin_length,
                                                                vkr_preview_site** out_site, char* message,
                                                                uint64_t message_capacity);

/* As vkr_preview_site_open_hosted, loading from external key material. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_open_external(const char* origin, uint64_t origin_length,
                                                                  const uint8_t* external, uint64_t external_length,
                                                                  vkr_preview_site** out_site, char* message,
                                                                  uint64_t message_capacity);

/*
 * Loads the site's index from the index carrier hidden behind the origin's
 * "/favicon.ico" and verifies it. A site is loaded at most once: a second
 * load, or a load after a failed one, returns 15. Returns 0; 1; 7 when the
 * site was cancelled (before or during the load); 15; or the status of the
 * failure (9 invalid data, 10, 11 integrity, 12 transport, 13, 4) with its
 * message. A failed load leaves the site unusable except for release.
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_load_hosted(vkr_preview_site* site, char* message,
                                                                uint64_t message_capacity);

/* vkr_preview_site_load_hosted under an operation (see operations above). */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_load_hosted_operation(vkr_preview_site* site,
                                                                          vkr_preview_operation* operation,
                                                                          char* message, uint64_t message_capacity);

/*
 * Loads the site's index from external key material: the text of a key
 * file ("VKRKEY1:" and a token) or the bytes of an ICO credential, 1 to
 * 1,048,576 bytes (larger credentials cannot be passed). The bytes are read
 * in place, not kept. Statuses as for vkr_preview_site_load_hosted.
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_load_external(vkr_preview_site* site, const uint8_t* external,
                                                                  uint64_t external_length, char* message,
                                                                  uint64_t message_capacity);

/* vkr_preview_site_load_external under an operation. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_load_external_operation(
    vkr_preview_site* site, vkr_preview_operation* operation, const uint8_t* external, uint64_t external_length,
    char* message, uint64_t message_capacity);

/* The index's entry page path (string getter). 15 before a successful load. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_entry_path(vkr_preview_site* site, char* buffer,
                                                               uint64_t capacity, uint64_t* out_length);

/* The index's member key ID, empty when the site has no members resources. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_member_key_id(vkr_preview_site* site, char* buffer,
                                                                  uint64_t capacity, uint64_t* out_length);

/* Number of resources. Resources are numbered 0 to count - 1 in byte order of their paths. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_resource_count(vkr_preview_site* site, uint64_t* out_count);

/* Plain length of resource `index`; 1 for an index out of range. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_resource_length(vkr_preview_site* site, uint64_t index,
                                                                    uint64_t* out_length);

/* Path of resource `index` (string getter). */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_resource_path(vkr_preview_site* site, uint64_t index,
                                                                  char* buffer, uint64_t capacity,
                                                                  uint64_t* out_length);

/* One string of resource `index`, chosen by a VKR_PREVIEW_RESOURCE_* field (string getter). */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_resource_string(vkr_preview_site* site, uint64_t index,
                                                                    uint32_t field, char* buffer,
                                                                    uint64_t capacity, uint64_t* out_length);

/* Destroys the site; NULL is ignored. Not while a call runs on it. */
VKR_PREVIEW_API void vkr_preview_site_release(vkr_preview_site* site);

/*
 * Reads resource `path` (at most 64 MiB) into `buffer`, verified. `buffer`
 * is written only on success, with exactly the resource's bytes (no
 * terminator; a capacity equal to the length suffices). A NULL buffer with
 * capacity 0 reports the length without any request. `member_key` opens
 * members resources. Returns 0; 1; 3 (length reported); 7; 13 for a
 * resource over 64 MiB; 14 for a path not in the index; 15 when the site is
 * not loaded; or the status of the failure with its message.
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_read_memory(vkr_preview_site* site, const char* path,
                                                                uint64_t path_length, const uint8_t* member_key,
                                                                uint64_t member_key_length, uint8_t* buffer,
                                                                uint64_t capacity, uint64_t* out_length,
                                                                char* message, uint64_t message_capacity);

/* vkr_preview_site_read_memory under an operation. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_read_memory_operation(
    vkr_preview_site* site, vkr_preview_operation* operation, const char* path, uint64_t path_length,
    const uint8_t* member_key, uint64_t member_key_length, uint8_t* buffer, uint64_t capacity,
    uint64_t* out_length, char* message, uint64_t message_capacity);

/*
 * Downloads resource `path` to the file `destination` (an absolute path),
 * verified. The file appears under its name only after every check passed;
 * an existing file is never replaced (status 8) and after any failure
 * neither the file nor a temporary file is left. Where the file system
 * allows it, room for the whole resource is reserved before anything is
 * fetched, so a disk too small fails at once (status 6). Returns 0 with
 * *out_written the byte count; 1; 6 output failure; 7; 8; 14; 15; or the
 * status of the failure.
 *
 * On Linux the destination begins with "/" and is at most 4,095 bytes;
 * every component between slashes is 1 to 255 bytes, neither "." nor "..",
 * with no byte below 0x20; every directory on the way must exist and none
 * may be a symbolic link. A destination breaking these rules fails with
 * status 6. The file is written without a name in the destination's
 * directory (O_TMPFILE) and linked under its name once complete, so not
 * even a killed process leaves anything behind. Where the file system has
 * no such files, it is written as "NAME.vkr-<32 hex digits>.tmp" beside the
 * destination (NAME shortened when the whole would exceed 255 bytes),
 * readable by its owner alone, and renamed; only a process killed
 * mid-download leaves that file behind.
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_download(vkr_preview_site* site, const char* path,
                                                             uint64_t path_length, const uint8_t* member_key,
                                                             uint64_t member_key_length, const char* destination,
                                                             uint64_t destination_length, uint64_t* out_written,
                                                             char* message, uint64_t message_capacity);

/* vkr_preview_site_download under an operation. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_site_download_operation(
    vkr_preview_site* site, vkr_preview_operation* operation, const char* path, uint64_t path_length,
    const uint8_t* member_key, uint64_t member_key_length, const char* destination, uint64_t destination_length,
    uint64_t* out_written, char* message, uint64_t message_capacity);

/* ---- Game catalogues ----------------------------------------------------- */

/*
 * Parses a game catalogue document (strict JSON, at most 65,536 bytes) from
 * `data`. `data` must not be NULL. Returns 0 with a new handle; 1; 9 with
 * the reason when the document is invalid; 4 ("Catalogue parse failed").
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_catalogue_parse(const uint8_t* data, uint64_t size,
                                                               vkr_preview_catalogue** out_catalogue,
                                                               char* message, uint64_t message_capacity);

/* Number of items (1 to 256). */
VKR_PREVIEW_API vkr_preview_status vkr_preview_catalogue_item_count(vkr_preview_catalogue* catalogue,
                                                                    uint64_t* out_count);

/* One string of item `index` (document order), chosen by a VKR_PREVIEW_ITEM_* field (string getter). */
VKR_PREVIEW_API vkr_preview_status vkr_preview_catalogue_item_string(vkr_preview_catalogue* catalogue,
                                                                     uint64_t index, uint32_t field, char* buffer,
                                                                     uint64_t capacity, uint64_t* out_length);

/* The catalogue's revision. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_catalogue_revision(vkr_preview_catalogue* catalogue,
                                                                  uint64_t* out_revision);

/* Destroys the catalogue; NULL is ignored. A catalogue may be queried from several threads at once. */
VKR_PREVIEW_API void vkr_preview_catalogue_release(vkr_preview_catalogue* catalogue);

/* ---- Games --------------------------------------------------------------- */

/*
 * Creates a game handle for the site at `origin` (checked as in
 * vkr_preview_site_prepare; always the library's own HTTP client), the
 * game's identifier and its own version. No request is made. Returns 0, 1,
 * or 4 ("Native game creation failed").
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_create(const char* origin, uint64_t origin_length,
                                                           const char* game_id, uint64_t game_id_length,
                                                           const char* game_version, uint64_t game_version_length,
                                                           vkr_preview_game** out_game, char* message,
                                                           uint64_t message_capacity);

/*
 * Loads the site's hosted index and its game catalogue, checks that the
 * catalogue is for this game and version and that every item is in the
 * index, and adopts both together. A catalogue whose revision is lower than
 * the adopted one is refused with 16 unless `allow_rollback` is 1. On any
 * failure the handle keeps its earlier snapshot. Returns 0, 1, 7, 9, 16, or
 * the status of the failure.
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_refresh_hosted(vkr_preview_game* game, uint32_t allow_rollback,
                                                                   char* message, uint64_t message_capacity);

/* vkr_preview_game_refresh_hosted under an operation. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_refresh_hosted_operation(vkr_preview_game* game,
                                                                             vkr_preview_operation* operation,
                                                                             uint32_t allow_rollback, char* message,
                                                                             uint64_t message_capacity);

/* As vkr_preview_game_refresh_hosted, loading the index from external key material (1 to 1,048,576 bytes). */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_refresh_external(vkr_preview_game* game, const uint8_t* external,
                                                                     uint64_t external_length,
                                                                     uint32_t allow_rollback, char* message,
                                                                     uint64_t message_capacity);

/* vkr_preview_game_refresh_external under an operation. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_refresh_external_operation(
    vkr_preview_game* game, vkr_preview_operation* operation, const uint8_t* external, uint64_t external_length,
    uint32_t allow_rollback, char* message, uint64_t message_capacity);

/* Revision of the adopted catalogue; 15 before a successful refresh. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_catalogue_revision(vkr_preview_game* game,
                                                                       uint64_t* out_revision);

/* Digest (64 lowercase hex digits) of the adopted index (string getter). */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_index_digest(vkr_preview_game* game, char* buffer,
                                                                 uint64_t capacity, uint64_t* out_length);

/* Number of adopted catalogue items; 15 before a successful refresh. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_item_count(vkr_preview_game* game, uint64_t* out_count);

/* One string of adopted item `index`, chosen by a VKR_PREVIEW_ITEM_* field (string getter). */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_item_string(vkr_preview_game* game, uint64_t index,
                                                                uint32_t field, char* buffer, uint64_t capacity,
                                                                uint64_t* out_length);

/*
 * Downloads the adopted item `item_id` to the file `destination`, from the
 * adopted index, with the guarantees of vkr_preview_site_download.
 * Returns 0 with *out_written; 1; 6; 7; 8 (also checked before the item is
 * looked up); 14 for an unknown item; 15 before a successful refresh; or
 * the status of the failure.
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_fetch_item(vkr_preview_game* game, const char* item_id,
                                                               uint64_t item_id_length, const uint8_t* member_key,
                                                               uint64_t member_key_length, const char* destination,
                                                               uint64_t destination_length, uint64_t* out_written,
                                                               char* message, uint64_t message_capacity);

/* vkr_preview_game_fetch_item under an operation. */
VKR_PREVIEW_API vkr_preview_status vkr_preview_game_fetch_item_operation(
    vkr_preview_game* game, vkr_preview_operation* operation, const char* item_id, uint64_t item_id_length,
    const uint8_t* member_key, uint64_t member_key_length, const char* destination, uint64_t destination_length,
    uint64_t* out_written, char* message, uint64_t message_capacity);

/* Destroys the game; NULL is ignored. Not while a call runs on it. */
VKR_PREVIEW_API void vkr_preview_game_release(vkr_preview_game* game);

/* ---- Standalone audio ---------------------------------------------------- */

/*
 * Decodes the sealed message carried by a WAV recording (`data`, the file's
 * `size` bytes, at most 64 MiB) and opens it with the 32-byte `member_key`.
 * The plaintext (at most 4,068 bytes) goes to `buffer` without terminator;
 * a NULL buffer with capacity 0 reports the length. Returns 0; 1; 3
 * (length reported); 9; 10 when the key does not open it; 13 for input over
 * the limit; 4 ("Standalone audio decode failed").
 */
VKR_PREVIEW_API vkr_preview_status vkr_preview_audio_decode_file(const uint8_t* data, uint64_t size,
                                                                 const uint8_t* member_key,
                                                                 uint64_t member_key_length, uint8_t* buffer,
                                                                 uint64_t capacity, uint64_t* out_length,
                                                                 char* message, uint64_t message_capacity);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The response record's layout is part of the ABI. */
#if defined(__cplusplus)
static_assert(sizeof(vkr_preview_http_response) == 88, "response record is 88 bytes");
static_assert(offsetof(vkr_preview_http_response, final_url) == 8, "layout");
static_assert(offsetof(vkr_preview_http_response, content_range) == 24, "layout");
static_assert(offsetof(vkr_preview_http_response, etag) == 40, "layout");
static_assert(offsetof(vkr_preview_http_response, content_encoding) == 56, "layout");
static_assert(offsetof(vkr_preview_http_response, body) == 72, "layout");
static_assert(offsetof(vkr_preview_http_response, body_length) == 80, "layout");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(vkr_preview_http_response) == 88, "response record is 88 bytes");
_Static_assert(offsetof(vkr_preview_http_response, body_length) == 80, "layout");
#else
typedef char vkr_preview_response_record_is_88_bytes[sizeof(vkr_preview_http_response) == 88 ? 1 : -1];
typedef char vkr_preview_response_layout_check[offsetof(vkr_preview_http_response, body_length) == 80 ? 1 : -1];
#endif

#endif /* VKR_PREVIEW_H_ */
