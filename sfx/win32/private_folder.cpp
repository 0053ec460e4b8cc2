// The Windows self-extractor's temporary folder. A self-extractor started as SYSTEM from a
// deployment tool, or elevated, makes its folder where other users may make folders too: its
// name therefore carries 64 bits from the system's random source, it is made exclusively (one
// that exists is never entered), and its access list, protected from inheritance, admits only
// SYSTEM, the Administrators and the user. An elevated process leaves its user out: the same
// user's unelevated programs would otherwise be able to plant files for the elevated one.
#include "sfx/win32/private_folder.h"

#include <windows.h>
// Windows' own headers after windows.h.
#include <sddl.h>

#include "crypto/random_bytes.h"
#include "sfx/core/temporary_folder.h"
#include "sfx/core/text.h"

namespace win32sfx {

namespace {

constexpr int kWidePath = 1024;

// The folder new folders go in: GetTempPath2W where the system has it (a process running as
// SYSTEM gets %SystemRoot%\SystemTemp, which only SYSTEM and the Administrators can enter),
// else GetTempPathW (%SystemRoot%\Temp for SYSTEM, the profile's for a user).
DWORD TemporaryBase(wchar_t* out, DWORD capacity) {
    using TempPath2 = DWORD(WINAPI*)(DWORD, LPWSTR);
    auto second = reinterpret_cast<TempPath2>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    return second != nullptr ? second(capacity, out) : GetTempPathW(capacity, out);
}

// The access list in SDDL: P protects it from the parent's inherited entries; each entry gives
// full access to this folder and, inherited, to everything made in it.
bool AccessText(wchar_t* out, int capacity) {
    lstrcpyW(out, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD got = 0;
    bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &got) &&
        elevation.TokenIsElevated != 0;
    alignas(8) unsigned char user[256];
    bool known = GetTokenInformation(token, TokenUser, user, sizeof user, &got) != FALSE;
    CloseHandle(token);
    if (!known) return false;
    if (elevated) return true;
    wchar_t* sid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid)) return false;
    bool fits = lstrlenW(out) + lstrlenW(sid) + 16 < capacity;
    if (fits) {
        lstrcatW(out, L"(A;OICI;FA;;;");
        lstrcatW(out, sid);
        lstrcatW(out, L")");
    }
    LocalFree(sid);
    return fits;
}

class PrivateFolderMaker final : public sfx::FolderMaker {
  public:
    PrivateFolderMaker(wchar_t* path, int baseLength, SECURITY_ATTRIBUTES* security)
        : path_(path), baseLength_(baseLength), security_(security) {}
    bool Random(uint8_t* bytes, size_t count) override { return SystemRandomBytes(bytes, count); }
    sfx::FolderCreation Create(const char* name) override {
        for (int i = 0; name[i] != '\0'; ++i)
            path_[baseLength_ + i] = static_cast<wchar_t>(name[i]);
        path_[baseLength_ + lstrlenA(name)] = L'\0';
        if (CreateDirectoryW(path_, security_)) return sfx::FolderCreation::Made;
        DWORD error = GetLastError();
        return error == ERROR_ALREADY_EXISTS ? sfx::FolderCreation::Exists
                                             : sfx::FolderCreation::Failed;
    }

  private:
    wchar_t* path_;
    int baseLength_;
    SECURITY_ATTRIBUTES* security_;
};

}  // namespace

bool MakePrivateFolder(char* out) {
    wchar_t folder[kWidePath];
    DWORD length = TemporaryBase(folder, kWidePath - 32);
    if (length == 0 || length >= kWidePath - 32) return false;
    wchar_t access[256];
    SECURITY_ATTRIBUTES security = {};
    security.nLength = sizeof security;
    if (!AccessText(access, 256) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(
            access, SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr)) {
        return false;
    }
    PrivateFolderMaker maker(folder, static_cast<int>(length), &security);
    char name[sfx::kTemporaryNameBytes];
    bool made = sfx::MakeFreshFolder(maker, name);
    LocalFree(security.lpSecurityDescriptor);
    if (!made) return false;
    if (WideCharToMultiByte(CP_ACP, 0, folder, -1, out, sfx::kTextBytes, nullptr, nullptr) > 0) {
        return true;
    }
    RemoveDirectoryW(folder);  // its path does not fit the stub's 255 bytes
    return false;
}

}  // namespace win32sfx
