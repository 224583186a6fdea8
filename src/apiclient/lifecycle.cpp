#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include <curl/curl.h>

#include "apiclient/apiclient.h"
#include "apiclient/cookies.h"
#include "apiclient/request_transport.h"
#include "apiclient/response.h"
#include "apiclient/transfer.h"
#include "collection/collection.h"
#include "config/config.h"
#include "env/env.h"
#include "history/history.h"
#include "jsonbridge/jsonbridge.h"
#include "postman/postman.h"
#include "util/alloc.h"
#include "platform/platform.h"
#include "quorvane_apiclient.h"
#include "script/script.h"
#include "url/url.h"
#include "util/util.h"

int g_initialized = 0;
char g_last_error[last_error_size];
char g_storage_dir[storage_dir_size];

namespace {

// Every successful curl_global_init is matched by one curl_global_cleanup, so a
// repeated api_init cannot leave libcurl's global state behind after cleanup.
int s_curl_global_inits = 0;

bool init_curl() noexcept {
    CURLcode rc = ac_curl_global_init();
    if (rc != CURLE_OK) {
        ac_set_error("api_init: curl_global_init failed (%d)", static_cast<int>(rc));
        return false;
    }
    ++s_curl_global_inits;
    return true;
}

// False when the history could not be loaded for lack of memory; the
// library is initialised all the same, with an empty history.
bool reset_stores() noexcept {
    ac_env_init();
    bool loaded = ac_history_init();
    ac_collection_init();
    g_initialized = 1;
    return loaded;
}

}  // namespace

void ac_set_error(const char *fmt, ...) noexcept {
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(g_last_error, sizeof g_last_error, fmt, ap);
    va_end(ap);
}

void ac_clear_error() noexcept { g_last_error[0] = '\0'; }

void ac_lazy_init() noexcept {
    ac_clear_error();
    g_storage_dir[0] = '\0';
    if (init_curl()) reset_stores();
}

extern "C" int api_init(const char *storage_dir) noexcept {
    ac_clear_error();
    if (storage_dir && *storage_dir) {
        ac_copy_text(g_storage_dir, sizeof g_storage_dir, storage_dir);
        ac_make_dir(g_storage_dir);
    } else {
        g_storage_dir[0] = '\0';
    }
    if (!init_curl()) {
        // Nothing was loaded: the next recording must not rewrite history.json.
        g_storage_dir[0] = '\0';
        return 0;
    }
    if (reset_stores()) return 1;
    ac_set_error("api_init: out of memory");
    return 0;
}

extern "C" void api_cleanup(void) noexcept {
    ac_response_release();
    ac_transfer_release();
    ac_transport_release();
    ac_cookies_release();
    ac_env_cleanup();
    ac_history_cleanup();
    ac_collection_cleanup();
    ac_collection_scripts_cleanup();
    ac_json_query_cleanup();
    ac_postman_cleanup();
    ac_url_cleanup();
    ac_script_cleanup();
    ac_options_reset();
    if (g_initialized) {
        for (; s_curl_global_inits > 0; --s_curl_global_inits) curl_global_cleanup();
        g_initialized = 0;
    }
    g_storage_dir[0] = '\0';
    ac_clear_error();
}

extern "C" const char *api_last_error(void) noexcept { return g_last_error; }
