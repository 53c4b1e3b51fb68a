// Stores the port configuration file again and again, alternating two ports, until killed.
// scripts/measure.py kills it with SIGKILL in the middle of stores and checks that the file
// always reads back as one of the two ports. With --read it reads the file once instead.
#include <cstdio>
#include <string>

#include "app/port_file.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--read") {
        // One read, as Orvale does at start-up: prints the port and tidies what killed stores
        // left behind.
        std::printf("%s\n", orvale::app::PortFile(argv[2]).read().portText.c_str());
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: port_file_storer <quennet.ini> | --read <quennet.ini>\n");
        return 2;
    }
    orvale::app::PortFile file(argv[1]);
    for (unsigned long i = 0;; ++i) {
        if (!file.store(i % 2 == 0 ? "COM12" : "COM3")) {
            std::fprintf(stderr, "port_file_storer: store failed\n");
            return 1;
        }
    }
}
