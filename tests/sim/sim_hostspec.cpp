/*
 * Descriptions of simulated hosts: the named presets and the JSON form.
 */
#include "tests/sim/sim.h"

#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <json/json.h>

namespace kelvra_sim {

namespace {

bool hex_field(const std::string& text, size_t max_digits, unsigned* out)
{
    if (text.empty() || text.size() > max_digits) {
        return false;
    }
    *out = 0;
    for (char c : text) {
        if (!isxdigit((unsigned char)c)) {
            return false;
        }
        *out = *out * 16 + (unsigned)(isdigit((unsigned char)c) ? c - '0' : tolower((unsigned char)c) - 'a' + 10);
    }
    return true;
}

// [domain:]bus:device.function, hexadecimal digits only.
bool parse_exact(const std::string& text, unsigned* d, unsigned* b, unsigned* dev, unsigned* fn)
{
    size_t dot = text.rfind('.');
    size_t last = text.rfind(':');
    if (dot == std::string::npos || last == std::string::npos || last > dot) {
        return false;
    }
    size_t first = text.find(':');
    *d = 0;
    if (first != last && !hex_field(text.substr(0, first), 4, d)) {
        return false;
    }
    size_t bus_at = first == last ? 0 : first + 1;
    return hex_field(text.substr(bus_at, last - bus_at), 2, b) && hex_field(text.substr(last + 1, dot - last - 1), 2, dev) &&
           hex_field(text.substr(dot + 1), 1, fn);
}

std::string format_address(unsigned d, unsigned b, unsigned dev, unsigned fn)
{
    if (d > 0xFFFF || b > 0xFF || dev > 0x1F || fn > 7) {
        return "";
    }
    char out[16];
    snprintf(out, sizeof out, "%04x:%02x:%02x.%x", d, b, dev, fn);
    return out;
}

DpaSpec default_dpa()
{
    DpaSpec dpa;
    dpa.processes = {
        {0x1, "dpa_net_offload",
         {{0x100, "rx_poller", {10, 1000, 700, 1}}, {0x101, "tx_poller", {10, 2000, 1500, 3}}}},
        {0x2, "telemetry_agent1", {{0x200, "sampler", {5, 300, 120, 2}}}},
        {0x3, "idle", {}},
    };
    return dpa;
}

uint64_t number(const Json::Value& v, const char* key)
{
    if (v.isUInt64()) {
        return v.asUInt64();
    }
    if (v.isString()) {
        const std::string& s = v.asString();
        char* end = nullptr;
        errno = 0;
        unsigned long long n = strtoull(s.c_str(), &end, 0);
        if (!s.empty() && *end == '\0' && errno == 0) {
            return n;
        }
    }
    throw std::invalid_argument(std::string("not a number: ") + key);
}

template <typename T>
void take(const Json::Value& obj, const char* key, T& out)
{
    if (!obj.isMember(key)) {
        return;
    }
    uint64_t n = number(obj[key], key);
    if (n > (uint64_t)(T)~(T)0) {
        throw std::invalid_argument(std::string("out of range: ") + key);
    }
    out = (T)n;
}

void take(const Json::Value& obj, const char* key, bool& out)
{
    if (obj.isMember(key)) {
        if (!obj[key].isBool()) {
            throw std::invalid_argument(std::string("not a boolean: ") + key);
        }
        out = obj[key].asBool();
    }
}

void take(const Json::Value& obj, const char* key, std::string& out)
{
    if (obj.isMember(key)) {
        if (!obj[key].isString()) {
            throw std::invalid_argument(std::string("not a string: ") + key);
        }
        out = obj[key].asString();
    }
}

void take(const Json::Value& obj, const char* key, std::vector<std::string>& out)
{
    if (!obj.isMember(key)) {
        return;
    }
    if (!obj[key].isArray()) {
        throw std::invalid_argument(std::string("not an array: ") + key);
    }
    out.clear();
    for (const Json::Value& v : obj[key]) {
        if (!v.isString()) {
            throw std::invalid_argument(std::string("not a string in: ") + key);
        }
        out.push_back(v.asString());
    }
}

const Json::Value& object(const Json::Value& v, const char* what)
{
    if (!v.isObject()) {
        throw std::invalid_argument(std::string("not an object: ") + what);
    }
    return v;
}

DpaSpec parse_dpa(const Json::Value& j)
{
    object(j, "dpa");
    DpaSpec dpa;
    take(j, "process_perf_cnt", dpa.process_perf_cnt);
    take(j, "perf_sample_type", dpa.perf_sample_type);
    take(j, "max_num_dpa_eu", dpa.max_num_dpa_eu);
    take(j, "max_num_dpa_eug", dpa.max_num_dpa_eug);
    take(j, "max_num_dpa_eu_partition", dpa.max_num_dpa_eu_partition);
    take(j, "max_num_dpa_eu_per_group", dpa.max_num_dpa_eu_per_group);
    take(j, "max_num_partition_vhca_id", dpa.max_num_partition_vhca_id);
    for (const Json::Value& pj : j["processes"]) {
        object(pj, "process");
        DpaProcessSpec p;
        take(pj, "id", p.id);
        take(pj, "name", p.name);
        for (const Json::Value& tj : pj["threads"]) {
            object(tj, "thread");
            DpaThreadSpec t;
            take(tj, "id", t.id);
            take(tj, "name", t.name);
            if (tj.isMember("rate")) {
                const Json::Value& r = object(tj["rate"], "rate");
                take(r, "time_ticks", t.rate.time_ticks);
                take(r, "cycles", t.rate.cycles);
                take(r, "instructions", t.rate.instructions);
                take(r, "executions", t.rate.executions);
            }
            p.threads.push_back(t);
        }
        dpa.processes.push_back(p);
    }
    return dpa;
}

std::vector<uint8_t> hex_bytes(const std::string& hex, const char* key)
{
    if (hex.size() % 2) {
        throw std::invalid_argument(std::string(key) + ": hexadecimal bytes expected");
    }
    std::vector<uint8_t> out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        out.push_back((uint8_t)number(Json::Value("0x" + hex.substr(i, 2)), key));
    }
    return out;
}

std::vector<uint32_t> addresses(const Json::Value& obj, const char* key)
{
    std::vector<uint32_t> out;
    if (!obj.isMember(key)) {
        return out;
    }
    if (!obj[key].isArray()) {
        throw std::invalid_argument(std::string("not an array: ") + key);
    }
    for (const Json::Value& v : obj[key]) {
        uint64_t n = number(v, key);
        if (n > 0xFFFFFFFFu) {
            throw std::invalid_argument(std::string("out of range: ") + key);
        }
        out.push_back((uint32_t)n);
    }
    return out;
}

I2cSpec parse_i2c(const Json::Value& j)
{
    object(j, "i2c");
    I2cSpec i2c;
    i2c.primary_gateways = addresses(j, "primary_gateways");
    i2c.smbus_gateways = addresses(j, "smbus_gateways");
    if (j.isMember("targets")) {
        if (!j["targets"].isArray()) {
            throw std::invalid_argument("not an array: targets");
        }
        for (const Json::Value& t : j["targets"]) {
            object(t, "target");
            uint8_t address = 0;
            if (!t.isMember("address")) {
                throw std::invalid_argument("target without address");
            }
            take(t, "address", address);
            if (address > 0x7F) {
                throw std::invalid_argument("out of range: address");
            }
            I2cTargetSpec spec;
            take(t, "addr_width", spec.addr_width);
            if (spec.addr_width > 4) {
                throw std::invalid_argument("out of range: addr_width");
            }
            if (t.isMember("memory")) {
                std::string hex;
                take(t, "memory", hex);
                spec.memory = hex_bytes(hex, "memory");
            }
            i2c.targets[address] = spec;
        }
    }
    return i2c;
}

FunctionSpec parse_function(const Json::Value& j)
{
    object(j, "function");
    FunctionSpec f;
    take(j, "address", f.address);
    std::string normal = normalize_pci_address(f.address);
    if (normal.empty()) {
        throw std::invalid_argument("bad function address: " + f.address);
    }
    f.address = normal;
    take(j, "vendor_id", f.vendor_id);
    take(j, "device_id", f.device_id);
    take(j, "class", f.class_code);
    take(j, "revision", f.revision);
    take(j, "subsystem_vendor_id", f.subsystem_vendor_id);
    take(j, "subsystem_id", f.subsystem_id);
    take(j, "hw_id", f.hw_id);
    take(j, "hw_rev", f.hw_rev);
    take(j, "vsec", f.vsec);
    take(j, "vsec_offset", f.vsec_offset);
    take(j, "vsec_type", f.vsec_type);
    if (j.isMember("vsec_spaces")) {
        f.vsec_spaces = 0;
        for (const Json::Value& s : j["vsec_spaces"]) {
            uint64_t space = number(s, "vsec_spaces");
            if (space > 31) {
                throw std::invalid_argument("vsec_spaces: only spaces 0..31 can be listed");
            }
            f.vsec_spaces |= 1u << space;
        }
    }
    take(j, "legacy_ordered", f.legacy_ordered);
    take(j, "icmd", f.icmd);
    take(j, "icmd_max_size", f.icmd_max_size);
    if (j.isMember("cr_mailbox")) {
        const Json::Value& m = object(j["cr_mailbox"], "cr_mailbox");
        CrMailboxSpec c;
        take(m, "cmd_ptr_address", c.cmd_ptr_address);
        take(m, "cmd_ptr_bitlen", c.cmd_ptr_bitlen);
        take(m, "mailbox_address", c.mailbox_address);
        take(m, "version_address", c.version_address);
        take(m, "version_bit_offset", c.version_bit_offset);
        take(m, "version_bitlen", c.version_bitlen);
        take(m, "version", c.version);
        take(m, "semaphore_address", c.semaphore_address);
        take(m, "static_cfg_not_done_address", c.static_cfg_not_done_address);
        take(m, "static_cfg_not_done_offset", c.static_cfg_not_done_offset);
        f.cr_mailbox = c;
    }
    take(j, "tools_cmdif", f.tools_cmdif);
    take(j, "cmdif_cr_mailbox", f.cmdif_cr_mailbox);
    take(j, "numa_node", f.numa_node);
    take(j, "ib_devs", f.ib_devs);
    take(j, "net_devs", f.net_devs);
    take(j, "physfn", f.physfn);
    if (j.isMember("vpd")) {
        std::string hex;
        take(j, "vpd", hex);
        f.vpd = hex_bytes(hex, "vpd");
    }
    if (j.isMember("i2c")) {
        f.i2c = parse_i2c(j["i2c"]);
    }
    f.dpa.processes.clear();
    if (j.isMember("dpa")) {
        f.dpa = parse_dpa(j["dpa"]);
    }
    return f;
}

std::vector<uint8_t> default_vpd()
{
    // An identifier-string tag, then the end tag.
    std::string id = "KELVRA SIM ADAPTER";
    std::vector<uint8_t> vpd{0x82, (uint8_t)id.size(), 0x00};
    vpd.insert(vpd.end(), id.begin(), id.end());
    vpd.push_back(0x78);
    return vpd;
}

}  // namespace

std::string normalize_pci_address(const std::string& name)
{
    std::string text = name;
    const std::string sys = "/sys/bus/pci/devices/";
    const std::string proc = "/proc/bus/pci/";
    unsigned d = 0, b = 0, dev = 0, fn = 0;
    if (text.compare(0, sys.size(), sys) == 0) {
        text = text.substr(sys.size());
        text = text.substr(0, text.find('/'));
    } else if (text.compare(0, proc.size(), proc) == 0) {
        // /proc/bus/pci/dddd:bb/dd.f or /proc/bus/pci/bb/dd.f
        text = text.substr(proc.size());
        size_t slash = text.find('/');
        if (slash == std::string::npos) {
            return "";
        }
        text = text.substr(0, slash) + ":" + text.substr(slash + 1);
    } else if (text.compare(0, 8, "pciconf-") == 0) {
        text = text.substr(8);
    }
    if (!parse_exact(text, &d, &b, &dev, &fn)) {
        return "";
    }
    return format_address(d, b, dev, fn);
}

HostSpec host_preset(const std::string& name)
{
    HostSpec host;
    if (name == "default") {
        FunctionSpec f0;
        f0.ib_devs = {"qzhca0"};
        f0.net_devs = {"ens3f0np0"};
        f0.vpd = default_vpd();
        f0.dpa = default_dpa();
        FunctionSpec f1 = f0;
        f1.address = "0000:03:00.1";
        f1.ib_devs = {"qzhca1"};
        f1.net_devs = {"ens3f1np1"};
        f1.dpa.processes.clear();
        host.functions = {f0, f1};
    } else if (name == "legacy") {
        FunctionSpec f;
        f.address = "0000:05:00.0";
        f.device_id = 0x101D;
        f.hw_id = 0x82;  // has a device-information fixture with its CR mailbox
        f.vsec = false;
        f.cr_mailbox = CrMailboxSpec{};
        f.dpa = default_dpa();
        host.functions = {f};
    } else if (name == "cmdif") {
        FunctionSpec f;
        f.address = "0000:04:00.0";
        f.device_id = 0x1013;
        f.hw_id = 0x1F5;
        f.vsec = false;
        f.icmd = false;
        f.tools_cmdif = true;
        f.dpa = default_dpa();
        host.functions = {f};
    } else if (name == "sriov") {
        FunctionSpec pf;
        pf.ib_devs = {"qzhca0"};
        pf.net_devs = {"ens3f0np0"};
        pf.dpa = default_dpa();
        FunctionSpec aux;
        aux.address = "0000:03:00.1";
        aux.device_id = 0xC2D2;  // not a supported id: listed only as a channel
        aux.class_code = 0x020700;
        FunctionSpec vf1;
        vf1.address = "0000:03:00.2";
        vf1.physfn = pf.address;
        vf1.net_devs = {"ens3f0v0"};
        FunctionSpec vf2 = vf1;
        vf2.address = "0000:03:00.3";
        vf2.net_devs = {"ens3f0v1"};
        host.functions = {pf, aux, vf1, vf2};
    } else {
        throw std::invalid_argument("unknown host preset: " + name);
    }
    return host;
}

HostSpec host_from_json(const std::string& text)
{
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        throw std::invalid_argument("host description: " + errors);
    }
    object(root, "host description");
    if (!root["functions"].isArray() || root["functions"].empty()) {
        throw std::invalid_argument("host description: \"functions\" must be a non-empty array");
    }
    HostSpec host;
    for (const Json::Value& f : root["functions"]) {
        host.functions.push_back(parse_function(f));
    }
    return host;
}

HostSpec load_host(const std::string& name_or_path)
{
    if (name_or_path.find('/') == std::string::npos &&
        name_or_path.find(".json") == std::string::npos) {
        return host_preset(name_or_path);
    }
    std::ifstream in(name_or_path);
    if (!in) {
        throw std::invalid_argument("cannot read host description " + name_or_path);
    }
    std::stringstream ss;
    ss << in.rdbuf();
    return host_from_json(ss.str());
}

}  // namespace kelvra_sim
