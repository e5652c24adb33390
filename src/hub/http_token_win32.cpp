#ifdef _WIN32

#include "http_token.h"
#include "link/win32_system.h"

#include <cstdlib>
#include <memory>
#include <windows.h>

// After windows.h, whose declarations it uses.
#include <sddl.h>

namespace mc::hub {
namespace {

std::string lastSystemReason() {
    return systemText(::GetLastError());
}

struct HandleCloser {
    void operator()(void* handle) const { ::CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

Handle held(HANDLE handle) {
    return Handle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

// A security descriptor whose access list lets only the user the hub runs as
// in, and inherits nothing from the folder (a folder others may read would
// otherwise hand them the token). Freed with LocalFree.
PSECURITY_DESCRIPTOR ownerOnlyDescriptor() {
    HANDLE process = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &process) == 0) {
        return nullptr;
    }
    const Handle processToken(process);
    DWORD size = 0;
    ::GetTokenInformation(process, TokenUser, nullptr, 0, &size);
    auto user = std::make_unique<unsigned char[]>(size);
    if (size == 0 || ::GetTokenInformation(process, TokenUser, user.get(), size, &size) == 0) {
        return nullptr;
    }
    LPWSTR sid = nullptr;
    if (::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid, &sid) == 0) {
        return nullptr;
    }
    // D:P - a protected access list; (A;;FA;;;SID) - all file access for SID.
    const std::wstring text = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    ::LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &descriptor, nullptr) ==
        0) {
        return nullptr;
    }
    return descriptor;
}

} // namespace

std::filesystem::path defaultTokenPath() {
    // The per-user settings folder, where the site file lives too.
    const char* appData = std::getenv("APPDATA");
    if (appData == nullptr || appData[0] == '\0') {
        return {};
    }
    return std::filesystem::path(appData) / "matrix-hub" / kTokenFileName;
}

std::variant<std::string, std::string> loadOrCreateToken(const std::filesystem::path& file) {
    using Result = std::variant<std::string, std::string>;
    const auto failed = [&](const std::string& what) {
        return Result(std::in_place_index<1>, tokenFileError(file, what));
    };
    Handle existing = held(::CreateFileW(file.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD openError = existing ? ERROR_SUCCESS : ::GetLastError();
    if (!existing && (openError == ERROR_FILE_NOT_FOUND || openError == ERROR_PATH_NOT_FOUND)) {
        std::error_code ignored;
        std::filesystem::create_directories(file.parent_path(), ignored);
        PSECURITY_DESCRIPTOR descriptor = ownerOnlyDescriptor();
        if (descriptor == nullptr) {
            return failed("cannot make an access list for its owner alone: " + lastSystemReason());
        }
        SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
        // CREATE_NEW: never through a name that exists already.
        Handle created = held(::CreateFileW(file.wstring().c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        const std::string createReason = created ? std::string() : lastSystemReason();
        ::LocalFree(descriptor);
        if (!created) {
            return failed("cannot create it: " + createReason);
        }
        const std::string token = freshToken() + "\n";
        DWORD written = 0;
        const bool complete =
            ::WriteFile(created.get(), token.data(), static_cast<DWORD>(token.size()), &written, nullptr) != 0 &&
            written == token.size() && ::FlushFileBuffers(created.get()) != 0;
        const std::string reason = lastSystemReason();
        created.reset();
        if (!complete) {
            ::DeleteFileW(file.wstring().c_str());
            return failed("cannot write it: " + reason);
        }
        return Result(std::in_place_index<0>, token.substr(0, kTokenLength));
    }
    if (!existing) {
        return failed("cannot open it: " + systemText(openError));
    }
    if (::GetFileType(existing.get()) != FILE_TYPE_DISK) {
        return failed("it is not a regular file");
    }
    char buffer[kTokenFileLimit];
    DWORD size = 0;
    if (::ReadFile(existing.get(), buffer, sizeof buffer, &size, nullptr) == 0) {
        return failed("cannot read it: " + lastSystemReason());
    }
    auto token = tokenInText(std::string(buffer, size));
    if (!token) {
        return failed(std::string(kNoTokenInFile));
    }
    return Result(std::in_place_index<0>, *token);
}

} // namespace mc::hub

#endif
