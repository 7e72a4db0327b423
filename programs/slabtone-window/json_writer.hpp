// A small JSON writer for the page's data: objects, arrays, keys and values
// written into a string as they come, with the commas between them and no
// white space. Strings go through json_string, safe inside a script block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "slabtone-window/page_encoding.hpp"

namespace slabtone {

class JsonWriter {
  public:
    explicit JsonWriter(std::string& out) : out_(out) {}

    JsonWriter& begin_object() { return open('{'); }
    JsonWriter& end_object() { return close('}'); }
    JsonWriter& begin_array() { return open('['); }
    JsonWriter& end_array() { return close(']'); }

    // The key of the next value in an object.
    JsonWriter& key(std::string_view name) {
        separate();
        out_ += json_string(name);
        out_ += ':';
        after_key_ = true;
        return *this;
    }

    JsonWriter& integer(std::int64_t value) { return raw(std::to_string(value)); }
    JsonWriter& boolean(bool value) { return raw(value ? "true" : "false"); }
    JsonWriter& null() { return raw("null"); }
    JsonWriter& string(std::string_view text) { return raw(json_string(text)); }
    // A number already written as JSON number text.
    JsonWriter& number_text(std::string_view text) { return raw(text); }

    // A string whose characters need no escaping (base64), which `append`
    // adds to the output in place.
    template <class Append>
    JsonWriter& plain_string(Append&& append) {
        separate();
        out_ += '"';
        append(out_);
        out_ += '"';
        return *this;
    }

  private:
    JsonWriter& raw(std::string_view text) {
        separate();
        out_ += text;
        return *this;
    }
    JsonWriter& open(char bracket) {
        separate();
        out_ += bracket;
        first_.push_back(true);
        return *this;
    }
    JsonWriter& close(char bracket) {
        first_.pop_back();
        out_ += bracket;
        return *this;
    }
    // A comma before every value but the first of its object or array (a
    // key and its value count as one).
    void separate() {
        if (after_key_) {
            after_key_ = false;
            return;
        }
        if (!first_.empty()) {
            if (!first_.back()) out_ += ',';
            first_.back() = false;
        }
    }

    std::string& out_;
    std::vector<bool> first_;  // per open object or array: nothing written in it yet
    bool after_key_ = false;
};

}  // namespace slabtone
