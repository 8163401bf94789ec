// A program that uses the driver as the real programs do, for tests that
// run it as a process of its own: loads the driver from the folder named
// by its argument, searches Varnels and prints their serials in hex.
#include <cstdio>
#include <vector>

#include "usb/usbplow.h"

int main(int argc, char** argv)
{
    if (argc > 1)
        FtSetLibraryFolder(argv[1]);
    if (!FtLoad())
        return 2;
    std::vector<int32_t> serials;
    int32_t index = -1;
    FindDevices(0x0403, 0xF1A0, "A601????", -1, &index, serials);
    for (int32_t serial : serials)
        std::printf("%06X\n", static_cast<unsigned>(serial));
    return 0;
}
