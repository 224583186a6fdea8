// Debian's nghttpd (package nghttp2-server) as a local HTTP/2 server over
// TLS: it serves the files of a directory on 127.0.0.1 with a self-signed
// certificate for that address, which clients trust through ca_file().
#pragma once

#include <string>
#include <sys/types.h>

#include "support/temp_dir.h"

class H2Server {
public:
    H2Server();  // throws when nghttpd is missing or does not start
    ~H2Server();
    H2Server(const H2Server &) = delete;
    H2Server &operator=(const H2Server &) = delete;

    // Serves `body` at "/" + name.
    void add_file(const std::string &name, const std::string &body);
    std::string url(const std::string &path) const;
    std::string ca_file() const { return dir_.file("cert.pem"); }

private:
    void stop();

    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};
