// Finding a help file in the user's language: the caller names the file by patterns
// in which %1 stands for the two-letter code of the operating system's language.
#ifndef VQ_UTILS_LOCALE_HELP_FILE_H
#define VQ_UTILS_LOCALE_HELP_FILE_H

extern "C" {

// For each pattern of the null-terminated list, in order: the pattern formatted with
// the language code (VCLANG, else the process locale; English when neither names a
// known language) and searched as a configuration file (LS_QualifyVellumFile kind 64,
// default accept callback). The first found wins: its length is returned and out holds
// its path, or, when it does not fit, out is left empty and the needed length is
// returned. 0 with an empty out when no pattern names an existing file (also for a null
// list). A null out or size 0 finds nothing.
unsigned LS_FindHelpFile(const char** names, char* out, unsigned size);

}  // extern "C"

#endif  // VQ_UTILS_LOCALE_HELP_FILE_H
