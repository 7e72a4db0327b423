#include "slabtone-window/window_page.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <iterator>

#include "slabtone-window/page_files.hpp"
#include "slabtone-window/sha256.hpp"

namespace slabtone {

namespace {

void append_base64(std::string& out, const std::uint8_t* bytes, std::size_t size) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
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

// A double with enough digits to read back exactly; "inf" and "nan" as the
// C library writes them.
std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// The nonzero bins of a count: (step from the previous value, count) pairs.
void append_bins(std::string& out, const SampleCounts::Counts& counts) {
    std::vector<std::uint8_t> bytes;
    std::uint32_t previous = 0;
    for (std::uint32_t v = 0; v < counts.size(); ++v) {
        if (counts[v] == 0) continue;
        put_varint(bytes, v - previous);
        put_varint(bytes, counts[v]);
        previous = v;
    }
    append_base64(out, bytes.data(), bytes.size());
}

// 16-bit samples, little-endian.
void append_samples(std::string& out, const std::vector<std::uint16_t>& samples) {
    std::vector<std::uint8_t> bytes(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(samples[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(samples[i] >> 8);
    }
    append_base64(out, bytes.data(), bytes.size());
}

// The index of a calibration in the page's list.
template <class All>
std::size_t calibration_index(const All& all, double lac_scale, float lac_offset) {
    const auto key = std::make_pair(std::bit_cast<std::uint64_t>(lac_scale),
                                    std::bit_cast<std::uint32_t>(lac_offset));
    const auto at = all.find(key);
    return at == all.end() ? 0 : static_cast<std::size_t>(std::distance(all.begin(), at));
}

template <class All>
void append_planes(std::string& json, const WindowPage& page, const All& all) {
    const Planes* planes = page.planes;
    if (planes == nullptr || planes->slices.empty()) {
        json += ",\"planes\":null";
        return;
    }
    json += ",\"planes\":{\"x\":" + std::to_string(planes->x) +
            ",\"y\":" + std::to_string(planes->y) + ",\"step\":" + std::to_string(planes->step) +
            ",\"columns\":" + std::to_string(planes->columns) +
            ",\"rows\":" + std::to_string(planes->rows) + ",\"slices\":[";
    for (std::size_t j = 0; j < planes->slices.size(); ++j) {
        if (j > 0) json += ',';
        json += std::to_string(planes->slices[j]);
    }
    json += "],\"calibrations\":[";
    for (std::size_t j = 0; j < planes->slices.size(); ++j) {
        if (j > 0) json += ',';
        json += std::to_string(calibration_index(all, planes->lac_scale[j], planes->lac_offset[j]));
    }
    json += "],\"xz\":\"";
    append_samples(json, planes->xz);
    json += "\",\"yz\":\"";
    append_samples(json, planes->yz);
    json += "\"}";
}

void append_data(std::string& json, const WindowPage& page) {
    const auto& all = page.counts->all();
    json += "{\"range\":[" + std::to_string(page.sta_ly) + "," + std::to_string(page.dst_ly) +
            "],\"slices\":" + std::to_string(page.slices);
    json += ",\"proposed\":{\"lacmin\":" + json_string(page.lac_min_text) +
            ",\"lacmax\":" + json_string(page.lac_max_text) + ",\"low\":" + number(page.low) +
            ",\"high\":" + number(page.high) + "}";
    json += std::string(",\"insideCircle\":") + (page.inside_circle ? "true" : "false");
    json += ",\"calibrations\":[";
    for (auto at = all.begin(); at != all.end(); ++at) {
        json += at == all.begin() ? "{" : ",{";
        json += "\"lac_scale\":" + json_string(number(std::bit_cast<double>(at->first.first))) +
                ",\"lac_offset\":" + json_string(number(std::bit_cast<float>(at->first.second))) +
                ",\"bins\":\"";
        append_bins(json, *at->second);
        json += "\"}";
    }
    json += "],\"previews\":[";
    for (const PreviewSlice& p : page.previews) {
        const std::size_t calibration = calibration_index(all, p.lac_scale, p.lac_offset);
        json += &p == page.previews.data() ? "{" : ",{";
        json +=
            "\"slice\":" + std::to_string(p.slice) + ",\"width\":" + std::to_string(p.width) +
            ",\"height\":" + std::to_string(p.height) + ",\"step\":" + std::to_string(p.step) +
            ",\"columns\":" + std::to_string(p.columns) + ",\"rows\":" + std::to_string(p.rows) +
            ",\"calibration\":" + std::to_string(calibration) + ",\"description\":" +
            (p.description ? json_string(*p.description) : std::string("null")) + ",\"samples\":\"";
        append_samples(json, p.samples);
        json += "\"}";
    }
    json += "]";
    append_planes(json, page, all);
    json += ",\"smallest\":{\"width\":" + std::to_string(page.smallest.width) +
            ",\"width_slice\":" + std::to_string(page.smallest.width_slice) +
            ",\"height\":" + std::to_string(page.smallest.height) +
            ",\"height_slice\":" + std::to_string(page.smallest.height_slice) + "}}";
}

std::string csp_hash(std::string_view text) {
    const auto digest = sha256(text);
    std::string hash = "'sha256-";
    append_base64(hash, digest.data(), digest.size());
    return hash + "'";
}

}  // namespace

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

std::string window_page(const WindowPage& page) {
    const std::string_view style = page_css();
    const std::string_view script = page_js();
    const std::string csp = "default-src 'none'; script-src " + csp_hash(script) + "; style-src " +
                            csp_hash(style) + "; base-uri 'none'; form-action 'none'";
    const std::string title = "slabtone-window: slices " + std::to_string(page.sta_ly) + " to " +
                              std::to_string(page.dst_ly);
    const std::string_view html = page_html();
    // The page is written once into one buffer of about its size: the
    // samples and counts in base64 are most of it.
    std::size_t size = html.size() + style.size() + script.size() + 65536;
    for (const PreviewSlice& p : page.previews) size += p.samples.size() * 8 / 3 + 1024;
    if (page.planes != nullptr) {
        size += (page.planes->xz.size() + page.planes->yz.size()) * 8 / 3 +
                page.planes->slices.size() * 24 + 1024;
    }
    // A nonzero bin takes at most 3 + 10 bytes of varints, 18 in base64;
    // a stack with a calibration per slice has few bins in each.
    for (const auto& [calibration, counts] : page.counts->all()) {
        size +=
            256 + 18 * static_cast<std::size_t>(std::count_if(
                           counts->begin(), counts->end(), [](auto count) { return count != 0; }));
    }
    std::string out;
    out.reserve(size);
    const std::pair<std::string_view, std::string_view> texts[] = {
        {"@CSP@", csp}, {"@TITLE@", title}, {"@STYLE@", style}, {"@SCRIPT@", script}};
    // One pass over the template: what is filled in is never looked at again.
    std::size_t at = 0;
    while (at < html.size()) {
        const std::size_t mark = html.find('@', at);
        if (mark == std::string_view::npos) break;
        out.append(html.substr(at, mark - at));
        at = mark + 1;
        if (html.compare(mark, 6, "@DATA@") == 0) {
            append_data(out, page);
            at = mark + 6;
            continue;
        }
        bool filled = false;
        for (const auto& [name, text] : texts) {
            if (html.compare(mark, name.size(), name) == 0) {
                out.append(text);
                at = mark + name.size();
                filled = true;
                break;
            }
        }
        if (!filled) out += '@';
    }
    out.append(html.substr(at));
    return out;
}

}  // namespace slabtone
