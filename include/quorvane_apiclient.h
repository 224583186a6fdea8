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
 * The exceptions are api_request_cancel and api_request_progress, which
 * another thread may call while api_request runs.
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
 *  environment and the collection, and reloads the history. Fails with
 *  "api_init: out of memory" when the history cannot be loaded for lack of
 *  memory; history.json is then left alone until a later api_init loads it. */
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
 *  storage directory. Returns 1, also when the file cannot be rewritten; 0
 *  only when memory runs out ("api_history_add: out of memory"), with nothing
 *  recorded. */
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
 *  each built so that api_request (with api_configure's "expand_auth",
 *  "dynamic_variables" and "nested_variables" on) sends what the format's
 *  runner sends: URL from its parts, percent-encoded, path variables filled;
 *  repeated headers as the runner settles them; every body mode; auth
 *  inherited from folders and the collection. Every item carries
 *  "verbatim": true (see api_request). Enabled collection variables the
 *  environment lacks are set in it. Everything else the file says is kept:
 *  each item's JSON holds "postman": {"ref","item","sent"}, its element as
 *  written, and the collection keeps a document of the file's root and
 *  folders (docs/collection-file.md); api_collection_save and
 *  api_collection_load carry both, api_export_postman_full writes them back.
 *  What is kept but not acted on (scripts, settings) or rewritten is listed
 *  by api_postman_report_json. Same checks and 2000-item cap as
 *  api_import_postman. All or nothing: a failure leaves the collection, the
 *  environment and the last report as they were. */
QUORVANE_API int api_import_postman_full(const char *path) QUORVANE_NOEXCEPT;

/** Writes the collection as a Postman v2.1 file. With the document a full
 *  import (or a collection file) gave it, the file says what the original
 *  said: info, scripts, variables, auth and settings where they were
 *  written, every folder, and each item as written (auth in v2.1's form);
 *  an item whose request a host changed has its request built anew and
 *  keeps the rest. Items without a place in the document (added by a host)
 *  follow, in folders by their folder path, each body type as its body
 *  mode and auth in the format's own shape, which api_import_postman_full
 *  reads back to the same items. */
QUORVANE_API int api_export_postman_full(const char *path) QUORVANE_NOEXCEPT;

/** The last successful api_import_postman_full or api_export_postman_full as
 *  a compact JSON object: {"operation","requests","items","variables",
 *  "scripts","notes":[{"folder","name","what","detail"}]}, one note for each
 *  thing rewritten, or kept but not acted on; "{}" before any. A call that
 *  fails leaves it as it was. Valid until the next successful one of those
 *  calls or api_cleanup. */
QUORVANE_API const char *api_postman_report_json(void) QUORVANE_NOEXCEPT;

/** Sets library-wide options from a JSON object; the members given change,
 *  the others keep their value, and api_cleanup restores every default.
 *  Options:
 *    "expand_auth": boolean, default false; api_request expands {{name}} in
 *      every string member of "auth", as in header values.
 *    "dynamic_variables": boolean, default false; api_request fills a
 *      {{$name}} that the environment does not set with a fresh value for
 *      each occurrence: $guid, $randomUUID, $timestamp, $isoTimestamp,
 *      $randomInt (0-1000), $randomAlphaNumeric, $randomBoolean,
 *      $randomHexColor, $randomIP, $randomIPV6, $randomMACAddress,
 *      $randomPassword, $randomSemver, $randomPrice, $randomBankAccount,
 *      $randomCreditCardMask, $randomLatitude, $randomLongitude,
 *      $randomPhoneNumber, $randomPhoneNumberExt, $randomProtocol. Other $
 *      names stay as they are.
 *    "nested_variables": boolean, default false; when an expanded text
 *      still holds placeholders (a value that refers to other variables),
 *      api_request expands it again, up to 19 passes in all, as the format's
 *      runner does; and, as it does, a variable set to "" expands to
 *      nothing (without the option its placeholder stays).
 *    "reuse_connections": boolean, default false; connections, DNS results
 *      and TLS sessions are kept between requests to the same origin (see
 *      "connection_reused" in api_response_info_json). api_cleanup, or the
 *      next request after the option is switched off, releases them.
 *    "decompress": boolean, default false; requests ask for every encoding
 *      this build can decode (Accept-Encoding) and the body is decoded. The
 *      headers JSON still shows the server's Content-Encoding.
 *    "cookies": boolean, default false; the library keeps a cookie jar for
 *      the session (libcurl's cookie engine): a cookie a response sets goes
 *      with later requests to its site as the format's runner sends it
 *      (domain, path, secure, expiry). api_cookies_json, api_cookies_add and
 *      api_cookies_clear reach it; api_cleanup empties it. Switched off, the
 *      jar is kept but neither sent nor filled.
 *    "max_redirects": integer 0-100, default 30; a request that meets one
 *      redirect more fails with curl error 47.
 *    "user_agent": string of at most 1023 bytes, default "" (no User-Agent
 *      header); a User-Agent in a request's "headers" wins.
 *    "max_response_bytes": integer, default 0 (no limit); a response whose
 *      body (decoded, with "decompress") or whose header lines pass this
 *      many bytes stops the transfer there and fails the request with
 *      "api_request: response larger than N bytes"; its body is not kept
 *      (api_response_body is ""), its status and headers are.
 *    "body_files_dir": string, default "" (any file); the one directory that
 *      file bodies and multipart file parts may come from, every link
 *      resolved ("." is the process's directory at this call). A request
 *      naming a file outside it is not sent: "api_request: Binary file load
 *      error: PPERM: insecure file access outside working directory" (a file
 *      body), "api_request: Form param `name`, file load error: PPERM: ..."
 *      (a part), in the format's runner's words. One that is not a
 *      directory fails: "api_configure: 'body_files_dir' is not a directory:
 *      '...'".
 *    "timeout_script_ms": integer 0-86400000, default 0 (no limit, as the
 *      format's runner has it); an api_script_run whose script runs longer
 *      is ended there, its output's "error" saying so.
 *    "script_memory_bytes": integer, default 0 (64 MiB); the heap of the
 *      session's script context, taken when it is made (the first
 *      api_script_run after api_init or api_cleanup).
 *  Fails, changing nothing, on NULL or "", invalid JSON, a non-object, an
 *  unknown member or a value of the wrong type: "api_configure: invalid
 *  JSON", "api_configure: unknown option 'x'", "api_configure: 'expand_auth'
 *  must be a boolean", "api_configure: 'max_redirects' must be an integer
 *  from 0 to 100", "api_configure: 'user_agent' contains a line break or
 *  NUL", "api_configure: 'max_response_bytes' must be an integer of 0 or
 *  more". */
QUORVANE_API int api_configure(const char *options_json) QUORVANE_NOEXCEPT;

/* RequestConfig members beyond the core set (absent: the core behaviour):
 *   "body_type": also "multipart" (the body is the JSON text of an array of
 *     parts, {"name","value"} or {"name","file"[,"content_type","filename"]},
 *     placeholders expanded in each part) and "file" (the body is a file path
 *     whose bytes are streamed; a missing file fails with "api_request:
 *     cannot read body file '<path>'" and sends nothing);
 *   "auth" types "digest", "ntlm" ({type,user,pass}) and "awsv4"
 *     ({type,access_key,secret_key,region,service,session_token});
 *   "verbatim": true sends the request as described, as the format's runner
 *     does: any method name as given (a token of at most 32 characters, else
 *     "api_request: invalid method '<m>'"), the body with any method, an
 *     empty body with Content-Length: 0 (except GET, HEAD, DELETE, OPTIONS,
 *     TRACE, CONNECT), empty header values sent empty, no Content-Type or
 *     Expect header added by the transfer library, and each value put into
 *     the URL percent-encoded for the part it lands in (the fragment left
 *     out). Header lines and credentials go out whole, however long (without
 *     "verbatim" a header line is cut at 4095 bytes, a bearer or API-key
 *     line at 2047, basic credentials at 1023). api_collection_add keeps it
 *     with the item.
 * Any expansion that would pass 64 MiB fails with "api_request: expanded
 * text too large", and nothing is sent.
 *
 * Transport members; absent (or null) means libcurl's default. Used as given,
 * without {{name}} expansion. A value of another type, or one that cannot be
 * used, fails the request before anything is sent:
 *   "proxy": "http://", "https://", "socks5://" or "socks5h://" URL (user and
 *     password may be in it); "" connects directly, ignoring the proxy
 *     environment variables libcurl otherwise reads.
 *   "http_version": "1.1" (never HTTP/2) or "2" (HTTP/2 over TLS by ALPN, and
 *     by upgrade over plain HTTP). Without it HTTPS may use HTTP/2 already.
 *   "ca_file": PEM file of the certificates to verify the server against.
 *   "extra_ca_file": PEM file of certificates trusted beside the system's
 *     authorities (where "ca_file" replaces them); the request's connection
 *     is its own. Not on Windows, where Schannel takes none: "api_request:
 *     'extra_ca_file' is not available in this build".
 *   "client_cert", "client_key": PEM files of a client certificate and its
 *     key (the key may be in the certificate's file).
 */

/** Number of bytes of the last response body, 0 before any. Together with
 *  api_response_body (a NUL follows the last byte) it gives bodies that hold
 *  NUL bytes, such as images, whole. */
QUORVANE_API long long api_response_body_len(void) QUORVANE_NOEXCEPT;

/** The last transfer as a compact JSON object; "{}" before any and after a
 *  request that failed before its transfer began:
 *  {"url" (the URL the request was sent to, expanded and encoded, before any
 *  redirect), "effective_url" (after them), "http_version" ("1.0", "1.1", "2", "3", "" when no
 *  response came), "remote_ip", "remote_port", "local_port",
 *  "redirect_count", "redirects": [{"status", "location", "headers"}] (one per
 *  redirect followed, headers in the form of the headers JSON),
 *  "bytes_sent" (request heads and bodies), "bytes_received" (response heads
 *  and the final body as it came, before decoding), "header_bytes",
 *  "connection_reused", "timing_us": {"dns", "connect", "tls", "wait"
 *  (request sent to first byte), "download", "redirect", "total"}}.
 *  Phases are lengths in microseconds of the final exchange; "redirect" is
 *  the time of the hops before it and "total" the whole. Valid until the
 *  next api_request or api_cleanup. */
QUORVANE_API const char *api_response_info_json(void) QUORVANE_NOEXCEPT;

/** Stops the running api_request, which then fails with "api_request:
 *  cancelled" (within about 100 ms). The one function, with
 *  api_request_progress, that may be called from another thread while
 *  api_request runs. Outside a request it does nothing, and it never cancels
 *  a later request. Not to be called concurrently with api_cleanup. */
QUORVANE_API void api_request_cancel(void) QUORVANE_NOEXCEPT;

/** Byte counts of the running transfer as libcurl counts them (bodies; the
 *  download before decoding), totals 0 while unknown; any pointer may be
 *  NULL. Returns 1 while an api_request runs, else 0 with the counts of the
 *  last one. Safe from another thread; never makes the transfer wait. */
QUORVANE_API int api_request_progress(long long *down_now, long long *down_total, long long *up_now,
                                      long long *up_total) QUORVANE_NOEXCEPT;

/** Removes an environment variable; the others keep their order. Returns 1,
 *  also when there was none of that name; 0 with "api_env_unset: empty or
 *  null key". A variable set to "" is not the same as none: with
 *  "nested_variables" on, {{name}} of one set to "" expands to nothing, and
 *  of one never set stays as written, as the format's runner has it. */
QUORVANE_API int api_env_unset(const char *key) QUORVANE_NOEXCEPT;

/** The session's cookie jar (api_configure's "cookies"), one object a
 *  cookie: [{"name","value","domain","path","secure","http_only",
 *  "host_only" (false: sent to the domain's subdomains too), "expires" (Unix
 *  seconds, 0 for a session cookie)}]; "[]" when empty. Valid until the next
 *  api_cookies_json or api_cleanup. */
QUORVANE_API const char *api_cookies_json(void) QUORVANE_NOEXCEPT;

/** Adds cookies to the jar, in the form api_cookies_json gives ("name" and
 *  "domain" needed; "path" "/", "host_only" true, the others false or 0 when
 *  absent); a cookie of the same name, domain and path replaces the older at
 *  the next request. All or nothing: a bad cookie adds none ("api_cookies_add:
 *  'name' must be a string, not empty, without tabs or line breaks"). */
QUORVANE_API int api_cookies_add(const char *cookies_json) QUORVANE_NOEXCEPT;

/** Empties the cookie jar. */
QUORVANE_API void api_cookies_clear(void) QUORVANE_NOEXCEPT;

/** The parts of a URL text as the format's url object splits it:
 *  {"protocol", "auth": {"user", "password"}, "host": [labels], "port",
 *  "path": [segments], "query": [{"key", "value"}] (null for a missing key
 *  or "="), "hash"}, each only when the URL has it; {{name}} placeholders
 *  are never split, blanks around the text are ignored. "" with
 *  "api_url_parts_json: out of memory". Valid until the next call or
 *  api_cleanup. */
QUORVANE_API const char *api_url_parts_json(const char *url) QUORVANE_NOEXCEPT;

/** The pre-request and test scripts the format's runner runs around item
 *  `index`, in its order: the collection's, each folder's from the outermost
 *  in, the item's own; every pre-request script before every test script.
 *  [{"listen": "prerequest" | "test", "from": "collection" | "folder" |
 *  "item", "name", "script" (the lines of "exec" joined by "\n")}], from
 *  what a full import kept (enabled, non-empty events only); "[]" for an
 *  item without any. "" with "api_collection_scripts_json: index out of
 *  range" or "... out of memory". Valid until the next call or api_cleanup. */
QUORVANE_API const char *api_collection_scripts_json(int index) QUORVANE_NOEXCEPT;

/** Runs one pre-request or test script as the format's runner runs it, in
 *  the session's script context (one JavaScript context, made at the first
 *  call and kept until api_cleanup: a global a script makes is there for
 *  the scripts after it). `input_json` describes the event:
 *  {"event": "prerequest" | "test", "script", "location": [collection,
 *  folders..., request names], "info": {"iteration", "iterationCount",
 *  "requestName", "requestId"}, "request": {"id", "name", "method", "url",
 *  "headers": [{"key", "value"}], "body", "auth"} (the format's forms),
 *  "response": null | {"code", "status", "headers": [{"key", "value"}],
 *  "body", "responseTime", "responseSize"}, "variables": {"globals",
 *  "collection", "environment": [{"key", "value"}], "data": {...}},
 *  "cookies": [...]}. Returns the outcome: {"tests": [{"name", "passed",
 *  "error", "errorName", "skipped"}], "variables": {"globals", "collection",
 *  "environment", "local"} (each scope as the script left it), "request",
 *  "nextRequest" (present when setNextRequest was called), "skipRequest",
 *  "console": [{"level", "text"}], "error": null | {"name", "message"} (the
 *  script threw, or ran past "timeout_script_ms"), "visualizer"}. Variables
 *  are the caller's to keep: the call changes no environment variable.
 *  pm.sendRequest is sent by the library on a transfer of its own (the last
 *  response stays). "" with "api_script_run: input_json must be an object
 *  with a string 'script'", "api_script_run: scripts are not available in
 *  this build" (built without the engine) or "... out of memory". Valid
 *  until the next call or api_cleanup. */
QUORVANE_API const char *api_script_run(const char *input_json) QUORVANE_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUORVANE_APICLIENT_H */
