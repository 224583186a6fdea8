#include "env/dynamic_vars.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

// xoshiro256**: fast, and plenty for test data; these values are never secrets.
struct Prng {
    std::uint64_t s[4] = {};
    bool seeded = false;

    static std::uint64_t splitmix(std::uint64_t &x) noexcept {
        std::uint64_t z = (x += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    static std::uint64_t rotl(std::uint64_t x, int k) noexcept { return (x << k) | (x >> (64 - k)); }

    // Seeded once from the system's entropy; the clock and an address are
    // mixed in so that a missing source still gives each process its own run.
    void seed() noexcept {
        std::uint64_t x = ac_now_millis() ^ reinterpret_cast<std::uintptr_t>(this);
        x ^= ac_entropy();
        for (std::uint64_t &word : s) word = splitmix(x);
        seeded = true;
    }

    std::uint64_t next() noexcept {
        if (!seeded) seed();
        std::uint64_t result = rotl(s[1] * 5, 7) * 9;
        std::uint64_t t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = rotl(s[3], 45);
        return result;
    }

    // 0..n-1; the modulo bias is below 2^-50 for every n used here.
    unsigned below(unsigned n) noexcept { return static_cast<unsigned>(next() % n); }
};

Prng s_prng;

using Out = char (&)[dynamic_value_size];

void pick_chars(Out out, const char *alphabet, std::size_t count) noexcept {
    auto n = static_cast<unsigned>(std::strlen(alphabet));
    for (std::size_t i = 0; i < count; ++i) out[i] = alphabet[s_prng.below(n)];
    out[count] = '\0';
}

void digits(Out out, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<char>('0' + s_prng.below(10));
    out[count] = '\0';
}

// A number of `decimals` places in [-limit, limit], e.g. 4 places within 90.
void signed_decimal(Out out, unsigned limit, unsigned decimals) noexcept {
    unsigned scale = 1;
    for (unsigned i = 0; i < decimals; ++i) scale *= 10;
    long long v = static_cast<long long>(s_prng.below(2 * limit * scale + 1)) - static_cast<long long>(limit * scale);
    unsigned long long a = static_cast<unsigned long long>(v < 0 ? -v : v);
    std::snprintf(out, sizeof out, "%s%llu.%0*llu", v < 0 ? "-" : "", a / scale, static_cast<int>(decimals), a % scale);
}

void uuid(Out out) noexcept {
    unsigned char b[16];
    for (unsigned char &c : b) c = static_cast<unsigned char>(s_prng.next() >> 56);
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);  // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);  // RFC 4122 variant
    std::snprintf(out, sizeof out, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
}

// UTC from the real-time clock, without gmtime (days to civil date).
void iso_timestamp(Out out) noexcept {
    std::uint64_t ms = ac_now_millis();
    auto days = static_cast<std::int64_t>(ms / 86400000u);
    auto in_day = static_cast<unsigned>(ms % 86400000u);
    std::int64_t z = days + 719468, era = z / 146097;
    auto doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    unsigned day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    long long year = static_cast<long long>(yoe) + era * 400 + (month <= 2);
    std::snprintf(out, sizeof out, "%04lld-%02u-%02uT%02u:%02u:%02u.%03uZ", year, month, day, in_day / 3600000,
                  in_day / 60000 % 60, in_day / 1000 % 60, in_day % 1000);
}

const char lower_alnum[] = "abcdefghijklmnopqrstuvwxyz0123456789";

struct Generator {
    const char *name;
    void (*make)(Out) noexcept;
};

constexpr Generator generators[] = {
    {"guid", uuid},
    {"randomUUID", uuid},
    {"timestamp", [](Out o) noexcept { std::snprintf(o, sizeof o, "%lld", static_cast<long long>(ac_now_secs())); }},
    {"isoTimestamp", iso_timestamp},
    {"randomInt", [](Out o) noexcept { std::snprintf(o, sizeof o, "%u", s_prng.below(1001)); }},
    {"randomAlphaNumeric", [](Out o) noexcept { pick_chars(o, lower_alnum, 1); }},
    {"randomBoolean", [](Out o) noexcept { std::snprintf(o, sizeof o, "%s", s_prng.below(2) ? "true" : "false"); }},
    {"randomHexColor", [](Out o) noexcept { std::snprintf(o, sizeof o, "#%06x", s_prng.below(1u << 24)); }},
    {"randomIP",
     [](Out o) noexcept {
         std::snprintf(o, sizeof o, "%u.%u.%u.%u", s_prng.below(256), s_prng.below(256), s_prng.below(256),
                       s_prng.below(256));
     }},
    {"randomIPV6",
     [](Out o) noexcept {
         char *p = o;
         for (int i = 0; i < 8; ++i) p += std::snprintf(p, 6, i ? ":%04x" : "%04x", s_prng.below(1u << 16));
     }},
    {"randomMACAddress",
     [](Out o) noexcept {
         char *p = o;
         for (int i = 0; i < 6; ++i) p += std::snprintf(p, 4, i ? ":%02x" : "%02x", s_prng.below(256));
     }},
    {"randomPassword",
     [](Out o) noexcept { pick_chars(o, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_", 15); }},
    {"randomSemver",
     [](Out o) noexcept { std::snprintf(o, sizeof o, "%u.%u.%u", s_prng.below(10), s_prng.below(10), s_prng.below(10)); }},
    {"randomPrice",
     [](Out o) noexcept {
         unsigned cents = 100 + s_prng.below(99901);  // 1.00 to 1000.00
         std::snprintf(o, sizeof o, "%u.%02u", cents / 100, cents % 100);
     }},
    {"randomBankAccount", [](Out o) noexcept { digits(o, 8); }},
    {"randomCreditCardMask", [](Out o) noexcept { digits(o, 4); }},
    {"randomLatitude", [](Out o) noexcept { signed_decimal(o, 90, 4); }},
    {"randomLongitude", [](Out o) noexcept { signed_decimal(o, 180, 4); }},
    {"randomPhoneNumber",
     [](Out o) noexcept {
         std::snprintf(o, sizeof o, "%03u-%03u-%04u", s_prng.below(1000), s_prng.below(1000), s_prng.below(10000));
     }},
    {"randomPhoneNumberExt",
     [](Out o) noexcept {
         std::snprintf(o, sizeof o, "%02u-%03u-%03u-%04u", s_prng.below(100), s_prng.below(1000), s_prng.below(1000),
                       s_prng.below(10000));
     }},
    {"randomProtocol", [](Out o) noexcept { std::snprintf(o, sizeof o, "%s", s_prng.below(2) ? "https" : "http"); }},
};

}  // namespace

bool ac_dynamic_value(const char *name, char (&out)[dynamic_value_size]) noexcept {
    for (const Generator &g : generators) {
        if (std::strcmp(g.name, name) == 0) {
            g.make(out);
            return true;
        }
    }
    return false;
}
