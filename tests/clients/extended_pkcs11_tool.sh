#!/usr/bin/env bash
# The extended mechanism set with OpenSC's pkcs11-tool and OpenSSL: the list,
# pkcs11-tool's own test run without an error, PSS signatures and OAEP
# ciphertexts checked by "openssl pkeyutl" with the key's PEM copy (and the
# other way round), and engine-pkcs11's pkeyutl signing with PSS padding.
# Without the key the list is exactly the classic 19.
source "$(dirname "$0")/extended_common.sh"

run p11 --list-mechanisms
for m in SHA256 SHA384 SHA512 SHA256-RSA-PKCS SHA256-RSA-PKCS-PSS RSA-PKCS-PSS RSA-PKCS-OAEP \
    AES-CBC-PAD; do
    grep -qE "^ *$m[ ,]" <<<"$LAST_OUTPUT" || { echo "not listed: $m"; exit 1; }
done
grep -qE '^ *RSA-X-509,.* sign' <<<"$LAST_OUTPUT" || { echo "raw RSA does not sign"; exit 1; }

# pkcs11-tool --test with the extended set: no error at all.
run p11 --test --login --pin "$USER_PIN"
expect "SHA256-RSA-PKCS: OK"
expect "RSA-PKCS-OAEP"
expect "No errors"
unexpected=$(grep -E 'ERR:|failed, returning|FAIL' <<<"$LAST_OUTPUT" || true)
[ -z "$unexpected" ] || { echo "pkcs11-tool --test reported:"; printf '%s\n' "$unexpected"; exit 1; }

# PSS made by the token, checked by OpenSSL; salt of one hash length.
printf 'signed with RSA-PSS on the token\n' >data.txt
openssl dgst -sha256 -binary data.txt >data.sha256
run p11_user --sign --id 07 -m SHA256-RSA-PKCS-PSS --mgf MGF1-SHA256 --salt-len 32 \
    -i data.txt -o data.pss
run openssl pkeyutl -verify -pubin -inkey tls.pub.pem -in data.sha256 -sigfile data.pss \
    -pkeyopt digest:sha256 -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:32
expect "Signature Verified Successfully"
# OpenSSL's PSS signature (salt of the largest length) verified by the token's public key.
run openssl pkeyutl -sign -inkey tls.pem -in data.sha256 -out openssl.pss -pkeyopt digest:sha256 \
    -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:max
run p11 --verify --id 07 -m RSA-PKCS-PSS --hash-algorithm SHA256 --mgf MGF1-SHA256 \
    --salt-len 222 -i data.sha256 --signature-file openssl.pss
expect "Signature is valid"
run p11 --verify --id 07 -m RSA-PKCS-PSS --hash-algorithm SHA256 --mgf MGF1-SHA256 \
    --salt-len 32 -i data.sha256 --signature-file openssl.pss || true
expect "Invalid signature"

# OAEP: OpenSSL encrypts with the public key, the token decrypts (the other
# way round is in pykcs11_extended.py: this pkcs11-tool encrypts with secret keys only).
printf 'a session key, say' >secret.txt
run openssl pkeyutl -encrypt -pubin -inkey tls.pub.pem -in secret.txt -out secret.oaep \
    -pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha256
run p11_user --decrypt --id 07 -m RSA-PKCS-OAEP --hash-algorithm SHA256 --mgf MGF1-SHA256 \
    -i secret.oaep -o secret.back
cmp secret.txt secret.back

# engine-pkcs11: pkeyutl with PSS padding signs on the token.
run env OPENSSL_CONF="$ENGINE_CONF" openssl pkeyutl -engine pkcs11 -keyform engine \
    -inkey "$KEY_URL" -sign -in data.sha256 -out engine.pss -pkeyopt digest:sha256 \
    -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:32
run openssl pkeyutl -verify -pubin -inkey tls.pub.pem -in data.sha256 -sigfile engine.pss \
    -pkeyopt digest:sha256 -pkeyopt rsa_padding_mode:pss -pkeyopt rsa_pss_saltlen:32
expect "Signature Verified Successfully"

# Without the key: exactly the classic list.
sed -i '/^mechanisms=/d' "$QUILLON_REGISTRY"
run p11 --list-mechanisms
count=$(sed -n '/^Supported mechanisms:/,$p' <<<"$LAST_OUTPUT" | grep -c '^  [^ ]' || true)
[ "$count" -eq 19 ] || { echo "classic list has $count mechanisms, not 19"; exit 1; }
expect_not "SHA256"
expect_not "PSS"
pass "pkcs11-tool and OpenSSL with the extended mechanisms"
