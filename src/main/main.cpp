// The vmurx program: the tool's entry function over the backend it is linked with.
#include "main/vmurx.h"

int main(int argc, char* argv[]) {
    return vmurx_main(argc, argv);
}
