/*
 * quorvane-apiclient: an embeddable engine for trying out HTTP APIs.
 *
 * Every function takes and returns NUL-terminated byte strings (JSON texts are
 * UTF-8) and ints. Returned strings are never NULL and are owned by the
 * library: do not free or modify them, and copy what you want to keep. Each
 * stays valid until the next call that rewrites it (named below) or
 * api_cleanup(). Functions returning int give 1 on success and 0 on failure;
 * after a 0, api_last_error() tells why.
 *
 * Nothing here is thread-safe: call the library from one thread at a time.
 *
 * docs/behaviour.md lists the deliberate behaviours a host may notice (allowed
 * protocols, redirect limit, refused header bytes, cuts, file replacement).
 */
#ifndef QUORVANE_APICLIENT_H
#define QUORVANE_APICLIENT_H

/* Define QUORVANE_STATIC when linking the library's objects into the program
 * itself rather than loading the DLL. */
#if defined(QUORVANE_STATIC) && !defined(QUORVANE_BUILDING)
#  define QUORVANE_API
#elif defined(_WIN32)
#  if defined(QUORVANE_BUILDING)
#    define QUORVANE_API __declspec(dllexport)
#  else
#    define QUORVANE_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define QUORVANE_API __attribute__((visibility("default")))
#else
#  define QUORVANE_API
#endif

#ifdef __cplusplus
#  define QUORVANE_NOEXCEPT noexcept
extern "C" {
#else
#  define QUORVANE_NOEXCEPT
#endif

/* ---- Lifecycle and errors ---------------------------------------------- */

/** Initialises the library. storage_dir (may be NULL or "") is where
 *  history.json lives; its last level is created if missing. Discards the
 *  environment and the collection, and reloads the history. */
QUORVANE_API int api_init(const char *storage_dir) QUORVANE_NOEXCEPT;

/** Releases every store and buffer; the library is uninitialised afterwards. */
QUORVANE_API void api_cleanup(void) QUORVANE_NOEXCEPT;

/** Last failure message; never NULL, "" when there is none. Only api_init and
 *  api_request clear it, so it may be stale after a success: read it right
 *  after a 0. */
QUORVANE_API const char *api_last_error(void) QUORVANE_NOEXCEPT;

/* ---- Requests and the last response ------------------------------------ */

/** Performs one HTTP request described by a JSON RequestConfig:
 *  {"url", "method", "headers", "body", "body_type", "auth", "timeout_s",
 *  "follow_redirects", "insecure"}. {{name}} placeholders in the URL, the body
 *  and header values are expanded from the environment. Returns 1 when the
 *  transfer completed, whatever the HTTP status. */
QUORVANE_API int api_request(const char *config_json) QUORVANE_NOEXCEPT;

/** Body of the last response up to its first NUL; "" before any. Valid until
 *  the next api_request. */
QUORVANE_API const char *api_response_body(void) QUORVANE_NOEXCEPT;

/** Headers of the last response as a compact JSON object, names lower-cased,
 *  repeated names kept in arrival order; "{}" when there are none. */
QUORVANE_API const char *api_response_headers_json(void) QUORVANE_NOEXCEPT;

/** HTTP status of the last response; 0 when none was received. */
QUORVANE_API int api_response_status(void) QUORVANE_NOEXCEPT;

/** Timing of the last response: {"dns_ms","connect_ms","tls_ms","ttfb_ms",
 *  "total_ms","bytes"}; "{}" before any. */
QUORVANE_API const char *api_response_time_json(void) QUORVANE_NOEXCEPT;

/* ---- Environment -------------------------------------------------------- */

/** Sets a variable (at most 1000); a NULL value stores "". */
QUORVANE_API int api_env_set(const char *key, const char *value) QUORVANE_NOEXCEPT;

/** Value of a variable (at most its first 8191 bytes), or "" when unset.
 *  Valid until the next api_env_get or api_request. */
QUORVANE_API const char *api_env_get(const char *key) QUORVANE_NOEXCEPT;

/** Every variable as one JSON object, in the order keys were first set. Valid
 *  until the next api_env_json, api_init or api_cleanup. */
QUORVANE_API const char *api_env_json(void) QUORVANE_NOEXCEPT;

/** Merges the members of a JSON object file into the environment. */
QUORVANE_API int api_env_load(const char *path) QUORVANE_NOEXCEPT;

/* ---- History ------------------------------------------------------------ */

/** Records {"method","url","status","ts"} (all optional; NULL allowed) as the
 *  newest entry of the history (at most 500) and rewrites history.json in the
 *  storage directory. Always returns 1. */
QUORVANE_API int api_history_add(const char *entry_json) QUORVANE_NOEXCEPT;

/** Number of history entries, 0 to 500. */
QUORVANE_API int api_history_count(void) QUORVANE_NOEXCEPT;

/** The newest `limit` entries (all when limit <= 0) as a JSON array. Valid
 *  until the next api_history_list_json or api_cleanup. */
QUORVANE_API const char *api_history_list_json(int limit) QUORVANE_NOEXCEPT;

/* ---- Collection --------------------------------------------------------- */

/** Adds a saved request (item JSON) under a folder path (may be NULL). */
QUORVANE_API int api_collection_add(const char *folder, const char *request_json) QUORVANE_NOEXCEPT;

/** Number of saved requests, 0 to 2000. */
QUORVANE_API int api_collection_count(void) QUORVANE_NOEXCEPT;

/** Item JSON of the saved request at `index`, or "{}". Valid until the next
 *  api_collection_get_json, api_export_postman or api_cleanup. */
QUORVANE_API const char *api_collection_get_json(int index) QUORVANE_NOEXCEPT;

/** Writes the collection to a collection file. */
QUORVANE_API int api_collection_save(const char *path) QUORVANE_NOEXCEPT;

/** Replaces the collection with the requests of a collection file. */
QUORVANE_API int api_collection_load(const char *path) QUORVANE_NOEXCEPT;

/* ---- Postman interchange ------------------------------------------------ */

/** Replaces the collection with the requests of a Postman v2.1 file. */
QUORVANE_API int api_import_postman(const char *path) QUORVANE_NOEXCEPT;

/** Writes the collection as a Postman v2.1 file. */
QUORVANE_API int api_export_postman(const char *path) QUORVANE_NOEXCEPT;

/* ---- JSON query --------------------------------------------------------- */

/** One value of the last response body as compact JSON, selected by JSON
 *  Pointer ("/a/0"), dotted path ("$.a[0]", ".a.0") or top-level key; "" on
 *  failure. Valid until the next api_json_query. */
QUORVANE_API const char *api_json_query(const char *path) QUORVANE_NOEXCEPT;

/* ==== Extensions ===========================================================
 * Functions beyond the core set above. They keep its conventions and never
 * change what the core functions do: every new behaviour of a core function
 * is opt-in, through api_configure or a new RequestConfig member.
 */

/** Replaces the collection with the requests of a Postman v2.0 or v2.1 file,
 *  each built so that api_request (with api_configure's "expand_auth" and
 *  "dynamic_variables" on) sends what the format's runner sends: URL from
 *  its parts, percent-encoded, path variables filled; repeated headers
 *  collapsed; every body mode; auth inherited from folders and the
 *  collection. Enabled collection variables the environment lacks are set in
 *  it. What cannot be carried (scripts, descriptions, saved responses,
 *  unsupported auth, settings) is listed by api_postman_report_json. Same
 *  checks and 2000-item cap as api_import_postman. */
QUORVANE_API int api_import_postman_full(const char *path) QUORVANE_NOEXCEPT;

/** Writes the collection as a Postman v2.1 file with folders as item groups,
 *  each body type as its body mode and auth in the format's own shape, which
 *  api_import_postman_full reads back to the same items. */
QUORVANE_API int api_export_postman_full(const char *path) QUORVANE_NOEXCEPT;

/** The last api_import_postman_full or api_export_postman_full as a compact
 *  JSON object: {"operation","requests","items","variables","scripts",
 *  "notes":[{"folder","name","what","detail"}]}, one note for each thing
 *  dropped or rewritten; "{}" before any, or after a call that failed. Valid
 *  until the next of those calls or api_cleanup. */
QUORVANE_API const char *api_postman_report_json(void) QUORVANE_NOEXCEPT;

/** Sets library-wide options from a JSON object; the members given change,
 *  the others keep their value, and api_cleanup restores every default.
 *  Options (all false by default):
 *    "expand_auth": boolean; api_request expands {{name}} in every string
 *      member of "auth", as in header values.
 *    "dynamic_variables": boolean; api_request fills a {{$name}} that the
 *      environment does not set with a fresh value for each occurrence:
 *      $guid, $randomUUID, $timestamp, $isoTimestamp, $randomInt (0-1000),
 *      $randomAlphaNumeric, $randomBoolean, $randomHexColor, $randomIP,
 *      $randomIPV6, $randomMACAddress, $randomPassword, $randomSemver,
 *      $randomPrice, $randomBankAccount, $randomCreditCardMask,
 *      $randomLatitude, $randomLongitude, $randomPhoneNumber,
 *      $randomPhoneNumberExt, $randomProtocol. Other $ names stay as they are.
 *  Fails, changing nothing, on NULL or "", invalid JSON, a non-object, an
 *  unknown member or a value of the wrong type: "api_configure: invalid
 *  JSON", "api_configure: unknown option 'x'", "api_configure: 'expand_auth'
 *  must be a boolean". */
QUORVANE_API int api_configure(const char *options_json) QUORVANE_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUORVANE_APICLIENT_H */
