#include "convert/description_record.hpp"

#include <cstdio>

namespace slabtone {

ParsedDescription parse_fields(const std::string& text) {
    ParsedDescription parsed;
    DescriptionRecord& v = parsed.values;
    // glibc reads a %d field as a 64-bit long, clamped, and keeps its low 32
    // bits; other C libraries clamp to 32 bits. Reading the two integer
    // fields as long long and keeping their low bits gives glibc's values
    // everywhere, with the same fields converted.
    long long field1 = v.field1;
    long long field6 = v.field6;
    int converted = std::sscanf(text.c_str(), kRecordReadFormat, &field1, &v.field2, &v.lac_scale,
                                &v.lac_offset, &v.field5, &field6, &v.field7, &v.field8);
    v.field1 = static_cast<int>(field1);
    v.field6 = static_cast<int>(field6);
    parsed.fields = converted > 0 ? converted : 0;
    return parsed;
}

void apply_description(const ParsedDescription& parsed, DescriptionRecord& record) {
    const DescriptionRecord& v = parsed.values;
    const int n = parsed.fields;
    if (n >= 1) record.field1 = v.field1;
    if (n >= 2) record.field2 = v.field2;
    if (n >= 3) {
        record.lac_scale = v.lac_scale;
        record.has_lac_scale = true;
    }
    if (n >= 4) {
        record.lac_offset = v.lac_offset;
        record.has_lac_offset = true;
    }
    if (n >= 5) record.field5 = v.field5;
    if (n >= 6) record.field6 = v.field6;
    if (n >= 7) record.field7 = v.field7;
    if (n >= 8) record.field8 = v.field8;
}

void parse_description(const std::string& text, DescriptionRecord& record) {
    apply_description(parse_fields(text), record);
}

std::string format_description(const DescriptionRecord& record, double window_scale,
                               double lac_min) {
    auto print = [&](char* buffer, std::size_t size) {
        return std::snprintf(buffer, size, kRecordFormat, record.field1, record.field2,
                             window_scale, lac_min, record.field5, record.field6, record.field7,
                             record.field8);
    };
    int length = print(nullptr, 0);
    if (length <= 0) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    print(text.data(), text.size() + 1);
    return text;
}

}  // namespace slabtone
