#include "tiff_builder.hpp"

namespace slabtone::test {

std::vector<std::uint8_t> TiffBuilder::u16(std::uint32_t value) const {
    auto lo = static_cast<std::uint8_t>(value & 0xFF);
    auto hi = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    return order_ == Order::little ? std::vector<std::uint8_t>{lo, hi}
                                   : std::vector<std::uint8_t>{hi, lo};
}

std::vector<std::uint8_t> TiffBuilder::u32(std::uint32_t value) const {
    std::vector<std::uint8_t> bytes(4);
    for (int i = 0; i < 4; ++i) {
        auto byte = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
        bytes[order_ == Order::little ? i : 3 - i] = byte;
    }
    return bytes;
}

TiffBuilder& TiffBuilder::raw_entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                                    std::vector<std::uint8_t> value_field) {
    value_field.resize(4, 0);
    entries_.push_back({tag, type, count, std::move(value_field)});
    return *this;
}

TiffBuilder& TiffBuilder::shorts(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
    std::vector<std::uint8_t> bytes;
    for (auto v : values) {
        auto b = u16(v);
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    if (bytes.size() <= 4) return raw_entry(tag, kShort, std::uint32_t(values.size()), bytes);
    return raw_entry(tag, kShort, std::uint32_t(values.size()), u32(add_data(bytes)));
}

TiffBuilder& TiffBuilder::longs(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
    std::vector<std::uint8_t> bytes;
    for (auto v : values) {
        auto b = u32(v);
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    if (bytes.size() <= 4) return raw_entry(tag, kLong, std::uint32_t(values.size()), bytes);
    return raw_entry(tag, kLong, std::uint32_t(values.size()), u32(add_data(bytes)));
}

TiffBuilder& TiffBuilder::ascii(std::uint16_t tag, const std::string& text) {
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    if (bytes.size() <= 4) return raw_entry(tag, kAscii, std::uint32_t(bytes.size()), bytes);
    return raw_entry(tag, kAscii, std::uint32_t(bytes.size()), u32(add_data(bytes)));
}

TiffBuilder& TiffBuilder::at_offset(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                                    std::uint32_t offset) {
    return raw_entry(tag, type, count, u32(offset));
}

std::uint32_t TiffBuilder::next_data_offset() const {
    return 8 + std::uint32_t(data_.size());
}

std::uint32_t TiffBuilder::add_data(const std::vector<std::uint8_t>& bytes) {
    std::uint32_t offset = next_data_offset();
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return offset;
}

std::vector<std::uint8_t> TiffBuilder::build() const {
    std::vector<std::uint8_t> file;
    std::uint8_t mark = order_ == Order::little ? 'I' : 'M';
    file = {mark, mark};
    auto append = [&](const std::vector<std::uint8_t>& bytes) {
        file.insert(file.end(), bytes.begin(), bytes.end());
    };
    append(u16(42));
    append(u32(next_data_offset()));
    append(data_);
    append(u16(std::uint32_t(entries_.size())));
    for (const Entry& e : entries_) {
        append(u16(e.tag));
        append(u16(e.type));
        append(u32(e.count));
        append(e.value_field);
    }
    append(u32(0));
    return file;
}

std::vector<std::uint8_t> build_slice(const SliceSpec& spec) {
    TiffBuilder b(spec.order);
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> counts;
    for (const auto& strip : spec.strips) {
        offsets.push_back(b.add_data(strip));
        counts.push_back(std::uint32_t(strip.size()));
    }
    b.long_tag(256, spec.width).long_tag(257, spec.height).short_tag(258, spec.bits);
    b.short_tag(259, spec.compression).short_tag(262, 1);
    if (spec.fill_order != 0) b.short_tag(266, spec.fill_order);
    if (!spec.description.empty()) b.ascii(270, spec.description);
    b.longs(273, offsets);
    b.short_tag(277, 1);
    if (spec.rows_per_strip != 0) b.long_tag(278, spec.rows_per_strip);
    b.longs(279, counts);
    if (spec.predictor != 0) b.short_tag(317, spec.predictor);
    return b.build();
}

}  // namespace slabtone::test
