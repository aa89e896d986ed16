/*
 * The headers of the image families compiled as C after the system header
 * that makes major and minor function-like macros: the records keep those
 * field names.
 */
#include <string.h>
#include <sys/sysmacros.h>

#include "tools_layouts/oskfw_layouts.h"
#include "tools_layouts/tools_open_layouts.h"

void image_layouts_c_pack(uint8_t* module_image, uint8_t* header_image);

void image_layouts_c_pack(uint8_t* module_image, uint8_t* header_image)
{
    struct oskfw_module_version module;
    union tools_open_tlv_type type;
    struct tools_open_nv_hdr_fifth_gen header;

    memset(&module, 0, sizeof module);
    module.major = 0x123;
    module.minor = 0x456;
    module.branch = 0x78;
    oskfw_module_version_pack(&module, module_image);

    memset(&type, 0, sizeof type);
    memset(&header, 0, sizeof header);
    header.default_ = 1;
    header.type = type;
    tools_open_nv_hdr_fifth_gen_pack(&header, header_image);
}
