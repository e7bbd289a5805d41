// Java's SunPKCS11 provider over Quillon: an AES key generated from its
// mechanism information (sizes in bytes), RSA key pairs of 1024 and 2048 bits,
// and signatures made on the token and verified by Java itself.
// Usage: java SunPkcs11Client.java CONFIG PIN
import java.security.KeyPair;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.Provider;
import java.security.Security;
import java.security.Signature;
import java.security.interfaces.RSAPublicKey;
import java.util.Arrays;
import javax.crypto.Cipher;
import javax.crypto.KeyGenerator;
import javax.crypto.SecretKey;

public class SunPkcs11Client {
    public static void main(String[] args) throws Exception {
        Provider p11 = Security.getProvider("SunPKCS11").configure(args[0]);
        Security.addProvider(p11);
        KeyStore keyStore = KeyStore.getInstance("PKCS11", p11);
        keyStore.load(null, args[1].toCharArray());

        KeyGenerator generator = KeyGenerator.getInstance("AES", p11);
        generator.init(128);
        SecretKey aes = generator.generateKey();
        byte[] plain = new byte[32];
        Arrays.fill(plain, (byte) 0x5A);
        Cipher cipher = Cipher.getInstance("AES/ECB/NoPadding", p11);
        cipher.init(Cipher.ENCRYPT_MODE, aes);
        byte[] encrypted = cipher.doFinal(plain);
        cipher.init(Cipher.DECRYPT_MODE, aes);
        if (!Arrays.equals(cipher.doFinal(encrypted), plain)) throw new AssertionError("AES");
        System.out.println("AES key of 128 bits generated, round trip OK");

        byte[] data = "signed through SunPKCS11".getBytes("UTF-8");
        for (int bits : new int[] {1024, 2048}) {
            KeyPairGenerator pairs = KeyPairGenerator.getInstance("RSA", p11);
            pairs.initialize(bits);
            KeyPair pair = pairs.generateKeyPair();
            int length = ((RSAPublicKey) pair.getPublic()).getModulus().bitLength();
            if (length != bits) throw new AssertionError("modulus of " + length + " bits");
            Signature signer = Signature.getInstance("SHA1withRSA", p11);
            signer.initSign(pair.getPrivate());
            signer.update(data);
            byte[] signature = signer.sign();
            // Verified by Java's own provider, not by the token.
            Signature verifier = Signature.getInstance("SHA1withRSA", "SunRsaSign");
            verifier.initVerify(pair.getPublic());
            verifier.update(data);
            if (!verifier.verify(signature)) throw new AssertionError("signature " + bits);
            System.out.println("RSA key pair of " + bits + " bits generated, signature verified");
        }
    }
}
