#!/usr/bin/env bash
# Logging in with pkcs11-tool: a good PIN, a wrong PIN, changing the user PIN,
# and the security officer setting a new user PIN (each login checked by
# drawing random bytes in the logged-in session).
source "$(dirname "$0")/common.sh"

run p11 --login --pin "$USER_PIN" --generate-random 16 --output-file random.bin

run_fails p11 --login --pin "$WRONG_PIN" --generate-random 16 --output-file random.bin
expect "CKR_PIN_INCORRECT"
# The wrong try was counted and a good PIN resets the counter.
run p11 --login --pin "$USER_PIN" --generate-random 16 --output-file random.bin

# pkcs11-tool leaves after --change-pin without C_Finalize: the provider's
# unload hook finalises, and the card library must still be whole then.
run p11 --change-pin --pin "$USER_PIN" --new-pin "$NEW_PIN"
expect "PIN successfully changed"
run p11 --login --pin "$NEW_PIN" --generate-random 16 --output-file random.bin
run_fails p11 --login --pin "$USER_PIN" --generate-random 16 --output-file random.bin
expect "CKR_PIN_INCORRECT"

# The security officer sets the user PIN back.
run p11 --login --login-type so --so-pin "$SO_PIN" --init-pin --new-pin "$USER_PIN"
run p11 --login --pin "$USER_PIN" --generate-random 16 --output-file random.bin
pass "login, wrong PIN, PIN change, PIN initialisation"
