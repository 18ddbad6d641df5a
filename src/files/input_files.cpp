// Noting the files a run reads, and finding one by its identity.
#include "files/input_files.h"

#include <sys/stat.h>

void add_input(input_files& inputs, const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return;
    inputs.identities.push_back({st.st_dev, st.st_ino});
    inputs.names.push_back(path);
}

const std::string* input_named(const input_files& inputs, const file_identity& identity) {
    for (std::size_t i = 0; i < inputs.identities.size(); ++i) {
        if (inputs.identities[i] == identity)
            return &inputs.names[i];
    }
    return nullptr;
}
