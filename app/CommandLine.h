// The updater's command line: up to four fields, each between two '^'.
#pragma once

#include "platform/wintypes.h"

struct CommandFields {
    int nCount = 0;                   // fields found, at most 4
    bool bTooLong[4] = {};            // the field had more than 259 characters
    char szField[4][win::MAX_PATH] = {};  // each field, cut to 259 characters
};

// Cuts the fields out of the whole command line. Text before the first '^', an
// unterminated rest and anything after the fourth field are ignored. The search for a
// field's closing '^' starts at its second character, and the next field starts at the
// closing '^' of the one before, so "^^abc^" gives "^abc" and "abc".
CommandFields CutCommandFields(const char* commandLine);

// A field read as atoi reads it: blanks skipped, optional sign, digits up to the first
// non-digit; no digits give 0; values beyond the int range are clamped.
int ReadFieldNumber(const char* field);
