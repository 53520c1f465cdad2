#include "IniFileDisk.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "TextWin32.h"
#include "UniqueHandleWin32.h"

namespace kordel {

namespace fs = std::filesystem;

namespace {

TKernelHandle OpenFile(const fs::path& path, DWORD access, DWORD share, DWORD disposition) {
    return OwnedOrEmpty(::CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The system's words for an error code, without the line end and full stop it appends
// (the caller's sentence goes on after them).
std::string ErrorText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", n);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L'.' ||
                             text.back() == L' ')) {
        text.pop_back();
    }
    if (text.empty()) return "error " + std::to_string(code);
    return Utf16ToUtf8(text);
}

bool WriteAll(HANDLE h, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

// The number of names the file has, or nothing when it cannot be opened to ask.
std::optional<DWORD> LinkCount(const fs::path& path) {
    const TKernelHandle h = OpenFile(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!h || !::GetFileInformationByHandle(h.get(), &info)) return std::nullopt;
    return info.nNumberOfLinks;
}

bool MoveInPlace(const fs::path& from, const fs::path& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// ReplaceFileW keeps the old file's security descriptor and attributes on the new one,
// as owner and mode are kept elsewhere. It is given full paths because wine's refuses
// relative ones (error 267). Where it fails, a plain move still replaces the content.
bool PutInPlace(const fs::path& path, const fs::path& temp) {
    std::error_code ec;
    const fs::path fullPath = fs::absolute(path, ec);
    const fs::path fullTemp = fs::absolute(temp, ec);
    if (!ec && ::ReplaceFileW(fullPath.c_str(), fullTemp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                              nullptr, nullptr)) {
        return true;
    }
    return MoveInPlace(temp, path);
}

enum class Outcome { Written, Failed, FolderRefused };

// Writes a new file next to the old one and puts it in the old one's place; a file that
// did not exist yet is simply moved into place.
Outcome ReplaceByRename(const fs::path& path, const std::string& bytes, bool oldExists) {
    fs::path temp = path;
    temp += ".tmp~" + std::to_string(::GetCurrentProcessId());
    {
        const TKernelHandle h = OpenFile(temp, GENERIC_WRITE, 0, CREATE_NEW);
        if (!h) return ::GetLastError() == ERROR_ACCESS_DENIED ? Outcome::FolderRefused : Outcome::Failed;
        if (!WriteAll(h.get(), bytes) || !::FlushFileBuffers(h.get())) {
            ::DeleteFileW(temp.c_str());
            return Outcome::Failed;
        }
    }
    const bool moved = oldExists ? PutInPlace(path, temp) : MoveInPlace(temp, path);
    if (!moved) {
        ::DeleteFileW(temp.c_str());
        return Outcome::Failed;
    }
    return Outcome::Written;
}

// Not atomic: used only where the folder refuses a new file, or where the file has
// several names that must all see the change.
bool RewriteInPlace(const fs::path& path, const std::string& bytes) {
    const TKernelHandle h = OpenFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    return h && WriteAll(h.get(), bytes) && ::SetEndOfFile(h.get()) && ::FlushFileBuffers(h.get());
}

}  // namespace

bool IsReadOnlySettingsFile(const fs::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (attributes & FILE_ATTRIBUTE_READONLY) return true;
    // The access list may refuse this user even where the attribute allows writing. Asking
    // for write access with every sharing mode neither changes the file nor stops others.
    const TKernelHandle h = OpenFile(path, GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    return !h && ::GetLastError() == ERROR_ACCESS_DENIED;
}

TSettingsRead ReadSettingsFile(const fs::path& path, std::size_t limit, std::string& bytes,
                               std::string& reason) {
    // A folder in the file's place fails here with "access denied".
    const TKernelHandle h =
        OpenFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    auto refuse = [&](DWORD error) {
        reason = ErrorText(error);
        return TSettingsRead::Refused;
    };
    if (!h) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return TSettingsRead::Missing;
        }
        return refuse(error);
    }
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) return refuse(ERROR_INVALID_FUNCTION);
    char buf[4096];
    while (bytes.size() < limit) {
        DWORD n = 0;
        const auto want =
            static_cast<DWORD>(std::min<std::size_t>(sizeof buf, limit - bytes.size()));
        if (!::ReadFile(h.get(), buf, want, &n, nullptr)) return refuse(::GetLastError());
        if (n == 0) break;
        bytes.append(buf, n);
    }
    return TSettingsRead::Read;
}

bool WriteSettingsFile(const fs::path& path, const std::string& bytes) {
    // A missing folder is not made: the write fails and the values stay in memory.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    const bool oldExists = attributes != INVALID_FILE_ATTRIBUTES;
    if (oldExists && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    // A file with several names is rewritten in place, so that every name sees the change.
    if (oldExists && LinkCount(path).value_or(1) > 1) return RewriteInPlace(path, bytes);
    switch (ReplaceByRename(path, bytes, oldExists)) {
        case Outcome::Written:
            return true;
        case Outcome::FolderRefused:
            return oldExists && RewriteInPlace(path, bytes);
        case Outcome::Failed:
            return false;
    }
    return false;
}

}  // namespace kordel
