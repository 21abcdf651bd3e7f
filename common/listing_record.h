// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One record of a listing on standard output (--list, --files, --search, --verify), written
// either as one TAB-separated line or as one JSON object, and names made harmless for a
// terminal. Whatever a name holds (tabs, newlines, escape sequences, bytes that are not
// UTF-8), a record stays one line with a fixed number of fields.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace halvex {

class ListingRecord {
public:
    // A field; an absent value (nullopt) writes an empty TSV field and a JSON null.
    ListingRecord& Text(std::string name, std::optional<std::string_view> value);
    ListingRecord& Number(std::string name, std::optional<std::uint64_t> value);

    // The fields joined by TAB, each quoted when it must be (see QuoteListingField).
    std::string Tsv() const;
    // {"name":value,...}. A text that is not valid UTF-8 has its bad bytes replaced by U+FFFD
    // and its exact bytes added in base64 as "<name>_bytes".
    std::string Json() const;

private:
    struct Field {
        std::string name;
        bool number = false;
        bool present = false;
        std::string text;
        std::uint64_t value = 0;
    };
    std::vector<Field> fields_;
};

// A TSV field as it is, or, when it holds a control character or begins with '"', in double
// quotes with \t \n \r \" \\ and \ooo escapes. Control characters are C0 (0x00-0x1F) and DEL,
// and, UTF-8 encoded, the C1 controls (U+0080-U+009F), the line and paragraph separators
// (U+2028, U+2029) and the bidirectional controls (U+200E, U+200F, U+202A-U+202E,
// U+2066-U+2069); each byte of one is written as \ooo. JSON writes them as \uXXXX.
std::string QuoteListingField(std::string_view text);

// Control characters (as for QuoteListingField) written as \ooo, byte by byte, so that a name
// cannot move the cursor, reorder the line or change the terminal; with keepLineBreaks, '\n'
// is kept (the line breaks of a message's own text).
std::string EscapeForTerminal(std::string_view text, bool keepLineBreaks = false);

// Valid UTF-8 (shortest forms, no surrogates, at most U+10FFFF)?
bool IsValidUtf8(std::string_view text);

}  // namespace halvex
