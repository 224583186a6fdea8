// api_request_cancel and api_request_progress, called from a second thread
// while api_request runs. scripts/test also runs these under ThreadSanitizer.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "request/request_fixture.h"

namespace {

using namespace std::chrono;

constexpr std::size_t big_body = 8u << 20;

struct Sample {
    int running;
    long long down_now, down_total;
};

Sample sample() {
    Sample s{};
    s.running = api_request_progress(&s.down_now, &s.down_total, nullptr, nullptr);
    return s;
}

// Once the request runs, samples its progress until `ready` holds for the
// samples so far, then cancels it.
class Canceller {
public:
    template <class Ready>
    explicit Canceller(Ready ready)
        : thread_([this, ready] {
              for (auto give_up = steady_clock::now() + seconds(20); steady_clock::now() < give_up;) {
                  Sample s = sample();
                  if (s.running || !samples.empty()) samples.push_back(s);  // from the request's start on
                  if (!samples.empty() && ready(samples)) {
                      cancelled_at = steady_clock::now();
                      api_request_cancel();
                      return;
                  }
                  std::this_thread::sleep_for(milliseconds(2));
              }
          }) {}
    ~Canceller() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

    std::vector<Sample> samples;
    steady_clock::time_point cancelled_at{};

private:
    std::thread thread_;
};

TEST_F(RequestTest, CancelStopsATransferWhereverItWaits) {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big_body) + "\r\n\r\n";
    struct Case {
        const char *name;
        HttpReply reply;
        bool (*ready)(const std::vector<Sample> &);
    } cases[] = {
        // A slow download: the counts grow, the total is known.
        {"trickle", trickled(head + std::string(big_body, 'x'), 4096, milliseconds(10)),
         [](const std::vector<Sample> &s) { return s.back().down_now >= 3 * 4096; }},
        // A server that never answers: libcurl has no progress to report.
        {"stall", HttpReply(head, seconds(60)), [](const std::vector<Sample> &s) { return s.size() >= 20; }},
    };
    for (Case &c : cases) {
        server.set_default(c.reply);
        steady_clock::time_point returned;
        int result;
        {
            Canceller canceller(c.ready);
            result = send(R"({"url":"$B/slow","timeout_s":0})");
            returned = steady_clock::now();
            canceller.join();
            ASSERT_NE(canceller.cancelled_at, steady_clock::time_point{}) << c.name;
            // Far below the time the server would take; the latency itself is a benchmark figure.
            EXPECT_LT(returned - canceller.cancelled_at, seconds(5)) << c.name;
            for (const Sample &s : canceller.samples) EXPECT_EQ(s.running, 1) << c.name;
            if (std::string(c.name) == "trickle") {
                const Sample &last = canceller.samples.back();
                EXPECT_EQ(last.down_total, static_cast<long long>(big_body));
                EXPECT_GT(last.down_now, canceller.samples.front().down_now);
            }
        }
        EXPECT_EQ(result, 0) << c.name;
        EXPECT_STREQ(api_last_error(), "api_request: cancelled") << c.name;
        EXPECT_EQ(sample().running, 0);
        // What arrived stays readable, as after any failed transfer.
        EXPECT_EQ(api_response_status(), std::string(c.name) == "trickle" ? 200 : 0);
        EXPECT_EQ(std::string(api_response_body(), static_cast<std::size_t>(api_response_body_len())),
                  std::string(static_cast<std::size_t>(api_response_body_len()), 'x'));
    }
}

TEST_F(RequestTest, CancelOutsideARequestIsForgotten) {
    server.set_default(http_response(200, "ok"));
    api_request_cancel();
    EXPECT_EQ(send(R"({"url":"$B/a"})"), 1) << api_last_error();
    api_request_cancel();
    EXPECT_EQ(send(R"({"url":"$B/b","method":"POST","body":"12345678"})"), 1) << api_last_error();

    // After a request: not running, with its final counts.
    long long down_now = -1, down_total = -1, up_now = -1, up_total = -1;
    EXPECT_EQ(api_request_progress(&down_now, &down_total, &up_now, &up_total), 0);
    EXPECT_EQ(down_now, 2);
    EXPECT_EQ(down_total, 2);
    EXPECT_EQ(up_now, 8);
    EXPECT_EQ(up_total, 8);
    EXPECT_EQ(api_request_progress(nullptr, nullptr, nullptr, nullptr), 0);
}

// A cancel racing the end of each request may land in it or be dropped,
// but it never spills into the next one.
TEST_F(RequestTest, CancelsRacingRequestsNeverReachALaterOne) {
    server.set_default(http_response(200, "ok"));
    std::atomic<bool> stop{false};
    std::thread canceller([&stop] {
        while (!stop) {
            api_request_cancel();
            std::this_thread::yield();
        }
    });
    std::size_t completed = 0;
    for (int i = 0; i < 200; ++i) {
        if (send(R"({"url":"$B/r"})") == 1) {
            // A cancel that came too late leaves the response whole.
            ++completed;
            EXPECT_EQ(api_response_status(), 200);
            EXPECT_STREQ(api_response_body(), "ok");
        } else {
            EXPECT_STREQ(api_last_error(), "api_request: cancelled");
        }
    }
    stop = true;
    canceller.join();
    // Every completed request reached the server; none went out twice.
    EXPECT_GE(server.request_count(), completed);
    EXPECT_LE(server.request_count(), 200u);
    EXPECT_EQ(send(R"({"url":"$B/after"})"), 1) << api_last_error();
    // A cancelled request may be recorded after it, by another server thread.
    std::size_t after = 0;
    for (const HttpRequest &r : server.requests()) after += r.path() == "/after" ? 1 : 0;
    EXPECT_EQ(after, 1u);
}

}  // namespace
