#include "terminal.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>

bool is_terminal(std::FILE *stream) { return isatty(fileno(stream)) == 1; }

bool use_color(ColorMode mode, std::FILE *stream) {
    const char *no_color = std::getenv("NO_COLOR");
    if (no_color && *no_color) return false;
    if (mode != ColorMode::auto_detect) return mode == ColorMode::on;
    const char *term = std::getenv("TERM");
    return is_terminal(stream) && !(term && std::strcmp(term, "dumb") == 0);
}

std::string Style::paint(std::string_view sgr, std::string_view text) const {
    if (!color) return std::string(text);
    std::string out = "\x1b[";
    out.append(sgr).append("m").append(text).append("\x1b[0m");
    return out;
}

std::string format_size(std::size_t bytes) {
    char text[32];
    if (bytes < 1000) {
        std::snprintf(text, sizeof text, "%zuB", bytes);
    } else if (bytes < 1000 * 1000) {
        std::snprintf(text, sizeof text, "%.3gkB", static_cast<double>(bytes) / 1000);
    } else {
        std::snprintf(text, sizeof text, "%.3gMB", static_cast<double>(bytes) / 1e6);
    }
    return text;
}

std::string format_ms(double ms) {
    char text[32];
    if (ms < 10000) {
        std::snprintf(text, sizeof text, "%.0fms", ms);
    } else {
        std::snprintf(text, sizeof text, "%.1fs", ms / 1000);
    }
    return text;
}

const char *reason_phrase(int status) {
    struct Phrase {
        int code;
        const char *text;
    };
    static constexpr Phrase phrases[] = {
        {100, "Continue"}, {101, "Switching Protocols"}, {200, "OK"}, {201, "Created"}, {202, "Accepted"},
        {203, "Non-Authoritative Information"}, {204, "No Content"}, {205, "Reset Content"},
        {206, "Partial Content"}, {300, "Multiple Choices"}, {301, "Moved Permanently"}, {302, "Found"},
        {303, "See Other"}, {304, "Not Modified"}, {307, "Temporary Redirect"}, {308, "Permanent Redirect"},
        {400, "Bad Request"}, {401, "Unauthorized"}, {402, "Payment Required"}, {403, "Forbidden"},
        {404, "Not Found"}, {405, "Method Not Allowed"}, {406, "Not Acceptable"}, {408, "Request Timeout"},
        {409, "Conflict"}, {410, "Gone"}, {411, "Length Required"}, {412, "Precondition Failed"},
        {413, "Payload Too Large"}, {414, "URI Too Long"}, {415, "Unsupported Media Type"},
        {416, "Range Not Satisfiable"}, {417, "Expectation Failed"}, {418, "I'm a teapot"},
        {422, "Unprocessable Entity"}, {425, "Too Early"}, {426, "Upgrade Required"},
        {428, "Precondition Required"}, {429, "Too Many Requests"}, {431, "Request Header Fields Too Large"},
        {500, "Internal Server Error"}, {501, "Not Implemented"}, {502, "Bad Gateway"},
        {503, "Service Unavailable"}, {504, "Gateway Timeout"}, {505, "HTTP Version Not Supported"},
    };
    for (const Phrase &p : phrases) {
        if (p.code == status) return p.text;
    }
    return "";
}
