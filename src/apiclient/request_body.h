// Request bodies that are not one text in memory: a multipart form built
// with libcurl's mime API, and a file streamed from disk.
#pragma once

#include <cstdio>

#include <curl/curl.h>

enum class BodyKind { text, multipart, file };

// The kind a RequestConfig's body_type names; anything unknown is text.
BodyKind ac_body_kind(const char *body_type) noexcept;

// Owns what libcurl reads a multipart or file body from; declare it before
// the easy handle, so that it outlives the transfer.
class StreamBody {
public:
    StreamBody() = default;
    ~StreamBody();
    StreamBody(const StreamBody &) = delete;
    StreamBody &operator=(const StreamBody &) = delete;

    // Builds the parts from the JSON text of an array of parts, expanding
    // placeholders in each part's strings. False with the message set.
    bool multipart(CURL *h, const char *parts_json) noexcept;
    // Opens a regular file to be sent as it is. False with the message set.
    bool file(const char *path) noexcept;

    bool ready() const noexcept { return mime_ || file_; }
    // Hands the body to the handle; the method is set before.
    void attach(CURL *h) noexcept;

private:
    curl_mime *mime_ = nullptr;
    std::FILE *file_ = nullptr;
    curl_off_t file_size_ = 0;
};
