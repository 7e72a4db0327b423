#include "platform/atomic_file.hpp"

#include "slabtone/slabtone.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwchar>
#include <mutex>

#include "platform/windows/console_events.hpp"
#include "platform/windows/handles.hpp"

namespace slabtone {

namespace {

// The temporary file being written, for the console handler: a fixed
// buffer, since the handler runs while other threads go on, and a flag that
// says it holds a name. Only one file is stored at a time.
wchar_t g_temporary[32768];
std::atomic<bool> g_temporary_active{false};
static_assert(std::atomic<bool>::is_always_lock_free);

std::mutex& one_file_at_a_time() {
    static std::mutex mutex;
    return mutex;
}

// "folder\.name.XXXXXX": the folder part ends at the last slash, backslash
// or drive colon.
std::wstring temporary_prefix(const std::wstring& name) {
    const auto cut = name.find_last_of(L"/\\:");
    const std::wstring folder =
        cut == std::wstring::npos ? std::wstring() : name.substr(0, cut + 1);
    const std::wstring base = cut == std::wstring::npos ? name : name.substr(cut + 1);
    return folder + L"." + base + L".";
}

// Six characters that differ from try to try and from process to process.
std::wstring unique_suffix(unsigned attempt) {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t value = ::GetTickCount64() * 0x9E3779B97F4A7C15ull ^
                          (std::uint64_t{::GetCurrentProcessId()} << 20) ^
                          (counter.fetch_add(1) * 0xBF58476D1CE4E5B9ull) ^ attempt;
    static constexpr wchar_t kLetters[] =
        L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::wstring suffix;
    for (int i = 0; i < 6; ++i) {
        suffix += kLetters[value % 62];
        value /= 62;
    }
    return suffix;
}

// Creates a new temporary file beside `name` and stores its name in
// g_temporary; INVALID_HANDLE_VALUE when none can be created.
HANDLE create_temporary(const std::wstring& name) {
    const std::wstring prefix = temporary_prefix(name);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::wstring path = prefix;
        path += unique_suffix(attempt);
        if (path.size() >= std::size(g_temporary)) return INVALID_HANDLE_VALUE;
        std::wmemcpy(g_temporary, path.c_str(), path.size() + 1);
        g_temporary_active.store(true, std::memory_order_release);
        // Read as well as written: the TIFF writer reads back what it wrote.
        const HANDLE handle =
            ::CreateFileW(g_temporary, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) return handle;
        g_temporary_active.store(false, std::memory_order_release);
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// Renames `from` onto `to` with MoveFileExW, replacing an earlier file of
// that name whole; fails on a folder.
//
// Two things stop such a rename on Windows that do not stop rename() on
// Linux. The read-only attribute of the earlier file (on Linux the folder's
// permission is what counts): it is cleared, and put back if the rename
// still fails. And a program that opened either file for a moment without
// sharing it (a virus scanner looking at the new file, an indexer): the
// rename is tried again for about half a second before it counts as failed.
bool replace_file(const wchar_t* from, const std::wstring& to) {
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    const DWORD locked = FILE_ATTRIBUTE_READONLY;
    bool unlocked = false;
    for (DWORD attempt = 1; attempt <= 8; ++attempt) {
        if (::MoveFileExW(from, to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
        const DWORD error = ::GetLastError();
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) break;
        if (!unlocked && attributes != INVALID_FILE_ATTRIBUTES && (attributes & locked) != 0) {
            unlocked = ::SetFileAttributesW(to.c_str(), attributes & ~locked) != 0;
            if (unlocked) continue;
        }
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
            error != ERROR_LOCK_VIOLATION) {
            break;
        }
        ::Sleep(16 * attempt);
    }
    if (unlocked) ::SetFileAttributesW(to.c_str(), attributes);
    return false;
}

}  // namespace

// The temporary file is open with FILE_SHARE_DELETE, so deleting it while it
// is being written takes effect when the process's handles close, as the
// process ends.
BOOL WINAPI remove_temporary_on_console_event(DWORD) {
    if (g_temporary_active.load(std::memory_order_acquire)) ::DeleteFileW(g_temporary);
    return FALSE;  // on to the default handler, which ends the process
}

void remove_temporary_file_on_interrupt() {
    static std::once_flag once;
    std::call_once(once, [] { ::SetConsoleCtrlHandler(remove_temporary_on_console_event, TRUE); });
}

// A file size limit is a POSIX resource limit; Windows has none.
void let_writes_fail_past_size_limit() noexcept {}

bool write_all_at(int fd, std::uint64_t position, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(position);
        where.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD written = 0;
        if (!::WriteFile(handle_of(fd), bytes.data(), chunk, &written, &where) || written == 0) {
            return false;
        }
        bytes = bytes.subspan(written);
        position += written;
    }
    return true;
}

AtomicFile::AtomicFile(const std::string& name)
    : one_at_a_time_(one_file_at_a_time()), name_(name) {
    const HANDLE handle = create_temporary(wide_name(name));
    fd_ = handle == INVALID_HANDLE_VALUE ? -1 : handle_number(handle);
}

AtomicFile::~AtomicFile() {
    if (done_ || fd_ < 0) return;
    ::CloseHandle(handle_of(fd_));
    ::DeleteFileW(g_temporary);
    g_temporary_active.store(false, std::memory_order_release);
}

bool AtomicFile::commit() {
    if (fd_ < 0 || done_) return false;
    done_ = true;
    bool stored = ::CloseHandle(handle_of(fd_)) != 0;
    stored = stored && replace_file(g_temporary, wide_name(name_));
    if (!stored) ::DeleteFileW(g_temporary);
    g_temporary_active.store(false, std::memory_order_release);
    return stored;
}

}  // namespace slabtone
