// varko-hdiutil: the stand-in for `hdiutil attach` on systems without Apple's disk
// image support. It cannot mount Apple disk images and says so, with the status
// the platform's tool gives for a failed attach.
#include <sys/stat.h>

#include <cstring>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 3 || std::strcmp(argv[1], "attach") != 0) {
        std::cerr << "Usage: varko-hdiutil attach IMAGE\n";
        return 2;
    }
    struct stat info {};
    if (stat(argv[2], &info) != 0) {
        std::cerr << "hdiutil: attach failed - No such file or directory\n";
        return 1;
    }
    if (!S_ISREG(info.st_mode)) {
        std::cerr << "hdiutil: attach failed - not a disk image file\n";
        return 1;
    }
    std::cerr << "hdiutil: attach failed - this system cannot mount Apple disk images; open "
              << argv[2] << " with a tool that reads them (for example 7z or dmg2img)\n";
    return 1;
}
