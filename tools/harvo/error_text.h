// The library's error codes in words.
#ifndef HARVO_TOOLS_ERROR_TEXT_H
#define HARVO_TOOLS_ERROR_TEXT_H

#include <cstdint>
#include <string>

// The meaning of a code in words ("HTTP status 404 (not found)"); unknown codes say so.
const char* ErrorMeaning(int32_t code);

// "0x80060000" for a code.
std::string ErrorHex(int32_t code);

// True for codes that mean a file or the job failed; false for 0 and for the two notices that a
// response lacked Content-Length or Last-Modified (the file is still saved).
bool IsFailureCode(int32_t code);

#endif  // HARVO_TOOLS_ERROR_TEXT_H
