// Placeholders of a URL filled the way newman fills them: each value
// percent-encoded by the set of the part it lands in, the fragment cut.
#pragma once

#include <string>
#include <string_view>

// `url` with every {{name}} the environment sets replaced by its value (a
// value naming other variables expanded in turn), encoded as newman encodes
// it, as the library does for verbatim requests; the program shows the URL
// it sends: in the path (and before it) space " < > `
// { } and non-ASCII bytes, a backslash read as '/'; in the query space " '
// < > and non-ASCII bytes. What follows a '#' in the result is not sent.
// Names the environment does not set ({{$guid}} among them) stay for the
// library to fill.
std::string expand_url(std::string_view url);
