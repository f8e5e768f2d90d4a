#include <cstdio>

int main() {
    std::puts("pxr-sim: not built yet");
    return 1;
}
