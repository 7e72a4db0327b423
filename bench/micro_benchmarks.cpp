// Micro-benchmarks: each strip decoder in MB/s of decoded bytes (bulk and
// byte-at-a-time paths), the quantisation in samples/s and the 8-bit
// encoding in MB/s, on a 2048 x 2048 CT-like slice written by libtiff.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

#include "convert/byte_slice_writer.hpp"
#include "convert/lac_window.hpp"
#include "tiff/gray_tiff.hpp"

namespace {

constexpr std::uint32_t kSize = 2048;

std::vector<std::uint16_t> phantom() {
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0.0, 10.0);
    std::vector<std::uint16_t> samples(std::size_t{kSize} * kSize);
    for (std::uint32_t y = 0; y < kSize; ++y) {
        for (std::uint32_t x = 0; x < kSize; ++x) {
            double r = std::hypot(x - kSize / 2.0, y - kSize / 2.0) / kSize;
            double value = r > 0.45 ? 10000 : 14500 + 300 * std::sin(r * 180.0);
            samples[std::size_t{y} * kSize + x] = std::uint16_t(value + noise(random));
        }
    }
    return samples;
}

slabtone::InputFile slice_file(std::uint16_t compression, std::uint16_t predictor) {
    static const std::vector<std::uint16_t> samples = phantom();
    char path[] = "/tmp/slabtone-micro-XXXXXX";
    int fd = ::mkstemp(path);
    ::close(fd);
    TIFF* tiff = TIFFOpen(path, "w");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, kSize);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, kSize);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
    if (predictor != 1) TIFFSetField(tiff, TIFFTAG_PREDICTOR, predictor);
    std::uint32_t rows = compression == COMPRESSION_NONE ? kSize : TIFFDefaultStripSize(tiff, 0);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, rows);
    TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, "1\t0\t10000\t-1");
    for (std::uint32_t row = 0, strip = 0; row < kSize; row += rows, ++strip) {
        std::uint32_t n = std::min(rows, kSize - row);
        TIFFWriteEncodedStrip(tiff, strip, const_cast<std::uint16_t*>(&samples[row * kSize]),
                              tmsize_t(std::size_t{n} * kSize * 2));
    }
    TIFFClose(tiff);
    auto file = slabtone::InputFile::open(path);
    ::unlink(path);
    return std::move(*file);
}

void decode(benchmark::State& state, std::uint16_t compression, std::uint16_t predictor,
            slabtone::DecodePath path) {
    const slabtone::InputFile file = slice_file(compression, predictor);
    slabtone::ReaderBuffers buffers;
    slabtone::ReadRequest request;
    request.path = path;
    for (auto _ : state) {
        slabtone::GraySlice slice = slabtone::read_gray_tiff(file, "bench.tif", buffers, request);
        benchmark::DoNotOptimize(slice.rows.row(kSize - 1)[kSize - 1]);
        buffers.rows = std::move(slice.rows);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * kSize * kSize * 2);
}

void BM_DecodeRaw(benchmark::State& s) {
    decode(s, COMPRESSION_NONE, 1, slabtone::DecodePath::fast);
}
void BM_DecodeRawExact(benchmark::State& s) {
    decode(s, COMPRESSION_NONE, 1, slabtone::DecodePath::exact);
}
void BM_DecodePackBits(benchmark::State& s) {
    decode(s, COMPRESSION_PACKBITS, 1, slabtone::DecodePath::fast);
}
void BM_DecodePackBitsExact(benchmark::State& s) {
    decode(s, COMPRESSION_PACKBITS, 1, slabtone::DecodePath::exact);
}
void BM_DecodeLzw(benchmark::State& s) {
    decode(s, COMPRESSION_LZW, 1, slabtone::DecodePath::fast);
}
void BM_DecodeLzwExact(benchmark::State& s) {
    decode(s, COMPRESSION_LZW, 1, slabtone::DecodePath::exact);
}
void BM_DecodeLzwPredictor(benchmark::State& s) {
    decode(s, COMPRESSION_LZW, 2, slabtone::DecodePath::fast);
}
BENCHMARK(BM_DecodeRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRawExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePackBits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePackBitsExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLzw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLzwExact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLzwPredictor)->Unit(benchmark::kMillisecond);

void BM_Quantise(benchmark::State& state) {
    const std::vector<std::uint16_t> samples = phantom();
    slabtone::SampleView view{samples.data(), kSize, kSize, kSize};
    std::vector<std::uint8_t> bytes(samples.size());
    slabtone::QuantisationTable table;
    const slabtone::WindowCalibration calibration{10000, -1.0f, 0.0, 255.0 / 4.0};
    for (auto _ : state) {
        slabtone::quantise_slice(view, calibration, bytes, table);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * kSize * kSize);
}
BENCHMARK(BM_Quantise)->Unit(benchmark::kMillisecond);

void BM_EncodeOutput(benchmark::State& state) {
    std::vector<std::uint8_t> bytes(std::size_t{kSize} * kSize, 77);
    for (auto _ : state) {
        auto file = slabtone::encode_byte_slice("ro0001.tif", bytes, kSize, kSize,
                                                "1\t0.000000\t63.750000\t0.000000");
        benchmark::DoNotOptimize(file->data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * kSize * kSize);
}
BENCHMARK(BM_EncodeOutput)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
