"""PyKCS11 against the provider.

road: the road of one request. A key pair is generated on the token in one
session; a second session opens, logs in, finds the private key by its label,
signs with CKM_SHA1_RSA_PKCS, verifies with the public key and closes.
aes: an AES-CBC encrypt/decrypt round trip with a generated session key.

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
    rw = PyKCS11.CKF_SERIAL_SESSION | PyKCS11.CKF_RW_SESSION
    setup = lib.openSession(slot, rw)
    setup.login(PIN)
    public_template = [
        (PyKCS11.CKA_CLASS, PyKCS11.CKO_PUBLIC_KEY),
        (PyKCS11.CKA_TOKEN, True),
        (PyKCS11.CKA_MODULUS_BITS, 2048),
        (PyKCS11.CKA_PUBLIC_EXPONENT, (0x01, 0x00, 0x01)),
        (PyKCS11.CKA_VERIFY, True),
        (PyKCS11.CKA_LABEL, "road key"),
        (PyKCS11.CKA_ID, (0x42,)),
    ]
    private_template = [
        (PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY),
        (PyKCS11.CKA_TOKEN, True),
        (PyKCS11.CKA_PRIVATE, True),
        (PyKCS11.CKA_SIGN, True),
        (PyKCS11.CKA_LABEL, "road key"),
        (PyKCS11.CKA_ID, (0x42,)),
    ]
    setup.generateKeyPair(public_template, private_template)
    setup.logout()
    setup.closeSession()

    # 1. open
    session = lib.openSession(slot, PyKCS11.CKF_SERIAL_SESSION)
    info = session.getSessionInfo()
    check(info.state == "CKS_RO_PUBLIC_SESSION", "a read-only public session")
    # Private keys stay hidden until the user logs in.
    hidden = session.findObjects([(PyKCS11.CKA_CLASS, PyKCS11.CKO_PRIVATE_KEY)])
    check(hidden == [], "no private key visible before login")
    # 2. login
    session.login(PIN)
    check(session.getSessionInfo().state == "CKS_RO_USER_FUNCTIONS", "logged in as user")
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


{"road": road, "aes": aes}[CASE]()
print("PASS:", CASE)
