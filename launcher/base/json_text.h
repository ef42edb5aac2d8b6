// The two small JSON documents the launcher reads (the keep list and the update description) use
// a value only in its text form: a string's characters, or a number, true, false or null exactly as
// the document writes it ("1e2" stays "1e2", "1.50" stays "1.50"). A tree of parsed values would
// have lost that form, so the reader keeps the top-level members of an object and the plain
// elements of the arrays among them, and nothing deeper.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

enum class JsonKind { String, Number, Boolean, Null, Array, Object };

// A string, a number, true or false: what a document gives as one value.
bool IsPlainJsonValue(JsonKind kind);

struct JsonText {
    JsonKind kind = JsonKind::Null;
    std::string text;  // UTF-8 characters of a string, the written form of the others; empty for containers
};

struct JsonMember {
    JsonKind kind = JsonKind::Null;
    std::string text;                // as JsonText::text
    std::vector<JsonText> elements;  // of an array, in order; a nested array or object has no text
};

using JsonMembers = std::map<std::string, JsonMember, std::less<>>;

// The members of the object that `utf8` holds, a later member of the same name replacing an earlier
// one; nothing when the text is not one JSON value or that value is not an object.
std::optional<JsonMembers> ReadJsonMembers(std::string_view utf8);

}  // namespace orv
