// vtx_bridge over the native platform: the bridges of this computer.
#include <cstdio>

#include "companion/bridge_main.h"

int main(int argc, char** argv) {
    int code = vtx::companion::bridge_main(argc, argv, stdout, stderr);
    std::fflush(stdout);
    return code;
}
