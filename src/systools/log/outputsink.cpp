#include "systools/log/outputsink.h"

#include <unistd.h>

#include <cerrno>

namespace varko::logtool {

void OutputSink::flush() {
    std::size_t done = 0;
    while (current == State::Open && done < buffer.size()) {
        const ssize_t written = ::write(fd, buffer.data() + done, buffer.size() - done);
        if (written > 0) {
            done += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            errorNumber = written < 0 ? errno : EIO;
            current = errorNumber == EPIPE ? State::ClosedPipe : State::Failed;
        }
    }
    buffer.clear();
}

}  // namespace varko::logtool
