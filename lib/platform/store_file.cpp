#include "platform/atomic_file.hpp"

#include <cstdint>

namespace slabtone {

bool store_file_atomically(const std::string& name, std::span<const std::uint8_t> bytes) {
    AtomicFile file(name);
    return file.fd() >= 0 && write_all_at(file.fd(), 0, bytes) && file.commit();
}

}  // namespace slabtone
