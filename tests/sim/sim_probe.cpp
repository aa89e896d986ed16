/*
 * Helper command for the kelvra-sim tests, run inside the simulated host:
 *   kelvra-sim-probe dump DEVICE TYPE INDEX   the reply's size and words
 *   kelvra-sim-probe config DEVICE            the first configuration word
 */
#include "tests/sim/sim_client.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

int main(int argc, char** argv)
{
    if (argc == 5 && strcmp(argv[1], "dump") == 0) {
        unsigned char* data = nullptr;
        size_t size = 0;
        char err[256];
        if (kelvra_sim_resource_dump(nullptr, argv[2], (uint16_t)strtoul(argv[3], nullptr, 0),
                                     (uint32_t)strtoul(argv[4], nullptr, 0), &data, &size, err, sizeof err) != 0) {
            fprintf(stderr, "error: %s\n", err);
            return 1;
        }
        printf("size %zu\n", size);
        for (size_t i = 0; i + 4 <= size; i += 4) {
            uint32_t w;
            memcpy(&w, data + i, 4);
            printf("%08x\n", w);
        }
        free(data);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "config") == 0) {
        std::string path = std::string("/sys/bus/pci/devices/") + argv[2] + "/config";
        int fd = open(path.c_str(), O_RDONLY);
        uint32_t w = 0;
        if (fd < 0 || pread(fd, &w, 4, 0) != 4) {
            perror(path.c_str());
            return 1;
        }
        close(fd);
        printf("%08x\n", w);
        return 0;
    }
    fprintf(stderr, "usage: kelvra-sim-probe dump DEVICE TYPE INDEX | config DEVICE\n");
    return 2;
}
