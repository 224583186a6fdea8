// The bytecode that qv_bytecode makes at build time (cmake/Scripts.cmake):
// for each script, its length (four bytes, little-endian), then its bytecode.
#pragma once

#include <cstddef>

extern const unsigned char qv_script_blob[];
extern const std::size_t qv_script_blob_size;
