// pacelag-lab: watches pacelag's connections in the kernel and runs experiments.
#include <cstdio>

int main() {
    std::printf("usage: pacelag-lab watch|run|sweep|report ...\n");
    return 2;
}
