/*
 * Translation of the statuses that hardware and firmware report into
 * m_err_code values, for the mailbox code of the access core.
 */
#ifndef KELVRA_ACCESS_STATUS_TABLES_H
#define KELVRA_ACCESS_STATUS_TABLES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Status byte of the ICMD control word (bits 15:8). */
int icmd_status_to_m_err(uint8_t icmd_status);
/* Status byte of the tools command interface (bits 31:24 of its control word). */
int tools_cmdif_status_to_m_err(uint8_t cmdif_status);
/* Status of the gearbox mailbox (bits 30:28 of its control word). */
int gearbox_status_to_m_err(uint32_t gearbox_status);

#ifdef __cplusplus
}
#endif

#endif
