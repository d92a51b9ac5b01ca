// This library's own version-information block (tag, KEY=VALUE texts, extension area),
// generated when the build is configured. It lies in the library's data, where the
// version-block reader finds it in the library file.
#ifndef VQ_CONFIG_VERSION_INFO_H
#define VQ_CONFIG_VERSION_INFO_H

#include <cstddef>

extern "C" {

extern const char vq_version_info_block[];
extern const std::size_t vq_version_info_block_size;  // bytes, tag included

}  // extern "C"

#endif  // VQ_CONFIG_VERSION_INFO_H
