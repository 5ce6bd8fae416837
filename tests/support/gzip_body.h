// Gzip bodies for tests, made without a compression library: a body stored uncompressed (valid
// gzip of any text), and a "bomb" of zero bytes built from back-references, each 13 bits long
// standing for 258 bytes (about 1:158).
#ifndef HARVO_TESTS_SUPPORT_GZIP_BODY_H
#define HARVO_TESTS_SUPPORT_GZIP_BODY_H

#include <cstdint>
#include <string>

// Valid gzip whose deflate blocks store text as it is.
std::string GzipStored(const std::string& text);
// Valid gzip of at least decodedBytes zero bytes (rounded up to 1 + 258 * k).
std::string GzipZeros(uint64_t decodedBytes);
uint64_t GzipZerosDecodedLength(uint64_t decodedBytes);

#endif  // HARVO_TESTS_SUPPORT_GZIP_BODY_H
