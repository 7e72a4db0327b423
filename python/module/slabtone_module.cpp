// slabtone._slabtone: the library's public header for Python, as numpy
// arrays that own their memory. The package (python/slabtone/__init__.py)
// checks the arguments, documents each function and builds the result
// objects; this module does the work, with the GIL released around
// everything that reads or writes slices.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "slabtone/measurement.hpp"

namespace py = pybind11;

namespace {

using slabtone::Crop;

// Values as a numpy array that owns its memory (flags.owndata).
template <class T>
py::array_t<T> array_of(const std::vector<T>& values, std::vector<py::ssize_t> shape) {
    py::array_t<T> array(std::move(shape));
    if (!values.empty()) {
        T* out = array.mutable_data();
        py::gil_scoped_release unlocked;
        std::memcpy(out, values.data(), values.size() * sizeof(T));
    }
    return array;
}

std::optional<Crop> crop_of(const std::optional<std::tuple<int, int, int, int>>& crop) {
    if (!crop) return std::nullopt;
    const auto [x1, y1, x2, y2] = *crop;
    return Crop{x1, y1, x2, y2};
}

// Text of the slice files as Python text: every byte one character
// (Latin-1), so that any description reads without error.
py::str latin1(const std::string& bytes) {
    PyObject* text =
        PyUnicode_DecodeLatin1(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr);
    if (text == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

// Stops a run from the calling thread: the Python error (KeyboardInterrupt,
// or what the progress callable raised) stays set until the run has
// stopped its workers.
struct PythonErrorSet {};

// A numpy array of `room` bytes of the slice's own type, which the reader
// decodes into; its margin past the last row is cut off after, in place
// (the array keeps its own memory).
py::array empty_of(slabtone::SampleType type, std::size_t room) {
    switch (type) {
        case slabtone::SampleType::int16:
            return py::array_t<std::int16_t>(static_cast<py::ssize_t>((room + 1) / 2));
        case slabtone::SampleType::float32:
            return py::array_t<float>(static_cast<py::ssize_t>((room + 3) / 4));
        case slabtone::SampleType::uint16:
            break;
    }
    return py::array_t<std::uint16_t>(static_cast<py::ssize_t>((room + 1) / 2));
}

py::tuple read_file(const std::string& path, bool strict) {
    py::array samples;
    slabtone::Slice slice;
    {
        py::gil_scoped_release unlocked;
        slice = slabtone::read_slice_file(
            path,
            [&](std::uint32_t, std::uint32_t, slabtone::SampleType type,
                std::size_t room) -> void* {
                py::gil_scoped_acquire locked;
                samples = empty_of(type, room);
                return samples.mutable_data();
            },
            !strict);
    }
    const auto height = static_cast<py::ssize_t>(slice.height);
    const auto width = static_cast<py::ssize_t>(slice.width);
    samples.resize({height, width}, false);
    py::object description = py::none();
    if (slice.description) description = latin1(*slice.description);
    py::object calibrated = py::none();
    if (slice.sample_type == slabtone::SampleType::float32) {
        // Float samples are LAC values: scale 1, offset 0.
        calibrated = py::make_tuple(1.0, 0.0);
    } else if (const std::optional<slabtone::Calibration> calibration =
                   slabtone::calibration_of(slice.description)) {
        calibrated =
            py::make_tuple(calibration->lac_scale, static_cast<double>(calibration->lac_offset));
    }
    return py::make_tuple(samples, description, slice.bits_per_sample, calibrated);
}

std::vector<py::ssize_t> shape_of(const py::array& array) {
    return {array.shape(), array.shape() + array.ndim()};
}

py::array_t<double> lac(const py::array_t<std::uint16_t, py::array::c_style>& samples,
                        double lac_scale, float lac_offset) {
    const slabtone::Calibration calibration{lac_scale, lac_offset};
    py::array_t<double> values(shape_of(samples));
    const std::uint16_t* in = samples.data();
    double* out = values.mutable_data();
    const auto count = static_cast<std::size_t>(samples.size());
    {
        py::gil_scoped_release unlocked;
        for (std::size_t i = 0; i < count; ++i) out[i] = slabtone::sample_lac(in[i], calibration);
    }
    return values;
}

template <class Sample>
py::array_t<std::uint8_t> grey(const py::array_t<Sample, py::array::c_style>& samples,
                               double lac_scale, float lac_offset, double lac_min, double lac_max) {
    py::array_t<std::uint8_t> values(shape_of(samples));
    const auto count = static_cast<std::size_t>(samples.size());
    const std::span<const Sample> in(samples.data(), count);
    const std::span<std::uint8_t> out(values.mutable_data(), count);
    {
        py::gil_scoped_release unlocked;
        slabtone::grey_values(in, {lac_scale, lac_offset}, lac_min, lac_max, out);
    }
    return values;
}

std::optional<slabtone::Calibration> calibration_of(
    const std::optional<std::pair<double, double>>& calibration) {
    if (!calibration) return std::nullopt;
    // The offset as the float nearest the number given.
    return slabtone::Calibration{calibration->first, static_cast<float>(calibration->second)};
}

py::array read_stack(int first, int last, const std::string& folder,
                     const std::optional<std::tuple<int, int, int, int>>& crop,
                     const std::string& pattern) {
    slabtone::StackRequest request;
    request.first = first;
    request.last = last;
    request.folder = folder;
    request.crop = crop_of(crop);
    request.input_pattern = pattern;
    const auto slices =
        first <= last ? static_cast<py::ssize_t>(std::int64_t{last} - first + 1) : 0;
    py::array stack = py::array_t<std::uint16_t>(std::vector<py::ssize_t>{slices, 0, 0});
    {
        py::gil_scoped_release unlocked;
        slabtone::read_stack(
            request,
            [&](std::uint32_t width, std::uint32_t height, slabtone::SampleType type) -> void* {
                py::gil_scoped_acquire locked;
                const std::vector<py::ssize_t> shape{slices, static_cast<py::ssize_t>(height),
                                                     static_cast<py::ssize_t>(width)};
                switch (type) {
                    case slabtone::SampleType::int16:
                        stack = py::array_t<std::int16_t>(shape);
                        break;
                    case slabtone::SampleType::float32:
                        stack = py::array_t<float>(shape);
                        break;
                    default:
                        stack = py::array_t<std::uint16_t>(shape);
                        break;
                }
                return stack.mutable_data();
            });
    }
    return stack;
}

void convert(int first, int last, double lac_min, double lac_max,
             const std::optional<std::tuple<int, int, int, int>>& crop, const std::string& folder,
             const py::object& progress, const std::string& pattern,
             const std::string& output_pattern,
             const std::optional<std::pair<double, double>>& calibration) {
    slabtone::ConvertRequest request;
    request.first = first;
    request.last = last;
    request.lac_min = lac_min;
    request.lac_max = lac_max;
    request.crop = crop_of(crop);
    request.folder = folder;
    request.input_pattern = pattern;
    request.output_pattern = output_pattern;
    request.calibration = calibration_of(calibration);
    try {
        py::gil_scoped_release unlocked;
        slabtone::convert_range(request, [&](const slabtone::StoredSlice& stored) {
            py::gil_scoped_acquire locked;
            try {
                if (!progress.is_none()) progress(stored.number);
            } catch (py::error_already_set& error) {
                error.restore();
                throw PythonErrorSet{};
            }
            // Ctrl+C: Python's handler only notes the signal; it is raised
            // here, after the slice just stored.
            if (PyErr_CheckSignals() != 0) throw PythonErrorSet{};
        });
    } catch (const PythonErrorSet&) {
        throw py::error_already_set();
    }
}

// What measure() returns, before the package wraps it.
py::dict measure(int first, int last, double low, double high, const std::string& folder,
                 bool inside_circle, const std::string& pattern,
                 const std::optional<std::pair<double, double>>& calibration) {
    slabtone::MeasureRequest request;
    request.first = first;
    request.last = last;
    request.folder = folder;
    request.inside_circle = inside_circle;
    request.input_pattern = pattern;
    request.calibration = calibration_of(calibration);
    std::optional<slabtone::LacDistribution> distribution;
    std::optional<slabtone::ProposedWindow> window;
    {
        py::gil_scoped_release unlocked;
        const slabtone::StackMeasurement measured = slabtone::measure_range(request);
        try {
            window = slabtone::propose_window(request, measured, low, high);
            distribution.emplace(slabtone::drawn_distribution(measured, *window));
        } catch (const slabtone::SliceError& error) {
            // The range's own error, not a slice's.
            if (error.file_name() != "slabtone-window") throw;
        }
    }
    // Not a slice's fault: every slice was read, none gave a LAC value.
    if (!window) throw py::value_error("no sample of the range has a LAC value to measure");
    const auto& values = distribution->values();
    std::vector<double> lacs(values.size());
    std::vector<std::uint64_t> counts(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        lacs[i] = values[i].first;
        counts[i] = values[i].second;
    }
    const auto n = static_cast<py::ssize_t>(values.size());
    py::dict result;
    result["lacmin"] = window->lac_min;
    result["lacmax"] = window->lac_max;
    result["minimum"] = window->minimum;
    result["median"] = window->median;
    result["maximum"] = window->maximum;
    result["samples"] = window->samples;
    result["measured"] = window->measured;
    result["to_black"] = window->saturated.to_black;
    result["to_white"] = window->saturated.to_white;
    result["command"] = window->command;
    result["values"] = array_of(lacs, {n});
    result["counts"] = array_of(counts, {n});
    return result;
}

}  // namespace

PYBIND11_MODULE(_slabtone, module) {
    module.doc() = "The slabtone library; use the slabtone package, which documents it.";
    module.attr("__version__") = std::string(slabtone::version());

    // A SliceError of the library becomes the package's SliceError, with
    // the file name and the message, str() the line the programs print.
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const slabtone::SliceError& error) {
            const py::object type = py::module_::import("slabtone").attr("SliceError");
            const py::object raised = type(latin1(error.file_name()), std::string(error.message()));
            PyErr_SetObject(type.ptr(), raised.ptr());
        }
    });

    module.def("read", &read_file, py::arg("path"), py::arg("strict"));
    module.def("lac", &lac, py::arg("samples"), py::arg("lac_scale"), py::arg("lac_offset"));
    // One for each sample type, the array's own: no conversion between them.
    module.def("grey", &grey<std::uint16_t>, py::arg("samples").noconvert(), py::arg("lac_scale"),
               py::arg("lac_offset"), py::arg("lac_min"), py::arg("lac_max"));
    module.def("grey", &grey<std::int16_t>, py::arg("samples").noconvert(), py::arg("lac_scale"),
               py::arg("lac_offset"), py::arg("lac_min"), py::arg("lac_max"));
    module.def("grey", &grey<float>, py::arg("samples").noconvert(), py::arg("lac_scale"),
               py::arg("lac_offset"), py::arg("lac_min"), py::arg("lac_max"));
    module.def("read_stack", &read_stack, py::arg("first"), py::arg("last"), py::arg("folder"),
               py::arg("crop"), py::arg("pattern"));
    module.def("convert", &convert, py::arg("first"), py::arg("last"), py::arg("lac_min"),
               py::arg("lac_max"), py::arg("crop"), py::arg("folder"), py::arg("progress"),
               py::arg("pattern"), py::arg("output_pattern"), py::arg("calibration"));
    module.def("measure", &measure, py::arg("first"), py::arg("last"), py::arg("low"),
               py::arg("high"), py::arg("folder"), py::arg("inside_circle"), py::arg("pattern"),
               py::arg("calibration"));
}
