// vmurx-backup: file after file from a memory card's own Copy, through the
// parallel port, into a card image or a folder.
//
//   vmurx-backup [-d DEVICE] [OPTION]... --card IMAGE | -o DIR
#include "backup/backup_options.h"
#include "backup/backup_run.h"

int main(int argc, char* argv[]) {
    return backup_main(argc, argv, backup_usage("vmurx-backup"));
}
