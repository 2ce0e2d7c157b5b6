// Opened first, then judged on what was opened: a disk file (GetFileType),
// and not a directory. A named pipe or a device in its place is refused
// without a read that could block.
#include "regularfile.h"

#include <windows.h>

#include <algorithm>

bool readregularfile(const char* path, std::size_t most, std::string& content) {
    content.clear();
    // Directories open only with backup semantics, so that they can be told
    // apart rather than fail for an unclear reason.
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = GetFileType(file) == FILE_TYPE_DISK &&
                         GetFileInformationByHandle(file, &info) != FALSE &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    bool complete = regular;
    if (regular) {
        const ULONGLONG size =
            (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        content.resize(static_cast<std::size_t>(std::min<ULONGLONG>(most, size)));
        std::size_t filled = 0;
        // The file may grow or shrink while it is read: read until its end or
        // the limit, whichever comes first.
        for (;;) {
            if (filled == content.size()) {
                if (content.size() >= most) {
                    break;
                }
                content.resize(std::min(most, content.size() + 65536));
            }
            DWORD n = 0;
            const DWORD want =
                static_cast<DWORD>(std::min<std::size_t>(content.size() - filled, 1u << 30));
            if (ReadFile(file, content.data() + filled, want, &n, nullptr) == FALSE) {
                complete = filled > 0;
                break;
            }
            if (n == 0) {
                break;
            }
            filled += n;
        }
        content.resize(filled);
    }
    CloseHandle(file);
    return complete;
}
