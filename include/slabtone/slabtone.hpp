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

// The exact distribution of a range's LAC values, what it proposes, and
// the counts, previews and planes that slabtone-window draws, are in
// slabtone/measurement.hpp.
struct MeasureRequest {
    std::int32_t first = 0;
    std::int32_t last = 0;
    std::string folder;
    // Count only the samples inside each slice's reconstruction circle: the
    // circle of a width x height slice holds the samples (x, y) with
    // (x - (w-1)/2)^2 + (y - (h-1)/2)^2 <= (min(w, h)/2)^2.
    bool inside_circle = false;
    // As ConvertRequest's: the slices' names, read with the open reader,
    // and the calibration that replaces their records'.
    std::string input_pattern;
    std::optional<Calibration> calibration;
};

// How many samples the window [lac_min, lac_max] converts to 0 and to 255,
// exactly as slabtone converts them.
struct Saturation {
    std::uint64_t to_black = 0;
    std::uint64_t to_white = 0;
};
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

// Measures the range as slabtone-window does, read and calibrated exactly
// as slabtone reads it, and proposes the window from the nearest-rank
// percentiles `low` and `high` (0 <= low < high <= 100), every figure
// exact. Throws the SliceError of the first slice that cannot be read or
// has no calibration, and SliceError("slabtone-window", "no sample with a
// LAC value in the range.") when no sample has one.
ProposedWindow measure(const MeasureRequest& request, double low = 0.5, double high = 99.5);

// `value` in the shortest form that reads back as the same double
// ("0.00041199999395757914", "1e-07", "-inf", "nan").
std::string shortest_text(double value);

}  // namespace slabtone
