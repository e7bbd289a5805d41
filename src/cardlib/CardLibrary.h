// The provider's binding to the card-access library loaded at start-up.
#ifndef QUILLON_CARDLIB_CARDLIBRARY_H
#define QUILLON_CARDLIB_CARDLIBRARY_H

#include "CardFunctions.h"

// The table the library filled; lives in the provider's own storage.
extern CardFunctions g_cardFunctions;

// The table as published to the session and object layers once start-up has
// filled it; null while no card-access library is bound.
CardFunctions* cardFunctions();
void publishCardFunctions(CardFunctions* table);

#endif
