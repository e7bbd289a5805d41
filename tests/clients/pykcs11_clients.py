"""PyKCS11 against the provider.

road: the road of one request over a key pair already on the token: a session
opens, logs in, finds the private key by its label, signs with
CKM_SHA1_RSA_PKCS, verifies with the public key and closes. The data and the
signature are left in road.txt and road.sig for OpenSSL to check.
aes: an AES-CBC encrypt/decrypt round trip with a generated session key.
aes_vector: AES-128-CBC with a created session key gives the known answer of
NIST SP 800-38A (F.2.1), and ECB agrees with it.

Usage: pykcs11_clients.py MODULE USER_PIN road|aes
"""
import sys

import PyKCS11
from PyKCS11 import LowLevel as LL

MODULE, PIN, CASE = sys.argv[1:4]


def check(condition, what):
    if not condition:
        raise SystemExit("check failed: " + what)
    print("ok:", what)


def expect_rv(rv, call, *args):
    try:
        call(*args)
    except PyKCS11.PyKCS11Error as e:
        check(e.value == rv, "%s fails with %s (got %s)" % (call.__name__, PyKCS11.CKR[rv], e))
        return
    raise SystemExit("check failed: %s should fail with %s" % (call.__name__, PyKCS11.CKR[rv]))


lib = PyKCS11.PyKCS11Lib()
lib.load(MODULE)
slots = lib.getSlotList(tokenPresent=True)
check(len(slots) == 1, "one slot with a token")
slot = slots[0]
print("token:", lib.getTokenInfo(slot).label.strip())


def road():
    # The key pair was imported into the token before (pykcs11.sh) with the
    # label "road key" and the id 0x42.
    # 1. open
    session = lib.openSession(slot, PyKCS11.CKF_SERIAL_SESSION)
    info = session.getSessionInfo()
    check(info.state == PyKCS11.CKS_RO_PUBLIC_SESSION, "a read-only public session")
    # Private keys stay hidden until the user logs in.
    hidden = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY)])
    check(hidden == [], "no private key visible before login")
    # 2. login
    session.login(PIN)
    check(session.getSessionInfo().state == PyKCS11.CKS_RO_USER_FUNCTIONS, "logged in as user")
    # 3. find the private key
    keys = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY),
                                (PyKCS11.CKA_LABEL, "road key")])
    check(len(keys) == 1, "the private key is found by class and label")
    private_key = keys[0]
    key_id = session.getAttributeValue(private_key, [PyKCS11.CKA_ID])[0]
    check(list(key_id) == [0x42], "the private key keeps its CKA_ID")
    publics = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY),
                                   (PyKCS11.CKA_ID, (0x42,))])
    check(len(publics) == 1, "the public key is found by its CKA_ID")
    modulus = session.getAttributeValue(publics[0], [PyKCS11.CKA_MODULUS])[0]
    check(len(modulus) == 256, "a 2048-bit modulus")
    # 4 and 5. sign
    data = b"road of one request"
    mechanism = PyKCS11.Mechanism(PyKCS11.CKM_SHA1_RSA_PKCS, None)
    signature = bytes(session.sign(private_key, data, mechanism))
    check(len(signature) == 256, "a 256-byte signature")
    with open("road.txt", "wb") as f:
        f.write(data)
    with open("road.sig", "wb") as f:
        f.write(signature)
    check(session.verify(publics[0], data, signature, mechanism), "the signature verifies")
    forged = bytes([signature[0] ^ 1]) + signature[1:]
    check(not session.verify(publics[0], data, forged, mechanism),
          "a changed signature does not verify")
    # 6. close
    session.logout()
    session.closeSession()
    expect_rv(PyKCS11.CKR_SESSION_HANDLE_INVALID, session.getSessionInfo)


def aes():
    session = lib.openSession(slot, PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION)
    session.login(PIN)
    template = [
        (PyKCS11.CKA_CLASS, PyKCS11.CKO_SECRET_KEY),
        (PyKCS11.CKA_KEY_TYPE, PyKCS11.CKK_AES),
        (PyKCS11.CKA_TOKEN, False),
        (PyKCS11.CKA_VALUE_LEN, 16),
        (PyKCS11.CKA_ENCRYPT, True),
        (PyKCS11.CKA_DECRYPT, True),
        (PyKCS11.CKA_LABEL, "session aes"),
    ]
    key = session.generateKey(template, PyKCS11.Mechanism(PyKCS11.CKM_AES_KEY_GEN, None))
    iv = bytes(range(16))
    mechanism = PyKCS11.Mechanism(PyKCS11.CKM_AES_CBC, iv)
    plain = b"sixteen byte blk" * 4
    cipher = bytes(session.encrypt(key, plain, mechanism))
    check(len(cipher) == len(plain), "the ciphertext has the length of the plaintext")
    check(cipher != plain, "the ciphertext differs from the plaintext")
    check(cipher[:16] != cipher[16:32], "CBC chains: equal blocks encrypt differently")
    back = bytes(session.decrypt(key, cipher, mechanism))
    check(back == plain, "decryption gives the plaintext back")
    other_iv = PyKCS11.Mechanism(PyKCS11.CKM_AES_CBC, bytes(16))
    check(bytes(session.decrypt(key, cipher, other_iv))[16:] == plain[16:],
          "another IV changes only the first block")
    # No padding mechanism: a partial block is refused (with CKR_KEY_SIZE_RANGE).
    expect_rv(PyKCS11.CKR_KEY_SIZE_RANGE, session.encrypt, key, b"not a block", mechanism)
    session.closeSession()
    # The session key went with its session.
    again = lib.openSession(slot, PyKCS11.CKF_SERIAL_SESSION)
    again.login(PIN)
    check(again.findObjects([(PyKCS11.CKA_LABEL, "session aes")]) == [],
          "the session key is gone with its session")
    again.closeSession()


def aes_vector():
    session = lib.openSession(slot, PyKCS11.CKF_SERIAL_SESSION)
    key = session.createObject([
        (PyKCS11.CKA_CLASS, PyKCS11.CKO_SECRET_KEY),
        (PyKCS11.CKA_KEY_TYPE, PyKCS11.CKK_AES),
        (PyKCS11.CKA_TOKEN, False),
        (PyKCS11.CKA_VALUE, bytes.fromhex("2b7e151628aed2a6abf7158809cf4f3c")),
        (PyKCS11.CKA_ENCRYPT, True),
        (PyKCS11.CKA_DECRYPT, True),
    ])
    iv = bytes.fromhex("000102030405060708090a0b0c0d0e0f")
    plain = bytes.fromhex("6bc1bee22e409f96e93d7e117393172a" "ae2d8a571e03ac9c9eb76fac45af8e51"
                          "30c81c46a35ce411e5fbc1191a0a52ef" "f69f2445df4f9b17ad2b417be66c3710")
    known = bytes.fromhex("7649abac8119b246cee98e9b12e9197d" "5086cb9b507219ee95db113a917678b2"
                          "73bed6b8e3c1743b7116e69e22229516" "3ff1caa1681fac09120eca307586e1a7")
    mechanism = PyKCS11.Mechanism(PyKCS11.CKM_AES_CBC, iv)
    check(bytes(session.encrypt(key, plain, mechanism)) == known, "AES-128-CBC known answer")
    check(bytes(session.decrypt(key, known, mechanism)) == plain, "AES-128-CBC decryption")
    # ECB over the same key: each block alone, so the first block equals the
    # CBC output of the first block XOR the IV fed in as plaintext.
    first = bytes(a ^ b for a, b in zip(plain[:16], iv))
    ecb = PyKCS11.Mechanism(PyKCS11.CKM_AES_ECB, None)
    check(bytes(session.encrypt(key, first, ecb)) == known[:16], "AES-128-ECB agrees with CBC")
    session.closeSession()


{"road": road, "aes": aes, "aes_vector": aes_vector}[CASE]()
print("PASS:", CASE)
