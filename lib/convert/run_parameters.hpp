// What a conversion run applies to every slice of its range.
#pragma once

#include <cstdint>
#include <optional>

#include "slabtone/slabtone.hpp"

namespace slabtone {

struct RunParameters {
    std::int32_t sta_ly = 0;
    std::int32_t dst_ly = 0;  // inclusive
    double lac_min = 0;
    double lac_max = 0;
    std::optional<Crop> crop;  // checked against each slice when it is cut
    // 255 / (LACmax - LACmin), once per run; no test is made on the window.
    double window_scale = 0;
    // Given: every slice's samples are calibrated with it instead of the
    // record's fields 3 and 4.
    std::optional<Calibration> calibration;
};

inline double window_scale_of(double lac_min, double lac_max) {
    return 255.0 / (lac_max - lac_min);
}

inline RunParameters run_parameters_of(const ConvertRequest& request) {
    RunParameters run;
    run.sta_ly = request.first;
    run.dst_ly = request.last;
    run.lac_min = request.lac_min;
    run.lac_max = request.lac_max;
    run.crop = request.crop;
    run.window_scale = window_scale_of(request.lac_min, request.lac_max);
    run.calibration = request.calibration;
    return run;
}

}  // namespace slabtone
