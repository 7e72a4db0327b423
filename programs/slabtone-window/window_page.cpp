#include "slabtone-window/window_page.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <iterator>

#include "slabtone-window/json_writer.hpp"
#include "slabtone-window/page_encoding.hpp"
#include "slabtone-window/page_files.hpp"
#include "slabtone-window/sha256.hpp"

namespace slabtone {

namespace {

// The index of a calibration in the page's list.
std::size_t calibration_index(const SampleCounts& counts, double lac_scale, float lac_offset) {
    const auto& all = counts.all();
    const auto at = all.find(SampleCounts::key_of(Calibration{lac_scale, lac_offset}));
    return at == all.end() ? 0 : static_cast<std::size_t>(std::distance(all.begin(), at));
}

void write_planes(JsonWriter& json, const WindowPage& page) {
    const Planes* planes = page.planes;
    json.key("planes");
    if (planes == nullptr || planes->slices.empty()) {
        json.null();
        return;
    }
    json.begin_object();
    json.key("x").integer(planes->x).key("y").integer(planes->y);
    json.key("step").integer(planes->step);
    json.key("columns").integer(planes->columns).key("rows").integer(planes->rows);
    json.key("slices").begin_array();
    for (std::int64_t slice : planes->slices) json.integer(slice);
    json.end_array();
    json.key("calibrations").begin_array();
    for (std::size_t j = 0; j < planes->slices.size(); ++j) {
        json.integer(static_cast<std::int64_t>(
            calibration_index(*page.counts, planes->lac_scale[j], planes->lac_offset[j])));
    }
    json.end_array();
    if (planes->xz_values.empty()) {
        json.key("xz").plain_string([&](std::string& out) { append_samples(out, planes->xz); });
        json.key("yz").plain_string([&](std::string& out) { append_samples(out, planes->yz); });
    } else {
        json.key("xz").plain_string(
            [&](std::string& out) { append_float_samples(out, planes->xz_values); });
        json.key("yz").plain_string(
            [&](std::string& out) { append_float_samples(out, planes->yz_values); });
    }
    json.end_object();
}

// The stack's data for the page's script.
void write_data(std::string& out, const WindowPage& page) {
    JsonWriter json(out);
    json.begin_object();
    json.key("range").begin_array().integer(page.sta_ly).integer(page.dst_ly).end_array();
    json.key("slices").integer(page.slices);
    json.key("proposed").begin_object();
    json.key("lacmin").string(page.lac_min_text).key("lacmax").string(page.lac_max_text);
    json.key("low").number_text(exact_number(page.low));
    json.key("high").number_text(exact_number(page.high));
    json.key("toZero").integer(static_cast<std::int64_t>(page.proposed_saturated.to_black));
    json.key("to255").integer(static_cast<std::int64_t>(page.proposed_saturated.to_white));
    json.end_object();
    json.key("insideCircle").boolean(page.inside_circle);
    json.key("sampleType")
        .string(page.sample_type == SampleType::float32 ? "float32"
                : page.sample_type == SampleType::int16 ? "int16"
                                                        : "uint16");
    json.key("shortest").boolean(page.shortest);
    json.key("options").string(page.options);
    json.key("calibrations").begin_array();
    if (page.floats != nullptr) {
        // One calibration; the values are the bins' (floatBins).
        json.begin_object();
        json.key("lac_scale").string(exact_number(page.float_calibration.lac_scale));
        json.key("lac_offset").string(exact_number(page.float_calibration.lac_offset));
        json.key("bins").string("");
        json.end_object();
    }
    for (const auto& entry : page.counts->all()) {
        const Calibration calibration = SampleCounts::calibration_of_key(entry.first);
        const SampleCounts::Counts& counts = *entry.second;
        json.begin_object();
        json.key("lac_scale").string(exact_number(calibration.lac_scale));
        json.key("lac_offset").string(exact_number(calibration.lac_offset));
        json.key("bins").plain_string([&](std::string& text) { append_bins(text, counts); });
        json.end_object();
    }
    json.end_array();
    if (page.floats != nullptr) {
        json.key("floatBins").plain_string([&](std::string& text) {
            append_bins(text, page.floats->bins);
        });
        json.key("floatNaN").integer(static_cast<std::int64_t>(page.floats->nan));
    }
    json.key("previews").begin_array();
    for (const PreviewSlice& p : page.previews) {
        json.begin_object();
        json.key("slice").integer(p.slice).key("width").integer(p.width);
        json.key("height").integer(p.height).key("step").integer(p.step);
        json.key("columns").integer(p.columns).key("rows").integer(p.rows);
        json.key("calibration")
            .integer(static_cast<std::int64_t>(
                calibration_index(*page.counts, p.lac_scale, p.lac_offset)));
        json.key("description");
        if (p.description) {
            json.string(*p.description);
        } else {
            json.null();
        }
        json.key("samples").plain_string([&](std::string& text) {
            if (p.values.empty()) {
                append_samples(text, p.samples);
            } else {
                append_float_samples(text, p.values);
            }
        });
        json.end_object();
    }
    json.end_array();
    write_planes(json, page);
    json.key("smallest").begin_object();
    json.key("width").integer(page.smallest.width);
    json.key("width_slice").integer(page.smallest.width_slice);
    json.key("height").integer(page.smallest.height);
    json.key("height_slice").integer(page.smallest.height_slice);
    json.end_object();
    json.end_object();
}

std::string csp_hash(std::string_view text) {
    const auto digest = sha256(text);
    std::string hash = "'sha256-";
    append_base64(hash, digest);
    return hash + "'";
}

}  // namespace

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
    for (const PreviewSlice& p : page.previews) {
        size += (p.samples.size() * 2 + p.values.size() * 4) * 4 / 3 + 1024;
    }
    if (page.floats != nullptr) size += 18 * 65536;
    if (page.planes != nullptr) {
        size += (page.planes->xz.size() + page.planes->yz.size()) * 8 / 3 +
                (page.planes->xz_values.size() + page.planes->yz_values.size()) * 16 / 3 +
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
            write_data(out, page);
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
