// The description record: eight tab-separated numbers in a slice's
// ImageDescription, of which field 3 (lac_scale) and field 4 (lac_offset)
// calibrate the samples: LAC = sample / lac_scale + lac_offset.
#pragma once

#include <cstdint>
#include <string>

namespace slabtone {

inline constexpr const char* kRecordFormat = "%d\t%lf\t%lf\t%f\t%lf\t%d\t%lf\t%lf";
// kRecordFormat for reading, its integers as 64 bits (see parse_fields).
inline constexpr const char* kRecordReadFormat = "%lld\t%lf\t%lf\t%f\t%lf\t%lld\t%lf\t%lf";

// Lives for a whole run: a parse overwrites only the fields its text
// supplies, so the others keep what an earlier slice gave them.
struct DescriptionRecord {
    int field1 = 0;
    double field2 = 0;
    double lac_scale = 0;
    float lac_offset = 0;  // single precision, as "%f" reads it
    double field5 = 0;
    int field6 = 0;
    double field7 = 0;
    double field8 = 0;
    // Whether this run has supplied fields 3 and 4 yet.
    bool has_lac_scale = false;
    bool has_lac_offset = false;

    bool calibrated() const noexcept { return has_lac_scale && has_lac_offset; }
};

// The fields one description text supplies: the first `fields` of
// `values` (0 to 8), as C formatted input with kRecordFormat converts them:
// blanks before each number are skipped, a tab matches any run of white
// space, and conversion stops at the first field that does not convert.
struct ParsedDescription {
    DescriptionRecord values;
    int fields = 0;
};

ParsedDescription parse_fields(const std::string& text);

// Overwrites the fields that `parsed` supplies and keeps the others.
void apply_description(const ParsedDescription& parsed, DescriptionRecord& record);

void parse_description(const std::string& text, DescriptionRecord& record);

// The output record: the input fields with window_scale and LACmin in place
// of fields 3 and 4, every real with six decimals, no line end.
std::string format_description(const DescriptionRecord& record, double window_scale,
                               double lac_min);

}  // namespace slabtone
