// SPDX-License-Identifier: GPL-3.0-or-later
// Listing records: whatever a name holds, a TSV record stays one line with its fields, a JSON
// record is valid JSON with the exact bytes recoverable, and terminal text has no control bytes.
#include <gtest/gtest.h>

#include "common/listing_record.h"

namespace halvex {
namespace {

TEST(ListingRecordTest, FieldsAreQuotedOnlyWhenTheyMustBe) {
    const struct {
        std::string in, tsv, terminal;
    } cases[] = {
        {"plain name.txt", "plain name.txt", "plain name.txt"},
        {"Data\\letters\\a.txt", "Data\\letters\\a.txt", "Data\\letters\\a.txt"},
        {"tab\there", "\"tab\\there\"", "tab\\011here"},
        {"new\nline\\x", "\"new\\nline\\\\x\"", "new\\012line\\x"},
        {"\"starts", "\"\\\"starts\"", "\"starts"},
        {"mid\"dle", "mid\"dle", "mid\"dle"},
        {"esc\x1b[2J\r\x7f", "\"esc\\033[2J\\r\\177\"", "esc\\033[2J\\015\\177"},
        {std::string("nul\0x", 5), "\"nul\\000x\"", "nul\\000x"},
        {"\xc3\xbc\xff", "\xc3\xbc\xff", "\xc3\xbc\xff"},
        // C1 controls: NEL (a line break for some readers) and CSI, the 8-bit escape
        {"nel\xc2\x85x", "\"nel\\302\\205x\"", "nel\\302\\205x"},
        {"csi\xc2\x9b" "2J", "\"csi\\302\\2332J\"", "csi\\302\\2332J"},
        // the line separator ends a line as NEL does
        {"ls\xe2\x80\xa8x", "\"ls\\342\\200\\250x\"", "ls\\342\\200\\250x"},
        // bidirectional controls: RLO, LRM, RLI, PDI; their neighbours are plain text
        {"a\xe2\x80\xaegpj.exe", "\"a\\342\\200\\256gpj.exe\"", "a\\342\\200\\256gpj.exe"},
        {"\xe2\x80\x8e\xe2\x81\xa7x\xe2\x81\xa9", "\"\\342\\200\\216\\342\\201\\247x\\342\\201\\251\"",
         "\\342\\200\\216\\342\\201\\247x\\342\\201\\251"},
        {"\xc2\xa0\xe2\x80\xaf\xe2\x80\x8d\xe2\x81\xa5", "\xc2\xa0\xe2\x80\xaf\xe2\x80\x8d\xe2\x81\xa5",
         "\xc2\xa0\xe2\x80\xaf\xe2\x80\x8d\xe2\x81\xa5"},
        // a cut-off sequence stays as it is
        {"cut\xe2\x80", "cut\xe2\x80", "cut\xe2\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(QuoteListingField(c.in), c.tsv) << c.in;
        EXPECT_EQ(EscapeForTerminal(c.in), c.terminal) << c.in;
    }
    EXPECT_EQ(EscapeForTerminal("Error:\nname\tx", true), "Error:\nname\\011x");
    EXPECT_EQ(ListingRecord().Text("path", "n\xc2\x85\xe2\x80\xae\x01").Json(), "{\"path\":\"n\\u0085\\u202e\\u0001\"}");
}

TEST(ListingRecordTest, RecordsKeepTheirShapeInBothForms) {
    ListingRecord record;
    record.Text("archive", "Home2.TQBak").Number("size", 5000000000ULL).Text("path", "D\\a\tb\n\xff\xfe").Number("crc", std::nullopt);
    EXPECT_EQ(record.Tsv(), "Home2.TQBak\t5000000000\t\"D\\\\a\\tb\\n\xff\xfe\"\t");
    EXPECT_EQ(record.Json(),
              "{\"archive\":\"Home2.TQBak\",\"size\":5000000000,\"path\":\"D\\\\a\\tb\\n\xEF\xBF\xBD\xEF\xBF\xBD\","
              "\"path_bytes\":\"RFxhCWIK//4=\",\"crc\":null}");
}

TEST(ListingRecordTest, Utf8ValidityFollowsTheShortestForms) {
    const struct {
        std::string text;
        bool valid;
    } cases[] = {{"", true},           {"abc", true},          {"\xc3\xa9", true},       {"\xe2\x82\xac", true},
                 {"\xf0\x9f\x98\x80", true}, {"\xc0\xaf", false}, {"\xe0\x80\xaf", false}, {"\xed\xa0\x80", false},
                 {"\xf4\x90\x80\x80", false}, {"\xc3", false},    {"\x80", false}};
    for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << testing::PrintToString(c.text);
}

}  // namespace
}  // namespace halvex
