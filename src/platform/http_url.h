// How the HTTP layer turns a server, port and object name into the URL handed to libcurl.
#ifndef HARVO_PLATFORM_HTTP_URL_H
#define HARVO_PLATFORM_HTTP_URL_H

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hvhttp {

// Percent-encodes the bytes that cannot stand in a URL (controls, space, bytes >= 0x80 and
// "<>\^`{|}); every other byte, "%" included, is kept so that the object goes out as given.
std::string EncodeObject(std::string_view object);

// "http://" (secure: "https://") + server + ":" + port + "/" + object; a leading "/" of the
// object is not doubled, and an IPv6 literal server gets its brackets.
std::string BuildUrl(std::string_view server, uint16_t port, std::string_view object,
                     bool secure = false);

// Splits a request header line "Name: value" into its name and its value without the blanks
// around it. False when the line is no header: a name of token characters, a colon, and a
// value without control characters other than tab.
bool ParseHeaderLine(const std::string& line, std::pair<std::string, std::string>* header);
// Every line of lines as ParseHeaderLine splits it; false (headers untouched) when one is no
// header.
bool ParseHeaderLines(const std::vector<std::string>& lines,
                      std::vector<std::pair<std::string, std::string>>* headers);

// True when the file at path can be read and has a PEM certificate block ("-----BEGIN
// CERTIFICATE-----" on a line of its own) in its first 16 MiB: what a CA file must hold.
bool HoldsPemCertificate(const std::string& path);

}  // namespace hvhttp

#endif  // HARVO_PLATFORM_HTTP_URL_H
