// Making text that came from a server or a bookmark store safe to print.
#ifndef HARVO_TOOLS_TEXT_ESCAPE_H
#define HARVO_TOOLS_TEXT_ESCAPE_H

#include <string>
#include <string_view>

// For a terminal: every byte that could start or form a control sequence is written as \xNN:
// bytes below 0x20, 0x7F, the two-byte UTF-8 forms of the C1 controls (U+0080 to U+009F, which
// UTF-8 terminals obey, CSI among them) and any byte 0x80 to 0x9F that is not part of a valid
// UTF-8 sequence (an 8-bit terminal takes those as C1 controls), and the bidirectional
// embeddings, overrides and isolates (U+202A to U+202E, U+2066 to U+2069), which would reorder
// what follows them on the line. Everything else passes.
std::string EscapeForTerminal(std::string_view text);

// A JSON string literal, quotes included. Valid UTF-8 passes unchanged, except controls
// (below 0x20, 0x7F and U+0080 to U+009F) and the bidirectional controls above, which are
// \u-escaped like '"' and '\' are escaped.
// A byte that is not part of a valid UTF-8 sequence (Shift_JIS text from a store, say) becomes
// \u00XX, the code point of the same number, so the output is always valid JSON.
std::string JsonQuote(std::string_view text);

// The length of the valid UTF-8 sequence at the start of text (1 to 4), or 0 when the first
// byte does not begin one (overlong forms and surrogates are not valid).
size_t Utf8SequenceLength(std::string_view text);

// Terminal columns that text takes: one per character, two for East Asian wide characters.
// Bytes outside valid UTF-8 count one column each.
size_t DisplayColumns(std::string_view text);

// The longest prefix of text that fits in columns, cut only between whole characters.
std::string_view FitColumns(std::string_view text, size_t columns);

#endif  // HARVO_TOOLS_TEXT_ESCAPE_H
