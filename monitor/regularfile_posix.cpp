// Opened first, without blocking (a FIFO without a writer would hold the
// open for ever, and one swapped in after a check of the path would slip
// past it), then judged by fstat on what was opened.
#include "regularfile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool readregularfile(const char* path, std::size_t most, std::string& content) {
    content.clear();
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    bool complete = regular;
    if (regular) {
        // One read takes a whole host list of ordinary size, whatever size
        // fstat saw: a file that is being rewritten meanwhile then comes in
        // one piece, from one version, as often as it can.
        constexpr std::size_t firstread = 65536;
        const auto size = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
        content.resize(std::min(most, std::max(size, firstread)));
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
            const ssize_t n = read(fd, content.data() + filled, content.size() - filled);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                complete = n == 0 || filled > 0;
                break;
            }
            filled += static_cast<std::size_t>(n);
        }
        content.resize(filled);
    }
    close(fd);
    return complete;
}
