#include "description_record.hpp"

#include <cstdio>

namespace slabtone {

void parse_description(const std::string& text, DescriptionRecord& record) {
    int converted = std::sscanf(text.c_str(), kRecordFormat, &record.field1, &record.field2,
                                &record.lac_scale, &record.lac_offset, &record.field5,
                                &record.field6, &record.field7, &record.field8);
    if (converted >= 3) record.has_lac_scale = true;
    if (converted >= 4) record.has_lac_offset = true;
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
