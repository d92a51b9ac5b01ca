// Option lists for crypto providers: parsed from a "key=value;key=value" text, and
// looked up by name the way providers do.
#ifndef VQ_SECURITY_VCCI_OPTIONS_H
#define VQ_SECURITY_VCCI_OPTIONS_H

#include "security/vcci_interface.h"

// Parses `text` into a new list, in text order, every option unused; the caller frees it
// with FreeVCCIOptions. 0 with the list (null for a null or empty text); otherwise the
// parse code of the key=value parser, no list, and *bad_key (when not null) a new copy
// of the key concerned (or null), which the caller frees with ut_free.
int ParseVCCIOptionString(const char* text, _a_vcci_user_option** options, char** bad_key);

// Frees a list, names and values included; nothing for null.
void FreeVCCIOptions(_a_vcci_user_option* options);

// The value of the first option named `name` (without regard to case), which is marked
// used; null when there is none.
const char* VCCIGetOption(_a_vcci_user_option* options, const char* name);

#endif  // VQ_SECURITY_VCCI_OPTIONS_H
