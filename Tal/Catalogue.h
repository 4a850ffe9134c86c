// The text catalogue: every user-visible text that is not fixed in the code, numbered, loaded whole
// from "Data/Lingua/Velura.etf" at start-up. A different language is a different file with the same
// numbering. Texts are read only through Tal_GetCatalogueText, which is bounded: a number the loaded
// catalogue does not have gives "".
#pragma once

#include "Tal/TalBase.h"

#include <cstdio>

// The in-memory catalogue. All zero is the empty state (nothing loaded), so it may live in a zeroed
// record.
struct Tal_Catalogue {
    char** texts;        // count pointers into data
    ULONG count;         // N
    char* data;          // the unscrambled text data, size + 1 bytes, the last one always zero
    ULONG size;          // S
    ULONG* blockOffsets; // blockCount + 1 file offsets, none without blocks
    ULONG blockCount;    // B
    UBYTE* block;        // the one block in memory
    ULONG blockIndex;    // which block that is
    ULONG blockSum;      // its byte sum
    FILE* file;          // kept open while the catalogue has blocks
    ULONG loaded;
};

// Loads the process-wide catalogue: the name is resolved below the installation directory (".etf" is
// appended when its file part has no extension); the identification text must match the file's (letter
// case aside; "" accepts any). 1 on success; 0 when the file is missing, short, damaged or
// mis-identified, or a catalogue is already loaded (which then stays as it is).
ULONG Tal__LoadCatalogue(const char* name, const char* ident);

// Releases the process-wide catalogue; afterwards every text reads as "".
void Tal__FreeCatalogue();

// Text `number` of the process-wide catalogue, or "" when it has no such text. Never none.
const char* Tal_GetCatalogueText(ULONG number);

// The same on a given catalogue record, for the loader's callers that keep their own.
//
// Reads an already open file into `cat`; `name` is the file's name as opened (its own name, after the
// last "/" or "\", sizes the name field). The file is taken over: it is closed before returning, except
// after a successful load of a catalogue with blocks, which keeps it until Tal__ReleaseCatalogue. On
// failure `cat` is left exactly as it was.
ULONG Tal__ReadCatalogue(Tal_Catalogue* cat, FILE* file, const char* name, const char* ident);
void Tal__ReleaseCatalogue(Tal_Catalogue* cat);
const char* Tal__CatalogueText(const Tal_Catalogue* cat, ULONG number);
