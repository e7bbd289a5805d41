// Placeholder until the object table lands: only the two calls the per-slot
// state makes. The real table replaces this file.
#ifndef QUILLON_OBJECTS_COBJECTTABLE_H
#define QUILLON_OBJECTS_COBJECTTABLE_H

class CObjectTable {
public:
    // Discards every private object and marks the table for reload.
    void removePrivateObjects() {}
    // Discards every token object (the card left the reader).
    void removeTokenObjects() {}
};

#endif
