// Requests to host names rather than addresses: libcurl resolves a name on a
// thread of its own (all but "localhost", which it answers itself), and the
// ThreadSanitizer run includes this test, so that nothing the library does
// during a transfer may race with that thread.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "request/request_fixture.h"

namespace {

// "localhost", then the names /etc/hosts gives 127.0.0.1: those go through
// the system's resolver without any network.
std::vector<std::string> loopback_names() {
    std::vector<std::string> names{"localhost"};
    std::ifstream hosts("/etc/hosts");
    for (std::string line; std::getline(hosts, line);) {
        std::istringstream fields(line.substr(0, line.find('#')));
        std::string address, name;
        if (!(fields >> address) || address != "127.0.0.1") continue;
        while (fields >> name && names.size() < 3) {
            if (name != "localhost") names.push_back(name);
        }
    }
    return names;
}

TEST_F(RequestTest, HostNamesResolveOnLibcurlsThread) {
    server.set_default(http_response(200, "ok"));
    for (bool reuse : {false, true}) {
        ASSERT_EQ(api_configure(reuse ? R"({"reuse_connections":true})" : R"({"reuse_connections":false})"), 1);
        for (const std::string &name : loopback_names()) {
            const std::string authority = name + ":" + std::to_string(server.port());
            ASSERT_EQ(send(R"({"url":"http://)" + authority + R"(/n"})"), 1) << name << ": " << api_last_error();
            EXPECT_EQ(last_request().header("Host"), authority);
            EXPECT_STREQ(api_response_body(), "ok");
        }
    }
}

}  // namespace
