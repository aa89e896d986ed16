/*
 * The register functions other than the DPA ones: most follow the pattern
 * exactly and are listed in one table; the rest differ in the methods they
 * accept or in how much of the image travels, each said where it stands.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "access/access_register.h"
#include "reg_access/reg_access.h"
#include "reg_access/reg_access_common.h"

// Registers that follow the pattern exactly: function name, register id,
// layout of record and image.
#define REG_ACCESS_PATTERN_TABLE(X)                          \
    X(mteim, 0x9118, reg_access_hca_mteim_reg_ext)           \
    X(mtie, 0x911B, reg_access_hca_mtie_ext)                 \
    X(mtim, 0x911C, reg_access_hca_mtim_ext)                 \
    X(mtdc, 0x911D, reg_access_hca_mtdc_ext)                 \
    X(debug_cap, 0x8400, reg_access_hca_debug_cap)           \
    X(mtmp, 0x900A, reg_access_hca_mtmp_ext)                 \
    X(mtcap, 0x9009, reg_access_hca_mtcap_ext)               \
    X(mord, 0x9153, reg_access_hca_resource_dump_ext)        \
    X(mcam, 0x907F, reg_access_hca_mcam_reg_ext)             \
    X(dtor, 0xC00E, reg_access_hca_dtor_reg_ext)             \
    X(mrsi, 0x912A, reg_access_hca_mrsi_ext)                 \
    X(mirc, 0x9162, tools_open_mirc_reg)                     \
    X(mvts, 0x902C, tools_open_mvts)                         \
    X(mcdd, 0x905C, tools_open_mcdd_reg)                     \
    X(secure_host, 0x402D, tools_open_mlock)                 \
    X(mddt, 0x9160, reg_access_switch_mddt_reg_ext)          \
    X(mddq, 0x9161, reg_access_switch_mddq_ext)              \
    X(pcnr, 0x5050, reg_access_hca_pcnr_reg_ext)             \
    X(plib, 0x500A, reg_access_switch_plib_reg_ext)          \
    X(paos, 0x5006, reg_access_hca_paos_reg_ext)             \
    X(pmaos, 0x5012, reg_access_switch_pmaos_reg_ext)        \
    X(ptys, 0x5004, reg_access_hca_ptys_reg_ext)             \
    X(mcia, 0x9014, reg_access_hca_mcia_ext)                 \
    X(mtecr_ext, 0x9109, reg_access_retimer_mtecr_ext)       \
    X(pmlp, 0x5002, reg_access_hca_pmlp_reg_ext)             \
    X(icam, 0x387F, reg_access_switch_icam_reg_ext)          \
    X(icsr, 0x38F0, reg_access_switch_icsr_ext)              \
    X(mgpir, 0x9100, tools_mgpir)                            \
    X(mdfcr, 0x9101, tools_mdfcr)                            \
    X(mdrcr, 0x9102, tools_mdrcr)                            \
    X(mcda, 0x9063, reg_access_hca_mcda_reg_ext)             \
    X(mqis, 0x9064, reg_access_hca_mqis_reg_ext)             \
    X(mtrc_cap, 0x9040, reg_access_hca_mtrc_cap_reg_ext)     \
    X(mtrc_conf, 0x9041, reg_access_hca_mtrc_conf_reg_ext)   \
    X(mtrc_ctrl, 0x9043, reg_access_hca_mtrc_ctrl_reg_ext)   \
    X(mcc, 0x9062, reg_access_hca_mcc_reg_ext)               \
    X(mcqs_inner, 0x9060, reg_access_hca_mcqs_reg_ext)       \
    X(mcqi_inner, 0x9061, reg_access_hca_mcqi_reg_ext)       \
    X(mfbe, 0x9012, reg_access_hca_mfbe_reg_ext)             \
    X(mfpa, 0x9010, reg_access_hca_mfpa_reg_ext)             \
    X(mfpa_new, 0x9010, reg_access_hca_mfpa_reg_ext)         \
    X(mfsv, 0x9115, reg_access_hca_mfsv_reg_ext)             \
    X(mfrl, 0x9028, reg_access_hca_mfrl_reg_ext)             \
    X(mpcir, 0x905A, reg_access_hca_mpcir_ext)               \
    X(mfmc, 0x9013, reg_access_switch_mfmc_reg_ext)          \
    X(mtcq, 0x9065, reg_access_switch_mtcq_reg_ext)          \
    X(mdsr, 0x9110, reg_access_switch_mdsr_reg_ext)          \
    X(mkdc, 0x9066, reg_access_switch_mkdc_reg_ext)          \
    X(mrsr, 0x9023, reg_access_switch_mrsr_ext)              \
    X(pllp, 0x504A, reg_access_switch_pllp_reg_ext)          \
    X(ppcr, 0x504C, reg_access_switch_PPCR_ext)              \
    X(switch_pmlp, 0x5002, reg_access_switch_pmlp_reg_ext)   \
    X(pguid, 0x5066, reg_access_hca_pguid_reg_ext)

#define REG_ACCESS_DEFINE_PATTERN(name, id, X)                                             \
    extern "C" int reg_access_##name(mFile* mf, uint32_t method, struct X* reg)            \
    {                                                                                      \
        return reg_access::access_register(mf, method, reg, REG_ACCESS_LAYOUT((id), X));   \
    }

REG_ACCESS_PATTERN_TABLE(REG_ACCESS_DEFINE_PATTERN)

// Registers that accept one method only.
#define REG_ACCESS_ONE_METHOD_TABLE(X)                                  \
    X(mnvgc, 0x9034, reg_access_hca_mnvgc_reg_ext, ACCESS_METHOD_GET)   \
    X(mnvqc, 0x9030, reg_access_hca_mnvqc_reg_ext, ACCESS_METHOD_GET)   \
    X(mnvdi, 0x9025, reg_access_hca_mnvdi_reg_ext, ACCESS_METHOD_SET)   \
    X(mnvia, 0x9033, reg_access_hca_mnvia_reg_ext, ACCESS_METHOD_SET)   \
    X(mmdio, 0x9017, reg_access_hca_mmdio_ext, ACCESS_METHOD_SET)       \
    X(mfai, 0x9029, oskfw_register_mfai, ACCESS_METHOD_SET)

#define REG_ACCESS_DEFINE_ONE_METHOD(name, id, X, accepted)                                                     \
    extern "C" int reg_access_##name(mFile* mf, uint32_t method, struct X* reg)                                 \
    {                                                                                                           \
        return reg_access::access_register_one_method(mf, method, (accepted), reg, REG_ACCESS_LAYOUT((id), X),  \
                                                      nullptr);                                                 \
    }

REG_ACCESS_ONE_METHOD_TABLE(REG_ACCESS_DEFINE_ONE_METHOD)

namespace {

// The name-space registers hand the caller's register-status variable to the
// register call, which refuses a missing one with ME_BAD_PARAMS before
// anything is sent. It is refused the same way here: a local variable must
// not stand in for it and send the request after all.
int access_name_space_register(mFile* mf, uint32_t method, void* record, const reg_access::RegisterLayout& layout,
                               int* status)
{
    if (method != ACCESS_METHOD_GET) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    if (status == nullptr) {
        return ME_BAD_PARAMS;
    }
    return reg_access::access_register_one_method(mf, method, ACCESS_METHOD_GET, record, layout, status);
}

}  // namespace

extern "C" int reg_access_mnvgn(mFile* mf, uint32_t method, struct tools_open_mnvgn* mnvgn, int* status)
{
    return access_name_space_register(mf, method, mnvgn, REG_ACCESS_LAYOUT(0x9035, tools_open_mnvgn), status);
}

extern "C" int reg_access_mgnle(mFile* mf, uint32_t method, struct tools_open_mgnle* mgnle, int* status)
{
    return access_name_space_register(mf, method, mgnle, REG_ACCESS_LAYOUT(0x9036, tools_open_mgnle), status);
}

namespace {

// Size of the header that precedes the data of MNVDA and MFBA, and the most
// data their images hold.
constexpr uint32_t kDataHeaderSize = 12;
constexpr uint32_t kMaxDataLength = 256;

// A GET sends the header alone and takes the whole register back; a SET
// sends the whole register and takes the header back. A length beyond the
// image's data area would make the device exchange reach past the buffer,
// so it is refused before anything is sent. The length is read from the
// record only once the method is accepted: a refused call touches nothing.
template <typename Record>
int access_data_register(mFile* mf, uint32_t method, Record* record, const reg_access::RegisterLayout& layout,
                         uint32_t (*length_of)(const Record&))
{
    if (!reg_access::is_access_method(method)) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    const uint32_t length = length_of(*record);
    if (length > kMaxDataLength) {
        return ME_BAD_PARAMS;
    }
    const uint32_t payload = kDataHeaderSize + length;
    reg_access::Exchange exchange{payload, payload, payload, nullptr};
    if (method == ACCESS_METHOD_GET) {
        exchange.write = kDataHeaderSize;
    } else {
        exchange.read = kDataHeaderSize;
    }
    return reg_access::access_register_sized(mf, method, record, layout, exchange);
}

}  // namespace

extern "C" int reg_access_mnvda(mFile* mf, uint32_t method, struct tools_open_mnvda* mnvda)
{
    return access_data_register(mf, method, mnvda, REG_ACCESS_LAYOUT(0x9024, tools_open_mnvda),
                                +[](const tools_open_mnvda& r) -> uint32_t { return r.nv_hdr.length; });
}

extern "C" int reg_access_mfba(mFile* mf, uint32_t method, struct reg_access_hca_mfba_reg_ext* mfba)
{
    return access_data_register(mf, method, mfba, REG_ACCESS_LAYOUT(0x9011, reg_access_hca_mfba_reg_ext),
                                +[](const reg_access_hca_mfba_reg_ext& r) -> uint32_t { return r.size; });
}

namespace {

// MJTAG carries at most this many JTAG transactions, one byte each after the
// 4-byte header.
constexpr uint32_t kMaxJtagTransactions = 40;

}  // namespace

extern "C" int reg_access_mjtag(mFile* mf, uint32_t method, struct tools_mjtag* mjtag)
{
    if (!reg_access::is_access_method(method)) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    // A size beyond the image would make the device exchange reach past it.
    if (mjtag->size > kMaxJtagTransactions) {
        return ME_BAD_PARAMS;
    }
    const uint32_t payload = mjtag->size == 0 ? 8 : ((mjtag->size + 3u) / 4u) * 4u + 4u;
    return reg_access::access_register_sized(mf, method, mjtag, REG_ACCESS_LAYOUT(0x901F, tools_mjtag),
                                             reg_access::Exchange{payload, payload, payload, nullptr});
}

namespace {

// Runs the inner function, then dumps the answer when the variable is set,
// also after a failed read.
template <typename Record>
int with_answer_dump(int rc, const char* variable, const char* label, const Record* record,
                     void (*dump)(const Record*, FILE*))
{
    if (getenv(variable) != nullptr) {
        printf("%s\n", label);
        dump(record, stdout);
    }
    return rc;
}

}  // namespace

extern "C" int reg_access_mcqs(mFile* mf, uint32_t method, struct reg_access_hca_mcqs_reg_ext* mcqs)
{
    return with_answer_dump(reg_access_mcqs_inner(mf, method, mcqs), "MCQS_DEBUG", "-I- MCQS: Recieved data --", mcqs,
                            reg_access_hca_mcqs_reg_ext_dump);
}

extern "C" int reg_access_mcqi(mFile* mf, uint32_t method, struct reg_access_hca_mcqi_reg_ext* mcqi)
{
    return with_answer_dump(reg_access_mcqi_inner(mf, method, mcqi), "MCQI_DEBUG", "-I- MCQI: Recieved data --", mcqi,
                            reg_access_hca_mcqi_reg_ext_dump);
}

namespace {

constexpr uint32_t kStdbFixedSize = 8;

// Words of the answer the caller's array takes: the read_size / 4 words
// the request asks for (fewer when the caller declares a smaller array in
// string_db_data_len), never more than the data the image carries. Only
// this request counts: nothing a former call left in the record may bound
// it.
uint32_t answer_capacity(const reg_access_hca_mtrc_stdb_reg_ext& record, uint32_t data_size)
{
    uint32_t words = record.read_size / 4;
    if (record.string_db_data_len != 0 && record.string_db_data_len < words) {
        words = record.string_db_data_len;
    }
    return words < data_size / 4 ? words : data_size / 4;
}

}  // namespace

extern "C" int reg_access_mtrc_stdb(mFile* mf, uint32_t method, struct reg_access_hca_mtrc_stdb_reg_ext* mtrc_stdb,
                                    uint32_t data_size)
{
    if (!reg_access::is_access_method(method)) {
        return ME_REG_ACCESS_BAD_METHOD;
    }
    // The request and the answer both live in 8 + data_size bytes: asking for
    // more than that would read the caller's array and write the image past
    // their ends.
    if (mtrc_stdb->read_size > data_size || data_size > UINT32_MAX - kStdbFixedSize) {
        return ME_BAD_PARAMS;
    }
    const uint32_t size = kStdbFixedSize + data_size;
    // Worked on a copy: a failed exchange leaves the caller's record as it
    // was, and the answer is cut to the words the caller's array holds.
    reg_access_hca_mtrc_stdb_reg_ext work = *mtrc_stdb;
    work.string_db_data_len = answer_capacity(*mtrc_stdb, data_size);
    if (reg_access::has_device_type(mf, reg_access::kGpuDeviceType)) {
        reg_access::RegisterLayout layout = REG_ACCESS_LAYOUT(0x9042, reg_access_hca_mtrc_stdb_reg_ext);
        int rc = reg_access::access_register_sized(mf, method, &work, layout, reg_access::Exchange{size, 0, 0, nullptr});
        if (rc == ME_OK) {
            // The device answers over the record's bytes; the caller's array
            // stays the caller's.
            work.string_db_data = mtrc_stdb->string_db_data;
            work.string_db_data_len = mtrc_stdb->string_db_data_len;
            *mtrc_stdb = work;
        }
        return rc;
    }
    uint8_t* buff = static_cast<uint8_t*>(calloc(1, size));
    if (buff == nullptr) {
        return ME_MEM_ERROR;
    }
    reg_access_hca_mtrc_stdb_reg_ext_pack(&work, buff);
    int status = 0;
    int rc = maccess_reg(mf, 0x9042, static_cast<int>(method), buff, size, size, size, &status);
    if (rc == ME_OK) {
        reg_access_hca_mtrc_stdb_reg_ext_unpack(&work, buff);
        // The array's length stays the caller's: the room worked out for
        // this answer must not bound the next request on this record.
        work.string_db_data_len = mtrc_stdb->string_db_data_len;
        *mtrc_stdb = work;
    }
    free(buff);
    return rc;
}

namespace {

// The string database is read in pieces the register carries.
constexpr uint32_t kStdbChunk = 704;

}  // namespace

extern "C" int reg_access_mtrc_stdb_wrapper(mFile* mf, uint32_t total, uint8_t string_db_index, uint8_t* buffer)
{
    if (total % 64 != 0) {
        return ME_BAD_PARAMS;
    }
    // The offset moves on by the piece just read, never past the total: a
    // whole chunk added after the last piece of a total near 4 GiB would
    // wrap the 32-bit offset to the start and the read would never end.
    uint32_t n = 0;
    for (uint32_t offset = 0; offset < total; offset += n) {
        n = total - offset < kStdbChunk ? total - offset : kStdbChunk;
        uint32_t* words = static_cast<uint32_t*>(calloc(n / 4, sizeof(uint32_t)));
        if (words == nullptr) {
            fprintf(stderr, "Failed to allocate memory\n");
            return ME_MEM_ERROR;
        }
        reg_access_hca_mtrc_stdb_reg_ext record;
        memset(&record, 0, sizeof record);
        record.read_size = n;
        record.string_db_index = static_cast<uint8_t>(string_db_index & 0xF);
        record.start_offset = offset;
        record.string_db_data = words;
        record.string_db_data_len = n / 4;
        int rc = reg_access_mtrc_stdb(mf, ACCESS_METHOD_GET, &record, n);
        if (rc != ME_OK) {
            free(words);
            return rc;
        }
        memcpy(buffer + offset, words, n);
        free(words);
    }
    return ME_OK;
}

extern "C" int reg_access_mgir(mFile* mf, uint32_t method, struct reg_access_hca_mgir_ext* mgir)
{
    if (mf == nullptr) {
        return ME_UNSUPPORTED_DEVICE;
    }
    const reg_access::RegisterLayout layout = REG_ACCESS_LAYOUT(0x9020, reg_access_hca_mgir_ext);
    if (!reg_access::is_access_method(method) || !reg_access::has_device_type(mf, reg_access::kSwitchOsDeviceType)) {
        return reg_access::access_register(mf, method, mgir, layout);
    }
    // A switch's register service may carry less than the whole register.
    uint32_t size = layout.wire_size;
    const int max_size = mget_max_reg_size(mf, static_cast<int>(method));
    if (max_size >= 0 && static_cast<uint32_t>(max_size) < size) {
        size = static_cast<uint32_t>(max_size);
    }
    return reg_access::access_register_sized(mf, method, mgir, layout, reg_access::Exchange{size, size, size, nullptr});
}

extern "C" int reg_access_res_dump(mFile* mf, uint32_t method, struct reg_access_hca_resource_dump_ext* res_dump)
{
    if (getenv("DUMP_DEBUG") != nullptr) {
        reg_access_hca_resource_dump_ext_dump(res_dump, stdout);
    }
    return reg_access::access_register(mf, method, res_dump, REG_ACCESS_LAYOUT(0xC000, reg_access_hca_resource_dump_ext));
}
