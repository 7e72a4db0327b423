#include "slabtone-window/page_encoding.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace slabtone {

void append_base64(std::string& out, std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t size = bytes.size();
    const std::size_t at = out.size();
    out.resize(at + (size + 2) / 3 * 4);
    char* text = out.data() + at;
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const std::uint32_t group =
            (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        for (int shift : {18, 12, 6, 0}) *text++ = kDigits[(group >> shift) & 63];
    }
    if (i < size) {
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (i + 1 < size) group |= std::uint32_t{bytes[i + 1]} << 8;
        *text++ = kDigits[(group >> 18) & 63];
        *text++ = kDigits[(group >> 12) & 63];
        *text++ = i + 1 < size ? kDigits[(group >> 6) & 63] : '=';
        *text++ = '=';
    }
}

void put_varint(std::vector<std::uint8_t>& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

void append_bins(std::string& out, const SampleCounts::Counts& counts) {
    std::vector<std::uint8_t> bytes;
    std::uint32_t previous = 0;
    for (std::uint32_t v = 0; v < counts.size(); ++v) {
        if (counts[v] == 0) continue;
        put_varint(bytes, v - previous);
        put_varint(bytes, counts[v]);
        previous = v;
    }
    append_base64(out, bytes);
}

void append_samples(std::string& out, const std::vector<std::uint16_t>& samples) {
    std::vector<std::uint8_t> bytes(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(samples[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(samples[i] >> 8);
    }
    append_base64(out, bytes);
}

void append_float_samples(std::string& out, const std::vector<float>& values) {
    std::vector<std::uint8_t> bytes(values.size() * 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &values[i], sizeof bits);
        for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<std::uint8_t>(bits >> (8 * b));
    }
    append_base64(out, bytes);
}

std::string exact_number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string json_string(std::string_view text) {
    std::string json = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F || c == '<' || c == '>' || c == '&') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += static_cast<char>(c);
        }
    }
    return json + "\"";
}

}  // namespace slabtone
