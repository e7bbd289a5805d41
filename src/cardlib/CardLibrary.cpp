#include "CardLibrary.h"

CardFunctions g_cardFunctions = {};

namespace {
CardFunctions* s_published = nullptr;
}

CardFunctions* cardFunctions() {
    return s_published;
}

void publishCardFunctions(CardFunctions* table) {
    s_published = table;
}
