// The small-exponent signature forgery: with e = 3, a "signature" s whose cube
// is 00 01 <garbage> 00 <DigestInfo> can be computed without the private key.
// A verifier that skips over the padding bytes instead of checking them
// accepts it. Tests use this to prove that ours does not.
#ifndef QUILLON_TESTS_RSAFORGERY_H
#define QUILLON_TESTS_RSAFORGERY_H

#include <cryptopp/integer.h>

#include <cstddef>
#include <vector>

namespace forgery {

using CryptoPP::Integer;

inline Integer cubeRootFloor(const Integer& x) {
    Integer lo = Integer::Zero(), hi = Integer::Power2(x.BitCount() / 3 + 2);
    while (lo < hi) {
        Integer mid = (lo + hi + Integer::One()) >> 1;
        if (mid * mid * mid <= x)
            lo = mid;
        else
            hi = mid - Integer::One();
    }
    return lo;
}

// s with s^3 = a (mod 2^bits), for odd a (Hensel lifting, one bit at a time).
inline Integer cubeRootMod2k(const Integer& a, unsigned bits) {
    Integer s = Integer::One();
    for (unsigned i = 1; i < bits; ++i) {
        Integer mod = Integer::Power2(i + 1);
        if ((s * s * s) % mod != a % mod) s += Integer::Power2(i);
    }
    return s;
}

// A k-byte value s with s^3 < 2^(8(k-1)) whose k-byte encoding of s^3 reads
// 00 01 G 00 D, G free of zero bytes (so a lax parser finds D after the first
// 00). D's last byte must be odd. Empty when no such value was found.
inline std::vector<unsigned char> forgeCubeSignature(size_t k,
                                                     const std::vector<unsigned char>& d) {
    std::vector<unsigned char> suffix(1, 0x00);
    suffix.insert(suffix.end(), d.begin(), d.end());
    const unsigned bits = static_cast<unsigned>(8 * suffix.size());
    const Integer low = cubeRootMod2k(Integer(suffix.data(), suffix.size()), bits);
    const Integer unit = Integer::Power2(bits);
    // Aim the cube at 00 01 FF FF ...: the top bytes of s fix those of s^3.
    std::vector<unsigned char> target(k, 0xFF);
    target[0] = 0x00;
    target[1] = 0x01;
    Integer base = cubeRootFloor(Integer(target.data(), target.size()));
    base = (base / unit) * unit - unit;  // stay below the target while we search
    for (unsigned j = 0; j < 20000; ++j) {
        Integer s = base - Integer(static_cast<unsigned long>(j)) * unit + low;
        Integer cube = s * s * s;
        if (cube.ByteCount() != k - 1) continue;
        std::vector<unsigned char> block(k);
        cube.Encode(block.data(), k);
        if (block[1] != 0x01) continue;
        bool zeroInGarbage = false;
        for (size_t i = 2; i < k - suffix.size(); ++i) zeroInGarbage |= block[i] == 0;
        if (zeroInGarbage) continue;
        std::vector<unsigned char> sig(k);
        s.Encode(sig.data(), k);
        return sig;
    }
    return {};
}

}  // namespace forgery

#endif
