#include "launcher/base/json_text.h"

#include <cstddef>

#include <nlohmann/json.hpp>

namespace orv {
namespace {

using Json = nlohmann::json;

// Follows the parser's events and keeps what lies at depth one (the members) and two (the elements
// of an array member). The parser itself is iterative, so deep nesting costs no stack here either.
class MemberCollector {
public:
    bool null() { return Value(JsonKind::Null, "null"); }
    bool boolean(bool value) { return Value(JsonKind::Boolean, value ? "true" : "false"); }
    // A literal without a sign comes as unsigned; a signed one whose value is 0 was written "-0".
    bool number_integer(Json::number_integer_t value) {
        return Value(JsonKind::Number, value == 0 ? "-0" : std::to_string(value));
    }
    bool number_unsigned(Json::number_unsigned_t value) { return Value(JsonKind::Number, std::to_string(value)); }
    // The lexer hands over the literal's own characters.
    bool number_float(Json::number_float_t, const Json::string_t& written) { return Value(JsonKind::Number, written); }
    bool string(Json::string_t& value) { return Value(JsonKind::String, value); }
    bool binary(Json::binary_t&) { return Value(JsonKind::Null, ""); }  // never produced by JSON text
    bool start_object(std::size_t) { return Open(JsonKind::Object); }
    bool start_array(std::size_t) { return Open(JsonKind::Array); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool key(Json::string_t& name) {
        if (depth_ == 1) key_ = name;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

    bool IsObject() const { return topIsObject_; }
    JsonMembers Take() { return std::move(members_); }

private:
    bool Value(JsonKind kind, std::string text) {
        if (depth_ == 1) {
            Start(kind).text = std::move(text);
        } else if (depth_ == 2 && current_ != nullptr && current_->kind == JsonKind::Array) {
            current_->elements.push_back({kind, std::move(text)});
        }
        return true;
    }
    bool Open(JsonKind kind) {
        if (depth_ == 0) topIsObject_ = kind == JsonKind::Object;
        else if (depth_ == 1) Start(kind);
        else if (depth_ == 2 && current_ != nullptr && current_->kind == JsonKind::Array) current_->elements.push_back({kind, {}});
        ++depth_;
        return true;
    }
    bool Close() {
        --depth_;
        return true;
    }
    JsonMember& Start(JsonKind kind) {
        JsonMember& member = members_[key_];
        member = JsonMember{kind, {}, {}};
        current_ = &member;
        return member;
    }

    JsonMembers members_;
    JsonMember* current_ = nullptr;  // the member whose value is being read; map nodes stay put
    std::string key_;
    size_t depth_ = 0;
    bool topIsObject_ = false;
};

}  // namespace

bool IsPlainJsonValue(JsonKind kind) {
    return kind == JsonKind::String || kind == JsonKind::Number || kind == JsonKind::Boolean;
}

std::optional<JsonMembers> ReadJsonMembers(std::string_view utf8) {
    MemberCollector collector;
    if (!Json::sax_parse(utf8.begin(), utf8.end(), &collector) || !collector.IsObject()) return std::nullopt;
    return collector.Take();
}

}  // namespace orv
