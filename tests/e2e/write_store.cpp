// write_store PATH KEY FIELD=VALUE...: writes one record into a store as
// another program (an older agent, say) left it, the fields given as
// orla-cli send takes them.
#include <cstdio>
#include <string>

#include "platform/orla/store.h"
#include "tools/orla-cli/fields.h"

int main(int argc, char** argv) {
    uint32_t key = 0;
    if (argc < 3 || !orla::cli::parseNumber(argv[2], key)) {
        std::fprintf(stderr, "usage: write_store PATH KEY FIELD=VALUE...\n");
        return 2;
    }
    orla::message record;
    for (int i = 3; i < argc; ++i) {
        std::string error;
        if (!orla::cli::parseField(argv[i], record, error)) {
            std::fprintf(stderr, "write_store: %s\n", error.c_str());
            return 2;
        }
    }
    orla::Store store(argv[1], 5);
    return store.set(key, record) ? 0 : 1;
}
