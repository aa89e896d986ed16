/*
 * The adapters' PYX kernel driver as the access core speaks to it: request
 * codes, the records that travel with them (wire formats: sizes and offsets
 * are binding), and the operations that are nothing but wrappers around a
 * request. Both forms of the driver are here: the node-tree driver
 * (/dev/pyx/...) and the per-function driver (/dev/<address>_pyxconf, _pyxcr).
 * Compiles as C and as C++.
 */
#ifndef KELVRA_ACCESS_PYX_DRIVER_H
#define KELVRA_ACCESS_PYX_DRIVER_H

#include <stdint.h>

#include "access/mfile.h"

#ifdef __cplusplus
extern "C" {
#endif

/* node-tree driver, configuration node */
#define PYX_IOC_VERSION 0x8058D20CU
#define PYX_IOC_VSEC_INFO 0x8030D206U
#define PYX_IOC_READ4_OLD 0x8008D201U
#define PYX_IOC_WRITE4_OLD 0x4008D202U
#define PYX_IOC_READ4 0x800CD207U
#define PYX_IOC_WRITE4 0x400CD208U
#define PYX_IOC_READ4_BLOCK 0x810CD204U
#define PYX_IOC_READ4_BLOCK_OLD 0x8008D204U
#define PYX_IOC_WRITE4_BLOCK 0x410CD205U
#define PYX_IOC_VPD_READ4 0x8008D207U
#define PYX_IOC_VPD_WRITE4 0x4008D208U
#define PYX_IOC_CONF_DWORD 0x8008D20FU
#define PYX_IOC_MEM_ACCESS 0xC410D20AU
#define PYX_IOC_MEM_PROPS 0x8200D20BU
#define PYX_IOC_GET_DMA_PAGES 0x8090D20DU
#define PYX_IOC_RELEASE_DMA_PAGES 0x8090D20EU
/* node-tree driver, CR node */
#define PYX_IOC_CR_WINDOW 0x8010D102U
#define PYX_IOC_WA_FUNCTION 0x8004D103U
/* per-function driver */
#define PYXF_IOC_PARAMS 0x8028D001U
#define PYXF_IOC_FLUSH_FUNCTION 0x8004D501U
#define PYXF_IOC_READ4 0x800CD101U
#define PYXF_IOC_WRITE4 0x400CD102U
#define PYXF_IOC_READ4_BLOCK 0x810CD203U
#define PYXF_IOC_READ4_BLOCK_OLD 0x800CD203U
#define PYXF_IOC_WRITE4_BLOCK 0x410CD204U
#define PYXF_IOC_VPD_READ4 0x800CD601U

#define PYX_BLOCK_MAX 256
#define PYX_MEM_CHUNK 1024
#define PYX_DMA_MAX_PAGES 8
#define PYX_MEM_PROPS_SIZE 512
/* The work-around (flush) word of function index i lies at this + 4 i. */
#define PYX_FLUSH_BASE 0xF0384U

typedef struct pyx_word {
    uint32_t offset;
    uint32_t data;
} pyx_word;

typedef struct pyx_space_word {
    uint32_t space;
    uint32_t offset;
    uint32_t data;
} pyx_space_word;

typedef struct pyx_block {
    uint32_t space;
    uint32_t offset;
    uint32_t size;
    uint8_t data[PYX_BLOCK_MAX];
} pyx_block;

typedef struct pyx_version {
    uint16_t struct_id;   /* 1 */
    uint16_t access_type; /* 16 */
    uint16_t version;     /* 1 */
    uint16_t reserved0;
    uint32_t reserved1;   /* 0 */
    uint32_t payload_len; /* 72 */
    uint16_t answer;      /* 1 from a current driver */
    uint16_t reserved2;
    uint32_t driver_version;
    uint8_t reserved3[64];
} pyx_version;

typedef struct pyx_vsec_info {
    uint8_t reserved[36];
    uint32_t vsec_supported;
    uint32_t space_support;
    uint32_t reserved1;
} pyx_vsec_info;

typedef struct pyx_mem_access {
    uint32_t mem_type;
    uint32_t write;
    uint32_t offset;
    uint32_t size;
    uint8_t data[PYX_MEM_CHUNK];
} pyx_mem_access;

typedef struct pyx_dma_page {
    uint64_t driver_addr;
    uint64_t user_addr;
} pyx_dma_page;

/* The caller's record of get_dma_pages. */
typedef struct page_info_st {
    uint32_t page_amount;
    uint32_t reserved;
    uint64_t page_pointer_start;
    pyx_dma_page page_addresses_array[PYX_DMA_MAX_PAGES];
} page_info_st;

typedef struct pyx_cr_window {
    uint64_t reserved;
    uint64_t length;
} pyx_cr_window;

typedef struct pyx_device_params {
    uint8_t reserved[36];
    uint32_t vsec_supported;
} pyx_device_params;

/* Memory properties of the driver (the first fields of its 512-byte record). */
typedef struct mem_props {
    uint64_t mem_addr;
    uint32_t mem_size;
} mem_props;

/* per-function driver */
int qzcr_driver_mread4(mFile* mf, unsigned int offset, uint32_t* value);
int qzcr_driver_mwrite4(mFile* mf, unsigned int offset, uint32_t value);
int qzcr_driver_cr_mread4(mFile* mf, unsigned int offset, uint32_t* value);
int qzcr_driver_cr_mwrite4(mFile* mf, unsigned int offset, uint32_t value);
int pyx_driver_varda_flush(mFile* mf);
int driver_mread4_block(mFile* mf, unsigned int offset, uint32_t* data, int length);
int driver_mwrite4_block(mFile* mf, unsigned int offset, uint32_t* data, int length);
int driver_mread_chunk_as_multi_mread4(mFile* mf, unsigned int offset, uint32_t* data, int length);
int driver_mwrite_chunk_as_multi_mwrite4(mFile* mf, unsigned int offset, uint32_t* data, int length);
int qzcr_driver_mclose(mFile* mf);
int pyx_driver_vpd_read4(mFile* mf, unsigned int offset, uint32_t* value);

/* node-tree driver */
int qzcr_memaccess(mFile* mf, unsigned int offset, unsigned int size, uint8_t* data, int rw, int mem_type);
void init_mem_ops(mFile* mf);
int get_mem_props(mFile* mf, int index, mem_props* props);
void close_mem_ops(mFile* mf);
int mvpd_read4_int(mFile* mf, unsigned int offset, uint32_t* value);
int mvpd_write4(mFile* mf, unsigned int offset, uint32_t* value);
int read_dword_from_conf_space(mFile* mf, uint32_t offset, uint32_t* data);
int get_dma_pages(mFile* mf, page_info_st* page_info, int page_amount);
int release_dma_pages(mFile* mf, int page_amount);

#ifdef __cplusplus
}
#endif

#endif
