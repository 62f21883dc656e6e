// The received text as a terminal is sent it.  A terminal acts on control
// bytes: a server's text could set the window title, write the clipboard,
// clear the screen or write over a line.  So each byte that a terminal could
// act on is shown as visible text:
//   - TAB, LF, and a CR directly before an LF of the text pass as they are.
//   - The other C0 controls and DEL are shown in caret notation: "^" and the
//     byte XOR 0x40.  ESC is ^[, BEL ^G, a lone CR ^M, DEL ^?.  A CR that
//     ends the text is ^M too: the newline after it is the program's own.
//   - Printable ASCII passes.
//   - From 0x80, on a terminal that takes UTF-8, the text is read as UTF-8.
//     A well-formed character from U+00A0 up passes.  A C1 control (U+0080
//     to U+009F) is shown as \xhh, two lower-case hex digits, for each of
//     its two bytes.  Every other byte is shown as \xhh by itself, and
//     reading goes on at the next byte.
//   - From 0x80, on any other terminal, each byte is shown as \xhh.  Such a
//     terminal may read a byte from 0x80 to 0x9F, even one inside a UTF-8
//     character, as a C1 control.
#ifndef CLIENT_VISIBLE_TEXT_H
#define CLIENT_VISIBLE_TEXT_H

#include <cstddef>
#include <cstring>

// The most that make_visible writes for one byte of text: \xhh.
constexpr std::size_t VISIBLE_BYTES_PER_BYTE = 4;

constexpr unsigned char DEL = 0x7F;
constexpr unsigned char CARET_NOTATION_FLIP = 0x40; // ^ and the byte XOR 0x40
constexpr unsigned char FIRST_NON_ASCII = 0x80;
// The C1 controls U+0080 to U+009F are C2 80 to C2 9F in UTF-8.
constexpr unsigned char C1_FIRST_BYTE = 0xC2;
constexpr unsigned char AFTER_C1_SECOND_BYTE = 0xA0;
constexpr unsigned char CONTINUATION_LOW = 0x80;
constexpr unsigned char CONTINUATION_HIGH = 0xBF;
constexpr unsigned char HEX_BASE = 16;

// Unicode's table of well-formed UTF-8 byte sequences: for each range of
// first bytes, the length of the sequence and the range of its second
// byte.  Every byte after the second is a continuation byte, 0x80 to 0xBF.
// So there is no overlong form, no surrogate, and nothing above U+10FFFF.
enum Utf8Column : unsigned char {
    FIRST_LOW,
    FIRST_HIGH,
    LENGTH,
    SECOND_LOW,
    SECOND_HIGH,
    UTF8_COLUMNS
};
constexpr std::size_t UTF8_ROWS = 8;
// clang-format off
constexpr unsigned char WELL_FORMED_UTF8[UTF8_ROWS][UTF8_COLUMNS] = {
    // first byte  length  second byte
    {0xC2, 0xDF,   2,      0x80, 0xBF}, // U+0080 to U+07FF
    {0xE0, 0xE0,   3,      0xA0, 0xBF}, // U+0800 to U+0FFF
    {0xE1, 0xEC,   3,      0x80, 0xBF}, // U+1000 to U+CFFF
    {0xED, 0xED,   3,      0x80, 0x9F}, // U+D000 to U+D7FF
    {0xEE, 0xEF,   3,      0x80, 0xBF}, // U+E000 to U+FFFF
    {0xF0, 0xF0,   4,      0x90, 0xBF}, // U+10000 to U+3FFFF
    {0xF1, 0xF3,   4,      0x80, 0xBF}, // U+40000 to U+FFFFF
    {0xF4, 0xF4,   4,      0x80, 0x8F}, // U+100000 to U+10FFFF
};
// clang-format on

// The length of the well-formed UTF-8 character at the start of TEXT, which
// holds LENGTH bytes, or 0 if none starts there.
inline std::size_t utf8_character_length(const unsigned char *text, std::size_t length)
{
    for (const unsigned char *row : WELL_FORMED_UTF8) {
        if (text[0] < row[FIRST_LOW] || text[0] > row[FIRST_HIGH]) {
            continue;
        }
        const std::size_t size = row[LENGTH];
        if (length < size || text[1] < row[SECOND_LOW] || text[1] > row[SECOND_HIGH]) {
            return 0;
        }
        for (std::size_t next = 2; next < size; ++next) {
            if (text[next] < CONTINUATION_LOW || text[next] > CONTINUATION_HIGH) {
                return 0;
            }
        }
        return size;
    }
    return 0;
}

// Writes TEXT, which ends at its first zero byte or after LENGTH bytes, to
// VISIBLE as a terminal may be sent it, one that takes UTF-8 where UTF8 is
// true.  VISIBLE holds VISIBLE_BYTES_PER_BYTE bytes for each byte of TEXT.
// Returns the number of bytes written.
inline std::size_t make_visible(const char *text, std::size_t length, bool utf8, char *visible)
{
    const char *const hex_digits = "0123456789abcdef";
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    std::size_t written = 0;
    std::size_t offset = 0;
    while (offset < length && bytes[offset] != 0) {
        const unsigned char byte = bytes[offset];
        if (byte >= FIRST_NON_ASCII) {
            const std::size_t size =
                utf8 ? utf8_character_length(bytes + offset, length - offset) : 0;
            // The C1 controls are well-formed, but don't pass.  The size
            // comes first: the second byte is read only if there is one.
            const bool c1_control =
                size == 2 && byte == C1_FIRST_BYTE && bytes[offset + 1] < AFTER_C1_SECOND_BYTE;
            if (size != 0 && !c1_control) {
                std::memcpy(visible + written, bytes + offset, size);
                written += size;
                offset += size;
                continue;
            }
            for (const std::size_t end = offset + (size != 0 ? size : 1); offset < end; ++offset) {
                visible[written++] = '\\';
                visible[written++] = 'x';
                visible[written++] = hex_digits[bytes[offset] / HEX_BASE];
                visible[written++] = hex_digits[bytes[offset] % HEX_BASE];
            }
        } else if ((byte >= ' ' && byte < DEL) || byte == '\t' || byte == '\n' ||
                   (byte == '\r' && offset + 1 < length && bytes[offset + 1] == '\n')) {
            visible[written++] = static_cast<char>(byte);
            ++offset;
        } else {
            visible[written++] = '^';
            visible[written++] = static_cast<char>(byte ^ CARET_NOTATION_FLIP);
            ++offset;
        }
    }
    return written;
}

#endif
