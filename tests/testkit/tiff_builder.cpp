#include "testkit/tiff_builder.hpp"

#include <cstdint>

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

std::vector<std::uint8_t> build_slice(const SliceLayout& layout) {
    TiffBuilder b(layout.order);
    std::vector<std::uint32_t> offsets;
    std::vector<std::uint32_t> counts;
    for (const auto& strip : layout.strips) {
        offsets.push_back(b.add_data(strip));
        counts.push_back(std::uint32_t(strip.size()));
    }
    b.long_tag(256, layout.width).long_tag(257, layout.height).short_tag(258, layout.bits);
    b.short_tag(259, layout.compression).short_tag(262, 1);
    if (layout.fill_order != 0) b.short_tag(266, layout.fill_order);
    if (!layout.description.empty()) b.ascii(270, layout.description);
    b.longs(273, offsets);
    b.short_tag(277, 1);
    if (layout.rows_per_strip != 0) b.long_tag(278, layout.rows_per_strip);
    b.longs(279, counts);
    if (layout.predictor != 0) b.short_tag(317, layout.predictor);
    return b.build();
}

}  // namespace slabtone::test

namespace slabtone::test {

namespace {

class Patcher {
  public:
    Patcher(std::vector<std::uint8_t>& bytes, bool big) : bytes_(bytes), big_(big) {}
    std::uint32_t get(std::size_t at, int size) const {
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            std::uint32_t byte = bytes_[at + std::size_t(big_ ? i : size - 1 - i)];
            value = (value << 8) | byte;
        }
        return value;
    }
    void put(std::size_t at, int size, std::uint32_t value) {
        for (int i = 0; i < size; ++i) {
            int shift = big_ ? 8 * (size - 1 - i) : 8 * i;
            bytes_[at + std::size_t(i)] = std::uint8_t(value >> shift);
        }
    }

  private:
    std::vector<std::uint8_t>& bytes_;
    bool big_;
};

int type_size(std::uint32_t type) {
    switch (type) {
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
            return 4;
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 1;
    }
}

}  // namespace

std::vector<std::uint8_t> directory_first(const std::vector<std::uint8_t>& file) {
    std::vector<std::uint8_t> in = file;
    const bool big = in[0] == 'M';
    Patcher reader(in, big);
    const std::uint32_t old_directory = reader.get(4, 4);
    const std::uint32_t entries = reader.get(old_directory, 2);
    const std::uint32_t directory_size = 2 + 12 * entries + 4;

    std::vector<std::uint8_t> out(in.begin(), in.begin() + 8);
    out.insert(out.end(), in.begin() + old_directory, in.begin() + old_directory + directory_size);
    out.insert(out.end(), in.begin() + 8, in.end());
    Patcher patch(out, big);
    const std::uint32_t shift = directory_size;
    patch.put(4, 4, 8);
    patch.put(8 + 2 + 12 * entries, 4, 0);  // no next directory
    for (std::uint32_t e = 0; e < entries; ++e) {
        const std::size_t entry = 8 + 2 + 12 * std::size_t(e);
        const std::uint32_t tag = patch.get(entry, 2);
        const std::uint32_t type = patch.get(entry + 2, 2);
        const std::uint32_t count = patch.get(entry + 4, 4);
        const int size = type_size(type);
        const bool inline_values = std::uint64_t(count) * std::uint64_t(size) <= 4;
        std::size_t values = entry + 8;
        if (!inline_values) {
            patch.put(entry + 8, 4, patch.get(entry + 8, 4) + shift);
            values = patch.get(entry + 8, 4);
        }
        if (tag == 273) {  // StripOffsets: the values are offsets too
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::size_t at = values + std::size_t(i) * std::size_t(size);
                patch.put(at, size, patch.get(at, size) + shift);
            }
        }
    }
    return out;
}

}  // namespace slabtone::test
