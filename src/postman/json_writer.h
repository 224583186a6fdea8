// JSON text written straight into one growing buffer, laid out byte for byte
// as yyjson writes it (compact, or pretty with four spaces). Export streams a
// whole collection through it instead of building a document first, which
// would touch several times as much fresh memory.
#pragma once

#include <cstddef>
#include <cstdint>

class JsonWriter {
public:
    explicit JsonWriter(bool pretty) noexcept : pretty_(pretty) {}
    ~JsonWriter();
    JsonWriter(const JsonWriter &) = delete;
    JsonWriter &operator=(const JsonWriter &) = delete;

    void begin_object() noexcept { begin('{'); }
    void end_object() noexcept { end('}'); }
    void begin_array() noexcept { begin('['); }
    void end_array() noexcept { end(']'); }
    // A member's key; the next value written is its value.
    void key(const char *s, std::size_t n) noexcept;
    void key(const char *s) noexcept;
    void string(const char *s, std::size_t n) noexcept;
    void string(const char *s) noexcept;
    void null() noexcept;

    // False once memory ran out or nesting went too deep; the text is then
    // incomplete.
    bool ok() const noexcept { return ok_; }
    const char *text() const noexcept { return buf_ ? buf_ : ""; }
    std::size_t size() const noexcept { return len_; }

private:
    static constexpr int max_depth = 32;

    void begin(char open) noexcept;
    void end(char close) noexcept;
    void separate() noexcept;
    void newline_indent(int depth) noexcept;
    void quoted(const char *s, std::size_t n) noexcept;
    bool reserve(std::size_t extra) noexcept;
    void append(const char *s, std::size_t n) noexcept;

    char *buf_ = nullptr;
    std::size_t len_ = 0;
    std::size_t cap_ = 0;
    bool ok_ = true;
    bool pretty_;
    bool after_key_ = false;
    int depth_ = 0;
    std::uint32_t counts_[max_depth] = {};  // elements written at each open level
};
