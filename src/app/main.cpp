#include <cstdio>
#include <string>

#include "platform/log.h"
#include "support/app_paths.h"

// Until the companion host exists the program only starts, reports its folder and exits.
int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--version") {
            std::printf("Corvane %s\n", CORVANE_VERSION);
            return 0;
        }
    }
    auto folder = corvane::AppPaths::appSupportDirectory();
    corvane::log("Corvane " CORVANE_VERSION " started; application folder " + folder.string());
    std::printf("Corvane %s\nApplication folder: %s\n", CORVANE_VERSION, folder.c_str());
    return 0;
}
