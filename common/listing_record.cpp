// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/listing_record.h"

#include <cstdio>

namespace halvex {
namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Length of the control character that starts at text[i], or 0: C0 and DEL (one byte), and in
// UTF-8 the C1 controls U+0080-U+009F, the line and paragraph separators U+2028 and U+2029
// (these and NEL, U+0085, end a line for some readers, Python's splitlines among them) and
// the bidirectional controls U+200E, U+200F, U+202A-U+202E, U+2066-U+2069, which reorder what
// a terminal shows.
std::size_t ControlLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned char c = byte(i);
    if (IsControl(c)) return 1;
    if (c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) return 2;
    if (c != 0xE2) return 0;
    const unsigned second = byte(i + 1), third = byte(i + 2);
    if (second == 0x80 && (third == 0x8E || third == 0x8F || (third >= 0xA8 && third <= 0xAE))) return 3;
    if (second == 0x81 && third >= 0xA6 && third <= 0xA9) return 3;
    return 0;
}

bool HasControl(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (ControlLength(text, i) != 0) return true;
    return false;
}

void AppendOctal(std::string& out, unsigned char c) {
    char escape[5];
    std::snprintf(escape, sizeof escape, "\\%03o", c);
    out += escape;
}

// Length of the valid UTF-8 sequence at text[i], or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = byte(i);
    if (c < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c == 0xE0) length = 3, low = 0xA0;
    else if (c >= 0xE1 && c <= 0xEC) length = 3;
    else if (c == 0xED) length = 3, high = 0x9F;  // no surrogates
    else if (c >= 0xEE && c <= 0xEF) length = 3;
    else if (c == 0xF0) length = 4, low = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) length = 4;
    else if (c == 0xF4) length = 4, high = 0x8F;
    else return 0;
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return length;
}

std::string Base64(std::string_view data) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(data[i]) << 16 | static_cast<unsigned char>(data[i + 1]) << 8 |
                           static_cast<unsigned char>(data[i + 2]);
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
    }
    if (i < data.size()) {
        const bool two = i + 1 < data.size();
        const unsigned v = static_cast<unsigned char>(data[i]) << 16 |
                           (two ? static_cast<unsigned char>(data[i + 1]) << 8 : 0u);
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], two ? kDigits[(v >> 6) & 63] : '=', '='};
    }
    return out;
}

// \uXXXX for one valid UTF-8 sequence of the Basic Multilingual Plane.
std::string JsonUnicodeEscape(std::string_view sequence) {
    unsigned code = static_cast<unsigned char>(sequence[0]);
    if (sequence.size() == 2) code = (code & 0x1F) << 6 | (static_cast<unsigned char>(sequence[1]) & 0x3F);
    else if (sequence.size() == 3)
        code = (code & 0x0F) << 12 | (static_cast<unsigned char>(sequence[1]) & 0x3F) << 6 |
               (static_cast<unsigned char>(sequence[2]) & 0x3F);
    char escape[7];
    std::snprintf(escape, sizeof escape, "\\u%04x", code);
    return escape;
}

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (ControlLength(text, i) != 0) {
            out += JsonUnicodeEscape(text.substr(i, length));
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out + '"';
}

}  // namespace

ListingRecord& ListingRecord::Text(std::string name, std::optional<std::string_view> value) {
    Field field;
    field.name = std::move(name);
    if (value) {
        field.present = true;
        field.text = *value;
    }
    fields_.push_back(std::move(field));
    return *this;
}

ListingRecord& ListingRecord::Number(std::string name, std::optional<std::uint64_t> value) {
    Field field;
    field.name = std::move(name);
    field.number = true;
    if (value) {
        field.present = true;
        field.value = *value;
    }
    fields_.push_back(std::move(field));
    return *this;
}

std::string ListingRecord::Tsv() const {
    std::string out;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const Field& field = fields_[i];
        if (i > 0) out += '\t';
        if (!field.present) continue;
        out += field.number ? std::to_string(field.value) : QuoteListingField(field.text);
    }
    return out;
}

std::string ListingRecord::Json() const {
    std::string out = "{";
    for (const Field& field : fields_) {
        if (out.size() > 1) out += ',';
        out += JsonString(field.name) + ':';
        if (!field.present) out += "null";
        else if (field.number) out += std::to_string(field.value);
        else out += JsonString(field.text);
        if (field.present && !field.number && !IsValidUtf8(field.text))
            out += ',' + JsonString(field.name + "_bytes") + ':' + JsonString(Base64(field.text));
    }
    return out + '}';
}

std::string QuoteListingField(std::string_view text) {
    const bool quote = (!text.empty() && text.front() == '"') || HasControl(text);
    if (!quote) return std::string(text);
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const char ch = text[i];
        const std::size_t control = ControlLength(text, i);
        switch (ch) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default:
                if (control == 0) out += ch;
                for (std::size_t k = 0; k < control; ++k) AppendOctal(out, static_cast<unsigned char>(text[i + k]));
        }
        i += control == 0 ? 1 : control;
    }
    return out + '"';
}

std::string EscapeForTerminal(std::string_view text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        std::size_t control = ControlLength(text, i);
        if (keepLineBreaks && text[i] == '\n') control = 0;
        if (control == 0) out += text[i++];
        for (; control > 0; --control) AppendOctal(out, static_cast<unsigned char>(text[i++]));
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace halvex
