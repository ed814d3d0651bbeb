// Runs the private test Dovecot for the benchmark driver: prints its port and
// directory, then serves until its standard input closes.
#include <iostream>
#include <string>

#include "support/DovecotServer.h"

using namespace tarmig::testing;

int main(int argc, char** argv) {
    DovecotOptions options;
    for (int i = 1; i < argc; ++i) options.users.push_back({argv[i], "bench"});
    DovecotServer server(options);
    std::string error;
    if (!server.start(error)) {
        std::cerr << error << "\n";
        return 1;
    }
    std::cout << "port " << server.port() << " dir " << server.directory() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
