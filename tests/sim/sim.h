/*
 * The simulated adapter: the device-side state of each PCI function of a
 * simulated host, driven by its front ends (the FUSE configuration file, the
 * control socket, later a TCP server). Test infrastructure only: nothing of
 * the product links it.
 *
 * Every Function guards its state with its own mutex, so one front-end
 * thread and the test thread may use it at once. Host-visible behaviour:
 *   - a 4 KiB PCI configuration space with the vendor-specific capability
 *     (id 9) gateway, or none, and the legacy gateway at 0x58/0x5C;
 *   - address spaces: 2 CR space, 3 ICMD, 10 ICMD semaphore, others storage;
 *   - the ICMD mailbox (in space 3, or in CR space at per-device addresses),
 *     the tools_cmdif HCR, and an access-register executor with a register
 *     table;
 *   - the DPA: processes, threads, cumulative counters, resource-dump lists.
 */
#ifndef KELVRA_TESTS_SIM_SIM_H
#define KELVRA_TESTS_SIM_SIM_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kelvra_sim {

// Address spaces of the vendor-specific gateway.
constexpr uint16_t kSpaceCr = 2;
constexpr uint16_t kSpaceIcmd = 3;
constexpr uint16_t kSpaceSemaphore = 10;

// Configuration space.
constexpr size_t kConfigSize = 4096;
constexpr size_t kConfigUnprivilegedSize = 64;  // what sysfs shows a non-root reader
constexpr uint32_t kLegacyAddrOffset = 0x58;
constexpr uint32_t kLegacyDataOffset = 0x5C;
constexpr uint32_t kLegacyOrderedMagic = 0xBADACCE5;

// CR space.
constexpr uint32_t kHwIdAddr = 0xF0014;
constexpr uint32_t kVq500CrOffset = 0x3000000;

// ICMD through the vendor-specific gateway (space 3; semaphore in space 10).
constexpr uint32_t kIcmdCtrlAddr = 0x0;
constexpr uint32_t kIcmdMaxSizeAddr = 0x1000;
constexpr uint32_t kIcmdSyndromeAddr = 0x1008;
constexpr uint32_t kIcmdMailboxAddr = 0x100000;
constexpr uint32_t kIcmdSemaphoreAddr = 0x0;
constexpr uint32_t kIcmdBusy = 1u << 0;
constexpr uint32_t kCrMailboxCtrlOffset = 0x3FC;
constexpr uint32_t kCrMailboxSyndromeOffset = 0x3F8;
constexpr size_t kCrMailboxSize = 832;

// ICMD opcodes and statuses (bits 15:8 of the control word).
constexpr uint16_t kOpcodeAccessRegister = 0x9001;
constexpr uint16_t kOpcodeAccessRegisterString = 0x9003;
constexpr uint8_t kIcmdOk = 0;
constexpr uint8_t kIcmdInvalidOpcode = 1;
constexpr uint8_t kIcmdBadParam = 4;

// tools_cmdif.
constexpr uint32_t kHcrAddr = 0x80780;  // seven words
constexpr uint32_t kHcrGo = 1u << 23;
constexpr uint32_t kFlashLockAddr = 0xF03BC;
constexpr uint32_t kCmdifCrMailboxAddr = 0xE0000;
constexpr size_t kCmdifMailboxSize = 288;
constexpr uint16_t kCmdifMailboxWrite = 0x70;
constexpr uint16_t kCmdifMailboxRead = 0x71;
constexpr uint16_t kCmdifAccessRegister = 0x3B;
constexpr uint8_t kCmdifOperationNotSupported = 2;

// The switch's tunnel register to a gearbox beside it (install_mddt_gearbox).
constexpr uint16_t kRegMddt = 0x9160;
constexpr size_t kMddtSize = 272;  // its big-endian wire image

// Registers of the DPA.
constexpr uint16_t kRegNicCapExt = 0xC011;
constexpr uint16_t kRegNicDpaPerfCtrl = 0xC014;
constexpr size_t kNicCapExtSize = 128;
// General information (MGIR) and NV configuration data (MNVDA).
constexpr uint16_t kRegMgir = 0x9020;
constexpr size_t kMgirSize = 160;
constexpr uint16_t kRegMcqs = 0x9060;
constexpr size_t kMcqsSize = 16;
constexpr uint16_t kRegMnvda = 0x9024;
constexpr size_t kMnvdaHeaderSize = 12;
constexpr size_t kMnvdaMaxData = 256;
constexpr size_t kNicDpaPerfCtrlSize = 64;
constexpr uint32_t kAllProcesses = 0xFFFFFFFF;
enum CountState : uint8_t { kUnchanged = 0, kActive = 1, kInactive = 2, kResetCounters = 3 };

// Resource-dump segment types and record formats.
constexpr uint16_t kSegProcesses = 0x5020;
constexpr uint16_t kSegThreads = 0x5021;
constexpr uint16_t kSegCounters = 0x5022;
constexpr size_t kProcessRecordSize = 40;
constexpr size_t kThreadRecordSize = 32;
constexpr size_t kCounterRecordSize = 48;
constexpr size_t kListHeaderSize = 32;     // process and thread segments
constexpr size_t kCounterHeaderSize = 24;  // counter segments
constexpr size_t kNameSize = 16;

struct Counters {
    uint64_t time_ticks = 0;
    uint64_t cycles = 0;
    uint64_t instructions = 0;
    uint64_t executions = 0;
    bool operator==(const Counters& o) const
    {
        return time_ticks == o.time_ticks && cycles == o.cycles && instructions == o.instructions &&
               executions == o.executions;
    }
};

struct DpaThreadSpec {
    uint32_t id = 0;
    std::string name;
    Counters rate{10, 1000, 700, 1};  // added per tick while counting is ACTIVE
};

struct DpaProcessSpec {
    uint32_t id = 0;
    std::string name;
    std::vector<DpaThreadSpec> threads;
};

// What NIC_CAP_EXT group 1 reports, and the DPA's processes.
struct DpaSpec {
    bool process_perf_cnt = true;
    uint8_t perf_sample_type = 1;  // bit 0 cumulative event, bit 1 event tracer
    uint16_t max_num_dpa_eu = 256;
    uint16_t max_num_dpa_eug = 32;
    uint16_t max_num_dpa_eu_partition = 16;
    uint16_t max_num_dpa_eu_per_group = 64;
    uint16_t max_num_partition_vhca_id = 8;  // 9 bits
    std::vector<DpaProcessSpec> processes;
};

// ICMD mailbox in CR space for a device without the vendor capability. The
// same numbers must stand in the device-information file the host reads
// ("qzcr_icmd_info"): the defaults are those of the test fixture of hardware
// id 0x82 (tests/fixtures/device_info/json/0x82.json), the id of the
// "legacy" preset.
struct CrMailboxSpec {
    uint32_t cmd_ptr_address = 0x3000;  // CR word holding the mailbox address
    uint32_t cmd_ptr_bitlen = 24;
    uint32_t mailbox_address = 0x4000;  // control word at +0x3FC, syndrome at +0x3F8
    uint32_t version_address = 0x300C;
    uint32_t version_bit_offset = 24;
    uint32_t version_bitlen = 8;
    uint32_t version = 1;
    uint32_t semaphore_address = 0x3004;  // read-to-take
    uint32_t static_cfg_not_done_address = 0x3008;
    uint32_t static_cfg_not_done_offset = 0;
};

// One device on the I2C bus behind the adapter's primary gateways. Bytes a
// transaction writes first set the target's register pointer (addr_width of
// them, most significant first); later written bytes store at the pointer,
// read bytes come from it, and the pointer advances past each byte (wrapping
// at the end of memory). A stop ends the transaction; the pointer stays.
struct I2cTargetSpec {
    unsigned addr_width = 1;  // register-address bytes the target takes, 0-4
    std::vector<uint8_t> memory = std::vector<uint8_t>(256);
};

// The adapter's I2C side: where its gateways sit in CR space and what answers
// on the bus. Empty by default: no gateway is modelled and those CR words are
// plain storage.
struct I2cSpec {
    std::vector<uint32_t> primary_gateways;  // CR addresses G of I2C primary gateways
    std::vector<uint32_t> smbus_gateways;    // CR addresses S of SMBus primary gateways
    std::map<uint8_t, I2cTargetSpec> targets;  // by 7-bit secondary address
};

struct FunctionSpec {
    std::string address = "0000:03:00.0";  // domain:bus:device.function
    uint16_t vendor_id = 0x15B3;
    uint16_t device_id = 0x1021;  // PCI device id
    uint32_t class_code = 0x020000;
    uint8_t revision = 0;
    uint16_t subsystem_vendor_id = 0x15B3;
    uint16_t subsystem_id = 0x0027;
    uint16_t hw_id = 0x218;  // CR word 0xF0014: hw_id | hw_rev << 16
    uint8_t hw_rev = 0;

    bool vsec = true;           // vendor-specific capability present
    uint8_t vsec_offset = 0xC0;  // where it sits in the capability chain
    uint8_t vsec_type = 0;       // bits 6-0 of header byte 3; non-zero: unusable
    uint32_t vsec_spaces = (1u << 1) | (1u << 2) | (1u << 3) | (1u << 4) | (1u << 5) | (1u << 6) |
                           (1u << 7) | (1u << 10) | (1u << 15);  // bit s: space s supported
    bool legacy_ordered = true;  // offset 0x58 reads back 0xBADACCE5

    bool icmd = true;  // ICMD in space 3 (with the vendor capability)
    uint32_t icmd_max_size = 832;
    std::optional<CrMailboxSpec> cr_mailbox;
    bool tools_cmdif = false;      // HCR at 0x80780 (hardware ids 0x1F5 / 0x1F7)
    bool cmdif_cr_mailbox = true;  // 288-byte mailbox mapped at CR 0xE0000

    std::string numa_node = "0";  // empty: no numa_node file
    std::vector<std::string> ib_devs;
    std::vector<std::string> net_devs;
    std::string physfn;        // address of the physical function of a virtual one
    std::vector<uint8_t> vpd;  // empty: no vpd file

    DpaSpec dpa;
    I2cSpec i2c;
};

struct HostSpec {
    std::vector<FunctionSpec> functions;
};

// Named hosts: "default", "legacy" (no vendor capability, CR mailbox),
// "cmdif" (hardware id 0x1F5 on the tools command interface), "sriov".
// Throws std::invalid_argument for another name.
HostSpec host_preset(const std::string& name);
// The JSON description documented in tests/sim/README.md; throws
// std::invalid_argument on malformed input.
HostSpec host_from_json(const std::string& text);
// A preset name, or the path of a JSON file.
HostSpec load_host(const std::string& name_or_path);

// BAR0 of a function (1 MiB): in its configuration header and `resource`.
uint64_t bar0_address(const FunctionSpec& spec);

// "0000:03:00.0" for "3:0.0", "0000:03:00.0", "pciconf-03:00.0" and the
// sysfs or procfs paths of a function; empty when the name is none of them.
std::string normalize_pci_address(const std::string& name);

struct DpaThread {
    uint32_t id = 0;
    std::string name;
    Counters counters;
    Counters rate;
};

struct DpaProcess {
    uint32_t id = 0;
    std::string name;
    bool counting = false;
    std::vector<DpaThread> threads;
    // The clock of a timed DPA (Knobs::dpa_ticks_per_ms): when counting was
    // last switched on, and the ticks the clock has added since.
    std::chrono::steady_clock::time_point counting_since{};
    uint64_t clock_ticks = 0;
};

// Faults of a rendered resource-dump reply.
enum class SegmentFault {
    kNone,
    kZeroLength,            // the segment's length word says 0
    kLengthBeyondData,      // the length reaches past the end of the data
    kRecordsBeyondSegment,  // the record count needs more room than the segment has
};

struct DumpKnobs {
    size_t records_per_segment = 0;  // 0: one segment for the whole list
    SegmentFault fault = SegmentFault::kNone;
    size_t fault_segment = 0;        // which segment carries the fault
    std::string fail_text;           // non-empty: the request fails with this text
};

struct Knobs {
    // Configuration file: dword offsets whose reads or writes fail with EIO.
    std::set<uint32_t> failing_config_reads;
    std::set<uint32_t> failing_config_writes;
    // Dword offsets whose whole-word (aligned 4-byte) reads fail with EIO,
    // while narrower reads of the same bytes pass.
    std::set<uint32_t> failing_config_word_reads;
    // Vendor-specific gateway.
    bool vsec_semaphore_stuck = false;  // a foreign owner that ignores releases
    int flag_delay = 0;                 // address-word reads before the flag moves; -1 never
    // ICMD.
    bool icmd_semaphore_stuck = false;
    int icmd_busy_delay = 0;  // control-word reads before busy clears; -1 never
    std::optional<uint8_t> icmd_status;  // forced status; the command is not run
    uint32_t icmd_syndrome = 0;          // syndrome word written with a forced status
    // tools_cmdif.
    int cmdif_go_delay = 0;  // HCR word-6 reads before go clears; -1 never
    std::optional<uint8_t> cmdif_status;
    bool flash_lock_stuck = false;
    // Access registers: forced register status per id (the handler is not run).
    std::map<uint16_t, uint8_t> register_status;
    // DPA: ticks added to counting threads by every access-register request.
    unsigned ticks_per_register_access = 1;
    // DPA: ticks per millisecond that counting threads also gain while their
    // process counts, as a real DPA's counters grow with time. 0 (the
    // default) keeps every number predictable: ticks come only from
    // register accesses and dpa_tick. Set it before counting is switched on.
    unsigned dpa_ticks_per_ms = 0;
    DumpKnobs dump;
    // I2C and SMBus gateways: status reads that still show busy after a
    // command (-1: busy for ever), and refusals (not acknowledged) a target
    // answers before it acknowledges again.
    int i2c_busy_delay = 0;
    int smbus_busy_delay = 0;
    std::map<uint8_t, unsigned> i2c_nacks;
};

struct RegisterAccess {
    uint16_t register_id;
    uint8_t method;
    uint8_t status;
};

// One step on the I2C bus as a gateway carried it.
struct I2cEvent {
    enum Kind { kWrite, kRead, kStop, kSmbusWrite, kSmbusRead, kSmbusWriteRead };
    Kind kind;
    uint32_t gateway;  // CR address of the gateway
    uint8_t secondary;
    std::vector<uint8_t> written;  // bytes that went to the target
    std::vector<uint8_t> read;     // bytes that came back
    bool acked;
    bool locked;  // SMBus: the lock bit was held during the transaction
};

struct Stats {
    unsigned long icmd_commands = 0;
    unsigned long cmdif_commands = 0;
    // Gateway transfers while nobody held the VSEC semaphore, ICMD commands
    // while nobody held the ICMD semaphore: a host that forgets its lock.
    unsigned long unguarded_gateway_transfers = 0;
    unsigned long unguarded_icmd_commands = 0;
    unsigned long config_reads = 0;
    unsigned long config_writes = 0;
    std::vector<RegisterAccess> register_log;
    std::vector<I2cEvent> i2c_log;
};

// Device side of the gateways (see sim_i2c.cpp).
struct I2cTarget {
    I2cTargetSpec spec;
    uint32_t pointer = 0;
    unsigned addr_received = 0;  // address bytes seen in this transaction
    uint32_t addr_acc = 0;
};
struct I2cPrimaryGateway {
    uint32_t status = 0;  // bits 31-29 busy (the command) until done, 18-16 phase status
    uint32_t pending = 0;  // status once the busy reads are over
    int countdown = 0;
    uint32_t data = 0;
    uint32_t enable = 0;  // bit 22: the gateway takes commands
};
struct SmbusGateway {
    uint32_t command = 0;  // last word written at S + 0 (bit 31: lock)
    int countdown = 0;     // status reads left showing busy
    uint32_t data[3] = {0, 0, 0};
    uint32_t read_data = 0;
    uint32_t ack = 0;  // bit 1: not acknowledged
};

// A hardware semaphore word. A read of a free word takes it and answers 0
// (the CR mailbox's and the flash lock's protocol: read_take); a non-zero
// write to a free word takes it for that ticket, and a read only shows the
// owner (the VSEC gateway's and the ICMD semaphore in space 10's protocol);
// a write of 0 frees it unless it is stuck.
struct HwSemaphore {
    uint32_t owner = 0;
    uint32_t read_take()
    {
        if (owner == 0) {
            owner = kTakenByRead;
            return 0;
        }
        return owner;
    }
    void write(uint32_t value, bool stuck)
    {
        if (value == 0) {
            if (!stuck) {
                owner = 0;
            }
        } else if (owner == 0) {
            owner = value;
        }
    }
    static constexpr uint32_t kTakenByRead = 1;
};

struct State;
// A register's behaviour: returns the register status and may rewrite the
// payload (the reply). Runs with the function's lock held.
using RegisterHandler = std::function<uint8_t(State&, uint8_t method, std::vector<uint8_t>& payload)>;
struct RegisterEntry {
    size_t size = 0;  // shortest payload accepted
    RegisterHandler handler;
};

struct State {
    FunctionSpec spec;
    std::array<uint8_t, kConfigSize> config{};

    // Vendor-specific gateway.
    uint32_t vsec_space_word = 0;  // low 16 bits: selected space; 31-29: support status
    uint32_t vsec_counter = 1;     // next ticket
    HwSemaphore vsec_semaphore;
    uint32_t vsec_address = 0;  // bits 29-0 of the last address word written
    bool vsec_flag = false;     // bit 31 of the address word as read
    bool vsec_write_pending = false;
    int vsec_flag_countdown = 0;  // reads left before a delayed transfer completes
    uint32_t vsec_data = 0;

    // Legacy gateway.
    uint32_t legacy_address = 0;
    uint32_t legacy_data = 0;

    // Address spaces: sparse 32-bit words; unsupported spaces read 0.
    std::map<uint16_t, std::map<uint32_t, uint32_t>> spaces;

    // ICMD (either mailbox).
    uint32_t icmd_ctrl = 0;
    uint32_t icmd_syndrome = 0;
    int icmd_countdown = 0;
    HwSemaphore icmd_semaphore;

    // tools_cmdif.
    std::array<uint32_t, 7> hcr{};
    int hcr_countdown = 0;
    std::array<uint8_t, kCmdifMailboxSize> cmdif_mailbox{};
    HwSemaphore flash_lock;

    std::map<uint16_t, RegisterEntry> registers;
    std::vector<DpaProcess> processes;

    // NV configuration: the data of each configuration type (MNVDA's type
    // word), as the last SET stored it.
    std::map<uint32_t, std::vector<uint8_t>> nv_config;

    // A gearbox behind the switch: its CR bytes and the MDDT wire image of
    // every tunnelled request that reached it (install_mddt_gearbox).
    std::map<uint32_t, uint8_t> gearbox_cr;
    std::vector<std::vector<uint8_t>> mddt_records;

    // I2C side.
    std::map<uint8_t, I2cTarget> i2c_targets;
    std::map<uint32_t, I2cPrimaryGateway> i2c_primaries;
    std::map<uint32_t, SmbusGateway> smbus_gateways;

    Knobs knobs;
    Stats stats;

    DpaProcess* find_process(uint32_t id);
    // Adds `ticks` ticks to every thread of every counting process.
    void dpa_tick(unsigned ticks);
    // Adds the ticks that the clock owes every counting process for the time
    // since its counting was switched on (nothing while dpa_ticks_per_ms is
    // 0). Run before counters are read or counting changes.
    void dpa_follow_clock();
    // Applies a NIC_DPA_PERF_CTRL count state to one process or to all;
    // false when the process does not exist.
    bool apply_count_state(uint32_t process_id, uint8_t count_state);
};

// Puts a gearbox behind the function's MDDT register: CR requests (kind 2)
// read and write State::gearbox_cr, register requests (kind 0) are answered
// with status 0 and their payload unchanged, commands (kind 1) with their
// data unchanged. Call it under the function's lock (with_state).
void install_mddt_gearbox(State& s);
// The mux (device), lane (slot) and kind of a recorded MDDT image.
uint8_t mddt_mux(const std::vector<uint8_t>& image);
uint8_t mddt_lane(const std::vector<uint8_t>& image);
uint8_t mddt_kind(const std::vector<uint8_t>& image);

// The host-visible result of one ICMD command run directly (remote front end).
struct IcmdResult {
    uint8_t status = 0;
    uint32_t syndrome = 0;
};

class Function {
public:
    explicit Function(const FunctionSpec& spec);
    Function(const Function&) = delete;
    Function& operator=(const Function&) = delete;

    const FunctionSpec& spec() const { return spec_; }
    const std::string& address() const { return spec_.address; }

    // The configuration file as sysfs serves it. Answers the byte count, 0
    // at the end, or a negative errno. Aligned 4-byte accesses drive the
    // gateways; other sizes read register values without side effects and
    // leave gateway words unwritten. An unprivileged reader sees 64 bytes.
    ssize_t config_read(uint64_t offset, uint8_t* buf, size_t len, bool privileged = true);
    ssize_t config_write(uint64_t offset, const uint8_t* buf, size_t len);

    // Device-internal word access in an address space (no gateway, no
    // semaphore): for seeding tests and for front ends that carry words.
    uint32_t space_read(uint16_t space, uint32_t address);
    void space_write(uint16_t space, uint32_t address, uint32_t value);
    bool space_supported(uint16_t space);

    // Runs one ICMD command on a mailbox image (big-endian bytes), in place.
    IcmdResult icmd_execute(uint16_t opcode, std::vector<uint8_t>& mailbox);

    // The bytes of one resource-dump request, or false with a message.
    bool resource_dump(uint16_t segment_type, uint32_t index1, std::vector<uint8_t>& out, std::string& error);

    void dpa_tick(unsigned ticks = 1);

    // Runs fn with the state under the function's lock: the way tests set
    // knobs, seed words, add registers and read statistics.
    template <typename Fn>
    auto with_state(Fn&& fn) -> decltype(fn(std::declval<State&>()))
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return fn(state_);
    }

private:
    FunctionSpec spec_;
    std::mutex mutex_;
    State state_;
};

class Host {
public:
    explicit Host(const HostSpec& spec);
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    size_t size() const { return functions_.size(); }
    Function& function(size_t index) { return *functions_.at(index); }
    // By any name form of normalize_pci_address; null when unknown.
    Function* find(const std::string& name);
    // Addresses of the virtual functions whose physical function this is.
    std::vector<std::string> virtual_functions(const std::string& address) const;

private:
    std::vector<std::unique_ptr<Function>> functions_;
};

// Renders a list in the resource-dump segment format (exposed for tests).
std::vector<uint8_t> render_segments(uint16_t segment_type, uint32_t index1, size_t header_size,
                                     size_t record_size, const std::vector<uint8_t>& records,
                                     const DumpKnobs& knobs);

}  // namespace kelvra_sim

#endif
