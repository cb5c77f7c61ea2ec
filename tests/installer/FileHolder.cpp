// FileHolder: keeps modules mapped as a process of a machine in use keeps them (the service its
// event handlers, the platform the bridge, a running alerter its image), so that the installer's
// tests meet files that cannot be overwritten; and holds named mutexes as another running setup
// holds its own.
//   FileHolder.exe FILE|mutex:NAME...
// Maps each FILE as an image without running any of its code and prints "held <FILE> <file id>"
// (the file id tells one file from another of the same name and bytes); creates each mutex NAME
// and prints "held mutex:<NAME>"; prints "holding" last, then waits until the prefix is stopped.
// Exit code 1 when a file cannot be mapped or a mutex made.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The identity of the file at a path: volume serial and file index.
bool FileId(const wchar_t* path, wchar_t* text, size_t size)
{
    HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != FALSE;
    CloseHandle(file);
    if (known)
        swprintf(text, size, L"%08lx-%08lx%08lx", info.dwVolumeSerialNumber, info.nFileIndexHigh,
                 info.nFileIndexLow);
    return known;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fwprintf(stderr, L"usage: FileHolder.exe FILE|mutex:NAME...\n");
        return 2;
    }
    const std::wstring mutexPrefix = L"mutex:";
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument.compare(0, mutexPrefix.size(), mutexPrefix) == 0) {
            // Held for the rest of the process's life, which is what the test needs.
            if (!CreateMutexW(nullptr, FALSE, argument.c_str() + mutexPrefix.size())) {
                fwprintf(stderr, L"FileHolder: could not make %ls (error %lu)\n", argv[i], GetLastError());
                return 1;
            }
            wprintf(L"held %ls\n", argv[i]);
            continue;
        }
        wchar_t id[64] = L"";
        if (!FileId(argv[i], id, 64)) {
            fwprintf(stderr, L"FileHolder: no file %ls (error %lu)\n", argv[i], GetLastError());
            return 1;
        }
        // Mapped for the rest of the process's life, which is what the test needs.
        if (!LoadLibraryExW(argv[i], nullptr, DONT_RESOLVE_DLL_REFERENCES)) {
            fwprintf(stderr, L"FileHolder: could not map %ls (error %lu)\n", argv[i], GetLastError());
            return 1;
        }
        wprintf(L"held %ls %ls\n", argv[i], id);
    }
    wprintf(L"holding\n");
    fflush(stdout);
    Sleep(INFINITE);
    return 0;
}
