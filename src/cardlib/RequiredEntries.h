// Entries of the card-function table that the provider calls without
// checking them first: a library that leaves one of them null is refused at
// start-up rather than crashing the application later.
#ifndef QUILLON_CARDLIB_REQUIREDENTRIES_H
#define QUILLON_CARDLIB_REQUIREDENTRIES_H

#include <string>

#include "CardFunctions.h"

// The names of the required entries the table leaves null, separated by
// ", "; empty when none is missing.
std::string missingRequiredEntries(const CardFunctions& table);

#endif
