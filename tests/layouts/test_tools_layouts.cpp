/*
 * The tools_ family: queue entries and their segments, completion and event
 * entries, router counters, cable firmware pages, the trace dump header and
 * four management registers. The images they pack to, the text they print,
 * and the bytes that their pack and unpack may touch.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/layouts/test_helpers.h"
#include "tools_layouts/tools_layouts.h"

namespace {

using layouts_test::Bytes;
using layouts_test::capture;
using layouts_test::zeroed_on_heap;

// The line print writes for a scalar field at level 0.
std::string line_of(const std::string& text, const std::string& name)
{
    std::string key = "\n" + name + " ";
    size_t at = text.find(key);
    if (at == std::string::npos) {
        return "<no line for " + name + ">";
    }
    return text.substr(at + 1, text.find('\n', at + 1) - at);
}

// ---------------------------------------------------------------------------
// Opcode names: one table, four fields of four layouts.

struct OpcodeUser {
    const char* layout;
    std::function<std::string(uint8_t)> print;  // prints the layout with that opcode
    std::string prefix;                         // TABs before the opcode line
};

std::vector<OpcodeUser> opcode_users()
{
    return {
        {"tools_ctrlsegment",
         [](uint8_t op) {
             auto rec = zeroed_on_heap<tools_ctrlsegment>();
             rec->opcode = op;
             rec->nop = 1;
             return capture([&](FILE* f) { tools_ctrlsegment_dump(rec.get(), f); });
         },
         ""},
        {"tools_qrvctrlsegment",
         [](uint8_t op) {
             auto rec = zeroed_on_heap<tools_qrvctrlsegment>();
             rec->opcode = op;
             return capture([&](FILE* f) { tools_qrvctrlsegment_dump(rec.get(), f); });
         },
         ""},
        {"tools_fcctrlsegment",
         [](uint8_t op) {
             auto rec = zeroed_on_heap<tools_fcctrlsegment>();
             rec->opcode = op;
             return capture([&](FILE* f) { tools_fcctrlsegment_dump(rec.get(), f); });
         },
         ""},
        {"tools_cqe (ctrl2)",
         [](uint8_t op) {
             auto rec = zeroed_on_heap<tools_cqe>();
             rec->ctrl2.opcode = op;
             return capture([&](FILE* f) { tools_cqe_dump(rec.get(), f); });
         },
         "\t"},
    };
}

TEST(ToolsOpcode, EveryUserPrintsTheOpcodeNames)
{
    const struct {
        uint8_t value;
        const char* text;
    } cases[] = {
        {0, "nop (0x0)"},          {1, "sendinv (0x1)"},          {14, "sendlso (0xe)"},
        {21, "multiatomftchadd (0x15)"}, {22, "unknown (0x16)"},  {23, "unknown (0x17)"},
        {24, "bindmemwin (0x18)"}, {29, "fastinitsend (0x1d)"}, {30, "unknown (0x1e)"},
        {31, "unknown (0x1f)"},
    };
    for (const OpcodeUser& user : opcode_users()) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(user.layout) + " opcode " + std::to_string(c.value));
            std::string text = user.print(c.value);
            std::string expected = "\n" + user.prefix + "opcode               : " + c.text + "\n";
            EXPECT_NE(text.find(expected), std::string::npos) << text;
        }
    }
}

TEST(ToolsOpcode, OpcodeNopAndTheNopBitPrintApart)
{
    auto rec = zeroed_on_heap<tools_ctrlsegment>();
    rec->nop = 1;
    std::string text = capture([&](FILE* f) { tools_ctrlsegment_dump(rec.get(), f); });
    EXPECT_EQ(line_of(text, "opcode"), "opcode               : nop (0x0)\n");
    EXPECT_EQ(line_of(text, "nop"), "nop                  : 0x1\n");
}

// ---------------------------------------------------------------------------
// Work-queue entries and segments.

TEST(ToolsWqe, ControlSegmentImage)
{
    auto rec = zeroed_on_heap<tools_ctrlsegment>();
    rec->opcode = 0x1d;
    rec->owner = 1;
    rec->ip_offset = 0x12;
    rec->vlan = 0xabcd;
    rec->ds = 0x3f;
    rec->src_remote_buffer = 0x123456;
    rec->so = 1;
    rec->fl = 1;
    rec->immorinv = 0xdeadbeef;
    Bytes image(16, 0);
    tools_ctrlsegment_pack(rec.get(), image.data());
    const Bytes expected{0x80, 0x00, 0x12, 0x1d, 0xab, 0xcd, 0x00, 0x3f,
                         0x12, 0x34, 0x56, 0x81, 0xde, 0xad, 0xbe, 0xef};
    EXPECT_EQ(image, expected);
}

TEST(ToolsWqe, LargeSendEntryIsTwentyBytes)
{
    EXPECT_EQ(tools_swqe_lso_size(), 20u);
    auto rec = zeroed_on_heap<tools_swqe_lso>();
    rec->mss = 0x1234;
    rec->lso_hdr_size = 0x3ff;
    rec->ctrl.opcode = 14;
    Bytes image(20, 0);
    tools_swqe_lso_pack(rec.get(), image.data());
    Bytes expected(20, 0);
    expected[3] = 0x0e;
    expected[0x10] = 0x12;
    expected[0x11] = 0x34;
    expected[0x12] = 0x03;
    expected[0x13] = 0xff;
    EXPECT_EQ(image, expected);
    std::string text = capture([&](FILE* f) { tools_swqe_lso_dump(rec.get(), f); });
    const std::string head =
        "======== tools_swqe_lso ========\nctrl:\n\t======== tools_ctrlsegment ========\n"
        "\topcode               : sendlso (0xe)\n";
    const std::string tail = "\n\timmorinv             : 0x00000000\nlso_hdr_size         : 0x3ff\nmss                  : 0x1234\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST(ToolsWqe, LocalInvalidateWritesOnlyItsKey)
{
    auto rec = zeroed_on_heap<tools_localinvalidatesegment>();
    rec->mem_key = 0x01020304;
    Bytes image(32, 0xa5);
    tools_localinvalidatesegment_pack(rec.get(), image.data());
    Bytes expected(32, 0xa5);
    expected[8] = 1;
    expected[9] = 2;
    expected[10] = 3;
    expected[11] = 4;
    EXPECT_EQ(image, expected);
}

TEST(ToolsWqe, EntryPlacesItsSegmentsAndPrintsTheMisspeltNames)
{
    auto rec = zeroed_on_heap<tools_swqe_remote_inline>();
    rec->remote_adresss.remotememoryhandle = 0x11223344;
    rec->in_line.is_inline = 1;
    rec->in_line.byte_count = 0x3ff;
    Bytes image(40, 0);
    tools_swqe_remote_inline_pack(rec.get(), image.data());
    Bytes expected(40, 0);
    const uint8_t handle[] = {0x11, 0x22, 0x33, 0x44};
    std::memcpy(expected.data() + 0x18, handle, 4);
    expected[0x20] = 0x80;
    expected[0x22] = 0x03;
    expected[0x23] = 0xff;
    EXPECT_EQ(image, expected);
    std::string text = capture([&](FILE* f) { tools_swqe_remote_inline_dump(rec.get(), f); });
    EXPECT_NE(text.find("\nremote_adresss:\n\t======== tools_remoteadresssegment ========\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nin_line:\n\t======== tools_in_line ========\n"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------
// The queue-entry union.

const char* const kArdellMembers[] = {
    "swqe_rd", "swqe_ud_eth_ps", "srwqe", "eqe", "cqe_fexch", "cqe_raweth", "cqe_udoib", "cqe_udoeth",
    "cqe", "ps", "swqe_lso", "swqe_fc_eth", "swqe_fc", "swqe_qrv_ps", "swqe_li", "swqe_fr", "swqe_bi",
    "swqe_ud_eth_inline", "swqe_ud_inline", "swqe", "in_line", "swqe_inline", "swqe_ps", "swqe_remote_inline",
    "swqe_remote_ps", "swqe_remote_atomic_ps", "swqe_remote_ex_atomic_ps", "swqe_qrv_inline", "swqe_ud_ps",
};

TEST(ToolsArdellWqe, PacksThroughItsLastLargestMemberOnly)
{
    EXPECT_EQ(tools_ardell_wqe_size(), 96u);
    std::unique_ptr<tools_ardell_wqe> rec(new tools_ardell_wqe);
    std::memset(rec.get(), 0xff, sizeof *rec);
    Bytes image(96, 0x5a);
    tools_ardell_wqe_pack(rec.get(), image.data());
    for (size_t i = 0x50; i < 96; ++i) {
        EXPECT_EQ(image[i], 0x5a) << "byte " << i;
    }
    // Exactly the bytes of tools_swqe_ud_ps, packed by it.
    Bytes direct(96, 0x5a);
    tools_swqe_ud_ps_pack(&rec->swqe_ud_ps, direct.data());
    EXPECT_EQ(image, direct);

    // Unpack reads nothing from bytes 0x50-0x5f.
    Bytes other = image;
    std::memset(other.data() + 0x50, 0x00, 0x10);
    auto a = zeroed_on_heap<tools_ardell_wqe>();
    auto b = zeroed_on_heap<tools_ardell_wqe>();
    tools_ardell_wqe_unpack(a.get(), image.data());
    tools_ardell_wqe_unpack(b.get(), other.data());
    EXPECT_EQ(std::memcmp(a.get(), b.get(), sizeof *a), 0);
    EXPECT_EQ(a->swqe_ud_ps.ps.lkey, 0xffffffffu);
}

TEST(ToolsArdellWqe, PrintShowsAllTwentyNineMembersOverOneRecord)
{
    Bytes image(96, 0);
    image[0x03] = 0x1d;  // ctrl.opcode
    image[0x1f] = 0x16;  // datagram.flow_label
    auto rec = zeroed_on_heap<tools_ardell_wqe>();
    tools_ardell_wqe_unpack(rec.get(), image.data());
    std::string text = capture([&](FILE* f) { tools_ardell_wqe_dump(rec.get(), f); });
    std::istringstream lines(text);
    std::string line;
    std::vector<std::string> members;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] != '\t' && line.back() == ':') {
            members.push_back(line.substr(0, line.size() - 1));
        }
    }
    ASSERT_EQ(members.size(), 29u) << text;
    for (size_t i = 0; i < members.size(); ++i) {
        EXPECT_EQ(members[i], kArdellMembers[i]);
    }
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "======== tools_ardell_wqe ========\n");
    EXPECT_NE(text.find("swqe_rd:\n\t======== tools_swqe_rd ========\n\tctrl:\n\t\t======== tools_ctrlsegment ========\n"
                        "\t\topcode               : fastinitsend (0x1d)\n"),
              std::string::npos);
    EXPECT_NE(text.find("\neqe:\n\t======== tools_eqe ========\n"), std::string::npos);
    EXPECT_NE(text.find("\nswqe_ud_ps:\n\t======== tools_swqe_ud_ps ========\n\tctrl:\n"), std::string::npos);
    EXPECT_NE(text.find("\t\tflow_label           : 0x16\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Completion and event entries.

TEST(ToolsCqe, CommonSegmentsImage)
{
    EXPECT_EQ(tools_commoncqesegment_size(), 4u);
    auto rec = zeroed_on_heap<tools_cqe_raweth>();
    rec->ctrl1.vlan = 3;
    rec->ctrl1.qpn = 0xabcdef;
    rec->raw_eth_status.res = 7;
    rec->raw_eth_status.enc = 3;
    rec->ctrl2.opcode = 0x1f;
    rec->ctrl2.time_stamp = 0xbeef;
    rec->ctrl2.owner = 1;
    Bytes image(32, 0);
    tools_cqe_raweth_pack(rec.get(), image.data());
    Bytes expected(32, 0);
    expected[0] = 0x60;
    expected[1] = 0xab;
    expected[2] = 0xcd;
    expected[3] = 0xef;
    expected[0x10] = 0xe0;
    expected[0x13] = 0x03;
    expected[0x1d] = 0xbe;
    expected[0x1e] = 0xef;
    expected[0x1f] = 0x9f;
    EXPECT_EQ(image, expected);
}

// ---------------------------------------------------------------------------
// Management registers.

TEST(ToolsMjtag, TransactionByteAndHeaderImage)
{
    EXPECT_EQ(tools_jtag_transaction_size(), 1u);
    tools_jtag_transaction t = {1, 1, 1};
    uint8_t byte = 0;
    tools_jtag_transaction_pack(&t, &byte);
    EXPECT_EQ(byte, 0x0b);
    // Bits 2 and 4 to 7 keep what the buffer held.
    tools_jtag_transaction none = {0, 0, 0};
    byte = 0xff;
    tools_jtag_transaction_pack(&none, &byte);
    EXPECT_EQ(byte, 0xf4);

    auto rec = zeroed_on_heap<tools_mjtag>();
    rec->size = 2;
    rec->sequence_number = 1;
    rec->cmd = 1;
    rec->jtag_transaction_set[0].tdo = 1;
    rec->jtag_transaction_set[39].tms = 1;
    Bytes image(44, 0);
    tools_mjtag_pack(rec.get(), image.data());
    Bytes expected(44, 0);
    expected[0] = 0x41;
    expected[3] = 0x02;
    expected[4] = 0x08;
    expected[0x2b] = 0x01;
    EXPECT_EQ(image, expected);

    auto back = zeroed_on_heap<tools_mjtag>();
    tools_mjtag_unpack(back.get(), image.data());
    EXPECT_EQ(std::memcmp(back.get(), rec.get(), sizeof *rec), 0);
}

TEST(ToolsMjtag, PrintsTransactionsAsNumberedNestedRecords)
{
    auto rec = zeroed_on_heap<tools_mjtag>();
    rec->jtag_transaction_set[7].tdi = 1;
    std::string text = capture([&](FILE* f) { tools_mjtag_print(rec.get(), f, 1); });
    EXPECT_NE(text.find("\n\tjtag_transaction_set_007:\n\t\t======== tools_jtag_transaction ========\n"
                        "\t\ttms                  : 0x0\n\t\ttdi                  : 0x1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n\tjtag_transaction_set_039:\n"), std::string::npos);
    EXPECT_EQ(text.find("jtag_transaction_set_040"), std::string::npos);
}

TEST(ToolsMiscReg, PacksThroughMgpir)
{
    auto rec = zeroed_on_heap<tools_misc_reg>();
    rec->mgpir.hw_info.device_type = 0xf;
    rec->mgpir.hw_info.num_of_devices = 0x80;
    Bytes image(256, 0xa5);
    tools_misc_reg_pack(rec.get(), image.data());
    Bytes expected(256, 0xa5);
    expected[0] = 0xaf;  // the reserved top nibble keeps the buffer's bits
    expected[1] = 0x00;
    expected[3] = 0x80;
    EXPECT_EQ(image, expected);
}

// ---------------------------------------------------------------------------
// Router counters and cable firmware pages.

TEST(ToolsRouterCounters, GlIsThreeBitsAndIngressFollowsEgress)
{
    auto rec = zeroed_on_heap<tools_router_counters>();
    rec->Egress.RICNT.gl = 7;
    rec->Egress.RICNT.opcode = 0xf;
    rec->Ingress.RICNT.counter_set.all_separated.mpls.discard_bytes_lo = 0x01020304;
    Bytes image(512, 0);
    tools_router_counters_pack(rec.get(), image.data());
    Bytes expected(512, 0);
    expected[0] = 0xf0;
    expected[1] = 0x07;
    // Ingress at 0x100, counter set at 0x08, mpls at 0xa0, discard_bytes_lo at 0x4c.
    const uint8_t word[] = {1, 2, 3, 4};
    std::memcpy(expected.data() + 0x100 + 0x08 + 0xa0 + 0x4c, word, 4);
    EXPECT_EQ(image, expected);
}

TEST(ToolsCableFw, FirstFieldAndModuleCommandAreLowBytesOfTheirWords)
{
    auto page = zeroed_on_heap<tools_cable_fw_upgrade_page>();
    page->identifier = 0x11;
    page->module_cmd = 0x22;
    auto legacy = zeroed_on_heap<tools_legacy_upgrade_page>();
    legacy->image_size_checksum = 0x33;
    legacy->module_cmd = 0x44;
    Bytes a(256, 0);
    Bytes b(256, 0);
    tools_cable_fw_upgrade_page_pack(page.get(), a.data());
    tools_legacy_upgrade_page_pack(legacy.get(), b.data());
    Bytes ea(256, 0);
    Bytes eb(256, 0);
    ea[0x83] = 0x11;
    ea[0xf3] = 0x22;
    eb[0x83] = 0x33;
    eb[0xf3] = 0x44;
    EXPECT_EQ(a, ea);
    EXPECT_EQ(b, eb);

    // The upgrade union packs through the image header.
    auto cable = zeroed_on_heap<tools_CableFwUpgrade>();
    cable->cable_fw_format.signature = 0x4d4c4e58;
    Bytes c(256, 0);
    tools_CableFwUpgrade_pack(cable.get(), c.data());
    EXPECT_EQ(c[0], 0x4d);
    EXPECT_EQ(c[3], 0x58);
}

// ---------------------------------------------------------------------------
// Trace dump header.

TEST(ToolsQrvtrace, ModeNamesPrintAsWrittenWithUnknownBeyond)
{
    const struct {
        uint8_t trc_mode;
        uint8_t mem_mode;
        const char* trc_line;
        const char* mem_line;
    } cases[] = {
        {0, 0, "trc_mode             : TRC_TRACE_MODE_FIFO (0x0)\n", "mem_mode             : TRC_MEM_ACCESS_OBGW_DEV (0x0)\n"},
        {3, 1, "trc_mode             : TRC_TRACE_MODE_UNKNOWN (0x3)\n", "mem_mode             :  TRC_MEM_ACCESS_UNKNOWN (0x1)\n"},
        {4, 2, "trc_mode             : unknown (0x4)\n", "mem_mode             : unknown (0x2)\n"},
        {15, 15, "trc_mode             : unknown (0xf)\n", "mem_mode             : unknown (0xf)\n"},
    };
    for (const auto& c : cases) {
        auto rec = zeroed_on_heap<tools_qrvtrace_dump_header>();
        rec->trc_mode = c.trc_mode;
        rec->mem_mode = c.mem_mode;
        std::string text = capture([&](FILE* f) { tools_qrvtrace_dump_header_dump(rec.get(), f); });
        EXPECT_EQ(line_of(text, "trc_mode"), c.trc_line);
        EXPECT_EQ(line_of(text, "mem_mode"), c.mem_line);
    }
}

TEST(ToolsQrvtrace, TextFieldsPackInOrderAndPrintAtTheLeftMargin)
{
    auto rec = zeroed_on_heap<tools_qrvtrace_dump_header_dynamic>();
    std::memcpy(rec->common_header.signature, "TRCE", 4);
    rec->common_header.ver_major = 2;
    std::memcpy(rec->events_mapping[255].hash, "last", 4);
    Bytes image(16448, 0);
    tools_qrvtrace_dump_header_dynamic_pack(rec.get(), image.data());
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "TRCE");
    EXPECT_EQ(image[0x13], 2);
    EXPECT_EQ(std::string(image.begin() + 0x4000, image.begin() + 0x4004), "last");

    // Unpack ends every text with a zero after its last character.
    std::memset(image.data() + 0x40, 'x', 64);
    auto back = zeroed_on_heap<tools_qrvtrace_dump_header_dynamic>();
    std::memset(back.get(), 0x7f, sizeof *back);
    tools_qrvtrace_dump_header_dynamic_unpack(back.get(), image.data());
    EXPECT_EQ(back->events_mapping[0].hash[64], '\0');
    EXPECT_EQ(back->common_header.signature[4], '\0');
    std::string text = capture([&](FILE* f) { tools_qrvtrace_dump_header_dynamic_print(back.get(), f, 1); });
    EXPECT_NE(text.find("\n\tcommon_header:\n\t\t======== tools_qrvtrace_dump_header ========\n"
                        "signature            : \"TRCE\"\n"),
              std::string::npos)
        << text.substr(0, 400);
    EXPECT_NE(text.find("\n\tevents_mapping_000:\n\t\t======== tools_event_hash ========\nhash                 : \"" +
                        std::string(64, 'x') + "\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n\tevents_mapping_255:\n\t\t======== tools_event_hash ========\nhash                 : \"last\"\n"),
              std::string::npos);
}

// Pack and unpack of the two 1 MiB unions touch only bytes 0x0000-0x403f.
struct BigUnion {
    const char* name;
    unsigned (*size)();
    size_t record_size;
    std::function<void(const void*, uint8_t*)> pack;
    std::function<void(void*, const uint8_t*)> unpack;
};

TEST(ToolsQrvtrace, MebibyteUnionsTouchOnlyTheDynamicHeader)
{
    const BigUnion unions[] = {
        {"tools_tools", tools_tools_size, sizeof(tools_tools),
         [](const void* r, uint8_t* b) { tools_tools_pack(static_cast<const tools_tools*>(r), b); },
         [](void* r, const uint8_t* b) { tools_tools_unpack(static_cast<tools_tools*>(r), b); }},
        {"tools_qrvtrace", tools_qrvtrace_size, sizeof(tools_qrvtrace),
         [](const void* r, uint8_t* b) { tools_qrvtrace_pack(static_cast<const tools_qrvtrace*>(r), b); },
         [](void* r, const uint8_t* b) { tools_qrvtrace_unpack(static_cast<tools_qrvtrace*>(r), b); }},
    };
    const size_t end = 0x4040;
    for (const BigUnion& u : unions) {
        SCOPED_TRACE(u.name);
        ASSERT_EQ(u.size(), 1048576u);
        std::vector<uint8_t> record(u.record_size, 0xff);
        Bytes image(u.size(), 0x5a);
        u.pack(record.data(), image.data());
        EXPECT_EQ(image[0], 0xff);
        EXPECT_EQ(image[end - 1], 0xff);
        size_t changed_beyond = 0;
        for (size_t i = end; i < image.size(); ++i) {
            changed_beyond += image[i] != 0x5a;
        }
        EXPECT_EQ(changed_beyond, 0u);

        Bytes other = image;
        std::memset(other.data() + end, 0x00, other.size() - end);
        std::vector<uint8_t> a(u.record_size, 0);
        std::vector<uint8_t> b(u.record_size, 0);
        u.unpack(a.data(), image.data());
        u.unpack(b.data(), other.data());
        EXPECT_EQ(a, b);
    }
}

// ---------------------------------------------------------------------------
// Every layout unpacks an image of all ones and prints it without reading
// or writing outside its record and image (the sanitized build watches).
// Records and images are on the heap at their exact sizes.

struct AnyLayout {
    const char* name;
    unsigned (*size)();
    size_t record_size;
    void (*unpack)(void*, const uint8_t*);
    void (*print)(const void*, FILE*, int);
};

#define TOOLS_LAYOUTS(X) \
    X(tools_ctrlsegment) \
    X(tools_qrvctrlsegment) \
    X(tools_fcctrlsegment) \
    X(tools_rgidsegment) \
    X(tools_datagramsegment) \
    X(tools_ethdatagramsegment) \
    X(tools_remoteadresssegment) \
    X(tools_fcdatagramsegment) \
    X(tools_fcethdatagramsegment) \
    X(tools_fcpinitsegment) \
    X(tools_atomicsegment) \
    X(tools_extendedatomicsegment) \
    X(tools_bindsegment) \
    X(tools_frwrsegment) \
    X(tools_localinvalidatesegment) \
    X(tools_in_line) \
    X(tools_pointersegment) \
    X(tools_swqe) \
    X(tools_swqe_lso) \
    X(tools_swqe_inline) \
    X(tools_swqe_ps) \
    X(tools_swqe_rd) \
    X(tools_swqe_remote_inline) \
    X(tools_swqe_remote_ps) \
    X(tools_swqe_remote_atomic_ps) \
    X(tools_swqe_remote_ex_atomic_ps) \
    X(tools_swqe_ud_inline) \
    X(tools_swqe_ud_ps) \
    X(tools_swqe_ud_eth_inline) \
    X(tools_swqe_ud_eth_ps) \
    X(tools_swqe_bi) \
    X(tools_swqe_fr) \
    X(tools_swqe_li) \
    X(tools_swqe_fc) \
    X(tools_swqe_fc_eth) \
    X(tools_swqe_qrv_inline) \
    X(tools_swqe_qrv_ps) \
    X(tools_ps) \
    X(tools_srwqe) \
    X(tools_commoncqesegment) \
    X(tools_commoncqelastsegment) \
    X(tools_ipoibstatussegment) \
    X(tools_cqe) \
    X(tools_cqe_fexch) \
    X(tools_cqe_raweth) \
    X(tools_cqe_udoeth) \
    X(tools_cqe_udoib) \
    X(tools_eqe) \
    X(tools_ardell_wqe) \
    X(tools_rif_counter_base_set) \
    X(tools_enhanced_counter_set) \
    X(tools_mixed_counter_set_1) \
    X(tools_mixed_counter_set_2) \
    X(tools_router_counter_sets) \
    X(tools_counter_index_set) \
    X(tools_ricnt) \
    X(tools_egress) \
    X(tools_ingress) \
    X(tools_router_counters) \
    X(tools_cable_fw_upgrade_page) \
    X(tools_legacy_upgrade_page) \
    X(tools_fw_upgrade_page) \
    X(tools_cable_fw_format) \
    X(tools_CableFwUpgrade) \
    X(tools_event_hash) \
    X(tools_qrvtrace_dump_header) \
    X(tools_qrvtrace_dump_header_dynamic) \
    X(tools_qrvtrace) \
    X(tools_jtag_transaction) \
    X(tools_mjtag) \
    X(tools_mgpir_hw_info) \
    X(tools_mgpir) \
    X(tools_mdfcr) \
    X(tools_mdrcr) \
    X(tools_misc_reg) \
    X(tools_tools)

#define TOOLS_LAYOUT_CASE(name)                                                                        \
    {#name, name##_size, sizeof(name), [](void* r, const uint8_t* b) { name##_unpack(static_cast<name*>(r), b); }, \
     [](const void* r, FILE* f, int n) { name##_print(static_cast<const name*>(r), f, n); }},

const AnyLayout kAllLayouts[] = {TOOLS_LAYOUTS(TOOLS_LAYOUT_CASE)};

TEST(ToolsAllLayouts, UnpackAndPrintAnImageOfAllOnes)
{
    EXPECT_EQ(sizeof kAllLayouts / sizeof kAllLayouts[0], 76u);
    for (const AnyLayout& l : kAllLayouts) {
        SCOPED_TRACE(l.name);
        std::unique_ptr<uint8_t[]> image(new uint8_t[l.size()]);
        std::memset(image.get(), 0xff, l.size());
        std::unique_ptr<uint8_t[]> record(new uint8_t[l.record_size]);
        std::memset(record.get(), 0, l.record_size);
        l.unpack(record.get(), image.get());
        std::string text = capture([&](FILE* f) { l.print(record.get(), f, 0); });
        EXPECT_EQ(text.substr(0, text.find('\n') + 1), std::string("======== ") + l.name + " ========\n");
    }
}

TEST(ToolsAllLayouts, AllOnesTextPrintsItsOwnCharactersOnly)
{
    Bytes image(64, 0xff);
    auto rec = zeroed_on_heap<tools_event_hash>();
    tools_event_hash_unpack(rec.get(), image.data());
    std::string text = capture([&](FILE* f) { tools_event_hash_dump(rec.get(), f); });
    EXPECT_EQ(text, "======== tools_event_hash ========\nhash                 : \"" + std::string(64, '\xff') + "\"\n");
}

}  // namespace
