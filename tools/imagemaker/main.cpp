// vtx_imagemaker: makes firmware, rescue and LED image files and parameter
// areas for the update tool and its tests. See docs/imagemaker.md.
#include <cstdio>

#include "tools/imagemaker/cli.h"

int main(int argc, char** argv) {
    return vtx::imagemaker::imagemaker_main(argc, argv, stdout, stderr);
}
