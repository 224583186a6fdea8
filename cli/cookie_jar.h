// newman's cookie jar files (--cookie-jar, --export-cookie-jar): the JSON a
// tough-cookie jar serialises to, read into and written from the library's
// cookie jar.
#pragma once

#include <string>

// Adds the cookies of the file to the library's jar; a usage error when the
// file cannot be read or holds no jar.
void load_cookie_jar(const std::string &path);

// Writes the library's jar to the file; false with `why` set when it cannot.
bool export_cookie_jar(const std::string &path, std::string &why);
