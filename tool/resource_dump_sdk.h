/*
 * kelvra's own declaration of the resource-dump SDK it loads from
 * /usr/lib64/tov/sdk (libresource_dump_sdk.so). The SDK is a closed platform
 * library; this header states only what the tool passes and reads back.
 * The records are laid out for the 64-bit host and cross the library
 * boundary by value, so their sizes are checked below.
 */
#ifndef KELVRA_TOOL_RESOURCE_DUMP_SDK_H
#define KELVRA_TOOL_RESOURCE_DUMP_SDK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Which device the SDK opens, by name. */
struct resource_dump_device {
    const char* device_name;
    uint16_t device_kind; /* the tool always passes 0xFFFF */
    uint8_t reserved[14];
};

/* One dump request: a segment type and its two object ranges. */
struct resource_dump_request {
    uint16_t segment_type;
    uint16_t reserved;
    uint32_t index1;
    uint32_t index2;
    uint16_t num_of_obj1;
    uint16_t num_of_obj2;
};

/* What create_resource_dump hands back; zero it before each request. */
struct resource_dump_result {
    uint64_t context; /* the SDK's own; the tool never reads it */
    uint8_t* data;
    uint32_t size;    /* bytes at data */
    uint32_t reserved;
};

/* Object count that asks for every object of a range. */
#define RESOURCE_DUMP_ALL_OBJECTS 0xFFFE
#define RESOURCE_DUMP_ANY_DEVICE_KIND 0xFFFF
#define RESOURCE_DUMP_DEFAULT_OPTIONS (-1)

/* 0 on success: result->data and result->size describe the dump. */
int create_resource_dump(struct resource_dump_device device, struct resource_dump_request request,
                         struct resource_dump_result* result, int options);
/* 0 on success: only data segments remain between result->data and size. */
int strip_control_segments(struct resource_dump_result* result);
/* Text of the last failure of the calling thread; never NULL. */
const char* get_resource_dump_error(void);
/* Frees what create made; a zeroed or failed result is accepted. */
void destroy_resource_dump(struct resource_dump_result result);

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
static_assert(sizeof(struct resource_dump_device) == 24, "device record is 24 bytes");
static_assert(sizeof(struct resource_dump_request) == 16, "request record is 16 bytes");
static_assert(sizeof(struct resource_dump_result) == 24, "result record is 24 bytes");
#else
_Static_assert(sizeof(struct resource_dump_device) == 24, "device record is 24 bytes");
_Static_assert(sizeof(struct resource_dump_request) == 16, "request record is 16 bytes");
_Static_assert(sizeof(struct resource_dump_result) == 24, "result record is 24 bytes");
#endif

#endif
