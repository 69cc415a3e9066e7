// varko-hdiutil: the stand-in for `hdiutil attach` on Linux. What the kernel can read
// (a raw image, an ISO, HFS+ where its module exists) it attaches read-only through
// udisks, which an ordinary desktop user may use; Apple's own UDIF images it cannot,
// and it says why. Failures end as hdiutil's do: status 1 and "hdiutil: attach failed".
#include <QStandardPaths>
#include <cstdio>
#include <cstring>

#include "systools/hdiutil/diskimage.h"
#include "systools/hdiutil/udisksattach.h"
#include "systools/standardoptions.h"
#include "tools/pathbytes.h"

using namespace varko;

namespace {

constexpr auto help =
    "Usage: varko-hdiutil attach IMAGE\n"
    "Attaches a disk image read-only and mounts its file systems through udisks,\n"
    "printing each device, its content and its mount point as hdiutil does.\n"
    "Apple's UDIF images (.dmg with a 'koly' trailer) cannot be read on Linux.\n";

int attachFailed(const std::string& reason) {
    std::fprintf(stderr, "hdiutil: attach failed - %s\n", reason.c_str());
    return 1;
}

int attach(const QString& image) {
    const Expected<hdiutil::ImageFormat> format = hdiutil::readImageFormat(image);
    if (!format) {
        if (format.error().code == ErrorCode::missing)
            return attachFailed("No such file or directory");
        return attachFailed(format.error().message);
    }
    if (*format == hdiutil::ImageFormat::Udif)
        return attachFailed(
            "this is an Apple disk image (UDIF). Its blocks are kept in Apple's own chunk "
            "table, mostly compressed, which only macOS's disk image driver decodes; the "
            "Linux kernel cannot read it, so it cannot be mounted here. Convert it to a raw "
            "image first (for example with dmg2img) and attach that, or open it with 7z.");
    const QString udisksctl = QStandardPaths::findExecutable(QStringLiteral("udisksctl"));
    if (udisksctl.isEmpty())
        return attachFailed(
            "udisksctl was not found. Attaching a disk image without root needs udisks "
            "(the Debian package udisks2) and its daemon.");
    const auto attached = hdiutil::attachWithUdisks(udisksctl, image);
    if (!attached) return attachFailed(attached.error().message);
    for (const hdiutil::AttachedDevice& row : *attached) {
        const QByteArray line = hdiutil::attachLine(row);
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto answered = answerHelpOrVersion(argc, argv, "varko-hdiutil", VARKO_VERSION, help))
        return *answered;
    if (argc != 3 || std::strcmp(argv[1], "attach") != 0) {
        std::fputs(help, stderr);
        return 2;
    }
    // From argv itself: Qt's decoding would lose the bytes of a name that is not UTF-8.
    return attach(host::pathFromSystem(argv[2]));
}
