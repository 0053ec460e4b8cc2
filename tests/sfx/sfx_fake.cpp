// The scripted platform of the front-end tests; see sfx_fake.h.
#include "sfx_fake.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "pack/self_extractor.h"

namespace sfx_test {

namespace {

const char kTemplatePromptText[] =
    "This file is protected through encryption, please enter the password for the file below";

void CopyOut(const std::string& text, char* out, size_t capacity) {
    size_t n = std::min(text.size(), capacity - 1);
    memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

FakeDialog::FakeDialog(FakePlatform& platform, std::string ownerName)
    : platform(platform), ownerName(std::move(ownerName)) {}

void FakeDialog::SetItemText(int id, const char* text) {
    texts[id] = text;
    textHistory[id].push_back(text);
}

void FakeDialog::GetItemText(int id, char* out, size_t capacity) {
    CopyOut(texts[id], out, capacity);
}

int FakeDialog::ShowMessage(const char* text, const char* caption, unsigned style) {
    platform.boxes.push_back({ownerName, text, caption, style});
    return platform.NextAnswer();
}

bool FakeDialog::CreateCommentView() {
    commentView = true;
    return true;
}

bool FakeDialog::SetCommentFont() {
    if (fontFails) return false;
    commentFont = true;
    return true;
}

bool FakeDialog::BrowseForFolder(char* out, size_t capacity) {
    if (!browseAnswer) return false;
    CopyOut(*browseAnswer, out, capacity);
    return true;
}

bool FakeDialog::StartWorker() {
    ++workersStarted;
    if (runWorkerAtOnce) sfx::ExtractThread(platform, *this);
    return true;
}

uint32_t RecordingArchive::OpenStream(void** handle, const char* path, const char* password,
                                      unsigned mode) {
    openPasswords.push_back(password ? std::optional<std::string>(password) : std::nullopt);
    return vorn_OpenStream(handle, platform.HostText(path).c_str(), password, mode);
}

uint32_t RecordingArchive::CloseStream(void* handle) {
    ++closes;
    return vorn_CloseStream(handle);
}

uint32_t RecordingArchive::CancelOperation(void* handle) {
    ++cancels;
    return vorn_CancelOperation(handle);
}

uint32_t RecordingArchive::EnumerateFiles(void* handle, VORN_FILEINFO* info, uint64_t index) {
    if (enumerateFailsWith && index > 0) return *enumerateFailsWith;
    return vorn_EnumerateFiles(handle, info, index);
}

uint32_t RecordingArchive::DecompressToFile(void* handle, const char* name, const char* path,
                                            ProgressCallback progress, const char* password) {
    ExtractCall call;
    call.name = name;
    call.path = path;
    if (password) call.password = password;
    // A part file goes by the bytes the one way of writing named it on the host.
    std::string host = call.path == platform.partHostPath.first ? platform.partHostPath.second
                                                                : platform.HostText(path);
    call.status = vorn_DecompressToFile(handle, name, host.c_str(), progress, password);
    if (afterExtract) afterExtract(call);
    extracts.push_back(call);
    return call.status;
}

FakePlatform::FakePlatform() {
    static std::atomic<int> counter{0};
    root = fs::temp_directory_path() /
           ("vorn_sfx_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
    fs::remove_all(root);
    fs::create_directories(root / "C" / "Tools");
    archive = &recorder;
}

FakePlatform::~FakePlatform() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

std::string FakePlatform::HostText(const std::string& path) const {
    if (style == sfx::PathStyle::Posix) return path;
    std::string rest = path;
    std::string drive = "C";
    if (rest.size() >= 2 && rest[1] == ':') {
        drive = rest.substr(0, 1);
        rest = rest.substr(2);
    }
    const char separator = static_cast<char>(fs::path::preferred_separator);
    std::string host = (root / drive).string();
    std::string level;
    for (char c : rest + "\\") {
        if (c == '\\' || c == '/') {
            if (!level.empty()) host += separator + level;
            level.clear();
        } else {
            level += c;
        }
    }
    return host;
}

fs::path FakePlatform::Host(const std::string& path) const {
    return fs::path(HostText(path));
}

void FakePlatform::InstallArchive(const vorntest::TestArchive& archiveSpec) {
    fs::path own = Host(ownPath);
    fs::create_directories(own.parent_path());
    ASSERT_TRUE(vorntest::WriteWholeFile(own.string(), vorntest::BuildTestArchive(archiveSpec)));
}

void FakePlatform::GetOwnPath(char* out, size_t capacity) {
    CopyOut(ownPath, out, capacity);
}

int FakePlatform::ShowMessage(const char* text, const char* caption, unsigned style) {
    boxes.push_back({"none", text, caption, style});
    return NextAnswer();
}

int FakePlatform::NextAnswer() {
    if (answers_.empty()) return fallbackAnswer;
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

std::vector<Box> FakePlatform::BoxesWithCaption(const std::string& caption) const {
    std::vector<Box> found;
    for (const Box& b : boxes) {
        if (b.caption == caption) found.push_back(b);
    }
    return found;
}

intptr_t FakePlatform::RunPasswordDialog(sfx::MainDialog* owner, char* buffer) {
    if (promptScript.empty()) {
        ADD_FAILURE() << "a password prompt came that the test did not expect";
        return 2;
    }
    if (promptScript.front().notCreated) {
        intptr_t result = *promptScript.front().notCreated;
        promptScript.pop_front();
        return result;
    }
    FakeDialog dialog(*this, "password");
    dialog.texts[IDC_PASSWORD_TEXT] = kTemplatePromptText;
    dialog.texts[IDC_PASSWORD] = "";
    sfx::PasswordDialogInit(dialog, buffer);
    prompts.push_back({owner != nullptr, dialog.texts[IDC_PASSWORD_TEXT],
                       dialog.texts[IDC_PASSWORD], dialog.checked[IDC_REUSE_PASSWORD]});
    while (!dialog.ended) {
        if (promptScript.empty()) {
            ADD_FAILURE() << "the password prompt stayed open after the script ended";
            return 2;
        }
        PromptAction action = promptScript.front();
        promptScript.pop_front();
        if (action.typed) dialog.texts[IDC_PASSWORD] = *action.typed;
        dialog.checked[IDC_REUSE_PASSWORD] = action.keep;
        sfx::PasswordDialogCommand(dialog, action.command);
    }
    return *dialog.ended;
}

void FakePlatform::RunMainDialog() {
    ++mainDialogRuns;
    sfx::MainDialogOpen(*this, mainDialog);
    if (onMainDialog) onMainDialog(mainDialog);
}

bool FakePlatform::PathExists(const char* path) {
    return fs::exists(Host(path));
}

bool FakePlatform::DirectoryExists(const char* path) {
    probedLevels.push_back(path);
    return fs::is_directory(Host(path));
}

bool FakePlatform::CreateDirectoryLevel(const char* path) {
    createdLevels.push_back(path);
    std::error_code error;
    return fs::create_directory(Host(path), error);
}

bool FakePlatform::RemoveFile(const char* path) {
    removed.push_back(path);
    std::error_code error;
    return fs::remove(Host(path), error);
}

sfx::EntryFolderResult FakePlatform::OpenEntryFolder(const char* destination,
                                                     const char* relative) {
    entryFolders.push_back(relative);
    std::string hostRelative = relative;
    std::replace(hostRelative.begin(), hostRelative.end(), '\\', '/');
    entryFolder_ = destination;
    if (*relative != '\0')
        entryFolder_ += relative + std::string(1, style == sfx::PathStyle::Windows ? '\\' : '/');
    return sfx::OpenEntryFolderOnDisk(HostText(destination).c_str(), hostRelative.c_str());
}

bool FakePlatform::CreateEntryPart(const char* leaf, char* partPath) {
    char hostPart[sfx::kTextBytes];
    if (!sfx::CreateEntryPartOnDisk(leaf, hostPart)) return false;
    // The part file's name as its bytes stand, never through a path's own text conversion.
    std::string host = hostPart;
    std::string part = entryFolder_ + host.substr(host.find_last_of("\\/") + 1);
    partFiles.push_back(part);
    partHostPath = {part, hostPart};
    partOpen_ = true;
    strcpy(partPath, part.c_str());
    return true;
}

bool FakePlatform::CloseEntryFolder(bool keep) {
    if (partOpen_) ++(keep ? partsKept : partsDiscarded);
    partOpen_ = false;
    return sfx::CloseEntryFolderOnDisk(keep);
}

size_t FakePlatform::SystemText(const char* text, char* out, size_t capacity) {
    auto it = systemTexts.find(text);
    if (it == systemTexts.end()) return sfx::Platform::SystemText(text, out, capacity);
    if (it->second.size() < capacity) memcpy(out, it->second.c_str(), it->second.size() + 1);
    return it->second.size();
}

bool FakePlatform::MakeTemporaryFolder(char* out) {
    if (temporaryFails) return false;
    std::string folder = "C:\\Temp\\vorn-" + std::to_string(removedTrees.size() + started.size());
    std::error_code error;
    fs::create_directories(Host(folder), error);
    strcpy(out, folder.c_str());
    return true;
}

bool FakePlatform::RemoveFolderTree(const char* path) {
    removedTrees.push_back(path);
    std::error_code error;
    return fs::remove_all(Host(path), error) > 0;
}

sfx::ProgramResult FakePlatform::RunProgram(const sfx::ProgramLaunch& launch, int* exitCode) {
    Started s;
    s.path = launch.path;
    s.folder = launch.folder;
    s.arguments =
        std::string(launch.line + launch.argumentsAt, launch.lineLength - launch.argumentsAt);
    for (int i = 0; i < launch.extraCount; ++i)
        s.arguments += std::string("|") + launch.extraArgs[i];
    s.wait = launch.wait;
    s.wholeTree = launch.wholeTree;
    s.folderExisted = fs::exists(Host(launch.folder));
    started.push_back(s);
    if (!programStarts) return sfx::ProgramResult::CannotStart;
    *exitCode = programExitCode;
    return sfx::ProgramResult::Ran;
}

void PackSettings(const std::optional<std::string>& run, bool temporary,
                  std::optional<format::SfxOverwrite> overwrite) {
    pack::SfxPackSettings settings;
    settings.run = run;
    settings.temporary = temporary;
    settings.overwrite = overwrite;
    std::vector<uint8_t> block;
    std::string error;
    if (!pack::EncodeSfxSettings(settings, block, &error)) throw std::runtime_error(error);
    memset(sfx::g_abSettings, 0, sizeof sfx::g_abSettings);
    memcpy(sfx::g_abSettings, block.data(), block.size());
}

void ResetFrontEndState() {
    memset(sfx::g_abSettings, 0, sizeof sfx::g_abSettings);
    memset(sfx::g_szExtractDir, 0, sizeof sfx::g_szExtractDir);
    memcpy(sfx::g_szExtractDir + 1, "???", 3);
    sfx::g_hArchive = nullptr;
    sfx::g_bCancel = false;
    sfx::g_qwFileCount = 0;
    sfx::g_qwFilesDone = 0;
    memset(sfx::g_szSavedPassword, 0, sizeof sfx::g_szSavedPassword);
    sfx::g_bPasswordSaved = 0;
    sfx::g_pszPasswordOut = nullptr;
    sfx::g_pMainDialog = nullptr;
    sfx::g_pPlatform = nullptr;
}

std::string ReadHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

vorntest::TestEntry Entry(const std::string& name, const std::string& data) {
    vorntest::TestEntry e;
    e.name = name;
    e.data = Bytes(data);
    return e;
}

}  // namespace sfx_test
