#include "apiclient/transfer.h"

#include <atomic>
#include <cstdint>
#include <thread>

#include "config/config.h"
#include "quorvane_apiclient.h"
#include "util/owners.h"

namespace {

// Longest sleep in curl_multi_poll when libcurl has no earlier time-out of
// its own; a cancel wakes it at once.
constexpr int poll_ms = 1000;
// Kept connections: enough for the few origins a host switches between.
constexpr long kept_connections = 16;

// Id of the api_request running, 0 when none. Only the request thread
// writes it; cancel and progress read it from any thread.
std::atomic<std::uint64_t> s_running{0};
std::atomic<std::uint64_t> s_cancelled{0};
std::uint64_t s_last_id = 0;

// The multi handle the running transfer waits in, published for cancel. A
// multi handle is freed only once it is unpublished and no cancel is still
// inside curl_multi_wakeup on it.
std::atomic<CURLM *> s_live{nullptr};
std::atomic<int> s_wakers{0};

// Plain atomics, written by libcurl's progress callback: a reader never
// makes the transfer wait.
std::atomic<long long> s_down_now{0}, s_down_total{0}, s_up_now{0}, s_up_total{0};

bool s_private_next = false;
CURLM *s_pool = nullptr;    // kept connections
CURLSH *s_share = nullptr;  // kept DNS results and TLS sessions

void reset_progress() noexcept {
    for (auto *count : {&s_down_now, &s_down_total, &s_up_now, &s_up_total}) count->store(0);
}

int progress_cb(void *, curl_off_t down_total, curl_off_t down_now, curl_off_t up_total, curl_off_t up_now) noexcept {
    s_down_now.store(down_now, std::memory_order_relaxed);
    s_down_total.store(down_total, std::memory_order_relaxed);
    s_up_now.store(up_now, std::memory_order_relaxed);
    s_up_total.store(up_total, std::memory_order_relaxed);
    return 0;
}

void release_pool() noexcept {
    // Connections first: closing one may still store its TLS session.
    curl_multi_cleanup(s_pool);
    s_pool = nullptr;
    curl_share_cleanup(s_share);
    s_share = nullptr;
}

CURLM *pool() noexcept {
    if (s_pool) return s_pool;
    s_share = curl_share_init();
    s_pool = curl_multi_init();
    if (!s_share || !s_pool || curl_share_setopt(s_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) != CURLSHE_OK ||
        curl_share_setopt(s_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
        release_pool();
        return nullptr;
    }
    curl_multi_setopt(s_pool, CURLMOPT_MAXCONNECTS, kept_connections);
    return s_pool;
}

bool cancel_asked(std::uint64_t id) noexcept { return id != 0 && s_cancelled.load() == id; }

// Drives the transfer until it ends, fails in the multi interface, or a
// cancel for this request arrives.
void drive(CURLM *multi, CURL *handle, std::uint64_t id, TransferResult &result) noexcept {
    for (;;) {
        if (cancel_asked(id)) {
            result.cancelled = true;
            return;
        }
        int running = 0;
        result.multi_code = curl_multi_perform(multi, &running);
        if (result.multi_code != CURLM_OK) return;
        int left = 0;
        while (CURLMsg *msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == handle) {
                result.code = msg->data.result;
                return;
            }
        }
        result.multi_code = curl_multi_poll(multi, nullptr, 0, poll_ms, nullptr);
        if (result.multi_code != CURLM_OK) return;
    }
}

void unpublish() noexcept {
    s_live.store(nullptr);
    // Seen only while a cancel is between its look at s_live and its return.
    while (s_wakers.load() != 0) std::this_thread::yield();
}

}  // namespace

RequestScope::RequestScope() noexcept {
    s_private_next = false;
    reset_progress();
    s_running.store(++s_last_id);
}

RequestScope::~RequestScope() { s_running.store(0); }

void ac_transfer_private_connection() noexcept { s_private_next = true; }

TransferResult ac_transfer_run(CURL *handle) noexcept {
    TransferResult result;
    const std::uint64_t id = s_running.load();
    const bool reuse = ac_options().reuse_connections;
    const bool pooled = reuse && !s_private_next;
    s_private_next = false;
    // Reuse switched off: what was kept goes now rather than at api_cleanup.
    if (!reuse) release_pool();
    unique_multi own(pooled ? nullptr : curl_multi_init());
    CURLM *multi = pooled ? pool() : own.get();
    if (!multi) {
        result.multi_code = CURLM_OUT_OF_MEMORY;
        return result;
    }
    if (pooled) curl_easy_setopt(handle, CURLOPT_SHARE, s_share);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, progress_cb);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);

    result.multi_code = curl_multi_add_handle(multi, handle);
    if (result.multi_code != CURLM_OK) return result;
    s_live.store(multi);
    drive(multi, handle, id, result);
    unpublish();
    // Removing an unfinished transfer closes its connection. A cancelled one
    // must not wait for a name lookup still running in libcurl's resolver
    // thread; the thread is left to end by itself.
    if (result.cancelled) curl_easy_setopt(handle, CURLOPT_QUICK_EXIT, 1L);
    curl_multi_remove_handle(multi, handle);
    return result;
}

void ac_transfer_release() noexcept {
    release_pool();
    reset_progress();
}

extern "C" void api_request_cancel(void) noexcept {
    std::uint64_t id = s_running.load();
    if (id == 0) return;
    s_cancelled.store(id);
    s_wakers.fetch_add(1);
    if (CURLM *multi = s_live.load()) curl_multi_wakeup(multi);
    s_wakers.fetch_sub(1);
}

extern "C" int api_request_progress(long long *down_now, long long *down_total, long long *up_now,
                                    long long *up_total) noexcept {
    if (down_now) *down_now = s_down_now.load(std::memory_order_relaxed);
    if (down_total) *down_total = s_down_total.load(std::memory_order_relaxed);
    if (up_now) *up_now = s_up_now.load(std::memory_order_relaxed);
    if (up_total) *up_total = s_up_total.load(std::memory_order_relaxed);
    return s_running.load() != 0 ? 1 : 0;
}
