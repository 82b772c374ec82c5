#include <cstdio>

#include "app/startup.h"

int main(int argc, char** argv) {
    vtx::Console console{stdout, stderr, stdin};
    int code = vtx::vtx_main(argc, argv, console);
    vtx::console_flush(console);
    return code;
}
