// The I/O floor of a conversion: for each slice, reads rec%04d.tif whole
// and writes ro%04d.tif with one write of the size slabtone's output has
// (width x height bytes plus the strip tables and directory), into a new
// file renamed over the old one. No converter that reads every input byte
// and writes every output byte can beat it. With OUTPUT_BYTES 0 it only
// reads: the time of reading the stack once.
//
// Usage: io-floor STA DST OUTPUT_BYTES
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage : io-floor STA DST OUTPUT_BYTES\n", stderr);
        return 1;
    }
    const int first = std::atoi(argv[1]);
    const int last = std::atoi(argv[2]);
    const auto output_bytes = static_cast<std::size_t>(std::atoll(argv[3]));
    std::vector<char> in;
    std::vector<char> out(output_bytes, 1);
    if (output_bytes == 0) out.assign(1, 1);
    for (int slice = first; slice <= last; ++slice) {
        char name[32];
        std::snprintf(name, sizeof name, "rec%04d.tif", slice);
        int fd = ::open(name, O_RDONLY);
        if (fd < 0) return 1;
        off_t size = ::lseek(fd, 0, SEEK_END);
        in.resize(static_cast<std::size_t>(size));
        if (::pread(fd, in.data(), in.size(), 0) != size) return 1;
        ::close(fd);
        out[static_cast<std::size_t>(slice) % out.size()] = in[in.size() / 2];
        if (output_bytes == 0) continue;
        // A new file renamed over the old one, as slabtone stores: cheaper for
        // the kernel than truncating a large file in place.
        char temporary[40];
        std::snprintf(name, sizeof name, "ro%04d.tif", slice);
        std::snprintf(temporary, sizeof temporary, ".%s.floor", name);
        fd = ::open(temporary, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (fd < 0 || ::write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size())) {
            return 1;
        }
        if (::close(fd) != 0 || ::rename(temporary, name) != 0) return 1;
    }
    return 0;
}
