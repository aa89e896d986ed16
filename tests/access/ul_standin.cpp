#include "tests/access/ul_standin.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "access/mfile.h"

namespace access_test {
std::vector<std::string> ul_names;
int ul_scan_calls = 0;
}  // namespace access_test

using access_test::ul_names;

extern "C" int mdevices_v_ul(char* buf, int len, int mask, int all_funcs)
{
    (void)all_funcs;
    access_test::ul_scan_calls++;
    if (!((unsigned)mask & MDEVS_PCI)) {
        return 0;
    }
    int used = 0;
    for (const auto& n : ul_names) {
        if (used + (int)n.size() + 1 > len) {
            return -1;
        }
        memcpy(buf + used, n.c_str(), n.size() + 1);
        used += (int)n.size() + 1;
    }
    return (int)ul_names.size();
}

extern "C" dev_info* mdevices_info_v_ul(int mask, int* len, int all_funcs)
{
    (void)mask;
    (void)all_funcs;
    *len = 0;
    if (ul_names.empty()) {
        return nullptr;
    }
    dev_info* devs = (dev_info*)calloc(ul_names.size(), sizeof(dev_info));
    for (size_t i = 0; i < ul_names.size(); i++) {
        dev_info* d = &devs[i];
        unsigned dom = 0, bus = 0, dev = 0, func = 0;
        sscanf(ul_names[i].c_str(), "%x:%x:%x.%x", &dom, &bus, &dev, &func);
        d->type = MDEVS_PCI;
        d->ul_record = 1;
        d->domain = (uint16_t)dom;
        d->bus = (uint8_t)bus;
        d->dev = (uint8_t)dev;
        d->func = (uint8_t)func;
        snprintf(d->dev_name, sizeof d->dev_name, "%s", ul_names[i].c_str());
        snprintf(d->cr_dev, sizeof d->cr_dev, "%s", ul_names[i].c_str());
        snprintf(d->conf_dev, sizeof d->conf_dev, "/sys/bus/pci/devices/%s/config", ul_names[i].c_str());
        // An owned list, so that losing a record shows up as a leak.
        d->ib_devs = (char**)calloc(2, sizeof(char*));
        d->ib_devs[0] = strdup("qrv5_ul");
    }
    *len = (int)ul_names.size();
    return devs;
}
