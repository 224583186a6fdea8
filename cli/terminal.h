// How the program writes to a terminal: colour, symbols and the units it
// shows sizes and times in.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

enum class ColorMode { on, off, auto_detect };

// Colour for `stream`: never when NO_COLOR is set (to anything), else as asked,
// auto meaning a terminal that is not "dumb".
bool use_color(ColorMode mode, std::FILE *stream);
bool is_terminal(std::FILE *stream);

struct Style {
    bool color = false;
    bool unicode = true;

    std::string paint(std::string_view sgr, std::string_view text) const;
    std::string red(std::string_view t) const { return paint("31", t); }
    std::string green(std::string_view t) const { return paint("32", t); }
    std::string yellow(std::string_view t) const { return paint("33", t); }
    std::string gray(std::string_view t) const { return paint("90", t); }
    std::string bold(std::string_view t) const { return paint("1", t); }
    // A symbol and its plain stand-in for --disable-unicode.
    const char *pick(const char *fancy, const char *plain) const { return unicode ? fancy : plain; }
};

// "512B", "1.5kB", "2.25MB": the units newman's summary uses.
std::string format_size(std::size_t bytes);
// "12ms", or "1.5s" from ten seconds up.
std::string format_ms(double ms);
// Standard reason phrase of a status code, "" when unknown.
const char *reason_phrase(int status);
