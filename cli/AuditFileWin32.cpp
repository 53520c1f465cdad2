// The audit log's file on Windows: CreateFileW with append-only data access,
// LockFileEx per record, FlushFileBuffers.
// clang-format off
#include <windows.h>
// clang-format on

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <string_view>

#include "AuditFile.h"
#include "TextWin32.h"
#include "UniqueHandleWin32.h"

namespace kordel::cli {

namespace {

// Windows locks are mandatory for the bytes they cover, so the record lock is one byte
// far beyond any log's end: readers of the log's bytes never run into it.
constexpr DWORD LockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD LockOffsetLow = 0xFFFFFFF0;

int LastError() {
    return static_cast<int>(::GetLastError());
}

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// True when `path` names a device rather than a file: the device namespace ("\\.\"), or
// a name that Windows gives to a device in every folder (CON, NUL, COM1, LPT1, ..., with
// any extension). Opening a serial port as a log would act on it (its modem lines).
bool NamesADevice(std::wstring_view path) {
    if (path.substr(0, 4) == L"\\\\.\\" || path.substr(0, 4) == L"//./") return true;
    const std::size_t slash = path.find_last_of(L"\\/:");
    std::wstring name(path.substr(slash == std::wstring_view::npos ? 0 : slash + 1));
    name = name.substr(0, name.find(L'.'));
    while (!name.empty() && name.back() == L' ') name.pop_back();
    for (wchar_t& c : name) c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const Reserved[] = {L"CON", L"PRN",    L"AUX",
                                              L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* r : Reserved) {
        if (name == r) return true;
    }
    return name.size() == 4 && (name.starts_with(L"COM") || name.starts_with(L"LPT")) &&
           name[3] >= L'1' && name[3] <= L'9';
}

class Win32AuditFile : public TAuditFile {
  public:
    Win32AuditFile(std::string path, TKernelHandle handle)
        : TAuditFile(std::move(path)), file_(std::move(handle)) {}

    bool TryLock(bool exclusive) override {
        OVERLAPPED o{};
        o.Offset = LockOffsetLow;
        o.OffsetHigh = LockOffsetHigh;
        const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        if (::LockFileEx(file_.get(), flags, 0, 1, 0, &o)) return true;
        if (::GetLastError() == ERROR_LOCK_VIOLATION) return false;
        Fail("Cannot lock the log", LastError());
    }

    void Unlock() override {
        OVERLAPPED o{};
        o.Offset = LockOffsetLow;
        o.OffsetHigh = LockOffsetHigh;
        ::UnlockFileEx(file_.get(), 0, 1, 0, &o);
    }

    std::uint64_t Size() override {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(file_.get(), &size)) Fail("Cannot read the log", LastError());
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    std::size_t ReadAt(std::uint64_t offset, char* buffer, std::size_t count) override {
        OVERLAPPED o = At(offset);
        DWORD n = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
        if (::ReadFile(file_.get(), buffer, want, &n, &o)) return n;
        if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
        Fail("Cannot read the log", LastError());
    }

    void Append(std::string_view bytes) override {
        while (!bytes.empty()) {
            // With append-only access every write goes to the end of the file.
            DWORD n = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            if (!::WriteFile(file_.get(), bytes.data(), want, &n, nullptr)) {
                Fail("Cannot write the log", LastError());
            }
            if (n == 0) Fail("Cannot write the log", ERROR_DISK_FULL);
            bytes.remove_prefix(n);
        }
    }

    void Sync() override {
        if (!::FlushFileBuffers(file_.get())) Fail("Cannot flush the log to the disk", LastError());
    }

  private:
    TKernelHandle file_;
};

}  // namespace

std::unique_ptr<TAuditFile> TAuditFile::Open(const std::string& path, Access access) {
    const bool append = access == Access::Append;
    const char* what = append ? "Cannot open the log" : "Cannot read the log";
    const std::wstring wide = Utf8ToUtf16(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    const bool folder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (folder || NamesADevice(wide)) {
        throw EAuditLog(what + std::string(" '") + path + "': it is not a regular file");
    }
    // Other processes of the station append and read at the same time.
    TKernelHandle h = OwnedOrEmpty(
        ::CreateFileW(wide.c_str(), append ? (GENERIC_READ | FILE_APPEND_DATA) : GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      append ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) throw EAuditLog(AuditFileError(what, path, LastError()));
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) {
        throw EAuditLog(what + std::string(" '") + path + "': it is not a regular file");
    }
    return std::make_unique<Win32AuditFile>(path, std::move(h));
}

std::string SystemErrorText(int error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n > 0 && text ? std::wstring(text, n) : L"";
    if (text) ::LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L'.' || message.back() == L' ')) {
        message.pop_back();
    }
    return message.empty() ? "system error" : Utf16ToUtf8(message);
}

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 256] = {};
    DWORD size = static_cast<DWORD>(std::size(name));
    if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) {
        size = static_cast<DWORD>(std::size(name));
        if (!::GetComputerNameW(name, &size) || size == 0) return "unknown";
    }
    return Utf16ToUtf8(std::wstring_view(name, size));
}

}  // namespace kordel::cli
