// One JSON object written as one line of a JSON Lines file, field by field,
// straight into a string that is reused from line to line:
//
//   JsonLine line;
//   line.Begin();
//   line.Number("command", 3);
//   line.Text("kind", "read");
//   line.Object("reply");  line.Number("status", 0);  line.End();
//   line.End();           // {"command":3,"kind":"read","reply":{"status":0}}
//   WriteJsonLine(file, line);
//
// Text is escaped as JSON requires (quote, backslash, control characters as
// \u00XX); bytes that are not UTF-8 are written as \u00XX of their value, so
// that every line stays valid JSON whatever a file or a device gave.
#ifndef ZARK_COMMON_JSON_LINE_H
#define ZARK_COMMON_JSON_LINE_H

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

// Keys are the program's own names in plain ASCII and are written as they
// are; text values are escaped.
class JsonLine {
public:
    void Begin();                    // starts a line: the outer object
    void Object(std::string_view key); // a nested object, closed by End
    void Array(std::string_view key);  // a nested array of objects, closed by End
    void Element();                  // an object as the next element of the open array
    void End();                      // closes the innermost object or array

    void Text(std::string_view key, std::string_view value);
    void Number(std::string_view key, std::int64_t value);
    void Number(std::string_view key, double value);
    void Boolean(std::string_view key, bool value);
    // Bytes as a string of two lower-case hexadecimal digits each.
    void Hex(std::string_view key, std::span<const std::uint8_t> bytes);
    // Microseconds since the epoch as UTC, e.g. "2026-12-06T20:14:28.645843Z".
    void Time(std::string_view key, std::int64_t microseconds);

    const std::string &text() const { return text_; }

private:
    void Key(std::string_view key);
    void Quoted(std::string_view value);

    std::string text_;
    std::string closing_; // what closes each open object or array, innermost last
    // A record's two times can lie in different seconds: the date and time
    // of day of the last even and the last odd second seen.
    std::int64_t second_[2] = {-1, -1};
    std::string second_text_[2];
    bool first_ = true;   // no comma before the next member
};

// Writes the line and its line feed; false when the file took less.
bool WriteJsonLine(std::FILE *file, const JsonLine &line);

// Microseconds since the epoch, now.
std::int64_t MicrosecondsNow();

#endif
