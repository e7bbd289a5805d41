#include "CCSPContainer.h"

#include <cstring>

#include "DirectoryCodec.h"
#include "Log.h"

CCSPContainer::CCSPContainer(CBufferedReader& reader) {
    dir::getShortText(reader, m_szContainerName, true);
    unsigned char byte = 0;
    if (dir::getU8(reader, byte)) m_ulContainerIndex = byte;
    if (dir::getU8(reader, byte)) m_bDefaultContainer = byte != 0 ? 1 : 0;
}

CCSPContainer::~CCSPContainer() = default;

CK_RV CCSPContainer::getAttributes(CAttributeVector& attributes) {
    CK_RV rv = CKR_OK;
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r = CKR_OK;
        switch (a->type) {
            case CKA_CONTAINER_NAME:
                // Absent reads as empty: the directory stores both as length 0.
                r = attr::replyText(a, m_szContainerName.get());
                break;
            case CKA_CONTAINER_INDEX:
                r = attr::replyUlong(a, m_ulContainerIndex);
                break;
            case CKA_CONTAINER_DEFAULT:
                // Answered as a CK_ULONG-sized buffer holding the mark in its first byte.
                if (!a->pValue) {
                    a->ulValueLen = sizeof(CK_ULONG);
                } else if (a->ulValueLen < sizeof(CK_ULONG) ||
                           a->ulValueLen == attr::kInvalidLength) {
                    r = attr::tooSmall(a);
                } else {
                    std::memset(a->pValue, 0, a->ulValueLen);
                    static_cast<unsigned char*>(a->pValue)[0] = m_bDefaultContainer;
                }
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

CK_RV CCSPContainer::setAttributes(CK_BBOOL, CAttributeVector& attributes) {
    CK_RV rv = CKR_OK;
    attr::walk(attributes, [&](CK_ATTRIBUTE* a) {
        CK_RV r;
        switch (a->type) {
            case CKA_CONTAINER_NAME:
                r = attr::takeText(a, m_szContainerName);
                break;
            case CKA_CONTAINER_INDEX:
                r = attr::takeUlong8(a, m_ulContainerIndex);
                break;
            case CKA_CONTAINER_DEFAULT:
                r = attr::takeByte(a, m_bDefaultContainer);
                if (r == CKR_OK) logMessage("Set CKA_CONTAINER_DEFAULT %x", m_bDefaultContainer);
                break;
            default:
                return attr::Step::Pass;
        }
        if (r != CKR_OK) rv = r;
        return attr::Step::Taken;
    });
    return rv;
}

bool CCSPContainer::match(CAttributeVector& attributes) {
    return attr::matchWalk(attributes, [&](const CK_ATTRIBUTE* a) -> int {
        switch (a->type) {
            case CKA_CONTAINER_NAME:
                return attr::matchText(a, m_szContainerName.get());
            case CKA_CONTAINER_INDEX:
                return attr::matchUlong(a, m_ulContainerIndex);
            case CKA_CONTAINER_DEFAULT:
                return attr::matchByte(a, m_bDefaultContainer);
            default:
                return -1;
        }
    });
}

bool CCSPContainer::isComplete() {
    return m_szContainerName != nullptr && m_ulContainerIndex != kNoContainerIndex;
}

void CCSPContainer::serialize(OrlBufferedWriter& writer) {
    dir::putShortText(writer, m_szContainerName.get());
    dir::putU8(writer, static_cast<unsigned>(m_ulContainerIndex));
    dir::putU8(writer, m_bDefaultContainer != 0 ? 1 : 0);
}

CK_RV CCSPContainer::write(OrlBufferedWriter& writer) {
    serialize(writer);
    return CKR_OK;
}
