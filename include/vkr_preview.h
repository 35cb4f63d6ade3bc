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
 * - Statuses: each function's comment lists every status it returns. A
 *   status of 1 means the call itself was wrong (a NULL pointer, a text or
 *   length outside its rule, an index or field selector out of range):
 *   trying it again unchanged cannot help. Every call on a site or game may
 *   also return 15 when another thread's call is using the handle (see
 *   Threads). A call that works through the handle's transport (a load,
 *   read, download, refresh or item fetch) returns 7 for any failure while
 *   the handle is cancelled (see vkr_preview_site_cancel). Status 13 has two
 *   meanings, told apart by the message: data this library cannot handle, or
 *   an input over a limit (a resource over 64 MiB for a read into memory, a
 *   recording over 64 MiB).
 * - The library never takes ownership of caller memory and never returns
 *   memory the caller must free. Handles are created by one family of
 *   functions and destroyed only by their release function. An out-pointer
 *   for a new handle holds NULL after any failure.
 * - Message buffer (message, message_capacity): when both are non-zero the
 *   first byte is set to 0 on entry; a failure writes its message, cut to
 *   message_capacity - 1 bytes (possibly inside a UTF-8 sequence) and
 *   NUL-terminated. A non-zero capacity with a NULL message is an invalid
 *   argument. Argument checks that return 1 or 15 write no message.
 *   Messages are short English texts without a full stop: a fixed text,
 *   sometimes preceded by the path it concerns ("/assets/blob-1.bin:
 *   part digest mismatch") or followed by an identifier or a length
 *   ("Missing game dependency: base"). They are for people; the status is
 *   the machine-readable result.
 * - String getters (buffer, capacity, out_length): out_length receives the
 *   string's length n (without terminator). A NULL buffer with capacity 0
 *   is a length query (status 0). A capacity of at most n returns
 *   VKR_PREVIEW_BUFFER_TOO_SMALL with n reported and nothing copied;
 *   otherwise the n bytes and a terminating 0 are written.
 * - Threads: one call at a time per handle. The cancel functions may be
 *   called from any thread at any time while the handle exists. A call on a
 *   site or game that another thread's call is still using returns
 *   VKR_PREVIEW_WRONG_STATE at once, touching neither the handle nor any of
 *   its arguments (not even the output zeroing or the message); an operation
 *   refused this way stays unused. The library keeps no global state and
 *   starts no threads of its own. Its HTTP client on Linux (libcurl) looks a
 *   host name up on one short-lived thread per lookup, which has ended before
 *   the call that needed it returns, unless the call ends during the lookup
 *   (cancelled, or past its 10 s connect limit): the call then returns at
 *   once, and the thread ends by itself as soon as the system's lookup does,
 *   touching nothing but its own memory. It looks up the origin's host, or
 *   the proxy's when the environment names one, and keeps a found address for
 *   a minute per site or game. Origins at an IP address or at localhost need
 *   no lookup and start no thread. On Windows, WinHTTP carries out each
 *   request on the system's own worker threads.
 * - Connections: on Linux a read of several parts sends the requests for the
 *   next parts (up to four, 8 MiB in all) while the current one is still
 *   arriving, each on a connection of its own to the origin (streams of one
 *   connection with HTTP/2), so a site or game keeps at most five
 *   connections open. The origin sees the same requests as from a read that
 *   waits, sent in the same order (requests sent at once may reach it in any
 *   order); after a part that fails its checks or a cancellation, up to four
 *   requests sent ahead go unused. On Windows and through a caller transport
 *   (vkr_preview_site_prepare_callback) requests go one at a time.
 *
 * Resource paths. Every resource of a site has one full path, which is how
 * the read and download functions name it: "/vesmara.web/app/" followed by
 * the resource's place in the site, such as "/vesmara.web/app/index.html" or
 * "/vesmara.web/app/img/logo.png". A path is "/" and segments joined by
 * single "/" bytes, at most 512 bytes; a segment is one or more of A-Z, a-z,
 * 0-9, "-", "." and "_", and is neither "." nor "..". Paths are compared
 * byte for byte and never completed, decoded or normalised: "index.html",
 * "/index.html", "vesmara.web/app/index.html", "/vesmara.web/app//index.html"
 * and "/vesmara.web/app/Index.html" all return 14 ("Resource absent from
 * index"). Take paths from vkr_preview_site_entry_path and
 * vkr_preview_site_resource_path rather than building them. A game's item
 * paths (VKR_PREVIEW_ITEM_PATH, such as "game/base.pak") are relative to
 * "/vesmara.web/app/": that item is the site resource
 * "/vesmara.web/app/game/base.pak", and the game's catalogue is
 * "/vesmara.web/app/game/catalogue.json". Game items are fetched by their id,
 * not their path.
 *
 * This header is valid C (C99 and later) and C++ (C++11 and later; C++98
 * lacks static_assert), and compiles cleanly with -Wall -Wextra -Wpedantic.
 */
#ifndef VKR_PREVIEW_H_
#define VKR_PREVIEW_H_

#include <stddef.h>
#include <stdint.h>

/*
 * VKR_PREVIEW_API marks the exported functions: on Windows they are imported
 * from vkr_preview.dll (define VKR_PREVIEW_STATIC to link the objects
 * directly). VKR_PREVIEW_CALL is their calling convention and that of the
 * caller transport callback: the C convention (__cdecl) of the platform.
 */
#if defined(_WIN32)
#if defined(VKR_PREVIEW_BUILDING)
#define VKR_PREVIEW_API __declspec(dllexport)
#elif defined(VKR_PREVIEW_STATIC)
#define VKR_PREVIEW_API
#else
#define VKR_PREVIEW_API __declspec(dllimport)
#endif
#define VKR_PREVIEW_CALL __cdecl
#else
#if defined(VKR_PREVIEW_BUILDING) && defined(__GNUC__)
#define VKR_PREVIEW_API __attribute__((visibility("default")))
#else
#define VKR_PREVIEW_API
#endif
#define VKR_PREVIEW_CALL
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
#define VKR_PREVIEW_UNSUPPORTED 13u /* unsupported, or over a limit (see Statuses) */
#define VKR_PREVIEW_NOT_FOUND 14u
#define VKR_PREVIEW_WRONG_STATE 15u
#define VKR_PREVIEW_ROLLBACK_REFUSED 16u
/* Statuses 2 and 5 are never returned. */

#define VKR_PREVIEW_ABI_REVISION 16u

/*
 * The capability mask vkr_preview_capabilities writes: one constant value.
 * No bit of it has a meaning of its own; a host compares the whole value.
 */
#define VKR_PREVIEW_CAPABILITIES 0x1FFFu

/* Field selectors of vkr_preview_site_resource_string. */
#define VKR_PREVIEW_RESOURCE_PATH 1u
#define VKR_PREVIEW_RESOURCE_SHA256 2u /* 64 lowercase hex digits */
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
  uint32_t status;          /* HTTP status code */
  const uint8_t* final_url; /* the URL the response came from (after any redirect) */
  uint64_t final_url_length;
  const uint8_t* content_range; /* Content-Range header value */
  uint64_t content_range_length;
  const uint8_t* etag; /* ETag header value */
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
typedef uint32_t(VKR_PREVIEW_CALL* vkr_preview_http_callback)(void* user_data, uint32_t kind, const uint8_t* path,
                                                              uint64_t path_length, uint64_t first, uint64_t last,
                                                              uint64_t bound, vkr_preview_http_response* response);

/* ---- ABI queries ------------------------------------------------------ */

/* Returns 16, the revision of this interface. */
VKR_PREVIEW_API uint32_t VKR_PREVIEW_CALL vkr_preview_abi_revision(void);

/* Writes the capability mask 0x1FFF. Returns 0, or 1 for a NULL pointer. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_capabilities(uint64_t* out_capabilities);

/* ---- Operations and cancellation --------------------------------------- */

/*
 * An operation is a one-shot cancellation token: pass it to exactly one
 * `_operation` call. Cancelling it before the call makes the call return 7
 * without doing anything; during the call, makes the call stop at its next
 * check and return 7; after the call, has no effect. The call resets the
 * handle's cancellation flag before and after it runs, so an earlier
 * vkr_preview_site_cancel does not affect it. A second call under the same
 * operation returns 15. This is the way for a host to cancel: the cancel
 * reaches only the call it was meant for, and a cancel that comes too early
 * or too late does no harm to later calls.
 *
 * Every `_operation` function returns what its plain function returns, and
 * also 1 for a NULL operation, 7 when the operation was cancelled before the
 * call (nothing is done: a site's load is not used up), and 15 when the
 * operation served a call before.
 *
 * Returns 0, 1 for a NULL out_operation, 4 when out of memory.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL
vkr_preview_operation_prepare(vkr_preview_operation** out_operation);

/* Cancels the operation (see above). Any thread, any time; NULL is ignored. */
VKR_PREVIEW_API void VKR_PREVIEW_CALL vkr_preview_operation_cancel(vkr_preview_operation* operation);

/* Frees the operation. Not while a call runs under it or another thread may cancel it. */
VKR_PREVIEW_API void VKR_PREVIEW_CALL vkr_preview_operation_release(vkr_preview_operation* operation);

/*
 * Sets the site's cancellation flag: a running load, read or download stops
 * at its next check and returns 7. A cancel that arrives after a download's
 * last check may still end in success: the file is then complete and
 * verified. Any thread; NULL is ignored.
 *
 * The flag stays set, also when nothing was running: until an `_operation`
 * call clears it, every later plain load, read or download on the site
 * returns 7 (only its argument and state checks and, for reads and
 * downloads, the lookup and length checks come first); queries are not
 * affected. A plain load that returns 7 this way uses up the site's only
 * load, so a cancel before the load leaves a site that can only be released.
 * To get a usable handle back, make the next call an `_operation` call: it
 * clears the flag before it runs (a load under an operation then loads
 * normally) and again when it ends.
 */
VKR_PREVIEW_API void VKR_PREVIEW_CALL vkr_preview_site_cancel(vkr_preview_site* site);

/*
 * As vkr_preview_site_cancel, for a game handle: a running refresh or item
 * fetch stops with 7, and until an `_operation` call clears the flag every
 * later plain refresh and item fetch returns 7 (after its argument and
 * state checks); queries and the adopted snapshot are not affected.
 */
VKR_PREVIEW_API void VKR_PREVIEW_CALL vkr_preview_game_cancel(vkr_preview_game* game);

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
 * the head announces longer than the request allows is refused at once. On
 * Windows, WinHTTP takes chunked bodies apart itself: it does not read
 * trailers, only the rate limit meets chunk extensions, and its own limit
 * (64 KiB by default) bounds the head.
 *
 * Returns 0; 1 for a NULL out_site, a bad origin text, a message capacity
 * without a buffer, or a refused origin (the only 1 with a message: the
 * reason, such as "Origin must use HTTPS"); 4 ("Native site preparation
 * failed").
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_prepare(const char* origin, uint64_t origin_length,
                                                                             vkr_preview_site** out_site, char* message,
                                                                             uint64_t message_capacity);

/*
 * Creates a site whose every request is carried by `callback` (never NULL),
 * called with `user_data` (may be NULL). The origin is checked as in
 * vkr_preview_site_prepare. Returns 0; 1 as for vkr_preview_site_prepare,
 * or for a NULL callback; 4 ("Caller transport preparation failed").
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_prepare_callback(
    const char* origin, uint64_t origin_length, vkr_preview_http_callback callback, void* user_data,
    vkr_preview_site** out_site, char* message, uint64_t message_capacity);

/*
 * Prepares a site and loads its hosted index in one call. On any failure no
 * site is left and *out_site is NULL. Returns the statuses of
 * vkr_preview_site_prepare and vkr_preview_site_load_hosted except 7 and 15
 * (no other call can reach the new site).
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_open_hosted(
    const char* origin, uint64_t origin_length, vkr_preview_site** out_site, char* message, uint64_t message_capacity);

/*
 * As vkr_preview_site_open_hosted, loading from external key material: the
 * statuses of vkr_preview_site_prepare and vkr_preview_site_load_external
 * except 7 and 15.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_open_external(
    const char* origin, uint64_t origin_length, const uint8_t* external, uint64_t external_length,
    vkr_preview_site** out_site, char* message, uint64_t message_capacity);

/*
 * Loads the site's index from the index carrier hidden behind the origin's
 * "/favicon.ico" and verifies it. A site is loaded at most once: a second
 * load, or a load after a failed one, returns 15. A failed load leaves the
 * site unusable except for release; to try again, release it and prepare a
 * new one.
 *
 * Returns (every failure but 1, 15 and a 7 before the load writes its
 * reason to the message): 0; 1 for a NULL site or a message capacity
 * without a buffer; 4 (a platform provider failed, or "Native site open
 * failed"); 7 when the site was
 * cancelled, before the load (no message, no request) or during it; 9 when
 * the favicon carries no index ("No valid VKR footer": not a protected
 * site) or a malformed one; 11 when fetched bytes fail a digest, length,
 * range or ETag check (such as "Favicon changed during index load"); 12
 * when the origin cannot be reached or answers with an error status; 15
 * when the site was loaded or a load was attempted before.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_load_hosted(vkr_preview_site* site, char* message,
                                                                                 uint64_t message_capacity);

/* vkr_preview_site_load_hosted under an operation (see operations above). */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_load_hosted_operation(
    vkr_preview_site* site, vkr_preview_operation* operation, char* message, uint64_t message_capacity);

/*
 * Loads the site's index from external key material: the text of a key
 * file ("VKRKEY1:" and a token) or the bytes of an ICO credential, 1 to
 * 1,048,576 bytes (larger credentials cannot be passed). The bytes are read
 * in place, not kept. Statuses as for vkr_preview_site_load_hosted; also 1
 * for a NULL `external` or a length outside 1 to 1,048,576 (the site stays
 * loadable), 9 for key material that is not a key file or credential, and 10
 * when the key does not open the sealed index.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_load_external(vkr_preview_site* site,
                                                                                   const uint8_t* external,
                                                                                   uint64_t external_length,
                                                                                   char* message,
                                                                                   uint64_t message_capacity);

/* vkr_preview_site_load_external under an operation. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_load_external_operation(
    vkr_preview_site* site, vkr_preview_operation* operation, const uint8_t* external, uint64_t external_length,
    char* message, uint64_t message_capacity);

/*
 * The index's entry page path (string getter). Returns 0; 1 for a NULL site,
 * then (after the state check) for a NULL out_length or a capacity without a
 * buffer; 3; 15 before a successful load.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_entry_path(vkr_preview_site* site, char* buffer,
                                                                                uint64_t capacity,
                                                                                uint64_t* out_length);

/*
 * The index's member key ID, empty when the site has no members resources
 * (string getter). Statuses as for vkr_preview_site_entry_path.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_member_key_id(vkr_preview_site* site, char* buffer,
                                                                                   uint64_t capacity,
                                                                                   uint64_t* out_length);

/*
 * Number of resources. Resources are numbered 0 to count - 1 in byte order of
 * their paths. Returns 0; 1 for a NULL pointer; 15 before a successful load.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_resource_count(vkr_preview_site* site,
                                                                                    uint64_t* out_count);

/*
 * Plain length of resource `index`. Returns 0; 1 for a NULL pointer or an
 * index out of range; 15 before a successful load.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_resource_length(vkr_preview_site* site,
                                                                                     uint64_t index,
                                                                                     uint64_t* out_length);

/*
 * Full path of resource `index` (string getter), as the read and download
 * functions take it. Returns 0; 1 for a NULL site or out_length or a capacity
 * without a buffer (checked first), or an index out of range; 3; 15 before a
 * successful load.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_resource_path(vkr_preview_site* site,
                                                                                   uint64_t index, char* buffer,
                                                                                   uint64_t capacity,
                                                                                   uint64_t* out_length);

/*
 * One string of resource `index`, chosen by a VKR_PREVIEW_RESOURCE_* field
 * (string getter). Statuses as for vkr_preview_site_resource_path; also 1
 * for a field outside 1 to 5.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_resource_string(vkr_preview_site* site,
                                                                                     uint64_t index, uint32_t field,
                                                                                     char* buffer, uint64_t capacity,
                                                                                     uint64_t* out_length);

/* Destroys the site; NULL is ignored. Not while a call runs on it. */
VKR_PREVIEW_API void VKR_PREVIEW_CALL vkr_preview_site_release(vkr_preview_site* site);

/*
 * Reads resource `path` (at most 64 MiB) into `buffer`, verified. `buffer`
 * is written only on success, with exactly the resource's bytes (no
 * terminator; a capacity equal to the length suffices). A NULL buffer with
 * capacity 0 reports the length without any request. `member_key` opens
 * members resources. `path` is a full resource path (see Resource paths).
 *
 * Returns 0; 1 for a NULL site or out_length, a bad path text, a capacity
 * or message capacity without a buffer, or a member key that is not absent
 * or 32 bytes; 3 for a
 * buffer shorter than the resource (length reported, nothing fetched); 4 (a
 * platform provider failed, or "Native in-memory read failed"); 7; 9 when a
 * part's stored form is malformed; 10 for a members resource without a key
 * ("Member content key required") or with a wrong one; 11 when fetched
 * bytes fail verification; 12 when the origin cannot be reached or answers
 * with an error; 13 for a resource over 64 MiB ("Resource exceeds in-memory
 * read limit; use file download", even for a length query) or a part this
 * library cannot decode; 14 for a path not in the index ("Resource absent
 * from index"); 15 when the site is not loaded.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL
vkr_preview_site_read_memory(vkr_preview_site* site, const char* path, uint64_t path_length, const uint8_t* member_key,
                             uint64_t member_key_length, uint8_t* buffer, uint64_t capacity, uint64_t* out_length,
                             char* message, uint64_t message_capacity);

/* vkr_preview_site_read_memory under an operation. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_read_memory_operation(
    vkr_preview_site* site, vkr_preview_operation* operation, const char* path, uint64_t path_length,
    const uint8_t* member_key, uint64_t member_key_length, uint8_t* buffer, uint64_t capacity, uint64_t* out_length,
    char* message, uint64_t message_capacity);

/*
 * Downloads resource `path` to the file `destination` (an absolute path),
 * verified. The file appears under its name only after every check passed;
 * an existing file is never replaced (status 8) and after any failure
 * neither the file nor a temporary file is left. Where the file system
 * allows it, room for the whole resource is reserved before anything is
 * fetched, so a disk too small fails at once (status 6).
 *
 * Returns 0 with *out_written the byte count; 1 for a NULL site or
 * out_written, a bad path or destination text, or a member key that is not
 * absent or 32 bytes, or a message capacity without a buffer; 4 (a
 * platform provider failed, or "Native resource download failed"); 6 for a
 * destination breaking the rules below ("Output path must be an absolute
 * local file path", "Output parent must be an existing real directory") or
 * a file that cannot be written; 7; 8 when the destination exists ("Output target already
 * exists"); 9, 10, 11, 12 and 13 (a part this library cannot decode) as for
 * vkr_preview_site_read_memory; 14 for a path not in the index, before the
 * destination is touched; 15 when the site is not loaded.
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
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL
vkr_preview_site_download(vkr_preview_site* site, const char* path, uint64_t path_length, const uint8_t* member_key,
                          uint64_t member_key_length, const char* destination, uint64_t destination_length,
                          uint64_t* out_written, char* message, uint64_t message_capacity);

/* vkr_preview_site_download under an operation. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_site_download_operation(
    vkr_preview_site* site, vkr_preview_operation* operation, const char* path, uint64_t path_length,
    const uint8_t* member_key, uint64_t member_key_length, const char* destination, uint64_t destination_length,
    uint64_t* out_written, char* message, uint64_t message_capacity);

/* ---- Game catalogues ----------------------------------------------------- */

/*
 * Parses a game catalogue document (strict JSON, at most 65,536 bytes) from
 * `data`. Returns 0 with a new handle; 1 for a NULL data or out_catalogue or
 * a message capacity without a buffer; 9 with the reason when the document
 * is invalid (also when it is over 65,536 bytes); 4 ("Catalogue parse
 * failed").
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_catalogue_parse(const uint8_t* data, uint64_t size,
                                                                                vkr_preview_catalogue** out_catalogue,
                                                                                char* message,
                                                                                uint64_t message_capacity);

/* Number of items (1 to 256). Returns 0; 1 for a NULL pointer. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_catalogue_item_count(vkr_preview_catalogue* catalogue,
                                                                                     uint64_t* out_count);

/*
 * One string of item `index` (document order), chosen by a VKR_PREVIEW_ITEM_*
 * field (string getter). Returns 0; 1 for a NULL pointer, an index out of
 * range, a capacity without a buffer or a field outside 1 to 3; 3.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_catalogue_item_string(vkr_preview_catalogue* catalogue,
                                                                                      uint64_t index, uint32_t field,
                                                                                      char* buffer, uint64_t capacity,
                                                                                      uint64_t* out_length);

/* The catalogue's revision. Returns 0; 1 for a NULL pointer. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_catalogue_revision(vkr_preview_catalogue* catalogue,
                                                                                   uint64_t* out_revision);

/* Destroys the catalogue; NULL is ignored. A catalogue may be queried from several threads at once. */
VKR_PREVIEW_API void VKR_PREVIEW_CALL vkr_preview_catalogue_release(vkr_preview_catalogue* catalogue);

/* ---- Games --------------------------------------------------------------- */

/*
 * Creates a game handle for the site at `origin` (checked as in
 * vkr_preview_site_prepare; always the library's own HTTP client), the
 * game's identifier and its own version. No request is made.
 *
 * `game_id` is the catalogue's game identifier: 1 to 64 bytes of a-z, 0-9,
 * "-", "." and "_", beginning with a letter or digit ("lantern-keep").
 * `game_version` is the game's own version: three decimal numbers of 1 to 5
 * digits joined by "." ("1.2.0"; leading zeros are allowed and one trailing
 * "." is ignored). Both are compared with the catalogue only by a refresh:
 * another form ("1.2", "v1.2.0", "1.2.0-beta", "Lantern") is accepted here,
 * and every refresh then fails with 9 ("Game ID or version is incompatible
 * with catalogue").
 *
 * Returns 0; 1 for a NULL out_game, a bad origin, game_id or game_version
 * text, a message capacity without a buffer, or a refused origin (with its
 * reason); 4 ("Native game creation failed").
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_create(
    const char* origin, uint64_t origin_length, const char* game_id, uint64_t game_id_length, const char* game_version,
    uint64_t game_version_length, vkr_preview_game** out_game, char* message, uint64_t message_capacity);

/*
 * Loads the site's hosted index and its game catalogue, checks that the
 * catalogue is for this game and version and that every item is in the
 * index, and adopts both together. A catalogue whose revision is lower than
 * the adopted one is refused with 16 unless `allow_rollback` is 1; an equal
 * revision is adopted. The first refresh of a handle accepts any revision:
 * a launcher that refuses rollbacks across restarts keeps the revision it
 * adopted and compares vkr_preview_game_catalogue_revision with it. On any
 * failure the handle keeps its earlier snapshot (item queries and fetches go
 * on answering from it).
 *
 * Returns 0; 1 for a NULL game, an allow_rollback other than 0 or 1, or a
 * message capacity without a buffer; 4 (a platform provider failed, or
 * "Native game refresh failed"); 7; 9 for an invalid index, a catalogue
 * that is missing or invalid, a catalogue for another game or version ("Game ID or version is
 * incompatible with catalogue"), or one that names an absent resource; 11
 * and 12 as for vkr_preview_site_load_hosted; 13 for a catalogue this
 * library cannot decode; 16 ("Catalogue revision rolled back; explicit
 * rollback required").
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_refresh_hosted(vkr_preview_game* game,
                                                                                    uint32_t allow_rollback,
                                                                                    char* message,
                                                                                    uint64_t message_capacity);

/* vkr_preview_game_refresh_hosted under an operation. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL
vkr_preview_game_refresh_hosted_operation(vkr_preview_game* game, vkr_preview_operation* operation,
                                          uint32_t allow_rollback, char* message, uint64_t message_capacity);

/*
 * As vkr_preview_game_refresh_hosted, loading the index from external key
 * material (1 to 1,048,576 bytes). Also returns 1 for a NULL `external` or a
 * length outside that range, 9 for material that is not a key file or
 * credential, and 10 when the key does not open the sealed index.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL
vkr_preview_game_refresh_external(vkr_preview_game* game, const uint8_t* external, uint64_t external_length,
                                  uint32_t allow_rollback, char* message, uint64_t message_capacity);

/* vkr_preview_game_refresh_external under an operation. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_refresh_external_operation(
    vkr_preview_game* game, vkr_preview_operation* operation, const uint8_t* external, uint64_t external_length,
    uint32_t allow_rollback, char* message, uint64_t message_capacity);

/* Revision of the adopted catalogue. Returns 0; 1 for a NULL pointer; 15 before a successful refresh. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_catalogue_revision(vkr_preview_game* game,
                                                                                        uint64_t* out_revision);

/*
 * Digest (64 lowercase hex digits) of the adopted index (string getter).
 * Returns 0; 1 for a NULL game, then (after the state check) for a NULL
 * out_length or a capacity without a buffer; 3; 15 before a successful
 * refresh.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_index_digest(vkr_preview_game* game, char* buffer,
                                                                                  uint64_t capacity,
                                                                                  uint64_t* out_length);

/* Number of adopted catalogue items. Returns 0; 1 for a NULL pointer; 15 before a successful refresh. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_item_count(vkr_preview_game* game,
                                                                                uint64_t* out_count);

/*
 * One string of adopted item `index`, chosen by a VKR_PREVIEW_ITEM_* field
 * (string getter). Returns 0; 1 for a NULL out_length, game or a capacity
 * without a buffer, then (after the state check) an index out of range or a
 * field outside 1 to 3; 3; 15 before a successful refresh.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_item_string(vkr_preview_game* game, uint64_t index,
                                                                                 uint32_t field, char* buffer,
                                                                                 uint64_t capacity,
                                                                                 uint64_t* out_length);

/*
 * Downloads the adopted item `item_id` (its id, not its path) to the file
 * `destination`, from the adopted index, with the guarantees and the
 * destination rules of vkr_preview_site_download.
 *
 * Returns 0 with *out_written; 1 for a NULL game or out_written, a bad
 * item_id or destination text, a message capacity without a buffer, or a
 * member key that is not absent or 32 bytes; 4, 6, 7, 9, 10, 11, 12 and 13
 * as for vkr_preview_site_download; 8 (checked before the item is looked
 * up); 14 for an id no adopted item has ("Game item is absent"); 15 before
 * a successful refresh.
 *
 * Items always come from the adopted snapshot. When the publisher has
 * republished the site since then and replaced the files the adopted index
 * points into, the fetch fails with 11 (typically "...: part digest
 * mismatch"), as tampering would. A launcher that gets 11 should refresh
 * and retry the fetch once; only an 11 right after a successful refresh
 * points to a damaged or tampered site.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_fetch_item(
    vkr_preview_game* game, const char* item_id, uint64_t item_id_length, const uint8_t* member_key,
    uint64_t member_key_length, const char* destination, uint64_t destination_length, uint64_t* out_written,
    char* message, uint64_t message_capacity);

/* vkr_preview_game_fetch_item under an operation. */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_game_fetch_item_operation(
    vkr_preview_game* game, vkr_preview_operation* operation, const char* item_id, uint64_t item_id_length,
    const uint8_t* member_key, uint64_t member_key_length, const char* destination, uint64_t destination_length,
    uint64_t* out_written, char* message, uint64_t message_capacity);

/* Destroys the game; NULL is ignored. Not while a call runs on it. */
VKR_PREVIEW_API void VKR_PREVIEW_CALL vkr_preview_game_release(vkr_preview_game* game);

/* ---- Standalone audio ---------------------------------------------------- */

/*
 * Decodes the sealed message carried by a WAV recording (`data`, the file's
 * `size` bytes, at most 64 MiB) and opens it with the 32-byte `member_key`.
 * The plaintext (at most 4,068 bytes) goes to `buffer` without terminator;
 * a NULL buffer with capacity 0 reports the length. Returns 0; 1 for a NULL
 * data or out_length, a size of 0, a key that is not 32 bytes, a capacity
 * without a buffer or a message capacity without a buffer; 3 (length
 * reported); 4 (a platform provider failed, or "Standalone audio decode
 * failed"); 9 when the recording carries no valid message; 10 when the key
 * does not open it; 11 when the message cannot be recovered unambiguously;
 * 13 for a recording over 64 MiB.
 */
VKR_PREVIEW_API vkr_preview_status VKR_PREVIEW_CALL vkr_preview_audio_decode_file(
    const uint8_t* data, uint64_t size, const uint8_t* member_key, uint64_t member_key_length, uint8_t* buffer,
    uint64_t capacity, uint64_t* out_length, char* message, uint64_t message_capacity);

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
