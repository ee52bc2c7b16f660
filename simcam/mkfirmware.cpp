// Writes the firmware images the simulated camera knows into a folder:
// the build runs it so tests and demos have images to load.
#include <stdio.h>

#include "simcam/image.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: mkfirmware <existing folder>\n");
        return 2;
    }
    if (imageWriteKnown(argv[1]) != 0) {
        fprintf(stderr, "mkfirmware: cannot write the images into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
