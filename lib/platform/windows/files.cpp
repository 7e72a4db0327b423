#include "platform/files.hpp"

#include <algorithm>
#include <cstdint>

#include "platform/windows/handles.hpp"

namespace slabtone {

std::wstring wide_name(const std::string& name) {
    if (name.empty()) return {};
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), wide.data(),
                          length);
    return wide;
}

OpenOutcome open_for_reading(const std::string& path) {
    OpenOutcome outcome;
    // Others may go on reading, writing, renaming or deleting the slice, as
    // they may on Linux. A folder opens too (backup semantics), as it does
    // there, and reads as an empty file.
    const HANDLE handle =
        ::CreateFileW(wide_name(path).c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        outcome.out_of_handles = ::GetLastError() == ERROR_TOO_MANY_OPEN_FILES;
        return outcome;
    }
    OpenedFile file;
    file.handle = handle_number(handle);
    switch (::GetFileType(handle)) {
        case FILE_TYPE_DISK: {
            BY_HANDLE_FILE_INFORMATION information{};
            const bool folder = !::GetFileInformationByHandle(handle, &information) ||
                                (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            LARGE_INTEGER size{};
            if (!folder && ::GetFileSizeEx(handle, &size) && size.QuadPart >= 0) {
                file.kind = FileKind::regular;
                file.size = static_cast<std::uint64_t>(size.QuadPart);
            }
            break;
        }
        case FILE_TYPE_PIPE:
            file.kind = FileKind::stream;
            break;
        default:  // a console or another character device
            file.kind = FileKind::other;
            break;
    }
    outcome.file = file;
    return outcome;
}

void close_file(int handle) noexcept {
    ::CloseHandle(handle_of(handle));
}

std::uint64_t read_file_at(int handle, std::uint8_t* out, std::uint64_t count,
                           std::uint64_t position) {
    std::uint64_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(count - done, 1u << 30));
        const std::uint64_t at = position + done;
        // On a handle opened for synchronous use, the offset in OVERLAPPED
        // says where to read and the call returns when it is done.
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!::ReadFile(handle_of(handle), out + done, chunk, &got, &where) || got == 0) break;
        done += got;
    }
    return done;
}

std::uint64_t read_next(int handle, std::uint8_t* out, std::uint64_t count) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::uint64_t>(count, 1u << 30));
    DWORD got = 0;
    // A pipe whose writer has gone ends with ERROR_BROKEN_PIPE: its end.
    if (!::ReadFile(handle_of(handle), out, chunk, &got, nullptr)) return 0;
    return got;
}

bool is_regular_file(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(wide_name(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::optional<FileIdentity> file_identity(const std::string& path) {
    // Opened for no access at all: only to ask what the file is.
    const HANDLE handle = ::CreateFileW(
        wide_name(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = ::GetFileInformationByHandle(handle, &information) != 0;
    ::CloseHandle(handle);
    if (!known) return std::nullopt;
    return FileIdentity{
        information.dwVolumeSerialNumber,
        (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

}  // namespace slabtone
