#include "slabtone/command_line.hpp"

namespace slabtone {

std::variant<ConvertRequest, std::string_view> parse_command_line(int argc,
                                                                  const char* const* argv) {
    const int arguments = argc - 1;
    if (arguments < 4) return kUsageTooFew;
    if (arguments != 4 && arguments != 8) return kUsageCount;

    ConvertRequest request;
    request.first = int_from_text(argv[1]);
    request.last = int_from_text(argv[2]);
    request.lac_min = double_from_text(argv[3]);
    request.lac_max = double_from_text(argv[4]);
    if (arguments == 8) {
        request.crop = Crop{int_from_text(argv[5]), int_from_text(argv[6]), int_from_text(argv[7]),
                            int_from_text(argv[8])};
    }
    return request;
}

}  // namespace slabtone
