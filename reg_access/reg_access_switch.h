/*
 * Register functions of the switch registers whose records are switch
 * layouts (the switchen_ family), and the unpackers of the two registers
 * whose counter area is a union chosen by a selector field. Compiles as C
 * and as C++; included by reg_access/reg_access.h.
 *
 * The register functions follow the pattern of every register function:
 * the open handle, the method (1 GET, 2 SET) and the record; the result is
 * an m_err_code, 0 for success, 257 for any other method, 6 when the wire
 * buffer cannot be allocated, otherwise what maccess_reg returned. After a
 * failed exchange the record is read back from the buffer, which then holds
 * at least the packed request.
 */
#ifndef KELVRA_REG_ACCESS_REG_ACCESS_SWITCH_H
#define KELVRA_REG_ACCESS_REG_ACCESS_SWITCH_H

#include <stdint.h>

#include "access/mfile.h"
#include "tools_layouts/switchen_layouts.h"

#ifdef __cplusplus
extern "C" {
#endif

/* RITR (0x8002), 68 bytes. */
int reg_access_ritr(mFile* mf, uint32_t method, struct switchen_ritr* ritr);
/* RICNT (0x800B), 256 bytes. The counter area travels as the counter set
 * that counter_handle.counter_set_type names (9 minimal, 10 all_separated,
 * 11 mpls_separated, 12 ipv4_separated; any other value mpls_separated),
 * and the answer is read by switchen_ricnt_unpack_with_union. */
int reg_access_ricnt(mFile* mf, uint32_t method, struct switchen_ricnt* ricnt);
/* PPCNT (0x5008), 256 bytes. The counter area travels as the group that grp
 * names (0, 1, 2, 3, 5, 16, 17; any other value ib_port_counters), and the
 * answer is read by switchen_ppcnt_reg_unpack_with_union. */
int reg_access_ppcnt(mFile* mf, uint32_t method, struct switchen_ppcnt_reg* ppcnt);
/* SBPR (0xB001), 20 bytes. */
int reg_access_sbpr(mFile* mf, uint32_t method, struct switchen_sbpr* sbpr);
/* SBMM (0xB004), 40 bytes. */
int reg_access_sbmm(mFile* mf, uint32_t method, struct switchen_sbmm* sbmm);
/* SBCM (0xB002), 40 bytes. */
int reg_access_sbcm(mFile* mf, uint32_t method, struct switchen_sbcm* sbcm);
/* SBPM (0xB003), 40 bytes. */
int reg_access_sbpm(mFile* mf, uint32_t method, struct switchen_sbpm* sbpm);
/* MSGI (0x9021), 128 bytes. */
int reg_access_msgi(mFile* mf, uint32_t method, struct switchen_msgi* msgi);

/* Fill the record from a 256-byte image: the plain unpack, then the counter
 * area (from byte 8) again as the member that the selector names; for any
 * other selector value the counter area keeps the plain unpack's view. */
void switchen_ricnt_unpack_with_union(struct switchen_ricnt* ricnt, const uint8_t* buff);
void switchen_ppcnt_reg_unpack_with_union(struct switchen_ppcnt_reg* ppcnt, const uint8_t* buff);

#ifdef __cplusplus
}
#endif

#endif
