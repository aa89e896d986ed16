// Cost of the generated layout code: pack, unpack and print of a small
// register (the one the statistics tool reads), a large one (a whole root of
// the adapter family) and the largest layout of all (the switch's PHY
// microcontroller state, 33376 bytes).
#include <benchmark/benchmark.h>

#include <stdio.h>

#include <cstring>
#include <memory>
#include <vector>

#include "tools_layouts/reg_access_hca_layouts.h"
#include "tools_layouts/switchen_layouts.h"

namespace {

template <typename Record>
struct Case {
    void (*pack)(const Record*, uint8_t*);
    void (*unpack)(Record*, const uint8_t*);
    void (*print)(const Record*, FILE*, int);
    unsigned (*size)();
};

template <typename Record>
void run_pack(benchmark::State& state, const Case<Record>& c)
{
    std::unique_ptr<Record> rec(new Record);
    std::memset(rec.get(), 0x5a, sizeof(Record));
    std::vector<uint8_t> image(c.size(), 0);
    for (auto _ : state) {
        c.pack(rec.get(), image.data());
        benchmark::DoNotOptimize(image.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * c.size());
}

template <typename Record>
void run_unpack(benchmark::State& state, const Case<Record>& c)
{
    std::unique_ptr<Record> rec(new Record);
    std::vector<uint8_t> image(c.size(), 0xa5);
    for (auto _ : state) {
        c.unpack(rec.get(), image.data());
        benchmark::DoNotOptimize(rec.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * c.size());
}

template <typename Record>
void run_print(benchmark::State& state, const Case<Record>& c)
{
    std::unique_ptr<Record> rec(new Record);
    std::memset(rec.get(), 0, sizeof(Record));
    FILE* sink = fopen("/dev/null", "w");
    if (sink == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    for (auto _ : state) {
        c.print(rec.get(), sink, 0);
    }
    fclose(sink);
}

const Case<reg_access_hca_nic_cap_ext_reg_ext> kNicCapExt{
    reg_access_hca_nic_cap_ext_reg_ext_pack, reg_access_hca_nic_cap_ext_reg_ext_unpack,
    reg_access_hca_nic_cap_ext_reg_ext_print, reg_access_hca_nic_cap_ext_reg_ext_size};
const Case<reg_access_hca_reg_access_hca_Nodes> kAdapterRoot{
    reg_access_hca_reg_access_hca_Nodes_pack, reg_access_hca_reg_access_hca_Nodes_unpack,
    reg_access_hca_reg_access_hca_Nodes_print, reg_access_hca_reg_access_hca_Nodes_size};
const Case<switchen_phy_uc_data_ports> kPhyState{switchen_phy_uc_data_ports_pack, switchen_phy_uc_data_ports_unpack,
                                                 switchen_phy_uc_data_ports_print, switchen_phy_uc_data_ports_size};

void BM_PackNicCapExt(benchmark::State& s) { run_pack(s, kNicCapExt); }
void BM_UnpackNicCapExt(benchmark::State& s) { run_unpack(s, kNicCapExt); }
void BM_PrintNicCapExt(benchmark::State& s) { run_print(s, kNicCapExt); }
void BM_PackAdapterRoot(benchmark::State& s) { run_pack(s, kAdapterRoot); }
void BM_UnpackAdapterRoot(benchmark::State& s) { run_unpack(s, kAdapterRoot); }
void BM_PrintAdapterRoot(benchmark::State& s) { run_print(s, kAdapterRoot); }
void BM_PackPhyState(benchmark::State& s) { run_pack(s, kPhyState); }
void BM_UnpackPhyState(benchmark::State& s) { run_unpack(s, kPhyState); }
void BM_PrintPhyState(benchmark::State& s) { run_print(s, kPhyState); }

}  // namespace

BENCHMARK(BM_PackNicCapExt);
BENCHMARK(BM_UnpackNicCapExt);
BENCHMARK(BM_PrintNicCapExt);
BENCHMARK(BM_PackAdapterRoot);
BENCHMARK(BM_UnpackAdapterRoot);
BENCHMARK(BM_PrintAdapterRoot);
BENCHMARK(BM_PackPhyState);
BENCHMARK(BM_UnpackPhyState);
BENCHMARK(BM_PrintPhyState);
