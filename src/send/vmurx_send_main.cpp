// vmurx-send: puts a save onto a memory card through the parallel port and
// the card's own "Waiting for data".
//
//   vmurx-send [-d DEVICE] [OPTION]... FILE
#include "send/send_main.h"
#include "send/send_options.h"

int main(int argc, char* argv[]) {
    return send_main(argc, argv, send_usage("vmurx-send"));
}
