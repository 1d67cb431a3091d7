// Checks the plain Windows file layer of the record path on its own, under Wine or Windows:
// one line per case and a closing "N passed, M failed" line; the exit code is the failures.
//
//   windows_file_check [--full-disk DIR] [--records K]
//   windows_file_check --append FILE WRITER K     (the second writer, started by the first)

#include "storage/windows_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace {

constexpr DWORD kWaitMs = 120000;
constexpr ULONGLONG kLockWaitMs = 30000;

int passed = 0;
int failed = 0;

void report(bool ok, const char* name, const std::string& detail)
{
    ++(ok ? passed : failed);
    std::printf("%s %s%s%s\n", ok ? "PASS" : "FAIL", name, detail.empty() ? "" : ": ", detail.c_str());
    std::fflush(stdout);
}

void skip(const char* name, const char* reason)
{
    std::printf("SKIP %s: %s\n", name, reason);
    std::fflush(stdout);
}

std::string errorName(int error)
{
    switch (error) {
    case 0:
        return "0";
    case ENOENT:
        return "ENOENT";
    case EACCES:
        return "EACCES";
    case EEXIST:
        return "EEXIST";
    case EISDIR:
        return "EISDIR";
    case ENOSPC:
        return "ENOSPC";
    case EWOULDBLOCK:
        return "EWOULDBLOCK";
    default:
        return "errno " + std::to_string(error);
    }
}

std::string expectError(int got, int wanted)
{
    return got == wanted ? std::string() : "got " + errorName(got) + ", wanted " + errorName(wanted);
}

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c < 128 ? char(c) : '?';
    return out;
}

std::wstring makeWorkFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"windows-file-check-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// Files and folders this program made, removed on every path through main.
struct Cleanup {
    std::vector<std::wstring> files;
    std::vector<std::wstring> folders;
    ~Cleanup()
    {
        for (const std::wstring& f : files) {
            SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(f.c_str());
        }
        for (auto it = folders.rbegin(); it != folders.rend(); ++it)
            RemoveDirectoryW(it->c_str());
    }
};

// One record: its writer, number and payload length, the payload a letter of its own, and
// an end mark, so that a torn or mixed record cannot pass for a whole one.
std::string recordText(int writer, int number, int length)
{
    const char letter = char('a' + (writer * 7 + number) % 26);
    return "rec " + std::to_string(writer) + ' ' + std::to_string(number) + ' ' + std::to_string(length) + ' ' +
           std::string(std::size_t(length), letter) + " end\r\n";
}

int recordLength(int writer, int number)
{
    // Deterministic, from a byte to a few pages, so some records cross page boundaries.
    unsigned x = unsigned(writer * 7919 + number * 104729 + 12345);
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return int(x % 6000) + 1;
}

std::wstring folderOf(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"\\/"));
}

// One record the way the tutor appends it: the file's operating-system lock, then the lock
// file in the folder created atomically, then the file opened again, written at the end the
// server reports, flushed and read back; 0 or the errno of the step that failed.
int appendRecord(const std::wstring& path, const std::string& bytes)
{
    const ULONGLONG deadline = GetTickCount64() + kLockWaitMs;
    winfile::File locked;
    if (const int error = locked.openReadWrite(path))
        return error;
    for (int pauseMs = 1;; pauseMs = pauseMs < 20 ? pauseMs * 2 : 20) {
        const int error = winfile::tryLock(locked.handle());
        if (error == 0)
            break;
        if (error != EWOULDBLOCK || GetTickCount64() >= deadline)
            return error;
        winfile::pause(pauseMs);
    }
    const std::wstring lockPath = folderOf(path) + L"\\records.lock";
    winfile::File lock;
    for (int pauseMs = 1;; pauseMs = pauseMs < 20 ? pauseMs * 2 : 20) {
        const int error = lock.createNew(lockPath);
        if (error == 0)
            break;
        // A lock file being removed by its holder may show as a permission failure.
        if ((error != EEXIST && error != EACCES) || GetTickCount64() >= deadline)
            return error;
        winfile::pause(pauseMs);
    }
    const std::string holder = "computer: wine\r\nprocess: " + std::to_string(winfile::processId()) + "\r\n";
    std::int64_t done = 0;
    winfile::writeAt(lock.handle(), 0, holder.data(), holder.size(), done);
    lock.close();

    int error = 0;
    {
        winfile::File file;
        std::int64_t end = 0;
        error = file.openReadWrite(path);
        if (error == 0)
            error = winfile::size(file.handle(), end);
        if (error == 0)
            error = winfile::writeAt(file.handle(), end, bytes.data(), bytes.size(), done);
        if (error == 0)
            error = winfile::flush(file.handle());
        std::string back;
        if (error == 0)
            error = winfile::readAt(file.handle(), end, std::int64_t(bytes.size()), back);
        if (error == 0 && back != bytes)
            error = EIO;
    }
    const int removed = winfile::removeFile(lockPath);
    return error != 0 ? error : removed;
}

// Appends K records as writer W; the count of records whose append failed.
int appendAll(const std::wstring& path, int writer, int count)
{
    int failures = 0;
    for (int n = 0; n < count; ++n) {
        if (appendRecord(path, recordText(writer, n, recordLength(writer, n))) != 0)
            ++failures;
    }
    return failures;
}

std::string readWhole(const std::wstring& path)
{
    winfile::File file;
    std::int64_t size = 0;
    std::string bytes;
    if (file.openReadWrite(path) == 0 && winfile::size(file.handle(), size) == 0)
        winfile::readAt(file.handle(), 0, size, bytes);
    return bytes;
}

struct Tally {
    int whole = 0;
    int torn = 0;
    int twice = 0;
    int lost = 0;
};

Tally tallyRecords(const std::string& bytes, int writers, int perWriter)
{
    Tally t;
    std::map<std::pair<int, int>, int> seen;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ++t.torn; // a tail without its line end
            break;
        }
        const std::string line = bytes.substr(start, end - start + 2);
        start = end + 2;
        int w = -1;
        int n = -1;
        int length = -1;
        if (std::sscanf(line.c_str(), "rec %d %d %d ", &w, &n, &length) != 3 || w < 0 || w >= writers || n < 0 ||
            n >= perWriter || length != recordLength(w, n) || line != recordText(w, n, length)) {
            ++t.torn;
            continue;
        }
        if (++seen[{w, n}] == 1)
            ++t.whole;
        else
            ++t.twice;
    }
    t.lost = writers * perWriter - t.whole;
    return t;
}

void checkAppendWithLockAndFlush(const std::wstring& folder, Cleanup& cleanup)
{
    const std::wstring path = folder + L"\\masterFile.txt";
    cleanup.files.push_back(path);
    winfile::File first;
    int error = first.openReadWrite(path);
    report(error == 0 && first.created(), "open read-write creates a missing file",
           error             ? errorName(error)
           : first.created() ? ""
                             : "not reported as created");

    error = winfile::tryLock(first.handle());
    winfile::File second;
    const int secondOpen = second.openReadWrite(path);
    const int secondLock = secondOpen == 0 ? winfile::tryLock(second.handle()) : secondOpen;
    report(error == 0 && !second.created() && secondLock == EWOULDBLOCK,
           "the lock is exclusive between handles, the second open finds the file",
           "first " + errorName(error) + ", second " + errorName(secondLock));

    const std::string record = recordText(0, 0, 300);
    std::int64_t done = 0;
    error = winfile::writeAt(first.handle(), 0, record.data(), record.size(), done);
    if (error == 0)
        error = winfile::flush(first.handle());
    std::string back;
    const int readError = winfile::readAt(second.handle(), 0, 4096, back);
    report(error == 0 && done == std::int64_t(record.size()) && readError == 0 && back == record,
           "write and flush under the lock; another handle reads it whole while the lock is held",
           error            ? errorName(error)
           : readError      ? errorName(readError)
           : back == record ? ""
                            : "read back differs");

    std::int64_t sizeOnDisk = -1;
    std::int64_t sizeByPath = -1;
    winfile::size(second.handle(), sizeOnDisk);
    winfile::sizeOfPath(path, sizeByPath);
    error = winfile::truncateTo(first.handle(), 10);
    std::int64_t cut = -1;
    winfile::size(second.handle(), cut);
    report(sizeOnDisk == std::int64_t(record.size()) && sizeByPath == sizeOnDisk && error == 0 && cut == 10,
           "size by handle and by path, then cut back",
           "sizes " + std::to_string(sizeOnDisk) + "/" + std::to_string(sizeByPath) + ", after cut " +
               std::to_string(cut));

    first.close();
    second.close();
    winfile::File again;
    error = again.openReadWrite(path);
    const int relock = error == 0 ? winfile::tryLock(again.handle()) : error;
    report(relock == 0, "closing the handle releases the lock", errorName(relock));
}

void checkCreateNewAndRemove(const std::wstring& folder)
{
    const std::wstring path = folder + L"\\records.lock";
    winfile::File lock;
    const int first = lock.createNew(path);
    winfile::File other;
    const int second = other.createNew(path);
    lock.close();
    const int removed = winfile::removeFile(path);
    std::int64_t size = -1;
    const int gone = winfile::sizeOfPath(path, size);
    const int removedAgain = winfile::removeFile(path);
    const int folderFlushed = winfile::flushFolder(folder);
    const int missingFlushed = winfile::flushFolder(folder + L"\\no such folder");
    report(folderFlushed == 0 && missingFlushed == ENOENT, "a folder flush: done, or the folder is missing",
           "flush " + errorName(folderFlushed) + ", missing " + errorName(missingFlushed));
    report(first == 0 && second == EEXIST && removed == 0 && gone == 0 && size == 0 && removedAgain == ENOENT,
           "create-new is refused while the file is there; removed, it is gone",
           "create " + errorName(first) + ", again " + errorName(second) + ", remove " + errorName(removed) +
               ", remove again " + errorName(removedAgain));
}

DWORD WINAPI closeSoon(void* handle)
{
    Sleep(20);
    CloseHandle(static_cast<HANDLE>(handle));
    return 0;
}

void checkRemoveWhileReadersHoldIt(const std::wstring& folder)
{
    // A reader that does not share deletion, as many programs open files, closing a moment later.
    const std::wstring path = folder + L"\\records.lock";
    winfile::File lock;
    lock.createNew(path);
    lock.close();
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE closer = reader != INVALID_HANDLE_VALUE ? CreateThread(nullptr, 0, closeSoon, reader, 0, nullptr) : nullptr;
    const int removed = winfile::removeFile(path);
    if (closer) {
        WaitForSingleObject(closer, kWaitMs);
        CloseHandle(closer);
    } else if (reader != INVALID_HANDLE_VALUE) {
        CloseHandle(reader);
    }
    const bool gone = GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    winfile::removeFile(path);
    report(closer && removed == 0 && gone, "a file is removed once a reader that does not share deletion lets go",
           expectError(removed, 0) + (gone ? "" : " (still there)"));
}

void checkTwoProcesses(const std::wstring& folder, int perWriter, Cleanup& cleanup)
{
    const std::wstring path = folder + L"\\send_1208.txt";
    cleanup.files.push_back(path);
    cleanup.files.push_back(folder + L"\\records.lock");
    const std::wstring tag = std::to_wstring(GetCurrentProcessId());
    const std::wstring readyName = L"windows-file-check-ready-" + tag;
    const std::wstring goName = L"windows-file-check-go-" + tag;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, goName.c_str());

    wchar_t self[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command =
        L"\"" + std::wstring(self) + L"\" --append \"" + path + L"\" 1 " + std::to_wstring(perWriter) + L" " + tag;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        report(false, "two processes appending at once", "the second process did not start");
        CloseHandle(ready);
        CloseHandle(go);
        return;
    }
    const bool started = WaitForSingleObject(ready, kWaitMs) == WAIT_OBJECT_0;
    const bool childAlive = winfile::processAlive(std::int64_t(child.dwProcessId));
    SetEvent(go);
    const int parentFailures = started ? appendAll(path, 0, perWriter) : perWriter;
    DWORD childFailures = DWORD(perWriter);
    if (WaitForSingleObject(child.hProcess, kWaitMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.hProcess, DWORD(perWriter));
        WaitForSingleObject(child.hProcess, kWaitMs);
    }
    GetExitCodeProcess(child.hProcess, &childFailures);
    const bool childGone = !winfile::processAlive(std::int64_t(child.dwProcessId));
    CloseHandle(child.hProcess);
    CloseHandle(child.hThread);
    CloseHandle(ready);
    CloseHandle(go);

    const int written = 2 * perWriter - parentFailures - int(childFailures);
    const Tally t = tallyRecords(readWhole(path), 2, perWriter);
    const std::string counts = std::to_string(written) + " of " + std::to_string(2 * perWriter) +
                               " reported written, " + std::to_string(t.whole) + " whole, " + std::to_string(t.lost) +
                               " lost, " + std::to_string(t.torn) + " torn, " + std::to_string(t.twice) + " twice";
    report(started && written == 2 * perWriter && t.whole == written && t.lost == 0 && t.torn == 0 && t.twice == 0,
           "two processes appending at once", counts);
    report(childAlive && childGone && winfile::processAlive(winfile::processId()),
           "a process is alive while it runs and gone once it has ended", "");
}

void checkReadOnlyFile(const std::wstring& folder, Cleanup& cleanup)
{
    const std::wstring path = folder + L"\\notes_.txt";
    cleanup.files.push_back(path);
    {
        winfile::File file;
        file.openReadWrite(path);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    winfile::File file;
    const int error = file.openReadWrite(path);
    report(error == EACCES, "a read-only file", expectError(error, EACCES));
}

void checkMissingFolder(const std::wstring& folder)
{
    winfile::File file;
    const int error = file.openReadWrite(folder + L"\\no such folder\\masterFile.txt");
    report(error == ENOENT, "a missing folder", expectError(error, ENOENT));
}

void checkFolderAsFile(const std::wstring& folder, Cleanup& cleanup)
{
    const std::wstring path = folder + L"\\send_0101.txt";
    CreateDirectoryW(path.c_str(), nullptr);
    cleanup.folders.push_back(path);
    winfile::File file;
    const int error = file.openReadWrite(path);
    report(error == EISDIR, "a file that is a folder", expectError(error, EISDIR));
}

void checkFullDisk(const std::wstring& folder)
{
    const std::wstring path = folder + L"\\masterFile.txt";
    winfile::File file;
    int error = file.openReadWrite(path);
    // Larger than the small disk the script provides, so the write must run out of room.
    const std::string big(4u << 20, 'x');
    std::int64_t done = 0;
    if (error == 0)
        error = winfile::writeAt(file.handle(), 0, big.data(), big.size(), done);
    int cut = -1;
    std::int64_t after = -1;
    if (file.isOpen()) {
        cut = winfile::truncateTo(file.handle(), 0);
        winfile::size(file.handle(), after);
    }
    file.close();
    winfile::removeFile(path);
    report(error == ENOSPC && done < std::int64_t(big.size()) && cut == 0 && after == 0,
           "a full disk refuses the write, and the part written is cut back",
           expectError(error, ENOSPC) + (cut == 0 && after == 0 ? "" : " (not cut back)"));
}

int runChild(int argc, wchar_t** argv)
{
    if (argc < 6)
        return 1000;
    const std::wstring path = argv[2];
    const int writer = _wtoi(argv[3]);
    const int count = _wtoi(argv[4]);
    const std::wstring tag = argv[5];
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"windows-file-check-ready-" + tag).c_str());
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, (L"windows-file-check-go-" + tag).c_str());
    if (!ready || !go)
        return count;
    SetEvent(ready);
    const bool started = WaitForSingleObject(go, kWaitMs) == WAIT_OBJECT_0;
    CloseHandle(ready);
    CloseHandle(go);
    return started ? appendAll(path, writer, count) : count;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wcscmp(argv[1], L"--append") == 0)
        return runChild(argc, argv);

    std::wstring fullDisk;
    int perWriter = 300;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::wcscmp(argv[i], L"--full-disk") == 0)
            fullDisk = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--records") == 0)
            perWriter = _wtoi(argv[i + 1]);
    }
    if (perWriter < 1)
        perWriter = 1;

    Cleanup cleanup;
    const std::wstring folder = makeWorkFolder();
    cleanup.folders.push_back(folder);
    std::printf("working in %s\n", narrow(folder).c_str());

    checkAppendWithLockAndFlush(folder, cleanup);
    checkCreateNewAndRemove(folder);
    checkRemoveWhileReadersHoldIt(folder);
    checkTwoProcesses(folder, perWriter, cleanup);
    checkReadOnlyFile(folder, cleanup);
    checkMissingFolder(folder);
    checkFolderAsFile(folder, cleanup);
    if (fullDisk.empty())
        skip("a full disk",
             "no small disk given (tools/check-windows maps a 1 MB tmpfs as Q: only where it may mount one, as root)");
    else
        checkFullDisk(fullDisk);

    std::printf("%d passed, %d failed\n", passed, failed);
    return failed;
}
