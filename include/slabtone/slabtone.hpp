// libslabtone: stacks of reconstructed CT slices read with a strict reader,
// converted to 8-bit through a window of linear attenuation coefficients
// (LAC), and measured. This is the one header that the programs (slabtone,
// slabtone-window) and the Python module use.
//
// A stack is a folder of 16-bit single-channel TIFF slices named by number:
// slice n is read from "rec%04d.tif" and its 8-bit conversion written to
// "ro%04d.tif". Each slice's ImageDescription holds a record of eight
// tab-separated numbers whose third and fourth calibrate its samples:
// LAC = sample / field 3 + field 4. The record passes from slice to slice: a
// slice whose description holds fewer numbers keeps the later fields of the
// slice before it.
//
// Work on a range uses every core that the memory there is allows, yet its
// outcome (files, results, the error) is that of one slice after the other.
// Every function that reads or writes slices throws SliceError at the first
// slice that fails, naming the file as the programs print it.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace slabtone {

// ---- Release ---------------------------------------------------------------

// The release, "1.3.0": what `slabtone --version` prints after "slabtone ".
std::string_view version() noexcept;

// ---- Errors ----------------------------------------------------------------

// What stops a slice: the file it concerns (as named in the run, without its
// folder: "rec0005.tif") and one of the library's messages ("file not
// found."). what() is the line the programs print: "rec0005.tif : file not
// found.".
class SliceError : public std::exception {
  public:
    // `message` must be one of the library's own texts, which live as long as
    // the program.
    SliceError(std::string file_name, std::string_view message);

    const std::string& file_name() const noexcept { return file_name_; }
    std::string_view message() const noexcept { return message_; }
    const char* what() const noexcept override { return line_.c_str(); }

  private:
    std::string file_name_;
    std::string_view message_;
    std::string line_;
};

// ---- The process -----------------------------------------------------------

// Settles how the process takes memory, before any thread starts: fixes what
// one slice may hold (from the machine's memory and the process's limits),
// and has the C library map large blocks on their own and keep one heap for
// all threads, so that what the process holds follows what it holds now.
// A program calls it first thing.
void settle_process_memory() noexcept;

// A write past the process's file size limit then fails like any failed
// write ("cannot write file.") instead of ending the process (SIGXFSZ).
void let_writes_fail_past_size_limit() noexcept;

// An interrupt that ends the process (SIGINT, SIGTERM, SIGHUP; on Windows
// Ctrl+C, Ctrl+Break, closing the console) first removes the temporary file
// of an output being written, so that none is left behind. A program calls
// it at its start; a library user that handles interrupts itself does not
// (outputs are written whole under a temporary name and renamed either way).
void remove_temporary_file_on_interrupt();

// Whether `stream` is a terminal (a console on Windows).
bool is_terminal(std::FILE* stream) noexcept;

// Stores `bytes` as the file `path`, never leaving it half-written: written
// under a temporary name in the same folder and renamed once complete.
// Throws SliceError(path, "cannot write file.").
void store_file(const std::string& path, std::string_view bytes);

// ---- Numbers as slabtone reads them ------------------------------------------

// C's atoi as the GNU C library has it, on every system: leading blanks are
// skipped, conversion stops at the first character that cannot continue the
// number, text that is no number gives 0, and of a number beyond 64 bits
// (clamped) the low 32 bits are kept.
int int_from_text(const char* text);

// C's atof, correctly rounded, with hex floats, "inf" and "nan".
double double_from_text(const char* text);

// ---- Slices ------------------------------------------------------------------

std::string input_name(std::int64_t slice);  // "rec%04d.tif": rec0007.tif, rec12345.tif
// The name `pattern` (name_pattern_fault) forms for the slice; rec%04d.tif
// when it is empty. Throws std::invalid_argument for a pattern that is none.
std::string input_name(std::int64_t slice, const std::string& pattern);
std::string output_name(std::int64_t slice);  // "ro%04d.tif"

// What a slice's samples are: unsigned (1 to 16 bits, as the strict reader
// delivers every slice), signed (8 or 16 bits) or 32-bit floats, the last
// two from the open reader only.
enum class SampleType { uint16, int16, float32 };

// One slice as a reader delivers it.
struct Slice {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    unsigned bits_per_sample =
        0;  // 0 to 16 (32 for floats); narrower samples hold their value in the low bits
    SampleType sample_type = SampleType::uint16;
    // The ImageDescription text; none when the slice has no ASCII one.
    std::optional<std::string> description;
    std::vector<std::uint16_t> samples;  // width * height, row after row from the top
};

// Reads the slice file `path` as slabtone reads every slice: one gray channel
// of 0 to 16 bits, contiguous strips, uncompressed, LZW or PackBits, either
// byte order. Throws SliceError naming `path` with the reader's message
// when the file is not such a slice.
Slice read_slice_file(const std::string& path);

// The same, with the samples read straight into the memory that
// `place(width, height, type, room)` returns, with no copy: `room` bytes,
// aligned for the type, of which the first width * height samples of the
// type are the slice's, row after row from the top (the rest is the
// decoders' margin, left with any values). `place` is called once the
// file's attributes are checked and before any sample is read; a null
// result fails as memory that cannot be had. The Slice returned has no
// samples. With `open_reader`, the file is read as slabtone reads a stack
// named by --input: BigTIFF, signed and float samples, Deflate strips too.
Slice read_slice_file(const std::string& path,
                      const std::function<void*(std::uint32_t width, std::uint32_t height,
                                                SampleType type, std::size_t room)>& place,
                      bool open_reader = false);

// How a slice's samples translate into LAC: LAC = sample / lac_scale +
// lac_offset, the third and fourth field of its description record. The
// offset is held in single precision, as the record's "%f" reads it.
struct Calibration {
    double lac_scale = 0;
    float lac_offset = 0;
};

// The calibration a description gives a slice read on its own (the first
// slice of a run); nullopt without a description or when it holds fewer than
// four numbers.
std::optional<Calibration> calibration_of(const std::optional<std::string>& description);

// A sample's LAC, as the conversion computes it: divide, then add, each in
// double precision.
inline double sample_lac(std::uint16_t sample, const Calibration& calibration) {
    const double t = static_cast<double>(sample) / calibration.lac_scale;
    return t + static_cast<double>(calibration.lac_offset);
}

// The grey values slabtone writes for `samples` under `calibration` and the
// window [lac_min, lac_max], bit for bit, into `out` (as many as samples).
void grey_values(std::span<const std::uint16_t> samples, const Calibration& calibration,
                 double lac_min, double lac_max, std::span<std::uint8_t> out);
// The same for signed and float samples, each taken with its own value.
void grey_values(std::span<const std::int16_t> samples, const Calibration& calibration,
                 double lac_min, double lac_max, std::span<std::uint8_t> out);
void grey_values(std::span<const float> samples, const Calibration& calibration, double lac_min,
                 double lac_max, std::span<std::uint8_t> out);

// A rectangle cut from every slice: zero-based and inclusive, x counting
// columns and y rows. It must lie inside each slice ("crop rectangle outside
// the image." otherwise).
struct Crop {
    std::int32_t x1 = 0;
    std::int32_t y1 = 0;
    std::int32_t x2 = 0;
    std::int32_t y2 = 0;
};

// ---- Converting a range ----------------------------------------------------------

// Slices named otherwise than rec%04d.tif and ro%04d.tif: a pattern holds
// exactly one conversion of the slice number, '%', an optional '0' flag, an
// optional width of 1 to 10, then 'd' or 'i' ("recon_%05d.tiff",
// "slice-%05i.tif", "%d.tif"), and "%%" for a percent sign; it may name a
// folder ("recon/recon_%05d.tiff"). The number is formatted as C's printf
// formats it, negative numbers included. nullopt when `pattern` is one;
// otherwise what is wrong with it, a sentence.
std::optional<std::string_view> name_pattern_fault(std::string_view pattern);

struct ConvertRequest {
    std::int32_t first = 0;  // the slices first..last, both included; none when first > last
    std::int32_t last = 0;
    double lac_min = 0;  // becomes grey value 0
    double lac_max = 0;  // becomes 255
    std::optional<Crop> crop;
    std::string folder;  // where the slices lie; empty: the working folder
    // Patterns of the slices' names (name_pattern_fault); empty: rec%04d.tif
    // and ro%04d.tif. With either, a slice whose output would replace an
    // input of the range stops the run before anything is read or written
    // ("output would replace an input.", naming that slice's input).
    std::string input_pattern;
    std::string output_pattern;
    // Given: every slice's samples are calibrated with it instead of its
    // record's fields 3 and 4, and a record is no longer needed.
    std::optional<Calibration> calibration;
};

struct StoredSlice {
    std::int64_t number = 0;
    std::string input_name;   // rec0001.tif
    std::string output_name;  // ro0001.tif
    // Read as 32-bit float samples (only by a run with an input pattern).
    bool float_samples = false;
};

// Converts every slice of the range into its 8-bit file, in increasing
// order: exactly what `slabtone first last lac_min lac_max [x1 y1 x2 y2]`
// writes in that folder. Throws std::invalid_argument for a pattern that is
// none. `stored` is called on the calling thread after each
// file is in place; whatever it throws stops the run there (the files stored
// so far stay) and comes out of convert_range. Throws the SliceError of the
// first slice that fails: the files of the slices before it are complete,
// and no file of a later slice is created or changed.
void convert_range(const ConvertRequest& request,
                   const std::function<void(const StoredSlice&)>& stored = {});

// ---- Reading a range ---------------------------------------------------------

struct StackRequest {
    std::int32_t first = 0;
    std::int32_t last = 0;
    std::optional<Crop> crop;
    std::string folder;
    std::string input_pattern;  // as ConvertRequest's; empty: rec%04d.tif
};

// Reads the samples of every slice of the range (cropped when asked) into
// one block. `place(width, height, type)` is called once, on the calling
// thread, when the first slice is read; it returns where the (last - first
// + 1) * height * width samples of the type go, slice after slice (a null
// result fails as memory that cannot be had). Every slice must have the
// first one's type ("sample format differs from the first slice."
// otherwise) and size ("image size differs from the first slice."; with a
// crop, only the cut must fit). With an input pattern the slices are read
// with the open reader (signed and float slices too), else strictly (every
// slice uint16). Throws SliceError; nothing is placed when the range is
// empty.
void read_stack(
    const StackRequest& request,
    const std::function<void*(std::uint32_t width, std::uint32_t height, SampleType type)>& place);
// The same for a stack of unsigned samples: a first slice of another type
// fails ("unsupported sample format.").
void read_stack(
    const StackRequest& request,
    const std::function<std::uint16_t*(std::uint32_t width, std::uint32_t height)>& place);

// ---- Measuring a range -------------------------------------------------------

// How many samples of each value a range holds, per calibration (compared
// bit for bit): the exact distribution of its LAC values.
class SampleCounts {
  public:
    using Counts = std::array<std::uint64_t, 65536>;
    // The calibration's bits: (lac_scale as 64 bits, lac_offset as 32).
    using Key = std::pair<std::uint64_t, std::uint32_t>;

    static Key key_of(const Calibration& calibration) noexcept;
    static Calibration calibration_of_key(const Key& key) noexcept;

    // The counts of one calibration, made (all zero) when first asked for.
    Counts& counts_for(const Calibration& calibration);
    void merge(const SampleCounts& other);

    // What the bins count: unsigned samples (uint16), or signed 16-bit ones
    // (int16), each counted in the bin of its bits read as unsigned.
    SampleType sample_type() const noexcept { return type_; }
    void set_sample_type(SampleType type) noexcept { type_ = type; }
    // The sample value that bin `v` counts.
    double sample_of_bin(std::uint32_t v) const noexcept {
        return type_ == SampleType::int16
                   ? static_cast<double>(static_cast<std::int16_t>(static_cast<std::uint16_t>(v)))
                   : static_cast<double>(v);
    }

    // In the order of their keys.
    const std::map<Key, std::unique_ptr<Counts>>& all() const noexcept { return counts_; }

  private:
    std::map<Key, std::unique_ptr<Counts>> counts_;
    SampleType type_ = SampleType::uint16;
};

// How many float samples a range holds, coarsely: by the high 16 bits of
// each value's order key (float_order_key), NaN counted apart. The exact
// values come from a second look at the bins that matter (propose_window).
struct FloatCounts {
    std::array<std::uint64_t, 65536> bins{};
    std::uint64_t nan = 0;

    void merge(const FloatCounts& other) noexcept;
};

// A float's bits as an unsigned key that orders as the values do: -inf
// first, -0.0 just before +0.0, +inf last (NaN outside them).
inline std::uint32_t float_order_key(float value) noexcept {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000u) != 0 ? ~bits : (bits | 0x80000000u);
}
inline float float_of_order_key(std::uint32_t key) noexcept {
    const std::uint32_t bits = (key & 0x80000000u) != 0 ? (key & 0x7fffffffu) : ~key;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The LAC values of the counts in increasing order.
class LacDistribution {
  public:
    explicit LacDistribution(const SampleCounts& counts);
    // Of (LAC value, count) pairs in any order; `samples` counts those
    // without a LAC value too.
    LacDistribution(std::vector<std::pair<double, std::uint64_t>> values, std::uint64_t samples);

    std::uint64_t samples() const noexcept { return samples_; }    // all, NaN included
    std::uint64_t measured() const noexcept { return measured_; }  // those with a LAC value
    bool empty() const noexcept { return values_.empty(); }

    // Nearest rank: for p in (0, 100], the smallest LAC value v such that at
    // least p% of the measured samples have LAC <= v; for p = 0, the
    // smallest value. Always a value that occurs. Not for an empty one.
    double percentile(double p) const;
    double minimum() const { return values_.front().first; }
    double maximum() const { return values_.back().first; }

    // (LAC value, count), in increasing LAC order, each value once.
    const std::vector<std::pair<double, std::uint64_t>>& values() const noexcept { return values_; }

  private:
    std::vector<std::pair<double, std::uint64_t>> values_;
    std::vector<std::uint64_t> cumulative_;
    std::uint64_t samples_ = 0;
    std::uint64_t measured_ = 0;
};

// How many samples the window [lac_min, lac_max] converts to 0 and to 255,
// exactly as slabtone converts them.
struct Saturation {
    std::uint64_t to_black = 0;
    std::uint64_t to_white = 0;
};
Saturation saturation(const SampleCounts& counts, double lac_min, double lac_max);

// A slice shown on the window page: every step-th sample of every step-th
// row, with the smallest step that keeps its longer side within
// kLongestSide, and the calibration its record gives it in the run.
struct PreviewSlice {
    static constexpr std::uint32_t kLongestSide = 1024;

    std::int64_t slice = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t step = 1;
    std::uint32_t columns = 0;
    std::uint32_t rows = 0;
    double lac_scale = 0;
    float lac_offset = 0;
    std::optional<std::string> description;
    std::vector<std::uint16_t> samples;  // columns * rows, row after row
    std::vector<float> values;           // the same, of a float slice (samples empty)
};

// The step of the samples shown: the longer side in at most kLongestSide.
std::uint32_t preview_step(std::uint32_t width, std::uint32_t height) noexcept;

// The narrowest and the lowest slice of the range: a crop rectangle must lie
// inside both.
struct SmallestSlice {
    std::uint32_t width = std::numeric_limits<std::uint32_t>::max();
    std::int64_t width_slice = 0;
    std::uint32_t height = std::numeric_limits<std::uint32_t>::max();
    std::int64_t height_slice = 0;

    void include(std::int64_t slice, std::uint32_t slice_width, std::uint32_t slice_height);
};

// At most this many slices in a plane: every m-th of the range, m as small
// as keeps them within it.
inline constexpr std::uint32_t kPlaneSlices = 1024;

// Where the two planes across the slices cut them, chosen before the
// measurement from the slices' headers.
struct PlaneGeometry {
    std::uint32_t x = 0;        // the column yz cuts
    std::uint32_t y = 0;        // the row xz cuts
    std::uint32_t step = 1;     // every step-th sample, as the previews
    std::uint32_t columns = 0;  // of xz
    std::uint32_t rows = 0;     // of yz
    std::int64_t first = 0;     // the first slice of the range
    std::int64_t every = 1;     // m
    std::size_t count = 0;      // slices in the planes
};

// Two planes across the slices: the row y of every m-th slice (xz) and its
// column x (yz), every step-th sample, each slice with its own calibration.
struct Planes {
    std::uint32_t x = 0;
    std::uint32_t y = 0;
    std::uint32_t step = 1;
    std::uint32_t columns = 0;         // of xz: samples x = 0, step, ... of the smallest width
    std::uint32_t rows = 0;            // of yz: samples y = 0, step, ... of the smallest height
    std::vector<std::int64_t> slices;  // n1, n2, ...: every m-th of the range
    std::vector<double> lac_scale;     // of each slice, as the measurement calibrated it
    std::vector<float> lac_offset;
    std::vector<std::uint16_t> xz;  // a row of `columns` samples per slice
    std::vector<std::uint16_t> yz;  // `rows` rows of one sample per slice
};

// The smallest width and height of the slices first..last in `folder`
// (named by `input_pattern` and read with the open reader when given), from
// their headers; nullopt when a slice is not a regular file (which may be
// read only once) or cannot be read as far as its size.
std::optional<std::pair<std::uint32_t, std::uint32_t>> smallest_size(
    std::int64_t first, std::int64_t last, const std::string& folder = {},
    const std::string& input_pattern = {});

// The planes for slices of at least `smallest` (width, height), cut at `at`
// (column, row) or else through the middle; nullopt when `at` lies outside.
std::optional<PlaneGeometry> plane_geometry(
    std::int64_t first, std::int64_t last, std::pair<std::uint32_t, std::uint32_t> smallest,
    std::optional<std::pair<std::uint32_t, std::uint32_t>> at,
    std::uint32_t most_slices = kPlaneSlices);

struct MeasureRequest {
    std::int32_t first = 0;
    std::int32_t last = 0;
    std::string folder;
    // Count only the samples inside each slice's reconstruction circle: the
    // circle of a width x height slice holds the samples (x, y) with
    // (x - (w-1)/2)^2 + (y - (h-1)/2)^2 <= (min(w, h)/2)^2.
    bool inside_circle = false;
    std::vector<std::int64_t> show;       // slices to preview, in this order
    std::optional<PlaneGeometry> planes;  // planes to cut
    // As ConvertRequest's: the slices' names, read with the open reader,
    // and the calibration that replaces their records'.
    std::string input_pattern;
    std::optional<Calibration> calibration;
};

struct StackMeasurement {
    // Every slice's (unsigned slices of 1 to 16 bits are all uint16; a
    // slice of another type stops the measurement: "sample format differs
    // from the first slice.").
    SampleType sample_type = SampleType::uint16;
    SampleCounts counts;  // of integer slices
    // Of float slices, all calibrated alike (scale 1 and offset 0 unless
    // the request gives a calibration).
    std::unique_ptr<FloatCounts> floats;
    Calibration float_calibration{1, 0};
    // The samples of float slices that are not regular files (pipes, which
    // can be read only once), kept for the second look at their values.
    std::vector<std::pair<std::int64_t, std::vector<float>>> kept;
    std::vector<PreviewSlice> previews;  // in the order asked for
    SmallestSlice smallest;
    // When asked for and every plane slice gave its cut.
    std::optional<Planes> planes;
};

// One pass over the slices of the range, read and calibrated exactly as
// slabtone reads them. `measured(slice)` is called on the calling thread
// after each slice, in order. Throws the SliceError of the first slice that
// cannot be read or has no calibration.
StackMeasurement measure_range(const MeasureRequest& request,
                               const std::function<void(std::int64_t slice)>& measured = {});

// The window proposed from two percentiles of a range's distribution, as
// slabtone-window reports it.
struct ProposedWindow {
    std::uint64_t samples = 0;   // all, NaN included
    std::uint64_t measured = 0;  // those with a LAC value
    double minimum = 0;
    double low_lac = 0;  // the low and high percentile's LAC values
    double median = 0;
    double high_lac = 0;
    double maximum = 0;
    // Whether LAC values print in the shortest form that reads back as the
    // same double (a run with an input pattern or a calibration) rather
    // than with "%f".
    bool shortest = false;
    std::string lac_min_text;  // the low and high percentile's values printed
    std::string lac_max_text;
    double lac_min = 0;  // the texts as slabtone reads them back
    double lac_max = 0;
    Saturation saturated;  // of all samples, under [lac_min, lac_max]
    std::string command;   // "slabtone 1 8 -0.090600 3.196900"
    // The command's options ("--input 'my %d.tif' --calibration 1 0.5"), or
    // empty.
    std::string options;
};

// Throws SliceError("slabtone-window", "no sample with a LAC value in the
// range.") when the distribution is empty.
ProposedWindow propose_window(const LacDistribution& distribution, const SampleCounts& counts,
                              std::int32_t first, std::int32_t last, double low, double high);

// The window proposed for a measured range, every figure exact: for float
// slices the bins of the values asked for are counted value by value in a
// second pass over the range (the kept samples of slices that are not
// regular files are used instead of reading them again). The command holds
// the request's --input and --calibration. Throws SliceError as
// measure_range and as the other propose_window.
ProposedWindow propose_window(const MeasureRequest& request, const StackMeasurement& measured,
                              double low, double high);

// The distribution a histogram draws: exact for integer slices; for float
// slices one value per bin of FloatCounts, with the exact minimum and
// maximum of `window` at its ends.
LacDistribution drawn_distribution(const StackMeasurement& measured, const ProposedWindow& window);

// `value` in the shortest form that reads back as the same double
// ("0.00041199999395757914", "1e-07", "-inf", "nan").
std::string shortest_text(double value);

}  // namespace slabtone
