// encrypt_probe IN OUT: the document cipher over the bytes of IN, its base64 text into OUT,
// for decryption on another platform.
#include <fstream>
#include <iterator>
#include <string>

#include "cipher/cipher.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string plain((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    brimlet::DocumentCipher().EncryptTo({plain}, [&out](std::string_view chunk) {
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    });
    out.close();
    return in.bad() || !out ? 1 : 0;
}
